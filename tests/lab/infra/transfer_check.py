#!/usr/bin/python3
"""The transfer censor modes (freeze-down, freeze-up, freeze, throttle), seen
from tv-client: 64 KiB down (eight pipelined GETs) or up (one POST) over TLS
to a foreign and a domestic host at once.

    in-lab.sh --censor MODE -- transfer_check.py MODE
"""
import concurrent.futures
import socket
import sys
import time
import unittest

from labcheck import handshake, lab, request, resolve

MODE = sys.argv[1]
del sys.argv[1:]
KIB64 = 65536


def transfer(name, up, quiet=2.0):
    """(outcome, plaintext bytes received, seconds): outcome is "done", "stall"
    (nothing for `quiet` seconds), "reset" or "eof"."""
    t0 = time.monotonic()
    with handshake(resolve(name), name, timeout=3.0) as t:
        t.settimeout(quiet)
        want = 1 if up else KIB64  # an upload is done once its answer begins
        t.sendall(request("POST", name, body=bytes(KIB64)) if up else request("GET", name) * 8)
        got = 0
        try:
            while got < want:
                d = t.recv(65536)
                if not d:
                    return "eof", got, time.monotonic() - t0
                got += len(d)
        except socket.timeout:
            return "stall", got, time.monotonic() - t0
        except ConnectionResetError:
            return "reset", got, time.monotonic() - t0
        return "done", got, time.monotonic() - t0


class Transfer(unittest.TestCase):
    def test_mode(self):
        self.assertEqual(lab("censor").stdout.strip(), MODE)
        cases = {"down foreign": ("ok.lab.test", False), "up foreign": ("google.com", True),
                 "down domestic": ("ya.ru", False), "up domestic": ("max.ru", True),
                 "down foreign 2": ("github.com", False)}
        with concurrent.futures.ThreadPoolExecutor(len(cases)) as pool:
            # A throttled upload is answered only at its end.
            quiet = 6.0 if MODE == "throttle" else 2.0
            futures = {k: pool.submit(transfer, *v, quiet) for k, v in cases.items()}
            got = {k: f.result() for k, f in futures.items()}
        outcome = {k: v[0] for k, v in got.items()}
        frozen = {"freeze-down": ("down foreign", "down foreign 2"), "freeze-up": ("up foreign",),
                  "freeze": ("down foreign", "down foreign 2", "up foreign")}.get(MODE, ())
        want = {k: "stall" if k in frozen else "done" for k in cases}
        self.assertEqual(outcome, want, got)
        for k in frozen:
            if k.startswith("down"):  # cut once 16 KiB (headers counted) came down
                self.assertTrue(8000 < got[k][1] < 16384, got[k])
        for k, (_, _, secs) in got.items():
            if MODE == "throttle" and "foreign" in k:
                self.assertTrue(2.8 <= secs <= 4.8, "%s took %.1f s" % (k, secs))
            elif k not in frozen:
                self.assertLess(secs, 1.5, k)


if __name__ == "__main__":
    unittest.main(verbosity=2)
