#!/usr/bin/env python3
"""Soak run of veskad: mixed searches, directory rebuilds from a changing
external file (SIGHUP), and hostile clients, for a fixed time. Prints the
daemon's resident memory, descriptors and threads once a minute. Not a test:
it prints figures and fails only when veskad dies or stops answering.

usage: soak.py VESKAD API_SO SOURCE_DIR [SECONDS]
"""
import os
import random
import signal
import shutil
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

VESKAD, API_SO, SOURCE = sys.argv[1], sys.argv[2], sys.argv[3]
SECONDS = int(sys.argv[4]) if len(sys.argv) > 4 else 120


def tlv(tag, content):
    n = len(content)
    if n < 0x80:
        return bytes([tag, n]) + content
    octets = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(octets)]) + octets + content


def bind(mid):
    return tlv(0x30, tlv(0x02, bytes([mid])) + tlv(0x60, tlv(0x02, b"\x03") + tlv(0x04, b"") + tlv(0x80, b"")))


def search(mid, part):
    flt = tlv(0xA1, tlv(0xA4, tlv(0x04, b"cn") + tlv(0x30, tlv(0x81, part)))
              + tlv(0xA4, tlv(0x04, b"mail") + tlv(0x30, tlv(0x81, part))))
    body = (tlv(0x04, b"") + tlv(0x0A, b"\x02") + tlv(0x0A, b"\x00") + tlv(0x02, b"\x00")
            + tlv(0x02, b"\x00") + tlv(0x01, b"\x00") + flt + tlv(0x30, b""))
    return tlv(0x30, tlv(0x02, bytes([mid])) + tlv(0x63, body))


def read_message(sock):
    head = recv_exactly(sock, 2)
    length = head[1]
    if length & 0x80:
        octets = recv_exactly(sock, length & 0x7F)
        length = int.from_bytes(octets, "big")
    return head[0], recv_exactly(sock, length)


def recv_exactly(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise ConnectionError("closed")
        data += chunk
    return data


class Counters:
    def __init__(self):
        self.lock = threading.Lock()
        self.values = {}

    def add(self, name, n=1):
        with self.lock:
            self.values[name] = self.values.get(name, 0) + n

    def take(self):
        with self.lock:
            values, self.values = self.values, {}
            return values


COUNTS = Counters()
STOP = threading.Event()
NAMES = ["lee", "ann", "chang", "maria", "gomez", "sales", "example", "partner", "x", "zz"]


def searcher(port):
    while not STOP.is_set():
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
                s.sendall(bind(1))
                read_message(s)
                for i in range(random.randint(1, 20)):
                    s.sendall(search(2 + i % 100, random.choice(NAMES).encode()))
                    while True:
                        tag, content = read_message(s)
                        # the operation tag follows the message ID
                        op = content[2 + content[1]]
                        if op == 0x65:
                            break
                    COUNTS.add("searches")
        except (OSError, ConnectionError):
            COUNTS.add("searcher errors")


def hostile(port):
    kinds = ["garbage", "overlong", "deep", "half", "reset", "nonreader", "flood"]
    while not STOP.is_set():
        kind = random.choice(kinds)
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=5)
            if kind == "garbage":
                s.sendall(os.urandom(random.randint(1, 3000)))
            elif kind == "overlong":
                s.sendall(b"\x30\x84\x7f\xff\xff\xff" + os.urandom(100))
            elif kind == "deep":
                s.sendall(b"\x30\x82\x7d\x00" + b"\x30\x82\xff\xff" * 8000)
            elif kind == "half":
                s.sendall(search(9, b"lee")[:7])  # never finished
            elif kind == "reset":
                s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            elif kind == "nonreader":
                s.sendall(b"".join(search(3, b"e") for _ in range(30)))
            elif kind == "flood":
                s.sendall(bind(1) * 500)
            time.sleep(random.uniform(0, 2))
            s.close()
            COUNTS.add("hostile " + kind)
        except OSError:
            COUNTS.add("hostile refused")


def write_ldif(path, records):
    with open(path + ".new", "w") as f:
        for i in range(records):
            f.write("dn: cn=Contact %d,o=Soak\ncn: Contact %d\nmail: contact%d@soak.example\n"
                    "description: %s\n\n" % (i, i, i, "d" * random.randint(0, 200)))
    os.replace(path + ".new", path)


