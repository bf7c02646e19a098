"""The overlays as OBS's browser source shows them: real pages of the real program in Chromium, fed by its push
stream; alerts on time, in order, as text; a goal bar that fills; transparent around what shows; followed across a
restart; answered from the network only with the file's key."""

import base64
import http.client
import json
import socket
import struct
import time
import zlib

import pytest
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

from . import harness
from .conftest import _Service
from .test_page import open_browser, page_token, request

# Named to run after the other suites, which keep under wine the order they have always run in.
KEY = "cle-des-overlays-0123456789"
ALERT = {"text": "{viewer} offre {gift} x{count}", "seconds": 1}
CONFIG = {"token": "t", "overlayKey": KEY,
          "gifts": {"Lion": {"action": "webhook", "target": "https://localhost:8443/ok", "alert": ALERT},
                    "Rose": {"action": "webhook", "target": "https://localhost:8443/ok",
                             "alert": ALERT | {"image": "images/rose.png", "seconds": 5}}},  # long enough for a screenshot
          "goals": [{"name": "Sans les mains", "counts": "coins", "target": 1000,
                     "reached": {"action": "webhook", "target": "https://localhost:8443/goal"}}]}
# Records each change of the alert card, with the browser's clock: what it says, or "" once it has gone.
WATCH = """window.seen = [];
const card = document.getElementById('alert'), text = document.getElementById('alert-text');
new MutationObserver(() => requestAnimationFrame(() => window.seen.push([card.hidden ? '' : text.textContent, Date.now()])))
  .observe(card, {attributes: true, childList: true, subtree: true, characterData: true});"""


def png(width, height):  # a plain red image
    rows = b"".join(b"\0" + b"\xff\0\0" * width for _ in range(height))
    chunk = lambda kind, data: struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) + \
        chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


@pytest.fixture(scope="module")
def overlays(tmp_path_factory):
    folder = tmp_path_factory.mktemp("overlays")
    (folder / "images").mkdir()
    (folder / "images" / "rose.png").write_bytes(png(40, 40))
    harness.write_config(folder, CONFIG)
    harness.wait_for_port_free()
    program = harness.Program(folder)
    program.wait_until_serving()
    browser = open_browser()
    yield program, browser, folder
    browser.quit()
    program.stop()


def gift(name, viewer, **fields):
    return harness.relay("POST", "/webhook", json.dumps({"giftName": name, "uniqueId": viewer, "repeatCount": 1,
                                                         "repeatEnd": True} | fields), "application/json")


def open_alerts(browser):
    browser.get("http://localhost:5000/overlay/alerts")
    harness.wait_until(lambda: browser.execute_script("return document.readyState") == "complete")
    time.sleep(0.5)  # the stream is open: its state came
    browser.execute_script(WATCH)


def shown(browser):
    return browser.execute_script("return window.seen")


def test_an_alert_shows_the_name_as_text_within_200_ms_and_five_at_once_keep_their_order(overlays):
    _, browser, _ = overlays
    open_alerts(browser)
    name = "<img src=x onerror=document.title='pris'>"
    gift("Lion", name)
    replied = time.time() * 1000
    harness.wait_until(lambda: shown(browser))
    text, at = shown(browser)[0]
    assert text == f"{name} offre Lion x1" and browser.title != "pris"
    assert at - replied < 200, at - replied
    harness.wait_until(lambda: shown(browser)[-1][0] == "", 3)  # gone after its second
    assert 0.9 <= (shown(browser)[-1][1] - at) / 1000 <= 1.5
    browser.execute_script("window.seen = []")
    for viewer in ("un", "deux", "trois", "quatre", "cinq"):
        gift("Lion", viewer)
    harness.wait_until(lambda: len([t for t, _ in shown(browser) if t]) >= 5 and shown(browser)[-1][0] == "", 10)
    texts = [t for t, _ in shown(browser) if t]
    assert texts == [f"{v} offre Lion x1" for v in ("un", "deux", "trois", "quatre", "cinq")], texts


