"""Writes the files the C++ test suites read, once per test run (a ctest fixture per suite).

Each suite gets its own folder ``OUT_DIR/<suite>``, emptied first and finished with an empty
file ``complete``, written last so a reader never sees half the data. A test binary run outside
ctest calls this script itself for its suite, into a temporary directory. Suites that wrap the
compiled test transformer read it from the package directory that ``--aoti-packages`` names.

Usage: write_cpp_test_data.py OUT_DIR SUITE... [--aoti-packages DIR]
"""

import argparse
import importlib
import pathlib
import shutil
import sys

HERE = pathlib.Path(__file__).resolve().parent


# Suite name -> module whose write(folder) fills the suite's folder.
WRITERS = {"bundle": "model_bundle_cases", "pipeline": "pipeline_model_dirs", "tokenize": "tokenizer_test_data",
           "encoders": "encoder_test_data", "subword": "subword_test_data", "seq2seq": "seq2seq_test_data",
           "coref": "coref_test_data",
           "constituency": "constituency_test_data",
           "constituency_transformer": "constituency_transformer_data",
           "ner": "ner_test_data",
           "sentiment": "sentiment_test_data",
           "pos": "pos_test_data",
           "depparse": "depparse_test_data"}
# Suites whose write(folder, package_dir) also reads the compiled test packages.
NEEDS_PACKAGES = {"encoders", "coref", "constituency_transformer", "ner", "sentiment", "depparse", "pos"}


def main(out: pathlib.Path, suites: list[str], packages: pathlib.Path | None) -> None:
    import torch

    # ctest runs several processes at once on a shared machine.
    torch.set_num_threads(1)
    for suite in suites:
        folder = out / suite
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        writer = importlib.import_module(WRITERS[suite])
        if suite in NEEDS_PACKAGES:
            writer.write(folder, packages)
        else:
            writer.write(folder)
        (folder / "complete").write_text("")


if __name__ == "__main__":
    sys.path.insert(0, str(HERE))
    parser = argparse.ArgumentParser(description="Writes the C++ test suites' data.")
    parser.add_argument("out", type=pathlib.Path)
    parser.add_argument("suites", nargs="+", choices=sorted(WRITERS))
    parser.add_argument("--aoti-packages", type=pathlib.Path, help="the compiled test packages' directory")
    args = parser.parse_args()
    if args.aoti_packages is None and NEEDS_PACKAGES.intersection(args.suites):
        parser.error(f"the suites {', '.join(sorted(NEEDS_PACKAGES))} need --aoti-packages")
    main(args.out, args.suites, args.aoti_packages)
