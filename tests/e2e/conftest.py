import os
import shutil
import subprocess
import tempfile

import pytest

import audio
import harness
from tls_service import TlsService, make_certificates

# Where the Windows program's trusted roots come from: wine fills its store
# from the host's certificates when a prefix starts.
SYSTEM_CA = "/usr/local/share/ca-certificates/koravel-e2e-test-ca.crt"


@pytest.fixture
def folder(tmp_path):
    """The program's working directory, empty."""
    harness.wait_for_port_free()
    return str(tmp_path)


@pytest.fixture
def run(folder):
    """Starts the program in the test's folder; stops it after the test."""
    started = []

    def start(stdin_text=None, args=(), env=None, cwd=None, wrapper=()):
        program = harness.Program(cwd or folder, stdin_text=stdin_text, args=args, env=env, wrapper=wrapper)
        started.append(program)
        return program

    yield start
    for program in started:
        program.stop()


@pytest.fixture(scope="session")
def certificates():
    with tempfile.TemporaryDirectory(prefix="koravel-e2e-tls-") as d:
        yield make_certificates(d)


@pytest.fixture(scope="session")
def tls_service(certificates):
    service = TlsService(certificates)
    yield service
    service.close()


@pytest.fixture(scope="session")
def stranger_service(certificates):
    service = TlsService(certificates, port=8444, trusted=False)
    yield service
    service.close()


@pytest.fixture(scope="session")
def trust_env(certificates):
    """How the program is told to trust the test CA. The Linux program takes
    OpenSSL's default verify paths, which honour SSL_CERT_FILE; under wine the
    CA is in the system store (see desktop_session)."""
    return {"SSL_CERT_FILE": certificates["ca.pem"]}


def _update_ca_certificates():
    subprocess.run(["update-ca-certificates", "--fresh"], check=True, capture_output=True)


def _make_wine_prefix():
    """Makes the prefix, trying once more from nothing if wine fails; the
    reasons are shown when both tries fail."""
    failures = []
    for _ in range(2):
        made = subprocess.run(["wineboot", "-i"], capture_output=True, text=True, timeout=300)
        waited = subprocess.run(["wineserver", "-w"], capture_output=True, timeout=300)
        if made.returncode == 0 and waited.returncode == 0:
            return
        failures.append(f"wineboot exit {made.returncode}: {made.stderr.strip()[-2000:]}")
        subprocess.run(["wineserver", "-k"], capture_output=True)
        prefix = os.environ["WINEPREFIX"]
        shutil.rmtree(prefix, ignore_errors=True)
        os.makedirs(prefix)
    raise RuntimeError("wine cannot make its prefix:\n" + "\n".join(failures))


@pytest.fixture(scope="session", autouse=True)
def desktop_session(certificates):
    """What a streamer's computer has: a sound server whose sink the tests
    record, and, for the Linux program, an X display whose keys they read.
    Under wine, the test CA also goes into the host's store before the prefix
    is made (which copies the store). All is undone at the end, whatever
    happened. The first start of a prefix is slow; later ones reuse it."""
    pulse = tempfile.mkdtemp(prefix="koravel-e2e-pulse-")
    display = None
    try:
        audio.start_pulseaudio(pulse)
        if harness.under_wine():
            shutil.copyfile(certificates["ca.pem"], SYSTEM_CA)
            _update_ca_certificates()
            _make_wine_prefix()
        else:
            display, os.environ["DISPLAY"] = harness.start_x_display()
        yield
    finally:
        if harness.under_wine():
            subprocess.run(["wineserver", "-k"], capture_output=True)
        if display is not None:
            display.kill()
            display.wait()
            os.environ.pop("DISPLAY", None)
        audio.stop_pulseaudio(pulse)
        shutil.rmtree(pulse, ignore_errors=True)
        if harness.under_wine() and os.path.exists(SYSTEM_CA):
            os.remove(SYSTEM_CA)
            _update_ca_certificates()


def start_serving(folder, config, env=None, files=None):
    """One program serving `config` from `folder`, for a whole module."""
    for name, content in (files or {}).items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content)
    harness.write_config(folder, config)
    harness.wait_for_port_free()
    program = harness.Program(folder, env=env)
    program.wait_until_serving()
    return program


@pytest.fixture(scope="session")
def mp3s(tmp_path_factory):
    """Test sounds, made with sox and lame: 3-second tones at 440 and 880 Hz,
    a 30-second tone, and a file that is not audio at all."""
    folder = tmp_path_factory.mktemp("mp3s")
    made = {}
    for name, seconds, frequency in (("low", 3, 440), ("high", 3, 880), ("long", 30, 660)):
        wav = folder / f"{name}.wav"
        mp3 = folder / f"{name}.mp3"
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", str(wav), "synth", str(seconds), "sine",
                        str(frequency), "vol", "0.5"], check=True, capture_output=True)
        subprocess.run(["lame", "--quiet", str(wav), str(mp3)], check=True, capture_output=True)
        made[name] = mp3.read_bytes()
    made["not_audio"] = b"This is a text file, not a sound.\n" * 50
    return made
