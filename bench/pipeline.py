"""The default pipeline (tokenize, mwt, pos, lemma, depparse) from Python on the English dev text,
beside the PyTorch references of its stages composed on the same weights.

    PYTHONPATH=build/release/src/python python3 bench/pipeline.py [--threads 1] [--words 600] [--tiny]

The texts are the `# text` lines of en_ewt-ud-dev.conllu, joined into one text per document
(`# newdoc`), the first documents up to --words words (600 by default: the references take
about a minute for them at one thread). The model directory holds random-weight
bundles of trained models' sizes: the tokenizer's realistic size, seq2seq expander and
lemmatizer with 50-wide embeddings and 200 hidden units, the tagger of bench/pos.py and the
parser of bench/depparse.py, both reading 1024-unit forward and backward character
language models instead of their character LSTMs (--tiny: the test sizes and two documents).

Native: `Pipeline(text)` text by text, and `Pipeline(texts)` on the whole list. Baseline: the
references of tests/support run stage after stage on their own outputs: the tokenizer (text by
text, or in bulk), the expander on the tokens it marks as multi-word, the tagger and the parser
sentence by sentence, and the lemmatizer word by word (or batched over the whole list). Both
count the words the reference tokenizer and expander give, in words per second.
"""

from __future__ import annotations

import json
import pathlib
import sys
import tempfile

import torch

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "support"))
sys.path.insert(0, str(ROOT / "bench"))

import charlm_reference  # noqa: E402
import depparse_bundle  # noqa: E402
import depparse_reference  # noqa: E402
import pos_bundle  # noqa: E402
import report  # noqa: E402
import seq2seq_bundle  # noqa: E402
import seq2seq_reference  # noqa: E402
import seq2seq_test_data  # noqa: E402
import ud_corpus  # noqa: E402
from bundle_writer import write_bundle, write_index  # noqa: E402
from pos_reference import reference_tags  # noqa: E402
from tokenizer_bundle import write_tokenizer_bundle  # noqa: E402
from tokenizer_reference import ReferenceTokenizer  # noqa: E402

import _velmora  # noqa: E402

PROCESSORS = ("tokenize", "mwt", "pos", "lemma", "depparse")
POS_DIMS = {"word_emb_dim": 75, "pretrain_dim": 100, "transformed_dim": 125, "char_emb_dim": 100,
            "char_hidden_dim": 400, "hidden_dim": 200, "tag_emb_dim": 50, "upos_hid": 400, "xpos_hid": 400,
            "feats_hid": 400}
PARSER = dict(word_emb_dim=75, tag_emb_dim=50, transformed_dim=125, char_emb_dim=100, char_hidden_dim=400,
              hidden_dim=400, num_layers=3, deep_biaff_hidden_dim=400, pretrain_dim=100, seed=1)
SEQ2SEQ = {"emb": 50, "hidden": 200, "layers": 1}
TINY_SEQ2SEQ = {"emb": 8, "hidden": 10, "layers": 1}


def documents(limit_words: int, limit_documents: int | None = None) -> list[str]:
    """One text per document of the dev corpus, its `# text` lines joined by spaces."""
    corpus = ud_corpus.find_dev_corpus()
    if corpus is None:
        raise SystemExit("en_ewt-ud-dev.conllu not found")
    texts: list[list[str]] = []
    for line in corpus.read_text(encoding="utf-8").splitlines():
        if line.startswith("# newdoc") or not texts:
            texts.append([])
        if line.startswith("# text = "):
            texts[-1].append(line[len("# text = "):])
    chosen, words = [], 0
    for sentences in texts:
        if not sentences:
            continue
        if words >= limit_words or (limit_documents is not None and len(chosen) >= limit_documents):
            break
        chosen.append(" ".join(sentences))
        words += sum(len(sentence.split()) for sentence in sentences)
    return chosen


