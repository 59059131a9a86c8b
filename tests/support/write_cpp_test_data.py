"""Writes the files the C++ test suites read, once per test run (a ctest fixture per suite).

Each suite gets its own folder ``OUT_DIR/<suite>``, emptied first and finished with an empty
file ``complete``, written last so a reader never sees half the data. A test binary run outside
ctest calls this script itself for its suite, into a temporary directory.

Usage: write_cpp_test_data.py OUT_DIR SUITE...   (suites: bundle, pipeline, tokenize, langid, morphseg)
"""

import importlib
import pathlib
import shutil
import sys

HERE = pathlib.Path(__file__).resolve().parent


# Suite name -> module whose write(folder) fills the suite's folder.
WRITERS = {"bundle": "model_bundle_cases", "pipeline": "pipeline_model_dirs", "tokenize": "tokenizer_test_data",
           "langid": "langid_test_data", "morphseg": "morphseg_test_data"}


def main(out: pathlib.Path, suites: list[str]) -> None:
    unknown = [suite for suite in suites if suite not in WRITERS]
    if unknown or not suites:
        sys.exit(f"usage: write_cpp_test_data.py OUT_DIR SUITE... (suites: {', '.join(WRITERS)}); got {unknown}")
    import torch

    # ctest runs several processes at once on a shared machine.
    torch.set_num_threads(1)
    for suite in suites:
        folder = out / suite
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        importlib.import_module(WRITERS[suite]).write(folder)
        (folder / "complete").write_text("")


if __name__ == "__main__":
    sys.path.insert(0, str(HERE))
    main(pathlib.Path(sys.argv[1]), sys.argv[2:])
