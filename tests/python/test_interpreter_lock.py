"""Every call that runs a model or the pipeline detaches from the interpreter, whichever form its
argument takes; loading, properties and document operations keep it."""

from functools import partial

import pytest

import example_models
from _velmora import Document, LemmaProcessor, Pipeline
from lock_probe import helper_progress, needs_gil  # noqa: F401  (fixture)

BIG_TEXT = "Velmora annotates text. " * 1_000_000
TEXT = "The dog saw a big cat. It runs!"
WORDS = ["The", "dog", "saw", "a", "big", "cat", "."]
TAGS = ["DET", "NOUN", "VERB", "DET", "ADJ", "NOUN", "PUNCT"]


@pytest.fixture(scope="module")
def model_dir(example_model_dir):
    return example_model_dir


@pytest.fixture(scope="module")
def pipeline(model_dir):
    return Pipeline("en", processors=",".join(example_models.PROCESSORS), model_dir=model_dir)


@pytest.fixture(scope="module")
def stages(pipeline):
    return {processor.name: processor for processor in pipeline.processors}


# The members that run a model or the pipeline, each with one call of it. Arguments are made
# beforehand, so that only the member itself runs while the helper watches.
DETACHING = {
    "Processor.process": lambda p, s: partial(s["tokenize"].process, Document(TEXT)),
    "Processor.__call__": lambda p, s: partial(s["pos"], p(TEXT)),
    "Processor.bulk_process": lambda p, s: partial(s["depparse"].bulk_process, [p(TEXT), p(TEXT)]),
    "LangIDProcessor.identify": lambda p, s: partial(s["langid"].identify, TEXT),
    "LangIDProcessor.identify_many": lambda p, s: partial(s["langid"].identify_many, [TEXT, TEXT]),
    "TokenizeProcessor.predict_labels": lambda p, s: partial(s["tokenize"].predict_labels, TEXT),
    "MWTProcessor.expand": lambda p, s: partial(s["mwt"].expand, "don't"),
    "LemmaProcessor.lemmatize": lambda p, s: partial(s["lemma"].lemmatize, "running", "VERB"),
    "NERProcessor.tag": lambda p, s: partial(s["ner"].tag, WORDS),
    "SentimentProcessor.classify": lambda p, s: partial(s["sentiment"].classify, WORDS),
    "SentimentProcessor.classify_many": lambda p, s: partial(s["sentiment"].classify_many, [WORDS, WORDS]),
    "ConstituencyProcessor.parse": lambda p, s: partial(s["constituency"].parse, WORDS, TAGS),
    "ConstituencyProcessor.parse_many": lambda p, s: partial(s["constituency"].parse_many, [WORDS], [TAGS]),
    "MorphSegProcessor.segment": lambda p, s: partial(s["morphseg"].segment, "unhappiness"),
    "MorphSegProcessor.segment_many": lambda p, s: partial(s["morphseg"].segment_many, WORDS),
    "Pipeline.process(text)": lambda p, s: partial(p.process, TEXT),
    "Pipeline.process(document)": lambda p, s: partial(p.process, Document(TEXT)),
    "Pipeline.process(texts)": lambda p, s: partial(p.process, [TEXT]),
    "Pipeline.process(documents)": lambda p, s: partial(p.process, [Document(TEXT)]),
    # __call__, bulk_process and process_many are bound to the same four functions as process.
    "Pipeline.__call__(texts)": lambda p, s: partial(p, (TEXT,)),
    "Pipeline.bulk_process(documents)": lambda p, s: partial(p.bulk_process, [Document(TEXT)]),
    "Pipeline.process_many(texts)": lambda p, s: partial(p.process_many, [TEXT]),
}

# Loading, properties and document operations: none of them lets another thread run.
ATTACHED = {
    "Pipeline construction with models": lambda p, s, d: Pipeline("en", "tokenize,mwt,pos", model_dir=d),
    "processor construction": lambda p, s, d: LemmaProcessor(s["lemma"].bundle_path),
    "Pipeline.processors": lambda p, s, d: p.processors,
    "Processor.bundle_path": lambda p, s, d: s["ner"].bundle_path,
    "Document from text": lambda p, s, d: Document(BIG_TEXT),
    "Document.text": lambda p, s, d: d.text,
    "Document.to_dict": lambda p, s, d: d.to_dict(),
    "Document.to_conll": lambda p, s, d: d.to_conll(),
    "Document.from_dict": lambda p, s, d: Document.from_dict([[{"id": i + 1, "text": "w"} for i in range(20000)]]),
}


@needs_gil
@pytest.mark.parametrize("member", DETACHING)
def test_model_and_pipeline_calls_let_other_threads_run(helper_progress, pipeline, stages, member):
    call = DETACHING[member](pipeline, stages)
    assert helper_progress(call, until_seen=10) > 0


@needs_gil
@pytest.mark.parametrize("member", ATTACHED)
def test_loading_properties_and_document_operations_keep_the_interpreter(helper_progress, pipeline, stages,
                                                                          model_dir, member):
    call = ATTACHED[member]
    document = pipeline(TEXT)
    argument = model_dir if member.startswith("Pipeline construction") else document
    assert helper_progress(lambda: call(pipeline, stages, argument)) == 0


@needs_gil
def test_a_long_text_lets_other_threads_run_while_a_model_less_pipeline_splits_nothing(helper_progress):
    pipeline = Pipeline("en", processors="")
    assert helper_progress(lambda: pipeline(BIG_TEXT), until_seen=10) > 0
    assert helper_progress(lambda: pipeline.process([BIG_TEXT]), until_seen=10) > 0
