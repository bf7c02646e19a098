"""Benchmarks of the running program; they print figures and judge nothing.

  bench/basics.sh [PROGRAM]

- memory: the program's resident size before and after a stream of requests
  whose bodies are far over the 64 KiB limit (they must be refused without
  the program growing);
- latency: the time to answer gifts that need no action, one after another;
- burst: 40 key gifts sent at once, how many are answered and how long the
  last one took.
"""

import http.client
import os
import socket
import statistics
import subprocess
import tempfile
import threading
import time

from bench import measure
from tests.e2e import harness



def oversized(size):
    with socket.create_connection(("127.0.0.1", harness.PORT), timeout=10) as s:
        s.sendall(b"POST /webhook HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                  b"Content-Length: %d\r\n\r\n" % size)
        chunk = b"x" * 65536
        try:
            for _ in range(size // len(chunk)):
                s.sendall(chunk)
        except OSError:
            pass  # refused early: the server closed the connection
        try:
            return s.recv(64).split(b"\r\n", 1)[0]
        except OSError:
            return b"(reset)"


def main():
    folder = tempfile.mkdtemp(prefix="koravel-bench-")
    harness.write_config(folder, {"token": "t", "gifts": {"Rose": {"action": "key", "target": "g"}}})
    program = harness.Program(folder)
    try:
        program.wait_until_serving()
        pid = program.process.pid
        time.sleep(0.5)
        before = measure.resident_kib(pid)
        statuses = {}
        for _ in range(200):
            line = oversized(4 * 1024 * 1024)
            statuses[line] = statuses.get(line, 0) + 1
        after = measure.resident_kib(pid)
        print(f"memory: {before} KiB before, {after} KiB after 200 requests of 4 MiB each; answers {statuses}")

        times = []
        connection = http.client.HTTPConnection("127.0.0.1", harness.PORT)
        for _ in range(2000):
            started = time.perf_counter()
            connection.request("POST", "/webhook?giftName=Nobody")
            connection.getresponse().read()
            times.append(time.perf_counter() - started)
        connection.close()
        times.sort()
        print("latency of 2000 gifts not configured, one connection: median %.3f ms, p99 %.3f ms, max %.3f ms"
              % (statistics.median(times) * 1e3, times[int(len(times) * 0.99)] * 1e3, times[-1] * 1e3))

        answered = []
        barrier = threading.Barrier(40)

        def send():
            barrier.wait()
            started = time.perf_counter()
            try:
                harness.post_gift("Rose", timeout=60)
                answered.append(time.perf_counter() - started)
            except OSError:
                pass

        threads = [threading.Thread(target=send) for _ in range(40)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        print("burst of 40 key gifts at once: %d answered, slowest in %.0f ms" % (len(answered), max(answered) * 1e3))
    finally:
        program.stop()
        subprocess.run(["rm", "-rf", folder])


if __name__ == "__main__":
    main()
