#!/usr/bin/python3
"""The same lab cases on both builds, side by side, inside the lab.

Usage: compare_lab.py MODE --linux-cli PROGRAM --windows-cli PROGRAM --wrapper SCRIPT

Runs one `scan` of the lab's behaviour hosts and one `basics` run with the
Linux tarnveil-cli natively and with the Windows one under Wine (through
SCRIPT, cmake/wine-run.sh), in the censor mode MODE that in-lab.sh has set.
Prints a table, one row per case, and fails when a state word, the verdict,
the certificate name or its check, or the HTTP code differ between the two.
Detail texts are printed but not compared: they carry each TLS library's own
status numbers, and Wine's Schannel words some failures differently.

Exit code 77 (skip) when the Linux program has not been built.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

# host|sni, with HTTP: every behaviour host of the lab plus the reference
# addresses, so that each layer and each failure shape is compared.
CASES = [
    "ok.lab.test", "wrongname.lab.test", "selfsigned.lab.test", "expired.lab.test",
    "wrongname.lab.test|", "ok.lab.test|",
    "alert.lab.test", "alert.lab.test|unknown.example.net", "alert.lab.test|",
    "clientcert.lab.test", "rst.lab.test", "silent.lab.test", "close.lab.test",
    "onebyte.lab.test", "appdata.lab.test",
    "http301.lab.test", "http10.lab.test", "http2.lab.test", "httpnone.lab.test",
    "httpclose.lab.test", "httpalert.lab.test", "httpsplit.lab.test",
    "refused.lab.test", "drop.lab.test", "blocked.lab.test", "blocked.lab.test|",
    "nx.lab.test", "servfail.lab.test", "empty.lab.test", "tarnveil-selftest.example|x",
    "1.1.1.1|", "1.1.1.1|yandex.ru", "1.1.1.1|example.com", "1.1.1.1|one.one.one.one",
    "77.88.8.8|ya.ru", "ya.ru", "vk.com", "google.com", "example.com",
]
COMPARED = ["dns", "tcp", "tls", "http", "verdict", "cert", "certOk", "httpCode", "dnsSpoof"]
NET_COMPARED = ["group", "state", "intercept"]
BASIC_ROWS = 20
TIMEOUT_MS = "1500"


def run_cli(program, wrapper, args, jobs=None):
    """Runs a copy of the program in a fresh directory (its probe.log and
    scans/ stay there) and returns the JSON messages it printed."""
    work = tempfile.mkdtemp(prefix="tv-compare-")
    try:
        exe = os.path.join(work, os.path.basename(program))
        shutil.copy2(program, exe)
        if jobs is not None:
            path = os.path.join(work, "jobs.txt")
            with open(path, "w", encoding="utf-8") as f:
                f.write("\n".join(jobs) + "\n")
            args = [args[0], path] + args[1:]
        cmd = ([wrapper] if wrapper else []) + [exe] + args
        p = subprocess.run(cmd, capture_output=True, timeout=300, cwd=work)
        out = p.stdout.decode("utf-8", "replace")
        msgs = []
        for line in out.splitlines():
            line = line.strip()
            if line.startswith("{"):
                msgs.append(json.loads(line))
        if not msgs or msgs[-1].get("t") != "done":
            raise RuntimeError("%s ended without a done message (exit %d):\n%s\n%s" % (
                " ".join(cmd), p.returncode, out, p.stderr.decode("utf-8", "replace")))
        return msgs
    finally:
        shutil.rmtree(work, ignore_errors=True)


def scan_results(msgs):
    return {m["idx"]: m for m in msgs if m["t"] == "res"}


def words(r, keys):
    return " ".join("%s=%s" % (k, json.dumps(r[k], ensure_ascii=False)) if k == "cert"
                    else "%s=%s" % (k, r[k]) for k in keys)


def short(r):
    """The compared values in a compact column form."""
    return "%s/%s/%s/%s %s %s%s %s" % (r["dns"], r["tcp"], r["tls"], r["http"], r["verdict"],
                                       "cert+" if r["certOk"] else "cert-",
                                       ":" + r["cert"] if r["cert"] else "", r["httpCode"])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("mode")
    ap.add_argument("--linux-cli", required=True)
    ap.add_argument("--windows-cli", required=True)
    ap.add_argument("--wrapper", required=True)
    a = ap.parse_args()
    if not os.path.isfile(a.linux_cli):
        print("compare: the Linux build's %s is missing; build it to compare" % a.linux_cli)
        return 77

    scan = ["scan", "--json", "--timeout", TIMEOUT_MS, "--threads", "8"]
    basics = ["basics", "--json", "--timeout", TIMEOUT_MS]
    lin = run_cli(a.linux_cli, None, scan, CASES)
    win = run_cli(a.windows_cli, a.wrapper, scan, CASES)
    lin_b = run_cli(a.linux_cli, None, basics)
    win_b = run_cli(a.windows_cli, a.wrapper, basics)

    rows, diffs = [], []
    lr, wr = scan_results(lin), scan_results(win)
    for i, case in enumerate(CASES):
        l, w = lr.get(i), wr.get(i)
        if l is None or w is None:
            diffs.append("%s: no result on %s" % (case, "Linux" if l is None else "Windows"))
            rows.append((case, short(l) if l else "-", short(w) if w else "-", "DIFF", "", ""))
            continue
        same = all(l.get(k) == w.get(k) for k in COMPARED)
        if not same:
            diffs.append("%s:\n  linux   %s\n  windows %s" % (case, words(l, COMPARED),
                                                             words(w, COMPARED)))
        rows.append((case, short(l), short(w), "same" if same else "DIFF", l["tlsDetail"],
                     w["tlsDetail"]))

    ln = [m for m in lin_b if m["t"] == "net"]
    wn = [m for m in win_b if m["t"] == "net"]
    if len(ln) != BASIC_ROWS or len(wn) != BASIC_ROWS:
        diffs.append("basics: %d results on Linux, %d on Windows" % (len(ln), len(wn)))
    for l, w in zip(ln, wn):
        same = l["name"] == w["name"] and all(l.get(k) == w.get(k) for k in NET_COMPARED)
        if not same:
            diffs.append("basics %s: linux %s, windows %s" % (l["name"], l["state"], w["state"]))
        rows.append(("basics: " + l["name"], l["state"], w["state"], "same" if same else "DIFF",
                     l["detail"], w["detail"]))
    li = [m["body"] for m in lin_b if m["t"] == "ipinfo"]
    wi = [m["body"] for m in win_b if m["t"] == "ipinfo"]
    same = li == wi and len(li) == 1
    if not same:
        diffs.append("ipinfo: linux %r, windows %r" % (li, wi))
    rows.append(("ipinfo body", "%d bytes" % len(li[0]) if li else "-",
                 "%d bytes" % len(wi[0]) if wi else "-", "same" if same else "DIFF", "", ""))

    head = ("case", "linux (dns/tcp/tls/http verdict cert code)", "windows under wine", "",
            "linux detail", "wine detail")
    width = [max(len(str(r[c])) for r in rows + [head]) for c in range(6)]
    print("censor mode: %s" % a.mode)
    for r in [head] + rows:
        print("  ".join(str(v).ljust(width[c]) for c, v in enumerate(r)).rstrip())
    print("%d cases, %d differ" % (len(rows), len(diffs)))
    for d in diffs:
        print("DIFF " + d)
    return 1 if diffs else 0


if __name__ == "__main__":
    sys.exit(main())
