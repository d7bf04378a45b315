#!/usr/bin/python3
"""tarnveil-cli end to end, inside the lab's client namespace.

Usage: cli_lab_test.py MODE --cli PROGRAM [--wrapper SCRIPT]
MODE names the censor mode the lab is in (in-lab.sh sets it): open, allowlist,
sni-rst, ip-block, edns-block, dns-stub, udp53-redirect, flaky, sni-block,
sni-allow, delay; or `usage` for the
checks of bad input (no network).
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
DNS_KEYS = ["dnsSpoof", "dnsGenuine", "dnsVia"]
SNAP_KEYS = ["v", "created", "label", "status", "domains", "matrix", "basics", "ipinfo"]
# The transfer test's keys follow the verdict when it ran (on by default).
XFER_RES_KEYS = ["xfer", "down", "downBytes", "downMs", "downKbps", "up", "upBytes", "upMs",
                 "upKbps", "upAcks"]
XFER_SNAP_KEYS = ["xfer", "down", "downBytes", "downKbps", "up", "upBytes", "upKbps"]
FOREIGN = ("198.19.", "1.1.1.1", "8.8.8.8", "9.9.9.9")


CYRILLIC = re.compile("[\u0400-\u04ff]")
VPN_WARNING = "Похоже, активен VPN / прокси / TUN."
DNS_WARNING = "Системный DNS отдаёт «домен не найден» для известных сайтов"


def res_lines(out):
    return [json.loads(l) for l in out.splitlines() if l.startswith('{"t":"res"')]


DOMAIN_KEYS = ["host", "group", "verdict", "ip", "dns", "tcp", "tls", "http", "httpCode", "tlsMs",
               "cert", "certOk"]
UDP_ROWS = ["Yandex DNS 77.88.8.8", "Cloudflare 1.1.1.1", "Google 8.8.8.8", "Quad9 9.9.9.9"]
HELLO_KEYS = ["hello", "helloChrome", "helloChromeMs", "helloChromeDetail", "helloFirefox",
              "helloFirefoxMs", "helloFirefoxDetail"]


def json_lines(out):
    return [json.loads(l, object_pairs_hook=lambda kv: kv) for l in out.splitlines()]


class Cli:
    def __init__(self, program, wrapper):
        self.dir = tempfile.mkdtemp(prefix="tv-cli-")
        self.program = os.path.join(self.dir, os.path.basename(program))
        shutil.copy2(program, self.program)
        self.wrapper = os.path.abspath(wrapper) if wrapper else ""

    def run(self, *args, stdin=None, timeout=240):
        # Russian unless a test asks otherwise: the default follows the locale.
        lang = [] if "--lang" in args else ["--lang", "ru"]
        cmd = ([self.wrapper] if self.wrapper else []) + [self.program] + list(args) + lang
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


def nets(out):
    return [m for m in (json.loads(l) for l in out.splitlines()) if m["t"] == "net"]


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
        # Without the DNS check the messages are exactly those of older builds.
        rc, out, err = self.cli.run("domains", "--json", "--timeout", "2000", "--threads", "16",
                                    "--no-dns-check")
        self.assertEqual(rc, 0, err)
        msgs = [json.loads(l, object_pairs_hook=lambda kv: kv) for l in out.splitlines()]
        res = [m for m in msgs if dict(m)["t"] == "res"]
        self.assertEqual(len(res), 39)
        for m in res:
            self.assertEqual([k for k, _ in m], RES_KEYS + XFER_RES_KEYS)
        # Without the transfer test the messages are the ones of before.
        rc, plain, err = self.cli.run("domains", "--json", "--no-xfer", "--no-dns-check",
                                      "--timeout", "2000", "--threads", "16")
        self.assertEqual(rc, 0, err)
        for line in plain.splitlines():
            m = json.loads(line, object_pairs_hook=lambda kv: kv)
            if dict(m)["t"] == "res":
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
        # The DNS check and the transfer test are on by default: their keys follow the page's.
        self.assertEqual([k for k, _ in snap["domains"][0]], DOMAIN_KEYS + XFER_SNAP_KEYS + DNS_KEYS)

    def test_nothing_freezes_or_crawls_over_repeated_runs(self):
        for i in range(ARGS.repeat):
            rc, out, err = self.cli.run("domains", "--json", "--timeout", "2000", "--threads", "8")
            self.assertEqual(rc, 0, err)
            got = {m["host"]: m["xfer"] for m in res_lines(out)}
            self.assertEqual(len(got), 39)
            self.assertEqual({h: x for h, x in got.items() if x != "ok"}, {}, "run %d" % i)
        # A server that sends less than the volume: no conclusion, never "ok".
        rc, out, err = self.cli.run("scan", "-", "--json", "--timeout", "1500",
                                    stdin=b"short.lab.test|short.lab.test\n")
        self.assertEqual(rc, 0, err)
        self.assertEqual([m["xfer"] for m in res_lines(out)], ["short"])

    def test_warnings_of_a_local_interceptor_and_of_dns_nx(self):
        # The lab answers in well under a millisecond: as a VPN on this machine would.
        rc, out, err = self.cli.run("basics", "--timeout", "1500")
        self.assertEqual(rc, 0, err)
        self.assertIn(VPN_WARNING, out)
        rc, out, err = self.cli.run("domains", "-", "--timeout", "1500", stdin=(
            "# [ru] r\nya.ru\nnx.lab.test\nnx.lab.test\n# [cloud] c\nnx.lab.test\n").encode())
        self.assertEqual(rc, 0, err)
        self.assertIn(DNS_WARNING, out)
        self.assertNotIn(VPN_WARNING, out)  # one connect is too few to tell

    def test_english(self):
        ips = self.cli.write("ips.txt", "1.1.1.1\n77.88.55.242\n")
        snis = self.cli.write("snis.txt", "-\n?\nya.ru\ngoogle.com\n")
        runs = [("domains", "--save", "en", "--hello", "all"), ("basics",),
                ("matrix", "--ips", ips, "--snis", snis, "--repeat", "2"), ("domains", "--save", "en2")]
        for args in runs:
            rc, out, err = self.cli.run(*args, "--lang", "en", "--timeout", "1500")
            self.assertEqual(rc, 0, err)
            self.assertIsNone(CYRILLIC.search(out + err), out + err)
        self.assertIn("Status: OPEN · world 8/8", out)
        a, b = self.cli.scans()
        for args in (("report", a), ("compare", a, b), ("--help",), ("matrix",), ("report", ".")):
            rc, out, err = self.cli.run(*args, "--lang", "en")
            self.assertIsNone(CYRILLIC.search(out + err), out + err)
        self.assertIn("it is a folder, not a file", err)

    def test_report_and_compare_of_saved_snapshots(self):
        for label in ("a", "b"):
            rc, out, err = self.cli.run("scan", "-", "--timeout", "1500", "--save", label,
                                        stdin=b"ok.lab.test\nrst.lab.test\n")
            self.assertIn(rc, (0, 3), err)
        a, b = self.cli.scans()
        rc, out, err = self.cli.run("report", a)  # a name in the scans folder
        self.assertEqual(rc, 0, err)
        lines = out.splitlines()
        self.assertRegex(lines[0], r"^Tarnveil \d+\.\d+\.\d+ \| \d\d\.\d\d\.\d{4}, \d\d:\d\d:\d\d \| a$")
        self.assertTrue(lines[1].startswith("Статус: "), out)
        self.assertIn("[custom] ok.lab.test -> ПРОХОДИТ (ip ", out)
        self.assertIn("[custom] rst.lab.test -> ", out)
        rc, out, err = self.cli.run("compare", os.path.join(self.cli.dir, "scans", a), b)
        self.assertEqual(rc, 0, err)
        self.assertTrue(out.startswith("A: "), out)
        self.assertIn("\nB: ", out)
        self.assertIn("Домены: изменилось ", out)

    def test_basics(self):
        rc, out, err = self.cli.run("basics", "--json", "--timeout", "1500")
        self.assertEqual(rc, 0, err)
        msgs = [json.loads(l) for l in out.splitlines()]
        rows = nets(out)
        self.assertEqual(len(rows), 20)
        self.assertEqual([m["state"] for m in rows[4:8]], ["ok"] * 4)
        self.assertTrue(all(m["detail"].startswith("A ") for m in rows[4:8]))
        self.assertEqual([m.get("intercept") for m in rows[4:8]], ["no"] * 4)
        self.assertEqual([m["group"] for m in rows[12:]], ["DNS по DoT"] * 4 + ["DNS по DoH"] * 4)
        self.assertEqual([m["state"] for m in rows[12:]], ["ok"] * 8)
        info = [m for m in msgs if m["t"] == "ipinfo"]
        self.assertEqual(len(info), 1)
        self.assertEqual(json.loads(info[0]["body"])["status"], "success")
        self.assertEqual(msgs[-1]["t"], "done")

    def test_dns_check_raises_no_false_alarm(self):
        # Another address per resolver (a CDN) and a site's own bad certificate.
        lst = self.cli.write("l.txt", "# [world]\ncdn.lab.test\nselfsigned.lab.test\nok.lab.test\n")
        rc, out, err = self.cli.run("domains", lst, "--json", "--timeout", "2000")
        self.assertEqual(rc, 0, err)
        res = {m["host"]: m for m in (json.loads(l) for l in out.splitlines()) if m["t"] == "res"}
        self.assertEqual({h: m["dnsSpoof"] for h, m in res.items()},
                         {"cdn.lab.test": "skip", "selfsigned.lab.test": "no", "ok.lab.test": "skip"})
        rc, out, err = self.cli.run("domains", lst, "--timeout", "2000")
        self.assertNotIn("подмена DNS", out)

    def test_hello_all_three_pass_for_names_literals_and_openssl(self):
        jobs = b"ok.lab.test|ok.lab.test\n1.1.1.1|vk.com\nsserver.lab.test|sserver.lab.test\n"
        rc, out, err = self.cli.run("scan", "-", "--hello", "all", "--json", "--timeout", "2000",
                                    "--threads", "1", stdin=jobs)
        self.assertEqual(rc, 0, err)
        res = [m for m in json_lines(out) if dict(m)["t"] == "res"]
        self.assertEqual(len(res), 3)
        for m in res:
            # Each feature's keys in their block after the verdict.
            self.assertEqual([k for k, _ in m], RES_KEYS + XFER_RES_KEYS + HELLO_KEYS + DNS_KEYS)
            m = dict(m)
            self.assertEqual((m["tls"], m["hello"], m["helloChrome"], m["helloFirefox"]),
                             ("ok", "all", "ok", "ok"), m)
            self.assertEqual(m["helloChromeDetail"], "server hello", m)
        # The table gets the token column; the snapshot keeps the words.
        rc, out, err = self.cli.run("scan", "-", "--hello", "all", "--timeout", "2000",
                                    "--save", "fp", stdin=jobs)
        self.assertEqual(rc, 0, err)
        self.assertIn("Отпечаток", out.splitlines()[0])
        self.assertEqual(out.count("L+C+F+"), 3, out)
        with open(os.path.join(self.cli.dir, "scans", self.cli.scans()[0]), encoding="utf-8") as f:
            entry = json.loads(f.read(), object_pairs_hook=lambda kv: kv)
        entry = dict(entry)["domains"][0]
        keys = [k for k, _ in entry]
        self.assertEqual(keys[keys.index("hello"):keys.index("hello") + 3],
                         ["hello", "helloChrome", "helloFirefox"])

    def test_hello_chrome_is_the_tls_stage(self):
        rc, out, err = self.cli.run("scan", "-", "--hello", "chrome", "--json", "--timeout", "2000",
                                    stdin=b"ok.lab.test|ok.lab.test\n")
        self.assertEqual(rc, 0, err)
        m = dict([m for m in json_lines(out) if dict(m)["t"] == "res"][0])
        self.assertEqual((m["tls"], m["tlsDetail"], m["cert"], m["http"], m["verdict"]),
                         ("ok", "server hello", "", "skip", "pass"))
        self.assertEqual((m["hello"], m["helloChrome"], m["helloFirefox"]), ("chrome", "ok", "skip"))

    def test_nothing_passing_exits_3(self):
        rc, out, err = self.cli.run("scan", "-", "--timeout", "1000",
                                    stdin=b"refused.lab.test|refused.lab.test\n")
        self.assertEqual(rc, 3, out + err)
        self.assertIn("blocked", out)


LISTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "web", "lists")


def without_times(v):
    # Times, amounts moved, the save stamp and the order of arrival differ from run to run;
    # the rest must not.
    if isinstance(v, dict):
        return {k: without_times(x) for k, x in v.items()
                if not k.lower().endswith(("ms", "kbps", "bytes"))
                and k not in ("created", "tcpShared", "upAcks")}
    if isinstance(v, list):
        # Rows arrive in the order the probes finish; compare them as a set.
        return sorted((without_times(x) for x in v), key=lambda x: json.dumps(x, sort_keys=True))
    return v


class SharedTcpSameAsBefore:
    """The default matrix reads the same with the TCP pre-phase as without it."""

    def matrix(self, cli, off):
        os.environ.pop("TV_NO_TCP_SWEEP", None)
        if off:
            os.environ["TV_NO_TCP_SWEEP"] = "1"
        try:
            # Under Wine, sixteen handshakes at once on a loaded machine can miss a
            # one-second time-out; the comparison is of the pre-phase, not of that.
            wine = bool(ARGS.wrapper)
            args = ["matrix", "--ips", os.path.join(LISTS, "mx_ips.txt"), "--snis",
                    os.path.join(LISTS, "mx_snis.txt"), "--timeout", "3000" if wine else "1000",
                    "--threads", "8" if wine else "16"]
            before = set(cli.scans())
            rc, text, err = cli.run(*args, "--save", "cmp")
            saved = sorted(set(cli.scans()) - before)
            self.assertEqual(len(saved), 1, err)
            with open(os.path.join(cli.dir, "scans", saved[0]), encoding="utf-8") as f:
                snap = json.load(f)
            rc2, out, err = cli.run(*args, "--json")
            self.assertEqual(rc, rc2, err)
        finally:
            os.environ.pop("TV_NO_TCP_SWEEP", None)
        rows = sorted(res_lines(out), key=lambda m: m["idx"])
        text = re.sub(r"\d+([.,]\d+)? ?(мс|ms|с|s)\b", "T", text.replace(saved[0], "SNAP"))
        return rc, text, snap, rows

    def test_default_matrix_same_with_shared_tcp(self):
        cli = Cli(ARGS.cli, ARGS.wrapper)
        rc_on, text_on, snap_on, rows_on = self.matrix(cli, False)
        rc_off, text_off, snap_off, rows_off = self.matrix(cli, True)
        self.assertEqual(rc_on, rc_off)
        self.assertEqual(text_on, text_off)
        self.assertEqual(without_times(snap_on["matrix"]), without_times(snap_off["matrix"]))
        self.assertEqual(without_times(rows_on), without_times(rows_off))
        self.assertEqual(len(rows_on), 108)
        # 203.0.113.10 is never hosted: its cells took the one shared time-out.
        shared = {m["host"] for m in rows_on if m.get("tcpShared")}
        self.assertIn("203.0.113.10", shared)
        self.assertFalse(any(m.get("tcpShared") for m in rows_off))
        for m in rows_on:
            self.assertEqual(m.get("tcpShared", False), m["tcp"] != "ok", m)
            self.assertEqual(list(m)[-1] == "tcpShared", "tcpShared" in m, m)


class AllowlistMode(SharedTcpSameAsBefore, unittest.TestCase):
    def test_default_list_reads_as_allowlist(self):
        cli = Cli(ARGS.cli, ARGS.wrapper)
        rc, out, err = cli.run("domains", "--timeout", "1500", "--threads", "24")
        self.assertEqual(rc, 0, err)
        self.assertEqual(status_line(out), "БЕЛЫЕ СПИСКИ · мир 0/8 · ru 17/17", out)


MATRIX_SNIS = "-\nya.ru\nvk.com\ngoogle.com   # foreign\nyoutube.com\n"


class SniResetMode(SharedTcpSameAsBefore, unittest.TestCase):
    def test_matrix_tells_sni_filtering(self):
        cli = Cli(ARGS.cli, ARGS.wrapper)
        ips = cli.write("ips.txt", "# control\n1.1.1.1\n")
        snis = cli.write("snis.txt", MATRIX_SNIS)
        rc, out, err = cli.run("matrix", "--ips", ips, "--snis", snis, "--timeout", "1500")
        self.assertEqual(rc, 0, err)
        self.assertIn("1.1.1.1 — Фильтр по SNI: белые имена проходят (2/2), чужие режутся.", out)
        self.assertNotIn("адрес отрезан", out)


class FpChromeMode(unittest.TestCase):
    def test_matrix_tells_a_filter_by_fingerprint_for_the_foreign_address(self):
        cli = Cli(ARGS.cli, ARGS.wrapper)
        ips = cli.write("ips.txt", "1.1.1.1\n77.88.55.242   # ya.ru, domestic\n")
        snis = cli.write("snis.txt", MATRIX_SNIS)
        rc, out, err = cli.run("matrix", "--ips", ips, "--snis", snis, "--hello", "all",
                               "--timeout", "1500", "--threads", "10")
        self.assertEqual(rc, 0, err)
        self.assertIn("1.1.1.1 — Фильтр по отпечатку TLS: пропускает ClientHello библиотеки и "
                      "Firefox, режет Chrome. Туннель, который прикидывается Chrome", out)
        self.assertNotIn("77.88.55.242 — Фильтр по отпечатку", out)
        # Every library handshake passed, but the run is not called "all passes".
        self.assertNotIn("Всё проходит", out)
        self.assertIn("ClientHello браузера режется", out)
        # The fingerprint note comes before the address's own note.
        lines = [l for l in out.splitlines() if l.startswith("1.1.1.1 — ")]
        self.assertEqual(len(lines), 2, out)
        self.assertIn("отпечатку TLS", lines[0])
        self.assertIn("L+C-F+", out)

    def test_hellos_one_by_one(self):
        cli = Cli(ARGS.cli, ARGS.wrapper)
        jobs = b"1.1.1.1|google.com\n"
        got = {}
        for mode in ("lib", "chrome", "firefox"):
            rc, out, err = cli.run("scan", "-", "--hello", mode, "--json", "--timeout", "1500",
                                   stdin=jobs)
            got[mode] = [dict(m) for m in json_lines(out) if dict(m)["t"] == "res"][0]["verdict"]
        self.assertEqual(got, {"lib": "pass", "chrome": "dpi", "firefox": "pass"})


class IpBlockMode(SharedTcpSameAsBefore, unittest.TestCase):
    def test_matrix_tells_an_address_block(self):
        cli = Cli(ARGS.cli, ARGS.wrapper)
        ips = cli.write("ips.txt", "1.1.1.1\n")
        snis = cli.write("snis.txt", MATRIX_SNIS)
        rc, out, err = cli.run("matrix", "--ips", ips, "--snis", snis, "--timeout", "1000")
        self.assertEqual(rc, 3, out + err)  # nothing passed
        self.assertIn("1.1.1.1 — TCP:443 до этого IP вообще не проходит — адрес отрезан", out)
        self.assertNotIn("Фильтр по SNI", out)


class EdnsBlockMode(unittest.TestCase):
    def test_basics_reads_the_blocked_encrypted_resolvers(self):
        rc, out, err = Cli(ARGS.cli, ARGS.wrapper).run("basics", "--json", "--timeout", "1500")
        self.assertEqual(rc, 0, err)
        rows = nets(out)
        self.assertEqual(len(rows), 20)
        # DoT then DoH: Yandex works, the other three are cut.
        self.assertEqual([m["state"] for m in rows[12:]], ["ok"] + ["timeout"] * 3 + ["ok"] + ["timeout"] * 3)
        self.assertEqual([m.get("intercept") for m in rows[4:8]], ["no", "skip", "skip", "skip"])


class DnsStubMode(unittest.TestCase):
    def test_domains_mark_the_swapped_rows_with_the_genuine_address(self):
        cli = Cli(ARGS.cli, ARGS.wrapper)
        rc, out, err = cli.run("domains", "--timeout", "2000", "--threads", "16", "--save", "stub")
        self.assertEqual(rc, 0, err)
        marked = re.findall(r"^(\S+) .* подмена DNS → (198\.19\.1\.\d+)\r?$", out, re.M)
        self.assertEqual(sorted(h for h, _ in marked),
                         sorted(["google.com", "youtube.com", "cloudflare.com", "github.com",
                                 "wikipedia.org", "microsoft.com", "telegram.org", "discord.com"]), out)
        self.assertEqual(len(set(a for _, a in marked)), 8, "each its own genuine address")
        self.assertIn("Подмена DNS. Для части сайтов системный DNS отдаёт чужой адрес", out)
        with open(os.path.join(cli.dir, "scans", cli.scans()[0]), encoding="utf-8") as f:
            snap = json.load(f)
        spoofed = {d["host"]: d["dnsGenuine"] for d in snap["domains"] if d["dnsSpoof"] == "yes"}
        self.assertEqual(spoofed, {h: a for h, a in marked})
        # The verdict keeps its rule: the stub answers, so the rows pass.
        self.assertTrue(all(d["verdict"] == "pass" for d in snap["domains"] if d["host"] in spoofed))


class Udp53RedirectMode(unittest.TestCase):
    def test_basics_reads_the_udp_rows_as_intercepted(self):
        cli = Cli(ARGS.cli, ARGS.wrapper)
        rc, out, err = cli.run("basics", "--json", "--timeout", "1500")
        self.assertEqual(rc, 0, err)
        rows = nets(out)
        self.assertEqual([m["state"] for m in rows[4:8]], ["ok"] * 4)
        self.assertEqual([m.get("intercept") for m in rows[4:8]], ["yes"] * 4)
        self.assertTrue(all("перехват: whoami 198.18.0.153" in m["detail"] for m in rows[4:8]))
        rc, out, err = cli.run("basics", "--timeout", "1500")
        self.assertIn("DNS-запросы на UDP/53 перехватывают.", out)
        self.assertIn("Перехват: " + ", ".join(UDP_ROWS), out)


class DelayMode(unittest.TestCase):
    """Every packet 20 ms late each way: a real network's latency."""

    def test_no_vpn_warning_over_a_real_round_trip(self):
        rc, out, err = Cli(ARGS.cli, ARGS.wrapper).run("basics", "--timeout", "1500")
        self.assertEqual(rc, 0, err)
        self.assertRegex(out, r"TCP:443.* ok +\d{2,} ")
        self.assertNotIn(VPN_WARNING, out)


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

    def test_version_paths_and_snapshots(self):
        rc, out, err = self.cli.run("--version", timeout=60)
        self.assertEqual(rc, 0, err)
        self.assertRegex(out, r"^tarnveil-cli \d+\.\d+\.\d+\r?\n$")
        self.check(["domains", self.cli.dir], needle="это папка")
        self.check(["report", self.cli.dir], needle="это папка")
        self.check(["report", self.cli.write("not.json", "[1, 2]")], needle="не снимок")
        self.check(["report", "nope.json"], needle="нет такого файла")
        self.check(["compare", self.cli.write("one.json", "{}")], needle="compare")

    def test_lines_past_the_job_cap_are_counted(self):
        # Loopback only: every connect is refused at once.
        rc, out, err = self.cli.run("scan", "-", "--json", "--threads", "48", "--timeout", "500",
                                    stdin=b"127.0.0.1|\n" * 3005, timeout=240)
        self.assertEqual(len(res_lines(out)), 3000, err)
        self.assertIn("отброшено строк: 5", err)

    def test_help(self):
        rc, out, err = self.cli.run("--help", timeout=60)
        self.assertEqual(rc, 0)
        self.assertIn("tarnveil-cli", out)
        self.assertIn("--hello", out)

    def test_hello_takes_one_of_four_words(self):
        self.check(["scan", "-", "--hello", "safari"], needle="--hello")
        self.check(["matrix", "--hello"], needle="--hello")

    def test_repeat_takes_one_to_ten(self):
        for bad in ("0", "11", "x", "-2"):
            self.check(["scan", "-", "--repeat", bad], needle="--repeat: ожидалось целое от 1 до 10")
        self.check(["scan", "-", "--repeat"], needle="--repeat")


