"""Measures the receiver side by side with the bare HTTP library and with a
Node.js script, on loopback, in rounds, and prints one table.

Run through bench/run.sh, which builds what is needed and gives this script a
network namespace of its own. Every ratio is taken within one round (the
three servers measured one after the other), and the table shows the median
over the rounds with the lowest and highest value beside it.

The script judges correctness only: it fails when a request went wrong or a
gift was lost, never because of a time.
"""

import argparse
import http.client
import json
import math
import os
import selectors
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
from bench import measure
from tests.e2e import harness

# How long a key gift holds its key, and the gap the receiver keeps between
# two presses of one key: a storm of one key's gifts takes at least
# gifts x (hold + gap) to press them all, one after the other.
KEY_HOLD_MS = 50
KEY_GAP_MS = 30


class Failure(Exception):
    pass


class Server:
    def __init__(self, name, command, port, folder):
        self.name = name
        self.command = command
        self.port = port
        self.folder = folder
        self.process = None
        self.output_path = os.path.join(folder, f"{name}.out")

    def start(self):
        """Starts the server; returns the milliseconds from the start of the
        process to its first accepted connection."""
        output = open(self.output_path, "ab")
        started = time.perf_counter()
        self.process = subprocess.Popen(self.command, cwd=self.folder, stdin=subprocess.DEVNULL,
                                        stdout=output, stderr=subprocess.STDOUT)
        output.close()
        deadline = started + 10
        while True:
            with socket.socket() as probe:
                if probe.connect_ex(("127.0.0.1", self.port)) == 0:
                    return (time.perf_counter() - started) * 1e3
            if self.process.poll() is not None:
                raise Failure(f"{self.name} ended at start (code {self.process.returncode}); see {self.output_path}")
            if time.perf_counter() > deadline:
                raise Failure(f"{self.name} did not listen on port {self.port} within 10 s")
            time.sleep(0.0002)

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None

    def status_kib(self, field):
        return measure.status_kib(self.process.pid, field)

    def cpu_seconds(self):
        with open(f"/proc/{self.process.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def output(self):
        with open(self.output_path, encoding="utf-8", errors="replace") as output:
            return output.read()


class PageFollower:
    """The control page's feed, followed as an open page follows it, for as long as the receiver runs: what the
    program does for a page open during a live."""

    def __init__(self, port):
        self.steps, self.polls, self._stop = 0, 0, False
        self._thread = threading.Thread(target=self._follow, args=(port,), daemon=True)
        self._thread.start()

    def _follow(self, port):
        after = 0
        while not self._stop:
            try:
                connection = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
                connection.request("GET", f"/api/feed?after={after}", headers={"Host": f"localhost:{port}"})
                batch = json.loads(connection.getresponse().read())
                connection.close()
                after, self.steps, self.polls = batch["next"], self.steps + len(batch["steps"]), self.polls + 1
            except (OSError, ValueError):
                time.sleep(0.1)  # between the receiver's stop and its next start

    def stop(self):
        self._stop = True


def wrk(script, url, connections, seconds, threads=2, extra=(), env=None):
    command = ["wrk", f"-t{threads}", f"-c{connections}", f"-d{seconds}s", "--timeout", "10s",
               "-s", os.path.join(HERE, script), *extra, url]
    result = subprocess.run(command, capture_output=True, text=True, env={**os.environ, **(env or {})},
                            timeout=seconds + 60)
    lines = [line for line in result.stdout.splitlines() if line.startswith("{")]
    if result.returncode != 0 or not lines:
        raise Failure(f"wrk failed: {' '.join(command)}\n{result.stdout}{result.stderr}")
    return json.loads(lines[-1])


def dispatch(server, name, connections, seconds, keep_alive, samples):
    extra = () if keep_alive else ("-H", "Connection: close")
    cpu_before = server.cpu_seconds()
    figures = wrk("dispatch.lua", f"http://127.0.0.1:{server.port}/webhook", connections, seconds, extra=extra)
    cpu = server.cpu_seconds() - cpu_before
    if figures["errors"] or figures["requests"] == 0:
        raise Failure(f"{server.name}, {name}: {figures['errors']} errors in {figures['requests']} requests")
    rate = figures["requests"] / (figures["duration_us"] / 1e6)
    samples[(name, "rps", server.name)] = rate
    samples[(name, "p50", server.name)] = figures["p50_us"] / 1e3
    samples[(name, "p99", server.name)] = figures["p99_us"] / 1e3
    samples[(name, "cpu", server.name)] = cpu / figures["requests"] * 1e6


class Presses:
    """The receiver's presses as the virtual display receives them, read by the
    tests' key logger. The X server stamps each event with CLOCK_MONOTONIC in
    ms, modulo 2^32: the clock time.monotonic() and the storm scripts read."""

    def __init__(self, keylog, folder):
        self.path, self.seen = os.path.join(folder, "keys.txt"), 1
        self.process = subprocess.Popen([keylog, self.path])
        harness.wait_until(lambda: self.lines()[:1] == ["ready"], 10)

    def lines(self):
        try:
            with open(self.path) as log:
                return log.read().splitlines()
        except FileNotFoundError:
            return []

    def release_after(self, first_gift_s, gifts, what, wait_s=5):
        """Checks that the key events since the last call are `gifts` presses,
        one after the other; answers the ms from the first gift to the last release."""
        def events():
            return [line.split() for line in self.lines()[self.seen:]]
        try:  # the last reply comes after the last release; the logger may lag a little
            harness.wait_until(lambda: len(events()) >= 2 * gifts, wait_s)
        except AssertionError:
            pass
        seen = events()
        self.seen += len(seen)
        kinds = [kind for kind, *_ in seen]
        if kinds != ["down", "up"] * gifts:
            raise Failure(f"{what}: {kinds.count('down')} presses of the {gifts} gifts, or presses that overlap")
        return (int(seen[-1][3]) - int(first_gift_s * 1e3)) % 2**32

    def stop(self):
        self.process.kill()


def storm(server, gifts, samples, presses):
    figures = wrk("storm.lua", f"http://127.0.0.1:{server.port}/webhook", gifts, 15, threads=1,
                  env={"GIFTS": str(gifts), "GIFT": "Rose"})
    if figures["answered"] != gifts or figures["wrong"] or figures["errors"]:
        raise Failure(f"{server.name}, storm of {gifts}: {figures['answered']} answered, "
                      f"{figures['wrong']} wrong, {figures['errors']} errors")
    samples[(f"storm {gifts}", "last", server.name)] = figures["last_reply_us"] / 1e3
    if presses and server.name == "receiver":
        samples[(f"storm {gifts}", "release", server.name)] = presses.release_after(
            figures["first_sent_us"] / 1e6, gifts, f"storm of {gifts}")


def storm_on_open_connections(server, gifts, samples, presses):
    """The same storm with every connection opened beforehand: what the
    worker pool does once its workers exist, without the cost of making them."""
    body = b"giftName=Rose"
    request = (b"POST /webhook HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
               b"Content-Length: %d\r\n\r\n%s" % (len(body), body))
    connections = [socket.create_connection(("127.0.0.1", server.port), timeout=20) for _ in range(gifts)]
    try:
        time.sleep(0.5)  # every connection accepted and given its worker
        selector = selectors.DefaultSelector()
        replies = {}
        started = time.monotonic()
        for connection in connections:
            connection.sendall(request)
        for connection in connections:
            connection.setblocking(False)
            selector.register(connection, selectors.EVENT_READ)
            replies[connection] = b""
        last = started
        pending = set(connections)
        deadline = started + 15
        while pending and time.monotonic() < deadline:
            for key, _ in selector.select(timeout=1):
                chunk = key.fileobj.recv(4096)
                replies[key.fileobj] += chunk
                # A whole reply: a body of its own length, or the last chunk.
                if not chunk or replies[key.fileobj].endswith((b"}", b"\r\n0\r\n\r\n")):
                    selector.unregister(key.fileobj)
                    pending.discard(key.fileobj)
                    last = time.monotonic()
        right = sum(1 for reply in replies.values() if b"Key pressed successfully" in reply)
        if right != gifts:
            raise Failure(f"{server.name}, storm of {gifts} on open connections: {right} right replies")
        samples[(f"open storm {gifts}", "last", server.name)] = (last - started) * 1e3
        if presses and server.name == "receiver":
            samples[(f"open storm {gifts}", "release", server.name)] = presses.release_after(
                started, gifts, f"storm of {gifts} on open connections")
    finally:
        for connection in connections:
            connection.close()


def counted_gifts(server, gifts, samples, presses):
    """One request that counts for many gifts (a relay that sends a streak once, with its count): its reply comes
    after the first press, and the presses follow one after the other."""
    connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=30)
    started = time.monotonic()
    connection.request("POST", "/webhook", json.dumps({"giftName": "Rose", "repeatCount": gifts}),
                       {"Content-Type": "application/json"})
    reply = connection.getresponse().read()
    samples[(f"count {gifts}", "reply", server.name)] = (time.monotonic() - started) * 1e3
    if json.loads(reply).get("count") != gifts:
        raise Failure(f"a count of {gifts}: {reply!r}")
    if presses:
        samples[(f"count {gifts}", "release", server.name)] = presses.release_after(
            started, gifts, f"a count of {gifts}", wait_s=gifts * (KEY_HOLD_MS + KEY_GAP_MS) / 1e3 + 5)


