#!/usr/bin/env python3
"""Writes C++ sources with many small functions and builds them into a large
image and its PDB with clang-cl and lld-link, for the benchmarks.

    generate_large_pdb.py FILES FUNCTIONS_PER_FILE OUTPUT.pdb

Each file holds a namespace with classes (member and static methods), free
functions and their overloads, and file-static functions, all kept out of
line (/Od, noinline) and all kept by the linker (/OPT:NOREF). One function
in six calls a chain of forced-inline helpers (two deep, one of them
twice), so the PDB has inline sites for the symbolizer to unwind. The image
is kept beside the PDB (OUTPUT with .exe), and records the PDB under
OUTPUT's file name. Objects are compiled in parallel, one job per core.
"""
import os
import shutil
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor


def source(index, count):
    """One translation unit with exactly `count` functions plus one that
    keeps its file-static functions referenced."""
    ns = f"bench{index:04d}"
    members = {}  # class index -> declarations
    body = []
    statics = []
    for j in range(count):
        kind = j % 6
        c = j // 30
        if kind == 0:
            members.setdefault(c, []).append(f"  __declspec(noinline) int Get{j}(int x) const;")
            body.append(f"int {ns}::Widget{c}::Get{j}(int x) const {{ return value + x + {j}; }}")
        elif kind == 1:
            members.setdefault(c, []).append(f"  static __declspec(noinline) int Make{j}(int x);")
            body.append(f"int {ns}::Widget{c}::Make{j}(int x) {{ return x * {j + 1}; }}")
        elif kind == 2:
            body.append(f"namespace {ns} {{ __declspec(noinline) int Compute{j}(int x) {{ return Outer(x) ^ {j}; }} }}")
        elif kind == 3:
            # An overload of the function just before it.
            body.append(f"namespace {ns} {{ __declspec(noinline) int Compute{j - 1}(int x, int y) {{ return x - y + {j}; }} }}")
        elif kind == 4:
            body.append(f"static __declspec(noinline) int Local{j}(int x) {{ return x + {j * 3}; }}")
            statics.append(f"Local{j}")
        else:
            body.append(f'extern "C" __declspec(noinline) int c_func_{index}_{j}(int x) {{ return x - {j}; }}')
    lines = [f"namespace {ns} {{",
             "static __forceinline int Inner(int x) { return x * 3 + 1; }",
             "static __forceinline int Outer(int x) { return Inner(x) ^ Inner(x + 1); }"]
    for c, decls in members.items():
        lines.append(f"class Widget{c} {{\n public:\n  int value;")
        lines += decls
        lines.append("};")
    lines.append("}")
    lines += body
    calls = " + ".join(f"{s}(x)" for s in statics) or "x"
    lines.append(f"int KeepStatics{index}(int x) {{ return {calls}; }}")
    return "\n".join(lines) + "\n"


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    files, per_file, output = int(sys.argv[1]), int(sys.argv[2]), os.path.abspath(sys.argv[3])
    stem = os.path.splitext(os.path.basename(output))[0]
    work = tempfile.mkdtemp(prefix="sorvanta-bench-")
    try:
        for i in range(files):
            with open(os.path.join(work, f"f{i:04d}.cpp"), "w") as f:
                f.write(source(i, per_file))
        with open(os.path.join(work, "entry.cpp"), "w") as f:
            f.write('extern "C" int entry() { return 0; }\n')

        def compile_one(name):
            subprocess.run(["clang-cl-14", "--target=x86_64-pc-windows-msvc", "/c", "/Z7", "/Od",
                            "/GS-", "/EHs-c-", "/GR-", f"/Fo{name}.obj", f"{name}.cpp"],
                           cwd=work, check=True)

        names = [f"f{i:04d}" for i in range(files)] + ["entry"]
        with ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
            list(pool.map(compile_one, names))
        with open(os.path.join(work, "objects.rsp"), "w") as f:
            f.write("\n".join(f"{n}.obj" for n in names) + "\n")
        subprocess.run(["lld-link", "/nologo", "/DEBUG", "/NODEFAULTLIB", "/ENTRY:entry",
                        "/SUBSYSTEM:CONSOLE", "/OPT:NOREF", "/OPT:NOICF", "/INCREMENTAL:NO",
                        f"/OUT:{stem}.exe", f"/PDB:{stem}.pdb", "@objects.rsp"], cwd=work, check=True)
        os.makedirs(os.path.dirname(output), exist_ok=True)
        shutil.move(os.path.join(work, f"{stem}.exe"), os.path.splitext(output)[0] + ".exe")
        shutil.move(os.path.join(work, f"{stem}.pdb"), output)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
