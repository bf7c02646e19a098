"""Hearing what the program plays: a PulseAudio server with a null sink,
whose monitor is recorded while gifts arrive, measured in windows of 50 ms."""

import array
import math
import os
import subprocess
import tempfile
import time
import wave

SINK, RATE = "koravel_e2e", 44100


def start_pulseaudio(runtime_dir):
    """A private PulseAudio server whose default sink plays into nothing; programs find it through PULSE_SERVER."""
    subprocess.run(["pulseaudio", "-D", "--exit-idle-time=-1", "-n", f"--load=module-null-sink sink_name={SINK} "
                    f"rate={RATE}", "--load=module-native-protocol-unix"], check=True, timeout=30,
                   env=dict(os.environ, XDG_RUNTIME_DIR=runtime_dir))
    os.environ["PULSE_SERVER"] = "unix:" + os.path.join(runtime_dir, "pulse", "native")
    for _ in range(100):
        if subprocess.run(["pactl", "set-default-sink", SINK], capture_output=True).returncode == 0:
            return
        time.sleep(0.1)
    raise RuntimeError("PulseAudio did not start")


def stop_pulseaudio(runtime_dir):
    subprocess.run(["pulseaudio", "--kill"], env=dict(os.environ, XDG_RUNTIME_DIR=runtime_dir))


class Recording:
    """What the sink played while the `with` block ran and for `seconds` more:
    `levels` holds the loudness of each 50 ms, against full scale."""

    def __init__(self, seconds):
        self.seconds = seconds
        # A file of this run's own: the suites of other builds may be recording too.
        descriptor, self.path = tempfile.mkstemp(suffix=".wav")
        os.close(descriptor)
        self.process = subprocess.Popen(["parecord", f"--device={SINK}.monitor", "--file-format=wav", f"--rate={RATE}",
                                         "--channels=1", "--format=s16le", "--latency-msec=20", self.path])
        deadline = time.monotonic() + 15
        while os.path.getsize(self.path) < 44 + RATE:  # half a second recorded
            assert time.monotonic() < deadline and self.process.poll() is None, "parecord records nothing"
            time.sleep(0.05)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        time.sleep(self.seconds)
        self.process.terminate()
        self.process.wait(timeout=10)
        with wave.open(self.path, "rb") as w:
            samples = array.array("h", w.readframes(w.getnframes()))
        os.remove(self.path)
        n = RATE // 20
        self.levels = [math.sqrt(sum(x * x for x in samples[i:i + n]) / n) / 32768 for i in range(0, len(samples), n)]

    def audible(self):
        """The seconds from the first to the last window that is not silent."""
        loud = [i for i, level in enumerate(self.levels) if level > 0.01]
        return (loud[-1] + 1 - loud[0]) * 0.05 if loud else 0.0

    def level(self, at=None):
        """The loudness `at` seconds after the sound began; by default, of its steady part."""
        loud = [i for i, level in enumerate(self.levels) if level > 0.01]
        if at is not None:
            return self.levels[loud[0] + int(at / 0.05)]
        return sorted(self.levels[i] for i in loud)[len(loud) // 2] if loud else 0.0
