import http.server
import os
import shutil
import ssl
import subprocess
import tempfile
import threading

import pytest

from . import audio, harness

# Wine fills its store of trusted roots from the host's certificates when a prefix is made.
SYSTEM_CA = "/usr/local/share/ca-certificates/koravel-e2e-test-ca.crt"


@pytest.fixture
def folder(tmp_path):
    """The program's working directory, empty, and port 5000 free for it."""
    harness.wait_for_port_free()
    return str(tmp_path)


@pytest.fixture
def run(folder):
    """Starts the program (in the test's folder unless told); stops it after the test."""
    started = []

    def start(*args, cwd=None, **kwargs):
        started.append(harness.Program(cwd or folder, *args, **kwargs))
        return started[-1]

    yield start
    for program in started:
        program.stop()


@pytest.fixture(scope="session")
def certificates(tmp_path_factory):
    folder = tmp_path_factory.mktemp("tls")
    subprocess.run([os.path.join(os.path.dirname(__file__), "..", "support", "make-certificates.sh"), folder],
                   check=True)
    return folder


class _Service(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = b"win added: " + self.path.encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


@pytest.fixture(scope="session")
def tls_services(certificates):
    """A web service over TLS on port 8443 with a certificate the test CA
    signed, and one on 8444 with a certificate nobody vouches for."""
    for port, name in ((8443, "server"), (8444, "stranger")):
        server = http.server.ThreadingHTTPServer(("127.0.0.1", port), _Service)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(certificates / f"{name}.pem", certificates / f"{name}.key")
        server.socket = context.wrap_socket(server.socket, server_side=True)
        threading.Thread(target=server.serve_forever, daemon=True).start()


@pytest.fixture(scope="session", autouse=True)
def desktop_session(certificates):
    """What a streamer's computer has: a sound server whose sink the tests
    record, for the Linux program an X display, and the test CA among the
    trusted roots (OpenSSL's SSL_CERT_FILE on Linux; the host's store, copied
    by wine into a prefix made afterwards). All is undone at the end."""
    pulse = tempfile.mkdtemp(prefix="koravel-e2e-pulse-")
    display = None
    try:
        audio.start_pulseaudio(pulse)
        if harness.under_wine():
            shutil.copyfile(certificates / "ca.pem", SYSTEM_CA)
            subprocess.run(["update-ca-certificates", "--fresh"], check=True, capture_output=True)
            # Making a prefix is slow, and now and then fails: once more from nothing then.
            for _ in range(2):
                made = subprocess.run(["wineboot", "-i"], capture_output=True, timeout=300).returncode == 0
                if subprocess.run(["wineserver", "-w"], capture_output=True, timeout=300).returncode == 0 and made:
                    break
                subprocess.run(["wineserver", "-k"], capture_output=True)
                shutil.rmtree(os.environ["WINEPREFIX"], ignore_errors=True)
                os.makedirs(os.environ["WINEPREFIX"])
            else:
                raise RuntimeError("wine cannot make its prefix")
        else:
            os.environ["SSL_CERT_FILE"] = str(certificates / "ca.pem")
            display, os.environ["DISPLAY"] = harness.start_x_display()
        yield
    finally:
        if harness.under_wine():
            subprocess.run(["wineserver", "-k"], capture_output=True)
        if display:
            display.kill()
        audio.stop_pulseaudio(pulse)
        shutil.rmtree(pulse, ignore_errors=True)
        if os.path.exists(SYSTEM_CA):
            os.remove(SYSTEM_CA)
            subprocess.run(["update-ca-certificates", "--fresh"], capture_output=True)


@pytest.fixture(scope="session")
def mp3s(tmp_path_factory):
    """3-second tones at 440 and 880 Hz, a 30-second one (made with sox and lame), and a file that is no sound."""
    folder = tmp_path_factory.mktemp("mp3s")
    made = {"not_audio": b"This is a text file, not a sound.\n" * 50}
    for name, seconds, frequency in (("low", 3, 440), ("high", 3, 880), ("long", 30, 660)):
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", folder / "t.wav", "synth", str(seconds), "sine",
                        str(frequency), "vol", "0.5"], check=True)
        subprocess.run(["lame", "--quiet", folder / "t.wav", folder / f"{name}.mp3"], check=True)
        made[name] = (folder / f"{name}.mp3").read_bytes()
    return made
