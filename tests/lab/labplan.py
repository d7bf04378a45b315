#!/usr/bin/python3
"""Address plan, DNS zone and censor rules of the network lab.

Everything is derived from the program's own list files (web/lists/*.txt) plus
a fixed table of behaviour hosts, so the lab's zone and the program's default
lists cannot drift apart.

    labplan.py plan RUN_DIR          write RUN_DIR/plan.json and RUN_DIR/certs.tsv
    labplan.py rules RUN_DIR MODE..  print an iptables-restore ruleset for the router
    labplan.py state RUN_DIR MODE..  print what the lab's servers read of the modes (JSON)
    labplan.py modes MODE..          print the normalised mode text (or fail)

Only the standard library is used.
"""
import ipaddress
import json
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
LISTS = os.path.join(ROOT, "web", "lists")

# Link addresses inside the lab.
CLIENT_ADDR = "10.200.1.2"
CLIENT_GW = "10.200.1.1"
NET_ADDR = "10.200.2.2"
NET_GW = "10.200.2.1"
RESOLVER = "198.18.0.53"
PUBLIC_RESOLVERS = ["77.88.8.8", "1.1.1.1", "8.8.8.8", "9.9.9.9"]
DOMESTIC_NET = "198.18.0.0/16"
FOREIGN_NET = "198.19.0.0/16"
NOWHERE = "203.0.113.10"

# Names the public resolver addresses present in their certificates (the
# first is the subject's common name); DoT and DoH clients use these.
RESOLVER_NAMES = {
    "77.88.8.8": ["dns.yandex.ru", "common.dot.dns.yandex.net"],
    "1.1.1.1": ["one.one.one.one", "cloudflare-dns.com"],
    "8.8.8.8": ["dns.google"],
    "9.9.9.9": ["dns.quad9.net"],
}

# whoami.akamai.net: each resolver answers with an address of its own egress
# network, [prefix, first last octet, how many]; the last octet cycles.
WHOAMI = "whoami.akamai.net"
EGRESS = {
    RESOLVER: ["198.18.0.", 153, 1],
    "77.88.8.8": ["77.88.8.", 200, 50],
    "1.1.1.1": ["172.68.135.", 10, 240],
    "8.8.8.8": ["172.253.226.", 10, 240],
    "9.9.9.9": ["149.112.149.", 10, 240],
}

# A CDN name: every resolver hands out an edge of its own, each one valid.
CDN_NAME = "cdn.lab.test"
CDN_ADDRS = {RESOLVER: "198.19.4.1", "77.88.8.8": "198.19.4.2", "1.1.1.1": "198.19.4.3",
             "8.8.8.8": "198.19.4.4", "9.9.9.9": "198.19.4.5"}

# The ISP's stub host: the system resolver's answer under dns-stub.
STUB_NAME = "stub.lab.test"
STUB_ADDR = "198.18.0.80"

IPINFO_HOST = "ip-api.com"
IPINFO_ADDR = "198.19.3.1"

# Behaviour hosts: name -> (last octet in 198.19.2.0/24, behaviour).
BEHAVIOUR_HOSTS = [
    ("ok.lab.test", 1, "ok"),
    ("wrongname.lab.test", 2, "wrongname"),
    ("selfsigned.lab.test", 3, "selfsigned"),
    ("expired.lab.test", 4, "expired"),
    ("alert.lab.test", 5, "alert"),
    ("clientcert.lab.test", 6, "clientcert"),
    ("rst.lab.test", 7, "rst"),
    ("silent.lab.test", 8, "silent"),
    ("close.lab.test", 9, "close"),
    ("onebyte.lab.test", 10, "onebyte"),
    ("appdata.lab.test", 11, "appdata"),
    ("http301.lab.test", 12, "http301"),
    ("http10.lab.test", 13, "http10"),
    ("http2.lab.test", 14, "http2"),
    ("httpnone.lab.test", 15, "httpnone"),
    ("httpclose.lab.test", 16, "httpclose"),
    ("httpalert.lab.test", 17, "httpalert"),
    ("httpsplit.lab.test", 18, "httpsplit"),
    ("refused.lab.test", 19, "refused"),
    ("drop.lab.test", 20, "drop"),
    ("blocked.lab.test", 21, "site"),
    ("sserver.lab.test", 22, "sserver"),
    ("short.lab.test", 23, "short"),
]
WRONG_NAME = "elsewhere.lab.test"

