#!/usr/bin/python3
"""One censor mode, seen from tv-client: a fixed set of probes, each with the
outcome the mode must give, so a mode that cuts too much fails as surely as
one that cuts too little.

    censor_check.py MODE...   (run as: in-lab.sh --censor MODE... -- censor_check.py MODE...)
    censor_check.py cli       (argument handling of lab.sh censor)
"""
import concurrent.futures
import socket
import sys
import unittest

from labcheck import after_hello, connect, dns_query, lab, resolve

MODES = sys.argv[1:]
del sys.argv[1:]


def addr(name):
    a = resolve(name)
    assert isinstance(a, str), name
    return a


def tls(target, sni):
    """ok | reset | silence (hello swallowed) | timeout (no TCP) | refused."""
    ip = target if target[0].isdigit() else addr(target)
    try:
        connect(ip, timeout=1.0).close()
    except socket.timeout:
        return "timeout"
    except ConnectionRefusedError:
        return "refused"
    got = after_hello(ip, sni, wait=1.0)
    return {"data": "ok", "silence": "silence", "reset": "reset", "eof": "eof"}[got]


def udp53(server):
    reply, _ = dns_query(server, "example.com", timeout=1.0)
    return "ok" if reply else "silence"


def sysdns(name):
    return "ok" if isinstance(resolve(name), str) else "fail"


def http80(name):
    try:
        s = connect(addr(name), 80, timeout=1.0)
    except socket.timeout:
        return "timeout"
    with s:
        s.settimeout(2.0)
        s.sendall(b"GET /json/?fields=status,query,isp,org,as,city,country HTTP/1.1\r\n"
                  b"Host: ip-api.com\r\nConnection: close\r\n\r\n")
        return "ok" if s.recv(100).startswith(b"HTTP/1.1 200") else "bad"


# name: (probe, args)
PROBES = {
    "ya.ru": (tls, "ya.ru", "ya.ru"),                        # domestic, matrix address
    "max.ru": (tls, "max.ru", "max.ru"),                     # domestic, lab range
    "google": (tls, "google.com", "google.com"),             # foreign, blocked name
    "google-addr/ya.ru": (tls, "google.com", "ya.ru"),       # foreign address, allowed name
    "ya.ru-addr/google": (tls, "ya.ru", "google.com"),       # domestic address, blocked name
    "1.1.1.1/none": (tls, "1.1.1.1", None),
    "1.1.1.1/example.com": (tls, "1.1.1.1", "example.com"),
    "1.1.1.1/xgoogle.com": (tls, "1.1.1.1", "xgoogle.com"),  # only whole names match
    "8.8.8.8/dns.google": (tls, "8.8.8.8", "dns.google"),
    "77.88.8.8/ya.ru": (tls, "77.88.8.8", "ya.ru"),
    "blocked": (tls, "blocked.lab.test", "blocked.lab.test"),
    "ok.lab.test": (tls, "ok.lab.test", "ok.lab.test"),
    "udp 77.88.8.8": (udp53, "77.88.8.8"),
    "udp 1.1.1.1": (udp53, "1.1.1.1"),
    "udp 8.8.8.8": (udp53, "8.8.8.8"),
    "udp 9.9.9.9": (udp53, "9.9.9.9"),
    "system dns": (sysdns, "google.com"),
    "ipinfo": (http80, "ip-api.com"),
}

OPEN = {k: "ok" for k in PROBES}


def expect(**changes):
    e = dict(OPEN)
    for k, v in changes.items():
        e[k.replace("_", " ") if k.startswith("udp_") else k] = v
    return e


def sni_cut(word):
    return {"google": word, "ya.ru-addr/google": word, "1.1.1.1/example.com": word,
            "blocked": word}


ALLOW = {"google": "timeout", "google-addr/ya.ru": "timeout", "1.1.1.1/none": "timeout",
         "1.1.1.1/example.com": "timeout", "1.1.1.1/xgoogle.com": "timeout",
         "8.8.8.8/dns.google": "timeout", "blocked": "timeout", "ok.lab.test": "timeout",
         "udp_1.1.1.1": "silence", "udp_8.8.8.8": "silence", "udp_9.9.9.9": "silence",
         "ipinfo": "timeout"}

