"""Reliability figures of the running program; printed, not judged, except
that a lost, doubled or wrong reply makes the run fail.

  bench/reliability.sh [PROGRAM] [load] [slow] [trickle] [remotes] [storm]

Under wine (storm and slow; the remotes need the test CA in wine's store):
  WINEPREFIX=... KORAVEL_WINE=1 KORAVEL_PROGRAM="wine build/windows/koravel-key-webhook.exe" \
    unshare --net sh -c 'ip link set lo up && python3 -m bench.reliability storm slow'

- load: 20,000 key gifts over 256 keep-alive connections; replies, console
  lines, resident memory before the second half and after the run;
- slow: how long a gift waits while 100 connections are held idle, or send
  their request one byte a second, and how long the workers take to go;
- trickle: 1,000 connections from another machine's address (127.0.0.2) that
  send one header byte every 2 s: how many the program holds, how long a
  gift from 127.0.0.1 waits meanwhile (under 1 s, or the run fails), memory;
- remotes: how long each kind of failing remote service holds its gift, how
  long a key gift waits meanwhile, and memory over many failed calls;
- storm: 300 sound gifts within 3 s: threads before, at the peak and after;
  sounds that could not start within 2 s of their gift are dropped, and
  counted on the console.
"""

import http.client
import json
import os
import resource
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from bench import measure
from bench.failing_services import MuteListener, TlsService, make_certificates
from tests.e2e import harness

KEY_REPLY = '{"message": "Key pressed successfully"}'
failures = []



def timed_gift(name, timeout=60):
    started = time.perf_counter()
    body = harness.post_gift(name, timeout=timeout)
    return time.perf_counter() - started, body


def ms(seconds):
    return "%.1f ms" % (seconds * 1e3)


# Presses of one key take turns, 30 ms apart: the load spreads its gifts over
# every key the program knows, one gift each, so that it measures the server
# rather than one key's queue.
LOAD_KEYS = ([chr(c) for c in range(ord("a"), ord("z") + 1)] + [str(d) for d in range(10)]
             + [f"f{n}" for n in range(1, 25)] + [f"numpad{n}" for n in range(10)]
             + ["space", "enter", "tab", "escape", "backspace", "delete", "insert", "home", "end", "pageup",
                "pagedown", "up", "down", "left", "right"])


