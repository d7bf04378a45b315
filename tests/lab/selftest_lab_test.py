#!/usr/bin/python3
"""`tarnveil --selftest` inside the lab: the log, line by line.

Usage: selftest_lab_test.py MODE --exe PROGRAM [--wrapper SCRIPT]
MODE is the censor mode the lab is in (open or allowlist). The program is
copied into a fresh directory so probe.log is this run's alone.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

ARGS = None
BANNER = "=== ЗАПУСК === AUTHOR: Brannick & Quillmoor | PROJECT: Tarnveil | VERSION: 1.0.0"
TARGET = re.compile(r"^SELFTEST (\S+) sni=\[(.*?)\] ip=(\S*) dns=(\w+)/(-?\d+) tcp=(\w+)/(-?\d+) "
                    r"tls=(\w+)/(-?\d+) http=(\w+)/(-?\d+) verdict=(\w+) cert=\[(.*)\] ok=([01]) "
                    r"det=\[(.*)\]$")
NET = re.compile(r"^SELFTEST net \[(.+?)\] (.+) -> (\w+) (-?\d+)ms ?(.*)$")
TIMESTAMP = re.compile(r"^\[\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\] ")
TARGETS = [("yandex.ru", "yandex.ru"), ("google.com", "google.com"), ("vk.com", "vk.com"),
           ("tarnveil-selftest.example", "x"), ("1.1.1.1", "yandex.ru"), ("1.1.1.1", ""),
           ("1.1.1.1", "example.com")]
NET_NAMES = [("DNS системный", "ya.ru"), ("DNS системный", "gosuslugi.ru"),
             ("DNS системный", "example.com"), ("DNS системный", "google.com"),
             ("DNS по UDP/53", "Yandex DNS 77.88.8.8"), ("DNS по UDP/53", "Cloudflare 1.1.1.1"),
             ("DNS по UDP/53", "Google 8.8.8.8"), ("DNS по UDP/53", "Quad9 9.9.9.9"),
             ("TCP:443 по IP", "Yandex DNS 77.88.8.8:443"), ("TCP:443 по IP", "Cloudflare 1.1.1.1:443"),
             ("TCP:443 по IP", "Google 8.8.8.8:443"), ("TCP:443 по IP", "Quad9 9.9.9.9:443"),
             ("DNS по DoT", "Yandex DNS 77.88.8.8:853"), ("DNS по DoT", "Cloudflare 1.1.1.1:853"),
             ("DNS по DoT", "Google 8.8.8.8:853"), ("DNS по DoT", "Quad9 9.9.9.9:853"),
             ("DNS по DoH", "common.dot.dns.yandex.net"), ("DNS по DoH", "cloudflare-dns.com"),
             ("DNS по DoH", "dns.google"), ("DNS по DoH", "dns.quad9.net")]
IPINFO_LINE = 8 + len(NET_NAMES)


def run_selftest():
    d = tempfile.mkdtemp(prefix="tv-selftest-")
    exe = os.path.join(d, os.path.basename(ARGS.exe))
    shutil.copy2(ARGS.exe, exe)
    cmd = ([os.path.abspath(ARGS.wrapper)] if ARGS.wrapper else []) + [exe, "--selftest", "--cdp"]
    p = subprocess.run(cmd, capture_output=True, timeout=300, cwd=d)
    with open(os.path.join(d, "probe.log"), "rb") as f:
        raw = f.read()
    return p.returncode, raw, sorted(os.listdir(d))


class SelfTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.rc, cls.raw, cls.entries = run_selftest()
        text = cls.raw.decode("utf-8")
        eol = "\r\n" if ARGS.wrapper else "\n"
        cls.eol_ok = text.endswith(eol) and (eol == "\r\n" or "\r" not in text)
        cls.lines = text[:-len(eol)].lstrip("\ufeff").split(eol)
        cls.msgs = [TIMESTAMP.sub("", l, count=1) for l in cls.lines]

    def test_exit_code_and_no_directories(self):
        self.assertEqual(self.rc, 0)
        self.assertNotIn("scans", self.entries)
        self.assertNotIn("ProbeData", self.entries)

    def test_file_layout(self):
        self.assertTrue(self.raw.startswith(b"\xef\xbb\xbf"))
        self.assertTrue(self.eol_ok)
        for l in self.lines:
            self.assertRegex(l, TIMESTAMP)

    def test_line_order(self):
        m = self.msgs
        self.assertEqual(m[0], BANNER)
        self.assertEqual(len(m), 1 + 7 + len(NET_NAMES) + 1 + 1, "\n".join(m))
        for i, (host, sni) in enumerate(TARGETS):
            g = TARGET.match(m[1 + i])
            self.assertIsNotNone(g, m[1 + i])
            self.assertEqual((g.group(1), g.group(2)), (host, sni))
        for i, (group, name) in enumerate(NET_NAMES):
            g = NET.match(m[8 + i])
            self.assertIsNotNone(g, m[8 + i])
            self.assertEqual((g.group(1), g.group(2)), (group, name))
        self.assertTrue(m[IPINFO_LINE].startswith("SELFTEST ipinfo: "))
        self.assertEqual(m[IPINFO_LINE + 1], "SELFTEST done")

    def target(self, i):
        g = TARGET.match(self.msgs[1 + i])
        keys = ["host", "sni", "ip", "dns", "dnsMs", "tcp", "tcpMs", "tls", "tlsMs", "http",
                "code", "verdict", "cert", "ok", "det"]
        return dict(zip(keys, g.groups()))

    def net(self, i):
        g = NET.match(self.msgs[8 + i])
        return {"state": g.group(3), "ms": int(g.group(4)), "detail": g.group(5)}

    def test_unresolvable_row(self):
        t = self.target(3)
        self.assertEqual((t["dns"], t["tcp"], t["tcpMs"], t["tls"], t["tlsMs"], t["http"], t["code"]),
                         ("nx", "skip", "-1", "skip", "-1", "skip", "0"))
        self.assertEqual(t["verdict"], "blocked")
        self.assertEqual(t["det"], "DNS: nx")
        self.assertEqual(t["ip"], "")

    def test_address_rows(self):
        for i in (4, 5, 6):
            t = self.target(i)
            self.assertEqual((t["ip"], t["dns"], t["dnsMs"]), ("1.1.1.1", "skip", "0"))
        self.assertEqual(self.target(5)["sni"], "")
        # HTTP is off for rows 5 and 6 whatever the handshake did.
        self.assertEqual((self.target(4)["http"], self.target(4)["code"]), ("skip", "0"))
        self.assertEqual((self.target(5)["http"], self.target(5)["code"]), ("skip", "0"))

    def test_mode_specific(self):
        t = [self.target(i) for i in range(7)]
        n = [self.net(i) for i in range(len(NET_NAMES))]
        ipinfo = self.msgs[IPINFO_LINE][len("SELFTEST ipinfo: "):]
        for i in range(4):
            self.assertEqual(n[i]["state"], "ok", self.msgs[8 + i])
        if ARGS.mode == "open":
            for i in (0, 1, 2):
                self.assertEqual((t[i]["verdict"], t[i]["http"], t[i]["code"], t[i]["ok"]),
                                 ("pass", "ok", "200", "1"), self.msgs[1 + i])
            self.assertEqual([t[i]["verdict"] for i in (4, 5, 6)], ["pass"] * 3)
            self.assertEqual(t[4]["ok"], "0")  # the address's certificate does not name yandex.ru
            for i in range(4, 8):
                self.assertEqual(n[i]["state"], "ok")
                self.assertRegex(n[i]["detail"], r"^A \d+\.\d+\.\d+\.\d+$")
            for i in range(8, 20):
                self.assertEqual(n[i]["state"], "ok", self.msgs[8 + i])
            self.assertEqual(json.loads(ipinfo)["status"], "success")
        else:
            self.assertEqual([t[i]["verdict"] for i in (0, 2)], ["pass", "pass"])
            for i in (1, 4, 5, 6):
                self.assertEqual((t[i]["tcp"], t[i]["verdict"], t[i]["det"]),
                                 ("timeout", "blocked", ""), self.msgs[1 + i])
                self.assertGreaterEqual(int(t[i]["tcpMs"]), 4500)
            self.assertEqual(n[4]["state"], "ok")  # the domestic resolver
            for i in (5, 6, 7):
                self.assertEqual((n[i]["state"], n[i]["detail"]), ("timeout", "no reply"))
                self.assertGreaterEqual(n[i]["ms"], 2500)
            self.assertEqual(n[8]["state"], "ok")
            for i in (9, 10, 11):
                self.assertEqual(n[i]["state"], "timeout")
            # Encrypted DNS: only the domestic resolver, over DoT and DoH.
            self.assertEqual([n[i]["state"] for i in range(12, 20)],
                             ["ok"] + ["timeout"] * 3 + ["ok"] + ["timeout"] * 3)
            self.assertEqual(ipinfo, "")


def main():
    global ARGS
    ap = argparse.ArgumentParser()
    ap.add_argument("mode", choices=["open", "allowlist"])
    ap.add_argument("--exe", required=True)
    ap.add_argument("--wrapper", default="")
    ARGS = ap.parse_args()
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(SelfTest)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
