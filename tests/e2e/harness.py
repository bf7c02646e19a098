"""The built program run for real, for the end-to-end tests and the benchmarks: in a folder of its own, fed
through its standard input, watched through its standard output, reached over HTTP on port 5000."""

import contextlib
import http.client
import json
import os
import shlex
import signal
import socket
import subprocess
import threading
import time

PORT, CONFIG_NAME = 5000, "Koravel_KEY_WEBHOOK_config.json"
PRESSED = '{"message": "Key pressed successfully"}'


def program_command():  # from KORAVEL_PROGRAM: "build/native/koravel-key-webhook", "wine x.exe"
    return [os.path.abspath(w) if os.path.sep in w else w for w in shlex.split(os.environ["KORAVEL_PROGRAM"])]


def under_wine():
    return os.environ.get("KORAVEL_WINE") == "1"


class Program:
    def __init__(self, folder, stdin_text="", env=None, wrapper=()):
        self.lines, self._from = [], 0
        self.process = subprocess.Popen([*wrapper, *program_command()], cwd=folder, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, env=dict(os.environ, **(env or {})),
                                        start_new_session=True)
        try:
            with self.process.stdin:  # then the end of the input
                self.process.stdin.write(stdin_text.encode() if isinstance(stdin_text, str) else stdin_text)
        except BrokenPipeError:
            pass  # it ended without reading: the test sees how from its output
        self._reader = threading.Thread(target=lambda: self.lines.extend(
            line.decode("utf-8", "replace").rstrip("\r\n") for line in self.process.stdout), daemon=True)
        self._reader.start()

    def mark(self):  # from now on, since_mark and wait_for_line look only at the lines printed after this
        self._from = len(self.lines)

    def since_mark(self):
        return self.lines[self._from:]

    def wait_until_serving(self):
        self.wait_for_line("Page de controle: http://localhost:5000/", float(os.environ.get("KORAVEL_START_TIMEOUT", "10")))

    def wait_for_line(self, wanted, timeout=10.0):
        deadline = time.monotonic() + timeout
        while wanted not in self.since_mark() and self._reader.is_alive() and time.monotonic() < deadline:
            time.sleep(0.02)
        assert wanted in self.since_mark(), f"no {wanted!r} within {timeout} s in {self.lines}"

    def exit_code(self, timeout=15.0):
        code = self.process.wait(timeout=timeout)
        self._reader.join(timeout=5)
        return code

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
        self.exit_code()


def screenshot(browser, name):
    """Keeps what the browser shows, for the guide and for a look after a run: build/screenshots/NAME.png."""
    folder = os.environ.get("KORAVEL_SCREENSHOTS", os.path.join(os.path.dirname(__file__), "..", "..", "build", "screenshots"))
    os.makedirs(folder, exist_ok=True)
    browser.save_screenshot(os.path.join(folder, f"{name}{'-wine' if under_wine() else ''}.png"))


def wait_until(condition, timeout=15.0):
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, f"waited {timeout} s in vain"
        time.sleep(0.02)


def port_is_free():
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", PORT)) != 0  # nothing listens


def wait_for_port_free():
    wait_until(port_is_free)


def post_gift(name, timeout=30.0, host="127.0.0.1", port=PORT):  # as a relay tool does; answers the reply's body
    connection = http.client.HTTPConnection(host, port, timeout=timeout)
    connection.request("POST", "/webhook", json.dumps({"giftName": name}), {"Content-Type": "application/json"})
    reply = connection.getresponse()
    assert (reply.status, reply.getheader("Content-Type")) == (200, "application/json; charset=utf-8")
    return reply.read().decode()


def relay(method, target, body=None, content_type=None):  # a request as any relay may send it; answers its reply's body
    connection = http.client.HTTPConnection("127.0.0.1", PORT, timeout=30)
    connection.request(method, target, body, {"Content-Type": content_type} if content_type else {})
    reply = connection.getresponse()
    assert reply.status == 200
    return reply.read().decode()


def write_config(folder, document):
    with open(os.path.join(folder, CONFIG_NAME), "w", encoding="utf-8") as f:
        json.dump(document, f, indent=2)


def start_x_display():
    """A virtual X display on a number Xvfb finds free; answers its process and name."""
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-noreset"],
                              pass_fds=(write,), stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as numbers:  # written once it accepts connections
        return server, ":" + numbers.readline().strip()


@contextlib.contextmanager
def helper(command, ready, stdin=None):
    """A helper program of the suite, while it runs: it says `ready` once it has done its part."""
    process = subprocess.Popen(command, stdin=stdin, stdout=subprocess.PIPE, text=True)
    said = process.stdout.readline().strip()
    assert said == ready, f"{command} did not do its part: {said!r}"
    try:
        yield process
    finally:
        process.kill() if stdin is None else process.stdin.close()
        process.wait(timeout=10)


@contextlib.contextmanager
def focused_window(title):
    """A window titled `title` of a helper program has the focus, as a game's would; answers the program's name."""
    with helper(os.environ["KORAVEL_WINDOW"].split() + [title] + ([] if under_wine() else ["KoravelClass"]), "ready"):
        yield "window.exe" if under_wine() else "desktop"


def held_key(keysym):
    """A key held as the streamer's own keyboard holds it: a real event, not the program's (under wine, not injected)."""
    return helper(os.environ["KORAVEL_HOLDKEY"].split() + [keysym] + (["core"] if under_wine() else []), "held",
                  subprocess.PIPE)
