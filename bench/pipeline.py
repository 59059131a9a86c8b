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

Native: `Pipeline(text)` text by text, and `Pipeline(texts)` on the whole list; then, to show
where the time goes, each stage (tokenize with mwt, pos, lemma, depparse) on its own: `process`
document by document beside `bulk_process` of the same documents. Baseline: the
references of tests/support run stage after stage on their own outputs: the tokenizer (text by
text, or in bulk), the expander on the tokens it marks as multi-word, the tagger and the parser
sentence by sentence, and the lemmatizer word by word (or batched over the whole list). Both
count the words the reference tokenizer and expander give, in words per second.

--native-only: the references do not run; the words counted (and the sentences the FLOP bound
is computed on) are then those of the native pipeline's output.
"""

from __future__ import annotations

import json
import pathlib
import sys
import tempfile
import time

import torch

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "support"))
sys.path.insert(0, str(ROOT / "bench"))

import depparse_bundle  # noqa: E402
import depparse_reference  # noqa: E402
import pos_bundle  # noqa: E402
import report  # noqa: E402
import seq2seq_reference  # noqa: E402
import seq2seq_test_data  # noqa: E402
import ud_corpus  # noqa: E402
import wide_models  # noqa: E402
from bundle_writer import write_bundle, write_index  # noqa: E402
from pos_reference import reference_tags  # noqa: E402
from tokenizer_bundle import write_tokenizer_bundle  # noqa: E402
from tokenizer_reference import ReferenceTokenizer  # noqa: E402

import _velmora  # noqa: E402

PROCESSORS = ("tokenize", "mwt", "pos", "lemma", "depparse")


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
        tokenizer_dir = write_tokenizer_bundle(base / "tokenize_default", size="tiny" if tiny else "realistic",
                                               seed=1, calibration_texts=texts[:80])
        self.tokenizer = ReferenceTokenizer(tokenizer_dir)
        self.mwt, self.mwt_dict = self.seq2seq(base / "mwt_default", "mwt", tiny)
        self.mwt_dict = self.mwt_dict["expansion_dict"]
        self.lemmatizer, self.lemma_assets = self.seq2seq(base / "lemma_default", "lemma", tiny)
        # Trained taggers and parsers read 1024-unit character language models.
        self.tagger = wide_models.tagger(tiny)
        tagger, forward, backward, assets = self.tagger
        write_bundle(base / "pos_default", pos_bundle.tagger_tensors(tagger, forward, backward), assets,
                     processor="pos")
        self.parser = wide_models.parser(tiny)
        depparse_bundle.write_depparse_bundle(base / "depparse_default", self.parser)
        write_index(model_dir, [{"processor": name, "package": "default", "path": f"{name}_default"}
                                for name in PROCESSORS])

    @staticmethod
    def seq2seq(directory, processor, tiny):
        bundle, network = wide_models.seq2seq(directory, processor, tiny)
        assets = json.loads((bundle / "assets.json").read_text(encoding="utf-8"))
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

    def flops(self, texts: list[str], sentences: list[list[dict]]) -> dict[str, float]:
        """By stage group (see STAGE_GROUPS); the expander's few words are left out."""
        words = [w["text"] for sentence in sentences for w in sentence]
        characters = sum(len(w) + 1 for w in words)

        def charlms(*models):
            return sum(report.lstm_flops(model.charlstm.lstm, characters + 1) for model in models)

        tagger, forward, backward, _ = self.tagger
        return {
            "tokenize + mwt": report.network_flops(self.tokenizer.net, sum(map(len, texts))),
            "pos": charlms(forward, backward) + report.network_flops(tagger, len(words)),
            "lemma": report.seq2seq_flops(self.lemmatizer.net, words),
            "depparse": charlms(*self.parser.charlms) + report.depparse_flops(
                self.parser, [[w["text"] for w in sentence] for sentence in sentences]),
        }


STAGE_GROUPS = [("tokenize + mwt", ("tokenize", "mwt")), ("pos", ("pos",)), ("lemma", ("lemma",)),
                ("depparse", ("depparse",))]