EXPECTED = {
    "open": OPEN,
    "allowlist": expect(**ALLOW),
    "sni-rst": expect(**sni_cut("reset")),
    "sni-drop": expect(**sni_cut("silence")),
    "udp53-drop": expect(**{"udp_77.88.8.8": "silence", "udp_1.1.1.1": "silence",
                            "udp_8.8.8.8": "silence", "udp_9.9.9.9": "silence"}),
    "ip-block": expect(**{"1.1.1.1/none": "timeout", "1.1.1.1/example.com": "timeout",
                          "1.1.1.1/xgoogle.com": "timeout", "8.8.8.8/dns.google": "timeout",
                          "udp_1.1.1.1": "silence", "udp_8.8.8.8": "silence",
                          "udp_9.9.9.9": "silence"}),
    "sni-block": expect(**sni_cut("reset")),
    # Only allowed names pass, whatever the address; no name at all does not.
    "sni-allow": expect(**{k: "silence" for k in (
        "google", "ya.ru-addr/google", "1.1.1.1/none", "1.1.1.1/example.com",
        "1.1.1.1/xgoogle.com", "8.8.8.8/dns.google", "blocked", "ok.lab.test")}),
    "edns-block": expect(**{"8.8.8.8/dns.google": "silence"}),
    # OpenSSL's hellos carry no ALPS; short connections fit in the throttle's burst.
    "fp-chrome": OPEN,
    "throttle": OPEN,
    # Combined: the name rules still act on the addresses the allow-list lets through.
    "allowlist sni-rst": expect(**dict(ALLOW, **{"ya.ru-addr/google": "reset"})),
    # Explicit lists replace the defaults.
    "sni-rst=ya.ru ip-block=77.88.8.8": expect(**{
        "ya.ru": "reset", "google-addr/ya.ru": "reset", "77.88.8.8/ya.ru": "timeout",
        "udp_77.88.8.8": "silence"}),
}


class Censor(unittest.TestCase):
    def test_mode(self):
        key = " ".join(MODES)
        self.assertIn(key, EXPECTED, "no expectations for this mode")
        self.assertEqual(lab("censor").stdout.strip(), key, "the mode in force")
        with concurrent.futures.ThreadPoolExecutor(len(PROBES)) as pool:
            futures = {k: pool.submit(p[0], *p[1:]) for k, p in PROBES.items()}
            got = {k: f.result() for k, f in futures.items()}
        want = EXPECTED[key]
        diff = {k: (got[k], want[k]) for k in PROBES if got[k] != want[k]}
        self.assertEqual(diff, {}, "probe: (got, expected)")


class Cli(unittest.TestCase):
    def test_unknown_mode_is_refused_and_changes_nothing(self):
        before = lab("censor").stdout
        for bad in (["sni-reset"], ["open", "bogus"], ["ip-block=1.2.3.400"],
                    ["sni-rst=bad name"]):
            r = lab("censor", *bad, check=False)
            self.assertNotEqual(r.returncode, 0, bad)
            self.assertEqual(lab("censor").stdout, before, bad)

    def test_modes_replace_each_other(self):
        try:
            lab("censor", "ip-block")
            self.assertEqual(tls("1.1.1.1", None), "timeout")
            lab("censor", "sni-rst")
            self.assertEqual(lab("censor").stdout.strip(), "sni-rst")
            self.assertEqual(tls("1.1.1.1", None), "ok")
            self.assertEqual(tls("google.com", "google.com"), "reset")
        finally:
            lab("censor", "open")
        self.assertEqual(tls("google.com", "google.com"), "ok")


if __name__ == "__main__":
    if MODES == ["cli"]:
        unittest.main(defaultTest="Cli", verbosity=2)
    else:
        unittest.main(defaultTest="Censor", verbosity=2)
