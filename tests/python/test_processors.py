"""Processor classes: identity, model-less behaviour and argument conversion."""

import pathlib

import pytest

import _velmora
from _velmora import Document, ProcessorNotImplementedError

STAGES = [
    ("langid", _velmora.LangIDProcessor),
    ("tokenize", _velmora.TokenizeProcessor),
    ("mwt", _velmora.MWTProcessor),
    ("pos", _velmora.POSProcessor),
    ("lemma", _velmora.LemmaProcessor),
    ("depparse", _velmora.DepparseProcessor),
    ("ner", _velmora.NERProcessor),
    ("sentiment", _velmora.SentimentProcessor),
    ("constituency", _velmora.ConstituencyProcessor),
    ("coref", _velmora.CorefProcessor),
    ("morphseg", _velmora.MorphSegProcessor),
]

NO_MODEL = "the '{}' processor has no loaded model bundle"
NOT_IMPLEMENTED = "the '{}' processor is registered but native inference is not implemented"


@pytest.mark.parametrize("name,cls", STAGES)
def test_model_less_processors_show_their_table_row(name, cls):
    stage = cls()
    specs = _velmora.processor_specs()[name]
    assert isinstance(stage, _velmora.Processor)
    assert (stage.name, stage.requires, stage.provides, stage.module) == (
        name, specs["requires"], [name], specs["module"])
    assert stage.implemented is False and stage.bundle_path is None
    assert repr(stage) == f"<{name} processor implemented=False>"
    if name == "langid":
        assert stage.lang_subset == []


@pytest.mark.parametrize("name,cls", STAGES)
def test_model_less_processors_refuse_to_process(name, cls):
    stage = cls()
    document = Document("text")
    for call in (stage.process, stage, lambda d: stage.bulk_process([d])):
        with pytest.raises(ProcessorNotImplementedError, match=NOT_IMPLEMENTED.format(name)):
            call(document)
    # The call got a copy of the handle; the Python object still holds its storage.
    assert document.text == "text"
    assert stage.bulk_process([]) == []


@pytest.mark.parametrize(
    "cls,call",
    [
        (_velmora.LangIDProcessor, lambda p: p.identify("text")),
        (_velmora.LangIDProcessor, lambda p: p.identify_many(["a", "b"])),
        (_velmora.TokenizeProcessor, lambda p: p.predict_labels("text")),
        (_velmora.MWTProcessor, lambda p: p.expand("don't")),
        (_velmora.LemmaProcessor, lambda p: p.lemmatize("dogs")),
        (_velmora.LemmaProcessor, lambda p: p.lemmatize("dogs", "NOUN")),
        (_velmora.LemmaProcessor, lambda p: p.lemmatize(word="dogs", pos=None)),
        (_velmora.NERProcessor, lambda p: p.tag(tokens=("Bob", "sings"))),
        (_velmora.SentimentProcessor, lambda p: p.classify(["good"])),
        (_velmora.SentimentProcessor, lambda p: p.classify_many([["good"], ["bad"]])),
        (_velmora.SentimentProcessor, lambda p: p.classify_many([["good"]], batch_size=2)),
        (_velmora.ConstituencyProcessor, lambda p: p.uses_xpos),
        (_velmora.ConstituencyProcessor, lambda p: p.parse(["a"], ["DT"])),
        (_velmora.ConstituencyProcessor, lambda p: p.parse_many(sentences=[["a"]], tags=[["DT"]])),
        (_velmora.CorefProcessor, lambda p: p.predicts_singletons),
        (_velmora.CorefProcessor, lambda p: p.predicts_zero_anaphora),
        (_velmora.MorphSegProcessor, lambda p: p.segment(word="unkind")),
        (_velmora.MorphSegProcessor, lambda p: p.segment_many(["unkind"])),
    ],
)
def test_model_operations_without_a_model_name_the_missing_bundle(cls, call):
    stage = cls()
    with pytest.raises(ProcessorNotImplementedError, match=NO_MODEL.format(stage.name)):
        call(stage)


@pytest.mark.parametrize(
    "cls,call",
    [
        (_velmora.LangIDProcessor, lambda p: p.identify_many("text")),
        (_velmora.LangIDProcessor, lambda p: p.identify(text="x")),
        (_velmora.MWTProcessor, lambda p: p.expand(None)),
        (_velmora.NERProcessor, lambda p: p.tag(["a", 1])),
        (_velmora.SentimentProcessor, lambda p: p.classify_many([["a"]], batch_size=-1)),
        (_velmora.SentimentProcessor, lambda p: p.classify_many([["a"]], batch_size=2.0)),
        (_velmora.ConstituencyProcessor, lambda p: p.parse(["a"])),
        (_velmora.POSProcessor, lambda p: p.process("text")),
        (_velmora.POSProcessor, lambda p: p.process(document=Document())),
        (_velmora.POSProcessor, lambda p: p.bulk_process(Document())),
    ],
)
def test_arguments_that_match_no_signature_are_type_errors(cls, call):
    with pytest.raises(TypeError):
        call(cls())


def test_model_constructors_take_paths_and_exact_flags():
    for bad in [(None,), (pathlib.Path("x"), 1)]:
        with pytest.raises(TypeError):
            _velmora.TokenizeProcessor(*bad)
    with pytest.raises(TypeError):
        _velmora.LangIDProcessor(pathlib.Path("x"), False, "en")


class EmptiesItsList:
    """A sequence item whose conversion empties the list holding it: a list read in place would
    go on with a freed item array. Its own length and items are those of `words`."""

    def __init__(self, holder, words):
        self.holder, self.words = holder, words

    def __len__(self):
        self.holder.clear()
        return len(self.words)

    def __getitem__(self, index):
        return self.words[index]


@pytest.mark.parametrize("call", [
    lambda sentences: _velmora.SentimentProcessor().classify_many(sentences),
    lambda sentences: _velmora.ConstituencyProcessor().parse_many(sentences, [["X"], ["Y", "Z"]]),
    lambda sentences: _velmora.ConstituencyProcessor().parse_many([["a"], ["b", "c"]], sentences),
])
def test_a_list_that_an_items_conversion_empties_is_read_whole(call):
    for _ in range(50):  # freed memory is soon reused: repeating makes a dangling read show
        sentences = []
        sentences += [EmptiesItsList(sentences, ["a"]), ["b", "c"]]
        with pytest.raises(ProcessorNotImplementedError):  # converted whole, then refused
            call(sentences)
