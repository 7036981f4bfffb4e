#!/usr/bin/env python3
"""Times sorvanta-query answering addresses, in fresh processes, and writes
one JSON object per line.

    answers.py BUILD_DIR ROUNDS OUT.jsonl PDB [PDB ...]

For each PDB with its image beside it (the generator keeps the .exe):

- answer rates after the load: `addr` over 2M shuffled function starts
  (RVAs, against the PDB) and `symbolize` over the same starts (VAs at the
  image's preferred base, against the image, with lines and inlines), each
  less the same command on empty input, so the load is not counted;
- symbolize against llvm-symbolizer-14: both on the same 100,000 random
  addresses inside functions, whole processes. llvm-symbolizer takes a
  minute there, so it runs once; ours runs ROUNDS times.

Inputs are made once per PDB from its listing and kept beside it.
"""
import json
import os
import random
import shutil
import subprocess
import sys
import time

MANY = 2_000_000
AGAINST_LLVM = 100_000
IMAGE_BASE = 0x140000000  # the generator links 64-bit images at the default base


def make_inputs(query, pdb):
    stem = os.path.splitext(pdb)[0]
    paths = {k: f"{stem}.{k}.txt" for k in ("starts-rva", "starts-va", "inside-va")}
    if all(os.path.exists(p) for p in paths.values()):
        return paths
    listing = subprocess.run([query, "list", "--format", "json", pdb], check=True, capture_output=True,
                             text=True).stdout
    functions = []
    for line in listing.splitlines():
        row = json.loads(line)
        if row.get("rva") is not None and row.get("length"):
            functions.append((row["rva"], row["length"]))
    rng = random.Random(17)
    starts = [rva for rva, _ in functions]
    rng.shuffle(starts)
    starts = (starts * (MANY // len(starts) + 1))[:MANY]
    inside = [rva + rng.randrange(length) for rva, length in rng.sample(functions, min(AGAINST_LLVM, len(functions)))]
    # Addresses carry 0x: llvm-symbolizer reads digits without it as decimal.
    with open(paths["starts-rva"], "w") as f:
        f.writelines(f"0x{a:x}\n" for a in starts)
    with open(paths["starts-va"], "w") as f:
        f.writelines(f"0x{a + IMAGE_BASE:x}\n" for a in starts)
    with open(paths["inside-va"], "w") as f:
        f.writelines(f"0x{a + IMAGE_BASE:x}\n" for a in inside)
    return paths


def timed(command, stdin_path):
    with open(stdin_path, "rb") as stdin:
        start = time.perf_counter()
        subprocess.run(command, stdin=stdin, stdout=subprocess.DEVNULL, check=True)
        return (time.perf_counter() - start) * 1e3


def main():
    build, rounds, out_path, pdbs = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]
    query = os.path.join(build, "cli", "sorvanta-query")
    llvm = shutil.which("llvm-symbolizer-14")
    with open(out_path, "w") as out:
        def record(measure, name, ms, count):
            out.write(json.dumps({"measure": measure, "name": name, "ms": ms, "count": count}) + "\n")
            out.flush()

        for pdb in pdbs:
            image = os.path.splitext(pdb)[0] + ".exe"
            if not os.path.exists(image):
                continue
            name = os.path.splitext(os.path.basename(pdb))[0]
            inputs = make_inputs(query, pdb)
            for _ in range(rounds):
                record("addr_empty", name, timed([query, "addr", pdb], os.devnull), 0)
                record("addr_many", name, timed([query, "addr", pdb], inputs["starts-rva"]), MANY)
                record("symbolize_empty", name, timed([query, "symbolize", image], os.devnull), 0)
                record("symbolize_many", name, timed([query, "symbolize", image], inputs["starts-va"]), MANY)
                record("symbolize_100k", name, timed([query, "symbolize", image], inputs["inside-va"]), AGAINST_LLVM)
            if llvm:
                record("llvm_100k", name, timed([llvm, f"--obj={image}"], inputs["inside-va"]), AGAINST_LLVM)


if __name__ == "__main__":
    main()
