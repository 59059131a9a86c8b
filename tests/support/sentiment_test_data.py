"""Writes everything the sentiment classifier's C++ tests read, once per test run:

- ``models/<name>/``: a bundle of each configuration of ``model_specs`` (seeded weights), and
  ``models/<name>.json``: the PyTorch reference's logits of batches of sentences, its classes
  for several word budgets, and its pretrain vocabulary ids of single words;
- ``refused/<case>/`` with ``refused.json`` ({case: [error kind, message]}): bundles that loading
  must refuse, one broken thing each;
- ``accepted/<case>/`` with ``accepted.json`` ({case: expected loaded state}): bundles at the edges
  of what loading accepts.

Run by write_cpp_test_data.py for the suite "sentiment", after the test packages are compiled: the
"transformer" model runs the tiny test encoder ``smoke_encoder.pt2`` of the package directory.
"""

import copy
import json
import random

import torch

EDGE_SENTENCES = [
    ["the", "movie", "was", "good"],
    ["Paris"],
    ["paris", "dogs'", "New York", "PARIS"],
    ["Dogs'", "x'", "'", "''", "É", "日本"],
    [],
    ["unknownword", "zzz", "good"],
    ["good"] * 7,
    ["a", "b c", "not", "bad", "fun", "film", "great", "it", "was", "boring", "the", "cat", "dog"] * 3,
]
LOOKUP_WORDS = ["the", "Paris", "paris", "PARIS", "dogs'", "Dogs'", "x'", "'", "''", "New York", "new york",
                "NEW YORK", "new\u00a0york", "É", "é", "日本", "nothing", "", "The", "movie's"]


def random_sentences(words, count, longest, seed):
    rng = random.Random(seed)
    return [[rng.choice(words) for _ in range(rng.randint(0, longest))] for _ in range(count)]


def general_sentences(seed):
    from sentiment_bundle import PRETRAIN_WORDS
    words = PRETRAIN_WORDS + ["Good", "BAD", "unseen", "Movie'", "dogs'", "日本"]
    return EDGE_SENTENCES + random_sentences(words, 24, 12, seed)


def transformer_sentences(seed):
    """Lower-case ASCII words that the reference's WordPiece splits like the encoder's own."""
    words = ["the", "cat", "dog", "run", "un", "running", "unbreakable", "xyz", "cats", "good", "movie"]
    return [["the", "cat"], [], ["unbreakable"], ["running", "dog", "xyz", "the"] * 3] + random_sentences(words, 8, 9, seed)


def model_specs():
    from sentiment_bundle import SentimentSettings
    return {
        # name: (settings, seed, dtype, sentences)
        "plain": (SentimentSettings(filters=(3, 4), channels=4, fc_shapes=(6,)), 1, torch.float32, "general"),
        "sum_lowercase_2d": (SentimentSettings(method="SUM", lower=True, filters=(2, (2, 4)), channels=3, maxpool=2),
                             2, torch.float32, "general"),
        "concat_bilstm": (SentimentSettings(method="CONCAT", extra_dim=3, bilstm_hidden=4, filters=((3, 2), 2),
                                        channels=3, maxpool=3, fc_shapes=(5, 4)), 3, torch.float32, "general"),
        "charlm_projected": (SentimentSettings(embedding=6, charlm_forward=True, charlm_backward=True, charlm_projection=3,
                                           filters=(2, (1, 4)), channels=3), 4, torch.float32, "general"),
        "charlm_backward_bilstm": (SentimentSettings(method="SUM", charlm_backward=True, bilstm_hidden=3, filters=(1, 3),
                                                 channels=5, maxpool=2, num_classes=4), 5, torch.float32, "general"),
        "plain_float64": (SentimentSettings(filters=(2,), fc_shapes=(3,)), 6, torch.float64, "general"),
        "transformer": (SentimentSettings(embedding=4, transformer_hidden=16, filters=(2, (1, 5))), 7, torch.float32,
                        "transformer"),
    }


