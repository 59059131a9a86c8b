"""Seeded random-weight models of trained models' widths, the sizes the benchmarks time: a model
directory with one bundle per processor, 1024-unit character language models, and a compiled
encoder of a base transformer's width. Wide layers make the tensor library split its products
between threads, which tiny test models never do.

``write(model_dir, texts, encoder_package)`` writes every processor's bundle (coreference only
when an encoder package is given); ``tagger`` and ``parser`` build the default pipeline's tagger
and parser with their character LMs; ``encoder_package(directory)`` compiles the wide encoder.
"""

from __future__ import annotations

import contextlib
import pathlib

import torch

import charlm_reference
import constituency_bundle
import depparse_bundle
import pos_bundle
import seq2seq_bundle
import seq2seq_test_data
from aoti_packages import TinyEncoder, compile_package, encoder_dynamic_shapes, encoder_inputs
from bundle_writer import write_bundle, write_index
from coref_reference import CorefNetwork, CorefReference
from langid_bundle import langid_model, write_langid_bundle
from morphseg_bundle import morphseg_model, write_morphseg_bundle
from ner_bundle import NERSettings, NERTestModel, write_ner_bundle
from sentiment_bundle import SentimentModel, SentimentSettings, write_sentiment_bundle
from tokenizer_bundle import write_tokenizer_bundle

PROCESSORS = ("langid", "tokenize", "mwt", "pos", "lemma", "depparse", "ner", "sentiment", "constituency",
              "morphseg", "coref")
CHARLM_HIDDEN = 1024
POS_DIMS = {"word_emb_dim": 75, "pretrain_dim": 100, "transformed_dim": 125, "char_emb_dim": 100,
            "char_hidden_dim": 400, "hidden_dim": 200, "tag_emb_dim": 50, "upos_hid": 400, "xpos_hid": 400,
            "feats_hid": 400}
PARSER = dict(word_emb_dim=75, tag_emb_dim=50, transformed_dim=125, char_emb_dim=100, char_hidden_dim=400,
              hidden_dim=400, num_layers=3, deep_biaff_hidden_dim=400, pretrain_dim=100, seed=1)
SEQ2SEQ = {"emb": 50, "hidden": 200, "layers": 1}
TINY_SEQ2SEQ = {"emb": 8, "hidden": 10, "layers": 1}
NER = NERSettings(word_emb_dim=100, char_emb_dim=100, char_hidden_dim=100, hidden_dim=256)
SENTIMENT = SentimentSettings(embedding=100, bilstm_hidden=300, filters=(3, 4, 5), channels=100, maxpool=2,
                              fc_shapes=(400, 100))
CONSTITUENCY = {"pretrain_dim": 100, "delta_dim": 100, "transition_dim": 20, "hidden": 512,
                "transition_hidden": 128, "output_width": 512}
ENCODER_HIDDEN = 768


@contextlib.contextmanager
def charlms_of_width(hidden: int):
    """The test bundles build tiny character LMs; while this lasts, the tagger's and the parser's
    are `hidden` units wide with 100-wide embeddings, as trained ones are."""
    built_pos, built_parser = pos_bundle.CharLanguageModel, charlm_reference.CharLanguageModel

    def charlm(units, embedding=None, hidden=None, layers=None, seed=0):
        return built_parser(units, embedding=100, hidden=width, layers=1, seed=seed)

    width = hidden
    pos_bundle.CharLanguageModel = charlm_reference.CharLanguageModel = charlm
    try:
        yield
    finally:
        pos_bundle.CharLanguageModel, charlm_reference.CharLanguageModel = built_pos, built_parser


def tagger(tiny: bool = False):
    """(tagger, forward charLM, backward charLM, assets) of the default pipeline's tagger."""
    with charlms_of_width(16 if tiny else CHARLM_HIDDEN):
        return pos_bundle.build_tagger(pos_bundle.PosSetup(charlm=True, dims=None if tiny else POS_DIMS,
                                                           extra_words=5000))


def parser(tiny: bool = False) -> depparse_bundle.DepparseNetwork:
    """The default pipeline's parser, reading character LMs."""
    with charlms_of_width(16 if tiny else CHARLM_HIDDEN):
        return depparse_bundle.make_network(depparse_bundle.Settings(charlm=True, **({"seed": 1} if tiny else PARSER)))