class TransferMode(unittest.TestCase):
    """A freeze or throttle mode: foreign rows frozen or slow, domestic ones ok."""

    def test_domains_and_matrix(self):
        cli = Cli(ARGS.cli, ARGS.wrapper)
        want = "slow" if ARGS.mode == "throttle" else "frozen"
        rc, out, err = cli.run("domains", "--json", "--timeout", "1500", "--threads", "16")
        self.assertEqual(rc, 0, err)
        rows = res_lines(out)
        self.assertEqual(len(rows), 39)
        for m in rows:
            foreign = m["ip"].startswith(FOREIGN)
            self.assertEqual(m["verdict"], "pass", m["host"])
            self.assertEqual(m["xfer"], want if foreign else "ok", m["host"])
        rc, out, err = cli.run("domains", "--timeout", "1500", "--threads", "16")
        self.assertIn("ЗАМОРОЗКА" if want == "frozen" else "МЕДЛЕННО", out)

        ips = cli.write("ips.txt", "1.1.1.1\n77.88.55.242\n")
        snis = cli.write("snis.txt", MATRIX_SNIS)
        rc, out, err = cli.run("matrix", "--ips", ips, "--snis", snis, "--timeout", "1500")
        self.assertEqual(rc, 0, err)
        self.assertIn("1.1.1.1 — Рукопожатие проходит, но " +
                      ("данные встают" if want == "frozen" else "скорость режется"), out)
        self.assertIn("туннель на этот адрес", out)
        self.assertNotIn("1.1.1.1 — Пускает", out)
        self.assertNotIn("белые списки сейчас сняты", out)  # never called lifted
        self.assertIn("77.88.55.242 — Пускает и белые, и чужие SNI", out)


