"""The part-of-speech tagger and the dependency parser give bit-identical annotations at 1, 2, 3
and 8 intra-op threads: one sentence, a document, and a list of documents. The models have
trained models' widths (400-unit parser layers, 1024-unit character language models), where
multi-threaded matrix products would split their sums differently at each thread count."""

import random

import pytest
import torch

import depparse_bundle
import pos_bundle
from _velmora import DepparseProcessor, Document, POSProcessor
from bundle_writer import write_bundle

THREAD_COUNTS = (1, 2, 3, 8)
CHARLM = (100, 1024)
POS_DIMS = {"word_emb_dim": 75, "pretrain_dim": 100, "transformed_dim": 125, "char_emb_dim": 100,
            "char_hidden_dim": 400, "hidden_dim": 200, "tag_emb_dim": 50, "upos_hid": 400, "xpos_hid": 400,
            "feats_hid": 400}
PARSER = dict(word_emb_dim=75, tag_emb_dim=50, transformed_dim=125, char_emb_dim=100, char_hidden_dim=400,
              hidden_dim=400, num_layers=3, deep_biaff_hidden_dim=400, pretrain_dim=100, seed=1)


def sentences(count, seed):
    """Sentences of 2 to 40 tagged words, known and unknown ones."""
    rng = random.Random(seed)
    words = depparse_bundle.WORDS + ["Paris", "zebra", "?!", "runs"]
    return [[{"text": rng.choice(words), "upos": rng.choice(depparse_bundle.UPOS[:-1]),
              "xpos": rng.choice(depparse_bundle.XPOS[:-1])} for _ in range(rng.randint(2, 40))] for _ in range(count)]


def document(sentences_of):
    return Document.from_dict([[{"id": i + 1, **word} for i, word in enumerate(words)] for words in sentences_of])


def annotations(documents):
    return [[[(w.upos, w.xpos, w.feats, w.head, w.deprel) for w in s.words] for s in d.sentences] for d in documents]


@pytest.fixture(scope="module")
def processors(tmp_path_factory):
    directory = tmp_path_factory.mktemp("models")
    threads = torch.get_num_threads()
    torch.set_num_threads(1)
    try:
        result = {}
        for name, charlm in (("", False), (" with charLMs", True)):
            setup = pos_bundle.PosSetup(charlm=charlm, charlm_size=CHARLM, dims=POS_DIMS, extra_words=500)
            tagger, forward, backward, assets = pos_bundle.build_tagger(setup)
            result["pos" + name] = POSProcessor(write_bundle(
                directory / f"pos{int(charlm)}", pos_bundle.tagger_tensors(tagger, forward, backward), assets,
                processor="pos"))
            settings = depparse_bundle.Settings(charlm=charlm, charlm_size=CHARLM, **PARSER)
            result["depparse" + name] = DepparseProcessor(depparse_bundle.write_depparse_bundle(
                directory / f"depparse{int(charlm)}", depparse_bundle.make_network(settings)))
    finally:
        torch.set_num_threads(threads)
    return result


@pytest.mark.parametrize("model", ["pos", "pos with charLMs", "depparse", "depparse with charLMs"])
@pytest.mark.parametrize("call", ["one sentence", "document", "list"])
def test_annotations_are_the_same_at_every_thread_count(processors, model, call):
    processor = processors[model]
    text = sentences(20, seed=len(model))
    run = {"one sentence": lambda: [processor(document(text[:1]))],
           "document": lambda: [processor(document(text))],
           "list": lambda: processor.bulk_process([document(text[:3]), document([]), document(text[3:])])}[call]
    saved = torch.get_num_threads()
    results = []
    try:
        for threads in THREAD_COUNTS:
            torch.set_num_threads(threads)
            results.append(annotations(run()))
    finally:
        torch.set_num_threads(saved)
    assert all(result == results[0] for result in results[1:])
