#!/usr/bin/env python3
"""Reload in place under load: veskad serves an LDIF file (and an optional
mail library) while CLIENTS connections search without pause; HUPS SIGHUPs
are sent one after another, each once the previous reload was logged.
Prints searches done and failed, connections closed, and per reload the
time veskad took (from its metrics, veska_directory_last_reload_duration_seconds),
then one scrape of /metrics. Not a test: it prints figures.

usage: reload_under_load.py VESKAD API_SO LDIF [HUPS] [CLIENTS]
"""
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

VESKAD, API_SO, LDIF = sys.argv[1], sys.argv[2], sys.argv[3]
HUPS = int(sys.argv[4]) if len(sys.argv) > 4 else 20
CLIENTS = int(sys.argv[5]) if len(sys.argv) > 5 else 8


def tlv(tag, content):
    n = len(content)
    if n < 0x80:
        return bytes([tag, n]) + content
    octets = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(octets)]) + octets + content


def search(mid, part):
    flt = tlv(0xA1, tlv(0xA4, tlv(0x04, b"cn") + tlv(0x30, tlv(0x81, part)))
              + tlv(0xA4, tlv(0x04, b"mail") + tlv(0x30, tlv(0x81, part))))
    body = (tlv(0x04, b"") + tlv(0x0A, b"\x02") + tlv(0x0A, b"\x00") + tlv(0x02, b"\x00")
            + tlv(0x02, b"\x00") + tlv(0x01, b"\x00") + flt + tlv(0x30, b""))
    return tlv(0x30, tlv(0x02, bytes([mid])) + tlv(0x63, body))


def recv_exactly(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise ConnectionError("closed")
        data += chunk
    return data


def read_message(sock):
    head = recv_exactly(sock, 2)
    length = head[1]
    if length & 0x80:
        length = int.from_bytes(recv_exactly(sock, length & 0x7F), "big")
    body = recv_exactly(sock, length)
    # message ID element, then the operation's tag
    op = body[2 + body[1]]
    return op, body


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def scrape(port):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(b"GET /metrics HTTP/1.0\r\nHost: x\r\n\r\n")
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    return data.split(b"\r\n\r\n", 1)[1].decode()


def metric(text, name):
    m = re.search(r"^" + re.escape(name) + r" (\S+)$", text, re.M)
    return float(m.group(1)) if m else None


def main():
    folder = tempfile.mkdtemp(prefix="veska-reload-")
    os.symlink(os.path.abspath(API_SO), os.path.join(folder, "API.so"))
    ldap_port, metrics_port = free_port(), free_port()
    with open(os.path.join(folder, "VESKA.INI"), "w") as ini:
        ini.write("[OPTIONS]\nDefaultPort=%d\nBindSelected=Yes\nIntSelected=127.0.0.1\n"
                  "ExtFile=%s\nMaxResults=50\nMetricsPort=%d\n" % (ldap_port, os.path.abspath(LDIF), metrics_port))
    daemon = subprocess.Popen([VESKAD, "--dir", folder], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    lines = []
    reloaded = threading.Condition()

    def pump():
        for raw in daemon.stdout:
            with reloaded:
                lines.append(raw.decode(errors="replace"))
                reloaded.notify_all()

    threading.Thread(target=pump, daemon=True).start()

    def wait_for(prefix, count, timeout=600):
        end = time.time() + timeout
        with reloaded:
            while sum(1 for l in lines if l.startswith(prefix)) < count:
                if not reloaded.wait(end - time.time()):
                    return False
        return True

    if not wait_for("Service started", 1):
        sys.exit("veskad did not start")
    stop = threading.Event()
    counts = {"searches": 0, "failed": 0, "closed": 0}
    lock = threading.Lock()

    def client(n):
        sock = socket.create_connection(("127.0.0.1", ldap_port))
        parts = [b"smi", b"ann", b"lee", b"zz", b"mar"]
        i = 0
        while not stop.is_set():
            try:
                sock.sendall(search(1, parts[(n + i) % len(parts)]))
                while True:
                    op, body = read_message(sock)
                    if op == 0x65:
                        ok = body.endswith(b"\x0a\x01\x00\x04\x00\x04\x00")
                        break
            except (ConnectionError, OSError):
                with lock:
                    counts["closed"] += 1
                    counts["failed"] += 1
                return
            with lock:
                counts["searches"] += 1
                counts["failed"] += 0 if ok else 1
            i += 1
        sock.close()

    threads = [threading.Thread(target=client, args=(n,)) for n in range(CLIENTS)]
    for t in threads:
        t.start()
    time.sleep(1)
    durations = []
    started = time.time()
    for hup in range(1, HUPS + 1):
        daemon.send_signal(signal.SIGHUP)
        if not wait_for("Directory reloaded", hup):
            print("reload %d not logged" % hup)
            break
        durations.append(metric(scrape(metrics_port), "veska_directory_last_reload_duration_seconds"))
    elapsed = time.time() - started
    stop.set()
    for t in threads:
        t.join()
    text = scrape(metrics_port)
    daemon.send_signal(signal.SIGTERM)
    daemon.wait(timeout=60)
    entries = metric(text, "veska_directory_entries")
    print("entries %d, %d SIGHUPs in %.1f s with %d clients searching" % (entries, len(durations), elapsed, CLIENTS))
    print("searches %d, failed %d, connections closed %d" % (counts["searches"], counts["failed"], counts["closed"]))
    if durations:
        ds = sorted(durations)
        print("reload seconds: min %.3f median %.3f max %.3f" % (ds[0], ds[len(ds) // 2], ds[-1]))
    print("---- /metrics after the run")
    print(text, end="")


main()
