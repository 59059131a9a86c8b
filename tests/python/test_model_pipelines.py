"""Pipelines built from one model directory of seeded bundles (tokenizer, POS tagger, NER tagger,
sentiment classifier, dependency parser), each stage checked against its PyTorch reference on the
same bundle, in a pipeline and as a processor on its own."""

import pytest

import _velmora
import depparse_bundle
import depparse_reference
import ner_reference
import sentiment_reference
from bundle_writer import write_bundle, write_index
from ner_bundle import NERSettings, NERTestModel, write_ner_bundle
from pos_bundle import PosSetup, build_tagger, tagger_tensors
from pos_reference import reference_tags
from sentiment_bundle import SentimentModel, SentimentSettings, write_sentiment_bundle
from tokenizer_bundle import write_tokenizer_bundle
from tokenizer_reference import ReferenceTokenizer

TEXTS = [
    "The quick brown fox jumps over the lazy dog. It costs $1,200.50 today!",
    "Call (555) 123-4567 now.\n\nWrite to jo@example.com or see https://example.org/a?b=c.",
    "Zoë’s café serves crème brûlée — naïvely priced at €5.",
    "短い文です。もう一つ。",
]
NER_TEXTS = ["Obama visited Paris in 2009. The ACME office in Berlin said nothing!", "Zürich école ist schön. x"]
POS_TEXTS = ["The cat sat on the mat. A big dog runs!", "New York and Paris?! The red cat."]
SENTIMENT_TEXTS = ["The movie was good. It was not boring!", "Paris dogs' film was bad.\n\nNew York was fun.", ""]
SENTENCES = [["the", "movie", "was", "good"], ["PARIS", "dogs'"], [], ["fun"] * 9, ["not", "boring", "film"]]


class Models:
    """The model directory, the path of each bundle and the reference models."""

    def __init__(self, root):
        self.root, self.base = root, root / "1.14.0" / "en"
        self.tokenizer = ReferenceTokenizer(write_tokenizer_bundle(self.base / "tokenize_default", seed=3))
        self.pos = build_tagger(PosSetup(composite=True, seed=13))
        tagger, forward, backward, assets = self.pos
        write_bundle(self.base / "pos_default", tagger_tensors(tagger, forward, backward), assets, processor="pos")
        self.ner = NERTestModel(NERSettings(tag_sets=3, predict_tagset=2), seed=4).eval()
        write_ner_bundle(self.base / "ner_default", self.ner)
        self.sentiment = SentimentModel(SentimentSettings(
            method="CONCAT", extra_dim=3, lower=True, bilstm_hidden=3, filters=(2, (3, 3)), channels=4,
            fc_shapes=(5,)), seed=21).eval()
        sentiment_reference.centre_classes(self.sentiment, SENTENCES + [text.split() for text in SENTIMENT_TEXTS])
        write_sentiment_bundle(self.base / "sentiment_default", self.sentiment)
        self.depparse = depparse_bundle.make_network(depparse_bundle.Settings(seed=21))
        depparse_bundle.write_depparse_bundle(self.base / "depparse_default", self.depparse)
        write_index(root, [{"processor": p, "package": "default", "path": f"{p}_default"}
                           for p in ("tokenize", "pos", "ner", "sentiment", "depparse")])

    def pipeline(self, processors):
        return _velmora.Pipeline("en", processors=processors, model_dir=self.root)


@pytest.fixture(scope="module")
def models(tmp_path_factory):
    return Models(tmp_path_factory.mktemp("models"))


def tokens_of(doc):
    return [[(token.text, token.start_char, token.end_char) for token in sentence.tokens]
            for sentence in doc.sentences]


def token_texts(doc):
    return [[token.text for token in sentence.tokens] for sentence in doc.sentences]


def test_tokenize_pipeline_tokenizes_like_the_reference(models):
    pipeline = models.pipeline("tokenize")
    for text in TEXTS:
        doc = pipeline(text)
        assert doc.text == text and doc.lang == "en"
        assert tokens_of(doc) == [[(token.text, token.start, token.end) for token in sentence]
                                  for sentence in models.tokenizer.process(text)]
    docs = pipeline(TEXTS)
    assert [tokens_of(doc) for doc in docs] == [tokens_of(pipeline(text)) for text in TEXTS]
    assert [doc.to_conll() for doc in pipeline.bulk_process(TEXTS)] == [doc.to_conll() for doc in docs]


def test_tokenize_processor_predicts_one_label_per_unit(models):
    processor = _velmora.TokenizeProcessor(models.base / "tokenize_default")
    assert processor.implemented
    labels = processor.predict_labels("Hello there. Bye!")
    assert len(labels) == len("Hello there. Bye!")
    assert set(labels) <= {0, 1, 2, 3, 4}
    with pytest.raises(_velmora.TokenizerModelError, match="one tokenizer paragraph"):
        processor.predict_labels("One.\n\nTwo.")


def field(value):
    return "_" if value is None else value


def check_pos_tags(doc, models):
    assert doc.sentences
    for sentence in doc.sentences:
        expected = reference_tags(*models.pos, [word.text for word in sentence.words])
        assert [(field(w.upos), field(w.xpos), field(w.feats)) for w in sentence.words] == expected


