"""The depparse processor from Python: a bundle loaded by path annotates tagged documents as the
PyTorch reference parses them."""

import pytest

import _velmora
from _velmora import Document

import depparse_bundle
import depparse_reference

SENTENCES = [
    [{"id": 1, "text": "The", "lemma": "the", "upos": "DET", "xpos": "DT"},
     {"id": 2, "text": "dog", "lemma": "dog", "upos": "NOUN", "xpos": "NN"},
     {"id": 3, "text": "saw", "lemma": "see", "upos": "VERB", "xpos": "VBD"},
     {"id": 4, "text": "?!", "upos": "PUNCT"}],
    [{"id": 1, "text": "cat", "xpos": "NN"}, {"id": 2, "text": "runs", "lemma": "run", "upos": "VERB"}],
]


@pytest.fixture(scope="module")
def parser(tmp_path_factory):
    network = depparse_bundle.make_network(depparse_bundle.Settings(seed=21))
    path = depparse_bundle.write_depparse_bundle(tmp_path_factory.mktemp("depparse") / "bundle", network)
    return network, _velmora.DepparseProcessor(path)


def expected(network, sentence):
    words = [{"text": w["text"], "lemma": w.get("lemma"), "upos": w.get("upos"), "xpos": w.get("xpos")}
             for w in sentence]
    return [(head, relation) for head, relation in depparse_reference.reference_parse(network, words)[2]]


def parsed(document):
    return [[(word.head, word.deprel) for word in sentence.words] for sentence in document.sentences]


def test_processor_parses_like_the_reference(parser):
    network, processor = parser
    assert processor.implemented and processor.bundle_path is not None
    document = Document.from_dict(SENTENCES)
    result = processor(document)
    assert parsed(result) == [expected(network, sentence) for sentence in SENTENCES]
    # The document is annotated in place: the caller's handle sees the heads.
    assert parsed(document) == parsed(result)
    bulk = processor.bulk_process([Document.from_dict(SENTENCES[1:]), Document.from_dict(SENTENCES)])
    assert parsed(bulk[0]) == [expected(network, SENTENCES[1])]
    assert parsed(bulk[1]) == parsed(result)


def test_processor_refuses_untagged_words(parser):
    _, processor = parser
    with pytest.raises(_velmora.DepparseModelError, match="POS must run before depparse"):
        processor(Document.from_dict([[{"id": 1, "text": "dog"}]]))
