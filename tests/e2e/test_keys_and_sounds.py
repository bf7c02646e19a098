"""What only the real program does: key events that reach the system's
keyboard input, and sounds that are heard. Under wine the keys are read
through a low-level hook; on Linux from the X display's raw key events."""

import concurrent.futures
import os
import signal
import subprocess
import tempfile
import time

import pytest

import audio
import harness
from conftest import start_serving

INJECTED = 0x10  # LLKHF_INJECTED
EXTENDED = 0x01  # LLKHF_EXTENDED
UP = 0x80  # LLKHF_UP
PRESSED = '{"message": "Key pressed successfully"}'

# How each system names the key a target presses: Windows by virtual-key
# code, scan code and extended flag; X by the keysym of its keycode.
KEYS = {
    "g": ((0x47, 0x22, False), "g"),
    "space": ((0x20, 0x39, False), "space"),
    "f13": ((0x7C, 0x64, False), "F13"),
    "left": ((0x25, 0x4B, True), "Left"),
    "ctrl": ((0xA2, 0x1D, False), "Control_L"),
    "shift": ((0xA0, 0x2A, False), "Shift_L"),
    "f1": ((0x70, 0x3B, False), "F1"),
}


def key_named(target):
    return KEYS[target][0 if harness.under_wine() else 1]


