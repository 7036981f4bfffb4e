#!/usr/bin/env python3
"""Runs the fresh-process measurements and writes one JSON object per line.

    fresh.py BUILD_DIR ROUNDS OUT.jsonl PDB [PDB ...]

Each measurement runs in a process of its own, as a user's run does: the
heap is fresh and every page used is touched for the first time. Two kinds:

- timed inside the process (sorvanta_bench --fresh=...): the whole-file
  read (the floor), reading just the streams a load keeps (into fresh
  memory, and through one reused buffer per thread: the least a reader
  that does not map the file pays), open, open + list of references,
  open + every function's six texts; with the loader on 1 thread and on
  all cores;
- whole processes, timed from outside: `sorvanta-query list PDB >
  /dev/null` against a small program that reads the whole file, on all
  cores and pinned to one core.

Rounds alternate the measurements, so a drift of the machine's speed
touches each alike; the report takes medians.
"""
import json
import os
import subprocess
import sys
import time

INSIDE = ["floor", "read_needed", "read_needed_reused", "open", "open_list_refs", "open_list_texts"]


def main():
    build, rounds, out_path, pdbs = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4:]
    bench = os.path.join(build, "bench", "sorvanta_bench")
    floor = os.path.join(build, "bench", "sorvanta_read_floor")
    query = os.path.join(build, "cli", "sorvanta-query")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    with open(out_path, "w") as out:
        for pdb in pdbs:
            name = os.path.splitext(os.path.basename(pdb))[0]
            for _ in range(rounds):
                for measure in INSIDE:
                    for threads in (1, 0):
                        line = subprocess.run([bench, f"--threads={threads}", f"--fresh={measure}", f"--pdb={pdb}"],
                                              env=env, check=True, capture_output=True, text=True).stdout
                        out.write(line.strip() + "\n")
                for cores, pin in (("all", []), ("one", ["taskset", "-c", "0"])):
                    for kind, command in (("process_floor", [floor, pdb]), ("query_list", [query, "list", pdb])):
                        start = time.perf_counter()
                        subprocess.run(pin + command, check=True, stdout=subprocess.DEVNULL)
                        ms = (time.perf_counter() - start) * 1e3
                        out.write(json.dumps({"measure": kind, "name": name, "cores": cores, "ms": ms}) + "\n")
                out.flush()


if __name__ == "__main__":
    main()
