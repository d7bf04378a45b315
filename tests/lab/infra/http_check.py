#!/usr/bin/python3
"""HTTP/1.1 on the lab's ordinary hosts (keep-alive, pipelining, uploads), the
hosts that end early (short) or stand in for others (stub), names outside the
zone, and the stock OpenSSL server. Run through in-lab.sh with the censor open."""
import socket
import ssl
import unittest

from labcheck import (BioClient, after_hello, client_hello, handshake, peer_cn, read_response,
                      request, resolve, run)


def addr(name):
    a = resolve(name)
    assert isinstance(a, str), name
    return a


class KeepAlive(unittest.TestCase):
    def test_pipelined_requests_get_one_answer_each_in_order(self):
        for name, ip in (("ok.lab.test", addr("ok.lab.test")), ("1.1.1.1", "1.1.1.1")):
            with handshake(ip, name if name[0].isalpha() else None) as t:
                t.settimeout(5)
                t.sendall(request("GET", name) + request("POST", name, body=b"x" * 65536)
                          + request("GET", name) + request("POST", name, body=b"y" * 100))
                f = t.makefile("rb")
                got = [read_response(f) for _ in range(4)]
                self.assertEqual([g[0] for g in got], ["HTTP/1.1 200 OK"] * 4, name)
                self.assertEqual([len(g[2]) for g in got[::2]], [8192, 8192])
                self.assertEqual([g[2] for g in got[1::2]],
                                 [b"received 65536 bytes\n", b"received 100 bytes\n"])
                self.assertEqual({g[1]["connection"] for g in got}, {"keep-alive"})
                # Still open: one more request, which closes.
                t.sendall(request("GET", name, close=True))
                last = read_response(f)
                self.assertEqual((last[1]["connection"], len(last[2])), ("close", 8192))
                self.assertEqual(f.read(), b"", "closed after Connection: close")

    def test_sixty_four_kib_in_eight_requests_and_a_large_upload(self):
        with handshake(addr("ya.ru"), "ya.ru", verify=True) as t:
            t.settimeout(10)
            f = t.makefile("rb")
            t.sendall(request("GET", "ya.ru") * 8)
            self.assertEqual(sum(len(read_response(f)[2]) for _ in range(8)), 65536)
            t.sendall(request("POST", "ya.ru", body=bytes(1 << 20)))
            self.assertEqual(read_response(f)[2], b"received 1048576 bytes\n")

    def test_short_host_closes_even_on_keep_alive(self):
        c = BioClient(addr("short.lab.test"), "short.lab.test")
        c.handshake()
        c.send(request("GET", "short.lab.test") * 2)
        self.assertEqual(c.recv_raw(quiet=2.0), "eof")
        chunks, end = c.plaintext_by_record()
        c.close()
        text = b"".join(chunks)
        self.assertEqual(end, "close_notify")
        self.assertEqual(text.count(b"HTTP/1.1 200 OK"), 1)
        self.assertIn(b"Connection: close\r\n", text)
        self.assertLess(len(text), 1024)


class Names(unittest.TestCase):
    def test_a_name_outside_the_zone_still_gets_a_handshake_by_address(self):
        self.assertIsInstance(resolve("qhzkwmrtbe.com"), socket.gaierror)
        for host in ("ok.lab.test", "google.com", "ya.ru"):
            with handshake(addr(host), "qhzkwmrtbe.com") as t:
                self.assertEqual(peer_cn(t), host)

    def test_stub_host(self):
        stub = addr("stub.lab.test")
        self.assertEqual(stub, "198.18.0.80")
        with self.assertRaises(ssl.SSLCertVerificationError):
            handshake(stub, "google.com", verify=True)
        with handshake(stub, "stub.lab.test", verify=True) as t:
            t.sendall(request("GET", "google.com", close=True))
            self.assertIn(b"restricted", read_response(t.makefile("rb"))[2])
        r = run(["curl", "-sS", "-m", "5", "-H", "Host: google.com", "http://198.18.0.80/"])
        self.assertIn("restricted", r.stdout)


class OpenSslServer(unittest.TestCase):
    def test_s_server_answers_hellos_and_gets(self):
        a = addr("sserver.lab.test")
        self.assertEqual(after_hello(a, "sserver.lab.test"), "data")
        for _ in range(2):  # it keeps accepting
            r = run(["curl", "-sS", "-m", "5", "https://sserver.lab.test/"])
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn("<HTML>", r.stdout.upper())
        # A ServerHello record (handshake type 2) for a hello of our own.
        with socket.create_connection((a, 443), timeout=3) as s:
            s.sendall(client_hello("anything.example"))
            data = b""
            while len(data) < 6:
                data += s.recv(65536)
        self.assertEqual((data[0], data[5]), (0x16, 0x02))


if __name__ == "__main__":
    unittest.main(verbosity=2)
