#!/usr/bin/python3
"""The IP-information service in one of its modes, seen from tv-client with
curl and a raw socket.

    in-lab.sh --ipinfo MODE -- ipinfo_check.py MODE
"""
import json
import socket
import sys
import time
import unittest

from labcheck import connect, lab, resolve, run

MODE = sys.argv[1] if len(sys.argv) > 1 else "success"
del sys.argv[1:]
PATH = "/json/?fields=status,query,isp,org,as,city,country"
URL = "http://ip-api.com" + PATH


def curl():
    r = run(["curl", "-sS", "-m", "3", "-w", "\n%{http_code}", URL])
    body, _, code = r.stdout.rpartition("\n")
    return r.returncode, code, body


def raw_reads():
    """The response as the sizes of the successive reads, plus all bytes."""
    s = connect(resolve("ip-api.com"), 80)
    s.sendall(("GET %s HTTP/1.1\r\nHost: ip-api.com\r\nUser-Agent: Tarnveil/1.0\r\n\r\n"
               % PATH).encode())
    s.settimeout(3)
    reads, data = [], b""
    while True:
        d = s.recv(65536)
        if not d:
            break
        reads.append(len(d))
        data += d
    s.close()
    return reads, data


def dechunk(body):
    out, chunks = b"", 0
    while body:
        size, _, rest = body.partition(b"\r\n")
        n = int(size, 16)
        if n == 0:
            break
        out += rest[:n]
        body = rest[n + 2:]
        chunks += 1
    return out, chunks


class IpInfo(unittest.TestCase):
    def test_mode(self):
        self.assertEqual(lab("ipinfo").stdout.strip(), MODE)
        getattr(self, "check_" + MODE)()

    def check_success(self):
        rc, code, body = curl()
        self.assertEqual((rc, code), (0, "200"))
        obj = json.loads(body)
        self.assertEqual(obj["status"], "success")
        for field in ("query", "isp", "org", "as", "city", "country"):
            self.assertIsInstance(obj[field], str, field)
            self.assertTrue(obj[field], field)
        # query is the address the service saw: the client's own.
        socket.inet_aton(obj["query"])
        r = run(["ip", "-4", "-o", "addr", "show", "dev", "tv-c0"])
        self.assertIn(" %s/" % obj["query"], r.stdout)

    def check_403(self):
        rc, code, body = curl()
        self.assertEqual((rc, code), (0, "403"))
        obj = json.loads(body)
        self.assertNotEqual(obj.get("status"), "success")
        self.assertIn("message", obj)

    def check_long(self):
        reads, data = raw_reads()
        head, _, body = data.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"HTTP/1.1 200 OK"))
        self.assertIn(b"Transfer-Encoding: chunked", head)
        payload, chunks = dechunk(body)
        self.assertEqual(len(payload), 20000)
        self.assertGreaterEqual(chunks, 3)
        self.assertGreaterEqual(len(reads), 3, "arrives in several pieces")
        self.assertEqual(json.loads(payload)["status"], "success")
        rc, code, body = curl()
        self.assertEqual((rc, code, len(body)), (0, "200", 20000))

    def check_silent(self):
        s = connect(resolve("ip-api.com"), 80)
        s.sendall(("GET %s HTTP/1.1\r\nHost: ip-api.com\r\n\r\n" % PATH).encode())
        s.settimeout(1.5)
        t0 = time.monotonic()
        with self.assertRaises(socket.timeout):
            s.recv(1)
        self.assertGreater(time.monotonic() - t0, 1.4)
        s.close()
        rc, code, _ = curl()
        self.assertEqual((rc, code), (28, "000"), "curl times out")


if __name__ == "__main__":
    unittest.main(verbosity=2)
