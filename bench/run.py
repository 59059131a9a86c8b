"""Runs every benchmark and prints one table of their result lines.

    python3 bench/run.py [--build-dir build/release] [--threads 1,4,8] [--tiny] [--only pos,ner]
                         [--json results.json] [--busy 8] [--native-only]

Each benchmark prints its own figures (shown as they come) and one JSON result line per
measurement (see bench/report.py); the table pairs the native and baseline lines of each case:

- native, baseline: items per second (the unit column names the items);
- ratio: native rate over baseline rate;
- native s: the native time of the case;
- bound s: the network's floating-point operations for the case divided by the float32 GEMM
  rate measured at the start of the same run, at the same thread count: the least time the
  machine could take; bound % is bound s over native s, the share of that limit reached.

Benchmarks that do not depend on the intra-op thread count run once, at the first count.
With --busy N, N processes spin on the cores for the whole run, so that the figures show how the
benchmarks fare on a machine that other work keeps busy; the line above the table says so.

With --native-only every benchmark times its native side only: it still writes its bundles and
inputs and checks what it checks, but its baselines are not timed (PyTorch with several threads on
a busy machine can take hours), so the table shows "-" for baseline and ratio; the FLOP bound
stays. With --compare-source, the earlier revision's benchmarks get --native-only too when its
drivers take it; drivers from before the option run whole, baselines included (only their native
time is shown).
"""

from __future__ import annotations

import argparse
import contextlib
import dataclasses
import json
import os
import pathlib
import signal
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))

import report  # noqa: E402


@dataclasses.dataclass(frozen=True)
class Benchmark:
    name: str
    script: str | None = None    # a Python driver under bench/
    binary: str | None = None    # a native driver (or the native half the Python driver runs)
    threaded: bool = True        # takes a thread count
    corpus: bool = False         # the native driver takes the CoNLL-U corpus as its first argument
    dev_text: bool = False       # reads the English dev treebank, which only sits beside a checkout

    def command(self, build: pathlib.Path, threads: int, tiny: bool, source: pathlib.Path = ROOT,
                native_only: bool = False) -> list[str]:
        if self.script is not None:
            command = [sys.executable, str(source / "bench" / self.script)]
            if self.binary is not None:
                command += ["--binary", str(build / "bench" / self.binary)]
            if self.threaded:
                command += ["--threads", str(threads)]
        else:
            command = [str(build / "bench" / self.binary)]
            if self.corpus:
                command.append(str(find_corpus()))
            if self.threaded:
                command.append(str(threads))
        return command + (["--tiny"] if tiny else []) + (["--native-only"] if native_only else [])

    def present(self, build: pathlib.Path, source: pathlib.Path) -> bool:
        """Whether the revision in `source`, built in `build`, has this benchmark."""
        return ((self.script is None or (source / "bench" / self.script).exists())
                and (self.binary is None or (build / "bench" / self.binary).exists()))


def takes_native_only(source: pathlib.Path) -> bool:
    """Whether the drivers of the revision in `source` take --native-only: they all gained it with
    this runner's option, so its runner tells."""
    runner = source / "bench" / "run.py"
    return runner.exists() and "--native-only" in runner.read_text(encoding="utf-8")


BENCHMARKS = [
    Benchmark("bundle", script="bundle.py", binary="bundle_bench", threaded=False),
    Benchmark("document", binary="document_bench", threaded=False, corpus=True, dev_text=True),
    Benchmark("dict_conllu", script="dict_conllu.py", threaded=False, dev_text=True),
    Benchmark("subword", binary="subword_bench", threaded=False, corpus=True, dev_text=True),
    Benchmark("tokenizer", binary="tokenizer_bench", dev_text=True),
    Benchmark("charlm", script="charlm.py", binary="charlm_bench"),
    Benchmark("pos", script="pos.py", binary="pos_bench"),
    Benchmark("seq2seq", binary="seq2seq_bench"),
    Benchmark("depparse", binary="depparse_bench"),
    Benchmark("ner", script="ner.py", binary="ner_bench"),
    Benchmark("sentiment", script="sentiment.py", binary="sentiment_bench"),
    Benchmark("constituency", script="constituency.py", binary="constituency_bench"),
    Benchmark("langid_morphseg", script="langid_morphseg.py", binary="langid_morphseg_bench"),
    Benchmark("pipeline", script="pipeline.py", dev_text=True),
]


# A spinning process: it also stops by itself once the process that started it has ended, however
# that ended, so that no spinner outlives its run.
SPIN = """
import os, sys
parent = int(sys.argv[1])
while os.getppid() == parent:
    for _ in range(1_000_000):
        pass
"""


