"""How soon a gift's sound is heard, measured on the sound server itself; printed, not judged.

  bench/sounds.sh [--wine] [--trials N]

Everything plays into a PulseAudio null sink of the run's own, whose monitor is read as it plays: a sample's time is
the time its block of the monitor arrived, less the samples after it, on a clock fitted to the earliest block (the
monitor runs on the sink's clock, steadily, silence included). Both figures below go through the same monitor, so its
delay cancels in their difference.

- floor: a plain player, paplay, started on the sink with the same WAV file: from its start to the first audible
  sample. It is what any program that plays a file on that sink pays at least.
- program: from the gift's request sent (a sound-only gift, new connection) to the first audible sample, for the WAV
  and for an MP3 made from it with lame, whose header frame and encoder's delay must not be heard. The first sound of
  each file is decoded; the others come from what the program keeps.
- quiet: the program's wake-ups a second, idle, right after its start and once its output has closed after a quiet
  spell (60 s without a sound); then the first sound after that spell, which opens the output again.
- burst: 50 sound gifts at once; at most 8 sounds play at once and the others are skipped. When each "Lecture audio"
  line came, against the burst's start: an upper bound of each sound's delay after its gift.
- memory: the program's resident size idle, and after the sounds above.
"""

import argparse
import os
import statistics
import subprocess
import tempfile
import threading
import time

from bench import measure
from tests.e2e import audio, harness

RATE = audio.RATE
THRESHOLD = 0.02 * 32768  # a sample louder than this is heard


class Monitor:
    """Reads the sink's monitor as it plays, and tells when a sound was first heard after a given time."""

    def __init__(self, sink):
        self.samples = bytearray()
        self.offset = None  # perf_counter time of sample 0, from the least delayed block
        self.lock = threading.Lock()
        self.process = subprocess.Popen(["parec", f"--device={sink}.monitor", "--raw", "--format=s16le",
                                         "--channels=1", f"--rate={RATE}", "--latency-msec=5"],
                                        stdout=subprocess.PIPE, bufsize=0)
        threading.Thread(target=self._read, daemon=True).start()
        harness.wait_until(lambda: len(self.samples) > RATE)  # a second of the sink's clock

    def _read(self):
        while chunk := self.process.stdout.read(4096):
            arrived = time.perf_counter()
            with self.lock:
                self.samples += chunk
                start = arrived - (len(self.samples) // 2) / RATE
                self.offset = start if self.offset is None else min(self.offset, start)

    def heard_after(self, since, timeout=5.0):
        """Seconds from `since` (a perf_counter time) to the first loud sample after it; None if none came."""
        deadline = time.perf_counter() + timeout
        with self.lock:
            looked = max(0, int((since - self.offset) * RATE))
        while time.perf_counter() < deadline:
            with self.lock:
                view = memoryview(self.samples)[looked * 2:len(self.samples) - len(self.samples) % 2].cast("h")
                loud = next((i for i, value in enumerate(view) if abs(value) > THRESHOLD), None)
                looked += len(view) if loud is None else 0
                view.release()
                if loud is not None:
                    return max(0.0, self.offset + (looked + loud) / RATE - since)
            time.sleep(0.01)
        return None

    def quiet(self, seconds=0.3):
        """Waits until the sink has been silent for `seconds`."""
        need = int(seconds * RATE)
        harness.wait_until(lambda: self._silent_tail(need), timeout=20)

    def _silent_tail(self, need):
        with self.lock:
            end = len(self.samples) - len(self.samples) % 2
            if end < need * 2:
                return False
            tail = memoryview(self.samples)[end - need * 2:end].cast("h")
            silent = all(abs(v) <= THRESHOLD for v in tail)
            tail.release()
        return silent

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)


def make_tone(path, seconds):
    """A tone loud from its first sample, so that its start is sharp."""
    subprocess.run(["sox", "-n", "-r", str(RATE), "-c", "2", "-b", "16", path, "synth", str(seconds), "square", "1000",
                    "vol", "0.5"], check=True)


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(p / 100 * len(ordered)))]


def summary(values):
    ms = [v * 1e3 for v in values]
    return (f"p50 {statistics.median(ms):6.1f} ms   p90 {percentile(ms, 90):6.1f} ms   "
            f"min {min(ms):6.1f} ms   max {max(ms):6.1f} ms   ({len(ms)} sounds)")


def floor(monitor, sink, wav, trials):
    times = []
    for _ in range(trials):
        monitor.quiet()
        sent = time.perf_counter()
        player = subprocess.Popen(["paplay", f"--device={sink}", wav])
        heard = monitor.heard_after(sent)
        player.wait(timeout=10)
        if heard is not None:
            times.append(heard)
    return times


def program_latency(monitor, name, trials):
    first, times = None, []
    for trial in range(trials):
        monitor.quiet()
        sent = time.perf_counter()
        reply = harness.post_gift(name)
        assert reply == '{"message": "Sound played"}', reply
        heard = monitor.heard_after(sent)
        if heard is None:
            continue
        if trial == 0:
            first = heard
        else:
            times.append(heard)
    return first, times


