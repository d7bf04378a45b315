#!/usr/bin/env bash
# The network lab: a small internet with a configurable censor, built from
# three network namespaces on this machine only.
#
#   lab.sh up | down | status
#   lab.sh exec CMD ARGS...          run CMD inside tv-client
#   lab.sh censor [MODE[=a,b] ...]   replace the censor rules (no MODE: print them)
#   lab.sh ipinfo [MODE]             success | 403 | long | silent (no MODE: print it)
#
# tv-client --veth-- tv-router (censor) --veth-- tv-net (every lab host).
# Nothing links to the normal namespace, so lab traffic cannot leave the
# machine. All state lives in tests/lab/run/, /etc/netns/tv-* and /tmp/tv-lab*;
# `down` removes it, also after a crash. See tests/lab/README.md.
set -uo pipefail
export PATH="/usr/sbin:/sbin:$PATH"  # ip, iptables, ethtool

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
run="$here/run"
PY=/usr/bin/python3
NS=(tv-client tv-router tv-net)
ETC=/etc/netns
NETNS_MARK=/tmp/tv-lab.netns-created
ADMIN_LOCK=/tmp/tv-lab.admin.lock
DAEMON="$here/labd.py"
DELAYD="$here/labdelay.py"

die() { echo "lab: $*" >&2; exit 1; }
in_ns() { local ns="$1"; shift; ip netns exec "$ns" "$@"; }
ns_exists() { [ -e "/run/netns/$1" ]; }

admin_lock() {
  exec 8>"$ADMIN_LOCK"
  flock -w 120 8 || die "another lab.sh up/down/censor did not finish within 120 s"
}

# The sources the running lab was built from; a change rebuilds it at `up`.
stamp() {
  cat "$root"/web/lists/*.txt "$here/labplan.py" "$here/labd.py" "$here/labdelay.py" "$here/lab.sh" |
    sha256sum | cut -d' ' -f1
}

daemon_pid() {
  local pid
  pid="$(head -n1 "$run/labd.ready" 2>/dev/null)" || return 1
  [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] || return 1
  tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF "$DAEMON" || return 1
  echo "$pid"
}

# The pid in a pid file, if that process is still the one started with `what`
# among its arguments.
pid_of() {
  local pid
  pid="$(head -n1 "$1" 2>/dev/null)" || return 1
  [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] || return 1
  tr '\0' '\n' <"/proc/$pid/cmdline" | grep -qxF "$2" || return 1
  echo "$pid"
}
sserver_pid() { pid_of "$run/sserver.pid" "$run/certs/sserver.lab.test.pem"; }
delayd_pid() { pid_of "$run/labdelay.ready" "$DELAYD"; }

is_up() {
  local ns
  for ns in "${NS[@]}"; do ns_exists "$ns" || return 1; done
  [ -f "$ETC/tv-client/resolv.conf" ] && [ -f "$run/plan.json" ] || return 1
  daemon_pid >/dev/null || return 1
  sserver_pid >/dev/null || return 1
  [ "$(cat "$run/stamp" 2>/dev/null)" = "$(stamp)" ]
}

# ------------------------------------------------------------------ down

kill_pids() {
  # TERM, then KILL whatever is still there after about two seconds.
  local pids=("$@") p i
  [ ${#pids[@]} -gt 0 ] || return 0
  kill -TERM "${pids[@]}" 2>/dev/null
  for i in $(seq 20); do
    local alive=0
    for p in "${pids[@]}"; do [ -d "/proc/$p" ] && alive=1; done
    [ "$alive" = 0 ] && return 0
    sleep 0.1
  done
  kill -KILL "${pids[@]}" 2>/dev/null
  sleep 0.1
}

lab_processes() {
  # Every process inside a lab namespace, plus our own server by its exact path
  # (in case its namespace was already removed by hand).
  local ns p
  {
    for ns in "${NS[@]}"; do
      ns_exists "$ns" && ip netns pids "$ns" 2>/dev/null
    done
    server_processes
  } | grep -vxF -f <(ancestors)
}

server_processes() {
  # Processes with one of our servers as one of their arguments.
  grep -lzxF -f <(printf "%s\n" "$DAEMON" "$DELAYD" "$run/certs/sserver.lab.test.pem") \
    /proc/[0-9]*/cmdline 2>/dev/null | cut -d/ -f3
}

ancestors() {
  # This script and its callers, which must survive a `down` run from inside the lab.
  local p=$$
  while [ -n "$p" ] && [ "$p" -gt 1 ]; do
    echo "$p"
    p="$(awk '/^PPid:/ {print $2}' "/proc/$p/status" 2>/dev/null)"
  done
  echo 1
}