# DNS specials: name -> behaviour of the DNS server.
DNS_SPECIALS = {
    "nx.lab.test": "nxdomain",
    "servfail.lab.test": "servfail",
    "refused-dns.lab.test": "refused",
    "cname.lab.test": "cname",
    "fullname.lab.test": "fullname",
    "badid.lab.test": "badid",
    "empty.lab.test": "empty",
    "silent-dns.lab.test": "silent",
    "whoami.akamai.net": "whoami",
}
CNAME_CHAIN = ["cname.lab.test", "cname-hop.lab.test", "ok.lab.test"]

FIXED_DOMESTIC = ["yandex.ru", "vk.com", "ya.ru", "gosuslugi.ru"]
FIXED_FOREIGN = ["google.com", "example.com"]
EXTRA_SNI_BLOCK = ["example.com", "blocked.lab.test"]

# Censor modes by the kind of list they take.
ADDR_MODES = ["allowlist", "udp53-drop", "ip-block", "freeze", "freeze-down", "freeze-up",
              "throttle", "fp-chrome", "flaky", "flaky-nth", "edns-block", "udp53-redirect"]
NAME_MODES = ["sni-rst", "sni-block", "sni-drop", "sni-allow", "dns-stub"]
MODES = ["open"] + ADDR_MODES + NAME_MODES + ["delay"]

FREEZE_BYTES = 16384
# Per flow and direction: 12 KiB/s with a 12 KiB bucket, so 64 KiB take about
# 3.6 s (150 kbit/s on average) and a handshake passes at full speed.
THROTTLE = "12kb/s --hashlimit-burst 12kb"
# ALPS (application_settings, codepoint 0x44CD) carrying "h2": current Chrome only.
# Current Chrome's ALPS extension (codepoint 0x44CD, "h2"): 44 cd 00 05 00 03 02 68 32. Its
# hello is larger than one segment and its extensions come in a random order, so the nine
# bytes now and then straddle two segments; matched as two overlapping halves, one of them
# always lies whole in a segment.
CHROME_ALPS = ("|44 cd 00 05 00|", "|00 03 02 68 32|")
# A segment that starts a TLS handshake record holding a ClientHello (16 03 0x .. .. 01).
HELLO_U32 = ("0>>22&0x3C@12>>26&0x3C@0>>8=0x160300:0x16030F&&"
             "0>>22&0x3C@12>>26&0x3C@5>>24=0x01")
SNI_ALLOW_MARK = "0x1"
DELAY_QUEUE = 0
IPINFO_MODES = ["success", "403", "long", "silent"]


def read_groups(path):
    """Returns [(group, name)] from a list file with "# [group] ..." headers."""
    out = []
    group = ""
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            m = re.match(r"#\s*\[(\w+)\]", line)
            if m:
                group = m.group(1)
                continue
            if not line or line.startswith("#"):
                continue
            out.append((group, line.split()[0].lower()))
    return out


def read_mx_ips(path):
    """Returns [(address, name or "")] from mx_ips.txt ("addr  # name")."""
    out = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            body, _, comment = line.partition("#")
            body = body.strip()
            if not body:
                continue
            try:
                ipaddress.IPv4Address(body)
            except ValueError:
                continue
            name = comment.strip().split()[0].lower() if comment.strip() else ""
            out.append((body, name))
    return out


def read_names(path):
    """The names of a plain list file (one a line, # comments, "-" skipped)."""
    return [n for _, n in read_groups(path) if re.fullmatch(r"[a-z0-9.-]+\.[a-z]+", n)]


