#!/usr/bin/python3
"""The public resolvers beyond UDP: DNS over TLS and over HTTPS, the egress
name, the CDN name, and the DNS censor modes, seen from tv-client.

    in-lab.sh [--censor MODE] -- resolver_check.py [open|edns-block|dns-stub|udp53-redirect]
"""
import base64
import ipaddress
import socket
import struct
import sys
import unittest

from labcheck import (PUBLIC, connect, dns_message, dns_query, handshake, lab, parse_reply,
                      read_response, request, resolve)

MODE = sys.argv[1] if len(sys.argv) > 1 else "open"
del sys.argv[1:]

NAMES = {"77.88.8.8": ["common.dot.dns.yandex.net", "dns.yandex.ru"],
         "1.1.1.1": ["cloudflare-dns.com", "one.one.one.one"],
         "8.8.8.8": ["dns.google"], "9.9.9.9": ["dns.quad9.net"]}
EGRESS = {"198.18.0.53": "198.18.0.0/16", "77.88.8.8": "77.88.0.0/16",
          "1.1.1.1": "172.68.0.0/16", "8.8.8.8": "172.253.0.0/16", "9.9.9.9": "149.112.0.0/16"}


def first_a(reply):
    r = parse_reply(reply)
    return [a[2] for a in r["answers"] if a[1] == 1][0] if r["answers"] else r["rcode"]


def dot(server, names, sni=None, timeout=3.0):
    """All queries in one write on one DoT connection; the replies by query id."""
    with handshake(server, sni or NAMES[server][0], verify=True, timeout=timeout, port=853) as t:
        t.sendall(b"".join(struct.pack(">H", len(m)) + m
                           for m in (dns_message(n, qid=i + 1) for i, n in enumerate(names))))
        f = t.makefile("rb")
        out = {}
        for _ in names:
            n = struct.unpack(">H", f.read(2))[0]
            reply = f.read(n)
            out[parse_reply(reply)["id"]] = reply
        return [out[i + 1] for i in range(len(names))]


def doh(server, names, sni=None, timeout=3.0):
    """One GET and one POST per name, all pipelined on one connection."""
    with handshake(server, sni or NAMES[server][0], verify=True, timeout=timeout) as t:
        reqs = b""
        for n in names:
            m = base64.urlsafe_b64encode(dns_message(n, qid=0)).rstrip(b"=").decode()
            reqs += request("GET", sni or server, "/dns-query?dns=" + m)
            reqs += request("POST", sni or server, "/dns-query", dns_message(n, qid=0),
                            headers=["Content-Type: application/dns-message"])
        t.sendall(reqs)
        f = t.makefile("rb")
        out = []
        for _ in range(2 * len(names)):
            status, headers, body = read_response(f)
            assert status == "HTTP/1.1 200 OK" and \
                headers["content-type"] == "application/dns-message", (status, headers)
            out.append(body)
        return out


def in_net(a, net):
    return ipaddress.ip_address(a) in ipaddress.ip_network(net)


class Open(unittest.TestCase):
    def test_dot_and_doh_answer_like_udp_under_every_published_name(self):
        want = resolve("google.com")
        for server, names in NAMES.items():
            for sni in names + [server]:  # the names and the IP address are in the certificate
                self.assertEqual([first_a(r) for r in dot(server, ["google.com", "nx.lab.test"],
                                                          sni)], [want, 3], sni)
            self.assertEqual([first_a(r) for r in doh(server, ["google.com", "servfail.lab.test"])],
                             [want, want, 2, 2], server)

    def test_other_paths_keep_the_page(self):
        with handshake("8.8.8.8", "dns.google", verify=True) as t:
            t.sendall(request("GET", "dns.google", close=True))
            status, headers, body = read_response(t.makefile("rb"))
        self.assertEqual((status, headers["content-type"][:9]), ("HTTP/1.1 200 OK", "text/html"))

    def test_whoami_gives_each_resolver_its_own_egress_network(self):
        for server, net in EGRESS.items():
            got = [first_a(dns_query(server, "whoami.akamai.net")[0]) for _ in range(3)]
            if server != "198.18.0.53":
                got += [first_a(r) for r in dot(server, ["whoami.akamai.net"] * 2)]
                got += [first_a(r) for r in doh(server, ["whoami.akamai.net"])]
                self.assertGreater(len(set(got)), 1, "hosts of the network vary")
            else:
                self.assertEqual(set(got), {"198.18.0.153"})
            self.assertTrue(all(in_net(a, net) for a in got), (server, got))

    def test_cdn_name_differs_per_resolver_and_every_answer_is_valid(self):
        answers = {s: first_a(dns_query(s, "cdn.lab.test")[0]) for s in EGRESS}
        self.assertEqual(answers["8.8.8.8"], first_a(dot("8.8.8.8", ["cdn.lab.test"])[0]))
        self.assertEqual(len(set(answers.values())), 5, answers)
        for a in answers.values():
            handshake(a, "cdn.lab.test", verify=True).close()


class Modes(unittest.TestCase):
    def test_mode(self):
        self.assertEqual(lab("censor").stdout.strip(), MODE)
        getattr(self, MODE.replace("-", "_"))()

    def edns_block(self):
        for server in ("1.1.1.1", "8.8.8.8", "9.9.9.9"):
            with self.assertRaises(socket.timeout):
                connect(server, 853, timeout=1.0)
            for sni in NAMES[server]:
                with self.assertRaises(socket.timeout, msg=sni):
                    handshake(server, sni, timeout=1.0)
            handshake(server, "ya.ru", timeout=2.0).close()  # other names: the address works
            self.assertIsNotNone(dns_query(server, "ya.ru")[0])
        self.assertEqual(len(dot("77.88.8.8", ["ya.ru"])), 1, "Yandex is left open")
        self.assertEqual(len(doh("77.88.8.8", ["ya.ru"])), 2)

    def dns_stub(self):
        self.assertEqual(resolve("google.com"), "198.18.0.80")
        self.assertEqual(first_a(dns_query("198.18.0.53", "example.com")[0]), "198.18.0.80")
        genuine = first_a(dns_query("8.8.8.8", "google.com")[0])
        self.assertTrue(in_net(genuine, "198.19.0.0/16"))
        self.assertEqual(first_a(dot("1.1.1.1", ["google.com"])[0]), genuine)
        self.assertEqual(first_a(doh("9.9.9.9", ["google.com"])[0]), genuine)
        self.assertNotEqual(resolve("ya.ru"), "198.18.0.80")

    def udp53_redirect(self):
        for server in PUBLIC:
            reply, peer = dns_query(server, "whoami.akamai.net")
            self.assertEqual((peer[0], first_a(reply)), (server, "198.18.0.153"))
            self.assertTrue(in_net(first_a(dot(server, ["whoami.akamai.net"])[0]),
                                   EGRESS[server]), "DoT reaches the real one")
            self.assertTrue(in_net(first_a(doh(server, ["whoami.akamai.net"])[0]),
                                   EGRESS[server]), "DoH reaches the real one")


if __name__ == "__main__":
    unittest.main(defaultTest="Open" if MODE == "open" else "Modes", verbosity=2)