RANDOM_HEAD = re.compile(r"\?[a-z]{10}\.(com|net|org|info|io|ru)$")


def grid(out):
    """The matrix grid of plain output: {ip: {column head: cell text}}."""
    lines = out.splitlines()
    at = next(i for i, l in enumerate(lines) if l.startswith("IP \\ SNI"))
    head = lines[at]
    starts = [m.start() for m in re.finditer(r"(?<=  )\S", head)]
    names = [head[a:b].strip() for a, b in zip(starts, starts[1:] + [len(head)])]
    rows = {}
    for line in lines[at + 1:]:
        if not line.strip() or line.startswith(" "):
            break
        ip = line.split(" ", 1)[0]
        rows[ip] = {n: line[a:b].strip() for n, a, b in zip(names, starts, starts[1:] + [None])}
    return names, rows


def random_column(test, names):
    hits = [n for n in names if RANDOM_HEAD.match(n)]
    test.assertEqual(len(hits), 1, names)
    return hits[0]


NAME_SNIS = MATRIX_SNIS + "?   # a made-up name\n"


class FlakyMode(unittest.TestCase):
    """Half the hellos to foreign addresses are reset at random."""

    def scan(self, cli, jobs, repeat, *extra):
        rc, out, err = cli.run("scan", "-", "--repeat", str(repeat), "--no-http", "--timeout",
                               "1500", "--threads", "4", *extra, stdin=jobs.encode())
        self.assertIn(rc, (0, 3), err)
        return out

    def test_repeats_tell_the_unstable_rows(self):
        cli = Cli(ARGS.cli, ARGS.wrapper)
        foreign = ["1.1.1.1", "8.8.8.8", "9.9.9.9"]
        domestic = ["77.88.55.242", "77.88.8.8"]
        jobs = "".join(ip + "|ya.ru\n" for ip in foreign + domestic)
        rows = {l.split(" ", 1)[0]: l for l in self.scan(cli, jobs, 5).splitlines()
                if l.split(" ", 1)[0] in foreign + domestic}
        self.assertEqual(sorted(rows), sorted(foreign + domestic), rows)
        for ip in domestic:
            self.assertNotIn("нестабильно", rows[ip])
            self.assertIn("pass", rows[ip])
        for ip in foreign:
            line = rows[ip]
            # Five tries agree by chance once in sixteen: such a row gets ten more.
            if "нестабильно" not in line:
                line = next(l for l in self.scan(cli, ip + "|ya.ru\n", 10).splitlines()
                            if l.startswith(ip + " "))
            self.assertRegex(line, r"нестабильно [1-9]/(5|10)\b")

        # The wire: one res per job with tries and passes last; every try counted.
        res = [dict(m) for m in json_lines(self.scan(cli, jobs, 5, "--json"))
               if dict(m)["t"] == "res"]
        self.assertEqual(len(res), len(foreign + domestic))
        for m in res:
            self.assertEqual(list(m)[-2:], ["tries", "passes"], m)
            self.assertEqual(m["tries"], 5)
            self.assertTrue(0 <= m["passes"] <= 5, m)
            if m["ip"] in domestic:
                self.assertEqual(m["passes"], 5, m)


