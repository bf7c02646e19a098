"""Hearing what the program plays: a PulseAudio server with a null sink,
whose monitor is recorded while gifts arrive, and the recording measured in
windows of 50 ms."""

import array
import math
import os
import subprocess
import tempfile
import time
import wave

SINK = "koravel_e2e"
RATE = 44100
WINDOW = int(RATE * 0.05)


def start_pulseaudio(runtime_dir):
    """A private PulseAudio server whose default sink plays into nothing;
    programs started afterwards find it through PULSE_SERVER."""
    subprocess.run(["pulseaudio", "-D", "--exit-idle-time=-1", "-n", f"--load=module-null-sink sink_name={SINK} rate={RATE}",
                    "--load=module-native-protocol-unix"], env=dict(os.environ, XDG_RUNTIME_DIR=runtime_dir),
                   check=True, capture_output=True, timeout=30)
    os.environ["PULSE_SERVER"] = "unix:" + os.path.join(runtime_dir, "pulse", "native")
    for _ in range(100):
        if subprocess.run(["pactl", "set-default-sink", SINK], capture_output=True).returncode == 0:
            return
        time.sleep(0.1)
    raise RuntimeError("PulseAudio did not start")


def stop_pulseaudio(runtime_dir):
    subprocess.run(["pulseaudio", "--kill"], env=dict(os.environ, XDG_RUNTIME_DIR=runtime_dir), capture_output=True)


class Recording:
    """What the sink played while the `with` block ran, then for `seconds` more."""

    def __init__(self, seconds):
        self.seconds = seconds
        # A file of this run's own: the suites of other builds may be recording too.
        descriptor, self.path = tempfile.mkstemp(prefix="koravel-e2e-sound-", suffix=".wav")
        os.close(descriptor)
        self.process = subprocess.Popen(["parecord", f"--device={SINK}.monitor", "--file-format=wav", f"--rate={RATE}",
                                         "--channels=1", "--format=s16le", "--latency-msec=20", self.path])
        # Recording has begun once 0.3 s of samples reached the file.
        deadline = time.monotonic() + 15
        while os.path.getsize(self.path) < 44 + RATE * 0.6:
            assert time.monotonic() < deadline and self.process.poll() is None, "parecord records nothing"
            time.sleep(0.05)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        time.sleep(self.seconds)
        self.process.terminate()
        self.process.wait(timeout=10)
        with wave.open(self.path, "rb") as w:
            self.samples = array.array("h", w.readframes(w.getnframes()))
        os.remove(self.path)
        self.levels = [math.sqrt(sum(x * x for x in self.samples[i:i + WINDOW]) / WINDOW) / 32768
                       for i in range(0, len(self.samples) - WINDOW + 1, WINDOW)]

    def audible(self):
        """(first, last) second of the windows that are not silent, or None."""
        loud = [i for i, level in enumerate(self.levels) if level > 0.01]
        return (loud[0] * 0.05, (loud[-1] + 1) * 0.05) if loud else None

    def audible_seconds(self):
        span = self.audible()
        return span[1] - span[0] if span else 0.0

    def level(self):
        """The loudness of the steady part: the median of the audible windows."""
        loud = sorted(level for level in self.levels if level > 0.01)
        return loud[len(loud) // 2] if loud else 0.0

    def strength(self, frequency, at):
        """How strongly the frequency sounds in the 0.2 s from `at` (Goertzel), against full scale."""
        chunk = self.samples[int(at * RATE):int((at + 0.2) * RATE)]
        k = 2 * math.cos(2 * math.pi * frequency / RATE)
        s1 = s2 = 0.0
        for x in chunk:
            s1, s2 = x + k * s1 - s2, s1
        return math.sqrt(max(s1 * s1 + s2 * s2 - k * s1 * s2, 0.0)) / max(len(chunk), 1) / 16384
