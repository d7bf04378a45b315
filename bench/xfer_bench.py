#!/usr/bin/python3
"""The transfer test's cost: the default 39-domain check with and without it.

Run inside the lab (it probes the network):
    tests/lab/in-lab.sh [--censor MODE] -- python3 bench/xfer_bench.py --cli <build>/tarnveil-cli
Runs the check --rounds times each way, alternating, and prints the medians
and their ratio (the transfer test adds 64 KiB each way per host).
"""
import argparse
import statistics
import subprocess
import time


def one(cli, xfer, timeout):
    t0 = time.monotonic()
    p = subprocess.run([cli, "domains", "--json", "--timeout", str(timeout),
                        "--xfer" if xfer else "--no-xfer"], capture_output=True)
    took = time.monotonic() - t0
    if p.returncode not in (0, 3):
        raise SystemExit("tarnveil-cli failed: %s" % p.stderr.decode(errors="replace"))
    return took


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--rounds", type=int, default=9)
    ap.add_argument("--timeout", type=int, default=4000)
    o = ap.parse_args()
    one(o.cli, True, o.timeout)  # warm-up: caches, the lab's threads
    without, with_ = [], []
    for _ in range(o.rounds):
        without.append(one(o.cli, False, o.timeout))
        with_.append(one(o.cli, True, o.timeout))
    a, b = statistics.median(without), statistics.median(with_)
    print("default domain check, %d rounds each, medians:" % o.rounds)
    print("  without the transfer test: %7.3f s" % a)
    print("  with the transfer test:    %7.3f s" % b)
    print("  ratio with/without:        %7.3f" % (b / a))


if __name__ == "__main__":
    main()
