"""The control page, in a real browser (headless Chromium) and in raw requests: what it shows, a test it fires,
and who may use it."""

import contextlib
import http.client
import json
import os
import re
import socket
import subprocess
import time

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

from . import harness
from .harness import CONFIG_NAME, PRESSED
from .test_relay_events import pressed
from .test_gifts import KEYS, KeyLog, strokes

PAGE, TOKEN = "http://localhost:5000/", "k0r4v3l-page"
GIFTS = {"G": {"action": "key", "target": "g", "hold": 100, "cooldown": 5000, "note": "kept"},
         "Typo": {"action": "key", "target": "ctlr+g"},
         "Win": {"action": "webhook", "target": f"https://localhost:8443/ok?token={TOKEN}"}}
ELSEWHERE = "10.9.9.9"  # an address of this machine's that is not loopback: another computer, as the page sees it


def open_browser(*arguments):
    """Headless Chromium, at the size of a streamer's small screen."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--window-size=1280,720", *arguments):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


@pytest.fixture(scope="module")
def page(tmp_path_factory, mp3s):
    folder = tmp_path_factory.mktemp("page")
    (folder / "sounds").mkdir()
    (folder / "sounds" / "low.mp3").write_bytes(mp3s["low"])
    keys = KeyLog(folder)
    harness.write_config(folder, {"token": TOKEN, "gifts": GIFTS})
    harness.wait_for_port_free()
    program = harness.Program(folder)
    program.wait_until_serving()
    browser = open_browser()
    yield program, keys, browser, folder
    browser.quit()
    program.stop()
    keys.process.kill()


def request(method, path, host="127.0.0.1", headers=None, body=None):
    """Status, headers and body of a raw request; the Host header is the page's unless given."""
    connection = http.client.HTTPConnection(host, harness.PORT, timeout=10)
    connection.request(method, path, body, {"Host": "localhost:5000"} | (headers or {}))
    reply = connection.getresponse()
    return reply.status, dict(reply.getheaders()), reply.read().decode()


def test_the_page_lists_the_gifts_and_a_test_presses_the_key_after_its_countdown(page):
    program, keys, browser, _ = page
    keys.events()
    browser.get(PAGE)
    wait = WebDriverWait(browser, 10)
    wait.until(lambda b: len(b.find_elements(By.CSS_SELECTOR, "#gifts tbody tr")) == 3)
    rows = {row.get_attribute("data-gift"): row.text for row in browser.find_elements(By.CSS_SELECTOR, "#gifts tr[data-gift]")}
    assert "Touche g, tenue 100 ms" in rows["G"] and "touche inconnue" in rows["Typo"] and "token=***" in rows["Win"]
    assert TOKEN not in browser.page_source
    relay = browser.find_element(By.ID, "relay").text.split()  # this machine's address, and its network's
    assert {"http://localhost:5000/webhook", "http://192.168.77.2:5000/webhook"} <= set(relay)
    countdown = browser.find_element(By.ID, "countdown")
    countdown.clear()
    countdown.send_keys("2")
    program.mark()
    clicked = time.monotonic()
    browser.find_element(By.CSS_SELECTOR, 'button[aria-label="Tester G"]').click()
    wait.until(lambda b: "Dans" in b.find_element(By.CSS_SELECTOR, 'button[aria-label="Tester G"]').text)
    assert program.since_mark() == []  # nothing before the countdown ends
    result = browser.find_element(By.CSS_SELECTOR, 'tr[data-gift="G"] .result')
    # Followed, under wine, by the window of whatever wine has in front at the time.
    wait.until(lambda b: result.text.startswith("Key pressed successfully"))
    assert time.monotonic() - clicked >= 2
    assert [name for name, *_ in strokes(keys.events())] == [KEYS["g"]]
    wait.until(lambda b: b.find_element(By.CSS_SELECTOR, 'tr[data-gift="G"] .runs').text == "1")
    assert harness.post_gift("G") == '{"message": "Gift on cooldown"}'  # the relay and the page share the cooldown
    feed = WebDriverWait(browser, 5, poll_frequency=0.05).until(lambda b: [
        row.text.split("\n") for row in b.find_elements(By.CSS_SELECTOR, "#feed li")] if len(
        b.find_elements(By.CSS_SELECTOR, "#feed li")) == 2 else None)
    assert [row[1:] for row in feed] == [["G", "relais", "Cadeau en recharge: G"], ["G", "test", "Touche 'g' pressee"]]
    wait.until(lambda b: "2 en tout" in b.find_element(By.ID, "chart-caption").text)  # the chart of the last hour