def write_models(out, package):
    import sentiment_reference as reference
    import transformer_reference
    from aoti_packages import TinyEncoder
    from sentiment_bundle import SentimentModel, write_sentiment_bundle

    encoder = TinyEncoder().eval()
    for name, (settings, seed, dtype, sentence_kind) in model_specs().items():
        model = SentimentModel(settings, seed=seed).to(dtype).eval()
        sentences = general_sentences(seed) if sentence_kind == "general" else transformer_sentences(seed)
        reference.centre_classes(model, sentences, encoder)
        uses_transformer = settings.transformer_hidden > 0
        write_sentiment_bundle(out / name, model, dtype=dtype,
                               transformer_block=transformer_reference.wordpiece_block() if uses_transformer else None,
                               artifacts={"model.pt2": package.read_bytes()} if uses_transformer else None)
        groups = [[words] for words in sentences] + [sentences, [sentences[1], sentences[0]]]
        expected = {
            "batches": [{"sentences": group, "logits": reference.logits(model, group, encoder).tolist()}
                        for group in groups],
            "classify": [{"sentences": sentences, "budget": budget,
                          "classes": reference.classify(model, sentences, budget, encoder)}
                         for budget in (5000, 10, 3, 1)],
            "lookups": [{"word": word, "id": reference.pretrain_id(model, word)} for word in LOOKUP_WORDS],
        }
        (out / f"{name}.json").write_text(json.dumps(expected, ensure_ascii=False), encoding="utf-8")


def base_model():
    """The model the refused bundles break: every optional part of the network present."""
    from sentiment_bundle import SentimentModel, SentimentSettings
    return SentimentModel(SentimentSettings(method="CONCAT", extra_dim=3, bilstm_hidden=3, charlm_forward=True,
                                        charlm_backward=True, charlm_projection=2, filters=(2,), fc_shapes=(4,)),
                          seed=9)


def edited(model, config=None, /, **members):
    """Writer arguments: the model with its assets changed; a value of ... deletes the key."""
    from sentiment_bundle import sentiment_assets
    assets = copy.deepcopy(sentiment_assets(model))
    for target, changes in ((assets["config"], config or {}), (assets, members)):
        for key, value in changes.items():
            if value is ...:
                del target[key]
            else:
                target[key] = value
    return {"model": model, "assets": assets}


