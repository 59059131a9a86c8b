"""Every model gives bit-identical results at 1, 2, 3 and 8 intra-op threads, on models of trained
models' widths (wide enough for the tensor library to split their products between threads): the
whole pipeline on one text, a list of texts and a document; each processor on documents alone and
as a list, both the pipeline's own and ones its calls cut into many units (long texts, many
sentences, length groups, decoding batches, windows, an empty document in a list); every model
plan and standalone class; the variants the pipeline's models are not (a tagger and a parser with
their own character models, a tagger reading a transformer and character LMs, a constituency
parser of XPOS tags, a beam-search lemmatizer). A document's result is also that of a list
holding only it. Results compare by everything they carry, floats by their bits."""

import contextlib
import random

import pytest
import torch

import constituency_bundle
import depparse_bundle
import pos_bundle
import seq2seq_bundle
import transformer_reference
import ud_corpus
import wide_models
from _velmora import (ByteBPETokenizer, CharLMPlan, ConstituencyProcessor, CorefPlan, DepparseProcessor, Document,
                      LemmaProcessor, MorphSegPlan, NERProcessor, Pipeline, POSProcessor, TransformerEncoder,
                      WordPieceTokenizer, XLMRobertaTokenizer)
from bundle_writer import write_bundle
from charlm_reference import CharLanguageModel, default_units, write_charlm_bundle
from coref_reference import document_words
from langid_bundle import CHARACTERS
from ner_bundle import NERSettings, NERTestModel, ner_assets, write_ner_bundle
from seq2seq_test_data import units
from subword_arguments import configurations

THREAD_COUNTS = (1, 2, 3, 8)
TEXTS = ["The committee didn't approve the budget on Tuesday. Its members said the plan, which would cost "
         "$4.5 million, was far too vague.\n\nThey'll meet again in March, after the elections in Ohio and Texas.",
         "I can't believe the new library opened so late! My sister borrowed three books about birds, and we "
         "read them all weekend. Does anyone know when the café next door closes?"]
SAMPLE = ("The quick brown Fox didn't jump over the lazy dog. It costs $1,200.50 today!\n\n"
          "Call (555) 123-4567 now. Name: Jo wrote to jo@example.com on March 3, 2020. ")
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


def corpus_texts(count):
    """Paragraphs of a few treebank sentences with blank lines between them, and one text of
    sixty sentences (many tokenizer windows)."""
    corpus = ud_corpus.find_dev_corpus()
    if corpus is None:
        return [SAMPLE * (k % 4 + 1) for k in range(count)]
    texts = [line[len("# text = "):] for line in corpus.read_text(encoding="utf-8").splitlines()
             if line.startswith("# text = ")]
    return ["\n\n".join(" ".join(texts[k + j:k + j + 3]) for j in range(0, 9, 3)) for k in range(0, 9 * count, 9)] + [
        " ".join(texts[:60])]


def random_sentences(count, seed, words=None):
    """Sentences of 3 to 30 words drawn from `words`, or of random letters."""
    rng = random.Random(seed)
    letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
    word = (lambda: rng.choice(words)) if words else (lambda: "".join(rng.choice(letters)
                                                                      for _ in range(rng.randint(1, 9))))
    return [[word() for _ in range(rng.randint(3, 30))] for _ in range(count)]


def tagged_sentences(count, seed):
    """Sentences of 2 to 40 words with UPOS and XPOS tags, known and unknown to the parser."""
    rng = random.Random(seed)
    words = depparse_bundle.WORDS + ["Paris", "zebra", "?!", "runs"]
    return [[{"text": rng.choice(words), "upos": rng.choice(depparse_bundle.UPOS[:-1]),
              "xpos": rng.choice(depparse_bundle.XPOS[:-1])} for _ in range(rng.randint(2, 40))] for _ in range(count)]


def document(sentences):
    """A document of the given sentences, each word its own token: a word is its text or a
    dictionary of its fields."""
    return Document.from_dict([[{"id": i + 1, **(word if isinstance(word, dict) else {"text": word})}
                                for i, word in enumerate(sentence)] for sentence in sentences])


def with_tags(words, tags):
    return [[{"text": word, "upos": tag, "xpos": tag} for word, tag in zip(sentence, row)]
            for sentence, row in zip(words, tags)]


