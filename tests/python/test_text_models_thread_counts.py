"""The tokenizer, the multi-word-token expander, the lemmatizer, the language identifier and the
morphological segmenter at realistic widths, on inputs that their calls cut into many units
(paragraphs in batches, length groups, decoding batches, marked tokens): the same results at 1, 2,
3 and 8 intra-op threads; and a document's result equals that of a list holding only it.
test_thread_counts.py covers every call of these models on short inputs."""

import random

import pytest
import torch

import seq2seq_bundle
import ud_corpus
from _velmora import (Document, LangIDProcessor, LemmaProcessor, MorphSegPlan, MorphSegProcessor, MWTProcessor,
                      TokenizeProcessor)
from langid_bundle import CHARACTERS, langid_model, write_langid_bundle
from morphseg_bundle import morphseg_model, write_morphseg_bundle
from seq2seq_test_data import units
from tokenizer_bundle import write_tokenizer_bundle

THREADS = [1, 2, 3, 8]
SAMPLE = ("The quick brown Fox didn't jump over the lazy dog. It costs $1,200.50 today!\n\n"
          "Call (555) 123-4567 now. Name: Jo wrote to jo@example.com on March 3, 2020. ")


def corpus_texts(count):
    corpus = ud_corpus.find_dev_corpus()
    if corpus is None:
        return [SAMPLE * (k % 4 + 1) for k in range(count)]
    texts = [line[len("# text = "):] for line in corpus.read_text(encoding="utf-8").splitlines()
             if line.startswith("# text = ")]
    # Paragraphs of a few sentences, blank lines between them; one text of many windows.
    return ["\n\n".join(" ".join(texts[k + j:k + j + 3]) for j in range(0, 9, 3)) for k in range(0, 9 * count, 9)] + [
        " ".join(texts[:60])]


@pytest.fixture(scope="module")
def models(tmp_path_factory):
    out = tmp_path_factory.mktemp("text_models")
    saved = torch.get_num_threads()
    torch.set_num_threads(1)
    try:
        texts = corpus_texts(12)
        chars = units()
        seq2seq = {"emb": 50, "hidden": 200, "copy": True, "edit": True, "max_dec_len": 20, "batch_size": 50}
        lemma = seq2seq_bundle.write_seq2seq_bundle(
            out / "lemma", chars, processor="lemma", pos=True, extra_assets={"pos_dict": {}}, **seq2seq)
        lemma_beam = seq2seq_bundle.write_seq2seq_bundle(
            out / "lemma_beam", chars, processor="lemma", pos=True, beam_size=3, extra_assets={"pos_dict": {}},
            **seq2seq)
        mwt = seq2seq_bundle.write_seq2seq_bundle(
            out / "mwt", chars, processor="mwt", flat_vocab=True, extra_assets={"expansion_dict": {"don't": "do n't"}},
            extra_config={"dict_only": False, "ensemble_dict": True, "force_exact_pieces": None}, **seq2seq)
        langid, langid_assets = langid_model(embedding_dim=150, hidden_dim=150)
        write_langid_bundle(out / "langid", langid, langid_assets)
        segmenter, segmenter_assets = morphseg_model(embedding_size=64, hidden_size=128, batch_size=512)
        write_morphseg_bundle(out / "morphseg", segmenter, segmenter_assets)
        tokenize = TokenizeProcessor(write_tokenizer_bundle(out / "tokenize", size="realistic",
                                                            calibration_texts=texts[:8]))
    finally:
        torch.set_num_threads(saved)
    rng = random.Random(3)
    words = [word for text in texts for word in text.split()][:300]
    tags = [rng.choice(seq2seq_bundle.UPOS) for _ in words]
    return {
        "texts": texts, "words": words, "tags": tags, "tokenize": tokenize,
        "documents": [tokenize.process(Document(text)) for text in texts[:6]],
        "mwt": MWTProcessor(mwt), "lemma": LemmaProcessor(lemma), "lemma_beam": LemmaProcessor(lemma_beam),
        "langid": LangIDProcessor(out / "langid"),
        "langid_texts": ["".join(rng.choice(CHARACTERS) for _ in range(rng.randint(10, 200))) for _ in range(60)]
                        + ["abc"] * 40,
        "morphseg": MorphSegProcessor(out / "morphseg"), "segmenter": MorphSegPlan(out / "morphseg"),
    }


def tagged(m, count=None):
    """Copies of the tokenized documents, each word marked as a multi-word token every few
    words, with a UPOS tag."""
    documents = []
    for document in m["documents"][:count]:
        form = document.to_dict()
        for k, word in enumerate(w for sentence in form for w in sentence):
            word["upos"] = m["tags"][k % len(m["tags"])]
            if k % 7 == 3:
                word["misc"] = "MWT=Yes"
        documents.append(Document.from_dict(form, text=document.text))
    return documents


def form(value):
    if isinstance(value, Document):
        return value.to_dict()
    if isinstance(value, list):
        return [form(item) for item in value]
    return value


CASES = {
    "tokenize process": lambda m: [m["tokenize"].process(Document(text)) for text in m["texts"]],
    "tokenize bulk_process": lambda m: m["tokenize"].bulk_process([Document(text) for text in m["texts"]]),
    "mwt process": lambda m: [m["mwt"].process(document) for document in tagged(m)],
    "lemma process": lambda m: [m["lemma"].process(document) for document in tagged(m)],
    "lemma bulk_process": lambda m: m["lemma"].bulk_process(tagged(m)),
    "lemma beam bulk_process": lambda m: m["lemma_beam"].bulk_process(tagged(m, 1)),
    "langid identify_many": lambda m: m["langid"].identify_many(m["langid_texts"]),
    "morphseg segment_many": lambda m: m["segmenter"].segment_many(m["words"]),
    "morphseg bulk_process": lambda m: m["morphseg"].bulk_process(tagged(m)),
}


@pytest.mark.parametrize("case", CASES)
def test_every_thread_count_gives_the_same_result(models, case):
    saved = torch.get_num_threads()
    results = {}
    try:
        for threads in THREADS:
            torch.set_num_threads(threads)
            results[threads] = form(CASES[case](models))
    finally:
        torch.set_num_threads(saved)
    for threads in THREADS[1:]:
        assert results[threads] == results[1], f"{case} at {threads} threads"


@pytest.mark.parametrize("stage,documents", [("tokenize", lambda m: [Document(t) for t in m["texts"]]),
                                             ("lemma", tagged), ("morphseg", tagged)])
def test_a_document_takes_the_path_of_a_list(models, stage, documents):
    processor = models[stage]
    for document, again in zip(documents(models), documents(models)):
        assert form(processor.process(document)) == form(processor.bulk_process([again])[0])
