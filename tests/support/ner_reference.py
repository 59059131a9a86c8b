"""A PyTorch reference of the named-entity tagger, computed from an ``ner_bundle.NERTestModel``.

For one sentence (a list of token texts): each token's word and delta ids (lower-cased keys,
spaces written as no-break spaces in the word vocabulary's key, delta row 0 for a word only the
pretrained vocabulary knows), the summed word and delta embeddings, the transformer vectors, the
character features (final states of the character BiLSTM, or the two character language models),
the optional input transform, the tagger BiLSTM, the classifiers up to the predicted tag set
(chained when the output layers are connected), Viterbi decoding of the predicted set, the tag
strings (reserved ids 0-3 read as id 4) and the BIOES repair.
"""

from __future__ import annotations

import torch

import charlm_reference
import transformer_reference

UNKNOWN = 1
FIRST_TAG = 4


def vocabulary_key(model, text, vocabulary_lower, word_vocabulary):
    key = text.lower() if model.settings.lowercase_words else text
    if vocabulary_lower:
        key = key.lower()
    return key.replace(" ", "\u00a0") if word_vocabulary else key


def token_ids(model, token):
    s = model.settings
    word = model.word_vocab.get(vocabulary_key(model, token, s.word_vocab_lower, True), UNKNOWN)
    delta = model.delta_vocab.get(vocabulary_key(model, token, s.delta_vocab_lower, False), UNKNOWN)
    if delta == UNKNOWN and word != UNKNOWN:
        delta = 0
    return word, delta


def character_text(model, token):
    return token.lower() if model.settings.char_lowercase else token


def char_lstm_feature(model, token):
    """[2 * char_hidden_dim]: the last layer's forward then backward final hidden state."""
    text = character_text(model, token)
    if not text:
        raise ValueError("empty token")
    ids = torch.tensor([[model.char_vocab.get(character, UNKNOWN) for character in text]])
    charmodel = model.charmodel
    embedded = charmodel.char_emb(ids)
    _, (hidden, _) = charmodel.charlstm.lstm(embedded, (charmodel.charlstm_h_init, charmodel.charlstm_c_init))
    return torch.cat([hidden[-2, 0], hidden[-1, 0]])


def tagger_input(model, tokens, encoder=None, max_length=64):
    """[n, input size] before the batch dimension."""
    ids = [token_ids(model, token) for token in tokens]
    word = model.word_emb(torch.tensor([w for w, _ in ids])) + model.delta_emb(torch.tensor([d for _, d in ids]))
    parts = [word]
    if encoder is not None:
        lowered = [token.lower() for token in tokens]
        parts.append(transformer_reference.encode(encoder, lowered, max_length, False).to(word.dtype))
    if model.settings.charlm:
        texts = [character_text(model, token) for token in tokens]
        parts.append(charlm_reference.reference_encode(model.charmodel_forward, True, texts, word.dtype))
        parts.append(charlm_reference.reference_encode(model.charmodel_backward, False, texts, word.dtype))
    else:
        parts.append(torch.stack([char_lstm_feature(model, token) for token in tokens]))
    features = torch.cat(parts, dim=1)
    if model.settings.input_transform:
        features = model.input_transform(features)
    return features


def tagger_rows(model, tokens, encoder=None):
    """[n, 2 * hidden_dim]: the tagger BiLSTM output of one sentence."""
    with torch.no_grad():
        features = tagger_input(model, tokens, encoder).unsqueeze(0)
        output, _ = model.taggerlstm.lstm(features, (model.taggerlstm_h_init, model.taggerlstm_c_init))
        return output[0]


def predicted_scores(model, rows):
    s = model.settings
    with torch.no_grad():
        if not s.connect_output_layers:
            return model.tag_clfs[s.predict_tagset](rows)
        scores = None
        for column in range(s.predict_tagset + 1):
            inputs = rows if column == 0 else torch.cat([rows, scores], dim=1)
            scores = model.tag_clfs[column](inputs)
        return scores


def viterbi(emissions, transitions):
    """Best path of emissions [n, T] under transitions [T, T]; ties keep the lower index."""
    emissions = emissions.float().tolist()
    transitions = transitions.float().tolist()
    tags = len(transitions)
    score = list(emissions[0])
    back = []
    for row in emissions[1:]:
        pointers, new = [], []
        for j in range(tags):
            candidates = [score[i] + transitions[i][j] for i in range(tags)]
            best = max(range(tags), key=lambda i: (candidates[i], -i))
            pointers.append(best)
            new.append(candidates[best] + row[j])
        back.append(pointers)
        score = new
    last = max(range(tags), key=lambda j: (score[j], -j))
    path = [last]
    for pointers in reversed(back):
        path.append(pointers[path[-1]])
    return path[::-1]


def split_tag(tag):
    return (tag[:2], tag[2:]) if len(tag) >= 2 else (tag, None)


def repair(tags):
    """Well-formed BIOES: stray inside tags open or close their run, lone begin/end tags stand alone."""
    tags = list(tags)
    n = len(tags)
    for i in range(n):
        prefix, kind = split_tag(tags[i])
        if prefix != "I-":
            continue
        if i + 1 == n or tags[i + 1] not in ("I-" + kind, "E-" + kind):
            tags[i] = "E-" + kind
        if i == 0 or tags[i - 1] not in ("B-" + kind, "I-" + kind):
            tags[i] = "B-" + kind
    for i in range(n):
        prefix, kind = split_tag(tags[i])
        if prefix == "B-" and (i + 1 == n or tags[i + 1] not in ("I-" + kind, "E-" + kind)):
            tags[i] = "S-" + kind
        elif prefix == "E-" and (i == 0 or tags[i - 1] not in ("B-" + kind, "I-" + kind)):
            tags[i] = "S-" + kind
    return tags


def tag(model, tokens, encoder=None):
    if not tokens:
        return []
    s = model.settings
    rows = tagger_rows(model, tokens, encoder)
    path = viterbi(predicted_scores(model, rows), model.crits[s.predict_tagset]._transitions.detach())
    column = model.tag_vocab[s.predict_tagset]
    return repair([column[max(index, FIRST_TAG)] for index in path])


def entity_spans(sentences_tags):
    """(sentence, first token, end token, type) of the BIOES runs of each sentence."""
    spans = []
    for sentence, tags in enumerate(sentences_tags):
        start = None
        for index, value in enumerate(tags):
            prefix, kind = split_tag(value)
            if prefix == "S-":
                spans.append((sentence, index, index + 1, kind))
            elif prefix == "B-":
                start = index
            elif prefix == "E-" and start is not None:
                spans.append((sentence, start, index + 1, kind))
                start = None
    return spans