class NameListMode(unittest.TestCase):
    """sni-block cuts listed foreign names; sni-allow lets only listed names through."""

    def test_random_name_tells_the_kind_of_list(self):
        cli = Cli(ARGS.cli, ARGS.wrapper)
        ips = cli.write("ips.txt", "1.1.1.1\n")
        snis = cli.write("snis.txt", NAME_SNIS)
        rc, out, err = cli.run("matrix", "--ips", ips, "--snis", snis, "--timeout", "1500",
                               "--no-xfer", "--save")
        self.assertEqual(rc, 0, err)
        names, rows = grid(out)
        rand = random_column(self, names)
        cell = rows["1.1.1.1"][rand]
        notes = [l for l in out.splitlines() if l.startswith("1.1.1.1 — ")]
        if ARGS.mode == "sni-block":
            self.assertRegex(cell, r"^(OK|ALERT)")
            self.assertIn("1.1.1.1 — Фильтр по имени — чёрный список: случайное имя проходит, "
                          "режутся только имена из списка: google.com, youtube.com.", notes)
        else:
            self.assertRegex(cell, r"^(DPI|BLOCK)")
            self.assertIn("1.1.1.1 — Фильтр по имени — белый список: проходят только белые имена, "
                          "случайное имя режется.", notes)
        # The name note comes first; the existing note follows unchanged.
        self.assertIn("Фильтр по имени", notes[0])
        self.assertEqual(notes[1], "1.1.1.1 — Фильтр по SNI: белые имена проходят (2/2), чужие "
                                   "режутся. Хороший знак: сервер где угодно + маскировка под "
                                   "белый SNI (Reality) может сработать.")
        # The snapshot names the made-up name in its list and as `rand`.
        with open(os.path.join(cli.dir, "scans", cli.scans()[0]), encoding="utf-8") as f:
            snap = json.load(f)
        self.assertEqual("?" + snap["matrix"]["rand"], rand)
        self.assertEqual(snap["matrix"]["snis"][-1], snap["matrix"]["rand"])
        self.assertIn(snap["matrix"]["rand"], [c["sni"] for c in snap["matrix"]["cells"]])