def test_the_page_shows_the_feed_at_once_and_fits_an_obs_dock(page):
    _, _, browser, _ = page
    for width, height, name in ((1280, 720, "page-1280x720"), (400, 900, "page-dock-400x900")):
        browser.set_window_size(width, height)
        browser.get(PAGE)
        WebDriverWait(browser, 10).until(lambda b: b.find_elements(By.CSS_SELECTOR, "#gifts tbody tr"))
        inner, scrolled, feed = browser.execute_script(
            "return [innerWidth, document.documentElement.scrollWidth, document.getElementById('feed-state').getBoundingClientRect().bottom]")
        assert scrolled <= inner, f"{name}: {scrolled} px wide in a {inner} px window"
        if width == 1280:
            assert feed < browser.execute_script("return innerHeight"), "the feed is below the fold"
        harness.screenshot(browser, name)
    browser.set_window_size(1280, 720)


def test_a_window_is_chosen_on_the_page_and_each_test_says_where_the_key_went(page):
    program, keys, browser, _ = page
    browser.get(PAGE)
    wait, field = WebDriverWait(browser, 15), lambda name: browser.find_element(By.ID, "edit-" + name)
    shown = lambda selector: browser.find_element(By.CSS_SELECTOR, 'tr[data-gift="Jeu"] ' + selector).text
    test = lambda: browser.find_element(By.CSS_SELECTOR, 'button[aria-label="Tester Jeu"]').click()
    browser.find_element(By.ID, "countdown").clear()  # no countdown for the tests
    browser.find_element(By.ID, "add-gift").click()
    field("name").send_keys("Jeu")
    field("target").send_keys("k")
    with harness.focused_window("KoravelJeu") as window:  # brought to the front during the button's countdown
        browser.find_element(By.ID, "choose-window").click()
        wait.until(lambda b: field("window").get_attribute("value") == window)
        field("name").submit()
        wait.until(lambda b: f"seulement dans « {window} »" in shown("td:nth-child(2)"))
        test()
        wait.until(lambda b: shown(".result") == f'Key pressed successfully — dans la fenêtre "KoravelJeu" ({window})')
    test()  # the window has gone
    wait.until(lambda b: shown(".result") == "Erreur : Key not sent: the focused window is none, not the gift's window")
    wait.until(lambda b: shown(".last-press") == "Dernier appui refusé : la fenêtre active était aucune")
    browser.find_element(By.CSS_SELECTOR, 'button[aria-label="Supprimer Jeu"]').click()
    browser.switch_to.alert.accept()
    wait.until(lambda b: not b.find_elements(By.CSS_SELECTOR, 'tr[data-gift="Jeu"]'))


def page_token():
    return re.search(r'name="page-token" content="([0-9a-f]{32})"', request("GET", "/")[2])[1]


