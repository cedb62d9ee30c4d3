#!/usr/bin/env python3
"""Random mutations of every real archive, exported by the real program.

    fuzz/mutate_corpus.py [--count N] [--kestrix build/kestrix] [--corpus ../shared/corpus]

Each file of the corpus (split archives as their joined pieces) is copied into a scratch folder,
changed at a few random places (bytes set, runs zeroed, or cut short) and exported with
`kestrix export <file> -p <scratch>/out -ndc`. Every run must end with status 0 or 1; anything
else (a signal, another status, a hang past 60 s) is reported with the mutation's seed, and the
input is kept under fuzz/findings/.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile


def mutate(data: bytes, rng: random.Random) -> bytes:
    b = bytearray(data)
    kind = rng.random()
    if kind < 0.15 and len(b) > 1:
        return bytes(b[: rng.randrange(len(b))])
    for _ in range(rng.randint(1, 8)):
        if not b:
            break
        at = rng.randrange(min(len(b), 4096)) if rng.random() < 0.5 else rng.randrange(len(b))
        r = rng.random()
        if r < 0.6:
            b[at] = rng.choice([0, 0xFF, 0x7F, 0x80, rng.randrange(256)])
        elif r < 0.8:
            for i in range(at, min(len(b), at + rng.randint(2, 16))):
                b[i] = 0
        else:
            v = rng.choice([0xFFFFFFFF, 0x80000000, 0x7FFFFFFF, 0x10000, len(b) * 2])
            b[at:at + 4] = v.to_bytes(4, "little" if rng.random() < 0.5 else "big")[: len(b) - at]
    return bytes(b)


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--count", type=int, default=1000)
    ap.add_argument("--kestrix", default="build/kestrix")
    ap.add_argument("--corpus", default="../shared/corpus")
    args = ap.parse_args()
    files = []
    for root, _, names in os.walk(args.corpus):
        for n in names:
            if n.endswith((".tsv", ".md")) or ".split" in n and not n.endswith(".split0"):
                continue
            files.append(os.path.join(root, n))
    files.sort()
    bad = 0
    runs = 0
    for path in files:
        if path.endswith(".split0"):
            stem = path[:-7]
            data = b""
            i = 0
            while os.path.exists(f"{stem}.split{i}"):
                data += open(f"{stem}.split{i}", "rb").read()
                i += 1
            name = os.path.basename(stem)
        else:
            data = open(path, "rb").read()
            name = os.path.basename(path)
        statuses = {}
        for seed in range(args.count):
            rng = random.Random(f"{path}:{seed}")
            mutated = mutate(data, rng)
            with tempfile.TemporaryDirectory() as tmp:
                target = os.path.join(tmp, name)
                open(target, "wb").write(mutated)
                try:
                    r = subprocess.run([args.kestrix, "export", target, "-p", os.path.join(tmp, "out"), "-ndc"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=60)
                    status = r.returncode
                except subprocess.TimeoutExpired:
                    status = "timeout"
                runs += 1
                statuses[status] = statuses.get(status, 0) + 1
                if status not in (0, 1):
                    bad += 1
                    os.makedirs("fuzz/findings", exist_ok=True)
                    keep = os.path.join("fuzz/findings", f"{name}-{seed}")
                    shutil.copy(target, keep)
                    print(f"FAIL {path} seed {seed}: status {status}; kept {keep}", flush=True)
        print(f"{path}: {statuses}", flush=True)
    print(f"{runs} runs, {bad} not ending with status 0 or 1")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
