#!/usr/bin/python3
"""Nothing leaves the machine: the lab's links form a closed chain
tv-client - tv-router - tv-net, and a packet for an address the lab does not
host dies inside it without an answer. Run through in-lab.sh."""
import json
import unittest

from labcheck import run, tcp_state

LAB_NS = ("tv-client", "tv-router", "tv-net")


def ip_json(ns, *args):
    r = run(["ip", "-n", ns, "-j"] + list(args))
    assert r.returncode == 0, r.stderr
    return json.loads(r.stdout or "[]")


def nsid_names(ns):
    """nsid -> namespace name, as seen from ns."""
    out = {}
    for line in run(["ip", "-n", ns, "netns", "list-id"]).stdout.splitlines():
        parts = line.split()
        if len(parts) >= 2 and parts[0] == "nsid":
            name = line.split("name:")[-1].strip().rstrip(")") if "name:" in line else ""
            out[int(parts[1])] = name
    return out


class Links(unittest.TestCase):
    def test_links_form_a_closed_chain(self):
        pairs = set()
        for ns in LAB_NS:
            ids = nsid_names(ns)
            for link in ip_json(ns, "-d", "link", "show"):
                kind = link.get("linkinfo", {}).get("info_kind")
                if link["ifname"] == "lo":
                    continue
                self.assertEqual(kind, "veth", "%s: %s" % (ns, link["ifname"]))
                self.assertIn("link_netnsid", link, "%s: peer in the same namespace" % ns)
                peer_ns = ids.get(link["link_netnsid"], "?")
                self.assertIn(peer_ns, LAB_NS, "%s: %s leads out of the lab" % (ns, link["ifname"]))
                peer = [p for p in ip_json(peer_ns, "-d", "link", "show")
                        if p["ifindex"] == link["link_index"]]
                self.assertEqual(len(peer), 1)
                pairs.add(frozenset([(ns, link["ifname"]), (peer_ns, peer[0]["ifname"])]))
        self.assertEqual(pairs, {
            frozenset([("tv-client", "tv-c0"), ("tv-router", "tv-r0")]),
            frozenset([("tv-router", "tv-r1"), ("tv-net", "tv-n0")]),
        })

    def test_routes(self):
        def default(ns):
            return [r for r in ip_json(ns, "route", "show") if r["dst"] == "default"]
        self.assertEqual([r["gateway"] for r in default("tv-client")], ["10.200.1.1"])
        self.assertEqual([r["gateway"] for r in default("tv-router")], ["10.200.2.2"])
        self.assertEqual(default("tv-net"), [], "the last hop has nowhere to send")

    def test_offloads_are_off(self):
        for ns, dev in (("tv-client", "tv-c0"), ("tv-router", "tv-r0"), ("tv-router", "tv-r1"),
                        ("tv-net", "tv-n0")):
            out = run(["ip", "netns", "exec", ns, "ethtool", "-k", dev]).stdout
            for feature in ("tcp-segmentation-offload", "generic-segmentation-offload",
                            "generic-receive-offload"):
                self.assertIn("%s: off" % feature, out, "%s %s" % (dev, feature))


class Traffic(unittest.TestCase):
    def test_addresses_outside_the_lab_are_silent(self):
        # No host, no error: the packets die in tv-net.
        for addr in ("203.0.113.10", "192.0.2.1", "100.64.0.1"):
            self.assertEqual(tcp_state(addr, timeout=1.0), "timeout", addr)

    def test_system_resolver_is_the_lab(self):
        with open("/etc/resolv.conf") as f:
            servers = [l.split()[1] for l in f if l.startswith("nameserver")]
        self.assertEqual(servers, ["198.18.0.53"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
