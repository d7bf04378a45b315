#!/usr/bin/env bash
# up/down of the lab: idempotent, repairs a crashed lab, and `down` leaves no
# namespace, rule, process or file behind, also after a half-made `up`. Ends
# with the lab up again, so it can run anywhere in the suite. Holds
# /tmp/tv-lab.lock throughout; runs in the normal namespace (it removes the
# lab's namespaces, so it cannot live inside one).
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
lab="$here/lab.sh"
run="$here/run"
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
pass() { echo "ok: $*"; }

exec 9>/tmp/tv-lab.lock
flock -w 1800 9 || { echo "could not take /tmp/tv-lab.lock"; exit 1; }

server_pid() { head -n1 "$run/labd.ready" 2>/dev/null; }
ns_inodes() { local ns; for ns in tv-client tv-router tv-net; do stat -L -c %i "/run/netns/$ns" 2>/dev/null; done; }
root_state() {
  # The normal namespace as the lab must leave it: links and firewall rules.
  ip -o link show | awk -F': ' '{print $2}' | sort
  iptables-save 2>/dev/null | grep -v '^#' | sed 's/\[[0-9]*:[0-9]*\]//'
  nft list ruleset 2>/dev/null
}

check_gone() {
  local what="$1" inodes="$2" left=0 p i
  ip netns list | grep -q '^tv-' && { fail "$what: namespace left: $(ip netns list | grep '^tv-' | tr '\n' ' ')"; left=1; }
  compgen -G "/etc/netns/tv-*" >/dev/null && { fail "$what: /etc/netns/tv-* left"; left=1; }
  [ -e "$run" ] && { fail "$what: $run left"; left=1; }
  p="$(grep -lzxF -f <(printf "%s\n" "$here/labd.py" "$here/labdelay.py" "$run/certs/sserver.lab.test.pem") \
    /proc/[0-9]*/cmdline 2>/dev/null | cut -d/ -f3 | tr '\n' ' ')"
  [ -n "$p" ] && { fail "$what: lab server left: $p"; left=1; }
  for i in $inodes; do
    p="$(stat -L -c '%i %n' /proc/[0-9]*/ns/net 2>/dev/null | awk -v i="$i" '$1 == i {print $2}')"
    [ -n "$p" ] && { fail "$what: processes still in a lab namespace: $p"; left=1; }
  done
  [ "$(root_state)" = "$before" ] || { fail "$what: the normal namespace changed"; left=1; }
  [ "$left" = 0 ] && pass "$what: nothing left"
}

bash "$lab" up >/dev/null || { echo "lab did not come up"; exit 1; }
before_ns_pid="$(server_pid)"

# Idempotent up.
out="$(bash "$lab" up)"
if [[ "$out" == *"already up"* ]] && [ "$(server_pid)" = "$before_ns_pid" ]; then
  pass "second up leaves the running lab alone"
else
  fail "second up rebuilt the lab: $out"
fi

# A crashed server: status notices, up repairs.
kill -KILL "$before_ns_pid"
sleep 0.2
bash "$lab" status >/dev/null && fail "status says up with the server dead"
bash "$lab" up >/dev/null && bash "$lab" exec dig +short +time=2 +tries=1 ya.ru | grep -q . &&
  [ "$(server_pid)" != "$before_ns_pid" ] && pass "up repairs a crashed lab" || fail "up did not repair"

# A process someone left inside the lab dies with it; then a second down
# (nothing to do) and a down of a half-made lab.
ip netns exec tv-client sleep 300 </dev/null >/dev/null 2>&1 &
straggler=$!
# The delay queue and s_server run beside the main server: down ends them too.
bash "$lab" censor delay=5 >/dev/null || fail "censor delay=5"
pgrep -f "$here/labdelay.py" >/dev/null || fail "no delay queue running"
inodes="$(ns_inodes)"
bash "$lab" down >/dev/null || fail "down failed"
# Compare the normal namespace with itself before any lab existed: take the
# reference now that the lab is gone, then check it stays so through the rest.
before="$(root_state)"
check_gone "down" "$inodes"
kill -0 "$straggler" 2>/dev/null && fail "a process left in tv-client survived down"
bash "$lab" down >/dev/null && pass "down of a lab that is down succeeds" || fail "second down failed"

ip netns add tv-net
mkdir -p /etc/netns/tv-client
ip netns exec tv-net sleep 300 </dev/null >/dev/null 2>&1 &
inodes="$(ns_inodes)"
bash "$lab" down >/dev/null || fail "down of a half-made lab failed"
check_gone "down after a half-made up" "$inodes"

# Up once more, from nothing: the normal namespace is unchanged while it is up.
t0=$(date +%s.%N)
bash "$lab" up >/dev/null || fail "up from nothing failed"
t1=$(date +%s.%N)
[ "$(root_state)" = "$before" ] && pass "up changes nothing in the normal namespace" ||
  fail "up changed the normal namespace"
bash "$lab" status >/dev/null && pass "status: up" || fail "status after up"
bash "$lab" exec curl -sS -m 5 -o /dev/null https://ok.lab.test/ && pass "lab works after the cycle" ||
  fail "lab does not work after the cycle"
awk -v a="$t0" -v b="$t1" 'BEGIN { printf "up from nothing took %.1f s\n", b - a }'

[ "$fails" = 0 ] && echo "all passed" || echo "$fails failed"
[ "$fails" = 0 ]
