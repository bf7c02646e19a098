"""Sounds as the streamer hears them: on the device chosen, by each gift's rule for its own sounds, stopped at once,
and followed as devices come and go. Each is recorded on the sink it plays into."""

import json
import os
import statistics
import subprocess
import time

import pytest
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from . import audio, harness
from .audio import OTHER_NAME, OTHER, Recording
from .test_page import open_browser, page_token, request

SOUND = {"action": "sound"}  # a gift that plays its sound alone aims at nothing
GIFTS = {"Wav": SOUND | {"sound": "sounds/one.wav"}, "Ogg": SOUND | {"sound": "sounds/one.ogg", "soundMode": "queue"},
         "Remplace": SOUND | {"sound": "sounds/three.mp3", "soundMode": "replace"},
         "Seul": SOUND | {"sound": "sounds/three.mp3", "soundMode": "skip"},
         "Court": SOUND | {"sound": "sounds/three.mp3", "soundSeconds": 1},
         "Silence": SOUND | {"sound": "sounds/big.wav", "soundSeconds": 1},
         "Ton": SOUND | {"sound": "sounds/tone.wav"}, "Ton MP3": SOUND | {"sound": "sounds/tone.mp3"}}
PLAYED = '{"message": "Sound played"}'


@pytest.fixture(scope="module")
def sounds(tmp_path_factory):
    folder, noise = tmp_path_factory.mktemp("sounds"), tmp_path_factory.mktemp("noise") / "three.wav"
    (folder / "sounds").mkdir()
    # Noise: two sounds that overlap are always louder than one, whatever their phases.
    subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", noise, "synth", "3", "whitenoise", "vol", "0.3"], check=True)
    subprocess.run(["lame", "--quiet", noise, folder / "sounds" / "three.mp3"], check=True)
    for name, frequency in (("one.wav", 550), ("one.ogg", 660)):
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", folder / "sounds" / name, "synth", "1", "sine",
                        str(frequency), "vol", "0.5"], check=True)
    # A tone loud from its first sample, and its MP3, whose encoder put a header frame and its delay before it.
    subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", "-b", "16", folder / "sounds" / "tone.wav", "synth", "0.3",
                    "square", "1000", "vol", "0.5"], check=True)
    subprocess.run(["lame", "--quiet", folder / "sounds" / "tone.wav", folder / "sounds" / "tone.mp3"], check=True)
    # 7 minutes: decoded, more than the 64 MiB of decoded sounds kept.
    subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", folder / "sounds" / "big.wav", "trim", "0", "420"], check=True)
    harness.write_config(folder, {"token": "t", "soundDevice": OTHER_NAME, "gifts": GIFTS})
    harness.wait_for_port_free()
    program = harness.Program(folder)
    program.wait_until_serving()
    yield program, folder
    program.stop()


def test_sounds_play_once_a_sound_server_starts_after_the_program(tmp_path):
    (tmp_path / "sounds").mkdir()
    subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", tmp_path / "sounds" / "one.wav", "synth", "1", "sine", "550",
                    "vol", "0.5"], check=True)
    harness.write_config(tmp_path, {"token": "t", "gifts": {"Wav": GIFTS["Wav"]}})
    later = tmp_path / "later"  # the server's folder, empty until it starts
    later.mkdir()
    harness.wait_for_port_free()
    program = harness.Program(tmp_path, env={"PULSE_SERVER": f"unix:{later}/pulse/native"})
    try:
        program.wait_until_serving()
        assert any(line.startswith("Les sons ne pourront pas etre joues : ") for line in program.lines)
        reading = {"X-Page-Token": page_token()}
        assert json.loads(request("GET", "/api/state", headers=reading)[2])["sounds"]
        if harness.under_wine():
            pytest.skip("wine chooses its audio driver once, as the program starts: without PulseAudio then, ALSA")
        server = audio.start_pulseaudio(later)
        program.wait_for_line("Sortie audio ouverte : les sons peuvent etre joues", 15)  # tried every second
        assert json.loads(request("GET", "/api/state", headers=reading)[2])["sounds"] == ""
        with Recording(2.0, server=server) as heard:
            assert harness.post_gift("Wav") == PLAYED
        assert 0.8 <= heard.audible() <= 1.3, heard.levels
    finally:
        program.stop()
        subprocess.run(["pulseaudio", "--kill"], env=dict(os.environ, XDG_RUNTIME_DIR=later))


def test_each_sound_goes_to_the_chosen_device_by_its_gifts_rule(sounds):
    program, _ = sounds
    with Recording(0) as default, Recording(2.0, OTHER) as chosen:
        assert harness.post_gift("Wav") == PLAYED
    assert default.audible() == 0 and 0.8 <= chosen.audible() <= 1.3, (default.levels, chosen.levels)
    program.mark()
    with Recording(3.0, OTHER) as queued:  # the OGG's second sound after the first, not over it
        assert [harness.post_gift("Ogg"), harness.post_gift("Ogg")] == [PLAYED] * 2
    assert 1.8 <= queued.audible() <= 2.4 and queued.level(1.5) < 1.2 * queued.level(0.5), queued.levels
    assert program.since_mark().count("Lecture audio: sounds/one.ogg (volume: 100%)") == 2
    with Recording(4.5, OTHER) as replaced:  # the second stops the first
        harness.post_gift("Remplace")
        time.sleep(1.0)
        harness.post_gift("Remplace")
    assert 3.7 <= replaced.audible() <= 4.5 and replaced.level(1.5) < 1.2 * replaced.level(0.5), replaced.levels
    program.mark()
    with Recording(3.5, OTHER) as alone:  # the second is not played while the first plays
        harness.post_gift("Seul")
        time.sleep(1.0)
        harness.post_gift("Seul")
    assert 2.7 <= alone.audible() <= 3.4, alone.levels
    program.wait_for_line("Sons non joues (un son du meme cadeau joue encore) : 1")
    with Recording(2.0, OTHER) as short:
        harness.post_gift("Court")
    assert 0.8 <= short.audible() <= 1.3, short.levels
    program.mark()
    assert harness.post_gift("Silence") == PLAYED
    program.wait_for_line("Lecture audio: sounds/big.wav (volume: 100%)")
    with Recording(2.0, OTHER) as after:  # what is kept made room for it, and the other sounds still play
        assert harness.post_gift("Wav") == PLAYED
    assert 0.8 <= after.audible() <= 1.3, after.levels


