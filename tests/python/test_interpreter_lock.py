"""Pipeline processing detaches from the interpreter; document operations do not."""

from _velmora import Document, Pipeline
from lock_probe import helper_progress, needs_gil  # noqa: F401  (fixture)

BIG_TEXT = "Velmora annotates text. " * 1_000_000


@needs_gil
def test_other_threads_run_while_the_pipeline_processes_and_not_during_document_reads(helper_progress):
    pipeline = Pipeline("en", processors="")
    doc = Document(BIG_TEXT)
    assert helper_progress(lambda: doc.text) == 0
    assert helper_progress(lambda: Document(BIG_TEXT)) == 0
    assert helper_progress(lambda: pipeline(BIG_TEXT), until_seen=10) > 0
    assert helper_progress(lambda: pipeline.process([BIG_TEXT]), until_seen=10) > 0