def make_folder(receiver):
    """A folder holding the receiver's own default configuration, made by a
    first run as a user would."""
    folder = tempfile.mkdtemp(prefix="koravel-compare-")
    os.environ["KORAVEL_PROGRAM"] = receiver
    first_run = harness.Program(folder, stdin_text="bench-token\n")
    try:
        first_run.wait_until_serving()
    finally:
        first_run.stop()
    return folder


def summary(values):
    values = sorted(values)
    return statistics.median(values), values[0], values[-1]


def cell(values, digits):
    if not values:
        return "-"
    median, low, high = summary(values)
    if len(values) == 1:
        return f"{median:.{digits}f}"
    return f"{median:.{digits}f} ({low:.{digits}f}-{high:.{digits}f})"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--receiver", required=True)
    parser.add_argument("--bare", required=True)
    parser.add_argument("--keylog", required=True)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--seconds", type=int, default=5)
    parser.add_argument("--page", action="store_true", help="with the control page open, its feed followed")
    options = parser.parse_args()

    display = measure.virtual_display_for_keys()
    folder = make_folder(options.receiver)
    presses = Presses(options.keylog, folder) if display else None
    servers = [
        Server("receiver", [options.receiver], 5000, folder),
        Server("bare", [options.bare, "5001"], 5001, folder),
        Server("node", ["node", os.path.join(HERE, "node_server.js"), "5002"], 5002, folder),
    ]
    # Within the 10 s a press may wait for its turn (125 presses).
    storm_gifts = (100,)
    rounds = []
    follower = PageFollower(5000) if options.page else None
    try:
        for number in range(options.rounds):
            samples = {}
            # The order turns each round, so that no server always runs first.
            order = servers[number % 3:] + servers[:number % 3]
            for server in order:
                samples[("start-up", "ms", server.name)] = server.start()
                try:
                    time.sleep(0.5)
                    samples[("memory", "idle", server.name)] = server.status_kib("VmRSS") / 1024
                    dispatch(server, "keep-alive 64", 64, options.seconds, True, samples)
                    dispatch(server, "keep-alive 256", 256, options.seconds, True, samples)
                    dispatch(server, "new connection 64", 64, options.seconds, False, samples)
                    samples[("memory", "peak", server.name)] = server.status_kib("VmHWM") / 1024
                    if server.name != "bare":  # its handler holds nothing
                        for gifts in storm_gifts:
                            storm(server, gifts, samples, presses)
                        for gifts in storm_gifts:
                            storm_on_open_connections(server, gifts, samples, presses)
                    if server.name == "receiver":
                        counted_gifts(server, 100, samples, presses)
                finally:
                    server.stop()
            received = servers[0].output().count("Cadeau recu: Rose")
            expected = (2 * sum(storm_gifts) + 1) * (number + 1)  # and one request that counts for 100
            if received != expected:
                raise Failure(f"the receiver printed {received} key gifts of the {expected} sent")
            rounds.append(samples)
            print(f"round {number + 1} of {options.rounds} done", file=sys.stderr, flush=True)
    finally:
        if follower:
            follower.stop()
            print(f"page open: {follower.steps} steps of the feed in {follower.polls} answers", file=sys.stderr)
        for server in servers:
            server.stop()
        if presses:
            presses.stop()
        if display:
            display.kill()
    shutil.rmtree(folder, ignore_errors=True)
    print_table(rounds, options, storm_gifts)


