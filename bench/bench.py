#!/usr/bin/env python3
"""The benchmarks: the installed service against the platform's own floor, each measured in the
same run and the same Wine prefix, and one table of the figures at the end.

  bench.py --build-dir DIR [--prefix P] [--quick]

  pipe              CMD_GET_VPN_STATE round trips through CommandsClient to the service, against a
                    bare named-pipe echo pair of the same frame sizes: p50 and p99 latency.
  HTTP              requests per second of the ping URL and of vpn/get/state on one kept-alive
                    connection, against a bare HTTP Server API responder with the service's 26 URLs
                    registered (the floor of the goal) and one with one URL prefix (the platform's
                    limit). Each floor is measured before the service is installed and again after
                    it has stopped, and the mean of the two is taken: beside a second listener of
                    the prefix, the service's connection was seen to stall under Wine, and the end
                    of either listener's queue ends the other's.
  native messaging  getVpnState messages per second through host, library, pipe and service,
                    against a bare program that reads each framed message with one read and answers
                    it after one bare pipe round trip to another process.
  start and stop    StartServiceW to RUNNING and the stop control to STOPPED over ten runs,
                    against a service that does nothing.
Where system and floor can run side by side (pipe, native messaging, start and stop) they take
turns in short bursts, so that a change in the machine's load falls on both alike.
  memory            the service's resident size at start and after 100,000 mixed requests
                    (pipe and HTTP at the same time), which follow the benchmarks above.

The mock vendor API runs on the port the build was made for; the run refuses to share it.
"""

import argparse
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True  # runs from the source tree, which stays clean

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "tools", "python"))

from nimbal.control_http import ControlClient, find_control_port  # noqa: E402
from nimbal.mock_api import CHECKIN_PATH, MockApiProcess  # noqa: E402
from nimbal.settings_folder import settings_folder  # noqa: E402
from nimbal.wine_prefix import PrefixPresence, start_prefix, stop_prefix  # noqa: E402
from nimbal.wine_service import WineService  # noqa: E402

MiB = 1024 * 1024
PROGRAM_WITHIN_S = 600
CHECKIN_WITHIN_S = 60
HOST_REPLY_WITHIN_S = 30
BARE_HTTP_WITHIN_S = 30
# The service answers these requests in milliseconds; one kept-alive connection now and then gets
# no answer at all under the mixed load (seen twice in about a hundred runs of 4,000 requests).
REPLY_WITHIN_S = 10
# What the service answers while no VPN is wanted, on the pipe and in the host's reply.
NOT_CONNECTED = 0
HOST_REQUEST = b'{"text":"getVpnState"}'
HOST_REPLY = b'{"text":"NOTCONNECTED"}'

# How much each benchmark does: (full, --quick).
SIZES = {
    "pipe_round_trips": (10000, 2000),
    "http_rounds": (10, 3),
    "http_burst": (300, 200),
    "host_messages": (3000, 500),
    "start_stop_runs": (10, 3),
    "mixed_pipe": (60000, 6000),
    "mixed_http": (40000, 4000),
}
MIXED_PER_PIPE = 100
HOST_BURST = 100
HTTP_WARM_UP = 20
HOST_WARM_UP = 20
PING = ("/TYTUT", b"GDEZHESCHIO!")
STATE = ("/vpn/get/state", b"NOTCONNECTED")
# The HTTP half of the mix: read-only URLs, so the mix changes no state the other figures depend on.
MIXED_HTTP = (
    ("/TYTUT", b""),
    ("/vpn/get/state", b""),
    ("/vpn/get/currentServer", b""),
    ("/user/get", b""),
    ("/setting/get", b"name=UpdatableSettings.updateRequestInterval"),
)


class Stop(Exception):
    """Ctrl-C or SIGTERM."""


def on_stop_signal(signum, frame):
    raise Stop()


def say(text):
    print(f"bench: {text}", flush=True)


class Failed(RuntimeError):
    pass


