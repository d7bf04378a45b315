#!/usr/bin/python3
"""Run speed under an allow-list: the default matrix and the default domain
check against their limit and against curl, plus the 3000-job scan.

Run inside the lab (it probes the network and switches censor modes itself):
    tests/lab/in-lab.sh -- python3 bench/run_bench.py --build <build>
Every case runs at `delay=15` (30 ms round trips). For each case it prints the
wall time of `tarnveil-cli` with its defaults ("now"), the same with the TCP
pre-phase off and the old thread counts ("before": TV_NO_TCP_SWEEP=1,
--threads 4 for the matrix, 8 for the domains), and curl through xargs -P8
doing the same hosts (one GET, `-m` the time-out). The limit is one time-out
plus the fastest probe of the run (the smallest stage sum of a passing row).
"SNI allow-list" is the lab's `allowlist sni-allow`: foreign addresses dead at
TCP, and domestic addresses let through only for allowed names.
The last rows are bench/scan_bench's 3000 jobs on 48 workers against its own
limit (jobs / workers x one probe), with the pre-phase and without it.
Figures only, no pass or fail.
"""
import argparse
import json
import os
import re
import statistics
import subprocess
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TREE = os.path.dirname(HERE)
LISTS = os.path.join(TREE, "web", "lists")


def censor(*modes):
    subprocess.run([os.path.join(TREE, "tests", "lab", "lab.sh"), "censor", *modes],
                   check=True, capture_output=True)


def list_lines(name):
    out = []
    for line in open(os.path.join(LISTS, name), encoding="utf-8"):
        line = line.split("#", 1)[0].strip()
        if line:
            out.append(line.split()[0])
    return out


def run_cli(cli, args, before, threads_before, timeout):
    env = dict(os.environ)
    extra = []
    if before:
        env["TV_NO_TCP_SWEEP"] = "1"
        extra = ["--threads", str(threads_before)]
    t0 = time.monotonic()
    p = subprocess.run([cli, *args, "--json", "--timeout", str(timeout), *extra],
                       capture_output=True, env=env)
    took = time.monotonic() - t0
    if p.returncode not in (0, 3):
        raise SystemExit("tarnveil-cli failed: %s" % p.stderr.decode(errors="replace"))
    fastest = None
    for line in p.stdout.decode().splitlines():
        m = json.loads(line)
        if m.get("t") == "res" and m.get("verdict") == "pass":
            ms = sum(max(0, m.get(k, -1)) for k in ("dnsMs", "tcpMs", "tlsMs", "httpMs"))
            fastest = ms if fastest is None else min(fastest, ms)
    return took, fastest


def run_curl(pairs, timeout):
    # pairs: (address or None, name or None); one GET per pair, 8 at a time.
    lines = []
    for addr, name in pairs:
        if addr and name:
            lines.append("--resolve %s:443:%s https://%s/" % (name, addr, name))
        elif addr:
            lines.append("https://%s/" % addr)
        else:
            lines.append("https://%s/" % name)
    t0 = time.monotonic()
    subprocess.run(["xargs", "-P8", "-L1", "curl", "-sk", "-o", "/dev/null", "-m",
                    "%.1f" % (timeout / 1000.0)], input="\n".join(lines).encode(),
                   capture_output=True)
    return time.monotonic() - t0


def median(xs):
    return statistics.median(xs)


def case(o, title, modes, args, threads_before, pairs):
    censor(*modes, "delay=15")
    now, before, curl, fast = [], [], [], []
    for _ in range(o.rounds):
        t, f = run_cli(o.cli, args, False, threads_before, o.timeout)
        now.append(t)
        fast += [f] if f is not None else []
        t, f = run_cli(o.cli, args, True, threads_before, o.timeout)
        before.append(t)
        fast += [f] if f is not None else []
        curl.append(run_curl(pairs, o.timeout))
    limit = o.timeout / 1000.0 + (min(fast) / 1000.0 if fast else 0.0)
    a, b, c = median(now), median(before), median(curl)
    print("| %s | %.2f s | %.2f s | %.2f s | %.2f | %.2f | %.2f s | %.2f |" %
          (title, a, limit, b, a / limit, b / limit, c, a / c), flush=True)


def scan_row(o):
    censor("open")
    for off in (False, True):
        env = dict(os.environ)
        if off:
            env["TV_NO_TCP_SWEEP"] = "1"
        p = subprocess.run([os.path.join(o.build, "bench", "scan_bench"), "--hosts",
                            "drop.lab.test", "--timeout", "500", "--jobs", "3000", "--workers",
                            "48"], capture_output=True, text=True, env=env)
        m = re.search(r"ratio wall/limit: ([0-9.]+)", p.stdout)
        print("| 3000-job scan, 48 workers, drop.lab.test 500 ms%s | wall/limit %s |" %
              (", pre-phase off" if off else "", m.group(1) if m else "?: " + p.stdout[-300:]),
              flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--timeout", type=int, default=4000)
    ap.add_argument("--skip-scan", action="store_true")
    ap.add_argument("--skip-matrix", action="store_true")
    ap.add_argument("--names-only", action="store_true",
                    help="also the domains under sni-allow alone (foreign names time out at TLS)")
    o = ap.parse_args()
    o.cli = os.path.join(o.build, "tarnveil-cli")
    ips = list_lines("mx_ips.txt")
    snis = list_lines("mx_snis.txt")
    domains = list_lines("domains.txt")
    mx = ["matrix", "--ips", os.path.join(LISTS, "mx_ips.txt"), "--snis",
          os.path.join(LISTS, "mx_snis.txt")]
    mx_pairs = [(a, None if s == "-" else s) for a in ips for s in snis]
    dom_pairs = [(None, d) for d in domains]
    print("%d rounds each, medians, delay=15 (30 ms round trips), time-out %d ms" %
          (o.rounds, o.timeout))
    print("| case | now | limit | before | now/limit | before/limit | curl -P8 | now/curl |")
    print("|---|---|---|---|---|---|---|---|")
    try:
        if not o.skip_matrix:
            case(o, "matrix %dx%d, SNI allow-list" % (len(ips), len(snis)),
                 ["allowlist", "sni-allow"], mx, 4, mx_pairs)
            case(o, "matrix %dx%d, address allow-list" % (len(ips), len(snis)),
                 ["allowlist"], mx, 4, mx_pairs)
        case(o, "domains (%d), SNI allow-list" % len(domains), ["allowlist", "sni-allow"],
             ["domains"], 8, dom_pairs)
        case(o, "domains (%d), address allow-list" % len(domains), ["allowlist"], ["domains"], 8,
             dom_pairs)
        if o.names_only:
            case(o, "domains (%d), names only (sni-allow)" % len(domains), ["sni-allow"],
                 ["domains"], 8, dom_pairs)
        if not o.skip_scan:
            scan_row(o)
    finally:
        censor("open")


if __name__ == "__main__":
    main()
