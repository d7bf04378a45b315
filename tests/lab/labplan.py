#!/usr/bin/python3
"""Address plan, DNS zone and censor rules of the network lab.

Everything is derived from the program's own list files (web/lists/*.txt) plus
a fixed table of behaviour hosts, so the lab's zone and the program's default
lists cannot drift apart.

    labplan.py plan RUN_DIR          write RUN_DIR/plan.json and RUN_DIR/certs.tsv
    labplan.py rules RUN_DIR MODE..  print an iptables-restore ruleset for the router
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

# Names the public resolver addresses present in their certificates.
RESOLVER_NAMES = {
    "77.88.8.8": "dns.yandex.ru",
    "1.1.1.1": "one.one.one.one",
    "8.8.8.8": "dns.google",
    "9.9.9.9": "dns.quad9.net",
}

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
}
CNAME_CHAIN = ["cname.lab.test", "cname-hop.lab.test", "ok.lab.test"]

FIXED_DOMESTIC = ["yandex.ru", "vk.com", "ya.ru", "gosuslugi.ru"]
FIXED_FOREIGN = ["google.com", "example.com"]
EXTRA_SNI_BLOCK = ["example.com", "blocked.lab.test"]

MODES = ["open", "allowlist", "sni-rst", "sni-drop", "udp53-drop", "ip-block"]
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
        hosts.append({"name": RESOLVER_NAMES[addr], "addr": addr, "behaviour": "anyname",
                      "region": "domestic" if addr == "77.88.8.8" else "foreign"})
    for name, octet, behaviour in BEHAVIOUR_HOSTS:
        hosts.append({"name": name, "addr": "198.19.2.%d" % octet, "behaviour": behaviour,
                      "region": "foreign"})
    hosts.append({"name": IPINFO_HOST, "addr": IPINFO_ADDR, "behaviour": "ipinfo",
                  "region": "foreign"})
    hosts.append({"name": "dns.lab.test", "addr": RESOLVER, "behaviour": "resolver",
                  "region": "domestic"})

    for h in hosts:
        zone.setdefault(h["name"], h["addr"])
    ok_addr = zone["ok.lab.test"]
    for name in ("fullname.lab.test", "badid.lab.test"):
        zone[name] = ok_addr

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
        "ip_block": ["1.1.1.1", "8.8.8.8", "9.9.9.9"],
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
        san = "DNS:" + name
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
            if lst is not None and mode in ("allowlist", "ip-block", "udp53-drop"):
                for x in lst:
                    ipaddress.IPv4Network(x, strict=False)
            if lst is not None and mode in ("sni-rst", "sni-drop"):
                for x in lst:
                    if not re.fullmatch(r"[A-Za-z0-9.-]{1,253}", x):
                        raise ValueError("bad server name: %s" % x)
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


def rules(plan, modes):
    """An iptables-restore text for the router's filter table."""
    lines = ["*filter", ":INPUT ACCEPT [0:0]", ":FORWARD ACCEPT [0:0]", ":OUTPUT ACCEPT [0:0]",
             ":tv-censor - [0:0]", "-A FORWARD -i tv-r0 -j tv-censor"]
    for mode, items in modes:
        if mode == "open":
            continue
        if mode == "udp53-drop":
            for a in items or PUBLIC_RESOLVERS:
                lines.append("-A tv-censor -p udp -d %s --dport 53 -j DROP" % a)
        elif mode == "ip-block":
            for a in items or plan["ip_block"]:
                lines.append("-A tv-censor -d %s -j DROP" % a)
        elif mode in ("sni-rst", "sni-drop"):
            target = "REJECT --reject-with tcp-reset" if mode == "sni-rst" else "DROP"
            for name in items or plan["sni_block"]:
                lines.append('-A tv-censor -p tcp --dport 443 -m string --algo bm --hex-string '
                             '"%s" -j %s' % (sni_hex(name), target))
    # The allow-list goes last so that the SNI rules still see domestic traffic.
    for mode, items in modes:
        if mode == "allowlist":
            for a in items or plan["allow"]:
                lines.append("-A tv-censor -d %s -j RETURN" % a)
            lines.append("-A tv-censor -j DROP")
    lines.append("COMMIT")
    return "\n".join(lines) + "\n"


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
        if cmd == "rules":
            with open(os.path.join(argv[2], "plan.json")) as f:
                plan = json.load(f)
            sys.stdout.write(rules(plan, parse_modes(argv[3:])))
            return 0
    except ValueError as e:
        print("lab: %s" % e, file=sys.stderr)
        return 2
    print("unknown command %s" % cmd, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
