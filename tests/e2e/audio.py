"""Hearing what the program plays: a PulseAudio server with a null sink, whose
monitor is recorded while gifts arrive, and the recording measured."""

import math
import os
import struct
import subprocess
import time
import wave

SINK = "koravel_e2e"
RATE = 44100


def start_pulseaudio(runtime_dir):
    """A private PulseAudio server whose default sink plays into nothing. The
    programs started afterwards find it through PULSE_SERVER."""
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime_dir)
    subprocess.run(["pulseaudio", "-D", "--exit-idle-time=-1", "-n",
                    f"--load=module-null-sink sink_name={SINK} rate={RATE}",
                    "--load=module-native-protocol-unix"], env=env, check=True, capture_output=True, timeout=30)
    os.environ["PULSE_SERVER"] = "unix:" + os.path.join(runtime_dir, "pulse", "native")
    deadline = time.monotonic() + 10
    while subprocess.run(["pactl", "info"], capture_output=True).returncode != 0:
        if time.monotonic() > deadline:
            raise RuntimeError("PulseAudio did not start")
        time.sleep(0.1)
    subprocess.run(["pactl", "set-default-sink", SINK], check=True, capture_output=True)


def stop_pulseaudio(runtime_dir):
    subprocess.run(["pulseaudio", "--kill"], env=dict(os.environ, XDG_RUNTIME_DIR=runtime_dir), capture_output=True)
    os.environ.pop("PULSE_SERVER", None)


class Recording:
    """Records the sink's monitor from start to stop into a WAV file."""

    def __init__(self, path):
        self.path = path
        self.process = subprocess.Popen(
            ["parecord", f"--device={SINK}.monitor", "--file-format=wav", f"--rate={RATE}", "--channels=1",
             "--format=s16le", "--latency-msec=20", path],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Recording has begun once samples reach the file: 0.3 s of them.
        deadline = time.monotonic() + 15
        while not os.path.exists(path) or os.path.getsize(path) < 44 + int(0.3 * RATE) * 2:
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise RuntimeError("parecord records nothing")
            time.sleep(0.05)

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        return Sound(self.path)


class Sound:
    """A recorded signal, measured in windows of 50 ms."""

    WINDOW = 0.05

    def __init__(self, path):
        with wave.open(path, "rb") as w:
            assert w.getsampwidth() == 2 and w.getnchannels() == 1
            self.rate = w.getframerate()
            raw = w.readframes(w.getnframes())
        self.samples = struct.unpack("<%dh" % (len(raw) // 2), raw[: len(raw) // 2 * 2])
        size = int(self.rate * self.WINDOW)
        self.levels = []
        for start in range(0, len(self.samples) - size + 1, size):
            chunk = self.samples[start:start + size]
            self.levels.append(math.sqrt(sum(x * x for x in chunk) / size) / 32768.0)

    def audible(self, threshold=0.01):
        """(first, last) time in seconds of the windows above the threshold,
        or None when all is silent."""
        loud = [i for i, level in enumerate(self.levels) if level > threshold]
        if not loud:
            return None
        return loud[0] * self.WINDOW, (loud[-1] + 1) * self.WINDOW

    def audible_seconds(self, threshold=0.01):
        span = self.audible(threshold)
        return 0.0 if span is None else span[1] - span[0]

    def peak_level(self):
        """The loudness of the steady part: the median of the audible windows."""
        loud = sorted(level for level in self.levels if level > 0.01)
        return loud[len(loud) // 2] if loud else 0.0

    def strength(self, frequency, at, length=0.2):
        """How strongly the frequency sounds in the stretch starting at `at`
        seconds (Goertzel), relative to full scale."""
        start = int(at * self.rate)
        chunk = self.samples[start:start + int(length * self.rate)]
        if not chunk:
            return 0.0
        coefficient = 2 * math.cos(2 * math.pi * frequency / self.rate)
        s1 = s2 = 0.0
        for x in chunk:
            s1, s2 = x + coefficient * s1 - s2, s1
        power = s1 * s1 + s2 * s2 - coefficient * s1 * s2
        return math.sqrt(max(power, 0.0)) / len(chunk) / 32768.0 * 2
