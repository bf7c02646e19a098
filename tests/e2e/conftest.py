import os
import tempfile

import pytest

import harness
from tls_service import TlsService, make_certificates


@pytest.fixture
def folder(tmp_path):
    """The program's working directory, empty."""
    harness.wait_for_port_free()
    return str(tmp_path)


@pytest.fixture
def run(folder):
    """Starts the program in the test's folder; stops it after the test."""
    started = []

    def start(stdin_text=None, args=(), env=None, cwd=None):
        program = harness.Program(cwd or folder, stdin_text=stdin_text, args=args, env=env)
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


@pytest.fixture
def trust_env(certificates):
    """How the program is told to trust the test CA. The Linux program takes
    OpenSSL's default verify paths, which honour SSL_CERT_FILE."""
    return {"SSL_CERT_FILE": certificates["ca.pem"]}