class Row:
    """One line of the table. `ratio` is system / floor; `goal` is (text, test of the ratio) or None."""

    def __init__(self, name, system, floor="-", ratio=None, goal=None, note=None):
        self.name = name
        self.system = system
        self.floor = floor
        self.ratio = ratio
        self.goal = goal
        self.note = note

    def cells(self):
        goal = "-"
        if self.goal is not None:
            text, met = self.goal
            goal = f"{text} {'met' if met else 'MISSED'}"
        ratio = "-" if self.ratio is None else f"{self.ratio:.2f}x"
        return [self.name, self.system, self.floor, goal, ratio]


GROUPS = ("pipe", "HTTP", "native messaging", "service", "memory")


def row_rank(row):
    """Rows in the order of GROUPS, each group's rows in the order they were made."""
    return next((index for index, group in enumerate(GROUPS) if row.name.startswith(group)), len(GROUPS))


def print_table(rows, seconds):
    header = ["benchmark", "system", "floor (bare platform)", "goal", "ratio"]
    rows = sorted(rows, key=row_rank)
    lines = [header] + [row.cells() for row in rows]
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    rule = "  ".join("-" * w for w in widths)
    print()
    for index, line in enumerate(lines):
        print("  ".join(cell.ljust(w) for cell, w in zip(line, widths)).rstrip())
        if index == 0:
            print(rule)
    print(rule)
    notes = [f"{row.name}: {row.note}" for row in rows if row.note]
    for note in notes:
        print(note)
    print(f"all benchmarks took {seconds:.0f} s", flush=True)


class WineRunner:
    def __init__(self, prefix):
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")

    def json_of(self, args, cwd=None):
        """Runs a bench program to its end and gives its one JSON line."""
        done = subprocess.run(["wine"] + args, env=self.env, cwd=cwd, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=PROGRAM_WITHIN_S)
        text = done.stdout.decode("latin-1")
        lines = [line for line in text.splitlines() if line.startswith("{")]
        if done.returncode != 0 or not lines:
            raise Failed(f"{os.path.basename(args[0])} {' '.join(args[1:])} ended with {done.returncode}: "
                         f"{text.strip()} {done.stderr.decode('latin-1').strip()}")
        return json.loads(lines[-1])

    def start(self, args, cwd=None, stdin=subprocess.DEVNULL):
        return subprocess.Popen(["wine"] + args, env=self.env, cwd=cwd, stdin=stdin, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)


