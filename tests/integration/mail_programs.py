#!/usr/bin/python3
"""Whom mail programs find, in the default mode and with StandardSearch=Yes.

usage: mail_programs.py VESKAD API_SO SOURCE_DIR
One veskad process per mode serves the same small directory (people.sql through the
reference mail library, people.ldif as external file). The first table replays
each program's lookups with ldap3 as the program sends them (filter, base, scope,
attributes, size limit); the second runs real clients: lbdb's mutt_ldap_query
(Perl Net::LDAP), Roundcube's own address book class (PHP), python-ldap (libldap).
Every row names the people found in each mode; a summary of the modes goes to stderr.
"""
import collections
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
VESKAD, API_SO, SOURCE = sys.argv[1:4]
del sys.argv[1:4]

from veskad_run import Veskad, make_program_folder  # noqa: E402

# A missing client fails the run with the package to install (CI installs them all).
MISSING = []
try:
    import ldap3
except ImportError:
    MISSING.append("python3-ldap3")
try:
    import ldap
    import ldap.dn
except ImportError:
    MISSING.append("python3-ldap")
for tool, package in (("mutt_ldap_query", "lbdb"), ("php", "php-cli")):
    if not shutil.which(tool):
        MISSING.append(package)

NOBODY = []
EVERYONE = ["Ann Lee", "John Doe", "John Porter", "John Smith", "Mary Johnson", "Pat Kim"]
ROOT_DSE = "(root DSE)"

SUB, ONE, BASE = "SUBTREE", "LEVEL", "BASE"
ALL = ["*"]
THUNDERBIRD_ATTRS = ["cn", "mail", "givenName", "sn", "nickname", "o", "ou", "title"]
ROUNDCUBE_ATTRS = ["cn", "sn", "givenname", "title", "mail", "telephonenumber", "o", "objectClass"]
ROOT_DSE_ATTRS = ["namingContexts", "subschemaSubentry", "supportedControl", "supportedExtension",
                  "supportedFeatures", "supportedLDAPVersion", "supportedSASLMechanisms"]

# One request; `base` is a DN or, for a re-read, ("dn of", name) taken from the
# previous step's answer. `default` and `standard`: the people found in each mode.
Step = collections.namedtuple("Step", "base scope filter attributes size_limit default standard")


def dn_of(name):
    return ("dn of", name)


# One row per program; a typed "john" (Claws: "john smith").
REPLAYS = [
    ("Outlook", [Step(
        "", SUB, "(&(mail=*)(|(mail=john*)(|(cn=john*)(|(sn=john*)(givenName=john*)))))",
        ["cn", "mail", "givenName", "sn", "telephoneNumber", "title", "company", "department"], 100,
        NOBODY, ["John Doe", "John Smith", "Mary Johnson"])]),
    # KDE with a base of its own: one level below it is answered like the flat directory.
    ("KDE Kontact/KMail", [Step(
        "dc=example,dc=com", ONE,
        "(&(|(objectclass=person)(objectclass=groupOfNames)(mail=*))"
        "(|(cn=john*)(mail=john*)(givenName=john*)(sn=john*)))",
        ["cn", "mail", "givenName", "sn", "objectClass"], 0,
        NOBODY, ["John Doe", "John Porter", "John Smith", "Mary Johnson"])]),
    ("Apple Contacts", [Step(
        "", SUB, "(|(givenname=john)(sn=john)(cn=john)(mail=john))", ALL, 0,
        NOBODY, ["John Doe", "John Porter", "John Smith"])]),
    ("mutt with lbdb", [Step(
        "", SUB, "(|(givenname=john)(sn=john)(cn=john))", ALL, 0,
        NOBODY, ["John Doe", "John Porter", "John Smith"])]),
    ("Roundcube (sample config)", [Step(
        "", SUB, "(&(objectClass=inetOrgPerson)(|(cn=*john*)(givenName=*john*)(sn=*john*)(mail=*john*)))",
        ROUNDCUBE_ATTRS, 0,
        NOBODY, ["John Doe", "John Porter", "John Smith", "Mary Johnson", "Pat Kim"])]),
    ("Claws Mail, two words", [Step(
        "", SUB, "(&(|(&(givenName=john*)(sn=smith*))(&(givenName=smith*)(sn=john*)))(mail=*))",
        ["mail", "cn", "givenName", "sn"], 50,
        NOBODY, ["John Smith"])]),
    ("Thunderbird autocomplete", [Step(
        "", SUB, "(|(cn=*john*)(mail=*john*)(givenName=*john*)(sn=*john*))", THUNDERBIRD_ATTRS, 100,
        ["John Doe", "John Porter", "John Smith", "Mary Johnson", "Pat Kim"],
        ["John Doe", "John Porter", "John Smith", "Mary Johnson", "Pat Kim"])]),
    # Root DSE first, then its name lookup, then the chosen contact read by its DN.
    ("Evolution", [
        Step("", BASE, "(objectclass=*)", ROOT_DSE_ATTRS, 0, NOBODY, [ROOT_DSE]),
        Step("", SUB, "(|(cn=john*)(mail=john*)(givenName=john*)(sn=john*))", ALL, 100,
             ["John Doe", "John Porter", "John Smith", "Mary Johnson"],
             ["John Doe", "John Porter", "John Smith", "Mary Johnson"]),
        Step(dn_of("John Smith"), BASE, "(objectclass=*)", ALL, 0, NOBODY, ["John Smith"])]),
    ("Thunderbird, download for offline use", [Step(
        "", SUB, "(objectclass=*)", ALL, 0, NOBODY, EVERYONE)]),
    ("Roundcube, list all", [Step(
        "", SUB, "(objectClass=inetOrgPerson)", ROUNDCUBE_ATTRS, 0, NOBODY, EVERYONE)]),
    # SOGo's contact id here is the mail address.
    ("SOGo, open contact", [Step(
        "", SUB, "(mail=john@example.com)", ALL, 0, NOBODY, ["John Smith"])]),
]


