#!/usr/bin/python3
"""Encrypted and restricted access, one row per case, against veskad processes.

usage: tls_table.py VESKAD API_SO SOURCE_DIR
Each configuration (a temporary program folder with the sample mail data and a
self-signed certificate made here by openssl) runs one veskad on free ports;
the rows talk to it with ldapsearch, ldap3, Python's ssl module or raw sockets.
"""
import os
import shutil
import signal
import socket
import sqlite3
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import ldap3

VESKAD, API_SO, SOURCE = sys.argv[1:4]
del sys.argv[1:4]

# A started message or handshake may take this long here (30 s in service).
SHORT_TIMEOUT_MS = 800
# Mail-server users, then the sample LDIF's contact.
LEE_DNS = ["Ann Lee", "Bob Leeds", "Lee Chang"]
START_TLS_OID = b"1.3.6.1.4.1.1466.20037"


def ber(tag, content):
    n = len(content)
    length = bytes([n]) if n < 0x80 else bytes([0x81, n]) if n < 0x100 else bytes([0x82, n >> 8, n & 0xFF])
    return bytes([tag]) + length + content


def message(msgid, op):
    return ber(0x30, ber(0x02, bytes([msgid])) + op)


BIND = message(1, ber(0x60, ber(0x02, b"\x03") + ber(0x04, b"") + ber(0x80, b"")))
BIND_OK = message(1, ber(0x61, ber(0x0A, b"\x00") + ber(0x04, b"") + ber(0x04, b"")))
SEARCH_LEE = message(2, ber(0x63, ber(0x04, b"") + ber(0x0A, b"\x02") + ber(0x0A, b"\x00") + ber(0x02, b"\x00") +
                            ber(0x02, b"\x00") + ber(0x01, b"\x00") +
                            ber(0xA4, ber(0x04, b"cn") + ber(0x30, ber(0x81, b"lee"))) + ber(0x30, b"")))
CONFIDENTIALITY_REQUIRED = message(2, ber(0x65, ber(0x0A, b"\x0d") + ber(0x04, b"") +
                                        ber(0x04, b"Encryption required: use LDAPS or StartTLS first")))
START_TLS = message(3, ber(0x77, ber(0x80, START_TLS_OID)))
START_TLS_OK = message(3, ber(0x78, ber(0x0A, b"\x00") + ber(0x04, b"") + ber(0x04, b"") + ber(0x8A, START_TLS_OID)))


def start_tls_refused(diagnostic):
    return message(3, ber(0x78, ber(0x0A, b"\x01") + ber(0x04, b"") + ber(0x04, diagnostic) + ber(0x8A, START_TLS_OID)))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_certificate(folder, name, cn):
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=" + cn,
                    "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1",
                    "-keyout", os.path.join(folder, name + "-key.pem"),
                    "-out", os.path.join(folder, name + "-cert.pem")],
                   check=True, capture_output=True, timeout=60)
    os.chmod(os.path.join(folder, name + "-key.pem"), 0o600)


def read_until_closed(sock, limit=10.0):
    """Everything the server sends until it closes (None if it stays open)."""
    sock.settimeout(limit)
    data = b""
    try:
        while True:
            chunk = sock.recv(4096)
            if not chunk:
                return data
            data += chunk
    except ConnectionResetError:
        return data
    except socket.timeout:
        return None


def header_size(data, at=0):
    first = data[at + 1]
    return 2 + (first & 0x7F if first & 0x80 else 0)


def operation(msg):
    """(tag, content octets) of a message's protocol operation."""
    at = header_size(msg)
    at += header_size(msg, at) + msg[at + 1]  # the message ID (short form)
    return msg[at], msg[at + header_size(msg, at):]


