"""Stand-ins for the web services that webhook gifts call, failing in every
way a remote can: HTTPS on the loopback, with certificates made for the run."""

import http.server
import os
import socket
import ssl
import struct
import subprocess
import threading
import time


def make_certificates(folder):
    """The tests' certificates (a test CA, one it signed for localhost and
    127.0.0.1, a self-signed stranger), and two the CA signed that are unfit:
    one for another host name, one for the right host that expired in 2020."""
    def run(*args):
        subprocess.run(args, cwd=folder, check=True, capture_output=True)

    run(os.path.join(os.path.dirname(__file__), "..", "tests", "support", "make-certificates.sh"), folder)
    with open(os.path.join(folder, "other.cnf"), "w") as f:
        f.write("subjectAltName=DNS:other.example\n")
    run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=other.example", "-keyout", "other.key",
        "-out", "other.csr")
    run("openssl", "x509", "-req", "-in", "other.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
        "-days", "2", "-extfile", "other.cnf", "-out", "other.pem")
    with open(os.path.join(folder, "ca.cnf"), "w") as f:
        f.write("[ca]\ndefault_ca = test\n[test]\ndatabase = index.txt\nnew_certs_dir = .\nserial = serial\n"
                "default_md = sha256\npolicy = any\ncopy_extensions = copy\n[any]\ncommonName = supplied\n")
    open(os.path.join(folder, "index.txt"), "w").close()
    with open(os.path.join(folder, "serial"), "w") as f:
        f.write("1000\n")
    run("openssl", "ca", "-batch", "-config", "ca.cnf", "-cert", "ca.pem", "-keyfile", "ca.key", "-notext",
        "-startdate", "20200101000000Z", "-enddate", "20200201000000Z", "-extfile", "ext.cnf",
        "-in", "server.csr", "-out", "expired.pem")
    names = ("ca.pem", "server.pem", "server.key", "stranger.pem", "stranger.key", "other.pem", "other.key",
             "expired.pem")
    return {name: os.path.join(folder, name) for name in names}


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def _send(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if body:
            self.wfile.write(body)

    def _send_part_of(self, length, part):
        """Announces a body of `length` bytes and sends only its start."""
        self.send_response(200)
        self.send_header("Content-Length", str(length))
        self.end_headers()
        self.wfile.write(part)
        self.wfile.flush()

    def do_GET(self):
        self.server.requests.append(self.path)
        path = self.path.split("?", 1)[0]
        if path == "/ok":
            self._send(200, b"win added: " + self.path.encode())
        elif path == "/created":
            self._send(204)
        elif path == "/missing":
            self._send(404, b"no such page")
        elif path == "/moved":
            self._send(302, headers=[("Location", "/ok?after=redirect")])
        elif path == "/loop":
            self._send(302, headers=[("Location", "/loop")])
        elif path == "/huge":
            # Far over what a call accepts: 16 MiB announced and sent.
            size = 16 * 1024 * 1024
            self.send_response(200)
            self.send_header("Content-Length", str(size))
            self.end_headers()
            chunk = b"x" * 65536
            try:
                for _ in range(size // len(chunk)):
                    self.wfile.write(chunk)
            except OSError:
                pass  # the caller gave up, as it should
        elif path == "/stall-after-headers":
            self._send_part_of(1000, b"part of it")
            time.sleep(20)
        elif path == "/reset-mid-body":
            self._send_part_of(1000, b"half")
            # An abortive close: RST instead of FIN.
            raw = self.connection
            raw.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            raw.close()
            self.close_connection = True
        elif path == "/silent":
            time.sleep(20)
            self._send(200, b"too late")
        else:
            self._send(404)


class TlsService:
    def __init__(self, certificates, port=8443, trusted=True):
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", port), _Handler)
        self.server.daemon_threads = True
        self.server.requests = []
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        # trusted: True (the test CA's certificate for this host), False (a
        # self-signed one), "other-host" or "expired" (the test CA's, but unfit).
        chain = {True: ("server.pem", "server.key"), False: ("stranger.pem", "stranger.key"),
                 "other-host": ("other.pem", "other.key"), "expired": ("expired.pem", "server.key")}[trusted]
        context.load_cert_chain(certificates[chain[0]], certificates[chain[1]])
        self.server.socket = context.wrap_socket(self.server.socket, server_side=True)
        self.port = port
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    @property
    def requests(self):
        return self.server.requests

    def url(self, path):
        return f"https://localhost:{self.port}{path}"

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class MuteListener:
    """Accepts TCP connections (the kernel does) and never says a word: no TLS
    handshake, no reply."""

    def __init__(self, port):
        self.socket = socket.socket()
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.socket.bind(("127.0.0.1", port))
        self.socket.listen(64)
        self.port = port

    def close(self):
        self.socket.close()