def name_of(entry):
    """The entry's cn, or its DN when the answer has no cn (the root DSE)."""
    for key, values in entry["raw_attributes"].items():
        if key.lower() == "cn" and values:
            return values[0].decode("utf-8", "replace")
    return entry["dn"] or ROOT_DSE


def replay(port, steps):
    """Runs the steps on one connection and yields, step by step, the names found."""
    server = ldap3.Server("127.0.0.1", port=port, get_info=ldap3.NONE, connect_timeout=10)
    # check_names off: requests go out as the program wrote them.
    conn = ldap3.Connection(server, auto_bind=True, receive_timeout=10, check_names=False)
    try:
        dns = {}
        for step in steps:
            base = step.base
            if isinstance(base, tuple):
                if base[1] not in dns:
                    raise LookupError("no DN of %s from the previous step" % base[1])
                base = dns[base[1]]
            conn.search(base, step.filter, getattr(ldap3, step.scope), attributes=step.attributes,
                        size_limit=step.size_limit)
            if conn.result["result"] not in (0, 4):  # success, sizeLimitExceeded
                raise RuntimeError("result %s %s" % (conn.result["result"], conn.result["description"]))
            entries = [e for e in conn.response if e["type"] == "searchResEntry"]
            dns = {name_of(e): e["dn"] for e in entries}
            yield sorted(name_of(e) for e in entries)
    finally:
        conn.unbind()


def run(args, env=None):
    r = subprocess.run(args, capture_output=True, text=True, timeout=60, env=env)
    return r, "%s exited with %d\nstdout:\n%s\nstderr:\n%s" % (args[0], r.returncode, r.stdout, r.stderr[-4000:])


def lbdb_lookup(port, text, home, ignorant=0):
    """mutt_ldap_query TEXT, configured through its own file in $HOME/.lbdb; with
    `ignorant` it looks for values that contain TEXT instead of equal ones."""
    os.makedirs(os.path.join(home, ".lbdb"), exist_ok=True)
    with open(os.path.join(home, ".lbdb", "ldap.rc"), "w") as rc:
        rc.write("$ldap_server = 'ldap://127.0.0.1:%d';\n$search_base = '';\n"
                 "$ldap_search_fields = 'givenname sn cn';\n"
                 "$ldap_expected_answers = 'givenname sn cn mail o';\n"
                 "$ldap_result_email = '${mail}';\n$ldap_result_realname = '${cn}';\n"
                 "$ldap_result_comment = '${o}';\n$ignorant = %d;\n1;\n" % (port, ignorant))
    r, report = run(["mutt_ldap_query", text], env=dict(os.environ, HOME=home))
    # It exits with 1 when it found nobody, and dies (255) when the search failed.
    if r.returncode not in (0, 1) or not r.stdout.startswith("LDAP query: found "):
        raise RuntimeError(report)
    found = [line.split("\t") for line in r.stdout.splitlines()[1:]]
    return sorted("%s <%s>" % (f[1], f[0]) for f in found)


def roundcube(port, *args):
    r, report = run(["php", os.path.join(HERE, "roundcube_addressbook.php"), str(port)] + list(args))
    lines = r.stdout.strip().splitlines()
    if r.returncode != 0 or not lines or not lines[-1].startswith("["):
        raise RuntimeError(report)
    return json.loads(lines[-1])


def roundcube_autocomplete(port, text):
    """What the compose screen offers: one "name <mail>" per address."""
    return sorted("%s <%s>" % (r["name"], m) for r in roundcube(port, "search", text) for m in r["email"])


def roundcube_list(port):
    return sorted(r["name"] for r in roundcube(port, "list"))


def roundcube_open(port, text, name):
    """Looks TEXT up, then opens the contact called NAME as the contact view does."""
    ids = [r["ID"] for r in roundcube(port, "search", text) if r["name"] == name]
    if not ids:
        return []
    return sorted("%s <%s>" % (r["name"], m) for r in roundcube(port, "open", ids[0]) for m in r["email"])


