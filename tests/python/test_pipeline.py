"""The Pipeline class: argument conversion, properties, processing forms."""

import collections
import pathlib

import pytest

import _velmora
from _velmora import Document, Pipeline, ProcessorNotImplementedError


def names(pipeline):
    return [processor.name for processor in pipeline.processors]


def test_defaults():
    pipeline = Pipeline("en")
    assert names(pipeline) == ["tokenize", "mwt", "pos", "lemma", "depparse"]
    assert (pipeline.lang, pipeline.package, pipeline.model_dir, pipeline.resources_version) == (
        "en", "default", None, "1.14.0")
    assert repr(pipeline) == "<Pipeline lang=en processors=5>"
    assert all(p.implemented is False for p in pipeline.processors)


@pytest.mark.parametrize(
    "processors,expected",
    [
        ("tokenize, pos ,lemma", ["tokenize", "pos", "lemma"]),
        ("tokenize,,pos,", ["tokenize", "pos"]),
        ("\ttokenize\n,\vpos\f\r", ["tokenize", "pos"]),
        ("", []),
        (" , ,", []),
        (("tokenize", "pos"), ["tokenize", "pos"]),
        (collections.UserList(["tokenize"]), ["tokenize"]),
    ],
)
def test_processor_names(processors, expected):
    assert names(Pipeline("en", processors)) == expected


# Names in a list are not trimmed; in a string only ASCII white space is (a no-break space is
# no white space here, whatever the locale).
@pytest.mark.parametrize("processors", [["tokenize", " pos"], "tokenize,\u00a0pos"])
def test_untrimmed_names_are_unknown(processors):
    with pytest.raises(ValueError, match="unknown processor"):
        Pipeline("en", processors)


@pytest.mark.parametrize("processors", [3, b"tokenize", {"tokenize"}, iter(["tokenize"]), ["tokenize", 3], "\ud800"])
def test_unconvertible_processor_values_fail_the_cast(processors):
    with pytest.raises(RuntimeError):
        Pipeline("en", processors)


def test_package_mapping_comes_back_in_byte_order():
    pipeline = Pipeline("en", "tokenize,pos,lemma", package={"pos": "a", "lemma": "b"})
    assert list(pipeline.package.items()) == [("lemma", "b"), ("pos", "a")]
    assert Pipeline("en", "tokenize", package={}).package == {}
    pipeline.package["pos"] = "changed"
    assert pipeline.package["pos"] == "a"


class PairlessMapping(collections.abc.Mapping):
    def __getitem__(self, key):
        return "default"

    def __iter__(self):
        return iter(["pos"])

    def __len__(self):
        return 1

    def items(self):
        return ["pos"]


class BrokenMapping(PairlessMapping):
    def items(self):
        raise KeyError("broken")


@pytest.mark.parametrize("package", [{"pos": 3}, {3: "x"}, PairlessMapping(), BrokenMapping()])
def test_mappings_of_other_than_string_pairs_are_refused(package):
    with pytest.raises(TypeError, match="^package mapping processor names and package names must be strings$"):
        Pipeline("en", "tokenize,pos", package=package)


def test_package_of_another_kind_is_refused():
    with pytest.raises(TypeError, match="^package must be a string or mapping from processor names to package names$"):
        Pipeline("en", package=3)
    with pytest.raises(TypeError, match="incompatible"):
        Pipeline("en", package=None)


@pytest.mark.parametrize(
    "kwargs",
    [
        {"lang": None}, {"lang": 3}, {"processors": None}, {"resources_version": None},
        {"verify_model_checksums": 1}, {"model_dir": 3}, {"langid_lang_subset": "en"},
        {"langid_lang_subset": None},
    ],
)
def test_arguments_of_the_wrong_type_match_no_signature(kwargs):
    with pytest.raises(TypeError):
        Pipeline(**{"lang": "en", **kwargs})


def test_request_errors_come_from_the_native_constructor():
    with pytest.raises(ValueError, match="a processor may only appear once"):
        Pipeline("en", "tokenize,tokenize")
    with pytest.raises(_velmora.ProcessorRequirementsError):
        Pipeline("en", "lemma")
    for model_dir in ("", b""):
        with pytest.raises(ValueError, match="^a pipeline model directory cannot be empty$"):
            Pipeline("en", "tokenize", model_dir=model_dir)


def test_model_dir_comes_back_as_a_path(tmp_path):
    with pytest.raises(_velmora.ModelBundleError):
        Pipeline("en", "tokenize", model_dir=str(tmp_path))
    pipeline = Pipeline("en", "", model_dir=str(tmp_path), langid_lang_subset=("en", "fr"))
    assert pipeline.model_dir == pathlib.Path(tmp_path)


def test_processing_forms():
    pipeline = Pipeline("en", processors="")
    doc = Document("kept")
    for call in (pipeline.process, pipeline):
        assert call("text").text == "text" and len(call("text").sentences) == 0
        assert call(doc) == doc
        assert [d.text for d in call(("a", "b"))] == ["a", "b"]
        assert call([doc, doc]) == [doc, doc]
        assert call([]) == []
    for call in (pipeline.bulk_process, pipeline.process_many):
        assert [d.text for d in call(["a"])] == ["a"]
        assert call([doc])[0] == doc
        for bad in ("text", doc, [doc, "text"], None):
            with pytest.raises(TypeError):
                call(bad)
    with pytest.raises(TypeError):
        pipeline.process(text="x")
    with pytest.raises(TypeError):
        pipeline.process(b"bytes")
    assert doc.text == "kept"


def test_model_less_pipeline_fails_at_the_first_processor():
    pipeline = Pipeline("en")
    with pytest.raises(ProcessorNotImplementedError, match="'tokenize'"):
        pipeline("text")
    assert pipeline.process([]) == []


def test_processor_objects_are_shared_with_the_pipeline():
    pipeline = Pipeline("en", "tokenize,pos")
    first = pipeline.processors
    assert [type(p) for p in first] == [_velmora.TokenizeProcessor, _velmora.POSProcessor]
    assert pipeline.processors[1] is first[1]
    stage = first[1]
    del pipeline, first
    assert stage.name == "pos"
    with pytest.raises(ProcessorNotImplementedError):
        stage.process(Document("x"))