def test_the_page_plays_a_tone_on_each_device_saves_the_one_chosen_and_couper_les_sons_stops_at_once(sounds):
    program, folder = sounds
    browser = open_browser()
    try:
        browser.get(f"http://localhost:{harness.PORT}/")
        wait, css = WebDriverWait(browser, 10), browser.find_element
        listen = f'button[aria-label="\u00c9couter {OTHER_NAME}"]'
        wait.until(lambda b: b.find_elements(By.CSS_SELECTOR, listen))
        with Recording(0) as default, Recording(1.0, OTHER) as tone:
            css(By.CSS_SELECTOR, listen).click()
        assert default.audible() == 0 and 0.2 <= tone.audible() <= 0.6, (default.levels, tone.levels)
        css(By.CSS_SELECTOR, 'input[name="sound-device"][value=""]').click()  # the system's default
        css(By.ID, "save-device").click()
        wait.until(lambda b: b.find_element(By.ID, "device-result").text == "Sortie enregistr\u00e9e.")
        assert "soundDevice" not in json.loads((folder / harness.CONFIG_NAME).read_text())
        # The output opens anew in the background: the first sound after it is heard there, perhaps a little later.
        with Recording(0, OTHER) as old, Recording(1.5) as switched:
            assert harness.post_gift("Court") == PLAYED
        assert old.audible() == 0 and 0.8 <= switched.audible() <= 1.3, (old.levels, switched.levels)
        with Recording(2.5) as stopped:
            harness.post_gift("Seul")
            sent = time.monotonic()
            time.sleep(1.0)
            css(By.ID, "stop-sounds").click()
            wait.until(lambda b: b.find_element(By.ID, "stop-result").text == "1 son coup\u00e9.")
            asked = time.monotonic() - sent
        assert 0.8 <= stopped.audible() <= asked + 0.1, (asked, stopped.levels)  # played until the click, not after
        css(By.CSS_SELECTOR, 'button[aria-label="Modifier Wav"]').click()  # the form offers every kind of sound
        wait.until(lambda b: {"sounds/one.wav", "sounds/one.ogg", "sounds/three.mp3"} <= {
            o.get_attribute("value") for o in b.find_elements(By.CSS_SELECTOR, "#edit-sound option")})
        css(By.CSS_SELECTOR, f'input[name="sound-device"][value="{OTHER_NAME}"]').click()
        css(By.ID, "save-device").click()
        wait.until(lambda b: json.loads((folder / harness.CONFIG_NAME).read_text()).get("soundDevice") == OTHER_NAME)
    finally:
        browser.quit()


def test_a_device_that_goes_and_comes_is_followed(sounds):
    program, _ = sounds
    if harness.under_wine():
        pytest.skip("wine's audio devices never change while a program runs: SDL's list under wine stays as it began")
    program.mark()
    gone = f"Sortie audio \"{OTHER_NAME}\" absente : les sons vont sur la sortie par defaut"
    modules = subprocess.run(["pactl", "list", "short", "modules"], check=True, capture_output=True, text=True).stdout
    [chosen] = [line.split()[0] for line in modules.splitlines() if f"sink_name={OTHER}" in line]
    subprocess.run(["pactl", "unload-module", chosen], check=True)
    program.wait_for_line(gone)
    with Recording(2.0) as fallen:
        assert harness.post_gift("Wav") == PLAYED
    assert fallen.audible() > 0.8, fallen.levels
    subprocess.run(["pactl", "load-module", "module-null-sink", f"sink_name={OTHER}",
                    f"sink_properties=\"device.description='{OTHER_NAME}'\""], check=True, capture_output=True)
    program.wait_for_line(f"Sortie audio \"{OTHER_NAME}\" de retour : les sons y vont de nouveau")
    with Recording(0) as default, Recording(2.0, OTHER) as back:
        harness.post_gift("Wav")
    assert default.audible() == 0 and back.audible() > 0.8, (default.levels, back.levels)


def test_an_mp3_is_heard_as_soon_as_the_same_tone_in_a_wav(sounds):
    sent, order = [], ["Ton", "Ton MP3"] * 4
    with Recording(0.6, OTHER) as heard:
        for name in order:
            sent.append(time.perf_counter())
            assert harness.post_gift(name) == PLAYED
            time.sleep(max(0.0, sent[-1] + 0.6 - time.perf_counter()))
    lags = [onset - at for onset, at in zip(heard.onsets(), sent)]  # each against the same unknown start
    wav, mp3 = statistics.median(lags[2::2]), statistics.median(lags[3::2])  # the first two decode their file
    assert len(lags) == len(order) and abs(mp3 - wav) < 0.010, lags
