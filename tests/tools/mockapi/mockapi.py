#!/usr/bin/env python3
"""Runs the mock vendor API on 127.0.0.1, in the foreground or as a background process.

  mockapi.py serve --port P --cert-dir DIR          in the foreground, until interrupted
  mockapi.py start --port P --cert-dir DIR --state-dir S
                                                    in the background; returns once it listens
  mockapi.py stop --state-dir S                     ends the one that start left running

DIR holds server.crt and server.key; S receives mock-api.pid and mock-api.log.
"""

import argparse
import os
import signal
import sys
import threading
import time

sys.dont_write_bytecode = True  # runs from the source tree, which stays clean

from script import Script  # noqa: E402
from server import MockServer, tls_context  # noqa: E402

PID_FILE = "mock-api.pid"
LOG_FILE = "mock-api.log"
STOP_WAIT_S = 10


def make_server(port, cert_dir):
    context = tls_context(os.path.join(cert_dir, "server.crt"), os.path.join(cert_dir, "server.key"))
    return MockServer(("127.0.0.1", port), Script(), context)


def serve(server, pid_file=None):
    def on_term(signum, frame):
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, on_term)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
        if pid_file:
            try:
                os.remove(pid_file)
            except FileNotFoundError:
                pass


def running_pid(state_dir):
    """The pid of the mock that start left in state_dir, if that process still runs."""
    try:
        with open(os.path.join(state_dir, PID_FILE)) as f:
            pid = int(f.read().strip())
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            cmdline = f.read()
    except (OSError, ValueError):
        return None
    return pid if b"mockapi.py" in cmdline else None


def stop(state_dir):
    pid = running_pid(state_dir)
    if pid is not None:
        os.kill(pid, signal.SIGTERM)
        deadline = time.monotonic() + STOP_WAIT_S
        while running_pid(state_dir) == pid and time.monotonic() < deadline:
            time.sleep(0.05)
        if running_pid(state_dir) == pid:
            os.kill(pid, signal.SIGKILL)
    try:
        os.remove(os.path.join(state_dir, PID_FILE))
    except FileNotFoundError:
        pass
    return 0


def start(port, cert_dir, state_dir):
    os.makedirs(state_dir, exist_ok=True)
    stop(state_dir)  # one left by an interrupted run
    ready_read, ready_write = os.pipe()
    if os.fork() > 0:
        os.close(ready_write)
        with os.fdopen(ready_read) as ready:
            message = ready.read()
        if message == "ready\n":
            print(f"mock API listening on 127.0.0.1:{port} (https and http)")
            return 0
        sys.stderr.write(message or "mock API exited before it listened\n")
        return 1

    # The background process: its own session, no tie to the caller's terminal or pipes, which
    # ctest waits on.
    os.close(ready_read)
    os.setsid()
    log = os.open(os.path.join(state_dir, LOG_FILE), os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
    null = os.open(os.devnull, os.O_RDONLY)
    os.dup2(null, 0)
    os.dup2(log, 1)
    os.dup2(log, 2)
    os.close(null)
    os.close(log)
    with os.fdopen(ready_write, "w") as ready:
        try:
            server = make_server(port, cert_dir)
        except OSError as error:
            ready.write(f"mock API cannot listen on 127.0.0.1:{port}: {error}"
                        " (another run on this port? set NIMBAL_MOCK_API_PORT)\n")
            ready.flush()
            os._exit(1)
        pid_file = os.path.join(state_dir, PID_FILE)
        with open(pid_file, "w") as f:
            f.write(f"{os.getpid()}\n")
        ready.write("ready\n")
    serve(server, pid_file)
    os._exit(0)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    for name in ("serve", "start"):
        command = commands.add_parser(name)
        command.add_argument("--port", type=int, required=True)
        command.add_argument("--cert-dir", required=True)
        if name == "start":
            command.add_argument("--state-dir", required=True)
    commands.add_parser("stop").add_argument("--state-dir", required=True)
    args = parser.parse_args()

    if args.command == "serve":
        print(f"mock API listening on 127.0.0.1:{args.port} (https and http)", flush=True)
        serve(make_server(args.port, args.cert_dir))
        return 0
    if args.command == "start":
        return start(args.port, args.cert_dir, args.state_dir)
    return stop(args.state_dir)


if __name__ == "__main__":
    sys.exit(main())
