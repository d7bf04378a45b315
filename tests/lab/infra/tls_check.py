#!/usr/bin/python3
"""The lab's TLS hosts, seen from tv-client with ordinary clients (Python's ssl,
openssl s_client, curl): certificates, handshake behaviours and the first HTTP
answer. Run through in-lab.sh with the censor open."""
import os
import socket
import ssl
import subprocess
import tempfile
import threading
import unittest

from labcheck import (CA_PEM, BioClient, Capture, after_hello, client_context, connect, get,
                      handshake, list_groups, peer_cn, resolve, run, tcp_state, tls_records)


def addr(name):
    a = resolve(name)
    assert isinstance(a, str), "%s does not resolve" % name
    return a


class Certificates(unittest.TestCase):
    def test_every_site_host_has_a_valid_chain_in_the_system_store(self):
        # create_default_context() reads tv-client's /etc/ssl: the lab CA is in it.
        names = [n for _, n in list_groups()] + ["example.com", "ok.lab.test", "blocked.lab.test"]
        for name in names:
            with handshake(addr(name), name, verify=True) as t:
                self.assertEqual(peer_cn(t), name)
                self.assertTrue(get(t, name).startswith(b"HTTP/1.1 200 OK\r\n"), name)

    def test_openssl_and_curl_trust_the_lab_ca(self):
        r = run(["openssl", "s_client", "-connect", "ok.lab.test:443", "-servername",
                 "ok.lab.test", "-verify_return_error", "-verify_hostname", "ok.lab.test"],
                timeout=10)
        self.assertIn("Verify return code: 0 (ok)", r.stdout)
        r = run(["curl", "-sS", "-m", "5", "-o", "/dev/null", "-w", "%{http_code}",
                 "https://ya.ru/"])
        self.assertEqual((r.returncode, r.stdout), (0, "200"), r.stderr)

    def test_public_resolver_addresses_answer_any_name(self):
        own = {"1.1.1.1": "one.one.one.one", "8.8.8.8": "dns.google",
               "9.9.9.9": "dns.quad9.net", "77.88.8.8": None}
        for ip, cn in own.items():
            seen = set()
            for sni in ("ya.ru", None, "example.com"):
                with handshake(ip, sni) as t:
                    seen.add(peer_cn(t))
            self.assertEqual(len(seen), 1, ip)
            if cn:
                self.assertEqual(seen, {cn})
                # Valid for its own name, like the real ones.
                handshake(ip, cn, verify=True).close()

    def verify_error(self, name):
        with self.assertRaises(ssl.SSLCertVerificationError) as cm:
            handshake(addr(name), name, verify=True)
        # Without verification the handshake completes.
        with handshake(addr(name), name) as t:
            cn = peer_cn(t)
        return cm.exception, cn

    def test_wrong_name(self):
        err, cn = self.verify_error("wrongname.lab.test")
        self.assertIn("Hostname mismatch", str(err))
        self.assertNotEqual(cn, "wrongname.lab.test")
        # The chain itself is good: only the name is wrong.
        ctx = ssl.create_default_context()
        ctx.check_hostname = False
        handshake(addr("wrongname.lab.test"), "wrongname.lab.test", ctx=ctx).close()

    def test_self_signed(self):
        err, cn = self.verify_error("selfsigned.lab.test")
        self.assertEqual(err.verify_code, 18)  # X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT
        self.assertEqual(cn, "selfsigned.lab.test")

    def test_expired(self):
        err, cn = self.verify_error("expired.lab.test")
        self.assertEqual(err.verify_code, 10)  # X509_V_ERR_CERT_HAS_EXPIRED
        self.assertEqual(cn, "expired.lab.test")


