"""Every model gives bit-identical results at 1, 2, 3 and 8 intra-op threads: the whole pipeline
on one text, a list of texts and a document, each processor on pre-split documents alone and as a
list, and every model plan and standalone class, on models of trained models' widths (wide enough
for the tensor library to split their products between threads). Documents compare by everything
they carry, floats by their bits."""

import contextlib

import pytest
import torch

import wide_models
from _velmora import (ByteBPETokenizer, CharLMPlan, CorefPlan, Document, MorphSegPlan, Pipeline, TransformerEncoder,
                      WordPieceTokenizer, XLMRobertaTokenizer)
from charlm_reference import CharLanguageModel, default_units, write_charlm_bundle
from coref_reference import document_words
from subword_arguments import configurations
from transformer_reference import wordpiece_vocabulary

THREAD_COUNTS = (1, 2, 3, 8)
TEXTS = ["The committee didn't approve the budget on Tuesday. Its members said the plan, which would cost "
         "$4.5 million, was far too vague.\n\nThey'll meet again in March, after the elections in Ohio and Texas.",
         "I can't believe the new library opened so late! My sister borrowed three books about birds, and we "
         "read them all weekend. Does anyone know when the café next door closes?"]
TOKENIZERS = {"wordpiece": WordPieceTokenizer, "bpe": ByteBPETokenizer, "unigram": XLMRobertaTokenizer}


@contextlib.contextmanager
def intra_op_threads(count):
    saved = torch.get_num_threads()
    torch.set_num_threads(count)
    try:
        yield
    finally:
        torch.set_num_threads(saved)


def exact(value):
    """A form of a result that compares equal only when the results are identical: floats by
    their bits, documents by their text, language, words, CoNLL-U and sentence annotations."""
    if isinstance(value, float):
        return value.hex()
    if isinstance(value, Document):
        sentences = [(sentence.sentiment, str(sentence.constituency)) for sentence in value.sentences]
        return value.text, value.lang, value.to_dict(), value.to_conll(), sentences
    if isinstance(value, (list, tuple)):
        return [exact(item) for item in value]
    for names in (("input_ids", "attention_mask", "word_ids"), ("word_clusters", "span_clusters", "zero_words")):
        if all(hasattr(value, name) for name in names):
            return [getattr(value, name) for name in names]
    return value if value is None or isinstance(value, (str, int)) else str(value)


class Models:
    """The wide models, the pipeline over them, and the inputs of every stage (each stage's
    input documents as the pipeline gives them at one thread, kept in dictionary form so that
    every call gets fresh documents)."""

    def __init__(self, root):
        encoder = wide_models.encoder_package(root)
        self.model_dir = wide_models.write(root / "models", TEXTS, encoder.read_bytes())
        bundles = self.model_dir / "1.14.0" / "en"
        self.pipeline = Pipeline("en", processors=",".join(wide_models.PROCESSORS), model_dir=self.model_dir)
        self.stages = {stage.name: stage for stage in self.pipeline.processors}
        self.inputs = {}
        documents = [Document(text) for text in TEXTS]
        for stage in self.pipeline.processors:
            self.inputs[stage.name] = [(document.to_dict(), document.text) for document in documents]
            documents = [stage(document) for document in documents]
        self.sentences = [[word.text for word in sentence.words] for d in documents for sentence in d.sentences]
        self.upos = [[word.upos for word in sentence.words] for d in documents for sentence in d.sentences]
        self.tokens = [token.text for d in documents for token in d.iter_tokens()]
        self.charlms = [CharLMPlan(write_charlm_bundle(
            root / f"charlm_{forward}", CharLanguageModel(default_units(), embedding=100,
                                                          hidden=wide_models.CHARLM_HIDDEN, layers=1, seed=7),
            forward)) for forward in (True, False)]
        self.segmenter = MorphSegPlan(bundles / "morphseg_default")
        self.coref = CorefPlan(bundles / "coref_default")
        self.encoder = TransformerEncoder(encoder, wordpiece_vocabulary(), model_max_length=64)

    def documents(self, stage):
        """Fresh copies of `stage`'s input documents: pre-split from the tokenizer on."""
        if stage in ("langid", "tokenize"):
            return [Document(text) for text in TEXTS]
        return [Document.from_dict(sentences, text) for sentences, text in self.inputs[stage]]

    def words(self):
        return [word for sentence in self.sentences for word in sentence]


