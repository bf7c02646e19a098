"""A streamer's first contact, followed as the guide tells it, from the release as it is unzipped: start, the page,
a test from the page, a relay's gift. Run against the release's folder, named by KORAVEL_RELEASE."""

import os
import shutil

import pytest
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from . import harness
from .audio import Recording
from .harness import CONFIG_NAME, PRESSED
from .test_gifts import KEYS, KeyLog, strokes
from .test_page import open_browser

RELEASE = os.environ.get("KORAVEL_RELEASE")


@pytest.mark.skipif(not RELEASE, reason="needs the unzipped release (KORAVEL_RELEASE)")
def test_unzip_start_test_from_the_page_then_a_relay_gift(run, tmp_path, monkeypatch):
    folder = tmp_path / "Koravel"  # "Extraire tout..." into a folder of the streamer's own
    shutil.copytree(RELEASE, folder)
    program_name = next(name for name in os.listdir(folder) if name.endswith(".exe") or name == "koravel-key-webhook")
    monkeypatch.setenv("KORAVEL_PROGRAM", " ".join(harness.program_command()[:-1] + [str(folder / program_name)]))
    keys, opened = KeyLog(folder), tmp_path / "opened.txt"
    program = run(cwd=folder, stdin_text="mon-token\r\n", env={"KORAVEL_OPENED": str(opened)})  # the double-click
    program.wait_until_serving()
    # Every gift of the first configuration has its sound: no warning, and the first test is heard.
    assert "Configuration chargee: 7 cadeaux configures" in program.lines
    assert not [line for line in program.lines if line.startswith("Attention")], program.lines
    assert (folder / CONFIG_NAME).exists()
    harness.wait_until(opened.exists, 30)  # the page opens by itself
    browser = open_browser()
    try:
        browser.get(opened.read_text().strip())
        wait = WebDriverWait(browser, 10)
        test = wait.until(lambda b: b.find_element(By.CSS_SELECTOR, 'button[aria-label="Tester Rose"]'))
        keys.events()
        program.mark()
        with Recording(5) as heard:  # the 3 s countdown, then the chime
            test.click()
            wait.until(lambda b: b.find_element(By.CSS_SELECTOR, 'tr[data-gift="Rose"] .result').text ==
                       "Key pressed successfully")
        assert heard.audible() > 0.3 and [name for name, *_ in strokes(keys.events())] == [KEYS["g"]]
        assert program.since_mark()[0] == "Cadeau recu: Rose"
        assert "Lecture audio: sounds/rose.mp3 (volume: 100%)" in program.since_mark()
    finally:
        browser.quit()
        keys.process.kill()
    # The relay, set as the guide says; an example counter gift, whose address is a placeholder, says so.
    assert harness.post_gift("Rose") == PRESSED
    program.mark()
    assert harness.post_gift("Tu es incroyable").startswith('{"error":"Webhook call failed: ')
    program.wait_for_line("Erreur requete HTTP: 0")