def build_plan():
    groups = read_groups(os.path.join(LISTS, "domains.txt"))
    mx = read_mx_ips(os.path.join(LISTS, "mx_ips.txt"))
    domestic_names, foreign_names = [], []
    for group, name in groups:
        (foreign_names if group == "world" else domestic_names).append(name)
    for n in FIXED_DOMESTIC:
        if n not in domestic_names and n not in foreign_names:
            domestic_names.append(n)
    for n in FIXED_FOREIGN:
        if n not in domestic_names and n not in foreign_names:
            foreign_names.append(n)
    world = [name for group, name in groups if group == "world"]

    # Real-looking domestic addresses from the matrix list keep their name.
    pinned = {}
    domestic_extra_addrs = []
    for addr, name in mx:
        if addr in PUBLIC_RESOLVERS or addr == NOWHERE:
            continue
        domestic_extra_addrs.append(addr)
        if name and name not in pinned:
            pinned[name] = addr

    hosts = []  # each: name, addr, kind, behaviour, region
    zone = {}
    n = 0
    for name in domestic_names:
        if name in pinned:
            addr = pinned[name]
        else:
            n += 1
            addr = "198.18.1.%d" % n
        hosts.append({"name": name, "addr": addr, "behaviour": "site", "region": "domestic"})
    for i, name in enumerate(foreign_names, start=1):
        hosts.append({"name": name, "addr": "198.19.1.%d" % i, "behaviour": "site",
                      "region": "foreign"})
    for addr in domestic_extra_addrs:
        if not any(h["addr"] == addr for h in hosts):
            hosts.append({"name": "host-%s.lab.test" % addr.replace(".", "-"), "addr": addr,
                          "behaviour": "site", "region": "domestic"})
    for addr in PUBLIC_RESOLVERS:
        hosts.append({"name": RESOLVER_NAMES[addr][0], "addr": addr, "behaviour": "anyname",
                      "region": "domestic" if addr == "77.88.8.8" else "foreign",
                      "alt_names": RESOLVER_NAMES[addr][1:]})
    for name, octet, behaviour in BEHAVIOUR_HOSTS:
        hosts.append({"name": name, "addr": "198.19.2.%d" % octet, "behaviour": behaviour,
                      "region": "foreign"})
    for resolver in [RESOLVER] + PUBLIC_RESOLVERS:
        hosts.append({"name": CDN_NAME, "addr": CDN_ADDRS[resolver], "behaviour": "site",
                      "region": "foreign"})
    hosts.append({"name": STUB_NAME, "addr": STUB_ADDR, "behaviour": "stub",
                  "region": "domestic"})
    hosts.append({"name": IPINFO_HOST, "addr": IPINFO_ADDR, "behaviour": "ipinfo",
                  "region": "foreign"})
    hosts.append({"name": "dns.lab.test", "addr": RESOLVER, "behaviour": "resolver",
                  "region": "domestic"})

    for h in hosts:
        for name in [h["name"]] + h.get("alt_names", []):
            zone.setdefault(name, h["addr"])
    ok_addr = zone["ok.lab.test"]
    for name in ("fullname.lab.test", "badid.lab.test"):
        zone[name] = ok_addr

    # The allow-list by name: what the program's own lists hold as domestic.
    domestic_set = set(domestic_names)
    sni_allow = []
    for name in (domestic_names + read_names(os.path.join(LISTS, "white_base.txt"))
                 + read_names(os.path.join(LISTS, "mx_snis.txt"))):
        if name in domestic_set and name not in sni_allow:
            sni_allow.append(name)

    addrs = []
    for h in hosts:
        if h["addr"] not in addrs:
            addrs.append(h["addr"])
    domestic_addrs = [DOMESTIC_NET] + [a for a in ["77.88.8.8"] + domestic_extra_addrs]
    return {
        "hosts": hosts,
        "zone": zone,
        "dns_specials": DNS_SPECIALS,
        "cname_chain": CNAME_CHAIN,
        "addrs": addrs,
        "resolver_addrs": [RESOLVER] + PUBLIC_RESOLVERS,
        "allow": domestic_addrs,
        "sni_block": world + [n for n in EXTRA_SNI_BLOCK if n not in world],
        "sni_allow": sni_allow,
        "ip_block": ["1.1.1.1", "8.8.8.8", "9.9.9.9"],
        "edns_block": ["1.1.1.1", "8.8.8.8", "9.9.9.9"],
        "resolver_names": RESOLVER_NAMES,
        "whoami": WHOAMI,
        "egress": EGRESS,
        "per_resolver": {CDN_NAME: CDN_ADDRS},
        "stub_addr": STUB_ADDR,
        "dns_stub": world + [n for n in ["example.com"] if n not in world],
        "wrong_name": WRONG_NAME,
        "client_addr": CLIENT_ADDR,
    }