@contextlib.contextmanager
def busy_processes(count: int):
    """`count` processes that keep a core busy each while the block runs."""
    spinners = [subprocess.Popen([sys.executable, "-c", SPIN, str(os.getpid())], stdin=subprocess.DEVNULL)
                for _ in range(count)]
    try:
        yield spinners
    finally:
        for spinner in spinners:
            spinner.kill()
        for spinner in spinners:
            spinner.wait()


def machine_load(busy: int) -> str:
    one, five, _ = os.getloadavg()
    return f"{os.cpu_count()} cores, busy={busy} spinning processes, load average {one:.1f} (1 min), {five:.1f} (5 min)"


def find_corpus() -> pathlib.Path:
    for directory in [ROOT, *ROOT.parents]:
        candidate = directory / "shared" / "data" / "en_ewt-ud-dev.conllu"
        if candidate.exists():
            return candidate
    raise SystemExit("shared/data/en_ewt-ud-dev.conllu not found above the source tree")


def run(benchmark: Benchmark, build: pathlib.Path, threads: int, tiny: bool, echo=print,
        timeout: float | None = None, source: pathlib.Path = ROOT, native_only: bool = False) -> list[dict]:
    """Runs one benchmark of the source tree `source` built in `build`; returns its result lines
    (native ones only with `native_only`, which the revision's drivers must take).
    Raises CalledProcessError when it fails and TimeoutExpired when it takes longer than `timeout`
    seconds (it is stopped, with the processes it started: on a busy machine, runs with several
    threads can take many times longer)."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(build / "src" / "python"), env.get("PYTHONPATH")]))
    env["VELMORA_BUILD_DIR"] = str(build)
    command = benchmark.command(build, threads, tiny, source, native_only)
    process = subprocess.Popen(command, cwd=source, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               start_new_session=True)
    try:
        stdout, stderr = process.communicate(timeout=timeout)
    except BaseException:
        # Timed out or interrupted: the benchmark runs in its own session, so it and whatever it
        # started are stopped here rather than left running.
        os.killpg(process.pid, signal.SIGKILL)
        process.communicate()
        raise
    completed = subprocess.CompletedProcess(command, process.returncode, stdout, stderr)
    for line in completed.stdout.splitlines():
        if not line.startswith('{"bench"'):
            echo(f"  {line}")
    if completed.returncode != 0:
        raise subprocess.CalledProcessError(completed.returncode, command, completed.stdout, completed.stderr)
    return report.result_lines(completed.stdout)


def rate(seconds: float | None, items: float) -> str:
    if seconds is None or seconds <= 0:
        return "-"
    value = items / seconds
    for scale, suffix in ((1e9, "G"), (1e6, "M"), (1e3, "k")):
        if value >= scale:
            return f"{value / scale:.2f}{suffix}"
    return f"{value:.1f}"


def seconds_of(result: dict | None) -> str:
    if result is None:
        return "-"
    return (">" if result.get("stopped") else "") + f"{result['seconds']:.3g}"


def table(results: list[dict]) -> str:
    """One row per (benchmark, case, threads), native and baseline side by side; with results of
    an earlier revision ("revision": "before"), its native time and the speed-up since."""
    rows: dict[tuple, dict] = {}
    for result in results:
        key = (result["bench"], result["case"], result["threads"])
        side = "before" if result.get("revision") == "before" else result["side"]
        if side == "before" and result["side"] != "native":
            continue
        rows.setdefault(key, {})[side] = result
    compared = any("before" in sides for sides in rows.values())
    header = ("benchmark", "case", "threads", "native", "baseline", "unit/s", "ratio", "native s", "bound s",
              "bound %") + (("before s", "speed-up") if compared else ())
    lines = [header]
    for (bench, case, threads), sides in rows.items():
        native, baseline, before = sides.get("native"), sides.get("baseline"), sides.get("before")
        any_side = native or baseline or before
        items = any_side["items"]
        ratio = "-"
        if native and baseline and native["seconds"] > 0:
            ratio = f"{baseline['seconds'] / native['seconds']:.2f}x"
        bound = bound_share = "-"
        flops, gemm = any_side.get("flops"), any_side.get("gemm")
        if flops and gemm:
            seconds = flops / gemm
            bound = f"{seconds:.3g}"
            if native and native["seconds"] > 0:
                bound_share = f"{100 * seconds / native['seconds']:.2g}"
        line = (bench, case, str(threads), "stopped" if native and native.get("stopped") else
                rate(native and native["seconds"], items), rate(baseline and baseline["seconds"], items),
                any_side["unit"], ratio, seconds_of(native), bound, bound_share)
        if compared:
            speedup = "-"
            if native and before and not native.get("stopped") and not before.get("stopped"):
                speedup = f"{before['seconds'] / native['seconds']:.2f}x"
            line += (seconds_of(before), speedup)
        lines.append(line)
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    text = []
    for number, line in enumerate(lines):
        cells = [cell.ljust(widths[i]) if i < 2 or i == 5 else cell.rjust(widths[i]) for i, cell in enumerate(line)]
        text.append("  ".join(cells).rstrip())
        if number == 0:
            text.append("  ".join("-" * width for width in widths))
    return "\n".join(text)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=str(ROOT / "build" / "release"))
    parser.add_argument("--threads", default="1", help="comma-separated intra-op thread counts")
    parser.add_argument("--tiny", action="store_true", help="tiny sizes: checks that every benchmark runs")
    parser.add_argument("--only", default="", help="comma-separated benchmark names, run in that order")
    parser.add_argument("--json", help="also append every result line to this file, as each benchmark ends")
    parser.add_argument("--timeout", type=float, help="stop a benchmark run after this many seconds")
    parser.add_argument("--busy", type=int, default=0, help="spinning processes kept running during the run")
    parser.add_argument("--native-only", action="store_true",
                        help="time the native side only: no baselines, \"-\" for baseline and ratio (an earlier "
                             "revision whose drivers lack the option runs whole)")
    parser.add_argument("--compare-source", help="the source tree of an earlier revision, whose benchmarks run "
                                                 "right after each of this tree's (needs --compare-build)")
    parser.add_argument("--compare-build", help="the build directory of that revision")
    args = parser.parse_args()
    if bool(args.compare_source) != bool(args.compare_build):
        parser.error("--compare-source and --compare-build go together")
    # A termination request ends the run like an interrupt: the spinners and the running
    # benchmark are stopped on the way out.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))
    with busy_processes(args.busy):
        return run_all(args)


def run_all(args) -> int:
    build = pathlib.Path(args.build_dir).resolve()
    before = None
    if args.compare_build:
        before = (pathlib.Path(args.compare_build).resolve(), pathlib.Path(args.compare_source).resolve())
    thread_counts = [int(t) for t in args.threads.split(",")]
    by_name = {benchmark.name: benchmark for benchmark in BENCHMARKS}
    # The benchmarks named by --only run in the order given.
    chosen = [by_name[name] for name in args.only.split(",")] if args.only else BENCHMARKS
    results, failed = [], []
    for benchmark in chosen:
        for threads in thread_counts if benchmark.threaded else thread_counts[:1]:
            print(f"== {benchmark.name}" + (f", {threads} thread(s)" if benchmark.threaded else ""), flush=True)
            start = time.perf_counter()
            # The earlier revision runs right after this one: the two see the same machine load.
            revisions = [("after", build, ROOT, args.native_only)]
            if before and benchmark.present(*before):
                revisions.append(("before", *before, args.native_only and takes_native_only(before[1])))
            for revision, revision_build, source, native_only in revisions:
                if len(revisions) > 1:
                    whole = args.native_only and not native_only
                    print(f"  [{revision}]" + (" (its drivers lack --native-only: baselines timed too)"
                                               if whole else ""), flush=True)
                try:
                    found = run(benchmark, revision_build, threads, args.tiny, lambda line: print(line, flush=True),
                                args.timeout, source, native_only)
                    for result in found:
                        result["busy"] = args.busy
                        if revision == "before":
                            result["revision"] = revision
                    results += found
                    if args.json:
                        with open(args.json, "a", encoding="utf-8") as stream:
                            stream.write("".join(json.dumps(result) + "\n" for result in found))
                except subprocess.CalledProcessError as error:
                    print(error.stdout, error.stderr, sep="\n", file=sys.stderr)
                    failed.append(benchmark.name + (f" ({revision})" if len(revisions) > 1 else ""))
                except subprocess.TimeoutExpired:
                    print(f"   stopped after {args.timeout:.0f} s", flush=True)
                    failed.append(f"{benchmark.name} ({threads} threads, timed out)")
                    # A row of its own: a benchmark that collapses must show in the table.
                    results.append({"bench": benchmark.name, "case": "(every case)", "threads": threads,
                                    "side": "native", "seconds": args.timeout, "stopped": True, "items": 0,
                                    "unit": "-", "busy": args.busy,
                                    **({"revision": revision} if revision == "before" else {})})
            print(f"   ({time.perf_counter() - start:.1f} s)", flush=True)
    print()
    print(machine_load(args.busy))
    print(table(results))
    if failed:
        print(f"\nfailed: {', '.join(failed)}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
