#!/usr/bin/python3
"""tarnveil-cli end to end, inside the lab's client namespace.

Usage: cli_lab_test.py MODE --cli PROGRAM [--wrapper SCRIPT]
MODE names the censor mode the lab is in (in-lab.sh sets it): open, allowlist,
sni-rst, ip-block; or `usage` for the checks of bad input (no network).
The program is copied into a fresh directory first, so its scans/ and
probe.log are this test's own.
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
RES_KEYS = ["t", "run", "idx", "host", "sni", "ip", "dns", "dnsMs", "tcp", "tcpMs", "tls",
            "tlsMs", "tlsDetail", "cert", "certOk", "http", "httpMs", "httpCode", "verdict"]
SNAP_KEYS = ["v", "created", "label", "status", "domains", "matrix", "basics", "ipinfo"]


class Cli:
    def __init__(self, program, wrapper):
        self.dir = tempfile.mkdtemp(prefix="tv-cli-")
        self.program = os.path.join(self.dir, os.path.basename(program))
        shutil.copy2(program, self.program)
        self.wrapper = os.path.abspath(wrapper) if wrapper else ""

    def run(self, *args, stdin=None, timeout=240):
        cmd = ([self.wrapper] if self.wrapper else []) + [self.program] + list(args)
        env = dict(os.environ)
        env.pop("NO_COLOR", None)
        p = subprocess.run(cmd, input=stdin, capture_output=True, timeout=timeout, env=env,
                           cwd=self.dir)
        return p.returncode, p.stdout.decode("utf-8", "replace"), p.stderr.decode("utf-8", "replace")

    def write(self, name, text):
        path = os.path.join(self.dir, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    def scans(self):
        d = os.path.join(self.dir, "scans")
        return sorted(os.listdir(d)) if os.path.isdir(d) else []


def status_line(out):
    lines = [l for l in out.splitlines() if l.startswith("Статус: ")]
    return lines[-1][len("Статус: "):] if lines else ""


class OpenMode(unittest.TestCase):
    def setUp(self):
        self.cli = Cli(ARGS.cli, ARGS.wrapper)

    def test_default_list_is_open(self):
        rc, out, err = self.cli.run("domains", "--timeout", "2000", "--threads", "16")
        self.assertEqual(rc, 0, err)
        self.assertTrue(status_line(out).startswith("ОТКРЫТО"), out)
        self.assertIn("Контроль (мир)", out)

    def test_json_lines_are_the_wire_format(self):
        rc, out, err = self.cli.run("domains", "--json", "--timeout", "2000", "--threads", "16")
        self.assertEqual(rc, 0, err)
        msgs = [json.loads(l, object_pairs_hook=lambda kv: kv) for l in out.splitlines()]
        res = [m for m in msgs if dict(m)["t"] == "res"]
        self.assertEqual(len(res), 39)
        for m in res:
            self.assertEqual([k for k, _ in m], RES_KEYS)
        self.assertEqual(sorted(dict(m)["idx"] for m in res), list(range(39)))
        last = dict(msgs[-1])
        self.assertEqual(last, {"t": "done", "run": 1, "cancelled": False})
        self.assertEqual(len(msgs), 40)
        # Exactly the native serialisation: compact, `t` first.
        for line in out.splitlines():
            self.assertTrue(line.startswith('{"t":"'), line)
            self.assertNotIn(": ", line.replace('": "', ''))

    def test_save_writes_a_snapshot_the_history_accepts(self):
        rc, out, err = self.cli.run("domains", "--timeout", "2000", "--threads", "16",
                                    "--save", "vpn off")
        self.assertEqual(rc, 0, err)
        files = self.cli.scans()
        self.assertEqual(len(files), 1, files)
        self.assertRegex(files[0], r"^scan_\d{8}_\d{6}_vpn_off\.json$")
        with open(os.path.join(self.cli.dir, "scans", files[0]), encoding="utf-8") as f:
            snap = json.loads(f.read(), object_pairs_hook=lambda kv: kv)
        self.assertEqual([k for k, _ in snap], SNAP_KEYS)
        snap = dict(snap)
        self.assertEqual(snap["label"], "vpn off")
        self.assertEqual(len(snap["domains"]), 39)
        self.assertEqual([k for k, _ in snap["domains"][0]],
                         ["host", "group", "verdict", "ip", "dns", "tcp", "tls", "http",
                          "httpCode", "tlsMs", "cert", "certOk"])

    def test_basics(self):
        rc, out, err = self.cli.run("basics", "--json", "--timeout", "1500")
        self.assertEqual(rc, 0, err)
        msgs = [json.loads(l) for l in out.splitlines()]
        nets = [m for m in msgs if m["t"] == "net"]
        self.assertEqual(len(nets), 12)
        self.assertEqual([m["state"] for m in nets[4:8]], ["ok"] * 4)
        self.assertTrue(all(m["detail"].startswith("A ") for m in nets[4:8]))
        info = [m for m in msgs if m["t"] == "ipinfo"]
        self.assertEqual(len(info), 1)
        self.assertEqual(json.loads(info[0]["body"])["status"], "success")
        self.assertEqual(msgs[-1]["t"], "done")

    def test_nothing_passing_exits_3(self):
        rc, out, err = self.cli.run("scan", "-", "--timeout", "1000",
                                    stdin=b"refused.lab.test|refused.lab.test\n")
        self.assertEqual(rc, 3, out + err)
        self.assertIn("blocked", out)


class AllowlistMode(unittest.TestCase):
    def test_default_list_reads_as_allowlist(self):
        cli = Cli(ARGS.cli, ARGS.wrapper)
        rc, out, err = cli.run("domains", "--timeout", "1500", "--threads", "24")
        self.assertEqual(rc, 0, err)
        self.assertEqual(status_line(out), "БЕЛЫЕ СПИСКИ · мир 0/8 · ru 17/17", out)


MATRIX_SNIS = "-\nya.ru\nvk.com\ngoogle.com   # foreign\nyoutube.com\n"


class SniResetMode(unittest.TestCase):
    def test_matrix_tells_sni_filtering(self):
        cli = Cli(ARGS.cli, ARGS.wrapper)
        ips = cli.write("ips.txt", "# control\n1.1.1.1\n")
        snis = cli.write("snis.txt", MATRIX_SNIS)
        rc, out, err = cli.run("matrix", "--ips", ips, "--snis", snis, "--timeout", "1500")
        self.assertEqual(rc, 0, err)
        self.assertIn("1.1.1.1 — Фильтр по SNI: белые имена проходят (2/2), чужие режутся.", out)
        self.assertNotIn("адрес отрезан", out)


class IpBlockMode(unittest.TestCase):
    def test_matrix_tells_an_address_block(self):
        cli = Cli(ARGS.cli, ARGS.wrapper)
        ips = cli.write("ips.txt", "1.1.1.1\n")
        snis = cli.write("snis.txt", MATRIX_SNIS)
        rc, out, err = cli.run("matrix", "--ips", ips, "--snis", snis, "--timeout", "1000")
        self.assertEqual(rc, 3, out + err)  # nothing passed
        self.assertIn("1.1.1.1 — TCP:443 до этого IP вообще не проходит — адрес отрезан", out)
        self.assertNotIn("Фильтр по SNI", out)


class Usage(unittest.TestCase):
    """Bad input ends before anything is probed: no lab needed."""

    def setUp(self):
        self.cli = Cli(ARGS.cli, ARGS.wrapper)

    def check(self, args, stdin=None, needle=""):
        rc, out, err = self.cli.run(*args, stdin=stdin, timeout=60)
        self.assertEqual(rc, 2, out + err)
        self.assertIn(needle, err)
        self.assertEqual(out, "")

    def test_missing_file(self):
        self.check(["domains", os.path.join(self.cli.dir, "nope.txt")], needle="nope.txt")

    def test_list_without_hosts(self):
        self.check(["domains", "-"], stdin=b"# [ru] only a comment\n\n", needle="нет ни одного")

    def test_threads_not_a_number(self):
        self.check(["domains", "--threads", "abc"], needle="--threads")

    def test_unknown_command_and_option(self):
        self.check(["probe"], needle="неизвестная команда")
        self.check(["domains", "--fast"], needle="--fast")

    def test_matrix_needs_both_lists_and_at_most_3000(self):
        self.check(["matrix", "--ips", "x"], needle="--snis")
        ips = self.cli.write("ips.txt", "\n".join("10.0.%d.%d" % (i // 250, i % 250) for i in range(61)))
        snis = self.cli.write("snis.txt", "\n".join("s%d.example" % i for i in range(50)))
        self.check(["matrix", "--ips", ips, "--snis", snis], needle="3000")

    def test_help(self):
        rc, out, err = self.cli.run("--help", timeout=60)
        self.assertEqual(rc, 0)
        self.assertIn("tarnveil-cli", out)


SUITES = {"open": OpenMode, "allowlist": AllowlistMode, "sni-rst": SniResetMode,
          "ip-block": IpBlockMode, "usage": Usage}


def main():
    global ARGS
    ap = argparse.ArgumentParser()
    ap.add_argument("mode", choices=sorted(SUITES))
    ap.add_argument("--cli", required=True)
    ap.add_argument("--wrapper", default="")
    ARGS = ap.parse_args()
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(SUITES[ARGS.mode])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