teardown() {
  local pids ns
  mapfile -t pids < <(lab_processes | sort -un)
  kill_pids "${pids[@]}"
  for ns in "${NS[@]}"; do
    ns_exists "$ns" && ip netns del "$ns" 2>/dev/null
    rm -rf "${ETC:?}/$ns"
  done
  if [ -f "$NETNS_MARK" ]; then
    rmdir "$ETC" 2>/dev/null
    rm -f "$NETNS_MARK"
  fi
  rm -rf "${run:?}"
  for ns in "${NS[@]}"; do
    ns_exists "$ns" && { echo "lab: namespace $ns is still there" >&2; return 1; }
  done
  return 0
}

# ------------------------------------------------------------------ up

make_certs() {
  local d="$run/certs" o=()
  mkdir -p "$d"
  openssl ecparam -name prime256v1 -genkey -noout -out "$run/ca.key" 2>/dev/null || return 1
  openssl req -x509 -new -key "$run/ca.key" -sha256 -days 30 -subj "/O=Tarnveil Lab/CN=Tarnveil Lab CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -out "$run/ca.pem" 2>/dev/null || return 1
  openssl ecparam -name prime256v1 -genkey -noout -out "$d/leaf.key" 2>/dev/null || return 1
  cat >"$run/ca.cnf" <<EOF
[ca]
default_ca = lab
[lab]
database = $run/ca.index
new_certs_dir = $run/certs
serial = $run/ca.serial
default_md = sha256
policy = anything
copy_extensions = copy
unique_subject = no
[anything]
commonName = supplied
EOF
  : >"$run/ca.index"
  echo 1000 >"$run/ca.serial"
  # One certificate per line of certs.tsv: NAME KIND CN SAN. Up to four at once.
  export run d
  xargs -P 4 -L 1 bash -c '
    name="$0" kind="$1" cn="$2" san="$3"
    ext=(-addext "subjectAltName=$san" -addext "basicConstraints=critical,CA:FALSE"
         -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=serverAuth")
    case "$kind" in
      ca) openssl req -new -key "$d/leaf.key" -CA "$run/ca.pem" -CAkey "$run/ca.key" -sha256 \
            -days 30 -subj "/CN=$cn" "${ext[@]}" -out "$d/$name.pem" ;;
      self) openssl req -x509 -new -key "$d/leaf.key" -sha256 -days 30 -subj "/CN=$cn" \
            "${ext[@]}" -out "$d/$name.pem" ;;
      expired) openssl req -new -key "$d/leaf.key" -subj "/CN=$cn" "${ext[@]}" -out "$d/$name.csr" &&
        openssl ca -batch -config "$run/ca.cnf" -cert "$run/ca.pem" -keyfile "$run/ca.key" -notext \
            -startdate 20200101000000Z -enddate 20210101000000Z -in "$d/$name.csr" \
            -out "$d/$name.pem" ;;
    esac >/dev/null 2>&1 || { echo "lab: certificate for $name failed" >&2; exit 255; }
  ' <"$run/certs.tsv" || return 1
  chmod 600 "$run/ca.key" "$d/leaf.key"
}

