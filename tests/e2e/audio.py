"""Hearing what the program plays: a PulseAudio server with a null sink, whose monitor is recorded."""

import array
import math
import os
import subprocess
import tempfile
import time
import wave

from . import harness

SINK, RATE = "koravel_e2e", 44100
OTHER, OTHER_NAME = "koravel_casque", "Casque e2e"  # a second device, as the system lists it


def start_pulseaudio(runtime_dir):
    """A private server whose default sink plays into nothing: programs find it at the address answered, through
    PULSE_SERVER."""
    subprocess.run(["pulseaudio", "-D", "--exit-idle-time=-1", "-n", f"--load=module-null-sink sink_name={SINK} "
                    f"rate={RATE}", f"--load=module-null-sink sink_name={OTHER} rate={RATE} "
                    f"sink_properties=\"device.description='{OTHER_NAME}'\"", "--load=module-native-protocol-unix"], check=True, timeout=30,
                   env=dict(os.environ, XDG_RUNTIME_DIR=runtime_dir))
    server = f"unix:{runtime_dir}/pulse/native"
    harness.wait_until(lambda: subprocess.run(["pactl", f"--server={server}", "set-default-sink", SINK]).returncode == 0)
    return server


class Recording:
    """What the sink played while the `with` block ran and for `seconds` more; `levels` holds the loudness of each
    50 ms, against full scale."""

    def __init__(self, seconds, sink=SINK, server=None):
        self.seconds = seconds
        descriptor, self.path = tempfile.mkstemp(suffix=".wav")  # of this run's own: other suites may record too
        os.close(descriptor)
        self.process = subprocess.Popen(["parecord", f"--server={server or os.environ['PULSE_SERVER']}",
                                         f"--device={sink}.monitor", "--file-format=wav", f"--rate={RATE}",
                                         "--channels=1", "--format=s16le", "--latency-msec=20", self.path])
        harness.wait_until(lambda: os.path.getsize(self.path) > 44 + RATE)  # half a second recorded

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        time.sleep(self.seconds)
        self.process.terminate()
        self.process.wait(timeout=10)
        with wave.open(self.path, "rb") as w:
            samples = array.array("h", w.readframes(w.getnframes()))
        os.remove(self.path)
        self.samples = samples
        n = RATE // 20
        self.levels = [math.sqrt(sum(x * x for x in samples[i:i + n]) / n) / 32768 for i in range(0, len(samples), n)]
        self.loud = [i for i, level in enumerate(self.levels) if level > 0.01]

    def onsets(self, gap=0.1):
        """The seconds into the recording at which each sound began: its first loud sample after `gap` s of silence."""
        loud = [i for i, sample in enumerate(self.samples) if abs(sample) > 0.02 * 32768]
        return [i / RATE for n, i in enumerate(loud) if n == 0 or i - loud[n - 1] > gap * RATE]

    def audible(self):
        """The seconds from the first to the last window that is not silent."""
        return (self.loud[-1] + 1 - self.loud[0]) * 0.05 if self.loud else 0.0

    def level(self, at=None):
        """The loudness `at` seconds after the sound began; by default, of its steady part."""
        if at is not None:
            return self.levels[self.loud[0] + int(at / 0.05)]
        return sorted(self.levels[i] for i in self.loud)[len(self.loud) // 2] if self.loud else 0.0
