import importlib
import sys
import sysconfig

import pytest

import _velmora

EXCEPTION_TYPES = [
    ("ProcessorNotImplementedError", NotImplementedError),
    ("ProcessorRequirementsError", ValueError),
    ("ModelBundleError", RuntimeError),
    *[
        (name, "ModelBundleError")
        for name in (
            "TokenizerModelError", "Seq2SeqModelError", "MWTModelError", "POSModelError",
            "LemmaModelError", "DepparseModelError", "NERModelError", "SentimentModelError",
            "ConstituencyModelError", "CorefModelError", "CharLMModelError", "LangIDModelError",
            "MorphSegModelError",
        )
    ],
    ("WordPieceError", RuntimeError),
    ("SubwordError", RuntimeError),
    ("TransformerError", RuntimeError),
]

# The classes of this module in registration order; the standalone models come first (the
# coreference and segmentation plans take their places after CharLMPlan once they exist).
CLASSES = [
    "TensorDescriptor", "ModelBundle", "CharLMPlan",
    "WordPieceEncoding", "WordPieceTokenizer", "ByteBPETokenizer", "XLMRobertaTokenizer", "TransformerEncoder",
    "CorefMention", "CorefChain", "CorefAttachment", "ConstituencyTree",
    "Document", "Sentence", "Token", "Word", "Span",
    "_SentenceIterator", "SentenceSequence", "_TokenIterator", "TokenSequence",
    "_WordIterator", "WordSequence", "_SpanIterator", "SpanSequence",
    "_TreeIterator", "TreeSequence",
    "Processor", "LangIDProcessor", "TokenizeProcessor", "MWTProcessor", "POSProcessor",
    "LemmaProcessor", "DepparseProcessor", "NERProcessor", "SentimentProcessor",
    "ConstituencyProcessor", "CorefProcessor", "MorphSegProcessor",
    "Pipeline",
]


def test_module_identity():
    assert _velmora.__version__ == "0.1.0"
    assert _velmora.native_version() == "0.1.0"
    assert _velmora.__doc__ == "Native components of Velmora."


def test_free_threaded_build_reports_the_interpreter_it_was_built_for():
    assert _velmora.free_threaded_build is bool(sysconfig.get_config_var("Py_GIL_DISABLED"))


def test_module_registers_attributes_exceptions_classes_and_functions_in_order():
    names = list(vars(_velmora))
    registered = [n for n in names if n in dict(EXCEPTION_TYPES) or n in CLASSES]
    assert registered == [n for n, _ in EXCEPTION_TYPES] + CLASSES
    assert names.index("free_threaded_build") < names.index("ProcessorNotImplementedError")
    assert names[-2:] == ["processor_specs", "native_version"]


@pytest.mark.parametrize("name,base", EXCEPTION_TYPES)
def test_exception_types_derive_from_their_python_base(name, base):
    exception_type = getattr(_velmora, name)
    expected_base = getattr(_velmora, base) if isinstance(base, str) else base
    assert exception_type.__bases__ == (expected_base,)
    assert exception_type.__module__ == "_velmora"
    assert exception_type.__name__ == name


def test_per_model_error_mro_runs_through_model_bundle_error():
    assert _velmora.POSModelError.__mro__ == (
        _velmora.POSModelError, _velmora.ModelBundleError, RuntimeError, Exception, BaseException, object,
    )
    for name in ("SubwordError", "WordPieceError", "TransformerError"):
        assert not issubclass(getattr(_velmora, name), _velmora.ModelBundleError)


def test_python_code_raises_and_catches_system_exceptions():
    with pytest.raises(_velmora.SubwordError) as caught:
        raise _velmora.SubwordError("my own message")
    assert caught.value.args == ("my own message",)


def test_classes_belong_to_the_module_and_only_processors_have_a_base():
    for name in CLASSES:
        cls = getattr(_velmora, name)
        assert cls.__module__ == "_velmora"
        expected = _velmora.Processor if name.endswith("Processor") and name != "Processor" else object
        assert cls.__bases__ == (expected,), name
    assert issubclass(_velmora.NERProcessor, _velmora.Processor)
    assert not issubclass(_velmora.Pipeline, _velmora.Processor)


