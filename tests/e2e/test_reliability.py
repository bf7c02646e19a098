"""The running program under load and abuse: remote services that fail in
every way, clients that hold connections or trickle their headers, storms of
sound gifts. Nothing may be lost, crash or stall the other gifts."""

import json
import socket
import threading
import time

import pytest

import harness
from conftest import start_serving
from tls_service import MuteListener, TlsService

KEY_REPLY = '{"message": "Key pressed successfully"}'
FAILING = {
    # gift: (remote, what the reply says after "Webhook call failed: ")
    "Refused": ("https://localhost:8450/x", "no response"),
    "Mute": ("https://localhost:8451/x", "no response"),
    "Stall": (":/stall-after-headers", "no response"),
    "Reset": (":/reset-mid-body", "no response"),
    "Huge": (":/huge", "no response"),
    "Loop": (":/loop", "too many redirects"),
    "Expired": ("https://localhost:8452/ok", "no response"),
    "Other host": ("https://localhost:8453/ok", "no response"),
}


@pytest.fixture(scope="module")
def remotes(certificates):
    services = [MuteListener(8451), TlsService(certificates, port=8452, trusted="expired"),
                TlsService(certificates, port=8453, trusted="other-host")]
    yield
    for service in services:
        service.close()


@pytest.fixture(scope="module")
def serving(tmp_path_factory, tls_service, trust_env, mp3s, remotes):
    gifts = {"Rose": {"action": "key", "target": "g"},
             "Song": {"action": "sound", "target": "x", "sound": "sounds/long.mp3"}}
    for name, (target, _) in FAILING.items():
        url = tls_service.url(target[1:]) if target.startswith(":") else target
        gifts[name] = {"action": "webhook", "target": url}
    program = start_serving(str(tmp_path_factory.mktemp("reliability")), {"token": "t", "gifts": gifts},
                            env=trust_env, files={"sounds/long.mp3": mp3s["long"]})
    yield program
    program.stop()


@pytest.mark.parametrize("gift", list(FAILING))
def test_failing_remote_is_an_error_reply_and_a_console_line(serving, gift):
    line = "Erreur requete HTTP: 302 (trop de redirections)" if gift == "Loop" else "Erreur requete HTTP: 0"
    failures = serving.lines.count(line)
    reply = json.loads(harness.post_gift(gift, timeout=60))
    assert list(reply) == ["error"], reply
    assert reply["error"].startswith("Webhook call failed: " + FAILING[gift][1]), reply
    serving.wait_for_count(line, failures + 1)


def test_key_gift_is_answered_while_a_call_stalls(serving):
    stalled = []
    call = threading.Thread(target=lambda: stalled.append(harness.post_gift("Stall", timeout=60)))
    call.start()
    time.sleep(0.5)
    assert harness.post_gift("Rose") == KEY_REPLY
    # The stalled call was still waiting when the key gift was answered.
    assert call.is_alive()
    call.join(timeout=30)
    assert stalled and json.loads(stalled[0])["error"].startswith("Webhook call failed")


def _hold(count, first_bytes=b""):
    held = []
    for _ in range(count):
        s = socket.create_connection(("127.0.0.1", harness.PORT), timeout=10)
        if first_bytes:
            s.sendall(first_bytes)
        held.append(s)
    return held


def test_idle_and_trickling_connections_do_not_keep_gifts_waiting(serving):
    pid = harness.program_pid(serving)
    threads_before = harness.thread_count(pid)

    idle = _hold(100)
    assert harness.post_gift("Rose") == KEY_REPLY

    # One byte of a request line per connection, then one more every half second.
    line = b"POST /webhook?giftName=Rose HTTP/1.1\r\nHost: x\r\nX-Slow: " + b"a" * 100
    trickling = _hold(100, line[:1])
    stop = threading.Event()

    def trickle():
        for i in range(1, len(line)):
            if stop.wait(0.5):
                return
            for s in trickling:
                try:
                    s.sendall(line[i:i + 1])
                except OSError:
                    pass

    feeder = threading.Thread(target=trickle)
    feeder.start()
    try:
        time.sleep(1.5)
        for _ in range(5):
            assert harness.post_gift("Rose") == KEY_REPLY
    finally:
        stop.set()
        feeder.join()
        for s in idle + trickling:
            s.close()

    # Once they are gone, the workers they held end again.
    assert harness.threads_fall_to(pid, threads_before + 2, timeout=30) <= threads_before + 2
    assert harness.post_gift("Rose") == KEY_REPLY


