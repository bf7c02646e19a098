"""Runs the built program for real: in a folder of its own, fed through its
standard input, watched through its standard output, reached over HTTP on
port 5000. The suite runs in a network namespace of its own, so port 5000
belongs to it alone."""

import http.client
import os
import queue
import shlex
import signal
import socket
import subprocess
import threading
import time

PORT = 5000
CONFIG_NAME = "Koravel_KEY_WEBHOOK_config.json"


def program_command():
    """The command that starts the program under test, from KORAVEL_PROGRAM
    (for instance "build/native/koravel-key-webhook" or "wine x.exe")."""
    command = os.environ.get("KORAVEL_PROGRAM")
    if not command:
        raise RuntimeError("KORAVEL_PROGRAM names the program to test")
    words = shlex.split(command)
    # The program runs in a folder of its own: a relative path must not move.
    return [os.path.abspath(w) if os.path.sep in w and os.path.exists(w) else w for w in words]


def under_wine():
    return os.environ.get("KORAVEL_WINE") == "1"


def line_end():
    """The line end the program writes to its files: CR LF on Windows."""
    return os.environ.get("KORAVEL_LINE_END", "\n")


def start_timeout():
    return float(os.environ.get("KORAVEL_START_TIMEOUT", "10"))


class Program:
    def __init__(self, folder, stdin_text=None, args=(), env=None, wrapper=()):
        self.folder = folder
        self.lines = []
        self._from = 0
        self._new_lines = queue.Queue()
        self._raw = bytearray()
        full_env = dict(os.environ)
        full_env.update(env or {})
        self.process = subprocess.Popen(
            list(wrapper) + program_command() + list(args),
            cwd=folder,
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            env=full_env,
            start_new_session=True,
        )
        if stdin_text is not None:
            try:
                self.process.stdin.write(stdin_text.encode("utf-8") if isinstance(stdin_text, str) else stdin_text)
                self.process.stdin.flush()
            except BrokenPipeError:
                pass  # it ended without reading: the test sees how from its output
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        self._errors = threading.Thread(target=self.process.stderr.read, daemon=True)
        self._errors.start()

    def _read(self):
        pending = b""
        while True:
            chunk = self.process.stdout.read1(4096)
            if not chunk:
                break
            self._raw.extend(chunk)
            pending += chunk
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                text = line.decode("utf-8", errors="replace").rstrip("\r")
                self.lines.append(text)
                self._new_lines.put(text)
        if pending:
            text = pending.decode("utf-8", errors="replace")
            self.lines.append(text)
            self._new_lines.put(text)
        self._new_lines.put(None)

    @property
    def raw_output(self):
        return bytes(self._raw)

    def output(self):
        return "\n".join(self.lines)

    def mark(self):
        """From now on, wait_for_line looks only at lines printed after this."""
        self._from = len(self.lines)
        return self._from

    def lines_since_mark(self):
        return self.lines[self._from:]

    def wait_for_line(self, wanted, timeout=10.0):
        """Waits until a line equal to `wanted` has been printed (since the
        mark); answers its index."""
        deadline = time.monotonic() + timeout
        seen = self._from
        while True:
            while seen < len(self.lines):
                if self.lines[seen] == wanted:
                    return seen
                seen += 1
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f"no line {wanted!r} within {timeout}s; output so far:\n{self.output()}")
            try:
                if self._new_lines.get(timeout=min(remaining, 0.2)) is None and self.process.poll() is not None:
                    if wanted not in self.lines[self._from:]:
                        raise AssertionError(f"program ended without {wanted!r}; output:\n{self.output()}")
            except queue.Empty:
                pass

    def wait_for_count(self, wanted, count, timeout=10.0):
        """Waits until the line has been printed `count` times in all; the
        output is read on its own thread, so a reply can come before the
        lines printed ahead of it are read."""
        deadline = time.monotonic() + timeout
        while self.lines.count(wanted) < count and time.monotonic() < deadline:
            time.sleep(0.05)
        assert self.lines.count(wanted) == count, (wanted, self.lines.count(wanted), count)

    def wait_until_serving(self):
        self.wait_for_line("En attente de webhooks...", timeout=start_timeout())
        wait_for_port()

    def exit_code(self, timeout=15.0):
        code = self.process.wait(timeout=timeout)
        self._reader.join(timeout=5)
        return code

    def stop(self):
        if self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.process.wait(timeout=15)
        self._reader.join(timeout=5)
        for stream in (self.process.stdin, self.process.stdout, self.process.stderr):
            try:
                stream.close()
            except OSError:
                pass


