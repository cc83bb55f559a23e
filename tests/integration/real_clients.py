#!/usr/bin/python3
"""Real LDAP clients (ldapsearch, python3-ldap3) against veskad over the sample data.

usage: real_clients.py VESKAD API_SO SOURCE_DIR
Builds a program folder in a temporary directory (mail.db from the sample SQL, the
sample LDIF as external file, VESKA.INI on a free loopback port), starts veskad and
checks what the clients get back.
"""
import os
import subprocess
import sys
import tempfile
import time
import unittest

import ldap3

from veskad_run import Veskad, make_program_folder

print("real clients through %s (Python %s, ldap3 %s)" % (sys.executable, sys.version.split()[0], ldap3.__version__),
      file=sys.stderr)

VESKAD, API_SO, SOURCE = sys.argv[1:4]
del sys.argv[1:4]

LEE_FILTER = "(|(cn=*lee*)(mail=*lee*))"
# Store order: mail-server users by domain and user, then the external file's records.
LEE_DNS = ["Ann Lee", "Bob Leeds", "Ravi Patel", "Lee Chang"]


class RealClients(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        folder = cls.tmp.name
        cls.port = make_program_folder(folder, API_SO,
                                       [os.path.join(SOURCE, "api", name) for name in ("schema.sql", "sample.sql")],
                                       os.path.join(SOURCE, "api", "sample.ldif"))
        cls.server = Veskad(VESKAD, folder, cls.port)

    @classmethod
    def tearDownClass(cls):
        rc, err = cls.server.stop()
        cls.tmp.cleanup()
        if rc != 0:
            raise AssertionError("veskad exited with %d: %s" % (rc, err))

    def ldapsearch(self, flt):
        return subprocess.run(["ldapsearch", "-x", "-LLL", "-o", "ldif-wrap=no",
                               "-H", "ldap://127.0.0.1:%d" % self.port, "-b", "", flt],
                              capture_output=True, text=True, timeout=30)

    def test_ldapsearch_substring(self):
        r = self.ldapsearch(LEE_FILTER)
        self.assertEqual(r.returncode, 0, r.stderr)
        # The first line of each entry is its DN; later "dn: " lines are the
        # dn attribute lines merged from the LDIF file.
        dns = [block.splitlines()[0][4:] for block in r.stdout.strip().split("\n\n")]
        self.assertEqual(dns, LEE_DNS)
        # Ann Lee's mail-server entry carries the lines merged from the LDIF file.
        ann = r.stdout.split("\n\n")[0].splitlines()
        self.assertEqual(ann, ["dn: Ann Lee", "cn: Ann Lee", "mail: ann@example.com",
                               "dn: cn=Ann Lee,o=Example", "mail: ann@example.com",
                               "title: Head of Accounts", "telephoneNumber: +1 555 0100"])

    def test_ldapsearch_equality_gets_clean_empty_result(self):
        r = self.ldapsearch("(mail=ann@example.com)")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.strip(), "")

    def test_ldap3_bind_and_search(self):
        server = ldap3.Server("127.0.0.1", port=self.port, get_info=ldap3.NONE)
        conn = ldap3.Connection(server, auto_bind=True, receive_timeout=30)
        try:
            self.assertTrue(conn.bound)
            ok = conn.search("", LEE_FILTER, attributes=["cn", "mail"])
            self.assertTrue(ok)
            self.assertEqual(conn.result["result"], 0)
            entries = [e for e in conn.response if e["type"] == "searchResEntry"]
            self.assertEqual([e["dn"] for e in entries], LEE_DNS)
            first = entries[0]["raw_attributes"]
            self.assertEqual(first["cn"], [b"Ann Lee"])
            # Two PartialAttributes of type mail: ldap3 keeps the last one per type.
            self.assertEqual(first["mail"], [b"ann@example.com"])
            self.assertEqual(first["title"], [b"Head of Accounts"])

            ok = conn.search("o=anything", "(cn=Ann Lee)", attributes=["cn"])
            self.assertFalse(ok)
            self.assertEqual(conn.result["result"], 0)
            self.assertEqual([e for e in conn.response if e["type"] == "searchResEntry"], [])
        finally:
            conn.unbind()

    def test_search_lines_reach_stdout(self):
        before = sum(1 for l in self.server.lines if l.startswith("Search Request 127.0.0.1 "))
        self.assertEqual(self.ldapsearch(LEE_FILTER).returncode, 0)
        deadline = time.time() + 10
        while time.time() < deadline:
            n = sum(1 for l in self.server.lines if l.startswith("Search Request 127.0.0.1 "))
            if n > before:
                break
            time.sleep(0.05)
        self.assertGreater(n, before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