def cert_rows(plan):
    """Rows "file kind cn san" for the certificate generator in lab.sh."""
    rows = []
    seen = set()
    for h in plan["hosts"]:
        b = h["behaviour"]
        if b in ("refused", "drop", "ipinfo", "resolver"):
            continue
        name = h["name"]
        if name in seen:
            continue
        seen.add(name)
        san = ",".join("DNS:" + n for n in [name] + h.get("alt_names", []))
        if b == "anyname":
            san += ",IP:" + h["addr"]
        kind = {"selfsigned": "self", "expired": "expired"}.get(b, "ca")
        cn = WRONG_NAME if b == "wrongname" else name
        if b == "wrongname":
            san = "DNS:" + WRONG_NAME
        rows.append("%s %s %s %s" % (name, kind, cn, san))
    return rows


def parse_modes(args):
    """Returns [(mode, [items] or None)]; raises ValueError on an unknown mode."""
    out = []
    for a in args:
        for part in a.split():
            mode, eq, items = part.partition("=")
            if mode not in MODES:
                raise ValueError("unknown censor mode: %s (known: %s)" % (mode, " ".join(MODES)))
            lst = [x for x in items.split(",") if x] if eq else None
            if lst is not None and mode == "open":
                raise ValueError("open takes no list")
            if lst is not None and mode in ADDR_MODES:
                for x in lst:
                    ipaddress.IPv4Network(x, strict=False)
            if lst is not None and mode in NAME_MODES:
                for x in lst:
                    if not re.fullmatch(r"[A-Za-z0-9.-]{1,253}", x):
                        raise ValueError("bad server name: %s" % x)
            if mode == "delay" and not (lst and len(lst) == 1 and lst[0].isdigit()
                                        and 1 <= int(lst[0]) <= 5000):
                raise ValueError("delay takes one number of milliseconds, 1 to 5000")
            out.append((mode, lst))
    if not out:
        out = [("open", None)]
    if len(out) > 1 and any(m == "open" for m, _ in out):
        out = [(m, l) for m, l in out if m != "open"]
    return out


def mode_text(modes):
    return " ".join(m + ("=" + ",".join(l) if l is not None else "") for m, l in modes)


def sni_hex(name):
    """The bytes in front of a host name in a ClientHello's server_name list."""
    raw = name.lower().encode("ascii")
    return "|00 %02x %02x|%s" % (len(raw) >> 8, len(raw) & 0xFF, name.lower())


def string_match(hexstr):
    return '-m string --algo bm --hex-string "%s"' % hexstr


