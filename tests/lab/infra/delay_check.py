#!/usr/bin/python3
"""The user-space delay on the router, together with another mode:

    in-lab.sh --censor delay=50 sni-rst -- delay_check.py

Each direction waits 50 ms, so a round trip takes 100 ms; the name rules act
as before, many connections at once keep their order, and `open` ends it."""
import concurrent.futures
import time
import unittest

from labcheck import after_hello, connect, dns_query, get, handshake, lab, resolve


def rtt_ms(fn):
    t0 = time.monotonic()
    fn()
    return (time.monotonic() - t0) * 1000


class Delay(unittest.TestCase):
    def test_round_trips_and_the_other_mode(self):
        self.assertEqual(lab("censor").stdout.strip(), "delay=50 sni-rst")
        ok = resolve("ok.lab.test")
        for ms in (rtt_ms(lambda: connect(ok).close()),
                   rtt_ms(lambda: self.assertIsNotNone(dns_query("8.8.8.8", "ya.ru")[0]))):
            self.assertTrue(95 <= ms <= 300, "%.0f ms" % ms)
        self.assertEqual(after_hello(resolve("google.com"), "google.com"), "reset")
        self.assertEqual(after_hello(ok, "ok.lab.test"), "data")

    def test_many_connections_at_once(self):
        def fetch(i):
            with handshake(resolve("ya.ru"), "ya.ru", verify=True, timeout=5) as t:
                return get(t, "ya.ru", timeout=5)[:15]
        t0 = time.monotonic()
        with concurrent.futures.ThreadPoolExecutor(48) as pool:
            got = list(pool.map(fetch, range(96)))
        self.assertEqual(set(got), {b"HTTP/1.1 200 OK"})
        self.assertLess(time.monotonic() - t0, 5.0)

    def test_open_ends_the_delay(self):
        ok = resolve("ok.lab.test")
        try:
            lab("censor", "open")
            self.assertLess(rtt_ms(lambda: connect(ok).close()), 20)
        finally:
            lab("censor", "delay=50", "sni-rst")


if __name__ == "__main__":
    unittest.main(verbosity=2)
