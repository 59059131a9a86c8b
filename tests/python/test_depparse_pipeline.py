"""The default pipeline "tokenize,mwt,pos,lemma,depparse" from a model directory: every word of
every sentence gets a head and a relation, as the depparse processor alone gives them."""

import pytest

import _velmora

import depparse_bundle
import pos_bundle
import seq2seq_bundle
import seq2seq_test_data
from bundle_writer import write_index
from tokenizer_bundle import write_tokenizer_bundle

TEXT = "The dog saw a big cat. It runs!\n\nParis is red."


@pytest.fixture(scope="module")
def model_dir(tmp_path_factory):
    root = tmp_path_factory.mktemp("models")
    base = root / "1.14.0" / "en"
    chars = seq2seq_test_data.units()
    write_tokenizer_bundle(base / "tokenize_default")
    seq2seq_bundle.write_seq2seq_bundle(
        base / "mwt_default", chars, processor="mwt", copy=True, flat_vocab=True,
        extra_assets={"expansion_dict": seq2seq_test_data.MWT_DICT},
        extra_config={"dict_only": False, "ensemble_dict": True})
    seq2seq_bundle.write_seq2seq_bundle(
        base / "lemma_default", chars, processor="lemma", copy=True, edit=True, pos=True,
        extra_assets={"pos_dict": seq2seq_test_data.POS_DICT}, extra_config={"ensemble_dict": True})
    pos_bundle.write_pos_bundle(base / "pos_default")
    network = depparse_bundle.make_network(depparse_bundle.Settings(seed=9))
    depparse_bundle.write_depparse_bundle(base / "depparse_default", network)
    write_index(root, [{"processor": name, "package": "default", "path": f"{name}_default"}
                       for name in ("tokenize", "mwt", "pos", "lemma", "depparse")])
    return root


def trees(document):
    return [[(word.head, word.deprel) for word in sentence.words] for sentence in document.sentences]


def test_default_pipeline_parses_every_sentence(model_dir):
    pipeline = _velmora.Pipeline("en", model_dir=model_dir)
    document = pipeline(TEXT)
    assert len(document.sentences) >= 2
    for sentence in trees(document):
        heads = [head for head, _ in sentence]
        assert heads.count(0) == 1
        assert all(0 <= head <= len(sentence) and head != position
                   for position, head in enumerate(heads, start=1))
        assert all(relation not in ("<PAD>", "<UNK>", "<EMPTY>", "<ROOT>") for _, relation in sentence)

    # The stage alone, on the pipeline's own annotations, writes the same trees.
    stage = next(p for p in pipeline.processors if p.name == "depparse")
    assert trees(stage(document)) == trees(document)
    bulk = pipeline.bulk_process([TEXT, "A dog."])
    assert trees(bulk[0]) == trees(document)
