#!/usr/bin/env python3
"""Runs the shell blocks of a README that are marked to run, in order, in a
scratch home folder, against a scratch install of the build (cmake --install
into a DESTDIR with prefix /usr).

A block is a ```sh fence right after one of these lines:
  <!-- check -->                     run it; it must exit 0
  <!-- check: background -->         start it and leave it running (a server)
  <!-- check: retry, expect TEXT --> run it until it exits 0 with TEXT in its
                                     output (at most 20 s; a server starting)
Two things in a block's text are changed before it runs: "/usr/" becomes the
scratch install's usr/, and the port 10389 becomes a free one.

usage: readme_blocks.py README BUILD_DIR
"""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

MARK = re.compile(r"^<!-- check(?::\s*(background|retry, expect (.+?)))?\s*-->$")


def blocks(readme):
    """(kind, expected text, code, line number) of every marked block."""
    lines = open(readme, encoding="utf-8").read().split("\n")
    found = []
    for i, line in enumerate(lines):
        m = MARK.match(line.strip())
        if not m:
            continue
        if i + 1 >= len(lines) or lines[i + 1].strip() != "```sh":
            raise SystemExit("%s:%d: a check mark must stand right before a ```sh block" % (readme, i + 1))
        end = lines.index("```", i + 2)
        kind = "plain" if m.group(1) is None else ("background" if m.group(1) == "background" else "retry")
        found.append((kind, m.group(2), "\n".join(lines[i + 2:end]), i + 1))
    return found


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    readme, build = sys.argv[1], sys.argv[2]
    marked = blocks(readme)
    if not marked:
        raise SystemExit("%s: no block marked to run" % readme)
    scratch = tempfile.mkdtemp(prefix="readme-blocks-")
    servers = []
    try:
        root = os.path.join(scratch, "root")
        home = os.path.join(scratch, "home")
        os.makedirs(home)
        env = dict(os.environ, DESTDIR=root)
        subprocess.run(["cmake", "--install", build, "--prefix", "/usr"], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
                   PATH=os.pathsep.join([root + "/usr/sbin", root + "/usr/bin", os.environ.get("PATH", "")]))
        port = str(free_port())
        for kind, expect, code, line in marked:
            script = code.replace("/usr/", root + "/usr/").replace("10389", port)
            command = ["bash", "-euo", "pipefail", "-c", script]
            print("--- README line %d (%s)\n%s" % (line, kind, code), flush=True)
            if kind == "background":
                servers.append(subprocess.Popen(command, cwd=home, env=env, start_new_session=True))
                continue
            deadline = time.monotonic() + (20 if kind == "retry" else 0)
            while True:
                run = subprocess.run(command, cwd=home, env=env, capture_output=True, text=True)
                ok = run.returncode == 0 and (expect is None or expect in run.stdout)
                if ok or time.monotonic() >= deadline:
                    break
                time.sleep(0.2)
            sys.stdout.write(run.stdout)
            if not ok:
                sys.stdout.write(run.stderr)
                print("README line %d: exit %d%s" % (line, run.returncode,
                      "" if expect is None else ", expected %r in the output" % expect))
                return 1
        print("%d README blocks ran" % len(marked))
        return 0
    finally:
        for server in servers:
            if server.poll() is None:
                os.killpg(server.pid, signal.SIGTERM)
                server.wait(timeout=30)
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