make_namespaces() {
  local ns
  for ns in "${NS[@]}"; do ip netns add "$ns" || return 1; done
  # The veth ends are created directly inside their namespaces.
  ip link add tv-c0 netns tv-client type veth peer name tv-r0 netns tv-router || return 1
  ip link add tv-r1 netns tv-router type veth peer name tv-n0 netns tv-net || return 1
  {
    echo "link set lo up"
    echo "addr add 10.200.1.2/24 dev tv-c0"
    echo "link set tv-c0 up"
    echo "route add default via 10.200.1.1"
  } | ip -n tv-client -batch - || return 1
  {
    echo "link set lo up"
    echo "addr add 10.200.1.1/24 dev tv-r0"
    echo "addr add 10.200.2.1/24 dev tv-r1"
    echo "link set tv-r0 up"
    echo "link set tv-r1 up"
    echo "route add default via 10.200.2.2"
  } | ip -n tv-router -batch - || return 1
  {
    echo "link set lo up"
    echo "addr add 10.200.2.2/24 dev tv-n0"
    echo "link set tv-n0 up"
    echo "route add 10.200.1.0/24 via 10.200.2.1"
    sed 's|.*|addr add &/32 dev lo|' "$run/addrs.txt"
  } | ip -n tv-net -batch - || return 1
  for ns in "${NS[@]}"; do
    in_ns "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1 \
      net.ipv4.ip_forward=0 >/dev/null
  done
  in_ns tv-router sysctl -qw net.ipv4.ip_forward=1 >/dev/null || return 1
  # Byte counts per connection, for the freeze modes.
  in_ns tv-router sysctl -qw net.netfilter.nf_conntrack_acct=1 >/dev/null
  # Every byte of the one-byte host must leave in its own segment.
  in_ns tv-net sysctl -qw net.ipv4.tcp_autocorking=0 >/dev/null
  # Wire-size packets for the censor's rules.
  in_ns tv-client ethtool -K tv-c0 tso off gso off gro off >/dev/null 2>&1
  in_ns tv-router ethtool -K tv-r0 tso off gso off gro off >/dev/null 2>&1
  in_ns tv-router ethtool -K tv-r1 tso off gso off gro off >/dev/null 2>&1
  in_ns tv-net ethtool -K tv-n0 tso off gso off gro off >/dev/null 2>&1
  # drop.lab.test swallows SYNs; everything else in the net answers normally.
  local drop
  drop="$("$PY" -c 'import json,sys; p=json.load(open(sys.argv[1])); print(p["zone"]["drop.lab.test"])' "$run/plan.json")"
  printf '*filter\n:INPUT ACCEPT [0:0]\n:FORWARD DROP [0:0]\n:OUTPUT ACCEPT [0:0]\n-A INPUT -d %s -p tcp --syn -j DROP\nCOMMIT\n' "$drop" |
    in_ns tv-net iptables-restore -w 5 || return 1
}