def alpha_at(screenshot, points):
    """The alpha of the screenshot's pixels at each point (x, y), decoded from the PNG."""
    data = base64.b64decode(screenshot)
    width, height, depth, kind = struct.unpack(">IIBB", data[16:26])
    assert depth == 8 and kind == 6, "an RGBA screenshot"
    raw, at = b"", 8
    while at < len(data):
        length, chunk = struct.unpack(">I4s", data[at:at + 8])
        raw += data[at + 8:at + 8 + length] if chunk == b"IDAT" else b""
        at += 12 + length
    pixels, stride, previous, rows = zlib.decompress(raw), width * 4, bytearray(width * 4), []
    for y in range(height):  # undoes PNG's filters
        kind, line = pixels[y * (stride + 1)], bytearray(pixels[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left, up = line[i - 4] if i >= 4 else 0, previous[i]
            corner = previous[i - 4] if i >= 4 else 0
            p = left + up - corner
            paeth = left if abs(p - left) <= abs(p - up) and abs(p - left) <= abs(p - corner) else up if abs(p - up) <= abs(p - corner) else corner
            line[i] = (line[i] + [0, left, up, (left + up) // 2, paeth][kind]) & 255
        rows.append(line)
        previous = line
    return [rows[y][x * 4 + 3] for x, y in points]


def test_around_the_card_the_overlay_is_transparent_and_its_image_shows(overlays):
    _, browser, folder = overlays
    open_alerts(browser)
    browser.execute_cdp_cmd("Emulation.setDefaultBackgroundColorOverride", {"color": {"r": 0, "g": 0, "b": 0, "a": 0}})
    gift("Rose", "al")
    harness.wait_until(lambda: shown(browser) and browser.execute_script(
        "const i = document.getElementById('alert-image'); return i.complete && i.naturalWidth > 0"))
    width, height = browser.execute_script("return [innerWidth, innerHeight]")
    image = browser.find_element(By.ID, "alert-image").rect
    shot = browser.get_screenshot_as_base64()
    harness.screenshot(browser, "overlay-alerts")
    corners = [(2, 2), (width - 3, 2), (2, height - 3), (width - 3, height - 3)]
    middle = (int(image["x"] + image["width"] / 2), int(image["y"] + image["height"] / 2))
    assert alpha_at(shot, corners + [middle]) == [0, 0, 0, 0, 255]  # the image is opaque


def test_the_goal_bar_fills_with_the_coins_and_its_action_runs_once(overlays):
    _, browser, folder = overlays
    request("POST", "/api/session/new", headers={"X-Page-Token": page_token()})
    browser.get("http://localhost:5000/overlay/goal?name=Sans%20les%20mains")
    filled = lambda: browser.execute_script(
        "const f = document.getElementById('goal-filled'); return f.getBoundingClientRect().width / f.parentElement.clientWidth")
    harness.wait_until(lambda: browser.find_element(By.ID, "goal-numbers").text == "0 / 1000")
    assert filled() == 0
    calls = _Service.calls.count("/goal")
    gift("Lion", "al", diamondCount=500)
    harness.wait_until(lambda: browser.find_element(By.ID, "goal-numbers").text == "500 / 1000")
    harness.wait_until(lambda: abs(filled() - 0.5) < 0.02)  # after its short transition
    assert _Service.calls.count("/goal") == calls
    for _ in range(2):
        gift("Lion", "al", diamondCount=500)
    harness.wait_until(lambda: browser.find_element(By.ID, "goal-numbers").text == "1000 / 1000")
    harness.wait_until(lambda: abs(filled() - 1) < 0.02)
    harness.wait_until(lambda: _Service.calls.count("/goal") == calls + 1)
    time.sleep(0.5)
    assert _Service.calls.count("/goal") == calls + 1
    harness.screenshot(browser, "overlay-goal")
    browser.get("http://localhost:5000/overlay/last")
    harness.wait_until(lambda: browser.find_element(By.ID, "last-gift").text == "Dernier cadeau : al - Lion x1")
    assert browser.find_element(By.ID, "top-viewer").text == "Top : al (1500 pieces)"
    harness.screenshot(browser, "overlay-last")


def test_from_the_network_an_overlay_needs_the_files_key(overlays):
    lan = "192.168.77.2"  # this machine's network address, in the suite's namespace
    for path, status in (("/overlay/alerts", 403), (f"/overlay/alerts?key={KEY}", 200), ("/overlay/alerts?key=x", 403),
                         (f"/overlay/images/rose.png?key={KEY}", 200), (f"/api/state?key={KEY}", 403)):
        assert status_of(path, lan, f"{lan}:5000") == status, path
    # A name that points here (DNS rebinding) is refused, even with the key.
    assert status_of(f"/overlay/alerts?key={KEY}", lan, "attaque.example:5000") == 403
    # From this machine, no key; but only the overlay's own page may open its stream.
    assert status_of("/overlay/alerts", "127.0.0.1", "localhost:5000") == 200
    assert upgrade_status("http://localhost:5000") == "101"
    assert upgrade_status("https://autre-site.example") == "403"


def status_of(path, address, host):
    connection = http.client.HTTPConnection(address, harness.PORT, timeout=10)
    connection.request("GET", path, headers={"Host": host})
    return connection.getresponse().status


def upgrade_status(origin):
    """The status a WebSocket handshake for the overlays' stream gets, sent from a page of `origin`."""
    with socket.create_connection(("127.0.0.1", harness.PORT), timeout=10) as connection:
        connection.sendall(("GET /overlay/stream HTTP/1.1\r\nHost: localhost:5000\r\nUpgrade: websocket\r\n"
                            "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                            "Sec-WebSocket-Key: MDEyMzQ1Njc4OWFiY2RlZg==\r\n"
                            f"Origin: {origin}\r\n\r\n").encode())
        return connection.recv(100).decode().split(" ")[1]


def test_the_pages_form_writes_an_alert_and_a_goal_into_the_file(overlays):
    _, browser, folder = overlays
    browser.get("http://localhost:5000/")
    harness.wait_until(lambda: browser.find_elements(By.CSS_SELECTOR, 'button[aria-label="Modifier Lion"]'))
    browser.find_element(By.CSS_SELECTOR, 'button[aria-label="Modifier Lion"]').click()
    assert browser.find_element(By.ID, "edit-alert").is_selected()
    text = browser.find_element(By.ID, "edit-alert-text")
    text.clear()
    text.send_keys("Merci {viewer} !")
    browser.find_element(By.CSS_SELECTOR, '#editor button[type="submit"]').click()
    for field, value in (("goal-name", "Cent likes"), ("goal-target", "100")):
        browser.find_element(By.ID, field).clear()
        browser.find_element(By.ID, field).send_keys(value)
    Select(browser.find_element(By.ID, "goal-counts")).select_by_value("likes")
    browser.find_element(By.CSS_SELECTOR, '#goal-form button[type="submit"]').click()
    written = lambda: json.loads((folder / harness.CONFIG_NAME).read_text())
    harness.wait_until(lambda: len(written().get("goals", [])) == 2)
    assert written()["gifts"]["Lion"]["alert"] == ALERT | {"text": "Merci {viewer} !"}
    assert written()["goals"] == CONFIG["goals"] + [{"name": "Cent likes", "counts": "likes", "target": 100}]


def test_an_overlay_follows_the_program_across_a_restart(overlays):
    program, browser, folder = overlays
    open_alerts(browser)
    program.stop()
    time.sleep(1)
    harness.wait_for_port_free()
    again = harness.Program(folder)
    try:
        again.wait_until_serving()
        started = time.time()
        harness.wait_until(lambda: gift("Lion", "revenu") and any("revenu" in t for t, _ in shown(browser)), 10)
        assert time.time() - started < 4  # reconnected within its 2 s, then the gift's alert
    finally:
        again.stop()
