#!/usr/bin/env python3
"""Checks the Windows build against the Linux build on every archive of the corpus, under wine.

For each archive of the manifest: `list` prints the same lines (line ends aside) with the same
exit status, and `export` writes the same files with the same bytes and the same messages (path
separators aside). Export's record (.kestrix-export) is not compared: it notes where each run
wrote. The raw round trip (export as stored, import unchanged: byte-identical) is a test of the
suite, left out of scripts/windows-test.sh for its length under wine; run it with
`ctest --test-dir build-windows -R Corpus.PlainFilesImportTheirOwnRawExport`.

usage: windows-corpus-check.py [--linux build/kestrix] [--windows build-windows/kestrix.exe]
                               [--corpus ../shared/corpus] [--types TYPES]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def run(cmd, cwd):
    env = dict(os.environ, WINEDEBUG="-all")
    # Files, not pipes: wine's own services, started by the first run, inherit the standard
    # handles and would keep a pipe open after the program has ended.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run(cmd, cwd=cwd, env=env, stdout=out, stderr=err,
                              stdin=subprocess.DEVNULL, timeout=600).returncode
        out.seek(0)
        err.seek(0)
        return code, out.read().replace(b"\r\n", b"\n"), err.read().replace(b"\r\n", b"\n")


def tree(folder):
    out = {}
    for base, _, files in os.walk(folder):
        for name in files:
            if name == ".kestrix-export":
                continue
            path = os.path.join(base, name)
            with open(path, "rb") as f:
                out[os.path.relpath(path, folder)] = f.read()
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--linux", default=os.path.join(ROOT, "build", "kestrix"))
    ap.add_argument("--windows", default=os.path.join(ROOT, "build-windows", "kestrix.exe"))
    ap.add_argument("--corpus", default=os.path.join(ROOT, "..", "shared", "corpus"))
    ap.add_argument("--types", default="", help="-t for export (default: every type)")
    args = ap.parse_args()
    corpus = os.path.abspath(args.corpus)
    wine = shutil.which("wine64") or shutil.which("wine")
    manifest = os.path.join(corpus, "manifest.tsv")
    if not os.path.exists(manifest):
        print("no corpus at " + corpus)
        return 0
    with open(manifest) as f:
        rows = [line.split("\t")[0] for line in f.read().splitlines()[1:] if line]
    # Pieces other than the first are opened through it.
    rows = [r for r in rows if not (".split" in r and not r.endswith(".split0"))]
    failures = []
    listed = exported = files = 0
    for rel in rows:
        archive = os.path.join(corpus, rel)
        with tempfile.TemporaryDirectory(prefix="kestrix-wincheck-") as tmp:
            # Each run opens its own copy: a set of pieces is joined beside its first piece.
            cases = {}
            for side in ("linux", "windows"):
                folder = os.path.join(tmp, side)
                os.makedirs(folder)
                src_dir = os.path.dirname(archive)
                name = os.path.basename(archive)
                if name.endswith(".split0"):
                    stem = name[: -len("0")]
                    for piece in os.listdir(src_dir):
                        if piece.startswith(stem):
                            shutil.copy(os.path.join(src_dir, piece), folder)
                else:
                    shutil.copy(archive, folder)
                cases[side] = folder
            results = {}
            for side, program in (("linux", [args.linux]), ("windows", [wine, args.windows])):
                folder = cases[side]
                name = os.path.basename(archive)
                lst = run(program + ["list", name], folder)
                cmd = program + ["export", name, "-p", "out", "-ndc"]
                if args.types:
                    cmd += ["-t", args.types]
                exp = run(cmd, folder)
                results[side] = (lst, exp, tree(os.path.join(folder, "out")))
            (l_list, l_exp, l_tree), (w_list, w_exp, w_tree) = results["linux"], results["windows"]
            # Messages name paths: wine shows /tmp/x as Z:\tmp\x, and each side has its folder.
            def norm(b, side):
                b = b.replace(b"Z:\\", b"/").replace(b"\\", b"/")
                return b.replace(cases[side].encode(), b"<folder>")
            if l_list[:2] != w_list[:2]:
                failures.append(f"{rel}: list differs (status {l_list[0]} / {w_list[0]})\n"
                                f"  {l_list[2][:300]!r}\n  {w_list[2][:300]!r}")
            listed += 1
            if l_exp[0] != w_exp[0] or norm(l_exp[2], "linux") != norm(w_exp[2], "windows"):
                failures.append(f"{rel}: export status or messages differ "
                                f"({l_exp[0]} / {w_exp[0]})\n  {l_exp[2][:300]!r}\n  {w_exp[2][:300]!r}")
            w_norm = {k.replace("\\", "/"): v for k, v in w_tree.items()}
            if set(l_tree) != set(w_norm):
                only_l = sorted(set(l_tree) - set(w_norm))[:5]
                only_w = sorted(set(w_norm) - set(l_tree))[:5]
                failures.append(f"{rel}: exported files differ: only Linux {only_l}, only Windows {only_w}")
            else:
                diff = [k for k in l_tree if l_tree[k] != w_norm[k]]
                if diff:
                    failures.append(f"{rel}: {len(diff)} exported files differ in bytes: {diff[:5]}")
            exported += 1
            files += len(l_tree)
    for f in failures:
        print("FAIL " + f)
    print(f"{listed} archives listed, {exported} exported ({files} files): "
          f"{len(failures)} differences")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
