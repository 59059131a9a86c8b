"""The named-entity tagger, the sentiment classifier, the constituency parser, the coreference
resolver and the transformer encoder give bit-identical results at 1, 2, 3 and 8 intra-op
threads: single inputs, lists and documents. The models have trained models' widths, where
multi-threaded matrix products would split their sums differently at each thread count."""

import random

import pytest
import torch

import constituency_bundle
import transformer_reference
from _velmora import (ConstituencyProcessor, CorefPlan, CorefProcessor, Document, NERProcessor, SentimentProcessor,
                      TransformerEncoder)
from aoti_packages import TinyEncoder, compile_package, encoder_dynamic_shapes, encoder_inputs
from coref_reference import CorefNetwork, CorefReference, document_words
from ner_bundle import NERSettings, NERTestModel, ner_assets, write_ner_bundle
from sentiment_bundle import SentimentModel, SentimentSettings, write_sentiment_bundle

THREAD_COUNTS = (1, 2, 3, 8)
WIDE = 128  # the compiled encoder's width


def comparable(value):
    if isinstance(value, Document):
        return value.to_dict(), value.to_conll()
    if isinstance(value, list):
        return [comparable(item) for item in value]
    if hasattr(value, "word_clusters"):
        return value.word_clusters, value.span_clusters, value.zero_words
    return value if isinstance(value, (int, float, str, tuple)) else str(value)


def sentences(count, seed, words=None):
    rng = random.Random(seed)
    letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
    word = (lambda: rng.choice(words)) if words else (lambda: "".join(rng.choice(letters)
                                                                      for _ in range(rng.randint(1, 9))))
    return [[word() for _ in range(rng.randint(3, 30))] for _ in range(count)]


def document(sentences_of, tags_of=None):
    """A document of the given words, each word its own token; with tags, as UPOS and XPOS."""
    tags_of = tags_of or [[None] * len(words) for words in sentences_of]
    return Document.from_dict([[{"id": i + 1, "text": word, **({"upos": tag, "xpos": tag} if tag else {})}
                                for i, (word, tag) in enumerate(zip(words, tags))]
                               for words, tags in zip(sentences_of, tags_of)])


@pytest.fixture(scope="module")
def wide_package(tmp_path_factory):
    return compile_package(TinyEncoder(hidden=WIDE, max_length=64), encoder_inputs([2, 8, 9, 40, 3]),
                           tmp_path_factory.mktemp("aoti"), key=f"encoder_{WIDE}",
                           dynamic_shapes=encoder_dynamic_shapes(64))


@pytest.fixture(scope="module")
def calls(tmp_path_factory, wide_package):
    """Name -> call, each on a model of realistic width."""
    directory = tmp_path_factory.mktemp("models")
    threads = torch.get_num_threads()
    torch.set_num_threads(1)
    try:
        ner = NERProcessor(write_ner_bundle(directory / "ner", NERTestModel(
            NERSettings(word_emb_dim=100, char_emb_dim=100, char_hidden_dim=100, hidden_dim=256), seed=3).eval()))
        model = NERTestModel(NERSettings(word_emb_dim=100, hidden_dim=256, charlm=True, input_transform=True,
                                         transformer_hidden=WIDE), seed=5).eval()
        assets = ner_assets(model, transformer_block=transformer_reference.wordpiece_block(hidden_size=WIDE))
        ner_extras = NERProcessor(write_ner_bundle(directory / "ner_extras", model, assets=assets,
                                                   artifacts={"model.pt2": wide_package.read_bytes()}))
        sentiment = SentimentProcessor(write_sentiment_bundle(directory / "sentiment", SentimentModel(
            SentimentSettings(embedding=100, bilstm_hidden=300, filters=(3, 4, 5), channels=100, maxpool=2,
                              fc_shapes=(400, 100)), seed=1).eval()))
        model, assets = constituency_bundle.make_model(
            tag_dim=20, layers=2, output_layers=3, seed=4,
            sizes={"pretrain_dim": 100, "delta_dim": 100, "transition_dim": 20, "hidden": 512,
                   "transition_hidden": 128, "output_width": 512})
        constituency = ConstituencyProcessor(constituency_bundle.write(directory / "constituency", model, assets))
        network = CorefNetwork(hidden=WIDE, hidden_layers=2, rough_k=12, singletons=True, full_pairwise=True,
                               scorer_width=256, span_widths=(128, 64, 32), link_bias=-1.0, seed=11)
        coref_bundle = CorefReference(network, window=24, batch_size=40, use_zeros=True).write(
            directory / "coref", wide_package.read_bytes())
        coref, coref_stage = CorefPlan(coref_bundle), CorefProcessor(coref_bundle)
        encoder = TransformerEncoder(wide_package, transformer_reference.wordpiece_vocabulary(), model_max_length=64)
    finally:
        torch.set_num_threads(threads)

    tokens = sentences(12, seed=5)
    known = sentences(10, seed=6, words=transformer_reference.WORDS)
    words = sentences(40, seed=7, words=constituency_bundle.PRETRAIN_WORDS + ["unseen", "Other"])
    tags = [[random.Random(len(w) + i).choice(constituency_bundle.TAGS) for i in range(len(w))] for w in words[:6]]
    coref_words, coref_ids = document_words(known)
    return {
        "ner tag": lambda: ner.tag(tokens[0]),
        "ner process": lambda: ner(document(tokens)),
        "ner bulk_process": lambda: ner.bulk_process([document(tokens[i:i + 5]) for i in range(0, 12, 5)]),
        "ner with transformer and charLMs": lambda: ner_extras.bulk_process([document(known[:3]), document(known)]),
        "sentiment classify": lambda: sentiment.classify(words[0]),
        "sentiment classify_many": lambda: sentiment.classify_many(words),
        "sentiment classify_many, small budget": lambda: sentiment.classify_many(words, 60),
        "sentiment bulk_process": lambda: sentiment.bulk_process([document(words[:25]), document(words[25:])]),
        "constituency parse": lambda: constituency.parse(words[0][:12], tags[0][:12]),
        "constituency parse_many": lambda: constituency.parse_many(words[:6], tags),
        "constituency bulk_process": lambda: constituency.bulk_process([document(words[:2], tags[:2]),
                                                                        document(words[2:6], tags[2:])]),
        "coref resolve": lambda: coref.resolve(coref_words, coref_ids),
        "coref process": lambda: coref_stage(document(known)),
        "transformer encode, windows": lambda: encoder.encode(transformer_reference.WORDS * 12, True),
        "transformer encode_ids": lambda: encoder.encode_ids([2] + list(range(8, 60)) + [3]),
    }


@pytest.mark.parametrize("name", [
    "ner tag", "ner process", "ner bulk_process", "ner with transformer and charLMs", "sentiment classify",
    "sentiment classify_many", "sentiment classify_many, small budget", "sentiment bulk_process",
    "constituency parse", "constituency parse_many", "constituency bulk_process", "coref resolve", "coref process",
    "transformer encode, windows", "transformer encode_ids",
])
def test_results_are_the_same_at_every_thread_count(calls, name):
    saved = torch.get_num_threads()
    results = []
    try:
        for threads in THREAD_COUNTS:
            torch.set_num_threads(threads)
            results.append(comparable(calls[name]()))
    finally:
        torch.set_num_threads(saved)
    assert all(result == results[0] for result in results[1:])