def test_the_page_answers_this_machine_under_its_own_name_alone(page):
    program, _, browser, _ = page
    status, headers, _ = request("GET", "/")
    assert status == 200 and "script-src 'self'" in headers["Content-Security-Policy"]
    assert headers["Cross-Origin-Resource-Policy"] == "same-origin" and headers["X-Content-Type-Options"] == "nosniff"
    token = page_token()
    # A few pages follow the feed at once; one more is told to close one.
    reading = {"X-Page-Token": token}
    after, polls, status = json.loads(request("GET", "/api/feed?after=0", headers=reading)[2])["next"], [], None
    while status != 503 and len(polls) < 6:
        polls.append(http.client.HTTPConnection("127.0.0.1", harness.PORT, timeout=1))
        polls[-1].request("GET", f"/api/feed?after={after}", headers={"Host": "localhost:5000"} | reading)
        with contextlib.suppress(TimeoutError):  # following: nothing new to tell yet
            status = polls[-1].getresponse().status
    assert status == 503 and len(polls) <= 5
    list(map(http.client.HTTPConnection.close, polls))  # closed, they let go well before the next heartbeat
    harness.wait_until(lambda: request("GET", "/api/feed?after=0", headers=reading)[0] == 200, 5)
    subprocess.run(["ip", "addr", "add", ELSEWHERE + "/32", "dev", "lo"], capture_output=True)
    program.mark()
    # Said once, however many come from there.
    assert {request("GET", "/", host=ELSEWHERE)[0] for _ in range(100)} == {403}
    program.wait_for_line(f"Page de controle refusee a {ELSEWHERE} : elle ne s'ouvre que sur cet ordinateur")
    assert harness.post_gift("Typo", host=ELSEWHERE) == '{"error":"Key not supported: ctlr+g"}'  # a relay elsewhere
    assert sum("Page de controle refusee" in line for line in program.since_mark()) == 1
    fire = {"Content-Type": "application/json", "X-Page-Token": token}
    # The page's sounds: the MP3 files of the folder alone, played on demand.
    assert json.loads(request("GET", "/api/sounds", headers=reading)[2]) == ["sounds/low.mp3"]
    for sound, status in (("../low.mp3", 400), ("sounds/low.mp3", 200)):
        assert request("POST", "/api/preview", headers=fire, body=json.dumps({"sound": sound}))[0] == status
    program.wait_for_line("Lecture audio: sounds/low.mp3 (volume: 100%)")  # at full volume unless told


def test_what_a_hostile_page_or_program_sends_gets_a_clear_answer_and_changes_nothing(page):
    program, _, _, folder = page
    before = (folder / CONFIG_NAME).read_bytes()
    fire = {"Content-Type": "application/json", "X-Page-Token": page_token()}
    deep = "[" * 2000 + "]" * 2000
    for path in ("/api/gift", "/api/token", "/api/gift/remove", "/api/preview", "/api/test"):
        assert request("POST", path, headers=fire, body=deep)[0] in (200, 400), path
    # Sounds from the folder's list alone: not a device, not a path out of the folder.
    for sound in ("/dev/zero", "../page/sounds/low.mp3"):
        status, _, body = request("POST", "/api/gift", headers=fire, body=json.dumps(
            {"original": "G", "name": "G", "gift": {"sound": sound}}))
        assert status == 400 and '"sound"' in json.loads(body)["error"]
    # Two names for the server: which one is read depends on who reads.
    with socket.create_connection(("127.0.0.1", harness.PORT)) as connection:
        connection.sendall(b"GET / HTTP/1.1\r\nHost: rebound.example:5000\r\nHost: localhost:5000\r\n\r\n")
        assert connection.recv(12) == b"HTTP/1.1 400"
    os.chmod(folder / CONFIG_NAME, 0o444)  # made read-only by the streamer: said, and left as it is
    status, _, body = request("POST", "/api/gift/remove", headers=fire, body='{"name": "G"}')
    os.chmod(folder / CONFIG_NAME, 0o644)
    assert status == 400 and "lecture seule" in json.loads(body)["error"]
    assert (folder / CONFIG_NAME).read_bytes() == before


