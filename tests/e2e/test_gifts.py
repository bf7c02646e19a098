"""What only the real program does with a gift: key events that reach the
system's keyboard input, sounds that are heard, calls that trust the system's
certificates, lines on its console. Under wine the keys are read through a
low-level hook; on Linux from the X display's raw key events."""

import concurrent.futures
import os
import signal
import subprocess
import time

import pytest

from . import harness
from .audio import Recording
from .harness import PRESSED

# How each system names the key a target presses: Windows by virtual-key
# code, scan code and extended flag; X by the keysym of its keycode.
KEYS = {"g": ((0x47, 0x22, False), "g"), "space": ((0x20, 0x39, False), "space"),
        "f13": ((0x7C, 0x64, False), "F13"), "left": ((0x25, 0x4B, True), "Left"),
        "ctrl": ((0xA2, 0x1D, False), "Control_L"), "shift": ((0xA0, 0x2A, False), "Shift_L"),
        "f1": ((0x70, 0x3B, False), "F1")}
GIFTS = {
    "Rose": {"action": "key", "target": "g", "sound": "sounds/low.mp3", "volume": 80},
    "G": {"action": "key", "target": "G"}, "space": {"action": "key", "target": "space"},
    "f13": {"action": "key", "target": "f13"}, "left": {"action": "key", "target": "left"},
    "n": {"action": "key", "target": "n"}, "Bad": {"action": "key", "target": "ctrl"},
    "Combo": {"action": "key", "target": "ctrl+shift+f1"},
    "Long hold": {"action": "key", "target": "g", "hold": 300}, "Thrice": {"action": "key", "target": "g", "repeat": 3},
    "Cool": {"action": "key", "target": "g", "cooldown": 2000}, "Held": {"action": "key", "target": "g", "hold": 3000},
    "Low": {"action": "key", "target": "f24", "sound": "sounds/low.mp3"},
    "High": {"action": "key", "target": "f24", "sound": "sounds/high.mp3"},
    "Long": {"action": "key", "target": "f24", "sound": "sounds/long.mp3"},
    "Missing": {"action": "key", "target": "f24", "sound": "sounds/missing.mp3"},
    "Broken": {"action": "key", "target": "f24", "sound": "sounds/broken.mp3"},
    "F\u00e9e": {"action": "key", "target": "f24", "sound": "sounds/f\u00e9e.mp3"},
    "Win": {"action": "webhook", "target": "https://localhost:8443/ok?win=1"},
    "Stranger": {"action": "webhook", "target": "https://localhost:8444/ok"},
}


class KeyLog:
    """The helper that logs every key event the system receives, started
    before the program. Events are (kind, key as KEYS names it, the system's
    number for the key, time in ms)."""

    def __init__(self, folder):
        self.path = os.path.join(folder, "keys.txt")
        wine = ["wine"] if harness.under_wine() else []
        self.process = subprocess.Popen(wine + [os.environ["KORAVEL_KEYLOG"], "keys.txt"], cwd=folder)
        deadline = time.monotonic() + 60
        while self._lines()[:1] != ["ready"]:
            assert time.monotonic() < deadline and self.process.poll() is None, self._lines()
            time.sleep(0.1)
        self._seen = 1

    def _lines(self):
        with open(self.path, "a+") as f:
            f.seek(0)
            return f.read().splitlines()

    def events(self, settle=0.4):
        """The events logged since the last call, once none has come for `settle` seconds."""
        count = -1
        while count != len(self._lines()):
            count = len(self._lines())
            time.sleep(settle)
        events = []
        for line in self._lines()[self._seen:count]:
            if harness.under_wine():
                kind, vk, scan, flags, at = line.split()
                assert int(flags, 16) & 0x10, line  # injected
                events.append((kind, (int(vk, 16), int(scan, 16), bool(int(flags, 16) & 1)), int(vk, 16), int(at)))
            else:
                kind, code, keysym, at = line.split()
                events.append((kind, keysym, int(code), int(at)))
        self._seen = count
        return events


def key_named(target):
    return KEYS[target][0 if harness.under_wine() else 1]


def strokes(events):
    """(key, down time, up time) of each press, in the order they went down."""
    down, pressed = {}, []
    for kind, key, code, at in events:
        if kind == "down":
            down[code] = (key, at)
        else:
            pressed.append(down.pop(code) + (at,))
    assert not down, f"left down: {down}"
    return sorted(pressed, key=lambda stroke: stroke[1])


@pytest.fixture(scope="module")
def desktop(tmp_path_factory, mp3s, tls_services):
    folder = str(tmp_path_factory.mktemp("desktop"))
    os.makedirs(os.path.join(folder, "sounds"))
    for name, sound in (("low", "low"), ("high", "high"), ("long", "long"), ("broken", "not_audio"),
                        ("f\u00e9e", "high")):
        with open(os.path.join(folder, "sounds", name + ".mp3"), "wb") as f:
            f.write(mp3s[sound])
    keys = KeyLog(folder)
    harness.write_config(folder, {"token": "t", "gifts": GIFTS})
    harness.wait_for_port_free()
    program = harness.Program(folder)
    program.wait_until_serving()
    keys.events()
    yield program, keys
    program.stop()
    keys.process.kill()


def send(program, *gifts):
    """Sends the gifts at once; answers the replies."""
    program.mark()
    with concurrent.futures.ThreadPoolExecutor(len(gifts)) as pool:
        return list(pool.map(harness.post_gift, gifts))