def burst(program, monitor, count=50):
    monitor.quiet()
    program.mark()
    started = time.perf_counter()
    seen, stop = [], threading.Event()

    def watch():  # when each line came
        known = 0
        while not stop.is_set():
            lines = program.since_mark()
            for line in lines[known:]:
                seen.append((time.perf_counter() - started, line))
            known = len(lines)
            time.sleep(0.001)

    watcher = threading.Thread(target=watch)
    watcher.start()
    replies = []
    senders = [threading.Thread(target=lambda n=n: replies.append(harness.post_gift(f"Burst {n}")))
               for n in range(count)]
    for s in senders:
        s.start()
    for s in senders:
        s.join()
    answered = time.perf_counter() - started
    time.sleep(3)
    stop.set()
    watcher.join()
    starts = [t for t, line in seen if line.startswith("Lecture audio: sounds/burst.wav")]
    skipped = [line for _, line in seen if line.startswith("Sons non joues")]
    return answered, starts, skipped, replies


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--trials", type=int, default=30)
    args = parser.parse_args()

    pulse = tempfile.mkdtemp(prefix="koravel-bench-pulse-")
    # The run's own server, whatever other one this machine runs: the program, the player and the monitor all go to it.
    os.environ["PULSE_SERVER"] = audio.start_pulseaudio(pulse)
    folder = tempfile.mkdtemp(prefix="koravel-bench-sounds-")
    os.makedirs(os.path.join(folder, "sounds"))
    tone, short = os.path.join(folder, "sounds", "tone.wav"), os.path.join(folder, "sounds", "burst.wav")
    make_tone(tone, 0.2)
    make_tone(short, 0.5)
    subprocess.run(["lame", "--quiet", tone, os.path.join(folder, "sounds", "tone.mp3")], check=True)
    gifts = {"Tone": {"action": "sound", "sound": "sounds/tone.wav"}, "Tone MP3": {"action": "sound", "sound": "sounds/tone.mp3"}}
    gifts |= {f"Burst {n}": {"action": "sound", "target": "", "sound": "sounds/burst.wav"} for n in range(50)}
    harness.write_config(folder, {"token": "t", "gifts": gifts})
    monitor = Monitor(audio.SINK)
    program = None
    try:
        floor_times = floor(monitor, audio.SINK, tone, args.trials)
        program = harness.Program(folder)
        program.wait_until_serving()
        pid = measure.program_pid(program)
        time.sleep(2)
        idle, started_wakeups = measure.resident_kib(pid), measure.wakeups_per_second(pid)
        first, times = program_latency(monitor, "Tone", args.trials + 1)
        first_mp3, mp3_times = program_latency(monitor, "Tone MP3", args.trials + 1)
        answered, starts, skipped, replies = burst(program, monitor)
        after = measure.resident_kib(pid)
        time.sleep(65)  # the quiet spell, after which the output closes
        quiet_wakeups = measure.wakeups_per_second(pid)
        after_quiet, _ = program_latency(monitor, "Tone", 1)
        print(f"program: {harness.program_command()}")
        print(f"floor, paplay started -> first audible sample:       {summary(floor_times)}")
        print(f"program, request sent -> first audible sample, WAV:  {summary(times)}")
        print(f"                                                MP3: {summary(mp3_times)}")
        for what, seconds in (("the first WAV, decoded then", first), ("the first MP3, decoded then", first_mp3),
                              ("the first sound after the quiet spell, the output opened again", after_quiet)):
            if seconds is not None:
                print(f"  {what}: {seconds * 1e3:.1f} ms")
        difference = statistics.median(times) - statistics.median(floor_times)
        print(f"program p50 - floor p50:                             {difference * 1e3:+6.1f} ms")
        print(f"MP3 p50 - WAV p50:                                   {(statistics.median(mp3_times) - statistics.median(times)) * 1e3:+6.1f} ms")
        print(f"wake-ups a second, idle: just started {started_wakeups:.1f}; after the quiet spell {quiet_wakeups:.1f}")
        late = max(starts) if starts else float("nan")
        print(f"burst of 50 sound gifts: answered in {answered * 1e3:.0f} ms, {len(starts)} sounds started, "
              f"the last {late * 1e3:.0f} ms after the burst began; skipped: {'; '.join(skipped) or 'none'}; "
              f"replies {sorted(set(replies))}")
        print(f"resident memory, idle: {idle / 1024:.1f} MiB; "
              f"after the sounds above: {after / 1024:.1f} MiB")
    finally:
        if program:
            program.stop()
        monitor.close()
        subprocess.run(["pulseaudio", "--kill"], env=dict(os.environ, XDG_RUNTIME_DIR=pulse))


if __name__ == "__main__":
    main()
