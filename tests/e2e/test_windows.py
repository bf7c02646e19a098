"""What only the Windows program does for real, under wine: key events that
reach the system's keyboard input, and sounds that are heard."""

import concurrent.futures
import os
import subprocess
import time

import pytest

import audio
import harness
from conftest import start_serving

pytestmark = pytest.mark.skipif(not harness.under_wine(), reason="the Windows program under wine")

INJECTED = 0x10  # LLKHF_INJECTED
EXTENDED = 0x01  # LLKHF_EXTENDED
UP = 0x80  # LLKHF_UP
PRESSED = '{"message": "Key pressed successfully"}'


class KeyLog:
    """The test helper that logs every key event through a low-level hook,
    run in the program's wine session before the program."""

    def __init__(self, folder):
        self.path = os.path.join(folder, "keys.txt")
        self.process = subprocess.Popen(["wine", os.environ["KORAVEL_KEYLOG"], "keys.txt"], cwd=folder,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while self._lines()[:1] != ["ready"]:
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise RuntimeError(f"key logger did not start: {self._lines()}")
            time.sleep(0.1)
        self._seen = 1

    def _lines(self):
        try:
            with open(self.path) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def new_events(self, settle=0.4):
        """The events logged since the last call, once no new one has come
        for `settle` seconds: (kind, vk, scan, flags, time) tuples."""
        count = -1
        while True:
            lines = self._lines()
            if len(lines) == count:
                break
            count = len(lines)
            time.sleep(settle)
        events = []
        for line in lines[self._seen:]:
            kind, vk, scan, flags, at = line.split()
            events.append((kind, int(vk, 16), int(scan, 16), int(flags, 16), int(at)))
        self._seen = len(lines)
        return events

    def stop(self):
        self.process.kill()
        self.process.wait(timeout=10)


GIFTS = {
    "g": {"action": "key", "target": "g"},
    "G": {"action": "key", "target": "G"},
    "n": {"action": "key", "target": "n"},
    "space": {"action": "key", "target": "space"},
    "f13": {"action": "key", "target": "f13"},
    "left": {"action": "key", "target": "left"},
    "unsupported": {"action": "key", "target": "ctrl"},
    "Low100": {"action": "key", "target": "f24", "sound": "sounds/low.mp3", "volume": 100},
    "Low50": {"action": "key", "target": "f24", "sound": "sounds/low.mp3", "volume": 50},
    "High100": {"action": "key", "target": "f24", "sound": "sounds/high.mp3", "volume": 100},
    "Long": {"action": "key", "target": "f24", "sound": "sounds/long.mp3", "volume": 100},
    "Missing": {"action": "key", "target": "f24", "sound": "sounds/missing.mp3"},
    "Broken": {"action": "key", "target": "f24", "sound": "sounds/broken.mp3"},
}


@pytest.fixture(scope="module")
def windows(tmp_path_factory, mp3s):
    folder = str(tmp_path_factory.mktemp("windows"))
    keys = KeyLog(folder)
    program = start_serving(folder, {"token": "t", "gifts": GIFTS}, files={
        "sounds/low.mp3": mp3s["low"], "sounds/high.mp3": mp3s["high"], "sounds/long.mp3": mp3s["long"],
        "sounds/broken.mp3": mp3s["not_audio"]})
    keys.new_events()
    yield program, keys, folder
    program.stop()
    keys.stop()


def press(program, keys, gift):
    assert harness.post_gift(gift) == PRESSED
    return keys.new_events()


def assert_one_stroke(events, vk, scan, extended=False):
    print("key events:", events)
    assert len(events) == 2, events
    (down, vk1, scan1, flags1, t1), (up, vk2, scan2, flags2, t2) = events
    assert (down, vk1, scan1) == ("down", vk, scan), events
    assert (up, vk2, scan2) == ("up", vk, scan), events
    assert flags1 & INJECTED and flags2 & INJECTED
    assert not flags1 & UP and flags2 & UP
    assert bool(flags1 & EXTENDED) == extended and bool(flags2 & EXTENDED) == extended, events
    assert 40 <= t2 - t1 <= 200, events


def test_letter_key(windows):
    program, keys, _ = windows
    assert_one_stroke(press(program, keys, "g"), 0x47, 0x22)


def test_capital_letter_presses_the_same_key_without_shift(windows):
    program, keys, _ = windows
    assert_one_stroke(press(program, keys, "G"), 0x47, 0x22)


def test_named_keys(windows):
    program, keys, _ = windows
    assert_one_stroke(press(program, keys, "space"), 0x20, 0x39)
    assert_one_stroke(press(program, keys, "f13"), 0x7C, 0x64)
    assert_one_stroke(press(program, keys, "left"), 0x25, 0x4B, extended=True)


def test_unsupported_target_sends_no_event(windows):
    program, keys, _ = windows
    assert harness.post_gift("unsupported") == '{"error":"Key not supported: ctrl"}'
    assert keys.new_events(settle=0.6) == []


def test_two_gifts_at_once_each_release_their_key(windows):
    program, keys, _ = windows
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        replies = list(pool.map(harness.post_gift, ["g", "n"]))
    assert replies == [PRESSED, PRESSED]
    events = keys.new_events()
    for vk in (0x47, 0x4E):
        mine = [kind for kind, code, *_ in events if code == vk]
        assert mine == ["down", "up"], events
    assert len(events) == 4


def record(gifts, seconds, pause=0.0):
    """Sends the gifts, `pause` seconds apart, while the sink is recorded."""
    recording = audio.Recording(os.path.join(os.environ.get("TMPDIR", "/tmp"), "koravel-e2e-sound.wav"))
    try:
        for i, gift in enumerate(gifts):
            if i:
                time.sleep(pause)
            assert harness.post_gift(gift) == PRESSED
        time.sleep(seconds)
    finally:
        sound = recording.stop()
        os.remove(recording.path)
    return sound


def test_sound_is_heard_and_volume_50_is_quieter(windows):
    program, _, _ = windows
    program.mark()
    full = record(["Low100"], 4.5)
    program.wait_for_line("Lecture audio: sounds/low.mp3 (volume: 100%)")
    assert 2.5 <= full.audible_seconds() <= 3.8, full.audible()
    start, _ = full.audible()
    assert full.strength(440, start + 1.0) > 0.05
    half = record(["Low50"], 4.5)
    program.wait_for_line("Lecture audio: sounds/low.mp3 (volume: 50%)")
    assert half.audible_seconds() > 2.5
    print(f"volume 100: heard {full.audible_seconds():.2f} s at level {full.peak_level():.3f}; "
          f"volume 50: level {half.peak_level():.3f}")
    assert half.peak_level() < 0.8 * full.peak_level(), (half.peak_level(), full.peak_level())


def test_long_sound_falls_silent_after_ten_seconds(windows):
    program, _, _ = windows
    sound = record(["Long"], 13)
    print(f"30-second sound heard for {sound.audible_seconds():.2f} s")
    assert 8.5 <= sound.audible_seconds() <= 11.0, sound.audible()


def test_two_gifts_play_over_each_other(windows):
    program, _, _ = windows
    program.mark()
    sound = record(["Low100", "High100"], 4.5, pause=1.0)
    program.wait_for_line("Lecture audio: sounds/low.mp3 (volume: 100%)")
    program.wait_for_line("Lecture audio: sounds/high.mp3 (volume: 100%)")
    start, _ = sound.audible()
    # One second after the first started, both tones sound at once.
    both = start + 1.6
    print(f"overlap: 440 Hz at {sound.strength(440, both):.3f}, 880 Hz at {sound.strength(880, both):.3f}")
    assert sound.strength(440, both) > 0.05 and sound.strength(880, both) > 0.05, \
        (sound.strength(440, both), sound.strength(880, both))


def test_missing_and_broken_files_play_nothing(windows):
    program, _, _ = windows
    program.mark()
    sound = record(["Missing", "Broken"], 2.0)
    program.wait_for_line("Fichier audio non trouve : sounds/missing.mp3")
    errors = [line for line in program.lines_since_mark() if line.startswith("Erreur ouverture audio: ")]
    assert len(errors) == 1 and len(errors[0]) > len("Erreur ouverture audio: "), program.lines_since_mark()
    assert sound.audible() is None
    # The program goes on playing the next sound.
    after = record(["Low100"], 4.0)
    assert after.audible_seconds() > 2.5
