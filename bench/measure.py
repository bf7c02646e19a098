"""What the benchmarks read of a running program beside what the tests'
harness does: its process, memory and threads, and an X display for its keys."""

import os
import time

from tests.e2e import harness


def program_pid(program):
    """The process that runs the program itself: the program under Linux, the
    Windows process (not wine's launcher) under wine."""
    group = program.process.pid
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                command = f.read()
            if os.getpgid(int(entry)) == group and b"koravel-key-webhook" in command:
                if not harness.under_wine() or b".exe" in command.split(b"\0")[0]:
                    return int(entry)
        except (OSError, ProcessLookupError):
            continue
    return group


def status_kib(pid, field):
    """A size from the process's status, in KiB: VmRSS (resident now), VmHWM (at its peak)."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    return 0


def resident_kib(pid):
    return status_kib(pid, "VmRSS")


def wakeups(pid):
    """How many times the process's threads have been switched to so far (voluntary and involuntary)."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/status") as f:
                total += sum(int(line.split()[1]) for line in f if "ctxt_switches" in line)
        except OSError:
            continue  # a thread that ended meanwhile
    return total


def wakeups_per_second(pid, seconds=10):
    before = wakeups(pid)
    time.sleep(seconds)
    return (wakeups(pid) - before) / seconds


def thread_count(pid):
    return len(os.listdir(f"/proc/{pid}/task"))


def threads_fall_to(pid, limit, timeout):
    """Waits until the process has no more than `limit` threads; answers the last count seen."""
    deadline = time.monotonic() + timeout
    while True:
        count = thread_count(pid)
        if count <= limit or time.monotonic() > deadline:
            return count
        time.sleep(0.2)


def virtual_display_for_keys():
    """The Linux program presses its keys on the X display in DISPLAY: a
    virtual one of its own here, never the desktop's. Answers the Xvfb process
    to stop, or None under wine."""
    if harness.under_wine():
        return None
    server, os.environ["DISPLAY"] = harness.start_x_display()
    return server