def libldap_read_back(port):
    """Lists the directory, then reads every entry back by its DN (scope base); the
    DNs must parse with libldap's own parser and be unique."""
    conn = ldap.initialize("ldap://127.0.0.1:%d" % port)
    conn.set_option(ldap.OPT_NETWORK_TIMEOUT, 10)
    conn.set_option(ldap.OPT_TIMEOUT, 10)
    conn.simple_bind_s("", "")
    try:
        listed = conn.search_s("", ldap.SCOPE_SUBTREE, "(objectClass=*)", ["cn"])
        dns = [dn for dn, _ in listed]
        if len(set(dns)) != len(dns):
            raise RuntimeError("DNs not unique: %r" % dns)
        read = []
        for dn in dns:
            ldap.dn.str2dn(dn)  # raises DECODING_ERROR on an invalid DN
            got = conn.search_s(dn, ldap.SCOPE_BASE, "(objectClass=*)", ["cn"])
            for got_dn, attrs in got:
                cn = [v for k, v in attrs.items() if k.lower() == "cn"]
                if got_dn == dn and cn:
                    read.append(cn[0][0].decode())
        return sorted(read)
    finally:
        conn.unbind_s()


LOOKUP_JOHN = ["John Doe <jdoe@partner.example.net>", "John Smith <john@example.com>"]

# One row per real client: how it runs (port, scratch folder) and whom it finds.
CLIENTS = [
    ("lbdb mutt_ldap_query john", lambda port, tmp: lbdb_lookup(port, "john", tmp),
     NOBODY, LOOKUP_JOHN),
    ("lbdb mutt_ldap_query john, $ignorant = 1", lambda port, tmp: lbdb_lookup(port, "john", tmp, 1),
     LOOKUP_JOHN + ["Mary Johnson <mary@example.com>"], LOOKUP_JOHN + ["Mary Johnson <mary@example.com>"]),
    ("Roundcube autocomplete john", lambda port, tmp: roundcube_autocomplete(port, "john"),
     NOBODY, ["John Doe <jdoe@partner.example.net>", "John Smith <john@example.com>",
              "Mary Johnson <mary@example.com>", "Pat Kim <pat.johns@example.org>"]),
    ("Roundcube list all", lambda port, tmp: roundcube_list(port),
     NOBODY, EVERYONE),
    ("Roundcube open contact", lambda port, tmp: roundcube_open(port, "john", "John Smith"),
     NOBODY, ["John Smith <john@example.com>"]),
    ("python-ldap read every entry by its DN", lambda port, tmp: libldap_read_back(port),
     NOBODY, EVERYONE),
]


# Each mode's extra VESKA.INI lines.
MODES = {"default": "", "standard": "StandardSearch=Yes\n"}


def outcome(found):
    return "found %d" % len(found) if found else "nothing"


class MailPrograms(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if MISSING:
            raise AssertionError("client packages missing: %s (scripts/setup.sh installs them)"
                                 % " ".join(MISSING))
        cls.tmp = tempfile.TemporaryDirectory()
        cls.servers = {}
        for mode, options in MODES.items():
            folder = os.path.join(cls.tmp.name, mode)
            port = make_program_folder(folder, API_SO,
                                       [os.path.join(SOURCE, "api", "schema.sql"),
                                        os.path.join(HERE, "people.sql")],
                                       os.path.join(HERE, "people.ldif"), options)
            cls.servers[mode] = Veskad(VESKAD, folder, port)
        cls.summary = collections.defaultdict(dict)

    @classmethod
    def tearDownClass(cls):
        errors = []
        for mode, server in getattr(cls, "servers", {}).items():
            rc, err = server.stop()
            if rc != 0:
                errors.append("veskad (%s mode) exited with %d: %s" % (mode, rc, err))
        if hasattr(cls, "tmp"):
            cls.tmp.cleanup()
        if cls.summary:
            print("\n%-42s %-28s %s" % ("program", "default mode", "StandardSearch=Yes"), file=sys.stderr)
            for row, modes in cls.summary.items():
                print("%-42s %-28s %s" % (row, modes.get("default", "-"), modes.get("standard", "-")),
                      file=sys.stderr)
        if errors:
            raise AssertionError("\n".join(errors))

    def test_lookups_replayed(self):
        for mode, server in self.servers.items():
            for program, steps in REPLAYS:
                with self.subTest(mode=mode, program=program):
                    got = []
                    try:
                        for found in replay(server.port, steps):
                            got.append(found)
                    except Exception as e:  # recorded, then reported by the assertion below
                        got.append("error: %s" % e)
                    self.summary[program][mode] = ", ".join(
                        g if isinstance(g, str) else outcome(g) for g in got)
                    self.assertEqual(got, [getattr(s, mode) for s in steps])

    def test_real_clients(self):
        for mode, server in self.servers.items():
            for client, run_client, default, standard in CLIENTS:
                with self.subTest(mode=mode, client=client), tempfile.TemporaryDirectory() as scratch:
                    try:
                        got = run_client(server.port, scratch)
                    except Exception as e:
                        self.summary[client][mode] = "error"
                        raise AssertionError("%s (%s mode): %s" % (client, mode, e))
                    self.summary[client][mode] = outcome(got)
                    self.assertEqual(got, default if mode == "default" else standard)


if __name__ == "__main__":
    unittest.main(verbosity=2)