def wait_for_port(timeout=10.0, port=PORT):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return
        except OSError:
            time.sleep(0.05)
    raise AssertionError(f"nothing listens on port {port}")


def wait_for_port_free(timeout=15.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        probe = socket.socket()
        # As the program binds: connections closed a moment ago (TIME_WAIT)
        # do not keep the port from it, a listening socket does.
        probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            probe.bind(("0.0.0.0", PORT))
            probe.listen(1)
            return
        except OSError:
            time.sleep(0.1)
        finally:
            probe.close()
    raise AssertionError("port 5000 stays taken")


def request(method, target, body=None, headers=None, timeout=30.0):
    """One HTTP request to the program; answers (status, headers, body)."""
    connection = http.client.HTTPConnection("127.0.0.1", PORT, timeout=timeout)
    try:
        connection.request(method, target, body=body, headers=headers or {})
        response = connection.getresponse()
        return response.status, dict(response.getheaders()), response.read().decode("utf-8")
    finally:
        connection.close()


def post_gift(name, timeout=30.0):
    """Sends a gift the way a relay tool does, as a JSON body."""
    import json

    status, headers, body = request(
        "POST", "/webhook", json.dumps({"giftName": name}).encode("utf-8"), {"Content-Type": "application/json"}, timeout
    )
    assert status == 200, (status, body)
    assert headers.get("Content-Type") == "application/json"
    return body


def write_config(folder, document):
    import json

    with open(os.path.join(folder, CONFIG_NAME), "w", encoding="utf-8") as f:
        json.dump(document, f, indent=2)


def program_pid(program):
    """The process that runs the program itself: the program under Linux, the
    Windows process (not wine's launcher) under wine."""
    group = program.process.pid
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                command = f.read()
            if os.getpgid(int(entry)) == group and b"koravel-key-webhook" in command:
                if not under_wine() or b".exe" in command.split(b"\0")[0]:
                    return int(entry)
        except (OSError, ProcessLookupError):
            continue
    return group


def status_kib(pid, field):
    """A size from the process's status, in KiB: VmRSS (resident now), VmHWM
    (resident at its peak)."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def resident_kib(pid):
    """The process's resident memory, in KiB."""
    return status_kib(pid, "VmRSS")


def thread_count(pid):
    return len(os.listdir(f"/proc/{pid}/task"))


def threads_fall_to(pid, limit, timeout):
    """Waits until the process has no more than `limit` threads; answers the
    last count seen."""
    deadline = time.monotonic() + timeout
    while True:
        count = thread_count(pid)
        if count <= limit or time.monotonic() > deadline:
            return count
        time.sleep(0.2)


def start_x_display(name=None):
    """A virtual X display: the one named (":7"), or one of a number Xvfb
    finds free. Answers the server's process and the display's name."""
    read, write = os.pipe()
    command = ["Xvfb"] + ([name] if name else []) + ["-displayfd", str(write), "-nolisten", "tcp"]
    server = subprocess.Popen(command, pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    # Xvfb writes the number once it accepts connections.
    with os.fdopen(read) as numbers:
        number = numbers.readline().strip()
    if not number:
        server.kill()
        raise RuntimeError("Xvfb did not start")
    return server, ":" + number


def virtual_display_for_keys():
    """The Linux program presses its keys on the X display in DISPLAY: a
    virtual one of its own here, never the desktop's (whose window with the
    focus would get them). Answers the Xvfb process to stop, or None under
    wine."""
    if under_wine():
        return None
    server, os.environ["DISPLAY"] = start_x_display()
    return server