class Stages:
    """The bundles of the five stages, written to `model_dir`, and their PyTorch references."""

    def __init__(self, model_dir: pathlib.Path, texts: list[str], tiny: bool):
        base = model_dir / "1.14.0" / "en"
        chars = seq2seq_test_data.units()
        tokenizer_dir = write_tokenizer_bundle(base / "tokenize_default", size="tiny" if tiny else "realistic",
                                               seed=1, calibration_texts=texts[:80])
        self.tokenizer = ReferenceTokenizer(tokenizer_dir)
        shape = TINY_SEQ2SEQ if tiny else SEQ2SEQ
        self.mwt, self.mwt_dict = self.seq2seq(
            base / "mwt_default", chars, shape, processor="mwt", copy=True, flat_vocab=True,
            extra_assets={"expansion_dict": seq2seq_test_data.MWT_DICT},
            extra_config={"dict_only": False, "ensemble_dict": True})
        self.lemmatizer, self.lemma_assets = self.seq2seq(
            base / "lemma_default", chars, shape, processor="lemma", copy=True, edit=True, pos=True,
            extra_assets={"pos_dict": seq2seq_test_data.POS_DICT}, extra_config={"ensemble_dict": True})
        self.mwt_dict = self.mwt_dict["expansion_dict"]
        # Trained taggers and parsers read 1024-unit character language models; the test support
        # builds tiny ones, so its constructor is swapped for one of that size while they are built.
        charlm_hidden = 16 if tiny else 1024
        built_pos, built_parser = pos_bundle.CharLanguageModel, charlm_reference.CharLanguageModel

        def charlm(units, embedding=100, hidden=0, layers=1, seed=0):
            return built_parser(units, embedding=100, hidden=charlm_hidden, layers=1, seed=seed)

        pos_bundle.CharLanguageModel = charlm_reference.CharLanguageModel = charlm
        try:
            setup = pos_bundle.PosSetup(charlm=True, dims=None if tiny else POS_DIMS, extra_words=5000)
            self.tagger = pos_bundle.build_tagger(setup)
            tagger, forward, backward, assets = self.tagger
            write_bundle(base / "pos_default", pos_bundle.tagger_tensors(tagger, forward, backward), assets,
                         processor="pos")
            settings = depparse_bundle.Settings(charlm=True, **({"seed": 1} if tiny else PARSER))
            self.parser = depparse_bundle.make_network(settings)
        finally:
            pos_bundle.CharLanguageModel, charlm_reference.CharLanguageModel = built_pos, built_parser
        depparse_bundle.write_depparse_bundle(base / "depparse_default", self.parser)
        write_index(model_dir, [{"processor": name, "package": "default", "path": f"{name}_default"}
                                for name in PROCESSORS])

    @staticmethod
    def seq2seq(directory, chars, shape, **options):
        bundle = seq2seq_bundle.write_seq2seq_bundle(directory, chars, max_dec_len=20, batch_size=50, **shape,
                                                     **options)
        assets = json.loads((bundle / "assets.json").read_text(encoding="utf-8"))
        flags = {key: options.get(key, False) for key in ("pos", "copy", "edit")}
        network = seq2seq_bundle.seq2seq_network(chars, emb=shape["emb"], hidden=shape["hidden"],
                                                 layers=shape["layers"], **flags)
        return seq2seq_reference.Model(network, assets), assets

    # ---- the composed reference ----

    def words_of(self, tokens) -> list[str]:
        words = []
        for token in tokens:
            if token.misc and "MWT=Yes" in token.misc:
                expansion = seq2seq_test_data.mwt_expand_reference(self.mwt, self.mwt_dict, token.text, False)
                words += expansion.split() or [token.text]
            else:
                words.append(token.text)
        return words

    def annotate(self, sentences, batched_lemmas: bool) -> list[list[dict]]:
        """Expander, tagger, lemmatizer and parser over tokenized sentences."""
        tagger, forward, backward, assets = self.tagger
        annotated = []
        for tokens in sentences:
            words = self.words_of(tokens)
            if not words:
                continue
            tags = reference_tags(tagger, forward, backward, assets, words)
            annotated.append([{"text": w, "upos": t[0], "xpos": t[1], "feats": t[2]} for w, t in zip(words, tags)])
        all_words = [word for sentence in annotated for word in sentence]
        if batched_lemmas:
            lemmas = seq2seq_reference.predict_batched(self.lemmatizer, [w["text"] for w in all_words],
                                                       [w["upos"] for w in all_words])
            lemmas = [lemma[0] if isinstance(lemma, tuple) else lemma for lemma in lemmas]
        else:
            lemmas = [seq2seq_reference.lemma_of(self.lemma_assets, self.lemmatizer, w["text"], w["upos"])
                      for w in all_words]
        for word, lemma in zip(all_words, lemmas):
            word["lemma"] = lemma
        for sentence in annotated:
            depparse_reference.reference_parse(self.parser, sentence)
        return annotated

    def reference_one(self, text: str) -> list[list[dict]]:
        return self.annotate(self.tokenizer.process(text), batched_lemmas=False)

    def reference_many(self, texts: list[str]) -> list[list[dict]]:
        per_text = self.tokenizer.process_bulk(texts)
        return self.annotate([sentence for sentences in per_text for sentence in sentences], batched_lemmas=True)

    # ---- the network's floating-point operations over annotated sentences ----

    def flops(self, texts: list[str], sentences: list[list[dict]]) -> float:
        words = [w["text"] for sentence in sentences for w in sentence]
        characters = sum(len(w) + 1 for w in words)
        tagger, forward, backward, _ = self.tagger
        charlms = [forward, backward, *self.parser.charlms]
        total = sum(report.lstm_flops(model.charlstm.lstm, characters + 1) for model in charlms)
        total += report.network_flops(tagger, len(words))
        total += report.depparse_flops(self.parser, [[w["text"] for w in sentence] for sentence in sentences])
        total += report.network_flops(self.tokenizer.net, sum(map(len, texts)))
        total += report.seq2seq_flops(self.lemmatizer.net, words)
        return total


