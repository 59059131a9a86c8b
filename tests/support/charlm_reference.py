"""Character language model test bundles and their PyTorch reference.

`CharLanguageModel` holds the weights under the names a character LM bundle uses
(`char_emb.weight`, `charlstm_h_init`, `charlstm_c_init`, `charlstm.lstm.*`); `write_charlm_bundle`
writes it with its assets, and `reference_encode` computes the per-word features the way the
model defines them: the sentence is read as one character string that starts with a newline and
ends every word with a space (words and characters reversed for a backward model), and each word
takes the LSTM output at its own space.
"""

import copy

import torch

from bundle_writer import write_bundle

START, SEPARATOR, UNKNOWN = "\n", " ", "<UNK>"


class CharLanguageModel(torch.nn.Module):
    def __init__(self, units, embedding=6, hidden=5, layers=2, seed=0):
        super().__init__()
        generator = torch.Generator().manual_seed(seed)
        self.units = list(units)
        self.char_emb = torch.nn.Embedding(len(self.units), embedding)
        self.charlstm = torch.nn.Module()
        self.charlstm.lstm = torch.nn.LSTM(embedding, hidden, num_layers=layers, batch_first=True)
        self.charlstm_h_init = torch.nn.Parameter(torch.zeros(layers, 1, hidden))
        self.charlstm_c_init = torch.nn.Parameter(torch.zeros(layers, 1, hidden))
        with torch.no_grad():
            for parameter in self.parameters():
                parameter.copy_(torch.randn(parameter.shape, generator=generator) * 0.5)

    @property
    def hidden(self):
        return self.charlstm_h_init.shape[2]

    @property
    def layers(self):
        return self.charlstm_h_init.shape[0]


def default_units(with_unknown=True):
    """A small vocabulary: specials, some ASCII letters, and a few multi-byte characters."""
    units = ["<PAD>", START, SEPARATOR] + list("abcdefghij") + ["é", "ß", "日", "😀"]
    if with_unknown:
        units.insert(1, UNKNOWN)
    return units


def charlm_assets(model, forward, config=None):
    settings = {"char_hidden_dim": model.hidden, "char_num_layers": model.layers, "char_rec_dropout": 0.0}
    settings.update(config or {})
    return {
        "config": settings,
        "is_forward_lm": forward,
        "vocab": {"_unit2id": {unit: index for index, unit in enumerate(model.units)}},
    }


def charlm_tensors(model, prefix="", dtype=torch.float32):
    return {prefix + name: value.detach().to(dtype).clone() for name, value in model.state_dict().items()}


def write_charlm_bundle(directory, model, forward, *, processor=None, dtype=torch.float32, assets=None,
                        tensors=None):
    processor = processor or ("forward_charlm" if forward else "backward_charlm")
    return write_bundle(directory, tensors if tensors is not None else charlm_tensors(model, dtype=dtype),
                        assets if assets is not None else charlm_assets(model, forward), processor=processor)


def reference_encode(model, forward, words, dtype=torch.float32):
    """[len(words), hidden]: row i is word i's feature, computed in `dtype`."""
    ids = {unit: index for index, unit in enumerate(model.units)}
    unknown = ids.get(UNKNOWN, 1)
    sequence = [ids[START]]
    separators = []
    reading = words if forward else [word[::-1] for word in reversed(words)]
    for word in reading:
        sequence += [ids.get(character, unknown) for character in word]
        separators.append(len(sequence))
        sequence.append(ids[SEPARATOR])
    if not forward:
        separators.reverse()
    if not words:
        return torch.zeros(0, model.hidden, dtype=dtype)
    lstm = model.charlstm.lstm
    if dtype != lstm.weight_ih_l0.dtype:
        lstm = copy.deepcopy(lstm).to(dtype)
    with torch.no_grad():
        embedded = model.char_emb.weight.to(dtype)[torch.tensor([sequence])]
        state = (model.charlstm_h_init.to(dtype), model.charlstm_c_init.to(dtype))
        output, _ = lstm(embedded, state)
    return output[0, separators]