def print_table(rounds, options, storm_gifts):
    def values(key):
        return [r[key] for r in rounds if key in r]

    def ratio(key, a, b):
        return [r[(*key, a)] / r[(*key, b)] for r in rounds if (*key, a) in r and (*key, b) in r]

    rows = []

    def row(label, key, digits, goal="", ratios=True):
        line = [label] + [cell(values((*key, s)), digits) for s in ("receiver", "bare", "node")]
        line += [cell(ratio(key, "receiver", "bare"), 2) if ratios else "",
                 cell(ratio(key, "receiver", "node"), 2) if ratios else "", goal]
        rows.append(line)

    for workload in ("keep-alive 64", "keep-alive 256", "new connection 64"):
        rows.append([f"dispatch, {workload} connections"] + [""] * 6)
        row("  requests/s", (workload, "rps"), 0,
            "receiver/bare >= 0.9, receiver/node >= 3" if workload == "keep-alive 64" else "")
        row("  p50 latency, ms", (workload, "p50"), 2)
        row("  p99 latency, ms", (workload, "p99"), 2,
            "receiver/node <= 1" if workload.startswith("keep-alive") else "")
        row("  server CPU per request, us", (workload, "cpu"), 1)
    for kind, title in (("storm", "a new connection each"), ("open storm", "on connections already open")):
        rows.append([f"key storm, one key, {title}, ms"] + [""] * 6)
        for gifts in storm_gifts:
            bound = gifts * (KEY_HOLD_MS + KEY_GAP_MS)
            key = f"{kind} {gifts}"
            rows.append([f"  last reply, {gifts} gifts", cell(values((key, "last", "receiver")), 1), "-",
                         cell(values((key, "last", "node")), 1)] + [""] * 3)
            to_bound = [v / bound for v in values((key, "release", "receiver"))]
            rows.append([f"  first gift to last release, {gifts} presses", cell(values((key, "release", "receiver")), 1),
                         "-", "-", f"bound {bound} ms", f"receiver/bound {cell(to_bound, 2)}", "receiver/bound <= 1.1"])
    rows.append(["one request with a count of 100 for one key, ms"] + [""] * 6)
    rows.append(["  reply", cell(values(("count 100", "reply", "receiver")), 1), "-", "-", "", "",
                 "no wait for the presses"])
    bound = 100 * (KEY_HOLD_MS + KEY_GAP_MS)
    to_bound = [v / bound for v in values(("count 100", "release", "receiver"))]
    rows.append(["  request to last release, 100 presses", cell(values(("count 100", "release", "receiver")), 1), "-",
                 "-", f"bound {bound} ms", f"receiver/bound {cell(to_bound, 2)}", "receiver/bound <= 1.1"])
    row("start-up to first connection, ms", ("start-up", "ms"), 1, "receiver < 20 ms")
    row("resident memory idle, MiB", ("memory", "idle"), 1, "receiver < 8 MiB")
    row("resident memory peak, MiB", ("memory", "peak"), 1, "receiver < 32 MiB")

    header = ["", "receiver", "bare library", "Node.js", "receiver/bare", "receiver/node", "goal"]
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(len(header))]
    print(f"\n{len(rounds)} rounds of {options.seconds} s per dispatch workload; "
          "median (lowest-highest) over the rounds")
    for line in [header] + rows:
        print("  ".join(text.ljust(width) for text, width in zip(line, widths)).rstrip())


if __name__ == "__main__":
    try:
        main()
    except Failure as failure:
        print(f"benchmark failed: {failure}", file=sys.stderr)
        sys.exit(1)
