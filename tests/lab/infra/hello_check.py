#!/usr/bin/python3
"""Censor modes that judge a ClientHello as a whole: the Chrome fingerprint,
the flaky cuts and the allow-list by name, with hellos made by hand.

    in-lab.sh --censor MODE -- hello_check.py MODE
    (fp-chrome, flaky, flaky-nth, flaky-nth=ADDR, sni-allow, sni-block)
"""
import sys
import unittest

from labcheck import add_extension, after_bytes, after_hello, client_hello, lab, resolve

MODE = sys.argv[1]
del sys.argv[1:]

ALPS_H2 = bytes.fromhex("0003026832")  # ALPS extension data: the list ["h2"]
MADE_UP = "qhzkwmrtbe.com"


def addr(name):
    a = resolve(name)
    assert isinstance(a, str), name
    return a


class Hellos(unittest.TestCase):
    def test_mode(self):
        self.assertEqual(lab("censor").stdout.strip(), MODE)
        getattr(self, MODE.split("=")[0].replace("-", "_"))()

    def fp_chrome(self):
        chrome = add_extension(client_hello("ok.lab.test"), 0x44CD, ALPS_H2)
        self.assertIn(bytes.fromhex("44cd 0005 0003 02 6832"), chrome)
        foreign, domestic = addr("ok.lab.test"), addr("ya.ru")
        self.assertEqual(after_bytes(foreign, chrome, wait=2.0), "silence")
        self.assertEqual(after_bytes(domestic, chrome), "data")
        # Cut between two segments inside the extension: one of its halves is whole.
        for cut in (4, 7):
            at = chrome.index(bytes.fromhex("44cd")) + cut
            self.assertEqual(after_bytes(foreign, chrome, wait=2.0, split=at), "silence", cut)
        # ALPS with another protocol, and OpenSSL's own hello, pass.
        other = add_extension(client_hello("ok.lab.test"), 0x44CD,
                              bytes.fromhex("0009 08 687474702f312e31"))
        self.assertEqual(after_bytes(foreign, other), "data")
        self.assertEqual(after_hello(foreign, "ok.lab.test"), "data")

    def flaky_nth(self):
        foreign = addr("ok.lab.test")
        got = []
        for _ in range(3):
            got.append(after_hello(foreign, "ok.lab.test"))
            got.append(after_hello(addr("ya.ru"), "ya.ru"))  # not counted
        if "=" in MODE:  # only the listed address; google.com's is another
            got.append(after_hello(addr("google.com"), "google.com"))
            got.append(after_hello(addr("google.com"), "google.com"))
            self.assertEqual(got[-2:], ["data", "data"])
        self.assertEqual(got[:6], ["data", "data", "reset", "data", "data", "data"])
        self.assertEqual(after_hello(foreign, "ok.lab.test"), "reset")

    def flaky(self):
        got = [after_hello(addr("ok.lab.test"), "ok.lab.test") for _ in range(40)]
        self.assertEqual(set(got), {"data", "reset"})
        self.assertTrue(8 <= got.count("reset") <= 32, got.count("reset"))
        self.assertEqual({after_hello(addr("ya.ru"), "ya.ru") for _ in range(10)}, {"data"})

    def sni_allow(self):
        foreign, domestic = addr("google.com"), addr("ya.ru")
        self.assertEqual(after_hello(domestic, "ya.ru"), "data")
        self.assertEqual(after_hello(foreign, "vk.com"), "data", "any address, allowed name")
        for sni in ("google.com", MADE_UP, None):
            self.assertEqual(after_hello(domestic, sni), "silence", sni)
        # A big hello whose name sits in its second segment still gets through.
        big = add_extension(client_hello("ya.ru"), 0x0015, bytes(1600), first=True)
        self.assertEqual(after_bytes(domestic, big, wait=3.0), "data")
        big = add_extension(client_hello("google.com"), 0x0015, bytes(1600), first=True)
        self.assertEqual(after_bytes(domestic, big, wait=2.0), "silence")

    def sni_block(self):
        self.assertEqual(after_hello(addr("google.com"), "google.com"), "reset")
        self.assertEqual(after_hello(addr("google.com"), MADE_UP), "data")
        self.assertEqual(after_hello(addr("ya.ru"), MADE_UP), "data")


if __name__ == "__main__":
    unittest.main(verbosity=2)