def stage_cases():
    cases = {}
    for name in wide_models.PROCESSORS:
        cases[f"{name} process"] = lambda m, name=name: [m.stages[name](d) for d in m.documents(name)]
        cases[f"{name} bulk_process"] = lambda m, name=name: m.stages[name].bulk_process(m.documents(name))
    return cases


CASES = {
    "pipeline, one text": lambda m: m.pipeline(TEXTS[0]),
    "pipeline, list of texts": lambda m: m.pipeline(TEXTS),
    "pipeline, document": lambda m: m.pipeline(Document(TEXTS[1])),
    **stage_cases(),
    "langid identify": lambda m: [m.stages["langid"].identify(text) for text in TEXTS],
    "langid identify_many": lambda m: m.stages["langid"].identify_many(TEXTS),
    "tokenize predict_labels": lambda m: m.stages["tokenize"].predict_labels(TEXTS[1]),
    "mwt expand": lambda m: [m.stages["mwt"].expand(token) for token in m.tokens],
    "lemma lemmatize": lambda m: [m.stages["lemma"].lemmatize(w, u) for w, u in zip(m.words(), sum(m.upos, []))],
    "ner tag": lambda m: [m.stages["ner"].tag(sentence) for sentence in m.sentences],
    "sentiment classify": lambda m: [m.stages["sentiment"].classify(sentence) for sentence in m.sentences],
    "sentiment classify_many": lambda m: m.stages["sentiment"].classify_many(m.sentences),
    "constituency parse": lambda m: [m.stages["constituency"].parse(s, t) for s, t in zip(m.sentences, m.upos)],
    "constituency parse_many": lambda m: m.stages["constituency"].parse_many(m.sentences, m.upos),
    "morphseg segment": lambda m: [m.stages["morphseg"].segment(word) for word in m.words()],
    "morphseg segment_many": lambda m: m.stages["morphseg"].segment_many(m.words()),
    "CharLMPlan forward": lambda m: [m.charlms[0].encode(sentence) for sentence in m.sentences],
    "CharLMPlan backward": lambda m: m.charlms[1].encode(m.words()),
    "MorphSegPlan": lambda m: [m.segmenter.segment(m.words()[0]), m.segmenter.segment_many(m.words())],
    "CorefPlan": lambda m: m.coref.resolve(*document_words(m.sentences)),
    "TransformerEncoder encode": lambda m: m.encoder.encode(m.sentences[0]),
    "TransformerEncoder windows": lambda m: m.encoder.encode([w.lower() for w in m.words()], True),
    "TransformerEncoder encode_ids": lambda m: m.encoder.encode_ids([2] + list(range(4, 64)) + [3]),
    **{f"{kind} tokenizer": lambda m, kind=kind: [
        TOKENIZERS[kind](**configurations()[kind][0]).encode(sentence) for sentence in m.sentences]
       for kind in TOKENIZERS},
}


@pytest.fixture(scope="module")
def models(tmp_path_factory):
    with intra_op_threads(1):
        return Models(tmp_path_factory.mktemp("wide_models"))


@pytest.mark.parametrize("case", list(CASES))
def test_the_same_results_at_every_thread_count(models, case):
    results = {}
    for count in THREAD_COUNTS:
        with intra_op_threads(count):
            results[count] = exact(CASES[case](models))
    assert [count for count in THREAD_COUNTS if results[count] != results[1]] == []