def test_a_key_gift_plays_its_sound_then_presses_its_key_once(desktop):
    program, keys = desktop
    assert send(program, "Rose") == [PRESSED]
    program.wait_for_line("Touche 'g' pressee")
    assert program.since_mark() == ["Cadeau recu: Rose", "Lecture audio: sounds/low.mp3 (volume: 80%)",
                                    "Touche 'g' pressee"]
    [(key, down, up)] = strokes(keys.events())
    assert key == key_named("g") and 40 <= up - down <= 200


def test_each_target_presses_its_own_key_and_a_capital_the_letter_alone(desktop):
    program, keys = desktop
    codes = set()
    for gift, target in (("G", "g"), ("space", "space"), ("f13", "f13"), ("left", "left")):
        assert send(program, gift) == [PRESSED]
        events = keys.events()
        assert [(kind, key) for kind, key, _, _ in events] == [("down", key_named(target)), ("up", key_named(target))]
        codes.add(events[0][2])
    assert len(codes) == 4, codes
    assert send(program, "Bad") == ['{"error":"Key not supported: ctrl"}']
    assert keys.events() == []


def test_gifts_at_once_are_as_many_presses_and_presses_of_one_key_never_overlap(desktop):
    program, keys = desktop
    assert send(program, "n", "G", "G", "G", "G", "G") == [PRESSED] * 6
    pressed = strokes(keys.events())
    assert [key for key, _, _ in pressed].count(key_named("g")) == 5, pressed
    g = [stroke for stroke in pressed if stroke[0] == key_named("g")]
    for (_, _, up), (_, down, _) in zip(g, g[1:]):
        assert down - up >= 25, pressed  # 30 ms apart, give or take the clock's tick


def test_combo_hold_repeat_and_cooldown(desktop):
    program, keys = desktop
    send(program, "Combo")
    assert [(kind, key) for kind, key, _, _ in keys.events()] == [
        ("down", key_named("ctrl")), ("down", key_named("shift")), ("down", key_named("f1")),
        ("up", key_named("f1")), ("up", key_named("shift")), ("up", key_named("ctrl"))]
    send(program, "Long hold")
    [(_, down, up)] = strokes(keys.events())
    assert 280 <= up - down <= 450, (down, up)
    send(program, "Thrice")
    assert len(strokes(keys.events())) == 3
    assert send(program, "Cool", "Cool") in ([PRESSED, '{"message": "Gift on cooldown"}'],
                                             ['{"message": "Gift on cooldown"}', PRESSED])
    program.wait_for_line("Cadeau en recharge: Cool")
    assert len(strokes(keys.events())) == 1
    time.sleep(2.0)
    assert send(program, "Cool") == [PRESSED]


def test_sounds_are_heard_at_their_volume_together_for_ten_seconds_at_most(desktop):
    program, _ = desktop
    with Recording(4.5) as full:
        send(program, "Low")
    with Recording(4.5) as quieter:
        send(program, "Rose")
    assert 2.5 <= full.audible_seconds() <= 3.8 and quieter.audible_seconds() > 2.5, full.audible()
    print(f"volume 100: level {full.level():.3f}; volume 80: level {quieter.level():.3f}")
    assert quieter.level() < 0.9 * full.level()
    with Recording(4.5) as both:
        send(program, "Low")
        time.sleep(1.0)
        send(program, "High")
    at = both.audible()[0] + 1.6  # one second after the first started, both tones sound
    assert both.strength(440, at) > 0.05 and both.strength(880, at) > 0.05, (both.strength(440, at),
                                                                             both.strength(880, at))
    with Recording(13) as long:
        send(program, "Long")
    print(f"30-second sound heard for {long.audible_seconds():.2f} s")
    assert 8.5 <= long.audible_seconds() <= 11.0, long.audible()


def test_a_missing_or_broken_file_plays_nothing_and_a_path_with_accents_plays(desktop):
    program, _ = desktop
    with Recording(2.0) as nothing:
        send(program, "Missing", "Broken")
    assert nothing.audible() is None
    assert "Fichier audio non trouve : sounds/missing.mp3" in program.since_mark()
    assert [line for line in program.since_mark() if line.startswith("Erreur ouverture audio: ")] != []
    with Recording(4.0) as accents:
        send(program, "F\u00e9e")
    program.wait_for_line("Lecture audio: sounds/f\u00e9e.mp3 (volume: 100%)")
    assert accents.audible_seconds() > 2.5


def test_web_calls_trust_the_system_certificates_and_names_print_as_utf8(desktop):
    program, _ = desktop
    assert send(program, "Win") == ['{"message":"Webhook executed successfully","response":"win added: /ok?win=1"}']
    program.wait_for_line("Requete HTTP reussie: https://localhost:8443/ok?win=1")
    assert send(program, "Stranger")[0].startswith('{"error":"Webhook call failed: no response')
    assert send(program, "F\u00e9e \u0153") == ['{"message": "Gift not configured"}']
    program.wait_for_line("Cadeau non configure: F\u00e9e \u0153")


def test_ending_the_program_in_the_middle_of_a_hold_releases_the_key(desktop):
    """Last of the module: it ends the module's program."""
    program, keys = desktop
    keys.events()
    with concurrent.futures.ThreadPoolExecutor(1) as pool:
        pool.submit(harness.post_gift, "Held", 10)
        events, deadline = [], time.monotonic() + 10
        while not events and time.monotonic() < deadline:
            events = keys.events(settle=0.05)
        assert [kind for kind, *_ in events] == ["down"], events
        os.killpg(program.process.pid, signal.SIGINT)
        program.process.wait(timeout=30)
    [(_, down, up)] = strokes(events + keys.events())
    assert up - down < 2000
