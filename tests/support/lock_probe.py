"""Tells whether a call detaches from the interpreter.

A helper thread counts while the main thread makes one call. With a switch interval far
longer than the test, the helper can only take the interpreter when the main thread lets
go of it, so its count moves during a call exactly when that call detaches. This only
works on an interpreter with the GIL; `needs_gil` skips a test elsewhere.

A call that detaches may still end before the helper is scheduled, on a loaded machine
or for a quick call; `until_seen` repeats such a call until the helper counts or the
time runs out. A call that never detaches never lets the helper count, however often
it is repeated.
"""

import sys
import threading
import time

import pytest

needs_gil = pytest.mark.skipif(
    not hasattr(sys, "setswitchinterval") or getattr(sys, "_is_gil_enabled", lambda: True)() is False,
    reason="needs an interpreter with the GIL")


@pytest.fixture
def helper_progress():
    """A function that makes a call and returns how often the helper counted meanwhile."""
    interval = sys.getswitchinterval()
    stop = threading.Event()
    count = [0]

    def count_until_stopped():
        # Waiting lets go of the interpreter, so the main thread never waits for the helper.
        while not stop.wait(0.0002):
            count[0] += 1

    sys.setswitchinterval(30)
    helper = threading.Thread(target=count_until_stopped)
    helper.start()

    def during(call, until_seen=0.0):
        """Makes `call` once, or again and again for up to `until_seen` seconds while the
        helper has not counted, and returns the helper's count meanwhile."""
        before = count[0]
        deadline = time.monotonic() + until_seen
        call()
        while count[0] == before and time.monotonic() < deadline:
            call()
        return count[0] - before

    try:
        yield during
    finally:
        stop.set()
        sys.setswitchinterval(interval)
        helper.join()
