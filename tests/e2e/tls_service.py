"""A stand-in for the web services that webhook gifts call: HTTPS on the
loopback, with a certificate signed by a test CA made for the run."""

import http.server
import os
import ssl
import subprocess
import threading
import time


def make_certificates(folder):
    """A test CA, and a certificate for localhost and 127.0.0.1 signed by it."""
    def run(*args):
        subprocess.run(args, cwd=folder, check=True, capture_output=True)

    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Koravel E2E Test CA",
        "-keyout", "ca.key", "-out", "ca.pem")
    run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout", "server.key",
        "-out", "server.csr")
    with open(os.path.join(folder, "ext.cnf"), "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
    run("openssl", "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
        "-days", "2", "-extfile", "ext.cnf", "-out", "server.pem")
    # A certificate that no trusted CA signed.
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=localhost",
        "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout", "stranger.key", "-out", "stranger.pem")
    names = ("ca.pem", "server.pem", "server.key", "stranger.pem", "stranger.key")
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
        if trusted:
            context.load_cert_chain(certificates["server.pem"], certificates["server.key"])
        else:
            context.load_cert_chain(certificates["stranger.pem"], certificates["stranger.key"])
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