def refused_cases():
    """{case: (writer arguments, error kind, message)}; one broken thing each. The kind names the
    error class: "sentiment", "bundle" (the bundle's own) or "charlm"."""
    from sentiment_bundle import SentimentModel, SentimentSettings, sentiment_tensors

    base = base_model()
    tensors = sentiment_tensors(base)

    def config(**changes):
        return edited(base, changes)

    def root(**changes):
        return edited(base, None, **changes)

    def replaced(name, value):
        return {"model": base, "tensors": {**tensors, name: value}}

    def without(name):
        return {"model": base, "tensors": {key: value for key, value in tensors.items() if key != name}}

    def charlm_assets_edit(direction, key, value):
        arguments = root()
        if value is ...:
            del arguments["assets"]["charlm"][direction][key]
        else:
            arguments["assets"]["charlm"][direction][key] = value
        return arguments

    vocab = root()["assets"]["pretrain_vocab"]["_unit2id"]
    projection = tensors["charmodel_forward_projection.weight"]
    architecture = ("unsupported sentiment architecture; the native profile requires Dorvek's CNN classifier "
                    "without ELMo or PEFT")
    dimensions = "sentiment dimensions and maxpool width must be positive"
    fc_layers = "sentiment fully connected layer dimensions disagree with the configured architecture"
    return {
        "processor_ner": ({"model": base, "processor": "ner"}, "sentiment", "expected a sentiment bundle, got 'ner'"),
        "model_type_lstm": (config(model_type="LSTM"), "sentiment", architecture),
        "use_elmo": (config(use_elmo=True), "sentiment", architecture),
        "use_elmo_before_malformed_peft": (config(use_elmo=True, use_peft="yes"), "sentiment", architecture),
        "use_peft": (config(use_peft=True), "sentiment", architecture),
        "missing_config": (root(config=...), "sentiment", "missing JSON key 'config' at assets"),
        "missing_model_type": (config(model_type=...), "sentiment", "missing JSON key 'model_type' at assets.config"),
        "max_norm_number": (config(extra_wordvec_max_norm=1.0), "sentiment",
                            "sentiment extra-embedding max-norm constraints are not supported by the native profile"),
        "method_mean": (config(extra_wordvec_method="MEAN"), "sentiment",
                        "unsupported sentiment extra word-vector method: 'MEAN'"),
        "maxpool_zero": (config(maxpool_width=0), "sentiment", dimensions),
        "num_classes_absent": (config(num_classes=...), "sentiment", dimensions),
        "bilstm_without_hidden": (config(bilstm_hidden_dim=0), "sentiment", dimensions),
        "bilstm_flag_string": (config(bilstm="yes"), "sentiment", "expected JSON boolean at assets.config.bilstm"),
        "no_filters": (config(filter_sizes=[]), "sentiment", "sentiment classifier has no convolution filters"),
        "filter_one_dimension": (config(filter_sizes=[[3]]), "sentiment", "sentiment 2D filter must have two dimensions"),
        "filter_three_dimensions": (config(filter_sizes=[[3, 2, 1]]), "sentiment",
                                    "sentiment 2D filter must have two dimensions"),
        "filter_zero_height": (config(filter_sizes=[0]), "sentiment", "sentiment convolution dimensions must be positive"),
        "filter_zero_width": (config(filter_sizes=[[2, 0]]), "sentiment",
                              "sentiment convolution dimensions must be positive"),
        "filter_string": (config(filter_sizes=["3"]), "sentiment",
                          "expected JSON array at assets.config.filter_sizes[0]"),
        "filter_fraction": (config(filter_sizes=[2, [2, 1.5]]), "sentiment",
                            "expected JSON integer at assets.config.filter_sizes[1][1]"),
        "labels_short": (root(labels=["negative", "positive"]), "sentiment", "sentiment labels disagree with num_classes"),
        "label_number": (root(labels=["a", 1, "c"]), "sentiment", "expected JSON string at assets.labels[]"),
        "pad_unk_swapped": (root(pretrain_vocab={"_unit2id": {**vocab, "<PAD>": 1, "<UNK>": 0}}), "sentiment",
                            "sentiment pretrain vocabulary has invalid PAD/UNK ids"),
        "pretrain_id_string": (root(pretrain_vocab={"_unit2id": {**vocab, "the": "2"}}), "sentiment",
                               "expected JSON integer at assets.pretrain_vocab._unit2id.the"),
        "pretrain_lower_null": (root(pretrain_vocab={"_unit2id": vocab, "lower": None}), "sentiment",
                                "expected JSON boolean at assets.pretrain_vocab.lower"),
        "pretrain_id_outside_table": (root(pretrain_vocab={"_unit2id": {**vocab, "the": 400}}), "sentiment",
                                      "sentiment pretrain vocabulary ids exceed its embedding table"),
        "sum_without_extra_vocab": (edited(SentimentModel(SentimentSettings(method="SUM"), seed=9), extra_vocab=None),
                                    "sentiment", "sentiment extra vocabulary disagrees with its method"),
        "none_with_extra_vocab": (edited(SentimentModel(SentimentSettings(), seed=9), extra_vocab=["<PAD>", "<UNK>"]),
                                  "sentiment", "sentiment extra vocabulary disagrees with its method"),
        "extra_duplicate_moves_ids_past_table": (
            root(extra_vocab=["<PAD>", "<UNK>", "<PAD>", "good"]) | {"tensors": {
                **tensors, "extra_embedding.weight": torch.zeros(3, 3)}},
            "sentiment", "sentiment extra vocabulary ids exceed its embedding table"),
        "extra_without_unknown_row": (
            root(extra_vocab=["<PAD>"]) | {"tensors": {**tensors, "extra_embedding.weight": torch.zeros(1, 3)}},
            "sentiment", "sentiment extra vocabulary ids exceed its embedding table"),
        "unsupported_dtype": (replaced("unk", tensors["unk"].to(torch.uint16)), "sentiment",
                              "ATen view does not support bundle dtype: uint16"),
        "missing_unk": (without("unk"), "sentiment", "missing sentiment tensor: 'unk'"),
        "embedding_rows": (replaced("embedding.weight", tensors["embedding.weight"][:-1].clone()), "sentiment",
                           "sentiment pretrain embedding dimensions disagree with its vocabulary"),
        "unk_width": (replaced("unk", tensors["unk"][:-1].clone()), "sentiment",
                      "sentiment pretrain embedding dimensions disagree with its vocabulary"),
        "extra_rows": (replaced("extra_embedding.weight", tensors["extra_embedding.weight"][:-1].clone()), "sentiment",
                       "sentiment extra embedding dimensions disagree with its vocabulary"),
        "missing_extra_embedding": (without("extra_embedding.weight"), "sentiment",
                                    "missing sentiment tensor: 'extra_embedding.weight'"),
        "sum_widths": (config(extra_wordvec_method="SUM"), "sentiment",
                       "summed sentiment embeddings have different widths"),
        "missing_charlm_assets": (root(charlm=...), "sentiment", "missing JSON key 'charlm' at assets"),
        "missing_backward_charlm_assets": (root(charlm={"forward": root()["assets"]["charlm"]["forward"]}),
                                           "sentiment", "missing JSON key 'backward' at assets.charlm"),
        "charlm_assets_without_vocab": (charlm_assets_edit("forward", "vocab", ...), "sentiment",
                                        "missing JSON key 'vocab' at charlm assets"),
        "backward_charlm_reads_forward": (charlm_assets_edit("backward", "is_forward_lm", True), "sentiment",
                                          "sentiment backward charLM has the wrong direction"),
        "forward_charlm_reads_backward": (charlm_assets_edit("forward", "is_forward_lm", False), "sentiment",
                                          "sentiment forward charLM has the wrong direction"),
        "missing_charlm_tensor": (without("backward_charlm.char_emb.weight"), "bundle",
                                  "tensor is not present in bundle: 'backward_charlm.char_emb.weight'"),
        "charlm_lstm_bias": (replaced("forward_charlm.charlstm.lstm.bias_ih_l0", torch.zeros(1)), "charlm",
                             "character language model tensors do not match its assets"),
        "projection_input_width": (replaced("charmodel_forward_projection.weight", projection[:, :-1].clone()),
                                   "sentiment", "sentiment forward charLM projection has an invalid input width"),
        "projection_output_width": (replaced("charmodel_backward_projection.weight", projection[:1].clone()),
                                    "sentiment", "sentiment backward charLM projection has an invalid output width"),
        "projection_bias_width": (replaced("charmodel_forward_projection.bias", torch.zeros(1)), "sentiment",
                                  "sentiment forward charLM projection has an invalid output width"),
        "missing_projection_bias": (without("charmodel_backward_projection.bias"), "sentiment",
                                    "missing sentiment tensor: 'charmodel_backward_projection.bias'"),
        "bilstm_input_width": (replaced("bilstm.weight_ih_l0", tensors["bilstm.weight_ih_l0"][:, :-1].clone()),
                               "sentiment", "sentiment BiLSTM input width disagrees with its embedding profile"),
        "bilstm_bias_length": (replaced("bilstm.bias_hh_l1_reverse", torch.zeros(1)), "sentiment",
                               "sentiment BiLSTM weights disagree with its hidden size"),
        "missing_bilstm_tensor": (without("bilstm.weight_hh_l1_reverse"), "sentiment",
                                  "missing sentiment tensor: 'bilstm.weight_hh_l1_reverse'"),
        "conv_rank": (replaced("conv_layers.0.weight", tensors["conv_layers.0.weight"][:, 0].clone()), "sentiment",
                      "sentiment convolution tensor disagrees with its configured filter"),
        "conv_height": (config(filter_sizes=[3]), "sentiment",
                        "sentiment convolution tensor disagrees with its configured filter"),
        "conv_bias_length": (replaced("conv_layers.0.bias", torch.zeros(1)), "sentiment",
                             "sentiment convolution tensor disagrees with its configured filter"),
        "conv_full_width": (replaced("conv_layers.0.weight", tensors["conv_layers.0.weight"][..., :-1].clone()),
                            "sentiment", "sentiment full-width convolution has the wrong input width"),
        "missing_conv_bias": (without("conv_layers.0.bias"), "sentiment", "missing sentiment tensor: 'conv_layers.0.bias'"),
        "conv_2d_not_tiling": ({"model": SentimentModel(SentimentSettings(embedding=10, filters=((2, 4),)), seed=9)},
                               "sentiment", "sentiment 2D filter does not tile its input width"),
        "conv_2d_wrong_kernel": (edited(SentimentModel(SentimentSettings(embedding=10, filters=((2, 5),)), seed=9),
                                        {"filter_sizes": [[2, 2]]}),
                                 "sentiment", "sentiment 2D filter does not tile its input width"),
        "fc_input": (config(fc_shapes=[5]), "sentiment", fc_layers),
        "fc_bias": (replaced("fc_layers.1.bias", torch.zeros(2)), "sentiment", fc_layers),
        "missing_fc_layer": (config(fc_shapes=[4, 3]), "sentiment", "missing sentiment tensor: 'fc_layers.2.weight'"),
        "missing_fc_shapes": (config(fc_shapes=...), "sentiment", "missing JSON key 'fc_shapes' at assets.config"),
        "fc_shape_string": (config(fc_shapes=["4"]), "sentiment", "expected JSON integer at assets.config.fc_shapes[]"),
    }