class Ruleset:
    """Builds the router's tables. tv-censor sees packets from tv-client,
    tv-reply packets towards it (the server's direction of a connection)."""

    def __init__(self, plan):
        self.plan = plan
        self.chains = ["tv-censor", "tv-reply"]
        self.filter = ["-A FORWARD -i tv-r0 -j tv-censor", "-A FORWARD -i tv-r1 -j tv-reply"]
        self.nat = []
        self.mangle = []

    def add(self, chain, rule):
        self.filter.append("-A %s %s" % (chain, rule))

    def chain(self, name):
        if name not in self.chains:
            self.chains.append(name)
        return name

    def targeted(self, mode, items, reply, match, target, late=""):
        """`match late -j target` for packets to the listed addresses (in the
        reply direction: from them); without a list, to every address outside
        the domestic set. `late` is tested after the address, so a counting
        match (statistic, hashlimit) counts only the packets it is meant for."""
        chain, flag = ("tv-reply", "-s") if reply else ("tv-censor", "-d")
        if items:
            for a in items:
                self.add(chain, " ".join(x for x in (flag, a, match, late, "-j", target) if x))
            return
        sub = "tv-%s%s" % (mode, "-r" if reply else "")
        while sub in self.chains:
            sub += "+"
        self.chain(sub)
        self.add(chain, "%s -j %s" % (match, sub))
        for a in self.plan["allow"]:
            self.add(sub, "%s %s -j RETURN" % (flag, a))
        # The protocol once more: a reset target needs it in its own rule.
        proto = " ".join(match.split()[:2]) if match.startswith("-p ") else ""
        self.add(sub, " ".join(x for x in (proto, late, "-j", target) if x))

    def mode(self, mode, items):
        if mode == "udp53-drop":
            for a in items or PUBLIC_RESOLVERS:
                self.add("tv-censor", "-p udp -d %s --dport 53 -j DROP" % a)
        elif mode == "ip-block":
            for a in items or self.plan["ip_block"]:
                self.add("tv-censor", "-d %s -j DROP" % a)
        elif mode in ("sni-rst", "sni-block", "sni-drop"):
            target = "DROP" if mode == "sni-drop" else "REJECT --reject-with tcp-reset"
            for name in items or self.plan["sni_block"]:
                self.add("tv-censor", "-p tcp --dport 443 %s -j %s" % (
                    string_match(sni_hex(name)), target))
        elif mode in ("freeze", "freeze-up", "freeze-down"):
            for reply in {"freeze": (False, True), "freeze-up": (False,),
                          "freeze-down": (True,)}[mode]:
                self.targeted(mode, items, reply, "-p tcp -m connbytes --connbytes %d: "
                              "--connbytes-dir %s --connbytes-mode bytes"
                              % (FREEZE_BYTES, "reply" if reply else "original"), "DROP")
        elif mode == "throttle":
            for reply in (False, True):
                self.targeted(mode, items, reply, "-p tcp",
                              "DROP", "-m hashlimit --hashlimit-above %s --hashlimit-mode "
                              "srcip,srcport,dstip,dstport --hashlimit-name tv-throttle-%s"
                              % (THROTTLE, "down" if reply else "up"))
        elif mode == "fp-chrome":
            for half in CHROME_ALPS:
                self.targeted(mode, items, False, "-p tcp --dport 443 " + string_match(half), "DROP")
        elif mode in ("flaky", "flaky-nth"):
            late = "-m statistic " + ("--mode random --probability 0.5" if mode == "flaky"
                                      else "--mode nth --every 2 --packet 1")
            self.targeted(mode, items, False, "-p tcp --dport 443 -m u32 --u32 \"%s\""
                          % HELLO_U32, "REJECT --reject-with tcp-reset", late)
        elif mode == "sni-allow":
            # A connection is let through once one of its segments carried an
            # allowed name (so a hello whose name sits in its second segment
            # passes too, after the retransmission of the first); until then
            # every segment that starts a ClientHello is dropped.
            sub = self.chain("tv-sni-allow")
            mark = "%s/%s" % (SNI_ALLOW_MARK, SNI_ALLOW_MARK)
            self.add("tv-censor", "-p tcp --dport 443 -j " + sub)
            self.add(sub, "-m connmark --mark %s -j RETURN" % mark)
            for name in items or self.plan["sni_allow"]:
                self.add(sub, "%s -j CONNMARK --set-xmark %s" % (string_match(sni_hex(name)),
                                                                mark))
            self.add(sub, "-m connmark --mark %s -j RETURN" % mark)
            self.add(sub, "-m u32 --u32 \"%s\" -j DROP" % HELLO_U32)
        elif mode == "edns-block":
            names = self.plan["resolver_names"]
            for a in items or self.plan["edns_block"]:
                self.add("tv-censor", "-p tcp -d %s --dport 853 -j DROP" % a)
                for name in names.get(a, []):
                    self.add("tv-censor", "-p tcp -d %s --dport 443 %s -j DROP" % (
                        a, string_match(sni_hex(name))))
        elif mode == "udp53-redirect":
            for a in items or PUBLIC_RESOLVERS:
                self.nat.append("-A PREROUTING -i tv-r0 -p udp -d %s --dport 53 -j DNAT "
                                "--to-destination %s" % (a, RESOLVER))
        elif mode == "delay":
            # Before the censor's own rules (mangle runs first on this hook);
            # the queue's verdict hands the packet on to them.
            self.mangle.append("-A FORWARD -j NFQUEUE --queue-num %d" % DELAY_QUEUE)

    def text(self):
        out = ["*filter", ":INPUT ACCEPT [0:0]", ":FORWARD ACCEPT [0:0]", ":OUTPUT ACCEPT [0:0]"]
        out += [":%s - [0:0]" % c for c in self.chains]
        out += self.filter + ["COMMIT", "*nat"]
        out += [":%s ACCEPT [0:0]" % c for c in ("PREROUTING", "INPUT", "OUTPUT", "POSTROUTING")]
        out += self.nat + ["COMMIT", "*mangle"]
        out += [":%s ACCEPT [0:0]" % c for c in ("PREROUTING", "INPUT", "FORWARD", "OUTPUT",
                                                 "POSTROUTING")]
        out += self.mangle + ["COMMIT"]
        return "\n".join(out) + "\n"