class Handshakes(unittest.TestCase):
    def test_alert_for_an_unknown_server_name(self):
        a = addr("alert.lab.test")
        for sni in ("other.lab.test", None):
            with self.assertRaises(ssl.SSLError) as cm:
                handshake(a, sni)
            self.assertIn("UNRECOGNIZED_NAME", str(cm.exception).upper(), sni)
        with handshake(a, "alert.lab.test", verify=True) as t:
            self.assertTrue(get(t, "alert.lab.test").startswith(b"HTTP/1.1 200"))

    def test_client_certificate_request(self):
        a = addr("clientcert.lab.test")
        with self.assertRaises(ssl.SSLError) as cm:
            handshake(a, "clientcert.lab.test")
        self.assertIn("HANDSHAKE_FAILURE", str(cm.exception).upper())
        r = run(["openssl", "s_client", "-connect", a + ":443", "-servername",
                 "clientcert.lab.test"], timeout=10)
        self.assertIn("Client Certificate Types:", r.stdout)
        # With a certificate from the lab CA the same server lets us in.
        with tempfile.TemporaryDirectory() as d:
            key, crt = os.path.join(d, "c.key"), os.path.join(d, "c.pem")
            subprocess.run(["openssl", "req", "-new", "-newkey", "ec", "-pkeyopt",
                            "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-subj",
                            "/CN=lab client", "-CA", CA_PEM, "-CAkey",
                            os.path.join(os.path.dirname(CA_PEM), "ca.key"), "-days", "1",
                            "-out", crt], check=True, capture_output=True)
            ctx = client_context()
            ctx.load_cert_chain(crt, key)
            with handshake(a, "clientcert.lab.test", ctx=ctx) as t:
                self.assertTrue(get(t, "clientcert.lab.test").startswith(b"HTTP/1.1 200"))

    def test_what_follows_the_client_hello(self):
        self.assertEqual(after_hello(addr("rst.lab.test"), "rst.lab.test"), "reset")
        self.assertEqual(after_hello(addr("silent.lab.test"), "silent.lab.test"), "silence")
        self.assertEqual(after_hello(addr("close.lab.test"), "close.lab.test"), "eof")
        self.assertEqual(after_hello(addr("ok.lab.test"), "ok.lab.test"), "data")

    def test_reset_and_close_come_only_after_the_hello(self):
        # The TCP connection itself is accepted; nothing arrives before the hello.
        for name in ("rst.lab.test", "close.lab.test"):
            s = connect(addr(name))
            s.settimeout(0.5)
            with self.assertRaises(socket.timeout):
                s.recv(1)
            s.close()

    def test_one_byte_per_segment(self):
        a = addr("onebyte.lab.test")
        cap = Capture(a)
        try:
            t = handshake(a, "onebyte.lab.test", verify=True, timeout=10)
            hs = [p for _, p in cap.segments() if p]
        finally:
            cap.close()
        with t:
            self.assertTrue(get(t, "onebyte.lab.test").startswith(b"HTTP/1.1 200 OK"))
        self.assertGreater(len(hs), 300, "a whole handshake (certificate included)")
        self.assertEqual({len(p) for p in hs}, {1})
        self.assertEqual(b"".join(hs)[:1], b"\x16")

    def test_application_data_in_the_last_handshake_segment(self):
        a = addr("appdata.lab.test")
        cap = Capture(a)
        try:
            c = BioClient(a, "appdata.lab.test")
            c.handshake()
            self.assertEqual(c.obj.version(), "TLSv1.2")
            c.recv_raw(quiet=0.5)  # no request sent
            segs = [p for _, p in cap.segments() if p]
        finally:
            cap.close()
        chunks, _ = c.plaintext_by_record()
        c.close()
        self.assertTrue(b"".join(chunks).startswith(b"HTTP/1.1 200 OK\r\n"))
        # One segment carries ChangeCipherSpec, the encrypted Finished and the data.
        kinds = [[t for t, _ in tls_records(p)] for p in segs]
        self.assertTrue(any(k[-3:] == [0x14, 0x16, 0x17] for k in kinds), [(k, len(p)) for k, p in zip(kinds, segs)])


class HttpAnswers(unittest.TestCase):
    def first_bytes(self, name):
        with handshake(addr(name), name, verify=True) as t:
            return get(t, name)

    def test_status_lines(self):
        self.assertTrue(self.first_bytes("http301.lab.test").startswith(
            b"HTTP/1.1 301 Moved Permanently\r\n"))
        self.assertTrue(self.first_bytes("http10.lab.test").startswith(b"HTTP/1.0 200 OK\r\n"))
        self.assertTrue(self.first_bytes("http2.lab.test").startswith(b"HTTP/2 200\r\n"))

    def exchange(self, name, quiet=1.0):
        c = BioClient(addr(name), name)
        c.handshake()
        c.send(b"GET / HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n\r\n" % name.encode())
        how = c.recv_raw(quiet=quiet)
        chunks, end = c.plaintext_by_record()
        c.close()
        return how, chunks, end

    def test_nothing_at_all(self):
        self.assertEqual(self.exchange("httpnone.lab.test"), ("quiet", [], None))

    def test_tcp_close_without_data(self):
        self.assertEqual(self.exchange("httpclose.lab.test"), ("eof", [], None))

    def test_tls_close_alert_without_data(self):
        self.assertEqual(self.exchange("httpalert.lab.test"), ("eof", [], "close_notify"))

    def test_status_line_split_across_two_records(self):
        how, chunks, end = self.exchange("httpsplit.lab.test")
        self.assertEqual(how, "eof")
        self.assertGreaterEqual(len(chunks), 2)
        self.assertNotIn(b"\r\n", chunks[0])
        self.assertTrue(b"".join(chunks).startswith(b"HTTP/1.1 200 OK\r\n"))

    def test_ordinary_host_ends_with_close_notify(self):
        how, chunks, end = self.exchange("ok.lab.test")
        self.assertEqual((how, end), ("eof", "close_notify"))
        self.assertTrue(chunks[0].startswith(b"HTTP/1.1 200 OK\r\n"))


class Tcp(unittest.TestCase):
    def test_refused_and_dropped(self):
        self.assertEqual(tcp_state(addr("refused.lab.test")), "refused")
        self.assertEqual(tcp_state(addr("drop.lab.test"), timeout=1.0), "timeout")
        self.assertEqual(tcp_state("203.0.113.10", timeout=1.0), "timeout")
        self.assertEqual(tcp_state(addr("ok.lab.test")), "open")


class Load(unittest.TestCase):
    def test_parallel_handshakes_do_not_stall(self):
        # 48 clients at once, as the scan workers do, each with a short time-out.
        names = ["ok.lab.test", "ya.ru", "google.com", "1.1.1.1"]
        errors = []

        def worker(i):
            name = names[i % len(names)]
            try:
                for _ in range(3):
                    with handshake(addr(name) if name[0].isalpha() else name, name,
                                   timeout=5) as t:
                        if not get(t, name).startswith(b"HTTP/1.1 200"):
                            errors.append((name, "no 200"))
            except Exception as e:  # collected and reported below
                errors.append((name, repr(e)))
        threads = [threading.Thread(target=worker, args=(i,)) for i in range(48)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(60)
        self.assertEqual(errors, [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