SEQ2SEQ_OPTIONS = {
    "mwt": dict(copy=True, flat_vocab=True, extra_assets={"expansion_dict": seq2seq_test_data.MWT_DICT},
                extra_config={"dict_only": False, "ensemble_dict": True}),
    "lemma": dict(copy=True, edit=True, pos=True, extra_assets={"pos_dict": seq2seq_test_data.POS_DICT},
                  extra_config={"ensemble_dict": True}),
}


def seq2seq(directory, processor: str, tiny: bool = False):
    """(bundle path, network) of the expander (processor "mwt") or the lemmatizer."""
    shape = TINY_SEQ2SEQ if tiny else SEQ2SEQ
    options = SEQ2SEQ_OPTIONS[processor]
    units = seq2seq_test_data.units()
    bundle = seq2seq_bundle.write_seq2seq_bundle(directory, units, processor=processor, max_dec_len=20,
                                                 batch_size=50, **shape, **options)
    flags = {key: options.get(key, False) for key in ("pos", "copy", "edit")}
    return bundle, seq2seq_bundle.seq2seq_network(units, **shape, **flags)


def encoder_package(directory) -> pathlib.Path:
    """The test encoder at a base transformer's width, compiled once per process."""
    return compile_package(TinyEncoder(hidden=ENCODER_HIDDEN, max_length=64), encoder_inputs([2, 8, 9, 40, 3]),
                           directory, key=f"encoder_{ENCODER_HIDDEN}", dynamic_shapes=encoder_dynamic_shapes(64))


def coref(encoder: bytes | None = None) -> CorefReference:
    """A coreference model over the wide encoder, with a scorer and span predictor of common widths,
    two hidden layers, and windows short enough that a paragraph takes several."""
    network = CorefNetwork(hidden=ENCODER_HIDDEN, hidden_layers=2, rough_k=20, singletons=True, full_pairwise=True,
                           distance_width=20, speaker_width=20, scorer_width=1024, span_widths=(1024, 256, 64),
                           conv_channels=4, zero_width=256, link_bias=-1.0, seed=11)
    return CorefReference(network, window=24, batch_size=40, use_zeros=True)


def write(model_dir, texts: list[str], encoder: bytes | None = None, language: str = "en") -> pathlib.Path:
    """Writes `<model_dir>/1.14.0/<language>/<processor>_default` for every processor (coref only
    with the compiled `encoder` package's bytes) and the index; `texts` calibrate the tokenizer."""
    model_dir = pathlib.Path(model_dir)
    base = model_dir / "1.14.0" / language
    write_langid_bundle(base / "langid_default", *langid_model(embedding_dim=150, hidden_dim=150))
    write_tokenizer_bundle(base / "tokenize_default", size="realistic", seed=1, calibration_texts=texts)
    seq2seq(base / "mwt_default", "mwt")
    seq2seq(base / "lemma_default", "lemma")
    pos, forward, backward, assets = tagger()
    write_bundle(base / "pos_default", pos_bundle.tagger_tensors(pos, forward, backward), assets, processor="pos")
    depparse_bundle.write_depparse_bundle(base / "depparse_default", parser())
    write_ner_bundle(base / "ner_default", NERTestModel(NER, seed=3).eval())
    write_sentiment_bundle(base / "sentiment_default", SentimentModel(SENTIMENT, seed=1).eval())
    model, assets = constituency_bundle.make_model(tag_source="upos", tag_dim=20, layers=2, output_layers=3, seed=4,
                                                   sizes=CONSTITUENCY)
    with torch.no_grad():
        for parameter in model.parameters():
            parameter.mul_(0.1)
    constituency_bundle.write(base / "constituency_default", model, assets)
    write_morphseg_bundle(base / "morphseg_default",
                          *morphseg_model(embedding_size=64, hidden_size=128, batch_size=512))
    processors = PROCESSORS if encoder is not None else PROCESSORS[:-1]
    if encoder is not None:
        coref().write(base / "coref_default", encoder)
    write_index(model_dir, [{"processor": name, "package": "default", "path": f"{name}_default"}
                            for name in processors], language=language)
    return model_dir