def test_a_hand_edit_applies_within_two_seconds_and_a_broken_one_leaves_the_gifts_and_is_shown(page):
    program, _, browser, folder = page
    browser.get(PAGE)
    rows = lambda count: lambda b: len(b.find_elements(By.CSS_SELECTOR, "#gifts tbody tr")) == count
    WebDriverWait(browser, 10).until(rows(3))
    program.mark()
    harness.write_config(folder, {"token": TOKEN, "gifts": GIFTS | {"Lion": {"action": "key", "target": "n"}}})
    program.wait_for_line("Configuration rechargee: 4 cadeaux configures", 2)
    WebDriverWait(browser, 2).until(rows(4))
    (folder / CONFIG_NAME).write_text('{"token": "t", "gifts": {"Lion": ')  # as Notepad saves a mistake
    harness.wait_until(lambda: any("n'est pas du JSON valide" in line for line in program.since_mark()), 2)
    banner = browser.find_element(By.ID, "config-problem")
    WebDriverWait(browser, 2).until(lambda b: banner.is_displayed() and "ne se charge pas" in banner.text)
    harness.write_config(folder, {"token": TOKEN, "gifts": GIFTS})
    program.wait_for_line("Configuration rechargee: 3 cadeaux configures", 2)
    WebDriverWait(browser, 2).until(lambda b: not banner.is_displayed() and rows(3)(b))


def test_gifts_are_changed_added_and_removed_on_the_page_and_the_next_relay_gift_uses_them(page):
    program, keys, browser, folder = page
    browser.get(PAGE)
    rows = lambda names: lambda b: b.execute_script(
        "return [...document.querySelectorAll('#gifts tbody tr')].map(row => row.dataset.gift)") == names
    wait, field = WebDriverWait(browser, 5), lambda name: browser.find_element(By.ID, "edit-" + name)
    wait.until(rows(["G", "Typo", "Win"]))
    browser.find_element(By.CSS_SELECTOR, 'button[aria-label="Modifier G"]').click()
    browser.find_element(By.ID, "capture-key").click()
    ActionChains(browser).key_down(Keys.CONTROL).key_down(Keys.SHIFT).send_keys(Keys.F1).key_up(Keys.SHIFT).key_up(
        Keys.CONTROL).perform()
    assert field("target").get_attribute("value") == "ctrl+shift+f1"
    for name, value in (("hold", "5001"), ("cooldown", "0")):
        field(name).clear()
        field(name).send_keys(value)
    field("name").submit()
    refusal = browser.find_element(By.CSS_SELECTOR, '.field-error[data-for="hold"]')
    wait.until(lambda b: "doit etre un nombre entier de 10 a 5000" in refusal.text)  # beside its field; nothing saved
    field("hold").clear()
    field("hold").send_keys("100")
    program.mark()
    field("name").submit()
    wait.until(lambda b: not b.find_element(By.ID, "editor").is_displayed())
    program.wait_for_line("Configuration rechargee: 3 cadeaux configures", 2)
    keys.events()
    assert harness.post_gift("G") == PRESSED
    assert [name for kind, name, _, _ in keys.events() if kind == "down"] == [KEYS["ctrl"], KEYS["shift"], KEYS["f1"]]
    browser.find_element(By.ID, "add-gift").click()
    field("name").send_keys("Tigre")
    field("target").send_keys("n")
    field("name").submit()
    wait.until(rows(["G", "Tigre", "Typo", "Win"]))
    browser.find_element(By.CSS_SELECTOR, 'button[aria-label="Supprimer Typo"]').click()
    browser.switch_to.alert.accept()
    wait.until(rows(["G", "Tigre", "Win"]))
    assert harness.post_gift("Tigre") == PRESSED and harness.post_gift("Typo") == '{"message": "Gift not configured"}'
    saved = json.loads((folder / CONFIG_NAME).read_text(encoding="utf-8"))
    # Members the page does not know are kept, and those it did not change are not written.
    assert saved["gifts"]["G"] == {"action": "key", "target": "ctrl+shift+f1", "hold": 100, "cooldown": 0, "note": "kept"}
    assert browser.find_element(By.ID, "token-shown").text == "***page"  # masked
    browser.find_element(By.ID, "new-token").send_keys("t0k3n-e2e\n")  # 9 characters: the last 4 shown
    wait.until(lambda b: b.find_element(By.ID, "token-shown").text == "***-e2e")
    saved = json.loads((folder / CONFIG_NAME).read_text(encoding="utf-8"))
    assert saved["token"] == "t0k3n-e2e" and saved["gifts"]["Win"]["target"].endswith("?token=t0k3n-e2e")
    assert "t0k3n" not in browser.page_source



