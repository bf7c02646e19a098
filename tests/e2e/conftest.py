import http.server
import os
import shutil
import ssl
import subprocess
import threading
import time
import urllib.parse

import pytest

from . import audio, harness

# Wine fills its store of trusted roots from the host's certificates when a prefix is made.
# A name of the suite's own (run-suite.sh gives one), so that two suites at once keep each other's.
SYSTEM_CA = f"/usr/local/share/ca-certificates/{os.environ.get('KORAVEL_CA_NAME', 'koravel-e2e-test-ca.crt')}"


@pytest.fixture
def run(tmp_path):  # starts the program, in the test's own folder unless told; stops it after the test
    started = []

    def start(cwd=tmp_path, **kwargs):
        harness.wait_for_port_free()
        started.append(harness.Program(cwd, **kwargs))
        return started[-1]

    yield start
    for program in started:
        program.stop()


class _Service(http.server.BaseHTTPRequestHandler):
    """A web service that gifts call; /redirect leads to the address after "to=", /silent answers late. It notes
    each address called in `calls`."""
    calls = []

    def do_GET(self):
        _Service.calls.append(self.path)
        path, _, query = self.path.partition("?")
        time.sleep(8 if path == "/silent" else 0)  # a site that says nothing for longer than a call waits
        status, location, body = {"/latin1": (200, None, b"caf\xe9"), "/loop": (302, "/loop", b""), "/made": (201, "/ok", b""),
                                  "/redirect": (308, urllib.parse.unquote(query[3:]), b""),
                                  "/limit": (200, None, b"x" * ((1 << 20) + 1))}.get(path, (200, None, b"win added: " + self.path.encode()))
        self.send_response(status)
        if location:
            self.send_header("Location", location)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


@pytest.fixture(scope="session", autouse=True)
def desktop_session(tmp_path_factory):
    """What a streamer's computer has: a sound server whose sink the tests record, an X display (its windows and keys),
    web services over TLS on port 8443 with a certificate of the test CA, which is among the trusted roots (through
    SSL_CERT_FILE on Linux; the host's store, copied into wine's prefix), on 8444 with one nobody vouches for."""
    certificates = tmp_path_factory.mktemp("tls")
    subprocess.run([os.path.join(os.path.dirname(__file__), "..", "support", "make-certificates.sh"), certificates],
                   check=True)
    for port, name in ((8443, "server"), (8444, "stranger")):
        server = http.server.ThreadingHTTPServer(("127.0.0.1", port), _Service)
        server.daemon_threads = True  # a call the program gave up on does not hold the suite's end
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(certificates / f"{name}.pem", certificates / f"{name}.key")
        server.socket = context.wrap_socket(server.socket, server_side=True)
        threading.Thread(target=server.serve_forever, daemon=True).start()
    # The desktop's opener (xdg-open, which wine's browser calls too), that the first start asks to open the page
    # in the default browser: it notes the address in $KORAVEL_OPENED.
    opener = tmp_path_factory.mktemp("desktop") / "xdg-open"
    opener.write_text('#!/bin/sh\necho "$1" >> "${KORAVEL_OPENED:-/dev/null}"\n')
    opener.chmod(0o755)
    os.environ["PATH"] = f"{opener.parent}:{os.environ['PATH']}"
    pulse, display = tmp_path_factory.mktemp("pulse"), None
    try:
        os.environ["PULSE_SERVER"] = audio.start_pulseaudio(pulse)
        if harness.under_wine():
            shutil.copyfile(certificates / "ca.pem", SYSTEM_CA)
            subprocess.run(["update-ca-certificates", "--fresh"], check=True, capture_output=True)
            for attempt in range(2):  # making a prefix now and then fails: once more from nothing, then it says why
                if subprocess.run("wineboot -i && wineserver -w", shell=True, timeout=600, check=attempt).returncode == 0:
                    break
                subprocess.run(["wineserver", "-k"])
                shutil.rmtree(os.environ["WINEPREFIX"])
                os.makedirs(os.environ["WINEPREFIX"])
        else:
            os.environ["SSL_CERT_FILE"] = str(certificates / "ca.pem")
        # Keys go to the display's windows, and the streamer's come from it: under wine too.
        display, os.environ["DISPLAY"] = harness.start_x_display()
        yield
    finally:
        if display:
            display.kill()
        if harness.under_wine():
            subprocess.run(["wineserver", "-k"])
        subprocess.run(["pulseaudio", "--kill"], env=dict(os.environ, XDG_RUNTIME_DIR=pulse))
        if harness.under_wine() and os.path.exists(SYSTEM_CA):  # the Linux suite never touches the host's store
            os.remove(SYSTEM_CA)
            subprocess.run(["update-ca-certificates", "--fresh"], capture_output=True)


@pytest.fixture(scope="session")
def mp3s(tmp_path_factory):
    """3-second tones at 440 and 880 Hz (made with sox and lame), and a file that is no sound."""
    folder = tmp_path_factory.mktemp("mp3s")
    made = {"not_audio": b"This is a text file, not a sound.\n" * 50}
    for name, frequency in (("low", 440), ("high", 880)):
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", folder / "t.wav", "synth", "3", "sine",
                        str(frequency), "vol", "0.5"], check=True)
        subprocess.run(["lame", "--quiet", folder / "t.wav", folder / f"{name}.mp3"], check=True)
        made[name] = (folder / f"{name}.mp3").read_bytes()
    return made
