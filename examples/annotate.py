"""Builds a document from the dictionary form and prints it as CoNLL-U and as JSON."""

import _velmora
from _velmora import Document

print(f"_velmora {_velmora.__version__} (native {_velmora.native_version()}), "
      f"free-threaded build: {_velmora.free_threaded_build}")

# One sentence, one dictionary per multi-word token, word and empty word, in CoNLL-U order.
# Character offsets (in code points) tie the tokens to the text, from which the sentence
# text and the spacing around each token are derived.
text = "Zoë's here!"
sentences = [[
    {"id": (1, 2), "text": "Zoë's", "start_char": 0, "end_char": 5},
    {"id": 1, "text": "Zoë", "lemma": "Zoë", "upos": "PROPN", "head": 3, "deprel": "nsubj"},
    {"id": 2, "text": "'s", "lemma": "be", "upos": "AUX", "head": 3, "deprel": "cop"},
    {"id": 3, "text": "here", "lemma": "here", "upos": "ADV", "head": 0, "deprel": "root",
     "start_char": 6, "end_char": 10},
    {"id": 4, "text": "!", "lemma": "!", "upos": "PUNCT", "head": 3, "deprel": "punct",
     "start_char": 10, "end_char": 11},
]]
doc = Document.from_dict(sentences, text)
doc.sentences[0].tokens[0].ner = "S-PER"
doc.rebuild_entities()

print("\nCoNLL-U:")
print(doc.to_conll())
print("\nJSON:")
print(f"{doc}")
print("\nEntities:", [span.pretty_print() for span in doc.ents])
print("Dependencies:", [(head.text, relation, word.text) for head, relation, word in doc.sentences[0].dependencies])
