#!/usr/bin/env python3
"""The main job: NimbalService installed into a Wine prefix of its own, checking in with the
embedded default environment on loopback (the mock vendor API and a real OpenVPN peer), an account
logged in and the VPN connected through the service's local HTTP control server. The VPN state is
printed as it changes until Ctrl-C or `main_job.py stop`; then the VPN is disconnected, the
service stopped and removed, and everything the job started is ended.

  main_job.py run --build-dir DIR [--prefix P] [--once]    (--once: end as soon as CONNECTED)
  main_job.py stop --build-dir DIR
"""

import argparse
import os
import signal
import sys
import time

sys.dont_write_bytecode = True  # runs from the source tree, which stays clean
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "tools", "python"))

from nimbal.main_job import CONNECTED_WITHIN_S, MainJob, say  # noqa: E402

JOB_PID_FILE = "job.pid"


class Stop(Exception):
    """Ctrl-C or the stop command."""


def on_stop_signal(signum, frame):
    raise Stop()


def run(args):
    pid_file = os.path.join(args.build_dir, "main-job", JOB_PID_FILE)
    os.makedirs(os.path.dirname(pid_file), exist_ok=True)
    with open(pid_file, "w") as f:
        f.write(f"{os.getpid()}\n")
    signal.signal(signal.SIGINT, on_stop_signal)
    signal.signal(signal.SIGTERM, on_stop_signal)
    build_dir = os.path.abspath(args.build_dir)
    job = MainJob(build_dir, os.path.abspath(args.prefix or os.path.join(build_dir, "wine-run")))
    status = 0
    try:
        job.set_up()
        job.install()
        job.log_in()
        job.connect()
        if not job.follow_state(until="CONNECTED", within_s=CONNECTED_WITHIN_S):
            raise RuntimeError(f"not CONNECTED within {CONNECTED_WITHIN_S} s")
        job.where()
        if not args.once:
            say("connected; Ctrl-C (or scripts/run.sh stop) disconnects and ends the job")
            job.follow_state()
    except Stop:
        say("stopping")
    except Exception as error:
        say(f"FAILED: {error}")
        status = 1
    finally:
        # A second Ctrl-C must not cut the cleanup short.
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        job.tear_down()
        try:
            os.remove(pid_file)
        except FileNotFoundError:
            pass
    say("main job ended" if status == 0 else "main job failed")
    return status


def stop(args):
    pid_file = os.path.join(args.build_dir, "main-job", JOB_PID_FILE)
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
        os.kill(pid, signal.SIGTERM)
    except (OSError, ValueError):
        say("no main job is running")
        return 0
    say(f"asked the main job (pid {pid}) to stop")
    while os.path.exists(f"/proc/{pid}"):
        time.sleep(0.2)
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    run_parser = commands.add_parser("run")
    run_parser.add_argument("--build-dir", required=True)
    run_parser.add_argument("--prefix", help="Wine prefix (default: BUILD/wine-run)")
    run_parser.add_argument("--once", action="store_true", help="end as soon as the VPN is CONNECTED")
    commands.add_parser("stop").add_argument("--build-dir", required=True)
    args = parser.parse_args()
    return run(args) if args.command == "run" else stop(args)


if __name__ == "__main__":
    sys.exit(main())
