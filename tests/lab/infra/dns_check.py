#!/usr/bin/python3
"""The lab DNS, seen from tv-client: the zone follows the list files, the
public resolver addresses answer directly, and every special name misbehaves
in exactly its own way. Run through in-lab.sh."""
import os
import socket
import unittest

from labcheck import (LISTS, PUBLIC, RESOLVERS, dns_query, is_domestic, is_foreign, list_groups,
                      parse_reply, resolve, run)


class Zone(unittest.TestCase):
    def test_every_listed_name_resolves_to_an_address_of_its_region(self):
        groups = list_groups()
        self.assertGreater(len(groups), 20)
        for group, name in groups:
            addr = resolve(name)
            self.assertIsInstance(addr, str, "%s does not resolve: %s" % (name, addr))
            if group == "world":
                self.assertTrue(is_foreign(addr), "%s (%s) -> %s" % (name, group, addr))
            else:
                self.assertTrue(is_domestic(addr), "%s (%s) -> %s" % (name, group, addr))

    def test_fixed_names(self):
        for name in ("yandex.ru", "vk.com", "ya.ru", "gosuslugi.ru"):
            self.assertTrue(is_domestic(resolve(name)), name)
        for name in ("google.com", "example.com", "ip-api.com", "ok.lab.test"):
            self.assertTrue(is_foreign(resolve(name)), name)

    def test_matrix_addresses_carry_their_names(self):
        # mx_ips.txt pairs real-looking domestic addresses with a name.
        pairs = {}
        with open(os.path.join(LISTS, "mx_ips.txt"), encoding="utf-8") as f:
            for line in f:
                body, _, comment = line.partition("#")
                if body.strip() and comment.strip():
                    pairs[comment.split()[0]] = body.strip()
        self.assertIn("ya.ru", pairs)
        for name, addr in pairs.items():
            self.assertEqual(resolve(name), addr, name)

    def test_behaviour_hosts_have_distinct_addresses(self):
        names = ["ok", "wrongname", "selfsigned", "expired", "alert", "clientcert", "rst",
                 "silent", "close", "onebyte", "appdata", "http301", "http10", "http2",
                 "httpnone", "httpclose", "httpalert", "httpsplit", "refused", "drop", "blocked"]
        addrs = [resolve(n + ".lab.test") for n in names]
        for n, a in zip(names, addrs):
            self.assertIsInstance(a, str, n)
            self.assertTrue(is_foreign(a), n)
        self.assertEqual(len(set(addrs)), len(addrs))

    def test_names_outside_the_zone_do_not_exist(self):
        for name in ("nx.lab.test", "tarnveil-selftest.example", "anything.example",
                     "not-a-lab-name.com"):
            err = resolve(name)
            self.assertIsInstance(err, socket.gaierror, name)
            self.assertEqual(err.errno, socket.EAI_NONAME, name)
            reply, _ = dns_query("198.18.0.53", name)
            self.assertEqual(parse_reply(reply)["rcode"], 3, name)

    def test_dig_through_the_system_resolver(self):
        r = run(["dig", "+short", "+time=2", "+tries=1", "ya.ru"])
        self.assertEqual(r.stdout.strip(), resolve("ya.ru"))
        r = run(["dig", "+time=2", "+tries=1", "nx.lab.test"])
        self.assertIn("status: NXDOMAIN", r.stdout)


class Resolvers(unittest.TestCase):
    def test_each_resolver_address_answers_from_itself(self):
        want = resolve("example.com")
        for server in RESOLVERS:
            reply, peer = dns_query(server, "example.com")
            self.assertIsNotNone(reply, server)
            self.assertEqual(peer[0], server)
            r = parse_reply(reply)
            self.assertEqual(r["id"], 0x5AA5)
            self.assertTrue(r["flags"] & 0x8000)
            self.assertEqual((r["rcode"], r["answers"][0][1:3]), (0, (1, want)), server)
            self.assertTrue(r["answers"][0][3], "the plain answer uses a pointer")

    def test_dig_at_public_resolvers(self):
        for server in PUBLIC:
            r = run(["dig", "+short", "+time=2", "+tries=1", "@" + server, "google.com"])
            self.assertEqual(r.stdout.strip(), resolve("google.com"), server)

    def test_aaaa_is_an_empty_answer(self):
        reply, _ = dns_query("198.18.0.53", "ya.ru", qtype=28)
        r = parse_reply(reply)
        self.assertEqual((r["rcode"], r["answers"]), (0, []))


class Specials(unittest.TestCase):
    def ask(self, name, server="198.18.0.53"):
        reply, _ = dns_query(server, name)
        self.assertIsNotNone(reply, name)
        return parse_reply(reply)

    def test_error_codes(self):
        self.assertEqual(self.ask("nx.lab.test")["rcode"], 3)
        self.assertEqual(self.ask("servfail.lab.test")["rcode"], 2)
        self.assertEqual(self.ask("refused-dns.lab.test", "8.8.8.8")["rcode"], 5)
        self.assertIn("status: SERVFAIL", run(["dig", "+time=2", "+tries=1",
                                                "servfail.lab.test"]).stdout)
        self.assertIn("status: REFUSED", run(["dig", "+time=2", "+tries=1",
                                               "refused-dns.lab.test"]).stdout)

    def test_cname_chain_ends_in_an_a_record(self):
        r = self.ask("cname.lab.test", "1.1.1.1")
        types = [a[1] for a in r["answers"]]
        self.assertEqual(types[-1], 1)
        self.assertGreaterEqual(types.count(5), 1)
        self.assertEqual(types[:-1], [5] * (len(types) - 1))
        # Each record is owned by the previous record's target.
        owner = "cname.lab.test"
        for name, rtype, data, _ in r["answers"]:
            self.assertEqual(name, owner)
            owner = data
        self.assertEqual(r["answers"][-1][2], resolve("ok.lab.test"))
        self.assertEqual(resolve("cname.lab.test"), resolve("ok.lab.test"))

    def test_full_names_instead_of_pointers(self):
        r = self.ask("fullname.lab.test", "9.9.9.9")
        self.assertEqual(len(r["answers"]), 1)
        name, rtype, data, pointer = r["answers"][0]
        self.assertEqual((name, rtype, pointer), ("fullname.lab.test", 1, False))
        self.assertEqual(resolve("fullname.lab.test"), data)

    def test_wrong_transaction_id(self):
        reply, _ = dns_query("77.88.8.8", "badid.lab.test", qid=0x5AA5)
        r = parse_reply(reply)
        self.assertNotEqual(r["id"], 0x5AA5)
        self.assertEqual((r["rcode"], r["answers"][0][1]), (0, 1), "otherwise a valid answer")
        # The system resolver drops the mismatched reply and gives up.
        self.assertIsInstance(resolve("badid.lab.test"), socket.gaierror)

    def test_empty_answer(self):
        r = self.ask("empty.lab.test")
        self.assertEqual((r["rcode"], r["answers"]), (0, []))

    def test_silence(self):
        reply, _ = dns_query("1.1.1.1", "silent-dns.lab.test", timeout=1.0)
        self.assertIsNone(reply)
        # The resolver still answers the next query.
        self.assertIsNotNone(dns_query("1.1.1.1", "ya.ru")[0])


if __name__ == "__main__":
    unittest.main(verbosity=2)
