"""Writes the files the C++ test suites read, once per test run (a ctest fixture per suite).

Each suite gets its own folder ``OUT_DIR/<suite>``, emptied first and finished with an empty
file ``complete``, written last so a reader never sees half the data. A test binary run outside
ctest calls this script itself for its suite, into a temporary directory.

Usage: write_cpp_test_data.py OUT_DIR SUITE...   (suites: bundle, pipeline, tokenize)
"""

import pathlib
import shutil
import sys

HERE = pathlib.Path(__file__).resolve().parent


def writers():
    import model_bundle_cases
    import pipeline_model_dirs
    import tokenizer_test_data

    return {
        "bundle": model_bundle_cases.write,
        "pipeline": pipeline_model_dirs.write,
        "tokenize": tokenizer_test_data.write,
    }


def main(out: pathlib.Path, suites: list[str]) -> None:
    import torch

    # ctest runs several processes at once on a shared machine.
    torch.set_num_threads(1)
    table = writers()
    unknown = [suite for suite in suites if suite not in table]
    if unknown or not suites:
        sys.exit(f"usage: write_cpp_test_data.py OUT_DIR SUITE... (suites: {', '.join(table)}); got {unknown}")
    for suite in suites:
        folder = out / suite
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        table[suite](folder)
        (folder / "complete").write_text("")


if __name__ == "__main__":
    sys.path.insert(0, str(HERE))
    main(pathlib.Path(sys.argv[1]), sys.argv[2:])
