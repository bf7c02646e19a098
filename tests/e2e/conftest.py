import http.server
import os
import shutil
import ssl
import subprocess
import tempfile
import threading

import pytest

from . import audio, harness

# Where the Windows program's trusted roots come from: wine fills its store
# from the host's certificates when a prefix starts.
SYSTEM_CA = "/usr/local/share/ca-certificates/koravel-e2e-test-ca.crt"
MAKE_CERTIFICATES = os.path.join(os.path.dirname(__file__), "..", "support", "make-certificates.sh")


@pytest.fixture
def folder(tmp_path):
    """The program's working directory, empty, and port 5000 free for it."""
    harness.wait_for_port_free()
    return str(tmp_path)


@pytest.fixture
def run(folder):
    """Starts the program in the test's folder; stops it after the test."""
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
    subprocess.run([MAKE_CERTIFICATES, str(folder)], check=True)
    return folder


class _Service(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = b"win added: " + self.path.encode()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


@pytest.fixture(scope="session")
def tls_services(certificates):
    """A web service over TLS on port 8443 with a certificate the test CA
    signed, and one on 8444 with a certificate nobody vouches for."""
    servers = []
    for port, name in ((8443, "server"), (8444, "stranger")):
        server = http.server.ThreadingHTTPServer(("127.0.0.1", port), _Service)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(certificates / f"{name}.pem", certificates / f"{name}.key")
        server.socket = context.wrap_socket(server.socket, server_side=True)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        servers.append(server)
    yield
    for server in servers:
        server.shutdown()


@pytest.fixture(scope="session", autouse=True)
def desktop_session(certificates):
    """What a streamer's computer has: a sound server whose sink the tests
    record, and for the Linux program an X display. Under wine the test CA
    goes into the host's store before the prefix is made (which copies it);
    the Linux program is told of it through OpenSSL's SSL_CERT_FILE. All is
    undone at the end, whatever happened."""
    pulse = tempfile.mkdtemp(prefix="koravel-e2e-pulse-")
    display = None
    try:
        audio.start_pulseaudio(pulse)
        if harness.under_wine():
            shutil.copyfile(certificates / "ca.pem", SYSTEM_CA)
            subprocess.run(["update-ca-certificates", "--fresh"], check=True, capture_output=True)
            # The first start of a prefix is slow, and now and then fails: once more from nothing.
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
        if display is not None:
            display.kill()
            display.wait()
        audio.stop_pulseaudio(pulse)
        shutil.rmtree(pulse, ignore_errors=True)
        if os.path.exists(SYSTEM_CA):
            os.remove(SYSTEM_CA)
            subprocess.run(["update-ca-certificates", "--fresh"], capture_output=True)


@pytest.fixture(scope="session")
def mp3s(tmp_path_factory):
    """Test sounds, made with sox and lame: 3-second tones at 440 and 880 Hz,
    a 30-second tone, and a file that is not audio at all."""
    folder = tmp_path_factory.mktemp("mp3s")
    made = {"not_audio": b"This is a text file, not a sound.\n" * 50}
    for name, seconds, frequency in (("low", 3, 440), ("high", 3, 880), ("long", 30, 660)):
        wav, mp3 = folder / f"{name}.wav", folder / f"{name}.mp3"
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", wav, "synth", str(seconds), "sine", str(frequency),
                        "vol", "0.5"], check=True, capture_output=True)
        subprocess.run(["lame", "--quiet", wav, mp3], check=True, capture_output=True)
        made[name] = mp3.read_bytes()
    return made
