"""veskad in a temporary program folder on a free loopback port, for client tests."""
import os
import signal
import socket
import sqlite3
import subprocess
import threading


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_program_folder(folder, api_so, sql_files, ldif, options=""):
    """mail.db from the SQL files, API.so linked in, the LDIF as external file and a
    VESKA.INI listening on a free loopback port (plus the extra option lines).
    Returns the port."""
    os.makedirs(folder, exist_ok=True)
    db = sqlite3.connect(os.path.join(folder, "mail.db"))
    for name in sql_files:
        with open(name) as f:
            db.executescript(f.read())
    db.commit()
    db.close()
    os.symlink(os.path.abspath(api_so), os.path.join(folder, "API.so"))
    ext = os.path.join(folder, "contacts.ldif")
    with open(ldif, "rb") as src, open(ext, "wb") as dst:
        dst.write(src.read())
    port = free_port()
    with open(os.path.join(folder, "VESKA.INI"), "w") as ini:
        ini.write("[OPTIONS]\nDefaultPort=%d\nExtFile=%s\nBindSelected=Yes\n"
                  "IntSelected=127.0.0.1\nMaxResults=50\n%s" % (port, ext, options))
    return port


class Veskad:
    """veskad --dir FOLDER; stdout lines are kept in `lines`."""

    def __init__(self, veskad, folder, port):
        self.port = port
        self.lines = []
        self.started = threading.Event()
        env = dict(os.environ, TZ="UTC")
        self.proc = subprocess.Popen([veskad, "--dir", folder], stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, text=True, env=env)
        threading.Thread(target=self._read, daemon=True).start()
        # Set as well when veskad ends before it has started.
        self.started.wait(60)
        if not any(l.startswith("Service started ") for l in self.lines):
            self.proc.kill()
            raise RuntimeError("veskad did not start: %r %r" % (self.lines, self.proc.stderr.read()))

    def _read(self):
        for line in self.proc.stdout:
            self.lines.append(line.rstrip("\n"))
            if line.startswith("Service started "):
                self.started.set()
        self.started.set()

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            rc = self.proc.wait(30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            rc = self.proc.wait()
        err = self.proc.stderr.read()
        return rc, err