def load(program, pid):
    total, connections = 20000, 256
    replies = {"right": 0, "wrong": 0, "errors": 0}
    lock = threading.Lock()
    mid = {}
    done = [0]

    def client(number, count):
        connection = http.client.HTTPConnection("127.0.0.1", harness.PORT, timeout=60)
        body = json.dumps({"giftName": f"Load {LOAD_KEYS[number % len(LOAD_KEYS)]}"})
        for _ in range(count):
            try:
                connection.request("POST", "/webhook", body, {"Content-Type": "application/json"})
                response = connection.getresponse()
                text = response.read().decode()
                right = response.status == 200 and text == KEY_REPLY
                key = "right" if right else "wrong"
            except (OSError, http.client.HTTPException):
                key = "errors"
                connection.close()
                connection = http.client.HTTPConnection("127.0.0.1", harness.PORT, timeout=60)
            with lock:
                replies[key] += 1
                done[0] += 1
                if done[0] == total // 2:
                    mid["rss"] = measure.resident_kib(pid)
        connection.close()

    def received():
        return sum(1 for line in program.lines if line.startswith("Cadeau recu: Load "))

    lines_before = received()
    before = measure.resident_kib(pid)
    shares = [total // connections + (1 if i < total % connections else 0) for i in range(connections)]
    threads = [threading.Thread(target=client, args=(i, n)) for i, n in enumerate(shares)]
    started = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    took = time.perf_counter() - started
    deadline = time.monotonic() + 30
    while received() < lines_before + total and time.monotonic() < deadline:
        time.sleep(0.1)
    time.sleep(1)
    after = measure.resident_kib(pid)
    lines = received() - lines_before
    print(f"load: {total} gifts over {connections} connections in {took:.1f} s ({total / took:.0f}/s): "
          f"{replies['right']} right, {replies['wrong']} wrong, {replies['errors']} transport errors; "
          f"{lines} 'Cadeau recu' lines")
    print(f"load: resident memory {before} KiB before, {mid['rss']} KiB at the half, {after} KiB after "
          f"({after - mid['rss']:+d} KiB over the second half)")
    if replies["right"] != total or lines != total:
        failures.append("load: lost, doubled or wrong replies")


def gift_waits(count=20):
    waits = [timed_gift("Rose")[0] for _ in range(count)]
    return "median %s, max %s" % (ms(statistics.median(waits)), ms(max(waits)))


def threads_back(pid, limit, timeout=60):
    started = time.monotonic()
    measure.threads_fall_to(pid, limit, timeout)
    return time.monotonic() - started


def slow(program, pid):
    time.sleep(4)
    base = measure.thread_count(pid)
    print(f"slow: {base} threads at rest; a gift alone: {gift_waits()}")

    held = [socket.create_connection(("127.0.0.1", harness.PORT)) for _ in range(100)]
    time.sleep(0.5)
    print(f"slow: 100 idle connections held: a gift waits {gift_waits()}; {measure.thread_count(pid)} threads")
    for s in held:
        s.close()
    print(f"slow: workers back to {base + 1} threads {threads_back(pid, base + 1):.1f} s after the idle ones left")

    line = b"POST /webhook?giftName=Rose HTTP/1.1\r\nHost: x\r\nX-Slow: " + b"a" * 100
    held = [socket.create_connection(("127.0.0.1", harness.PORT)) for _ in range(100)]
    stop = threading.Event()

    def trickle():
        for i in range(len(line)):
            for s in held:
                try:
                    s.sendall(line[i:i + 1])
                except OSError:
                    pass
            if stop.wait(1.0):
                return

    feeder = threading.Thread(target=trickle)
    feeder.start()
    time.sleep(3)
    print(f"slow: 100 connections sending one byte a second: a gift waits {gift_waits()}; "
          f"{measure.thread_count(pid)} threads")
    stop.set()
    feeder.join()
    for s in held:
        s.close()
    print(f"slow: workers back to {base + 1} threads {threads_back(pid, base + 1):.1f} s after the trickling ones left")


def trickle(program, pid):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, 4096)), hard))
    before = measure.resident_kib(pid)
    held = []
    for _ in range(1000):
        s = socket.socket()
        s.bind(("127.0.0.2", 0))
        s.connect(("127.0.0.1", harness.PORT))  # taken into the backlog even when the program closes it at once
        held.append(s)
    stop, open_counts, peak = threading.Event(), [], [before]

    def feed():
        while not stop.is_set():
            still = 0
            for s in held:
                try:
                    s.sendall(b"P")
                    still += 1
                except OSError:
                    pass
            open_counts.append(still)
            peak[0] = max(peak[0], measure.resident_kib(pid))
            stop.wait(2.0)

    feeder = threading.Thread(target=feed)
    feeder.start()
    time.sleep(1)
    waits = [timed_gift("Rose")[0] for _ in range(20)]
    stop.wait(14)  # past the 10 s deadline of the requests held
    stop.set()
    feeder.join()
    for s in held:
        s.close()
    print(f"trickle: 1000 connections from 127.0.0.2, a header byte every 2 s: writable each round "
          f"{open_counts} (the program closes those beyond 64 at once, the rest at the 10 s request deadline); "
          f"a gift from 127.0.0.1 waits median {ms(statistics.median(waits))}, max {ms(max(waits))}; "
          f"resident memory {before} KiB before, {peak[0]} KiB at the peak")
    if max(waits) >= 1:
        failures.append("trickle: a gift from the relay waited 1 s or more")


