"""Peak memory and time of the parser on one very long pre-split sentence.

Usage: PYTHONPATH=<build>/src/python python3 bench/depparse_long_sentences.py [--threads T]
       [--limit-gb G] [--timeout-s S] [--sizes 500,1000,2000,5000] [--dump DIR]
       [--baseline-path DIR]

For each size n and each word kind (n identical words; n consecutive words of the English dev
corpus) a child process loads a parser bundle of realistic dimensions (the one the throughput
benchmark uses), parses one sentence of n words with `DepparseProcessor` and reports the growth of
its peak resident memory over its state before the call, and the wall time of the call. The
parent watches each child's resident memory and stops it past the limit (default 4 GB), so that
the machine is not exhausted; such a case prints "stopped". With --timeout-s a case still running
after that many seconds is stopped too and prints "timeout". With --dump each case writes its
heads and relations to DIR/<words>-<kind>.json, for comparing builds byte for byte. With
--baseline-path each case runs first with the extension found in DIR (another build, such as the
main branch's), then with this one, and both figures are printed side by side.
"""

import argparse
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "support"))
sys.path.insert(0, str(HERE))


def status_kb(pid, field):
    try:
        for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith(field + ":"):
                return int(line.split()[1])
    except OSError:
        pass
    return 0


def corpus_words(n):
    import ud_corpus
    corpus = ud_corpus.find_dev_corpus()
    words = []
    if corpus is not None:
        for tokens in ud_corpus.parse(corpus.read_text(encoding="utf-8")):
            words += [{"text": t["form"], "lemma": t["lemma"], "upos": t["upos"], "xpos": t["xpos"]}
                      for t in tokens if isinstance(t["id"], int)]
            if len(words) >= n:
                break
    while len(words) < n:  # without the corpus, or when it is shorter than n
        words += [{"text": w, "lemma": w, "upos": "NOUN", "xpos": "NN"} for w in "the dog saw a big cat".split()]
    return words[:n]


def child(bundle, kind, n, threads, dump):
    import torch
    torch.set_num_threads(threads)
    import _velmora
    from _velmora import Document
    processor = _velmora.DepparseProcessor(bundle)
    if kind == "identical":
        words = [{"text": "dog", "lemma": "dog", "upos": "NOUN", "xpos": "NN"} for _ in range(n)]
    else:
        words = corpus_words(n)
    document = Document.from_dict([[dict(w, id=i + 1) for i, w in enumerate(words)]])
    before = status_kb(os.getpid(), "VmRSS")
    try:  # the peak from here on (Linux resets it on "5" written to clear_refs)
        pathlib.Path("/proc/self/clear_refs").write_text("5")
    except OSError:
        pass
    start = time.perf_counter()
    processor(document)
    seconds = time.perf_counter() - start
    peak = status_kb(os.getpid(), "VmHWM")
    print(json.dumps({"seconds": seconds, "peak_growth_mb": (peak - before) / 1024}), flush=True)
    if dump:
        parsed = [(w["head"], w["deprel"]) for sentence in document.to_dict() for w in sentence]
        pathlib.Path(dump, f"{n}-{kind}.json").write_text(json.dumps(parsed))


def run_case(bundle, kind, n, threads, limit_kb, timeout_s, dump, python_path=None):
    environment = dict(os.environ, PYTHONPATH=python_path) if python_path else None
    process = subprocess.Popen([sys.executable, __file__, "--child", bundle, kind, str(n), str(threads), dump],
                               stdout=subprocess.PIPE, text=True, env=environment)
    highest = 0
    start = time.monotonic()
    while process.poll() is None:
        highest = max(highest, status_kb(process.pid, "VmRSS"))
        timed_out = timeout_s > 0 and time.monotonic() - start > timeout_s
        if highest > limit_kb or timed_out:
            process.kill()
            process.wait()
            return ("timeout" if timed_out else None), highest
        time.sleep(0.02)
    output = process.stdout.read().strip().splitlines()
    if process.returncode != 0 or not output:
        return "failed", highest
    return json.loads(output[-1]), highest


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        child(sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]), sys.argv[6] if len(sys.argv) > 6 else "")
        return
    parser = argparse.ArgumentParser()
    parser.add_argument("--threads", type=int, default=1)
    parser.add_argument("--limit-gb", type=float, default=4.0)
    parser.add_argument("--timeout-s", type=float, default=0.0, help="stop a case after this long (0: never)")
    parser.add_argument("--sizes", default="500,1000,2000,5000")
    parser.add_argument("--dump", default="", help="write each case's heads and relations into this directory")
    parser.add_argument("--baseline-path", default="", help="PYTHONPATH of a build to compare against")
    args = parser.parse_args()
    import depparse as depparse_bench
    import depparse_bundle
    with tempfile.TemporaryDirectory() as directory:
        bundle = str(pathlib.Path(directory) / "bundle")
        depparse_bundle.write_depparse_bundle(bundle, depparse_bundle.make_network(depparse_bench.SETTINGS))
        print(f"one pre-split sentence through DepparseProcessor, {args.threads} thread(s), "
              f"stopped past {args.limit_gb:g} GB resident")
        columns = ["baseline", "this build"] if args.baseline_path else ["this build"]
        print(f"{'words':>6} {'kind':>10}" + "".join(f" {c + ' s':>15} {c + ' MB':>16}" for c in columns))
        for n in (int(size) for size in args.sizes.split(",")):
            for kind in ("identical", "corpus"):
                cells = []
                for path in ([args.baseline_path] if args.baseline_path else []) + [None]:
                    dump = str(pathlib.Path(args.dump, "baseline" if path else "")) if args.dump else ""
                    if dump:
                        pathlib.Path(dump).mkdir(parents=True, exist_ok=True)
                    result, highest = run_case(bundle, kind, n, args.threads, int(args.limit_gb * 1024 * 1024),
                                               args.timeout_s, dump, path)
                    cells.append(format_result(result, highest, args.timeout_s))
                line = f"{n:>6} {kind:>10}" + "".join(f" {seconds:>15} {mb:>16}" for seconds, mb in cells)
                if args.dump and args.baseline_path:
                    name = f"{n}-{kind}.json"
                    ours, theirs = pathlib.Path(args.dump, name), pathlib.Path(args.dump, "baseline", name)
                    same = ours.exists() and theirs.exists() and ours.read_bytes() == theirs.read_bytes()
                    line += "  same trees" if same else "  TREES DIFFER"
                print(line, flush=True)


def format_result(result, highest, timeout_s):
    if result == "timeout":
        return ">" + format(timeout_s, "g"), ">" + str(highest // 1024)
    if result is None:
        return "stopped", ">" + str(highest // 1024)
    if result == "failed":
        return "failed", "-"
    return f"{result['seconds']:.2f}", f"{result['peak_growth_mb']:.0f}"


if __name__ == "__main__":
    main()
