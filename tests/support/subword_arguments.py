"""Small subword tokenizer configurations for the Python binding tests, learned in a second or
two by the seeded learners of subword_reference from the start of the English dev corpus (or
from the built-in text when the corpus is absent), with the reference tokenizer of each.

`configurations()` returns {kind: (constructor keyword arguments, reference tokenizer)} for the
kinds "wordpiece", "bpe" and "unigram"; `sample_sentences()` and `sample_texts()` give the words
and texts to compare on.
"""

import functools

import subword_reference as ref
import subword_test_data as data
import ud_corpus

SENTENCES = 120


@functools.cache
def _corpus():
    corpus = ud_corpus.find_dev_corpus()
    if corpus is None:
        return [data.FALLBACK_TEXT.split()], [data.FALLBACK_TEXT]
    sentences, texts = data.read_corpus(corpus)
    return sentences[:SENTENCES], texts[:SENTENCES]


def sample_sentences():
    return _corpus()[0]


def sample_texts():
    return _corpus()[1]


@functools.cache
def configurations():
    sentences, texts = _corpus()
    words = [word for sentence in sentences for word in sentence]

    vocabulary = ref.learn_wordpiece(words, 150, 1, "z")
    wordpiece = ({"vocabulary": vocabulary, "lowercase": True, "strip_accents": True, "unknown_token": "[UNK]",
                  "cls_token": "[CLS]", "sep_token": "[SEP]", "continuing_subword_prefix": "##",
                  "max_input_characters_per_word": 100},
                 ref.WordPiece(vocabulary))

    vocabulary, merges = ref.learn_bpe_merges(texts, 60, 60)
    bpe = ({"vocabulary": vocabulary, "merges": merges, "unknown_token": "<unk>", "cls_token": "<s>",
            "sep_token": "</s>", "add_prefix_space": True},
           ref.ByteBPE(vocabulary, merges, add_prefix_space=True))

    charsmap = ref.CharsMap(data.CHARSMAP)
    vocabulary, scores, unknown_id = ref.learn_unigram(words, 300, 300, "zq")
    unigram = ({"vocabulary": vocabulary, "scores": scores, "precompiled_charsmap": list(charsmap.serialize()),
                "unknown_id": unknown_id, "cls_token": "<s>", "sep_token": "</s>"},
               ref.Unigram(vocabulary, scores, charsmap, unknown_id))
    return {"wordpiece": wordpiece, "bpe": bpe, "unigram": unigram}