class Models:
    """The wide models, the pipeline over them, the variants, and the inputs of every call. Each
    stage's input documents are kept in dictionary form (the pipeline's as it gives them at one
    thread) so that every call gets fresh documents."""

    def __init__(self, root):
        self.corpus = corpus_texts(12)
        encoder = wide_models.encoder_package(root)
        self.model_dir = wide_models.write(root / "models", TEXTS + self.corpus[:8], encoder.read_bytes())
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
        self.encoder = TransformerEncoder(encoder, transformer_reference.wordpiece_vocabulary(), model_max_length=64)
        self._many_unit_inputs()
        self._variants(root / "variants", encoder)

    def _many_unit_inputs(self):
        rng = random.Random(3)
        tokenized = [self.stages["tokenize"](Document(text)) for text in self.corpus[:6]]
        self.corpus_documents = [(document.to_dict(), document.text) for document in tokenized]
        self.corpus_words = [word for text in self.corpus for word in text.split()][:300]
        self.corpus_tags = [rng.choice(seq2seq_bundle.UPOS) for _ in self.corpus_words]
        self.langid_texts = ["".join(rng.choice(CHARACTERS) for _ in range(rng.randint(10, 200))) for _ in range(60)]
        self.langid_texts += ["abc"] * 40
        self.unknown = random_sentences(12, seed=5)
        self.known = random_sentences(10, seed=6, words=transformer_reference.WORDS)
        self.pretrained = random_sentences(40, seed=7, words=constituency_bundle.PRETRAIN_WORDS + ["unseen", "Other"])
        self.tags = [[random.Random(len(w) + i).choice(constituency_bundle.TAGS) for i in range(len(w))]
                     for w in self.pretrained[:6]]
        self.tagged = tagged_sentences(20, seed=4)

    def _variants(self, directory, encoder):
        tagger, forward, backward, assets = pos_bundle.build_tagger(
            pos_bundle.PosSetup(charlm=False, dims=wide_models.POS_DIMS, extra_words=500))
        self.pos = POSProcessor(write_bundle(directory / "pos", pos_bundle.tagger_tensors(tagger, forward, backward),
                                             assets, processor="pos"))
        self.depparse = DepparseProcessor(depparse_bundle.write_depparse_bundle(
            directory / "depparse", depparse_bundle.make_network(depparse_bundle.Settings(charlm=False,
                                                                                          **wide_models.PARSER))))
        hidden = wide_models.ENCODER_HIDDEN
        model = NERTestModel(NERSettings(word_emb_dim=100, hidden_dim=256, charlm=True, input_transform=True,
                                         transformer_hidden=hidden), seed=5).eval()
        assets = ner_assets(model, transformer_block=transformer_reference.wordpiece_block(hidden_size=hidden))
        self.ner = NERProcessor(write_ner_bundle(directory / "ner", model, assets=assets,
                                                 artifacts={"model.pt2": encoder.read_bytes()}))
        model, assets = constituency_bundle.make_model(tag_dim=20, layers=2, output_layers=3, seed=4,
                                                       sizes=wide_models.CONSTITUENCY)
        self.constituency = ConstituencyProcessor(constituency_bundle.write(directory / "constituency", model, assets))
        self.lemma_beam = LemmaProcessor(seq2seq_bundle.write_seq2seq_bundle(
            directory / "lemma_beam", units(), processor="lemma", pos=True, beam_size=3, extra_assets={"pos_dict": {}},
            copy=True, edit=True, max_dec_len=20, batch_size=50, **wide_models.SEQ2SEQ))

    def documents(self, stage):
        """Fresh copies of `stage`'s input documents: the pipeline's (pre-split from the tokenizer
        on), then ones cut into many units."""
        if stage in ("langid", "tokenize"):
            pipeline = [Document(text) for text in TEXTS]
        else:
            pipeline = [Document.from_dict(sentences, text) for sentences, text in self.inputs[stage]]
        return pipeline + self.many_units(stage)

    def many_units(self, stage):
        """Fresh documents that `stage`'s calls cut into many units: long texts, many sentences,
        marked tokens, several documents with an empty one among them."""
        if stage == "tokenize":
            return [Document(text) for text in self.corpus]
        if stage in ("mwt", "lemma", "morphseg"):
            return self.marked()
        if stage in ("pos", "depparse"):
            return self.tagged_documents()
        if stage == "ner":
            return [document(self.unknown[i:i + 5]) for i in range(0, 12, 5)] + [document(self.unknown)]
        if stage == "sentiment":
            return [document(self.pretrained[:25]), document(self.pretrained[25:])]
        if stage == "coref":
            return [document(self.known)]
        return []

    def tagged_documents(self):
        """One sentence, twenty, and a list of three, none and seventeen."""
        text = self.tagged
        return [document(text[:1]), document(text), document(text[:3]), document([]), document(text[3:])]

    def marked(self, count=None):
        """The tokenized treebank documents, each word with a UPOS tag and every seventh marked as a
        multi-word token."""
        documents = []
        for form, text in self.corpus_documents[:count]:
            form = [[dict(word) for word in sentence] for sentence in form]
            for k, word in enumerate(w for sentence in form for w in sentence):
                word["upos"] = self.corpus_tags[k % len(self.corpus_tags)]
                if k % 7 == 3:
                    word["misc"] = "MWT=Yes"
            documents.append(Document.from_dict(form, text))
        return documents

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
    "langid identify_many": lambda m: m.stages["langid"].identify_many(TEXTS + m.langid_texts),
    "tokenize predict_labels": lambda m: m.stages["tokenize"].predict_labels(TEXTS[1]),
    "mwt expand": lambda m: [m.stages["mwt"].expand(token) for token in m.tokens],
    "lemma lemmatize": lambda m: [m.stages["lemma"].lemmatize(w, u) for w, u in zip(m.words(), sum(m.upos, []))],
    "ner tag": lambda m: [m.stages["ner"].tag(sentence) for sentence in m.sentences + m.unknown[:1]],
    "sentiment classify": lambda m: [m.stages["sentiment"].classify(s) for s in m.sentences + m.pretrained[:1]],
    "sentiment classify_many": lambda m: m.stages["sentiment"].classify_many(m.sentences + m.pretrained),
    "sentiment classify_many, small budget": lambda m: m.stages["sentiment"].classify_many(m.pretrained, 60),
    "constituency parse": lambda m: [m.stages["constituency"].parse(s, t) for s, t in zip(m.sentences, m.upos)],
    "constituency parse_many": lambda m: m.stages["constituency"].parse_many(m.sentences, m.upos),
    "morphseg segment": lambda m: [m.stages["morphseg"].segment(word) for word in m.words()],
    "morphseg segment_many": lambda m: m.stages["morphseg"].segment_many(m.words()),
    "CharLMPlan forward": lambda m: [m.charlms[0].encode(sentence) for sentence in m.sentences],
    "CharLMPlan backward": lambda m: m.charlms[1].encode(m.words()),
    "MorphSegPlan": lambda m: [m.segmenter.segment(m.words()[0]), m.segmenter.segment_many(m.words()),
                               m.segmenter.segment_many(m.corpus_words)],
    "CorefPlan": lambda m: [m.coref.resolve(*document_words(m.sentences)), m.coref.resolve(*document_words(m.known))],
    "TransformerEncoder encode": lambda m: m.encoder.encode(m.sentences[0]),
    "TransformerEncoder windows": lambda m: [m.encoder.encode([w.lower() for w in m.words()], True),
                                             m.encoder.encode(transformer_reference.WORDS * 12, True)],
    "TransformerEncoder encode_ids": lambda m: [m.encoder.encode_ids([2] + list(range(4, 64)) + [3]),
                                                m.encoder.encode_ids([2] + list(range(8, 60)) + [3])],
    **{f"{kind} tokenizer": lambda m, kind=kind: [
        TOKENIZERS[kind](**configurations()[kind][0]).encode(sentence) for sentence in m.sentences]
       for kind in TOKENIZERS},
    # Variants.
    "pos with its own character model process": lambda m: [m.pos(d) for d in m.tagged_documents()],
    "pos with its own character model bulk_process": lambda m: m.pos.bulk_process(m.tagged_documents()),
    "depparse with its own character model process": lambda m: [m.depparse(d) for d in m.tagged_documents()],
    "depparse with its own character model bulk_process": lambda m: m.depparse.bulk_process(m.tagged_documents()),
    "ner with a transformer and charLMs bulk_process": lambda m: m.ner.bulk_process(
        [document(m.known[:3]), document(m.known)]),
    "constituency of XPOS tags parse": lambda m: m.constituency.parse(m.pretrained[0][:12], m.tags[0][:12]),
    "constituency of XPOS tags parse_many": lambda m: m.constituency.parse_many(m.pretrained[:6], m.tags),
    "constituency of XPOS tags bulk_process": lambda m: m.constituency.bulk_process(
        [document(with_tags(m.pretrained[:2], m.tags[:2])), document(with_tags(m.pretrained[2:6], m.tags[2:]))]),
    "lemma with beam search bulk_process": lambda m: m.lemma_beam.bulk_process(m.marked(1)),
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


@pytest.mark.parametrize("stage", ["tokenize", "lemma", "morphseg"])
def test_a_document_takes_the_path_of_a_list(models, stage):
    processor = models.stages[stage]
    for alone, listed in zip(models.many_units(stage), models.many_units(stage)):
        assert exact(processor(alone)) == exact(processor.bulk_process([listed])[0])