def read_messages(sock, count):
    """count whole LDAP messages (short or one/two-octet long lengths)."""
    data = b""
    out = []
    while len(out) < count:
        while True:
            if len(data) >= 2:
                first = data[1]
                head = 2 + (first & 0x7F if first & 0x80 else 0)
                if len(data) >= head:
                    size = first if first < 0x80 else int.from_bytes(data[2:head], "big")
                    if len(data) >= head + size:
                        out.append(data[:head + size])
                        data = data[head + size:]
                        break
            chunk = sock.recv(65536)
            if not chunk:
                raise AssertionError("closed after %d messages" % len(out))
            data += chunk
    return out


class Veskad:
    """veskad on a program folder; a start that fails is kept with its output."""

    def __init__(self, folder, settings, timeout_ms=None):
        with open(os.path.join(folder, "VESKA.INI"), "w") as ini:
            ini.write("[OPTIONS]\n" + "".join("%s=%s\n" % kv for kv in settings.items()))
        env = dict(os.environ, TZ="UTC")
        if timeout_ms:
            env["VESKAD_MESSAGE_TIMEOUT_MS"] = str(timeout_ms)
        self.lines = []
        self.started = threading.Event()
        self.proc = subprocess.Popen([VESKAD, "--dir", folder], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                     text=True, env=env)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.started.wait(60)

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append(line.rstrip("\n"))
            if line.startswith("Service started "):
                self.started.set()
        self.started.set()

    def wait_line(self, prefix, limit=10.0):
        deadline = time.time() + limit
        while time.time() < deadline:
            if any(line.startswith(prefix) for line in self.lines):
                return True
            time.sleep(0.05)
        return False

    def finish(self):
        """Stops a running daemon; (exit code, stderr lines)."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        rc = self.proc.wait(30)
        self.reader.join(10)
        return rc, self.proc.stderr.read().splitlines()


class TlsTable(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="veska-tls-")
        make_certificate(cls.tmp, "server", "localhost")
        make_certificate(cls.tmp, "other", "other")
        db = sqlite3.connect(os.path.join(cls.tmp, "mail.db"))
        for name in ("schema.sql", "sample.sql"):
            with open(os.path.join(SOURCE, "api", name)) as f:
                db.executescript(f.read())
        db.commit()
        db.close()
        shutil.copy(os.path.join(SOURCE, "api", "sample.ldif"), os.path.join(cls.tmp, "contacts.ldif"))
        cls.ca = os.path.join(cls.tmp, "server-cert.pem")
        cls.daemons = {}

    @classmethod
    def tearDownClass(cls):
        try:
            for name, daemon in cls.daemons.items():
                rc, err = daemon.finish()
                if daemon.started.is_set() and daemon.lines and rc not in (0, 1):
                    raise AssertionError("veskad %s exited with %r: %r" % (name, rc, err))
        finally:
            shutil.rmtree(cls.tmp, ignore_errors=True)

    def daemon(self, name):
        """The running veskad of a named configuration, started on first use."""
        if name in self.daemons:
            return self.daemons[name]
        folder = os.path.join(self.tmp, name)
        os.mkdir(folder)
        shutil.copy(os.path.join(self.tmp, "contacts.ldif"), folder)
        for f in ("server-cert.pem", "server-key.pem", "other-cert.pem", "other-key.pem", "mail.db"):
            shutil.copy(os.path.join(self.tmp, f), folder)
        os.symlink(os.path.abspath(API_SO), os.path.join(folder, "API.so"))
        port, tls_port = free_port(), free_port()
        settings = {"DefaultPort": port, "TlsPort": tls_port, "ExtFile": os.path.join(folder, "contacts.ldif"),
                    "TlsCertificate": "server-cert.pem", "TlsKey": "server-key.pem"}
        settings.update(CONFIGS[name])
        if name == "open_key":
            os.chmod(os.path.join(folder, "server-key.pem"), 0o644)
        d = Veskad(folder, {k: v for k, v in settings.items() if v is not None}, SHORT_TIMEOUT_MS)
        d.port, d.tls_port, d.folder = port, tls_port, folder
        self.daemons[name] = d
        return d

    def running(self, name):
        d = self.daemon(name)
        if not any(line.startswith("Service started ") for line in d.lines):
            self.fail("veskad %s did not start: %r" % (name, d.finish()))
        return d

    def ldapsearch(self, url, *extra):
        env = dict(os.environ, LDAPTLS_CACERT=self.ca, LDAPTLS_REQCERT="demand")
        r = subprocess.run(["ldapsearch", "-x", "-LLL", "-o", "ldif-wrap=no", "-H", url, *extra, "-b", "",
                            "(cn=*lee*)", "cn"], capture_output=True, text=True, timeout=30, env=env)
        self.assertEqual(r.returncode, 0, r.stderr)
        # An entry's first line is its DN; later "dn: " lines are merged attribute lines.
        return [block.splitlines()[0][4:] for block in r.stdout.strip().split("\n\n") if block]

    def tls_client(self):
        context = ssl.create_default_context(cafile=self.ca)
        return context

    # ------------------------------------------------------------------ rows

    def row_ldapsearch_ldaps(self):
        d = self.running("tls")
        self.assertEqual(self.ldapsearch("ldaps://127.0.0.1:%d" % d.tls_port), LEE_DNS)

    def row_ldapsearch_starttls(self):
        d = self.running("tls")
        self.assertEqual(self.ldapsearch("ldap://127.0.0.1:%d" % d.port, "-ZZ"), LEE_DNS)

    def row_ldap3_ldaps(self):
        d = self.running("tls")
        tls = ldap3.Tls(validate=ssl.CERT_REQUIRED, ca_certs_file=self.ca)
        server = ldap3.Server("127.0.0.1", port=d.tls_port, use_ssl=True, tls=tls, get_info=ldap3.NONE)
        conn = ldap3.Connection(server, auto_bind=True, receive_timeout=30)
        try:
            self.assertTrue(conn.search("", "(cn=*lee*)", attributes=["cn"]))
            self.assertEqual([e["dn"] for e in conn.response if e["type"] == "searchResEntry"], LEE_DNS)
        finally:
            conn.unbind()

    def row_ldap3_starttls(self):
        d = self.running("tls")
        tls = ldap3.Tls(validate=ssl.CERT_REQUIRED, ca_certs_file=self.ca)
        server = ldap3.Server("127.0.0.1", port=d.port, tls=tls, get_info=ldap3.NONE)
        conn = ldap3.Connection(server, receive_timeout=30)
        try:
            conn.open()
            self.assertTrue(conn.start_tls())
            self.assertTrue(conn.bind())
            self.assertTrue(conn.search("", "(cn=*lee*)", attributes=["cn"]))
            self.assertEqual([e["dn"] for e in conn.response if e["type"] == "searchResEntry"], LEE_DNS)
        finally:
            conn.unbind()

    def row_tls11_client_refused(self):
        d = self.running("tls")
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        context.set_ciphers("DEFAULT:@SECLEVEL=0")
        context.minimum_version = ssl.TLSVersion.TLSv1_1
        context.maximum_version = ssl.TLSVersion.TLSv1_1
        with socket.create_connection(("127.0.0.1", d.tls_port), timeout=10) as raw:
            with self.assertRaises(ssl.SSLError) as refused:
                context.wrap_socket(raw).close()
        self.assertIn("PROTOCOL_VERSION", str(refused.exception).upper())
        self.assertTrue(d.wait_line("Error...127.0.0.1: TLS handshake failed: unsupported protocol"), d.lines)

    def row_stalled_handshake_is_cut(self):
        d = self.running("tls")
        with socket.create_connection(("127.0.0.1", d.tls_port), timeout=10) as raw:
            raw.sendall(b"\x16\x03\x01\x00\xc8")  # a record header, then nothing
            self.assertEqual(read_until_closed(raw), b"")
        self.assertTrue(d.wait_line("Error...127.0.0.1: TLS handshake not complete within %d ms" % SHORT_TIMEOUT_MS),
                        d.lines)

    def row_plain_bytes_on_ldaps_port(self):
        d = self.running("tls")
        with socket.create_connection(("127.0.0.1", d.tls_port), timeout=10) as raw:
            raw.sendall(BIND)
            answer = read_until_closed(raw)
        self.assertIsNotNone(answer, "connection left open")
        self.assertNotIn(BIND_OK, answer)
        # At most a TLS alert record.
        self.assertTrue(answer == b"" or answer[:1] == b"\x15", answer)
        self.assertTrue(d.wait_line("Error...127.0.0.1: TLS handshake failed: "), d.lines)

    def row_tls_required_refuses_search_before_starttls(self):
        d = self.running("required")
        with socket.create_connection(("127.0.0.1", d.port), timeout=10) as raw:
            raw.sendall(BIND + SEARCH_LEE)
            self.assertEqual(read_messages(raw, 2), [BIND_OK, CONFIDENTIALITY_REQUIRED])
            raw.sendall(START_TLS)
            self.assertEqual(read_messages(raw, 1), [START_TLS_OK])
            with self.tls_client().wrap_socket(raw, server_hostname="localhost") as secure:
                secure.sendall(SEARCH_LEE)
                answers = read_messages(secure, len(LEE_DNS) + 1)
        self.assertEqual([operation(a)[0] for a in answers], [0x64] * len(LEE_DNS) + [0x65])
        self.assertEqual(operation(answers[-1])[1][:3], b"\x0a\x01\x00")

    def row_starttls_on_ldaps_gets_operations_error(self):
        d = self.running("tls")
        with socket.create_connection(("127.0.0.1", d.tls_port), timeout=10) as raw:
            with self.tls_client().wrap_socket(raw, server_hostname="localhost") as secure:
                secure.sendall(START_TLS + BIND)
                self.assertEqual(read_messages(secure, 2), [start_tls_refused(b"TLS is already in use"), BIND_OK])

    def row_starttls_with_a_request_behind_it_gets_operations_error(self):
        d = self.running("tls")
        with socket.create_connection(("127.0.0.1", d.port), timeout=10) as raw:
            raw.sendall(START_TLS + BIND)
            self.assertEqual(read_messages(raw, 2), [start_tls_refused(b"StartTLS must be sent alone"), BIND_OK])

    def row_starttls_without_certificate_is_not_answered(self):
        d = self.running("no_certificate")
        with socket.create_connection(("127.0.0.1", d.port), timeout=10) as raw:
            raw.sendall(START_TLS)
            time.sleep(0.3)
            raw.sendall(BIND)
            self.assertEqual(read_messages(raw, 1), [BIND_OK])

    def row_allow_from_refuses_127_0_0_2(self):
        d = self.running("allow")
        with socket.create_connection(("127.0.0.1", d.port), timeout=10) as allowed:
            allowed.sendall(BIND)
            self.assertEqual(read_messages(allowed, 1), [BIND_OK])
        with socket.create_connection(("127.0.0.1", d.port), timeout=10, source_address=("127.0.0.2", 0)) as other:
            try:
                other.sendall(BIND)
            except OSError:
                pass
            self.assertEqual(read_until_closed(other), b"")
        self.assertTrue(d.wait_line("Error...Connection refused: 127.0.0.2 is not among the allowed networks")
                        or d.wait_line("Connection refused: 127.0.0.2 is not among the allowed networks"), d.lines)

    def row_search_over_ipv6_loopback(self):
        d = self.running("tls")
        self.assertEqual(self.ldapsearch("ldap://[::1]:%d" % d.port), LEE_DNS)
        self.assertEqual(self.ldapsearch("ldaps://[::1]:%d" % d.tls_port), LEE_DNS)
        self.assertTrue(d.wait_line("Search Request ::1 "), d.lines)

    def row_key_readable_by_others_warns(self):
        warned = [l for l in self.running("open_key").lines if l.startswith("Warning: the key file ")]
        self.assertEqual(len(warned), 1, self.daemon("open_key").lines)
        self.assertIn("server-key.pem is readable by others", warned[0])
        self.assertFalse([l for l in self.running("tls").lines if l.startswith("Warning:")])

    def served_certificate(self, port):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        with socket.create_connection(("127.0.0.1", port), timeout=10) as raw:
            with context.wrap_socket(raw) as secure:
                return ssl.DER_cert_to_PEM_cert(secure.getpeercert(binary_form=True)).strip()

    def row_sighup_reads_a_renewed_certificate(self):
        d = self.running("renewed")
        def pem(name):
            with open(os.path.join(d.folder, name)) as f:
                return ssl.DER_cert_to_PEM_cert(ssl.PEM_cert_to_DER_cert(f.read())).strip()

        self.assertEqual(self.served_certificate(d.tls_port), pem("server-cert.pem"))
        for kind in ("cert", "key"):
            shutil.copy(os.path.join(d.folder, "other-%s.pem" % kind), os.path.join(d.folder, "server-%s.pem" % kind))
        d.proc.send_signal(signal.SIGHUP)
        served = None
        for _ in range(100):
            try:
                served = self.served_certificate(d.tls_port)
            except OSError:
                served = None  # between stop and start
            if served == pem("other-cert.pem"):
                break
            time.sleep(0.1)
        self.assertEqual(served, pem("other-cert.pem"))

    def start_failure(self, name, cause):
        d = self.daemon(name)
        rc, err = d.finish()
        self.assertEqual(rc, 1, (d.lines, err))
        self.assertIn("Cannot start on specified port!", err)
        at = err.index("Cannot start on specified port!")
        self.assertEqual(err[at + 1], cause.replace("DIR", d.folder))


# Settings of each configuration on top of: free ports, the LDIF, the server's
# certificate and key (None removes a key).
CONFIGS = {
    "tls": {},
    "required": {"TlsRequired": "Yes"},
    "no_certificate": {"TlsCertificate": None, "TlsKey": None},
    "allow": {"AllowFrom": "10.0.0.0/8, 127.0.0.1, ::1"},
    "open_key": {},
    "renewed": {},
    "missing_certificate": {"TlsCertificate": "missing.pem"},
    "certificate_is_a_folder": {"TlsCertificate": "."},
    "certificate_not_pem": {"TlsCertificate": "contacts.ldif"},
    "missing_key": {"TlsKey": "missing-key.pem"},
    "key_not_pem": {"TlsKey": "contacts.ldif"},
    "key_of_another_certificate": {"TlsKey": "other-key.pem"},
    "required_without_certificate": {"TlsCertificate": None, "TlsKey": None, "TlsRequired": "Yes"},
    "allow_from_not_an_address": {"AllowFrom": "127.0.0.1, 10.0.0.300"},
}

# Configurations whose start must fail, with the cause line that follows
# "Cannot start on specified port!" (DIR: the program folder).
START_FAILURES = [
    ("missing_certificate", "certificate DIR/missing.pem: No such file or directory"),
    ("certificate_is_a_folder", "certificate DIR/.: Is a directory"),
    ("certificate_not_pem", "certificate DIR/contacts.ldif: no start line"),
    ("missing_key", "key DIR/missing-key.pem: No such file or directory"),
    ("key_not_pem", "key DIR/contacts.ldif: no PEM private key in the file (unsupported)"),
    ("key_of_another_certificate", "key DIR/other-key.pem: key values mismatch"),
    ("required_without_certificate", "TlsRequired is Yes but no TlsCertificate is set"),
    ("allow_from_not_an_address", 'AllowFrom: "10.0.0.300" is not an IPv4 or IPv6 address or network'),
]

ROWS = [name[4:] for name in dir(TlsTable) if name.startswith("row_")]
for row in ROWS:
    setattr(TlsTable, "test_" + row, lambda self, row=row: getattr(self, "row_" + row)())
for config, cause in START_FAILURES:
    setattr(TlsTable, "test_start_fails_" + config,
            lambda self, config=config, cause=cause: self.start_failure(config, cause))

if __name__ == "__main__":
    unittest.main(verbosity=2)
