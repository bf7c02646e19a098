"""Gifts sent over real HTTP to the running program."""

import html
import http.client
import json
import socket
import subprocess
import sys
import threading
import time

import pytest

import harness
from conftest import start_serving


@pytest.fixture(scope="module")
def serving(tmp_path_factory, tls_service, trust_env, mp3s):
    """One program, for the whole module, serving gifts that cover every action."""
    program = start_serving(str(tmp_path_factory.mktemp("gifts")), {
        "token": "abc",
        "gifts": {
            "Rose": {"action": "key", "target": "g", "sound": "sounds/rose.mp3", "volume": 80},
            "TikTok": {"action": "key", "target": "space", "sound": "sounds/tiktok.mp3"},
            "Loud": {"action": "key", "target": "left", "sound": "sounds/rose.mp3", "volume": 150},
            "Bad key": {"action": "key", "target": "ctrl"},
            "Mystery": {"action": "sound", "target": "x"},
            "Caf\u00e9": {"action": "key", "target": "c"},
            "Win": {"action": "webhook", "target": tls_service.url("/ok?win=1&token=abc")},
            "Plain": {"action": "webhook", "target": "http://localhost:%d/ok" % tls_service.port},
            "Moved": {"action": "webhook", "target": tls_service.url("/moved")},
            "Gone": {"action": "webhook", "target": tls_service.url("/missing")},
            "Empty": {"action": "webhook", "target": tls_service.url("/created")},
            "Silent": {"action": "webhook", "target": tls_service.url("/silent")},
            "Stranger": {"action": "webhook", "target": "https://localhost:8444/ok"},
            "No path": {"action": "webhook", "target": "https://localhost"},
        },
    }, env=trust_env, files={"sounds/rose.mp3": mp3s["low"]})
    yield program
    program.stop()


def test_key_gift_with_its_sound(serving):
    serving.mark()
    assert harness.post_gift("Rose") == '{"message": "Key pressed successfully"}'
    serving.wait_for_line("Touche 'g' pressee")
    assert serving.lines_since_mark() == [
        "Cadeau recu: Rose",
        "Lecture audio: sounds/rose.mp3 (volume: 80%)",
        "Touche 'g' pressee",
    ]


def test_named_key_missing_sound_and_loud_volume(serving):
    serving.mark()
    assert harness.post_gift("TikTok") == '{"message": "Key pressed successfully"}'
    serving.wait_for_line("Touche 'space' pressee")
    assert "Fichier audio non trouve : sounds/tiktok.mp3" in serving.lines_since_mark()
    # A volume MCI refuses does not stop the sound.
    assert harness.post_gift("Loud") == '{"message": "Key pressed successfully"}'
    serving.wait_for_line("Lecture audio: sounds/rose.mp3 (volume: 150%)")


def test_failures_are_told_in_the_reply(serving):
    serving.mark()
    assert harness.post_gift("Bad key") == '{"error":"Key not supported: ctrl"}'
    serving.wait_for_line("Touche non supportee: ctrl")
    assert harness.post_gift("Mystery") == '{"error": "Unknown action type"}'
    assert harness.post_gift("rose") == '{"message": "Gift not configured"}'
    serving.wait_for_line("Cadeau non configure: rose")


def test_utf8_gift_name_is_printed_as_utf8(serving):
    serving.mark()
    assert harness.post_gift("Caf\u00e9") == '{"message": "Key pressed successfully"}'
    serving.wait_for_line("Touche 'c' pressee")
    assert "Cadeau recu: Caf\u00e9".encode("utf-8") in serving.raw_output


def test_name_from_query_and_form(serving):
    serving.mark()
    status, _, body = harness.request("POST", "/webhook?giftName=Rose")
    assert (status, body) == (200, '{"message": "Key pressed successfully"}')
    status, _, body = harness.request("POST", "/webhook", b"giftName=Rose",
                                      {"Content-Type": "application/x-www-form-urlencoded"})
    assert (status, body) == (200, '{"message": "Key pressed successfully"}')


def test_untrusted_certificate_gets_no_response(serving, stranger_service):
    serving.mark()
    assert harness.post_gift("Stranger").startswith('{"error":"Webhook call failed: no response')
    serving.wait_for_line("Erreur requete HTTP: 0")


def test_webhook_gifts(serving, tls_service):
    serving.mark()
    url = tls_service.url("/ok?win=1&token=abc")
    assert json.loads(harness.post_gift("Win")) == {
        "message": "Webhook executed successfully", "response": "win added: /ok?win=1&token=abc"}
    serving.wait_for_line("Requete HTTP reussie: " + url)
    # http:// is still called over TLS, on the port the address names.
    assert json.loads(harness.post_gift("Plain"))["response"] == "win added: /ok"
    assert json.loads(harness.post_gift("Moved"))["response"] == "win added: /ok?after=redirect"
    assert harness.post_gift("Gone") == '{"error":"Webhook call failed: HTTP status 404"}'
    serving.wait_for_line("Erreur requete HTTP: 404")
    assert harness.post_gift("Empty") == '{"error":"Webhook call failed: HTTP status 204"}'
    serving.wait_for_line("Erreur requete HTTP: 204")
    assert harness.post_gift("No path") == '{"error":"Webhook call failed: invalid URL (no path)"}'
    serving.wait_for_line("URL invalide (pas de chemin): https://localhost")