# A certificate name written to take over a terminal: set the title, clear the
# screen, reverse the line; with markup for the page.
HOSTILE_CN = "\x1b]0;t\x07\u202e\x1b[2J\u009b31m<img src=x onerror=alert(1)>gpj.exe"


def hostile_server():
    """A TLS server on 127.0.0.1:443 of the client namespace whose certificate
    carries HOSTILE_CN, or a 64 KiB common name for the SNI long.test. Answers
    one HTTP request per connection. Returns the listening socket."""
    import datetime
    import socket
    import ssl
    import threading
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
    from cryptography.x509.oid import NameOID

    d = tempfile.mkdtemp(prefix="tv-hostile-")
    key = ec.generate_private_key(ec.SECP256R1())
    key_pem = key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                serialization.NoEncryption())
    now = datetime.datetime.now(datetime.timezone.utc)

    def context(cn):
        name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, cn, _validate=False)])
        cert = (x509.CertificateBuilder().subject_name(name).issuer_name(name)
                .public_key(key.public_key()).serial_number(x509.random_serial_number())
                .not_valid_before(now - datetime.timedelta(days=1))
                .not_valid_after(now + datetime.timedelta(days=2)).sign(key, hashes.SHA256()))
        path = os.path.join(d, "c%d.pem" % len(cn))
        with open(path, "wb") as f:
            f.write(cert.public_bytes(serialization.Encoding.PEM) + key_pem)
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(path)
        return ctx

    main_ctx, long_ctx = context(HOSTILE_CN), context("L" * 65536)
    main_ctx.sni_callback = lambda s, name, c: setattr(s, "context", long_ctx) if name == "long.test" else None
    ls = socket.socket()
    ls.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    ls.bind(("127.0.0.1", 443))
    ls.listen(16)

    def serve(conn):
        try:
            with main_ctx.wrap_socket(conn, server_side=True) as t:
                t.settimeout(5)
                t.recv(4096)
                t.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok")
        except (OSError, ssl.SSLError):
            pass

    def accept():
        while True:
            try:
                conn, _ = ls.accept()
            except OSError:
                return
            threading.Thread(target=serve, args=(conn,), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    return ls


class HostileMode(unittest.TestCase):
    """Text from a server reaches the terminal and the log inert, --json exact."""

    @classmethod
    def setUpClass(cls):
        cls.server = hostile_server()

    @classmethod
    def tearDownClass(cls):
        cls.server.close()

    def test_certificate_name_cannot_drive_the_terminal(self):
        cli = Cli(ARGS.cli, ARGS.wrapper)
        jobs = b"127.0.0.1|evil.test\n127.0.0.1|long.test\n"
        rc, out, err = cli.run("scan", "-", "--no-xfer", "--timeout", "3000", stdin=jobs)
        self.assertIn(rc, (0, 3), err)
        rows = [l for l in out.splitlines() if l.startswith("127.0.0.1")]
        self.assertEqual(len(rows), 2, out)
        # The escapes are shown, not obeyed; the bidi override is shown too
        # (the column is 24 wide).
        self.assertIn("\\x1b]0;t\\x07\\u202e\\x1b", out)
        for text in (out, err):
            self.assertNotIn("\x1b", text)
            self.assertNotIn("\x07", text)
            self.assertNotIn("\u202e", text)
            self.assertNotIn("\u009b", text)
        log = os.path.join(cli.dir, "probe.log")
        if os.path.exists(log):
            with open(log, encoding="utf-8", errors="replace") as f:
                self.assertNotIn("\x1b", f.read())
        # --json carries the name exactly.
        rc, out, err = cli.run("scan", "-", "--no-xfer", "--json", "--timeout", "3000", stdin=jobs)
        certs = {m["sni"]: m["cert"] for m in res_lines(out)}
        self.assertEqual(certs["evil.test"], HOSTILE_CN)
        # The 64 KiB name is more than the probe takes: refused, and said so.
        self.assertEqual(certs["long.test"], "", certs)


SUITES = {"hostile": HostileMode, "open": OpenMode, "allowlist": AllowlistMode, "sni-rst": SniResetMode,
          "ip-block": IpBlockMode, "freeze-down": TransferMode, "freeze-up": TransferMode,
          "freeze": TransferMode, "throttle": TransferMode, "edns-block": EdnsBlockMode,
          "dns-stub": DnsStubMode, "udp53-redirect": Udp53RedirectMode, "fp-chrome": FpChromeMode,
          "flaky": FlakyMode, "sni-block": NameListMode, "sni-allow": NameListMode, "delay": DelayMode, "usage": Usage}


def main():
    global ARGS
    ap = argparse.ArgumentParser()
    ap.add_argument("mode", choices=sorted(SUITES))
    ap.add_argument("--cli", required=True)
    ap.add_argument("--wrapper", default="")
    ap.add_argument("--repeat", type=int, default=20, help="open runs without a freeze")
    ARGS = ap.parse_args()
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(SUITES[ARGS.mode])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