def resident_bytes(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    raise Failed(f"no VmRSS for process {pid}")


def service_pid(prefix, exe_name):
    """The Linux process of the service of our prefix: other prefixes may run a service of the same name."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                cmdline = f.read()
            with open(f"/proc/{entry}/environ", "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if exe_name.encode() in cmdline and f"WINEPREFIX={prefix}".encode() in environ:
            found.append(int(entry))
    if len(found) != 1:
        raise Failed(f"{len(found)} processes of {exe_name} in {prefix}")
    return found[0]


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("0.0.0.0", 0))
        return probe.getsockname()[1]


def framed(message):
    return len(message).to_bytes(4, "little") + message


def read_exactly(stream, count):
    data = stream.read(count)
    if data is None or len(data) != count:
        raise Failed(f"the stream ended after {0 if data is None else len(data)} of {count} bytes")
    return data


class HostSession:
    """A native-messaging host (or its floor) driven like the browser drives it: one message, then its reply."""

    def __init__(self, runner, args, cwd):
        self.process = runner.start(args, cwd=cwd, stdin=subprocess.PIPE)
        self.name = os.path.basename(args[0])

    def ask(self, message):
        self.process.stdin.write(framed(message))
        self.process.stdin.flush()
        length = int.from_bytes(read_exactly(self.process.stdout, 4), "little")
        return read_exactly(self.process.stdout, length)

    def timed(self, count):
        """Seconds for `count` messages, one at a time."""
        began = time.monotonic()
        for _ in range(count):
            self.expect(self.ask(HOST_REQUEST))
        return time.monotonic() - began

    def expect(self, reply):
        if reply != HOST_REPLY:
            raise Failed(f"{self.name} answered {reply!r}")

    def close(self):
        try:
            self.process.stdin.close()
        except OSError:
            pass
        try:
            self.process.wait(HOST_REPLY_WITHIN_S)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def timed_burst(client, url, count):
    path, expected_body = url
    began = time.monotonic()
    for _ in range(count):
        reply = client.post(path)
        if reply.status != 200 or reply.body != expected_body:
            raise Failed(f"POST {path} on port {client.port}: {reply}")
    return time.monotonic() - began


def http_rates(client, rounds, burst):
    """Requests per second of the ping URL and of vpn/get/state, asked in alternating bursts."""
    for url in (PING, STATE):
        timed_burst(client, url, HTTP_WARM_UP)
    seconds = {PING: 0.0, STATE: 0.0}
    for _ in range(rounds):
        for url in (PING, STATE):
            seconds[url] += timed_burst(client, url, burst)
    return {url: rounds * burst / spent for url, spent in seconds.items()}


class Bench:
    def __init__(self, build_dir, prefix, quick):
        self.build_dir = build_dir
        self.prefix = prefix
        self.size = {name: sizes[1 if quick else 0] for name, sizes in SIZES.items()}
        with open(os.path.join(build_dir, "bench", "programs.json")) as f:
            self.programs = json.load(f)
        self.work = os.path.join(build_dir, "bench-run")
        self.service_exe = os.path.join(self.work, "service", "NimbalService.exe")
        self.host_dir = os.path.join(self.work, "host")
        cert_dir = os.path.join(os.environ.get("NIMBAL_CACHE", "/var/cache/nimbal"), "mock-api")
        self.mock = MockApiProcess(self.programs["mock_api_port"], cert_dir, os.path.join(self.work, "mock-api"))
        self.runner = WineRunner(prefix)
        self.service = WineService(self.service_exe, prefix)
        self.presence = None
        self.prefix_started = False
        self.installed = False
        self.control = None
        self.rows = []
        self.failures = []
        self.figures = {}
        # Requests the service was sent since its resident size at start was read.
        self.service_requests = 0

    # Set-up and tear-down.

    def set_up(self):
        # A mock already on the port is another run's: its script and record are not ours to reset.
        if self.mock.running():
            raise Failed(f"port {self.mock.port} already serves a mock API: another run of this build is "
                         "using it (each worktree needs its own NIMBAL_MOCK_API_PORT)")
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(os.path.dirname(self.service_exe))
        os.makedirs(self.host_dir)
        shutil.copy2(self.programs["service"], self.service_exe)
        # The host loads the library from its own folder.
        shutil.copy2(self.programs["host"], self.host_dir)
        shutil.copy2(self.programs["cmdapi"], self.host_dir)
        self.mock.start()
        say(f"mock vendor API on port {self.mock.port}; Wine prefix {self.prefix}")
        start_prefix(self.prefix)
        self.prefix_started = True
        self.presence = PrefixPresence(self.prefix)
        # A new install: no settings of an earlier run.
        shutil.rmtree(settings_folder(self.prefix), ignore_errors=True)

    def install(self):
        self.service.remove_quietly()
        self.service.install()
        self.installed = True
        deadline = time.monotonic() + CHECKIN_WITHIN_S
        while not self.mock.requests(CHECKIN_PATH):
            if time.monotonic() > deadline:
                raise Failed("the service did not check in with the mock vendor API")
            time.sleep(0.2)
        self.find_control_server()
        say(f"service installed and running, control server on port {self.control.port}")

    def find_control_server(self):
        port = find_control_port(self.mock.asked_by)
        if port is None:
            raise Failed("the service's control server did not answer on any port from 666 to 999")
        # One connection for every later request to the service: Wine's HTTP Server API now and then
        # stops taking new connections once earlier ones have closed.
        self.control = ControlClient(port, timeout_s=REPLY_WITHIN_S)

    def tear_down(self):
        steps = []
        if self.control is not None:
            steps.append(("control connection", self.control.close))
        if self.installed:
            steps.append(("service removal", self.service.remove_quietly))
        if self.mock.started_here:
            steps.append(("mock vendor API", self.mock.stop))
        if self.presence is not None:
            steps.append(("prefix presence", self.presence.end))
        if self.prefix_started:
            steps.append(("Wine prefix", lambda: stop_prefix(self.prefix)))
        for name, step in steps:
            try:
                step()
            except Exception as error:  # every later step still runs
                say(f"{name}: {error}")

    def run(self, name, benchmark):
        say(f"{name} ...")
        try:
            benchmark()
        except Stop:
            raise
        except Exception as error:
            self.failures.append(name)
            self.rows.append(Row(name, "FAILED", note=str(error)))
            say(f"{name} failed: {error}")

    # The HTTP floor, which needs the prefix without the service's listener.

    def bare_http(self, phase):
        """The bare responder's rates, with one URL prefix and with the service's URLs; each responder
        ends by itself afterwards, closing its queue."""
        for urls in ("one", "table"):
            self.bare_http_rates(phase, urls)

    def bare_http_rates(self, phase, urls):
        token = f"bench-{os.getpid()}-{time.monotonic_ns()}"
        port = free_port()
        bare = self.runner.start([self.programs["http_bare"], str(port), token, str(PROGRAM_WITHIN_S), urls])
        try:
            client = self.bare_client(bare, port, token)
            self.figures[f"http floor {urls} {phase}"] = http_rates(client, self.size["http_rounds"],
                                                                    self.size["http_burst"])
            client.post("/bench/stop")
            client.close()
            bare.wait(BARE_HTTP_WITHIN_S)
        finally:
            if bare.poll() is None:
                bare.kill()
                bare.wait()

    def bare_client(self, bare, port, token):
        """A client of the bare responder once it listens and is ours (port taken by nobody else)."""
        line = bare.stdout.readline().decode("latin-1")
        if not line.startswith("{"):
            raise Failed(f"http_bare did not listen on port {port}: {line} {bare.stderr.read().decode('latin-1')}")
        client = ControlClient(port, timeout_s=BARE_HTTP_WITHIN_S)
        reply = client.post("/bench/identity")
        if reply.body.decode("latin-1") != token:
            raise Failed(f"port {port} answered {reply}, not the bare responder")
        return client

    # The service's figures.

    def memory_at_start(self):
        self.service_process = service_pid(self.prefix, "NimbalService.exe")
        self.figures["rss at start"] = resident_bytes(self.service_process)

    def pipe(self):
        count = self.size["pipe_round_trips"]
        figures = self.runner.json_of([self.programs["pipe_bench"], "compare", str(count)])
        self.service_requests += int(figures["requests"])
        if figures["state"] != NOT_CONNECTED:
            raise Failed(f"the service reported VPN state {figures['state']}")
        for name, floor_name, floor_key, most in (
                ("p50", "echo pair", "bare", 1.2),
                ("p99", "echo pair", "bare", 2.0),
                ("p50", "echo pair, length then payload", "framed", None)):
            system, floor = figures[f"service_{name}_us"], figures[f"{floor_key}_{name}_us"]
            ratio = system / floor
            self.rows.append(Row(
                f"pipe: CMD_GET_VPN_STATE round trip {name} vs {floor_name}", f"{system:.0f} us",
                f"{floor:.0f} us", ratio, None if most is None else (f"<= {most:g}x", ratio <= most),
                note=None if name != "p50" or most is None else
                f"{count:,} round trips each on one connection, in alternating bursts of {int(figures['burst'])}; "
                "the echo pair moves a frame with one read on each end, as the protocol's reader does when the "
                "frame has arrived whole; the second pair reads the length and then the payload, two reads a "
                "frame on each end"))

    def http(self):
        rounds, burst = self.size["http_rounds"], self.size["http_burst"]
        self.figures["http service"] = http_rates(self.control, rounds, burst)
        self.service_requests += 2 * (HTTP_WARM_UP + rounds * burst)

    def http_rows(self):
        """Needs the floor's second phase, measured once the service has stopped."""
        system = self.figures.get("http service")
        if system is None:
            raise Failed("the service's HTTP figures were not measured")
        rounds, burst = self.size["http_rounds"], self.size["http_burst"]
        # The service registers its 26 URLs, and Wine's cost per request grows with the URLs
        # registered: the responder with as many is the floor of the goal, the one with a single
        # prefix the platform's limit.
        for urls, floor_name in (("one", "bare responder, one URL prefix"),
                                 ("table", "bare responder, the service's 26 URLs")):
            before = self.figures.get(f"http floor {urls} before")
            after = self.figures.get(f"http floor {urls} after")
            if before is None or after is None:
                raise Failed(f"a phase of the {floor_name} did not run")
            for url in (PING, STATE):
                floor = (before[url] + after[url]) / 2
                ratio = system[url] / floor
                with_goal = urls == "table" and url == PING
                self.rows.append(Row(
                    f"HTTP: POST {url[0]} requests/s vs {floor_name}", f"{system[url]:.0f}/s",
                    f"{floor:.0f}/s ({before[url]:.0f} before, {after[url]:.0f} after)", ratio,
                    (">= 0.9x", ratio >= 0.9) if with_goal else None,
                    note=None if not with_goal else
                    f"{rounds * burst:,} requests per URL on one kept-alive connection, in {rounds} bursts of "
                    f"{burst} alternating with the other URL; each floor measured before the install and after "
                    "the stop, once with the service's 26 URLs registered and once with one URL prefix, the "
                    "platform's limit: Wine's cost per request grows with the URLs registered"))

    def native_messaging(self):
        count = self.size["host_messages"]
        sessions = {"host": HostSession(self.runner, [os.path.join(self.host_dir, "NimbalMsgHost.exe")],
                                        self.host_dir)}
        try:
            sessions["floor"] = HostSession(self.runner, [self.programs["pipe_bench"], "host-floor"], self.work)
            # The host's start and the library's first connection are not what is measured.
            for session in sessions.values():
                session.timed(HOST_WARM_UP)
            seconds = {name: 0.0 for name in sessions}
            for done in range(0, count, HOST_BURST):
                for name, session in sessions.items():
                    seconds[name] += session.timed(min(HOST_BURST, count - done))
        finally:
            for session in sessions.values():
                session.close()
        self.service_requests += HOST_WARM_UP + count
        host, floor = count / seconds["host"], count / seconds["floor"]
        ratio = host / floor
        self.rows.append(Row("native messaging: getVpnState messages/s", f"{host:.0f}/s",
                             f"{floor:.0f}/s (stdio + echo pair)", ratio, (">= 0.85x", ratio >= 0.85),
                             note=f"{count:,} messages each, one at a time as the browser sends them, in alternating "
                                  f"bursts of {HOST_BURST}; the floor takes each from its standard input with one "
                                  "read and answers it after one bare pipe round trip to another process"))

    def memory(self):
        pid = self.service_process
        # Also read just before the mixed requests: growth over them alone, apart from the start-up's.
        before_mixed = resident_bytes(pid)
        pipe_count = self.size["mixed_pipe"]
        http_count = self.size["mixed_http"]
        pipe_load = self.runner.start([self.programs["pipe_bench"], "mixed", str(pipe_count), str(MIXED_PER_PIPE)])
        http_error = []
        stalls = []
        http_load = threading.Thread(target=self.mixed_http, args=(http_count, stalls, http_error), daemon=True)
        http_load.start()
        try:
            pipe_out, pipe_err = pipe_load.communicate(timeout=PROGRAM_WITHIN_S)
        finally:
            if pipe_load.poll() is None:
                pipe_load.kill()
                pipe_load.wait()
        http_load.join(PROGRAM_WITHIN_S)
        if pipe_load.returncode != 0:
            raise Failed(f"mixed pipe requests: {pipe_out.decode().strip()} {pipe_err.decode().strip()}")
        if http_load.is_alive():
            raise Failed(f"the mixed HTTP requests did not end within {PROGRAM_WITHIN_S} s")
        if http_error:
            raise Failed(f"mixed HTTP requests: {http_error[0]!r}" + (f" after {len(stalls)} stalls" if stalls else ""))
        if service_pid(self.prefix, "NimbalService.exe") != pid:
            raise Failed("the service's process changed during the run")
        self.service_requests += pipe_count + http_count
        # Connections that just closed end their threads a moment later.
        time.sleep(2)
        at_start = self.figures["rss at start"]
        after = resident_bytes(pid)
        growth = after - at_start
        mixed = pipe_count + http_count
        self.rows.append(Row(
            f"memory: resident size, start -> after {mixed:,} mixed requests",
            f"{at_start / MiB:.1f} -> {after / MiB:.1f} MiB ({growth / MiB:+.2f})", "-",
            after / at_start, ("growth < 2 MiB", growth < 2 * MiB),
            note=f"{pipe_count:,} pipe requests on {pipe_count // MIXED_PER_PIPE} connections and {http_count:,} "
                 f"HTTP requests on one, at the same time, after the benchmarks above ({self.service_requests:,} "
                 f"requests in all); {before_mixed / MiB:.1f} MiB just before the mixed requests "
                 f"({(after - before_mixed) / MiB:+.2f} over them alone); ratio is after / start"
                 + (f"; {len(stalls)} HTTP requests ({', '.join(stalls)}) had no answer within {REPLY_WITHIN_S} s "
                    "and were answered when sent again on a new connection" if stalls else "")))

    def mixed_http(self, count, stalls, errors):
        """`stalls` gets the path of each request that had no answer in time; it is sent again on a new
        connection (every URL of the mix only reads), and a second stall in a row ends the load."""
        try:
            for index in range(count):
                path, body = MIXED_HTTP[index % len(MIXED_HTTP)]
                try:
                    reply = self.control.post(path, body)
                except TimeoutError:
                    stalls.append(path)
                    self.control.close()
                    reply = self.control.post(path, body)
                if reply.status != 200:
                    raise Failed(f"POST {path}: {reply}")
        except Exception as error:
            errors.append(error)

    def start_stop(self):
        # Stops the service first; the stop closes its HTTP queue, so no listener of the service is
        # left beside the bare responder's second phase.
        figures = self.runner.json_of([self.programs["scm_bench"], "compare", "Nimbal",
                                       str(self.size["start_stop_runs"])])
        for what, key in (("StartServiceW -> RUNNING", "start_s"), ("stop control -> STOPPED", "stop_s")):
            mine, bare = figures[f"service_{key}"], figures[f"bare_{key}"]
            mean, bare_mean = sum(mine) / len(mine), sum(bare) / len(bare)
            self.rows.append(Row(f"service {what}, mean (max)", f"{mean:.3f} s ({max(mine):.3f})",
                                 f"{bare_mean:.3f} s ({max(bare):.3f})", mean / bare_mean,
                                 note=f"{len(mine)} runs each, turn about, 1 s between RUNNING and the stop; the "
                                      "floor is a service that does nothing"))

    def run_all(self):
        self.set_up()
        self.run("HTTP bare responder (floor, before)", lambda: self.bare_http("before"))
        self.install()
        self.memory_at_start()
        self.run("pipe", self.pipe)
        self.run("HTTP", self.http)
        self.run("native messaging", self.native_messaging)
        self.run("memory", self.memory)
        self.run("start and stop", self.start_stop)
        self.run("HTTP bare responder (floor, after)", lambda: self.bare_http("after"))
        self.run("HTTP figures", self.http_rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--prefix", help="Wine prefix (default: BUILD/wine-bench)")
    parser.add_argument("--quick", action="store_true", help="smaller counts, for a check of the programs")
    args = parser.parse_args()
    build_dir = os.path.abspath(args.build_dir)
    bench = Bench(build_dir, os.path.abspath(args.prefix or os.path.join(build_dir, "wine-bench")), args.quick)
    signal.signal(signal.SIGINT, on_stop_signal)
    signal.signal(signal.SIGTERM, on_stop_signal)
    began = time.monotonic()
    status = 0
    try:
        bench.run_all()
    except Stop:
        say("stopped")
        status = 1
    except Exception as error:
        say(f"FAILED: {error}")
        status = 1
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        bench.tear_down()
    print_table(bench.rows, time.monotonic() - began)
    return 1 if status or bench.failures else 0


if __name__ == "__main__":
    sys.exit(main())