def test_pos_pipeline_and_processor_tag_like_the_reference(models):
    pipeline = models.pipeline("tokenize,pos")
    for doc in [pipeline(text) for text in POS_TEXTS] + pipeline.bulk_process(POS_TEXTS):
        check_pos_tags(doc, models)
    stage = _velmora.POSProcessor(models.base / "pos_default", verify_checksums=True)
    assert stage.implemented and stage.bundle_path == models.base / "pos_default"
    doc = models.pipeline("tokenize")(POS_TEXTS[0])
    assert stage(doc) is not None
    check_pos_tags(doc, models)  # tagged in place
    with pytest.raises(_velmora.POSModelError, match="^expected a POS bundle, got 'tokenize'$"):
        _velmora.POSProcessor(models.base / "tokenize_default")


def test_ner_pipeline_tags_tokens_and_builds_spans_like_the_reference(models):
    pipeline = models.pipeline("tokenize,ner")
    for doc in [pipeline(text) for text in NER_TEXTS] + pipeline(NER_TEXTS):
        expected_tags = [ner_reference.tag(models.ner, texts) for texts in token_texts(doc)]
        assert [[token.ner for token in sentence.tokens] for sentence in doc.sentences] == expected_tags
        assert all(token.multi_ner == [token.ner] for sentence in doc.sentences for token in sentence.tokens)
        sentences = list(doc.sentences)
        spans = [(sentences.index(span.sent), span.tokens[0].text, span.tokens[-1].text, span.type)
                 for span in doc.ents]
        expected_spans = [(sentence, sentences[sentence].tokens[first].text, sentences[sentence].tokens[end - 1].text,
                           kind) for sentence, first, end, kind in ner_reference.entity_spans(expected_tags)]
        assert spans == expected_spans


def test_ner_processor_tags_token_lists(models):
    processor = _velmora.NERProcessor(models.base / "ner_default")
    assert processor.implemented
    tokens = ["Obama", "visited", "New York", "日本"]
    assert processor.tag(tokens) == ner_reference.tag(models.ner, tokens)
    assert processor.tag([]) == []
    with pytest.raises(_velmora.NERModelError, match="NER cannot encode an empty token"):
        processor.tag(["Paris", ""])


def test_sentiment_pipeline_gives_every_sentence_the_reference_class(models):
    pipeline = models.pipeline("tokenize,sentiment")
    docs = pipeline(SENTIMENT_TEXTS)
    sentences = [words for doc in docs for words in token_texts(doc)]
    assert len(sentences) >= 4
    expected = sentiment_reference.classify(models.sentiment, sentences)
    assert [sentence.sentiment for doc in docs for sentence in doc.sentences] == expected
    # One text at a time batches only its own sentences.
    for text in SENTIMENT_TEXTS:
        doc = pipeline(text)
        assert [s.sentiment for s in doc.sentences] == sentiment_reference.classify(models.sentiment, token_texts(doc))


def test_sentiment_processor_classifies_like_the_reference(models):
    processor = _velmora.SentimentProcessor(models.base / "sentiment_default")
    classify = sentiment_reference.classify
    assert processor.implemented
    assert processor.classify(tokens=SENTENCES[0]) == classify(models.sentiment, SENTENCES[:1])[0]
    assert len(set(processor.classify_many(SENTENCES))) > 1
    assert processor.classify_many(SENTENCES) == classify(models.sentiment, SENTENCES)
    assert processor.classify_many(SENTENCES, batch_size=4) == classify(models.sentiment, SENTENCES, 4)
    with pytest.raises(ValueError, match="^sentiment batch_size must be positive$"):
        processor.classify_many([], batch_size=0)


DEPPARSE_SENTENCES = [
    [{"id": 1, "text": "The", "lemma": "the", "upos": "DET", "xpos": "DT"},
     {"id": 2, "text": "dog", "lemma": "dog", "upos": "NOUN", "xpos": "NN"},
     {"id": 3, "text": "saw", "lemma": "see", "upos": "VERB", "xpos": "VBD"},
     {"id": 4, "text": "?!", "upos": "PUNCT"}],
    [{"id": 1, "text": "cat", "xpos": "NN"}, {"id": 2, "text": "runs", "lemma": "run", "upos": "VERB"}],
]


def parsed(document):
    return [[(word.head, word.deprel) for word in sentence.words] for sentence in document.sentences]


def test_depparse_processor_parses_tagged_documents_like_the_reference(models):
    def expected(sentence):
        words = [{key: w.get(key) for key in ("text", "lemma", "upos", "xpos")} for w in sentence]
        return list(depparse_reference.reference_parse(models.depparse, words)[2])

    processor = _velmora.DepparseProcessor(models.base / "depparse_default")
    assert processor.implemented and processor.bundle_path is not None
    document = _velmora.Document.from_dict(DEPPARSE_SENTENCES)
    result = processor(document)
    assert parsed(result) == [expected(sentence) for sentence in DEPPARSE_SENTENCES]
    assert parsed(document) == parsed(result)  # annotated in place
    bulk = processor.bulk_process([_velmora.Document.from_dict(DEPPARSE_SENTENCES[1:]),
                                   _velmora.Document.from_dict(DEPPARSE_SENTENCES)])
    assert parsed(bulk[0]) == [expected(DEPPARSE_SENTENCES[1])]
    assert parsed(bulk[1]) == parsed(result)
    with pytest.raises(_velmora.DepparseModelError, match="POS must run before depparse"):
        processor(_velmora.Document.from_dict([[{"id": 1, "text": "dog"}]]))
