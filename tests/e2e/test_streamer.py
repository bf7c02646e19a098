"""A streamer's first contact as the guide tells it, from the unzipped release (KORAVEL_RELEASE): start, the page
opens, a test from the page is heard and pressed, a relay's gift."""

import os
import shutil

import pytest
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from . import harness
from .audio import Recording
from .harness import PRESSED
from .test_gifts import KEYS, KeyLog, strokes
from .test_page import open_browser


@pytest.mark.skipif(not os.environ.get("KORAVEL_RELEASE"), reason="needs the unzipped release (KORAVEL_RELEASE)")
def test_unzip_start_test_from_the_page_then_a_relay_gift(run, tmp_path, monkeypatch):
    folder, opened = tmp_path / "Koravel", tmp_path / "opened.txt"  # "Extraire tout..." into a folder of one's own
    shutil.copytree(os.environ["KORAVEL_RELEASE"], folder)
    monkeypatch.setenv("KORAVEL_PROGRAM", f"wine {folder / 'koravel-key-webhook.exe'}")
    keys = KeyLog(folder)
    program = run(cwd=folder, stdin_text="mon-token\r\n", env={"KORAVEL_OPENED": str(opened)})  # the double-click
    program.wait_until_serving()
    # Every first gift has its sound: no warning, and the test is heard.
    assert "Configuration chargee: 7 cadeaux configures" in program.lines
    assert not [line for line in program.lines if line.startswith("Attention")], program.lines
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
            result = browser.find_element(By.CSS_SELECTOR, 'tr[data-gift="Rose"] .result')
            wait.until(lambda b: result.text.startswith("Key pressed successfully"))
        assert heard.audible() > 0.3 and [name for name, *_ in strokes(keys.events())] == [KEYS["g"]]
    finally:
        browser.quit()
        keys.process.kill()
    assert harness.post_gift("Rose") == PRESSED  # the relay, set as the guide says
    program.mark()  # an example counter gift, whose address is a placeholder, says what the guide says
    assert harness.post_gift("Tu es incroyable").startswith('{"error":"Webhook call failed: ')
    program.wait_for_line("Erreur requete HTTP: 0")
