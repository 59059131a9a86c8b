"""A model directory with one seeded, random-weight bundle per processor that needs no compiled
transformer, for the README's example and the end-to-end pipeline test.

The weights are random: the annotations show the machinery at work, not a trained model's
quality. Coreference is left out because its bundles wrap a compiled transformer package.
"""

from __future__ import annotations

import pathlib

import constituency_bundle
import depparse_bundle
import pos_bundle
import seq2seq_bundle
import seq2seq_test_data
from bundle_writer import write_index
from langid_bundle import langid_model, write_langid_bundle
from morphseg_bundle import COPY, constant_action, morphseg_model, write_morphseg_bundle
from ner_bundle import NERSettings, NERTestModel, write_ner_bundle
from sentiment_bundle import SentimentModel, SentimentSettings, write_sentiment_bundle
from tokenizer_bundle import write_tokenizer_bundle

# The processors whose bundles `write` puts in the directory, in pipeline order.
PROCESSORS = ("langid", "tokenize", "mwt", "pos", "lemma", "depparse", "ner", "sentiment", "constituency",
              "morphseg")


def write(model_dir: str | pathlib.Path, language: str = "en") -> pathlib.Path:
    """Writes `<model_dir>/1.14.0/<language>/<processor>_default` bundles and the index."""
    model_dir = pathlib.Path(model_dir)
    base = model_dir / "1.14.0" / language
    chars = seq2seq_test_data.units()
    write_langid_bundle(base / "langid_default", *langid_model())
    write_tokenizer_bundle(base / "tokenize_default", size="tiny", seed=1)
    seq2seq_bundle.write_seq2seq_bundle(
        base / "mwt_default", chars, processor="mwt", copy=True, flat_vocab=True,
        extra_assets={"expansion_dict": seq2seq_test_data.MWT_DICT},
        extra_config={"dict_only": False, "ensemble_dict": True})
    seq2seq_bundle.write_seq2seq_bundle(
        base / "lemma_default", chars, processor="lemma", copy=True, edit=True, pos=True,
        extra_assets={"pos_dict": seq2seq_test_data.POS_DICT}, extra_config={"ensemble_dict": True})
    pos_bundle.write_pos_bundle(base / "pos_default")
    depparse_bundle.write_depparse_bundle(base / "depparse_default",
                                          depparse_bundle.make_network(depparse_bundle.Settings(seed=9)))
    write_ner_bundle(base / "ner_default", NERTestModel(NERSettings(tag_sets=1, predict_tagset=0), seed=4).eval())
    write_sentiment_bundle(base / "sentiment_default", SentimentModel(SentimentSettings(), seed=5).eval())
    model, assets = constituency_bundle.make_model(tag_source="upos", seed=11)
    constituency_bundle.write(base / "constituency_default", model, assets)
    # A segmenter whose network always answers "copy", so that random weights cannot predict
    # the padding action (which fails the call, as it must for a broken model).
    write_morphseg_bundle(base / "morphseg_default", *morphseg_model(), edit=constant_action(COPY))
    write_index(model_dir, [{"processor": name, "package": "default", "path": f"{name}_default"}
                            for name in PROCESSORS])
    return model_dir