def sample(pid):
    status = open("/proc/%d/status" % pid).read()
    fields = dict(line.split(":", 1) for line in status.splitlines() if ":" in line)
    rss_kib = int(fields["VmRSS"].split()[0])
    threads = int(fields["Threads"])
    fds = len(os.listdir("/proc/%d/fd" % pid))
    return rss_kib, fds, threads


def main():
    folder = tempfile.mkdtemp(prefix="veska-soak-")
    try:
        return soak(folder)
    finally:
        # The generated directory and the log run to tens of megabytes.
        shutil.rmtree(folder, ignore_errors=True)


def soak(folder):
    subprocess.run(["cp", API_SO, os.path.join(folder, "API.so")], check=True)
    db = sqlite3.connect(os.path.join(folder, "mail.db"))
    db.executescript(open(os.path.join(SOURCE, "api/schema.sql")).read())
    db.executescript(open(os.path.join(SOURCE, "api/sample.sql")).read())
    db.close()
    ldif = os.path.join(folder, "contacts.ldif")
    write_ldif(ldif, 5000)
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    with open(os.path.join(folder, "VESKA.INI"), "w") as f:
        f.write("[OPTIONS]\nDefaultPort=%d\nExtFile=%s\nLogSelected=Yes\nLogService=Yes\nLogRequests=Yes\n"
                "LogErrors=Yes\nLogSession=Yes\nBindSelected=Yes\nIntSelected=127.0.0.1\nMaxResults=50\n"
                % (port, ldif))
    err = open(os.path.join(folder, "stderr.txt"), "w")
    daemon = subprocess.Popen([VESKAD, "--dir", folder], stdout=subprocess.DEVNULL, stderr=err)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            break
        except OSError:
            time.sleep(0.1)

    threads = [threading.Thread(target=searcher, args=(port,), daemon=True) for _ in range(4)]
    threads += [threading.Thread(target=hostile, args=(port,), daemon=True) for _ in range(3)]
    for t in threads:
        t.start()

    print("soak of veskad for %d s, folder %s" % (SECONDS, folder))
    print("%6s %9s %5s %8s %9s %8s %s" % ("minute", "RSS KiB", "fds", "threads", "searches", "rebuilds", "other"))
    start = time.monotonic()
    next_sample = start + 60
    next_rebuild = start + 20
    rebuilds = 0
    minute = 0
    print("%6d %9d %5d %8d" % ((0,) + sample(daemon.pid)))
    alive = True
    while time.monotonic() - start < SECONDS:
        time.sleep(0.5)
        if daemon.poll() is not None:
            alive = False
            break
        now = time.monotonic()
        if now >= next_rebuild:
            # The external file changes between rebuilds, as after an import.
            write_ldif(ldif, random.randint(1000, 8000))
            daemon.send_signal(signal.SIGHUP)
            rebuilds += 1
            next_rebuild = now + 20
        if now >= next_sample:
            minute += 1
            counts = COUNTS.take()
            rss, fds, nthreads = sample(daemon.pid)
            searches = counts.pop("searches", 0)
            other = ", ".join("%s %d" % kv for kv in sorted(counts.items()))
            print("%6d %9d %5d %8d %9d %8d %s" % (minute, rss, fds, nthreads, searches, rebuilds, other), flush=True)
            next_sample += 60
    STOP.set()
    for t in threads:
        t.join(timeout=15)
    if not alive:
        print("veskad ended during the soak with %s" % daemon.returncode)
        return 1
    daemon.send_signal(signal.SIGTERM)
    try:
        code = daemon.wait(timeout=30)
    except subprocess.TimeoutExpired:
        print("veskad did not end within 30 s of SIGTERM")
        daemon.kill()
        return 1
    log_size = os.path.getsize(os.path.join(folder, "VESKA.LOG"))
    print("veskad ended with %d; VESKA.LOG %d bytes; stderr: %s" %
          (code, log_size, open(os.path.join(folder, "stderr.txt")).read().strip() or "(empty)"))
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