@pytest.mark.parametrize(
    "name",
    ["Sentence", "Token", "Word", "Span", "Processor", "SentenceSequence", "TokenSequence", "WordSequence",
     "SpanSequence", "TreeSequence", "_SentenceIterator", "_TreeIterator", "TensorDescriptor", "WordPieceEncoding"],
)
def test_views_sequences_values_and_the_processor_base_have_no_constructor(name):
    with pytest.raises(TypeError):
        getattr(_velmora, name)()


def test_document_constructor_makes_an_empty_document():
    assert _velmora.Document().text == ""


def test_processor_specs_lists_the_table_in_order():
    specs = _velmora.processor_specs()
    assert list(specs) == [
        "langid", "tokenize", "mwt", "pos", "lemma", "depparse", "ner", "sentiment", "constituency", "coref",
        "morphseg",
    ]
    assert list(specs["depparse"].items()) == [
        ("requires", ["tokenize", "pos", "lemma"]),
        ("provides", ["depparse"]),
        ("module", "ud"),
        ("implemented", True),
    ]
    assert specs["langid"]["requires"] == [] and specs["tokenize"]["requires"] == []
    assert {name: spec["implemented"] for name, spec in specs.items()} == {
        name: name != "coref" for name in specs
    }


def test_processor_specs_are_built_afresh_on_every_call():
    first = _velmora.processor_specs()
    first["pos"]["requires"].append("changed")
    first["pos"]["module"] = "changed"
    again = _velmora.processor_specs()
    assert "changed" not in again["pos"]["requires"]
    assert again["pos"]["module"] == "ud"


def test_system_errors_reach_python_as_their_own_types(tmp_path):
    with pytest.raises(_velmora.ProcessorRequirementsError) as caught:
        _velmora.Pipeline("en", processors="pos")
    assert isinstance(caught.value, ValueError)
    assert caught.value.args == ("processor 'pos' is missing requirements: tokenize",)

    with pytest.raises(NotImplementedError) as caught:
        _velmora.MWTProcessor().process(_velmora.Document("x"))
    assert type(caught.value) is _velmora.ProcessorNotImplementedError

    # No index under an empty model directory: a bundle error, also a RuntimeError.
    with pytest.raises(RuntimeError) as caught:
        _velmora.Pipeline("en", processors="tokenize", model_dir=tmp_path)
    assert isinstance(caught.value, _velmora.ModelBundleError)


def test_standard_errors_become_the_matching_builtin_types():
    with pytest.raises(ValueError) as caught:
        _velmora.Document.from_dict([[{"text": "x"}]])
    assert type(caught.value) is ValueError
    with pytest.raises(IndexError, match="index is outside the sequence"):
        _velmora.Document().sentences[0]
    with pytest.raises(RuntimeError):
        _velmora.Pipeline("en", processors=3)


@pytest.mark.skipif(not hasattr(sys, "_is_gil_enabled") or not sysconfig.get_config_var("Py_GIL_DISABLED"),
                    reason="needs a free-threaded interpreter")
def test_importing_keeps_a_free_threaded_interpreter_without_the_gil():
    assert sys._is_gil_enabled() is False


def subinterpreters():
    for name in ("_interpreters", "_xxsubinterpreters"):
        try:
            return importlib.import_module(name)
        except ImportError:
            continue
    return None


# Interpreters before 3.12 cannot be told that a module refuses a second interpreter.
@pytest.mark.skipif(sys.version_info < (3, 12) or subinterpreters() is None,
                    reason="needs an interpreter that checks modules for subinterpreter support")
def test_a_second_interpreter_cannot_import_the_module():
    interpreters = subinterpreters()
    interpreter = interpreters.create()
    try:
        code = f"import sys; sys.path[:0] = {sys.path!r}; import _velmora"
        outcome = None
        try:
            outcome = interpreters.run_string(interpreter, code)
        except Exception as error:  # raised by the older interface
            outcome = error
        assert outcome is not None
        assert "_velmora" in str(outcome) or "ImportError" in str(outcome)
    finally:
        interpreters.destroy(interpreter)
