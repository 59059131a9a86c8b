import subprocess
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

# The classes of this module in registration order; the standalone models come first.
CLASSES = [
    "TensorDescriptor", "ModelBundle", "CharLMPlan", "CorefPrediction", "CorefPlan", "MorphSegPlan",
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


def test_versions_agree_and_the_build_names_its_interpreter():
    assert _velmora.__version__ == _velmora.native_version() == "0.1.0"
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


def test_classes_belong_to_the_module_and_only_processors_have_a_base():
    for name in CLASSES:
        cls = getattr(_velmora, name)
        assert cls.__module__ == "_velmora"
        expected = _velmora.Processor if name.endswith("Processor") and name != "Processor" else object
        assert cls.__bases__ == (expected,), name


@pytest.mark.parametrize(
    "name",
    ["Sentence", "Token", "Word", "Span", "Processor", "SentenceSequence", "TokenSequence", "WordSequence",
     "SpanSequence", "TreeSequence", "_SentenceIterator", "_TreeIterator", "TensorDescriptor", "WordPieceEncoding", "CorefPrediction"],
)
def test_views_sequences_values_and_the_processor_base_have_no_constructor(name):
    with pytest.raises(TypeError):
        getattr(_velmora, name)()


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


# Run in a second interpreter: reports through a pipe whether the import succeeded.
IMPORT_IN_SUBINTERPRETER = """
import os, sys
sys.path[:0] = PATHS
try:
    import _velmora
    outcome = "imported, Document: " + str(hasattr(_velmora, "Document"))
except ImportError as error:
    outcome = "ImportError: " + str(error)
os.write(WRITE_END, outcome.encode())
"""

# Run in a child process: imports the module in the main interpreter (before or after), and
# in a second one.
SUBINTERPRETER_PROBE = """
import importlib, os, sys
sys.path[:0] = PATHS
if MAIN_FIRST:
    import _velmora
for name in ("_interpreters", "_xxsubinterpreters"):
    try:
        interpreters = importlib.import_module(name)
        break
    except ImportError:
        interpreters = None
if interpreters is None:
    print("no subinterpreters")
    sys.exit(0)
read_end, write_end = os.pipe()
interpreter = interpreters.create()
interpreters.run_string(interpreter, SUBINTERPRETER_CODE.replace("WRITE_END", str(write_end)))
interpreters.destroy(interpreter)
os.close(write_end)
print(os.read(read_end, 4096).decode())
import _velmora
import gc; gc.collect()
print(_velmora.Document.from_dict([[{"id": 1, "text": "main works"}]]).sentences[0].words[0].text)
"""


# Every interpreter but the main one is refused: the module's types and translators belong to
# the whole process. From 3.12 the interpreter refuses on the module's word; before that the
# module refuses by itself. A child process keeps any harm away from this one.
@pytest.mark.parametrize("main_first", [True, False], ids=["after-main", "before-main"])
def test_a_second_interpreter_cannot_import_the_module(main_first):
    paths = repr(sys.path)
    inner = IMPORT_IN_SUBINTERPRETER.replace("PATHS", paths)
    code = (SUBINTERPRETER_PROBE.replace("PATHS", paths).replace("MAIN_FIRST", str(main_first))
            .replace("SUBINTERPRETER_CODE", repr(inner)))
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    if result.stdout.startswith("no subinterpreters"):
        pytest.skip("this interpreter has no subinterpreter module")
    outcome, main = result.stdout.splitlines()
    assert outcome.startswith("ImportError: ") and "_velmora" in outcome, outcome
    if sys.version_info < (3, 12):
        assert outcome == "ImportError: _velmora can only be imported in the main interpreter"
    assert "already registered" not in result.stderr
    assert main == "main works"
