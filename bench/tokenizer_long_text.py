"""Time and peak memory of the tokenizer on long texts: 25k, 100k and 1M characters of a
dotted run ("a.a.a."), of a comma run ("a,a,a,") and of corpus text (the raw sentences of a
CoNLL-U file, repeated, one paragraph per treebank paragraph). Each case runs in a fresh
process so that its peak resident memory is its own; a case that outlives the time limit is
reported as such.

Usage: tokenizer_long_text.py [--build BUILD_DIR] [--conllu FILE] [--timeout SECONDS] [--sizes N,N,...]
Prints "kind characters seconds peak_MiB" per case, and the machine's load averages before and
after the run, since the seconds mean little on a busy machine.
"""

import argparse
import os
import pathlib
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
SUPPORT = ROOT / "tests" / "support"

# Run in the child: load the tokenizer, restart the resident peak, tokenize once, report the
# seconds and the peak above the resident size before the call.
CHILD = r"""
import sys, time
sys.path.insert(0, sys.argv[1])
import _velmora
def status(key):
    for line in open("/proc/self/status"):
        if line.startswith(key):
            return int(line.split()[1]) / 1024
processor = _velmora.TokenizeProcessor(sys.argv[2])
text = open(sys.argv[3], encoding="utf-8").read()
processor.predict_labels("warm up.")
before = status("VmRSS:")
open("/proc/self/clear_refs", "w").write("5")  # restarts the resident peak from here
start = time.perf_counter()
doc = processor.process(_velmora.Document(text))
seconds = time.perf_counter() - start
print(seconds, status("VmHWM:") - before, sum(len(s.tokens) for s in doc.sentences))
"""


def corpus_text(conllu: pathlib.Path, size: int) -> str:
    paragraphs, current = [], []
    for line in conllu.read_text(encoding="utf-8").splitlines():
        if line.startswith("# newpar") or line.startswith("# newdoc"):
            if current:
                paragraphs.append(" ".join(current))
            current = []
        elif line.startswith("# text = "):
            current.append(line[len("# text = "):])
    if current:
        paragraphs.append(" ".join(current))
    raw = "\n\n".join(paragraphs)
    return (raw * (size // len(raw) + 1))[:size]


def texts(conllu: pathlib.Path, size: int) -> dict[str, str]:
    return {"a.a.a.": ("a." * size)[:size], "a,a,a,": ("a," * size)[:size], "corpus": corpus_text(conllu, size)}


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=str(ROOT / "build" / "release"))
    parser.add_argument("--conllu", default="/work/shared/data/en_ewt-ud-dev.conllu")
    parser.add_argument("--timeout", type=float, default=120.0)
    parser.add_argument("--sizes", default="25000,100000,1000000")
    args = parser.parse_args()
    python_dir = str(pathlib.Path(args.build) / "src" / "python")

    sys.path.insert(0, str(SUPPORT))
    from tokenizer_bundle import write_tokenizer_bundle

    with tempfile.TemporaryDirectory() as tmp:
        bundle = write_tokenizer_bundle(pathlib.Path(tmp) / "tokenize", size="realistic", seed=3)
        print(f"# build {args.build}")
        print("# load averages before: {:.2f} {:.2f} {:.2f}".format(*os.getloadavg()))
        print("kind characters seconds peak_MiB")
        for size in (int(s) for s in args.sizes.split(",")):
            for kind, text in texts(pathlib.Path(args.conllu), size).items():
                path = pathlib.Path(tmp) / "text.txt"
                path.write_text(text, encoding="utf-8")
                try:
                    out = subprocess.run([sys.executable, "-c", CHILD, python_dir, str(bundle), str(path)],
                                         capture_output=True, text=True, timeout=args.timeout, check=True)
                    seconds, peak, _ = out.stdout.split()
                    print(f"{kind} {size} {float(seconds):.3f} {float(peak):.1f}", flush=True)
                except subprocess.TimeoutExpired:
                    print(f"{kind} {size} >{args.timeout:.0f} (timed out) -", flush=True)
        print("# load averages after: {:.2f} {:.2f} {:.2f}".format(*os.getloadavg()))


if __name__ == "__main__":
    main()