def stage_breakdown(pipeline, texts: list[str], threads: int, words: int, flops: dict[str, float],
                    gemm: float) -> None:
    """Where the time goes: each stage's `process` document by document beside its `bulk_process`
    of the same documents, each on the documents the stages before it give."""
    stages = {stage.name: stage for stage in pipeline.processors}
    inputs = {}
    documents = [_velmora.Document(text) for text in texts]
    for stage in pipeline.processors:
        inputs[stage.name] = [document.to_dict() for document in documents]
        documents = stage.bulk_process(documents)

    def fresh(first: str):
        if first == "tokenize":
            return [_velmora.Document(text) for text in texts]
        return [_velmora.Document.from_dict(sentences, text) for sentences, text in zip(inputs[first], texts)]

    for label, names in STAGE_GROUPS:
        documents = fresh(names[0])
        start = time.perf_counter()
        for name in names:
            documents = [stages[name](document) for document in documents]
        per_document = time.perf_counter() - start
        documents = fresh(names[0])
        start = time.perf_counter()
        for name in names:
            documents = stages[name].bulk_process(documents)
        whole_list = time.perf_counter() - start
        print(f"  {label:15} per document {per_document:8.3f} s   list {whole_list:8.3f} s")
        report.emit("pipeline", f"{label}, per document", threads, "native", per_document, words, "words",
                    flops[label], gemm)
        report.emit("pipeline", f"{label}, list", threads, "native", whole_list, words, "words", flops[label], gemm)


def main():
    parser = report.arguments()
    parser.add_argument("--words", type=int, default=600, help="documents up to this many words")
    args = parser.parse_args()
    gemm = report.gemm_rate(args.threads)
    texts = documents(300 if args.tiny else args.words, 2 if args.tiny else None)
    with tempfile.TemporaryDirectory() as directory:
        # Writing the bundles runs PyTorch networks (the tokenizer's calibration), untimed: at one
        # thread, as several on a busy machine can take many minutes even at tiny sizes.
        torch.set_num_threads(1)
        stages = Stages(pathlib.Path(directory), texts, args.tiny)
        torch.set_num_threads(args.threads)
        pipeline = _velmora.Pipeline("en", processors=",".join(PROCESSORS), model_dir=directory)
        pipeline(texts[0])  # warm-up
        native_sentences = [[{"text": w.text} for w in s.words] for d in pipeline(texts) for s in d.sentences]
        native_words = sum(map(len, native_sentences))
        if args.native_only:
            sentences = native_sentences
            print(f"{len(texts)} texts, {sum(map(len, texts))} characters, {native_words} words native, "
                  f"{args.threads} thread(s)")
        else:
            stages.reference_one(texts[0])
            sentences = stages.reference_many(texts)
            print(f"{len(texts)} texts, {sum(map(len, texts))} characters, {sum(map(len, sentences))} words by the "
                  f"reference ({native_words} native), {args.threads} thread(s)")
        words = sum(map(len, sentences))
        stage_flops = stages.flops(texts, sentences)
        flops = sum(stage_flops.values())
        cases = [
            ("text by text", lambda: [pipeline(text) for text in texts],
             lambda: [stages.reference_one(text) for text in texts]),
            ("whole list", lambda: pipeline(texts), lambda: stages.reference_many(texts)),
        ]
        for case, native, baseline in cases:
            native_seconds = report.timed(native)
            report.emit("pipeline", case, args.threads, "native", native_seconds, words, "words", flops, gemm)
            if args.native_only:
                print(f"{case:14} native {native_seconds:8.3f} s {words / native_seconds:9.0f} words/s")
                continue
            baseline_seconds = report.timed(baseline)
            print(f"{case:14} native {native_seconds:8.3f} s {words / native_seconds:9.0f} words/s   "
                  f"reference {baseline_seconds:8.3f} s {words / baseline_seconds:9.0f} words/s")
            report.emit("pipeline", case, args.threads, "baseline", baseline_seconds, words, "words", flops, gemm)
        print("stages, native:")
        stage_breakdown(pipeline, texts, args.threads, words, stage_flops, gemm)


if __name__ == "__main__":
    main()