def remotes(program, pid, service):
    kinds = ["Refused", "Mute", "Stall", "Reset", "Huge", "Loop", "Expired", "Other host"]
    for kind in kinds:
        took, body = timed_gift(kind)
        ok = json.loads(body).get("error", "").startswith("Webhook call failed")
        print(f"remotes: {kind:<10} answered in {took:5.2f} s: {body}")
        if not ok:
            failures.append(f"remotes: {kind} was not an error reply")

    waits = []
    call = threading.Thread(target=lambda: timed_gift("Stall"))
    call.start()
    time.sleep(0.5)
    for _ in range(10):
        waits.append(timed_gift("Rose")[0])
    call.join()
    print(f"remotes: key gifts during a stalled call: median {ms(statistics.median(waits))}, max {ms(max(waits))}")

    sizes = [measure.resident_kib(pid)]
    for _ in range(6):
        threads = [threading.Thread(target=timed_gift, args=(kind,)) for kind in kinds for _ in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        sizes.append(measure.resident_kib(pid))
    print("remotes: resident memory before and after each of 6 rounds of 32 failing calls at once: "
          + ", ".join(f"{size} KiB" for size in sizes))


def refusals(program):
    return sum(1 for line in program.lines if line.startswith(("Erreur ouverture audio", "Erreur lecture audio")))


def too_late(program):
    return sum(int(line.rsplit(" ", 1)[1]) for line in program.lines if line.startswith("Sons non joues "))


def storm(program, pid):
    timed_gift("Song")
    time.sleep(11)
    base = measure.thread_count(pid)
    started_lines = program.lines.count("Lecture audio: sounds/tone.mp3 (volume: 100%)")
    refused_lines = refusals(program)
    peak = [base]

    def send():
        for _ in range(10):
            harness.post_gift("Song")
            peak[0] = max(peak[0], measure.thread_count(pid))
            time.sleep(0.1)

    started = time.monotonic()
    senders = [threading.Thread(target=send) for _ in range(30)]
    for s in senders:
        s.start()
    for s in senders:
        s.join()
    sent = time.monotonic() - started
    playing = started_lines
    refused = late = 0
    late_before = too_late(program)
    while playing + refused + late < started_lines + 300 and time.monotonic() - started < 300:
        peak[0] = max(peak[0], measure.thread_count(pid))
        time.sleep(0.2)
        playing = program.lines.count("Lecture audio: sounds/tone.mp3 (volume: 100%)")
        refused = refusals(program) - refused_lines
        late = too_late(program) - late_before
    all_started = time.monotonic() - started
    back = threads_back(pid, base + 1, timeout=120)
    print(f"storm: 300 sound gifts answered in {sent:.1f} s; {playing - started_lines} sounds started, "
          f"{late} too late to start within 2 s and {refused} refused (told on the console), the last "
          f"{all_started:.1f} s after the first gift; threads {base} before, {peak[0]} at the peak, back to "
          f"{measure.thread_count(pid)} {back:.1f} s after that")
    if playing + refused + late != started_lines + 300:
        failures.append("storm: sounds were lost")


def main():
    wanted = sys.argv[1:] or ["load", "slow", "trickle", "remotes", "storm"]
    folder = tempfile.mkdtemp(prefix="koravel-reliability-")
    certificates = make_certificates(tempfile.mkdtemp(prefix="koravel-reliability-tls-"))
    service = TlsService(certificates)
    others = [MuteListener(8451), TlsService(certificates, port=8452, trusted="expired"),
              TlsService(certificates, port=8453, trusted="other-host")]
    # A 20-second tone, so that every sound still plays when its device is closed.
    os.makedirs(os.path.join(folder, "sounds"))
    wav = os.path.join(folder, "tone.wav")
    subprocess.run(["sox", "-n", "-r", "22050", "-c", "1", wav, "synth", "20", "sine", "440"], check=True)
    subprocess.run(["lame", "--quiet", wav, os.path.join(folder, "sounds", "tone.mp3")], check=True)
    gifts = {f"Load {key}": {"action": "key", "target": key} for key in LOAD_KEYS}
    gifts |= {"Rose": {"action": "key", "target": "g"},
              "Song": {"action": "sound", "target": "x", "sound": "sounds/tone.mp3"},
              "Refused": {"action": "webhook", "target": "https://localhost:8450/x"},
              "Mute": {"action": "webhook", "target": "https://localhost:8451/x"},
              "Expired": {"action": "webhook", "target": "https://localhost:8452/ok"},
              "Other host": {"action": "webhook", "target": "https://localhost:8453/ok"}}
    for name, path in (("Stall", "/stall-after-headers"), ("Reset", "/reset-mid-body"), ("Huge", "/huge"),
                       ("Loop", "/loop")):
        gifts[name] = {"action": "webhook", "target": service.url(path)}
    harness.write_config(folder, {"token": "t", "gifts": gifts})
    display = measure.virtual_display_for_keys()
    program = harness.Program(folder, env={"SSL_CERT_FILE": certificates["ca.pem"]})
    print(f"program: {harness.program_command()}")
    try:
        program.wait_until_serving()
        pid = measure.program_pid(program)
        for part in wanted:
            {"load": lambda: load(program, pid), "slow": lambda: slow(program, pid),
             "trickle": lambda: trickle(program, pid),
             "remotes": lambda: remotes(program, pid, service), "storm": lambda: storm(program, pid)}[part]()
    finally:
        program.stop()
        service.close()
        for other in others:
            other.close()
        if display:
            display.kill()
    if failures:
        print("FAILED: " + "; ".join(failures))
        sys.exit(1)


if __name__ == "__main__":
    main()
