"""Runs the built program for real, for the end-to-end tests and the
benchmarks: in a folder of its own, fed through its standard input, watched
through its standard output, reached over HTTP on port 5000."""

import http.client
import json
import os
import shlex
import signal
import socket
import subprocess
import threading
import time

PORT = 5000
CONFIG_NAME = "Koravel_KEY_WEBHOOK_config.json"
PRESSED = '{"message": "Key pressed successfully"}'


def program_command():
    """The program under test, from KORAVEL_PROGRAM ("build/native/koravel-key-webhook", "wine x.exe")."""
    return [os.path.abspath(w) if os.path.sep in w else w for w in shlex.split(os.environ["KORAVEL_PROGRAM"])]


def under_wine():
    return os.environ.get("KORAVEL_WINE") == "1"


class Program:
    def __init__(self, folder, stdin_text=None, args=(), env=None, wrapper=()):
        self.lines, self._from = [], 0
        self.process = subprocess.Popen(list(wrapper) + program_command() + list(args), cwd=folder,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        env=dict(os.environ, **(env or {})), start_new_session=True)
        if stdin_text is not None:
            try:
                self.process.stdin.write(stdin_text.encode() if isinstance(stdin_text, str) else stdin_text)
                self.process.stdin.flush()
            except BrokenPipeError:
                pass  # it ended without reading: the test sees how from its output
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.append(line.decode("utf-8", errors="replace").rstrip("\r\n"))

    def mark(self):
        """From now on, since_mark and wait_for_line look only at the lines printed after this."""
        self._from = len(self.lines)

    def since_mark(self):
        return self.lines[self._from:]

    def wait_for_line(self, wanted, timeout=10.0):
        deadline = time.monotonic() + timeout
        while wanted not in self.since_mark():
            if time.monotonic() > deadline or not self._reader.is_alive():
                raise AssertionError(f"no line {wanted!r}; output:\n" + "\n".join(self.lines))
            time.sleep(0.02)

    def wait_until_serving(self):
        self.wait_for_line("En attente de webhooks...", timeout=float(os.environ.get("KORAVEL_START_TIMEOUT", "10")))

    def exit_code(self, timeout=15.0):
        code = self.process.wait(timeout=timeout)
        self._reader.join(timeout=5)
        return code

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
        self.exit_code()


def wait_for_port_free():
    for _ in range(150):
        with socket.socket() as probe:
            if probe.connect_ex(("127.0.0.1", PORT)) != 0:  # nothing listens any more
                return
        time.sleep(0.1)
    raise AssertionError("port 5000 stays taken")


def request(method, target, body=None, headers=None, timeout=30.0, host="127.0.0.1"):
    """One HTTP request to the program; answers (status, headers, body)."""
    connection = http.client.HTTPConnection(host, PORT, timeout=timeout)
    try:
        connection.request(method, target, body=body, headers=headers or {})
        response = connection.getresponse()
        return response.status, dict(response.getheaders()), response.read().decode("utf-8")
    finally:
        connection.close()


def post_gift(name, timeout=30.0):
    """Sends a gift the way a relay tool does, as a JSON body; answers the reply's body."""
    status, headers, body = request("POST", "/webhook", json.dumps({"giftName": name}).encode(),
                                    {"Content-Type": "application/json"}, timeout)
    assert (status, headers.get("Content-Type")) == (200, "application/json"), (status, body)
    return body


def write_config(folder, document):
    with open(os.path.join(folder, CONFIG_NAME), "w", encoding="utf-8") as f:
        json.dump(document, f, indent=2)


def start_x_display(name=None):
    """A virtual X display: the one named (":7"), or one whose number Xvfb finds
    free. Answers the server's process and the display's name."""
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb"] + ([name] if name else []) + ["-displayfd", str(write), "-nolisten", "tcp"],
                              pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as numbers:  # written once it accepts connections
        number = numbers.readline().strip()
    assert number, "Xvfb did not start"
    return server, ":" + number
