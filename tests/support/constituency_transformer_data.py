"""Writes the constituency tests that need a transformer (see write_cpp_test_data.py): bundles
carrying the tiny test encoder's compiled package (tests/support/aoti_packages.py) for both
sentence boundary profiles, each under ``<variant>/bundle`` with the PyTorch reference's trees in
``<variant>/expected.json``.
"""

import json
import pathlib

SENTENCES = [
    (["the", "cat", "running"], ["DT", "NN", "VBD"]),
    (["unbreakable"], ["JJ"]),
    (["the", "dog", "run", "un", "cat", "xyz"], ["DT", "NN", "VBD", "IN", "NN", "XX"]),
]


def write(out: pathlib.Path, aoti_dir: pathlib.Path) -> None:
    import constituency_bundle as cb
    import transformer_reference
    from aoti_packages import TinyEncoder
    from constituency_reference import Parser

    package = (aoti_dir / "smoke_encoder.pt2").read_bytes()
    encoder = TinyEncoder().eval()
    block = transformer_reference.wordpiece_block()

    def transformer(words, keep_endpoints):
        return transformer_reference.encode(encoder, words, block["model_max_length"], keep_endpoints)

    for name, boundaries in (("none", False), ("everything", True)):
        model, assets = cb.make_model(boundaries=boundaries, transformer=(block, block["hidden_size"]), seed=7)
        folder = out / name
        cb.write(folder / "bundle", model, assets, artifacts={block["artifact"]: package})
        parser = Parser(model, assets, transformer=transformer)
        cases = []
        for words, tags in SENTENCES:
            result = parser.parse(words, tags)
            cases.append({"words": words, "tags": tags, "tree": result.tree, "error": result.error,
                          "margin": min(result.margin, 1e9)})
        (folder / "expected.json").write_text(json.dumps(cases, indent=1), encoding="utf-8")