def accepted_cases():
    """{case: (writer arguments, expected loaded state)}; the state keys are optional."""
    from sentiment_bundle import SentimentModel, SentimentSettings

    def case(settings, expect, **config):
        return edited(SentimentModel(settings, seed=13), config), expect

    no_extra_vocab = edited(SentimentModel(SentimentSettings(), seed=13), extra_vocab=...)
    # Logits [0, 1, 1] for every sentence: classes 1 and 2 tie.
    tied = SentimentModel(SentimentSettings(), seed=13)
    with torch.no_grad():
        tied.fc_layers[0].weight.zero_()
        tied.fc_layers[0].bias.copy_(torch.tensor([0.0, 1.0, 1.0]))
    return {
        "max_norm_null": case(SentimentSettings(), {"min_sentence_length": 3, "tallest_filter": 3},
                              extra_wordvec_max_norm=None),
        "optional_keys_absent": case(SentimentSettings(), {"min_sentence_length": 3, "fc_layers": 1},
                                     use_elmo=..., use_peft=..., extra_wordvec_max_norm=..., bilstm=...,
                                     bilstm_hidden_dim=..., charlm_projection=..., has_charlm_forward=...,
                                     has_charlm_backward=..., bert_model=...),
        "none_without_extra_vocab": (no_extra_vocab, {"extra_words": 0}),
        "full_and_2d_filters": case(SentimentSettings(embedding=10, filters=(3, (2, 5))),
                                    {"min_sentence_length": 5, "tallest_filter": 3,
                                     "filters": [[3, None], [2, 5]], "pooled_width": 4 + 4 * 2}),
        "tall_2d_filter": case(SentimentSettings(filters=((7, 2),)), {"min_sentence_length": 2, "tallest_filter": 7,
                                                                 "filters": [[7, 2]]}),
        "wide_2d_filter": case(SentimentSettings(embedding=100, filters=((2, 25),), channels=50), {"pooled_width": 200}),
        "maxpool_quotient": case(SentimentSettings(filters=(2,), channels=3, maxpool=2), {"pooled_width": 1}),
        "no_hidden_fc_layers": case(SentimentSettings(fc_shapes=()), {"fc_layers": 1}),
        "two_hidden_fc_layers": case(SentimentSettings(fc_shapes=(5, 4)), {"fc_layers": 3}),
        "extra_duplicate_at_end": case(SentimentSettings(method="SUM", extra_words=("<PAD>", "<UNK>", "good", "good")),
                                       {"extra_words": 3}),
        "tied_logits": ({"model": tied}, {"fc_layers": 1}),
        "lowercase_flag": case(SentimentSettings(lower=True, method="CONCAT", extra_dim=2),
                               {"lower": True, "extra_words": len(SentimentSettings().extra_words)}),
    }


def write_refused(out):
    from sentiment_bundle import write_sentiment_bundle
    expected = {}
    for name, (arguments, kind, message) in refused_cases().items():
        arguments = dict(arguments)
        write_sentiment_bundle(out / name, arguments.pop("model"), **arguments)
        expected[name] = [kind, message]
    (out.parent / "refused.json").write_text(json.dumps(expected), encoding="utf-8")


def write_accepted(out):
    from sentiment_bundle import write_sentiment_bundle
    expected = {}
    for name, (arguments, expect) in accepted_cases().items():
        arguments = dict(arguments)
        write_sentiment_bundle(out / name, arguments.pop("model"), **arguments)
        expected[name] = expect
    (out.parent / "accepted.json").write_text(json.dumps(expected), encoding="utf-8")


def write(out, aoti_dir):
    for folder in ("models", "refused", "accepted"):
        (out / folder).mkdir()
    write_models(out / "models", aoti_dir / "smoke_encoder.pt2")
    write_refused(out / "refused")
    write_accepted(out / "accepted")