def test_silent_service_is_given_up_and_the_program_keeps_serving(serving):
    serving.mark()
    replies = []
    failures_before = serving.lines.count("Erreur requete HTTP: 0")
    slow = threading.Thread(target=lambda: replies.append(harness.post_gift("Silent")))
    started = time.monotonic()
    slow.start()
    time.sleep(0.5)
    # Other gifts are served meanwhile.
    assert harness.post_gift("Rose") == '{"message": "Key pressed successfully"}'
    slow.join(timeout=30)
    waited = time.monotonic() - started
    assert len(replies) == 1 and replies[0].startswith('{"error":"Webhook call failed: no response'), replies
    serving.wait_for_count("Erreur requete HTTP: 0", failures_before + 1)
    # One read time-out of 5 s, not two.
    assert 4.5 < waited < 9, waited


def test_post_without_body_is_answered_at_once(serving):
    serving.mark()
    with socket.create_connection(("127.0.0.1", harness.PORT), timeout=3) as s:
        s.sendall(b"POST /webhook HTTP/1.1\r\nHost: localhost\r\n\r\n")
        answer = s.recv(4096)
    assert answer.startswith(b"HTTP/1.1 200")
    assert answer.endswith(b'{"error": "giftName parameter not found"}')


def test_preflight_and_unrouted(serving):
    serving.mark()
    status, headers, body = harness.request("OPTIONS", "/webhook")
    assert (status, body) == (200, "")
    assert headers["Access-Control-Allow-Origin"] == "*"
    assert headers["Access-Control-Allow-Methods"] == "POST, OPTIONS"
    assert headers["Access-Control-Allow-Headers"] == "Content-Type, X-Webhook-Secret"
    assert harness.request("GET", "/webhook?giftName=Rose")[0] == 404


def test_localhost_on_the_ipv6_loopback_is_served(serving):
    # Windows resolves localhost to ::1 first.
    connection = http.client.HTTPConnection("::1", harness.PORT, timeout=30)
    try:
        connection.request("POST", "/webhook?giftName=Rose")
        response = connection.getresponse()
        assert (response.status, response.read()) == (200, b'{"message": "Key pressed successfully"}')
    finally:
        connection.close()


PAGE = """<!doctype html><pre id="out"></pre><script>
const sent = [
  [{"Content-Type": "application/json"}, JSON.stringify({giftName: "Rose"}), ""],
  [{"Content-Type": "application/x-www-form-urlencoded"}, "giftName=Rose", ""],
  [{}, null, "?giftName=Rose"],
  [{"Content-Type": "application/json"}, JSON.stringify({giftName: "Nobody"}), ""],
];
(async () => {
  const replies = [];
  for (const [headers, body, query] of sent) {
    try {
      const r = await fetch("http://127.0.0.1:5000/webhook" + query, {method: "POST", headers, body});
      replies.push(r.status + " " + await r.text());
    } catch (e) {
      replies.push("refused: " + e.message);
    }
  }
  document.getElementById("out").textContent = JSON.stringify(replies);
})();
</script>"""


def test_a_relay_in_a_web_page_reads_every_reply(serving, tmp_path):
    """A relay running in a browser page, on another origin than the program."""
    (tmp_path / "relay.html").write_text(PAGE)
    page_server = subprocess.Popen(
        [sys.executable, "-m", "http.server", "8765", "--bind", "127.0.0.1"],
        cwd=tmp_path, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
    )
    try:
        harness.wait_for_port(port=8765)
        dom = subprocess.run(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + str(tmp_path / "profile"), "--virtual-time-budget=20000", "--dump-dom",
             "http://127.0.0.1:8765/relay.html"],
            capture_output=True, text=True, timeout=120,
        ).stdout
    finally:
        page_server.terminate()
        page_server.wait()
    replies = json.loads(html.unescape(dom.split('<pre id="out">')[1].split("</pre>")[0]))
    pressed = '200 {"message": "Key pressed successfully"}'
    assert replies == [pressed, pressed, pressed, '200 {"message": "Gift not configured"}']


def test_oversized_request_is_refused(serving):
    serving.mark()
    body = json.dumps({"giftName": "Rose", "pad": "x" * (100 * 1024)}).encode()
    before = len(serving.lines)
    status, _, _ = harness.request("POST", "/webhook", body, {"Content-Type": "application/json"})
    assert status == 413
    time.sleep(0.3)
    assert serving.lines[before:] == []


def test_burst_of_gifts_loses_none(serving):
    serving.mark()
    count = 40
    pressed_before = serving.lines.count("Touche 'g' pressee")
    replies = []
    lock = threading.Lock()
    barrier = threading.Barrier(count)

    def send():
        barrier.wait()
        reply = harness.post_gift("Rose", timeout=60)
        with lock:
            replies.append(reply)

    threads = [threading.Thread(target=send) for _ in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=90)
    assert replies == ['{"message": "Key pressed successfully"}'] * count
    serving.wait_for_count("Touche 'g' pressee", pressed_before + count)