def test_oversized_heads_and_bad_bytes_get_clean_answers(serving):
    status, _, _ = harness.request("POST", "/webhook?giftName=Rose", headers={"X-Big": "a" * 20000})
    assert status in (400, 431), status
    status, _, _ = harness.request("POST", "/webhook?giftName=" + "R" * 20000)
    assert status in (400, 414), status
    # Bytes that are not UTF-8, in the name and in a JSON body.
    status, _, body = harness.request("POST", "/webhook?giftName=%FF%FE")
    assert (status, body) == (200, '{"message": "Gift not configured"}')
    status, _, body = harness.request("POST", "/webhook", b'{"giftName": "\xff"}', {"Content-Type": "application/json"})
    assert status == 200 and list(json.loads(body)) == ["error"], body
    # Nested 30,000 deep, on a worker thread with its smaller stack.
    for deep in (b"[" * 60000, b"[" * 30000 + b"]" * 30000):
        status, _, body = harness.request("POST", "/webhook", deep, {"Content-Type": "application/json"})
        assert status == 200 and list(json.loads(body)) == ["error"], body
    assert harness.post_gift("Rose") == KEY_REPLY


def test_requests_sent_together_on_one_connection_are_all_answered(serving):
    def gift(name):
        body = f"giftName={name}".encode()
        return (b"POST /webhook HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                b"Content-Length: %d\r\n\r\n%s" % (len(body), body))

    received = serving.lines.count("Cadeau recu: Rose")
    with socket.create_connection(("127.0.0.1", harness.PORT), timeout=10) as connection:
        connection.sendall(gift("Nobody") + gift("Rose") + gift("Nobody"))
        replies = b""
        while replies.count(b"}") < 3:
            chunk = connection.recv(4096)
            if not chunk:
                break
            replies += chunk
    bodies = [part.split(b"}")[0] for part in replies.split(b"\r\n\r\n")[1:]]
    assert bodies == [b'{"message": "Gift not configured"', b'{"message": "Key pressed successfully"',
                      b'{"message": "Gift not configured"'], replies
    serving.wait_for_count("Cadeau recu: Rose", received + 1)


def _sound_outcomes(program):
    """Sounds started, and sounds MCI refused (each told on the console)."""
    started = program.lines.count("Lecture audio: sounds/long.mp3 (volume: 100%)")
    refused = sum(1 for line in program.lines if line.startswith(("Erreur ouverture audio", "Erreur lecture audio")))
    return started + refused


def test_storm_of_sound_gifts_closes_every_device(serving):
    pid = harness.program_pid(serving)
    harness.post_gift("Song")
    time.sleep(11)  # its device closed, its sound thread gone
    threads_before = harness.thread_count(pid)
    outcomes_before = _sound_outcomes(serving)
    replies = []

    def send():
        for _ in range(10):
            replies.append(harness.post_gift("Song", timeout=60))
            time.sleep(0.1)

    senders = [threading.Thread(target=send) for _ in range(30)]
    for sender in senders:
        sender.start()
    for sender in senders:
        sender.join()
    assert replies == ['{"error": "Unknown action type"}'] * 300
    # Every sound starts or is told to have failed; under wine, opening a
    # device takes a quarter second, so the last ones start a minute later.
    deadline = time.monotonic() + (240 if harness.under_wine() else 30)
    while _sound_outcomes(serving) < outcomes_before + 300 and time.monotonic() < deadline:
        time.sleep(0.5)
    assert _sound_outcomes(serving) == outcomes_before + 300
    # Ten seconds after the last one started, every device is closed and the
    # threads that played them are gone.
    slack = 2
    assert harness.threads_fall_to(pid, threads_before + slack, timeout=40) <= threads_before + slack