make_client_etc() {
  local c="$ETC/tv-client" e h n
  if [ ! -d "$ETC" ]; then
    mkdir -p "$ETC" && : >"$NETNS_MARK"
  fi
  mkdir -p "$c/ssl"
  cat >"$c/resolv.conf" <<EOF
# network lab: the lab resolver in tv-net
nameserver 198.18.0.53
options timeout:1 attempts:2
EOF
  # A copy of the system's trust store with the lab CA added; keys stay out.
  for e in /etc/ssl/*; do
    [ "$(basename "$e")" = private ] && continue
    cp -a "$e" "$c/ssl/" || return 1
  done
  mkdir -p "$c/ssl/certs"
  cat "$run/ca.pem" >>"$c/ssl/certs/ca-certificates.crt"
  cp "$run/ca.pem" "$c/ssl/certs/tarnveil-lab-ca.pem"
  h="$(openssl x509 -hash -noout -in "$run/ca.pem")" || return 1
  n=0
  while [ -e "$c/ssl/certs/$h.$n" ]; do n=$((n + 1)); done
  ln -s tarnveil-lab-ca.pem "$c/ssl/certs/$h.$n"
}

start_daemon() {
  local i
  rm -f "$run/labd.ready"
  ip netns exec tv-net setsid "$PY" -u "$DAEMON" "$run" </dev/null >"$run/labd.log" 2>&1 8>&- 9>&- &
  for i in $(seq 100); do
    [ -s "$run/labd.ready" ] && daemon_pid >/dev/null && return 0
    sleep 0.05
  done
  echo "lab: the lab servers did not start; log:" >&2
  cat "$run/labd.log" >&2
  return 1
}

start_sserver() {
  # A stock OpenSSL server (sserver.lab.test): one connection at a time, an
  # HTML status page for any GET (-www).
  local addr i
  addr="$("$PY" -c 'import json,sys; print(json.load(open(sys.argv[1]))["zone"]["sserver.lab.test"])' "$run/plan.json")"
  ip netns exec tv-net setsid openssl s_server -quiet -www -accept "$addr:443" \
    -cert "$run/certs/sserver.lab.test.pem" -key "$run/certs/leaf.key" \
    </dev/null >"$run/sserver.log" 2>&1 8>&- 9>&- &
  echo $! >"$run/sserver.pid"
  for i in $(seq 100); do
    ip netns exec tv-net ss -Hltn "src $addr:443" 2>/dev/null | grep -q . && return 0
    sleep 0.05
  done
  echo "lab: openssl s_server did not start; log:" >&2
  cat "$run/sserver.log" >&2
  return 1
}

start_delayd() {
  # The user-space delay (NFQUEUE) in tv-router, started at the first delay mode.
  local i
  delayd_pid >/dev/null && return 0
  rm -f "$run/labdelay.ready"
  ip netns exec tv-router setsid "$PY" -u "$DELAYD" "$run" </dev/null >"$run/labdelay.log" 2>&1 8>&- 9>&- &
  for i in $(seq 100); do
    delayd_pid >/dev/null && return 0
    sleep 0.05
  done
  echo "lab: the delay queue did not start; log:" >&2
  cat "$run/labdelay.log" >&2
  return 1
}

cmd_up() {
  [ "$(id -u)" = 0 ] || die "up needs root"
  admin_lock
  if is_up; then
    echo "lab: already up"
    return 0
  fi
  teardown >/dev/null 2>&1
  local t0=$SECONDS
  mkdir -p "$run" && chmod 700 "$run"
  "$PY" "$here/labplan.py" plan "$run" || { teardown; die "plan failed"; }
  make_certs || { teardown; die "certificates failed"; }
  make_namespaces || { teardown; die "namespaces failed"; }
  make_client_etc || { teardown; die "client /etc failed"; }
  start_daemon || { teardown; die "servers failed"; }
  start_sserver || { teardown; die "openssl s_server failed"; }
  set_censor open >/dev/null || { teardown; die "censor rules failed"; }
  echo success >"$run/ipinfo"
  stamp >"$run/stamp"
  echo "lab: up in $((SECONDS - t0)) s"
}

cmd_down() {
  [ "$(id -u)" = 0 ] || die "down needs root"
  admin_lock
  teardown || return 1
  echo "lab: down"
}

cmd_status() {
  local ns st=0 pid
  for ns in "${NS[@]}"; do
    if ns_exists "$ns"; then echo "namespace $ns: present"; else echo "namespace $ns: missing"; st=1; fi
  done
  if pid="$(daemon_pid)"; then echo "servers: running (pid $pid)"; else echo "servers: stopped"; st=1; fi
  if pid="$(sserver_pid)"; then echo "s_server: running (pid $pid)"; else echo "s_server: stopped"; st=1; fi
  echo "censor: $(cat "$run/censor" 2>/dev/null || echo -)"
  echo "ipinfo: $(cat "$run/ipinfo" 2>/dev/null || echo -)"
  if [ "$st" = 0 ] && is_up; then echo "lab: up"; return 0; fi
  if [ "$st" = 0 ]; then echo "lab: stale (run 'lab.sh up' to rebuild)"; return 2; fi
  echo "lab: down"
  return 1
}

set_censor() {
  local text rules state
  text="$("$PY" "$here/labplan.py" modes "$@")" || return 2
  rules="$("$PY" "$here/labplan.py" rules "$run" "$@")" || return 2
  state="$("$PY" "$here/labplan.py" state "$run" "$@")" || return 2
  # The servers' part first: a queue rule without its reader would drop everything.
  echo "$state" >"$run/censor.json.tmp" && mv -f "$run/censor.json.tmp" "$run/censor.json"
  if [[ "$state" != *'"delay_ms": 0'* ]]; then start_delayd || return 1; fi
  in_ns tv-router iptables-restore -w 5 <<<"$rules" || return 1
  echo "$text" >"$run/censor.tmp" && mv -f "$run/censor.tmp" "$run/censor"
  echo "censor: $text"
}

cmd_censor() {
  [ -f "$run/plan.json" ] && ns_exists tv-router || die "the lab is not up"
  if [ $# -eq 0 ]; then
    cat "$run/censor"
    return 0
  fi
  admin_lock
  set_censor "$@"
}

cmd_ipinfo() {
  [ -d "$run" ] || die "the lab is not up"
  if [ $# -eq 0 ]; then
    cat "$run/ipinfo"
    return 0
  fi
  case "$1" in
    success | 403 | long | silent) ;;
    *) die "unknown ipinfo mode: $1 (known: success 403 long silent)" ;;
  esac
  echo "$1" >"$run/ipinfo.tmp" && mv -f "$run/ipinfo.tmp" "$run/ipinfo"
  echo "ipinfo: $1"
}

cmd_exec() {
  [ $# -gt 0 ] || die "exec needs a command"
  ns_exists tv-client && [ -f "$ETC/tv-client/resolv.conf" ] || die "the lab is not up"
  exec ip netns exec tv-client "$@"
}

cmd="${1:-}"
[ $# -gt 0 ] && shift
case "$cmd" in
  up) cmd_up ;;
  down) cmd_down ;;
  status) cmd_status ;;
  exec) cmd_exec "$@" ;;
  censor) cmd_censor "$@" ;;
  ipinfo) cmd_ipinfo "$@" ;;
  *)
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
    ;;
esac