def test_a_streak_test_what_the_relay_sent_and_a_gift_added_from_a_name_that_came(page):
    """After the gifts were changed: Tigre presses n, Typo is no longer in the file."""
    program, keys, browser, _ = page
    browser.get(PAGE)
    wait = WebDriverWait(browser, 10)
    wait.until(lambda b: b.find_elements(By.CSS_SELECTOR, 'button[aria-label="Tester Tigre"]'))
    for name, value in (("countdown", "0"), ("streak", "5")):
        browser.find_element(By.ID, name).clear()
        browser.find_element(By.ID, name).send_keys(value)
    keys.events()
    browser.find_element(By.CSS_SELECTOR, 'button[aria-label="Tester Tigre"]').click()
    result = browser.find_element(By.CSS_SELECTOR, 'tr[data-gift="Tigre"] .result')
    wait.until(lambda b: "(5 cadeau(x) sur 5)" in result.text)
    assert len(strokes(keys.events())) == 5  # each frame's new gift pressed once
    # What a relay sent, as it came, and what was read of it.
    reply = harness.relay("GET", "/webhook?giftName=Lion&repeatCount=3&uniqueId=%1B%5B31mbo&repeatEnd=1")
    assert reply == '{"count":0,"message":"Gift not configured"}'
    wait.until(lambda b: "Lion" in b.find_element(By.ID, "unconfigured").text)
    assert "3 reçu(s)" in browser.find_element(By.ID, "unconfigured").text
    browser.find_element(By.ID, "refresh-requests").click()
    # The panel is drawn anew as steps come: read in one go.
    row = lambda b: b.execute_script("const row = document.querySelector('#requests tbody tr'); return row && "
                                     "[row.innerText, row.querySelector('.read').innerText, row.querySelector('.reply').innerText]")
    wait.until(lambda b: row(b) and "GET" in row(b)[0])
    sent, read, replied = row(browser)
    assert "repeatCount=3" in sent and "uniqueId=?[31mbo" in sent  # control characters made harmless
    assert read == "« Lion », nombre 3, de ?[31mbo, fin de série, 3 cadeau(x)" and "Gift not configured" in replied
    assert "de Test ×1" in browser.find_element(By.ID, "feed").text  # the streak's frames, with their viewer and count
    browser.execute_script("document.querySelector('button[aria-label=\"Ajouter Lion\"]').click()")
    assert browser.find_element(By.ID, "edit-name").get_attribute("value") == "Lion"


def test_each_event_has_a_test_that_presses_its_key_and_the_session_counts_what_came(page):
    _, keys, browser, folder = page
    before = (folder / CONFIG_NAME).read_text()
    letters = {"follow": "f", "share": "s", "likes": "l", "!saut": "j", "tier": "t"}
    events = {rule: {"action": "key", "target": letters[rule]} for rule in ("follow", "share", "likes")}
    events["likes"]["every"] = 100
    events |= {"chat": {"!saut": {"action": "key", "target": "j"}},
               "giftTiers": [{"minCoins": 50, "action": "key", "target": "t"}]}
    harness.write_config(folder, json.loads(before) | {"events": events})
    try:
        browser.get(PAGE)
        wait = WebDriverWait(browser, 10)
        wait.until(lambda b: len(b.find_elements(By.CSS_SELECTOR, "#gifts tr[data-rule]")) == 5)
        keys.events()
        for label in ("Nouveau follower", "Partage", "Likes, tous les 100", "Commande « !saut »",
                      "Tout cadeau d'au moins 50 pièces"):
            browser.find_element(By.CSS_SELECTOR, f'button[aria-label="Tester {label}"]').click()
            result = browser.find_element(By.XPATH, f'//button[@aria-label="Tester {label}"]/following-sibling::span')
            wait.until(lambda b: result.text.startswith("Key pressed successfully"))
        assert pressed(keys) == sorted(letters.values())
        figure = lambda name: browser.execute_script(  # the figures are drawn anew at each change
            "const f = document.getElementById(arguments[0]); return f && f.textContent;", "session-" + name)
        wait.until(lambda b: (figure("followers"), figure("partages"), figure("likes"), figure("pièces")) == (
            "1", "1", "100", "50"))
        browser.find_element(By.ID, "new-session").click()
        wait.until(lambda b: (figure("followers"), figure("likes"), figure("pièces")) == ("0", "0", "0"))
    finally:
        (folder / CONFIG_NAME).write_text(before)