def rules(plan, modes):
    """An iptables-restore text for the router's filter, nat and mangle tables."""
    r = Ruleset(plan)
    for mode, items in modes:
        if mode not in ("open", "allowlist"):
            r.mode(mode, items)
    # The allow-list goes last so that the other rules still see domestic traffic.
    for mode, items in modes:
        if mode == "allowlist":
            for a in items or plan["allow"]:
                r.add("tv-censor", "-d %s -j RETURN" % a)
            r.add("tv-censor", "-j DROP")
    return r.text()


def daemon_state(plan, modes):
    """What the lab's servers read of the censor: the stubbed names and the delay."""
    state = {"dns_stub": [], "delay_ms": 0}
    for mode, items in modes:
        if mode == "dns-stub":
            state["dns_stub"] += [n.lower() for n in (items or plan["dns_stub"])]
        elif mode == "delay":
            state["delay_ms"] = int(items[0])
    return state


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    cmd = argv[1]
    if cmd == "plan":
        run = argv[2]
        plan = build_plan()
        with open(os.path.join(run, "plan.json"), "w") as f:
            json.dump(plan, f, indent=1)
        with open(os.path.join(run, "certs.tsv"), "w") as f:
            f.write("\n".join(cert_rows(plan)) + "\n")
        with open(os.path.join(run, "addrs.txt"), "w") as f:
            f.write("\n".join(plan["addrs"]) + "\n")
        return 0
    try:
        if cmd == "modes":
            print(mode_text(parse_modes(argv[2:])))
            return 0
        if cmd in ("rules", "state"):
            with open(os.path.join(argv[2], "plan.json")) as f:
                plan = json.load(f)
            modes = parse_modes(argv[3:])
            if cmd == "rules":
                sys.stdout.write(rules(plan, modes))
            else:
                print(json.dumps(daemon_state(plan, modes)))
            return 0
    except ValueError as e:
        print("lab: %s" % e, file=sys.stderr)
        return 2
    print("unknown command %s" % cmd, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
