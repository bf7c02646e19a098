"""The live's events other than named gifts, each driving its rule's keys, counted on the system's keyboard input."""

import concurrent.futures
import http.client
import json

import pytest

from . import harness
from .test_gifts import KeyLog

EVENTS = {"follow": {"action": "key", "target": "f"}, "share": {"action": "key", "target": "s"},
          "likes": {"action": "key", "target": "l", "every": 100},
          "chat": {"!saut": {"action": "key", "target": "j", "viewerCooldown": 60000}},
          "giftTiers": [{"minCoins": 500, "action": "key", "target": "u"}, {"minCoins": 10, "action": "key", "target": "t"}]}
CONFIG = {"token": "k0r4v3l-e2e", "gifts": {"Rose": {"action": "key", "target": "g"}}, "events": EVENTS}


@pytest.fixture
def live(tmp_path):
    keys = KeyLog(tmp_path)
    harness.write_config(tmp_path, CONFIG)
    harness.wait_for_port_free()
    program = harness.Program(tmp_path)
    program.wait_until_serving()
    yield tmp_path, program, keys
    program.stop()
    keys.process.kill()


def event(**fields):
    return json.loads(harness.relay("POST", "/webhook", json.dumps(fields), "application/json"))


def pressed(keys):
    """The keys pressed since the last call, by letter."""
    letter = (lambda vk: chr(vk).lower()) if harness.under_wine() else (lambda name: name)
    return sorted(letter(code if harness.under_wine() else name) for kind, name, code, _ in keys.events() if kind == "down")


def test_follows_shares_likes_chat_commands_and_tiers_of_coins_each_press_their_key(live):
    _, program, keys = live
    assert [event(event="follow", uniqueId="al")["message"] for _ in range(2)] == [
        "Key pressed successfully", "Event already counted"]
    event(event="social", data={"displayType": "pm_mt_guidance_share", "uniqueId": "al"})
    assert pressed(keys) == ["f", "s"]
    program.mark()
    for total in (40, 90, 130, 130, 250, 120):  # 40 is where counting starts: 100 and 200 are reached
        event(event="like", data={"totalLikeCount": total, "likeCount": 5})
    assert pressed(keys) == ["l", "l"]
    assert "Likes: 250 au total (palier de 100)" in program.since_mark()
    program.mark()
    for viewer in ("al", "al", "bo"):  # al's second is within the command's cooldown for each viewer
        event(event="chat", data={"uniqueId": viewer, "comment": "je veux un !SAUT stp"})
    assert pressed(keys) == ["j", "j"]
    assert program.since_mark().count("Commande chat: !saut de al") == 2
    program.mark()
    replies = [event(giftName="Caillou", diamondCount=1, uniqueId="cy", repeatCount=1, repeatEnd=True),
               event(giftName="Etoile", diamondCount=20, uniqueId="cy", repeatCount=1, repeatEnd=True),
               event(giftName="Lion", diamondCount="99", uniqueId="dy", repeatCount=10, repeatEnd=True),
               event(giftName="Rose", diamondCount=5000, uniqueId="dy")]  # a named gift keeps its own rule
    assert [reply["message"] for reply in replies] == ["Gift not configured"] + ["Key pressed successfully"] * 3
    assert pressed(keys) == ["g", "t", "u"]
    assert "Cadeau recu: Lion x10 de dy (990 pieces, palier de 500)" in program.since_mark()


def test_likes_heard_before_a_start_run_nothing_and_unconfigured_joins_say_one_line(live):
    _, program, keys = live
    event(event="like", totalLikeCount=5300)  # a start in the middle of a stream
    assert pressed(keys) == []
    event(event="like", totalLikeCount=5400)
    assert pressed(keys) == ["l"]
    program.mark()

    def joins(first):
        connection = http.client.HTTPConnection("127.0.0.1", harness.PORT, timeout=30)
        for n in range(first, first + 125):
            connection.request("POST", "/webhook", json.dumps({"event": "join", "uniqueId": f"v{n}"}),
                               {"Content-Type": "application/json"})
            reply = connection.getresponse()
            assert json.loads(reply.read()) == {"message": "Event not configured"}
        connection.close()

    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        list(pool.map(joins, range(0, 1000, 125)))
    assert pressed(keys) == []
    assert [line for line in program.since_mark() if "join" in line] == [
        "Evenement non configure: join (les suivants du meme genre ne sont pas affiches pendant 1 minute)"]