def test_editing_keeps_every_value_the_form_cannot_show_and_a_secret_protects_the_relay(page, mp3s):
    program, _, browser, folder = page
    (folder / "sounds" / "two  blanks.mp3").write_bytes(mp3s["low"])
    address = "https://localhost:8443/" + "p" * 130 + f"?win=1&token={TOKEN}"
    gifts = {"Line\nbreak": {"action": "key", "target": "b"}, "Long": {"action": "webhook", "target": address},
             "Sound": {"action": "key", "target": "s", "sound": "sounds/two  blanks.mp3", "volume": True}}
    program.mark()
    harness.write_config(folder, {"token": TOKEN, "gifts": gifts})
    program.wait_for_line("Configuration rechargee: 3 cadeaux configures", 5)
    browser.get(PAGE)
    wait, field = WebDriverWait(browser, 10), lambda name: browser.find_element(By.ID, "edit-" + name)
    wait.until(lambda b: len(b.find_elements(By.CSS_SELECTOR, "#gifts tbody tr")) == 3)
    shown = {}
    for name, member, value in (("Sound", "hold", "200"), ("Line\nbreak", "repeat", "2"), ("Long", "target", None)):
        browser.execute_script("[...document.querySelectorAll('#gifts tbody tr')].find(row => row.dataset.gift === "
                               "arguments[0]).querySelector('button[aria-label^=Modifier]').click()", name)
        wait.until(lambda b: field(member).is_displayed())
        shown[name] = field(member).get_attribute("value")
        field(member).clear()
        field(member).send_keys(value or shown[name].replace("win=1", "win=2"))
        program.mark()
        field("name").submit()
        program.wait_for_line("Configuration rechargee: 3 cadeaux configures", 5)
    assert shown["Long"] == address.replace(TOKEN, "***")  # whole, the token masked
    assert json.loads((folder / CONFIG_NAME).read_text(encoding="utf-8"))["gifts"] == {
        "Line\nbreak": {"action": "key", "target": "b", "repeat": 2},
        "Long": {"action": "webhook", "target": address.replace("win=1", "win=2")},
        "Sound": {"action": "key", "target": "s", "sound": "sounds/two  blanks.mp3", "volume": True, "hold": 200}}
    browser.execute_script("document.querySelector('button[aria-label=\"Modifier Sound\"]').click()")
    wait.until(lambda b: field("sound").get_attribute("value") == "sounds/two  blanks.mp3")  # blanks and all
    # No secret: said plainly, and one button makes one.
    assert "Pas de secret" in browser.find_element(By.ID, "secret").text
    browser.find_element(By.ID, "make-secret").click()
    wait.until(lambda b: b.find_element(By.ID, "secret-relay").is_displayed())
    assert re.fullmatch("[0-9a-f]{32}", secret := json.loads((folder / CONFIG_NAME).read_text(encoding="utf-8"))["secret"])
    assert browser.find_element(By.ID, "secret-addresses").text.split("\n")[0] == f"{PAGE}webhook?secret={secret}"
    assert browser.find_element(By.ID, "secret-header").text == f"X-Webhook-Secret: {secret}"
    assert harness.relay("POST", f"/webhook?giftName=Sound&secret={secret}") == PRESSED
    # Started again, the program has a new page token: the page left open notices and reloads itself.
    old = page_token()
    program.stop()
    again = harness.Program(folder)
    try:
        again.wait_until_serving()
        wait.until(lambda b: b.execute_script(
            "return document.querySelector('meta[name=\"page-token\"]').content") not in (old, "{{page-token}}"))
        wait.until(lambda b: "Le secret est activé" in b.find_element(By.ID, "secret").text)
    finally:
        again.stop()

