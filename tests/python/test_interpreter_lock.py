"""Pipeline processing detaches from the interpreter; document operations do not.

A helper thread counts while the main thread makes one call. With a switch interval far
longer than the test, the helper can only take the interpreter when the main thread lets
go of it, so its count moves during a call exactly when that call detaches.
"""

import sys
import threading

import pytest

from _velmora import Document, Pipeline

BIG_TEXT = "Velmora annotates text. " * 1_000_000


@pytest.fixture
def helper_progress():
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

    def during(call):
        before = count[0]
        call()
        return count[0] - before

    try:
        yield during
    finally:
        stop.set()
        sys.setswitchinterval(interval)
        helper.join()


@pytest.mark.skipif(not hasattr(sys, "setswitchinterval") or getattr(sys, "_is_gil_enabled", lambda: True)() is False,
                    reason="needs an interpreter with the GIL")
def test_other_threads_run_while_the_pipeline_processes_and_not_during_document_reads(helper_progress):
    pipeline = Pipeline("en", processors="")
    doc = Document(BIG_TEXT)
    assert helper_progress(lambda: doc.text) == 0
    assert helper_progress(lambda: Document(BIG_TEXT)) == 0
    assert helper_progress(lambda: pipeline(BIG_TEXT)) > 0
    assert helper_progress(lambda: pipeline.process([BIG_TEXT])) > 0
