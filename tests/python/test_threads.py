"""One pipeline, processor or model plan shared by several Python threads: each call, made by
six threads at once in different orders, gives what the same call gives when made alone. The
calls detach from the interpreter, so the threads really run the native code side by side;
every thread builds its own documents (a document must not be shared between running calls)."""

import random
import threading

import pytest
import torch

import example_models
import transformer_reference
from _velmora import (ByteBPETokenizer, CharLMPlan, CorefPlan, Document, MorphSegPlan, Pipeline, TransformerEncoder,
                      WordPieceTokenizer, XLMRobertaTokenizer)
from charlm_reference import CharLanguageModel, default_units, write_charlm_bundle
from coref_reference import CorefNetwork, CorefReference, document_words
from morphseg_bundle import morphseg_model, write_morphseg_bundle
from subword_arguments import configurations

TOKENIZER_CLASSES = {"wordpiece": WordPieceTokenizer, "bpe": ByteBPETokenizer, "unigram": XLMRobertaTokenizer}

THREADS = 6
ROUNDS = 3
TEXTS = ["The dog saw a big cat. It runs!\n\nParis is red.", "Obama visited Zürich in 2009.",
         "Don't stop the cats " * 8]


def result_of(value):
    """A comparable form of a call's result: documents by their full dictionary form and text,
    encodings and predictions by their fields, trees by their text."""
    if isinstance(value, Document):
        return ("document", value.text, value.to_dict(), value.to_conll())
    if isinstance(value, list):
        return [result_of(item) for item in value]
    for names in (("input_ids", "attention_mask", "word_ids"), ("word_clusters", "span_clusters", "zero_words")):
        if all(hasattr(value, name) for name in names):
            return tuple(getattr(value, name) for name in names)
    if value is None or isinstance(value, (str, int, float, tuple)):
        return value
    return repr(value)


def assert_same_in_threads(calls):
    """Runs every call alone, then in THREADS threads at once (each its own order, ROUNDS
    times), and compares each threaded result with the lone one."""
    alone = [result_of(call()) for call in calls]
    start = threading.Barrier(THREADS)
    failures = []

    def work(seed):
        order = list(range(len(calls))) * ROUNDS
        random.Random(seed).shuffle(order)
        start.wait()
        for index in order:
            try:
                got = result_of(calls[index]())
            except Exception as error:  # reported by the main thread
                failures.append((index, repr(error)))
                continue
            if got != alone[index]:
                failures.append((index, "differs"))

    threads = [threading.Thread(target=work, args=(seed,)) for seed in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


@pytest.fixture(scope="module", autouse=True)
def one_intra_op_thread():
    # The threads of the test are the concurrency under test; with one intra-op thread each call
    # splits its work the same way whichever thread makes it, so results compare exactly.
    threads = torch.get_num_threads()
    torch.set_num_threads(1)
    yield
    torch.set_num_threads(threads)


@pytest.fixture(scope="module")
def pipeline(example_model_dir):
    return Pipeline("en", processors=",".join(example_models.PROCESSORS), model_dir=example_model_dir)


def test_one_pipeline_in_many_threads(pipeline):
    assert_same_in_threads([
        lambda: pipeline(TEXTS[0]),
        lambda: pipeline.process(TEXTS[1]),
        lambda: pipeline(Document(TEXTS[2])),
        lambda: pipeline.process(TEXTS),
        lambda: pipeline.bulk_process([Document(text) for text in TEXTS]),
        lambda: pipeline.process_many(TEXTS[:2]),
    ])


def test_one_processor_in_many_threads(pipeline):
    stages = {processor.name: processor for processor in pipeline.processors}
    tokenized = [pipeline(text) for text in TEXTS[:2]]
    words = [[word.text for word in sentence.words] for doc in tokenized for sentence in doc.sentences]
    tags = [[word.upos for word in sentence.words] for doc in tokenized for sentence in doc.sentences]
    assert_same_in_threads([
        lambda: stages["langid"].identify_many(TEXTS),
        lambda: stages["tokenize"].predict_labels(TEXTS[1]),
        lambda: stages["tokenize"](Document(TEXTS[1])),
        lambda: stages["mwt"].expand("don't"),
        lambda: stages["lemma"].lemmatize("running", "VERB"),
        lambda: stages["ner"].tag(words[0]),
        lambda: stages["sentiment"].classify_many(words),
        lambda: stages["constituency"].parse_many(words, tags),
        lambda: stages["morphseg"].segment_many(words[0]),
    ])


def test_one_charlm_and_one_segmenter_in_many_threads(tmp_path):
    charlm = CharLMPlan(write_charlm_bundle(tmp_path / "charlm", CharLanguageModel(default_units(), seed=1), True))
    segmenter = MorphSegPlan(write_morphseg_bundle(tmp_path / "morphseg", *morphseg_model(seed=4)))
    words = ["abc", "déf", "日本", "unhappiness", "Cats", "re-do"] * 5
    assert_same_in_threads([
        lambda: charlm.encode(words),
        lambda: charlm.encode(words[:3]),
        lambda: segmenter.segment_many(words),
        lambda: segmenter.segment("unhappiness"),
    ])


@pytest.mark.parametrize("kind", sorted(TOKENIZER_CLASSES))
def test_one_subword_tokenizer_in_many_threads(kind):
    # A fresh tokenizer starts with an empty word cache, which the threads then fill together.
    tokenizer = TOKENIZER_CLASSES[kind](**configurations()[kind][0])
    sentences = [["Paris", "is", "unbreakable"], ["naïve", "café", "don't"] * 20, ["日本語", "x" * 300]]
    calls = [lambda words=words: tokenizer.encode(words) for words in sentences]
    if hasattr(tokenizer, "tokenize"):
        calls += [lambda words=words: tokenizer.tokenize(" ".join(words)) for words in sentences]
    assert_same_in_threads(calls)


def test_one_transformer_encoder_in_many_threads(package):
    encoder = TransformerEncoder(package, transformer_reference.wordpiece_vocabulary(), model_max_length=64)
    words = ["the", "cats", "running", "unbreakable", "dog", "xyz"]
    assert_same_in_threads([
        lambda: encoder.encode(words),
        lambda: encoder.encode(words * 8, True),
        lambda: encoder.tokenize(words),
        lambda: encoder.encode_ids([2, 8, 9, 40, 3]),
    ])


def test_one_coreference_plan_in_many_threads(package, tmp_path):
    network = CorefNetwork(hidden_layers=1, rough_k=4, singletons=True, full_pairwise=True, link_bias=-3.0, seed=11)
    reference = CorefReference(network, window=12, batch_size=3, use_zeros=True, word_table={"zebra": [37, 38]})
    plan = CorefPlan(reference.write(tmp_path / "coref", package.read_bytes()))
    sentences = [["the", "cat", "dog", "run"], ["a", "cat", "the", "dog", "x"], ["un", "dog", "cat"]]
    words, ids = document_words(sentences)
    assert_same_in_threads([
        lambda: plan.resolve(words, ids),
        lambda: plan.resolve(words[:4], ids[:4], ["ann"] * 4),
    ])
