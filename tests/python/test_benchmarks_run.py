"""Every benchmark runs once at tiny size, so that none of them rots: each must finish and
report its measurements as result lines, native and baseline side by side where it has both;
and once more with --native-only, which must leave out every baseline line and no native one."""

import os
import pathlib
import subprocess
import sys
import time

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "bench"))

import run  # noqa: E402
import ud_corpus  # noqa: E402

BUILD = pathlib.Path(os.environ.get("VELMORA_BUILD_DIR", run.ROOT / "build" / "release"))


# "benchmark" would clash with the pytest-benchmark fixture of that name.
@pytest.mark.parametrize("case", run.BENCHMARKS, ids=lambda case: case.name)
def test_benchmark_runs_at_tiny_size(case):
    if case.dev_text and ud_corpus.find_dev_corpus() is None:
        pytest.skip("the English dev treebank is not beside the source tree")
    if case.binary and not (BUILD / "bench" / case.binary).exists():
        pytest.fail(f"'{case.binary}' is not built: configure with -DVELMORA_BUILD_BENCH=ON")
    results = run.run(case, BUILD, 1, True, echo=lambda line: None)
    assert results
    assert all(result["seconds"] >= 0 and result["items"] > 0 for result in results)
    assert {result["side"] for result in results} == {"native", "baseline"}
    if any("flops" in result for result in results):
        assert all(result["flops"] > 0 and result["gemm"] > 0 for result in results)
    assert run.table(results).count("\n") == len({(r["bench"], r["case"], r["threads"]) for r in results}) + 1

    native = run.run(case, BUILD, 1, True, echo=lambda line: None, native_only=True)
    assert {result["side"] for result in native} == {"native"}
    key = lambda result: (result["bench"], result["case"], result["threads"])  # noqa: E731
    bounded = {key(r): "flops" in r for r in results if r["side"] == "native"}
    assert {key(r): "flops" in r for r in native} == bounded
    # One row per case, "-" for the baseline and ratio it no longer has, the bound where it had one.
    rows = run.table(native).splitlines()[2:]
    assert len(rows) == len(bounded)
    for row, bound in zip(rows, bounded.values()):
        cells = row.split()
        assert (cells[-6], cells[-4]) == ("-", "-"), row
        assert (cells[-2] != "-") == bound, row


@pytest.mark.parametrize("runner, takes", [
    (None, False),                                                        # no runner at all
    ('parser.add_argument("--tiny", action="store_true")\n', False),      # a revision from before the option
    ((run.HERE / "run.py").read_text(encoding="utf-8"), True),            # this revision
])
def test_an_earlier_revision_gets_native_only_only_if_its_drivers_take_it(tmp_path, runner, takes):
    if runner is not None:
        (tmp_path / "bench").mkdir()
        (tmp_path / "bench" / "run.py").write_text(runner, encoding="utf-8")
    assert run.takes_native_only(tmp_path) == takes


@pytest.mark.parametrize("script, arguments", [
    ("depparse_long_sentences.py", ["--sizes", "20"]),
    ("tokenizer_long_text.py", ["--build", str(BUILD), "--sizes", "500"]),
])
def test_long_input_benchmark_runs_at_tiny_size(script, arguments):
    if ud_corpus.find_dev_corpus() is None:
        pytest.skip("the English dev treebank is not beside the source tree")
    finished = subprocess.run([sys.executable, str(run.HERE / script), *arguments],
                              capture_output=True, text=True, timeout=600)
    assert finished.returncode == 0, finished.stderr
    assert "corpus" in finished.stdout



def running(pid):
    """False once the process has ended (a zombie has ended too)."""
    try:
        return pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


def test_busy_processes_end_with_their_run_however_it_ends():
    with run.busy_processes(2) as spinners:
        assert all(spinner.poll() is None for spinner in spinners)
    assert all(spinner.poll() is not None for spinner in spinners)
    # A run killed outright cannot stop its spinners: each notices that its parent is gone.
    script = ("import sys, time; sys.path.insert(0, sys.argv[1]); import run\n"
              "with run.busy_processes(2) as spinners:\n"
              "    print(*[spinner.pid for spinner in spinners], flush=True); time.sleep(600)\n")
    parent = subprocess.Popen([sys.executable, "-c", script, str(run.HERE)], stdout=subprocess.PIPE, text=True)
    pids = [int(pid) for pid in parent.stdout.readline().split()]
    parent.kill()
    parent.wait()
    give_up = time.monotonic() + 120  # a bound on a hang, not a speed claim: a check takes milliseconds
    while any(running(pid) for pid in pids) and time.monotonic() < give_up:
        time.sleep(0.05)
    assert not any(running(pid) for pid in pids)
