"""Writes the constituency tests that need a transformer: bundles carrying the tiny test encoder's
compiled package (tests/support/aoti_packages.py) for both sentence boundary profiles, and the
PyTorch reference's trees, under ``OUT_DIR/<variant>/`` (``bundle/`` and ``expected.json``),
finished with an empty file ``complete``.

Usage: constituency_transformer_data.py OUT_DIR AOTI_PACKAGE_DIR
"""

import json
import pathlib
import shutil
import sys

HERE = pathlib.Path(__file__).resolve().parent

SENTENCES = [
    (["the", "cat", "running"], ["DT", "NN", "VBD"]),
    (["unbreakable"], ["JJ"]),
    (["the", "dog", "run", "un", "cat", "xyz"], ["DT", "NN", "VBD", "IN", "NN", "XX"]),
]


def main(out, aoti_dir):
    import torch

    import constituency_bundle as cb
    import transformer_reference
    from aoti_packages import TinyEncoder
    from constituency_reference import Parser

    torch.set_num_threads(1)
    shutil.rmtree(out, ignore_errors=True)
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
                          "margin": min(result.margin, 1e9), "first_scores": result.first_scores})
        (folder / "expected.json").write_text(json.dumps(cases, indent=1), encoding="utf-8")
    (out / "complete").write_text("")


if __name__ == "__main__":
    sys.path.insert(0, str(HERE))
    if len(sys.argv) != 3:
        sys.exit("usage: constituency_transformer_data.py OUT_DIR AOTI_PACKAGE_DIR")
    main(pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2]))
