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

# Raw text through the pipeline. No trained model can be downloaded here, so the example writes
# a model directory whose bundles have RANDOM (seeded) weights: the annotations below show the
# machinery working end to end, not a trained model's quality.
import pathlib
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "support"))
import example_models  # noqa: E402

with tempfile.TemporaryDirectory() as model_dir:
    example_models.write(model_dir)
    pipeline = _velmora.Pipeline("en", processors=",".join(example_models.PROCESSORS), model_dir=model_dir)
    print("\nPipeline:", pipeline)
    doc = pipeline("The quick brown fox jumps over the lazy dog. It costs $1,200.50 today!")
    print("\nAnnotated with random example weights:")
    print(doc.to_conll())
    for sentence in doc.sentences:
        print("Sentence:", sentence.text)
        print("  sentiment:", sentence.sentiment)
        print("  constituency:", sentence.constituency)
    print("Entities:", [span.pretty_print() for span in doc.ents])
    print("Language:", doc.lang)
    print("Morphemes:", [(word.text, word.morphemes) for word in doc.sentences[0].words][:4])
    docs = pipeline(["Call (555) 123-4567 now.", "Write to jo@example.com on March 3, 2020."])
    for number, each in enumerate(docs):
        print(f"Document {number} tokens:", [token.text for token in each.iter_tokens()])
