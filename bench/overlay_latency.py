"""Gift -> alert drawn on the alerts overlay, measured in the browser: for each gift, from the moment before its
request is sent to the frame after its card shows (both on this machine's clock); p50 and p99 over N gifts.
  bench/overlays.sh [PROGRAM] [--gifts N]"""

import argparse
import json
import statistics
import tempfile
import time
from pathlib import Path

from tests.e2e import harness
from tests.e2e.test_stream_overlays import WATCH
from tests.e2e.test_page import open_browser


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--gifts", type=int, default=100)
    args = parser.parse_args()
    folder = Path(tempfile.mkdtemp())
    harness.write_config(folder, {"token": "t", "gifts": {"Lion": {"action": "sound", "alert": {
        "text": "{viewer} offre {gift}", "seconds": 1}}}})
    program = harness.Program(folder)
    browser = None
    try:
        program.wait_until_serving()
        browser = open_browser()
        browser.get("http://localhost:5000/overlay/alerts")
        time.sleep(1)
        browser.execute_script(WATCH)
        delays = []
        for i in range(args.gifts):
            sent = time.time() * 1000
            harness.relay("POST", "/webhook", json.dumps({"giftName": "Lion", "uniqueId": f"v{i}"}), "application/json")
            text = f"v{i} offre Lion"
            harness.wait_until(lambda: any(t == text for t, _ in browser.execute_script("return window.seen")), 10)
            drawn = next(at for t, at in browser.execute_script("return window.seen") if t == text)
            delays.append(drawn - sent)
            harness.wait_until(lambda: browser.execute_script("return window.seen")[-1][0] == "", 5)  # the card went
        delays.sort()
        print(f"gift -> alert drawn over {len(delays)} gifts: p50 {statistics.median(delays):.1f} ms, "
              f"p99 {delays[min(len(delays) - 1, int(len(delays) * 0.99))]:.1f} ms, max {delays[-1]:.1f} ms")
    finally:
        if browser:
            browser.quit()
        program.stop()


if __name__ == "__main__":
    main()