def main():
    parser = report.arguments()
    parser.add_argument("--words", type=int, default=600, help="documents up to this many words")
    args = parser.parse_args()
    gemm = report.gemm_rate(args.threads)
    texts = documents(300 if args.tiny else args.words, 2 if args.tiny else None)
    with tempfile.TemporaryDirectory() as directory:
        stages = Stages(pathlib.Path(directory), texts, args.tiny)
        torch.set_num_threads(args.threads)
        pipeline = _velmora.Pipeline("en", processors=",".join(PROCESSORS), model_dir=directory)
        pipeline(texts[0])  # warm-up
        stages.reference_one(texts[0])
        sentences = stages.reference_many(texts)
        words = sum(map(len, sentences))
        flops = stages.flops(texts, sentences)
        native_words = sum(len(s.words) for d in pipeline(texts) for s in d.sentences)
        print(f"{len(texts)} texts, {sum(map(len, texts))} characters, {words} words by the reference "
              f"({native_words} native), {args.threads} thread(s)")
        cases = [
            ("text by text", lambda: [pipeline(text) for text in texts],
             lambda: [stages.reference_one(text) for text in texts]),
            ("whole list", lambda: pipeline(texts), lambda: stages.reference_many(texts)),
        ]
        for case, native, baseline in cases:
            native_seconds, baseline_seconds = report.timed(native), report.timed(baseline)
            print(f"{case:14} native {native_seconds:8.3f} s {words / native_seconds:9.0f} words/s   "
                  f"reference {baseline_seconds:8.3f} s {words / baseline_seconds:9.0f} words/s")
            report.emit("pipeline", case, args.threads, "native", native_seconds, words, "words", flops, gemm)
            report.emit("pipeline", case, args.threads, "baseline", baseline_seconds, words, "words", flops, gemm)


if __name__ == "__main__":
    main()
