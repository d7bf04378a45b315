#!/usr/bin/env bash
# Builds both targets and runs the whole suite: unit tests natively and under
# Wine, the lab tests inside the network lab, the page and end-to-end tests.
# Prints the CTest summaries and a combined closing line; exits non-zero on
# any failure.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash scripts/deps.sh || { echo "test.sh: dependency installation failed" >&2; exit 1; }

# The layers point down (base -> probe -> bridge -> app, cli); checked before
# anything is built, so an upward include fails fast.
python3 scripts/check_layers.py || { echo "test.sh: an include points up a layer" >&2; exit 1; }

jobs="$(nproc)"
build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs"
}
build linux || { echo "test.sh: Linux build failed" >&2; exit 1; }
build windows || { echo "test.sh: Windows build failed" >&2; exit 1; }
# The unit tests once more under ThreadSanitizer (runs, sinks, the log).
{ cmake --preset linux-tsan >/dev/null && cmake --build --preset linux-tsan --target unit_tests -j "$jobs"; } ||
  { echo "test.sh: ThreadSanitizer build failed" >&2; exit 1; }
# The unit, lab and command-line lab tests once more under AddressSanitizer
# and UndefinedBehaviorSanitizer (the fuzzers carry their own sanitizers).
{ cmake --preset linux-asan >/dev/null &&
  cmake --build --preset linux-asan --target unit_tests probe_lab_tests tarnveil-cli -j "$jobs"; } ||
  { echo "test.sh: AddressSanitizer build failed" >&2; exit 1; }

lab="$root/tests/lab/lab.sh"
lab_up=0
cleanup() {
  if [ "$lab_up" = 1 ]; then bash "$lab" down >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT

if [ -x "$lab" ] || [ -f "$lab" ]; then
  if bash "$lab" up; then
    lab_up=1
  else
    echo "test.sh: the network lab did not come up" >&2
    exit 1
  fi
fi

passed=0; failed=0; status=0
run_ctest() {
  local dir="$1"; shift
  local out
  out="$(mktemp)"
  (cd "$dir" && ctest --output-on-failure --timeout 900 "$@") 2>&1 | tee "$out"
  local rc=${PIPESTATUS[0]}
  local line
  line="$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$out" | tail -n 1)"
  if [ -n "$line" ]; then
    local total fail
    total="$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")"
    fail="$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")"
    passed=$((passed + total - fail)); failed=$((failed + fail))
  fi
  [ "$rc" = 0 ] || status=1
  rm -f "$out"
}

echo "=== Linux: unit, lab, page and end-to-end tests ==="
run_ctest build/linux -j "$jobs"
echo "=== Linux unit tests under ThreadSanitizer ==="
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest build/linux-tsan -L unit -E "_fuzz$" -j "$jobs"
echo "=== Linux unit, lab and CLI lab tests under AddressSanitizer + UBSan ==="
# The fuzz tests are left to the native tree; the timing-bound soak and the lab's
# own checks of itself (lab_*, no code of ours in them) run there too.
ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  run_ctest build/linux-asan -L "unit|lab" -E "_fuzz$|soak|selftest|compare_lab|^e2e_|^lab_" -j "$jobs"
echo "=== Windows build under Wine ==="
# Wine tests share one prefix per namespace; run them one at a time.
run_ctest build/windows

echo
echo "$passed passed, $failed failed"
exit "$status"