class KeyLog:
    """The test helper that logs every key event the system receives (under
    wine in the program's wine session), started before the program.
    Events are (kind, key, code, time): the key as KEYS names it, the
    system's own number for it, and the time in milliseconds."""

    def __init__(self, folder):
        self.path = os.path.join(folder, "keys.txt")
        command = [os.environ["KORAVEL_KEYLOG"], "keys.txt"]
        if harness.under_wine():
            command.insert(0, "wine")
        self.process = subprocess.Popen(command, cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
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
        for `settle` seconds."""
        count = -1
        while True:
            lines = self._lines()
            if len(lines) == count:
                break
            count = len(lines)
            time.sleep(settle)
        events = []
        for line in lines[self._seen:]:
            if harness.under_wine():
                kind, vk, scan, flags, at = line.split()
                flags = int(flags, 16)
                assert flags & INJECTED and bool(flags & UP) == (kind == "up"), line
                events.append((kind, (int(vk, 16), int(scan, 16), bool(flags & EXTENDED)), int(vk, 16), int(at)))
            else:
                kind, code, keysym, at = line.split()
                events.append((kind, keysym, int(code), int(at)))
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
    "Low80": {"action": "key", "target": "f24", "sound": "sounds/low.mp3", "volume": 80},
    "High100": {"action": "key", "target": "f24", "sound": "sounds/high.mp3", "volume": 100},
    "Long": {"action": "key", "target": "f24", "sound": "sounds/long.mp3", "volume": 100},
    "Missing": {"action": "key", "target": "f24", "sound": "sounds/missing.mp3"},
    "Broken": {"action": "key", "target": "f24", "sound": "sounds/broken.mp3"},
    "F\u00e9e": {"action": "key", "target": "f24", "sound": "sounds/f\u00e9e.mp3"},
    "Combo": {"action": "key", "target": "ctrl+shift+f1"},
    "Long hold": {"action": "key", "target": "g", "hold": 300},
    "Thrice": {"action": "key", "target": "g", "repeat": 3},
    "Cool": {"action": "key", "target": "g", "cooldown": 2000},
    "Held": {"action": "key", "target": "g", "hold": 3000},
}


@pytest.fixture(scope="module")
def desktop(tmp_path_factory, mp3s):
    folder = str(tmp_path_factory.mktemp("desktop"))
    keys = KeyLog(folder)
    program = start_serving(folder, {"token": "t", "gifts": GIFTS}, files={
        "sounds/low.mp3": mp3s["low"], "sounds/high.mp3": mp3s["high"], "sounds/long.mp3": mp3s["long"],
        "sounds/broken.mp3": mp3s["not_audio"], "sounds/f\u00e9e.mp3": mp3s["high"]})
    keys.new_events()
    yield program, keys, folder
    program.stop()
    keys.stop()


def press(program, keys, gift):
    assert harness.post_gift(gift) == PRESSED
    return keys.new_events()


def assert_one_stroke(events, target):
    """One press of the key the target names, held about 50 ms; answers the
    system's number for the key."""
    print("key events:", events)
    assert len(events) == 2, events
    (down, key1, code1, t1), (up, key2, code2, t2) = events
    assert (down, key1) == ("down", key_named(target)), events
    assert (up, key2, code2) == ("up", key1, code1), events
    assert 40 <= t2 - t1 <= 200, events
    return code1


def test_letter_key(desktop):
    program, keys, _ = desktop
    assert_one_stroke(press(program, keys, "g"), "g")


def test_capital_letter_presses_the_same_key_without_shift(desktop):
    program, keys, _ = desktop
    assert_one_stroke(press(program, keys, "G"), "g")


def test_named_keys_are_keys_of_their_own(desktop):
    program, keys, _ = desktop
    codes = {assert_one_stroke(press(program, keys, target), target) for target in ("space", "f13", "left", "g")}
    assert len(codes) == 4, codes


def test_unsupported_target_sends_no_event(desktop):
    program, keys, _ = desktop
    assert harness.post_gift("unsupported") == '{"error":"Key not supported: ctrl"}'
    assert keys.new_events(settle=0.6) == []


def test_two_gifts_at_once_each_release_their_key(desktop):
    program, keys, _ = desktop
    with concurrent.futures.ThreadPoolExecutor(2) as pool:
        replies = list(pool.map(harness.post_gift, ["g", "n"]))
    assert replies == [PRESSED, PRESSED]
    events = keys.new_events()
    assert len(events) == 4, events
    for code in {code for _, _, code, _ in events}:
        assert [kind for kind, _, c, _ in events if c == code] == ["down", "up"], events


def strokes(events):
    """(key, down time, up time) of each press, in the order they went down."""
    down = {}
    pressed = []
    for kind, key, code, at in events:
        if kind == "down":
            down[code] = (key, at)
        else:
            key, went_down = down.pop(code)
            pressed.append((key, went_down, at))
    assert not down, f"left down: {down}"
    return sorted(pressed, key=lambda stroke: stroke[1])


def test_gifts_of_one_key_at_once_are_as_many_presses_that_never_overlap(desktop):
    program, keys, _ = desktop
    with concurrent.futures.ThreadPoolExecutor(5) as pool:
        replies = list(pool.map(harness.post_gift, ["g"] * 5))
    assert replies == [PRESSED] * 5
    pressed = strokes(keys.new_events())
    print("presses:", pressed)
    assert len(pressed) == 5
    for (_, _, up), (_, down, _) in zip(pressed, pressed[1:]):
        assert down - up >= 25, pressed  # 30 ms apart, give or take the clock's tick


def test_a_combo_goes_down_in_order_and_up_in_reverse(desktop):
    program, keys, _ = desktop
    events = press(program, keys, "Combo")
    assert [(kind, key) for kind, key, _, _ in events] == [
        ("down", key_named("ctrl")), ("down", key_named("shift")), ("down", key_named("f1")),
        ("up", key_named("f1")), ("up", key_named("shift")), ("up", key_named("ctrl"))], events


def test_hold_and_repeat(desktop):
    program, keys, _ = desktop
    [(_, down, up)] = strokes(press(program, keys, "Long hold"))
    assert 280 <= up - down <= 450, (down, up)
    assert len(strokes(press(program, keys, "Thrice"))) == 3


def test_a_gift_on_cooldown_presses_nothing(desktop):
    program, keys, _ = desktop
    assert len(strokes(press(program, keys, "Cool"))) == 1
    program.mark()
    assert harness.post_gift("Cool") == '{"message": "Gift on cooldown"}'
    program.wait_for_line("Cadeau en recharge: Cool")
    assert keys.new_events() == []
    time.sleep(2.0)
    assert len(strokes(press(program, keys, "Cool"))) == 1


def record(gifts, seconds, pause=0.0):
    """Sends the gifts, `pause` seconds apart, while the sink is recorded."""
    # A file of this run's own: suites of other builds may be recording too.
    descriptor, path = tempfile.mkstemp(prefix="koravel-e2e-sound-", suffix=".wav")
    os.close(descriptor)
    os.remove(path)
    recording = audio.Recording(path)
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


def test_sound_is_heard_and_volume_80_is_quieter(desktop):
    program, _, _ = desktop
    program.mark()
    full = record(["Low100"], 4.5)
    program.wait_for_line("Lecture audio: sounds/low.mp3 (volume: 100%)")
    assert 2.5 <= full.audible_seconds() <= 3.8, full.audible()
    start, _ = full.audible()
    assert full.strength(440, start + 1.0) > 0.05
    quieter = record(["Low80"], 4.5)
    program.wait_for_line("Lecture audio: sounds/low.mp3 (volume: 80%)")
    assert quieter.audible_seconds() > 2.5
    print(f"volume 100: heard {full.audible_seconds():.2f} s at level {full.peak_level():.3f}; "
          f"volume 80: level {quieter.peak_level():.3f}")
    assert quieter.peak_level() < 0.9 * full.peak_level(), (quieter.peak_level(), full.peak_level())


def test_long_sound_falls_silent_after_ten_seconds(desktop):
    program, _, _ = desktop
    sound = record(["Long"], 13)
    print(f"30-second sound heard for {sound.audible_seconds():.2f} s")
    assert 8.5 <= sound.audible_seconds() <= 11.0, sound.audible()


def test_two_gifts_play_over_each_other(desktop):
    program, _, _ = desktop
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


def test_missing_and_broken_files_play_nothing(desktop):
    program, _, _ = desktop
    program.mark()
    sound = record(["Missing", "Broken"], 2.0)
    program.wait_for_line("Fichier audio non trouve : sounds/missing.mp3")
    errors = [line for line in program.lines_since_mark() if line.startswith("Erreur ouverture audio: ")]
    assert len(errors) == 1 and len(errors[0]) > len("Erreur ouverture audio: "), program.lines_since_mark()
    assert sound.audible() is None
    # The program goes on playing the next sound.
    after = record(["Low100"], 4.0)
    assert after.audible_seconds() > 2.5


def test_a_sound_whose_path_has_accents_is_heard(desktop):
    program, _, _ = desktop
    sound = record(["F\u00e9e"], 4.0)
    program.wait_for_line("Lecture audio: sounds/f\u00e9e.mp3 (volume: 100%)")
    assert sound.audible_seconds() > 2.5


def test_ending_the_program_in_the_middle_of_a_hold_releases_the_key(desktop):
    """Last of the module: it ends the module's program."""
    program, keys, _ = desktop
    keys.new_events()  # the sound gifts' keys
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        pool.submit(harness.post_gift, "Held", 10)
        deadline = time.monotonic() + 10
        events = []
        while not events and time.monotonic() < deadline:
            events = keys.new_events(settle=0.05)
        assert [kind for kind, *_ in events] == ["down"], events
        os.killpg(program.process.pid, signal.SIGINT)
        program.process.wait(timeout=30)
    events += keys.new_events()
    print("key events:", events)
    [(_, down, up)] = strokes(events)
    assert up - down < 2000, events
