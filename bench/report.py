#!/usr/bin/env python3
"""Prints the benchmark figures of each PDB against the targets.

    report.py RESULTS.json MEMORY.jsonl
"""
import json
import sys


def main():
    results = json.load(open(sys.argv[1]))["benchmarks"]
    memory = [json.loads(line) for line in open(sys.argv[2]) if line.strip()]

    times = {}  # (benchmark, pdb) -> real time in ms
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
    for r in results:
        name, pdb = r["name"].split("/")[:2]
        times[(name, pdb)] = r["real_time"] * scale[r["time_unit"]]
    pdbs = sorted({pdb for _, pdb in times}, key=lambda p: times.get(("floor", p), 0))

    rows = [
        ("floor", "read the file into fresh memory", lambda p: f"{times[('floor', p)]:.1f} ms", None),
        ("open_and_list_all", "open + list every function",
         lambda p: f"{times[('open_and_list_all', p)]:.1f} ms = "
                   f"{times[('open_and_list_all', p)] / times[('floor', p)]:.2f} x floor",
         lambda p: times[("open_and_list_all", p)] <= 2.0 * times[("floor", p)]),
        ("search_name_hit", "case-insensitive name search, hit",
         lambda p: f"{times[('search_name_hit', p)] * 1000:.2f} us",
         lambda p: times[("search_name_hit", p)] <= 2.0),
        ("search_name_miss", "case-insensitive name search, miss",
         lambda p: f"{times[('search_name_miss', p)] * 1000:.2f} us",
         lambda p: times[("search_name_miss", p)] <= 2.0),
        ("lookup_va", "address lookup, per query",
         lambda p: f"{times[('lookup_va', p)] * 1e6:.0f} ns",
         lambda p: times[("lookup_va", p)] * 1e6 <= 200),
        ("query_addr_batch", "sorvanta-query addr, per line",
         lambda p: f"{times[('query_addr_batch', p)] * 1e6:.0f} ns = "
                   f"{1e3 / times[('query_addr_batch', p)] / 1e6:.2f} M/s = "
                   f"{times[('query_addr_batch', p)] / times[('lookup_va', p)]:.1f} x lookup",
         lambda p: 1e3 / times[("query_addr_batch", p)] >= 2e6),
        ("page_first", "show a page of 45 rows, first time",
         lambda p: f"{times[('page_first', p)]:.2f} ms", lambda p: times[("page_first", p)] <= 5.0),
        ("page_again", "show the same page again",
         lambda p: f"{times[('page_again', p)]:.3f} ms", lambda p: times[("page_again", p)] <= 0.5),
        ("rebuild_all", "rebuild the list for every function (Qt)",
         lambda p: f"{times[('rebuild_all', p)]:.1f} ms", lambda p: times[("rebuild_all", p)] <= 100.0),
    ]
    targets = {
        "open_and_list_all": "<= 2.0 x floor", "search_name_hit": "<= 2 ms",
        "search_name_miss": "<= 2 ms", "lookup_va": "<= 200 ns", "query_addr_batch": ">= 2 M/s", "page_first": "<= 5 ms",
        "page_again": "<= 0.5 ms", "rebuild_all": "<= 100 ms",
    }

    width = 40
    print(f"{'benchmark':<20} {'target':<16} " + " ".join(f"{p:<{width}}" for p in pdbs))
    print("-" * (38 + (width + 1) * len(pdbs)))
    for key, _, show, ok in rows:
        cells = []
        for p in pdbs:
            if (key, p) not in times:
                cells.append(f"{'-':<{width}}")
                continue
            mark = "" if ok is None else (" ok" if ok(p) else " MISSED")
            cells.append(f"{show(p) + mark:<{width}}")
        print(f"{key:<20} {targets.get(key, ''):<16} " + " ".join(cells))

    for m in memory:
        n = m["functions"]
        budget = m["file_bytes"] + 64 * n + 80 * 2**20
        print()
        print(f"memory, {n} functions in a {m['file_bytes'] / 2**20:.0f} MiB file:")
        print(f"  peak resident after open + list all: {m['peak_rss_bytes'] / 2**20:.0f} MiB "
              f"(budget file + 64 B/function + 80 MiB = {budget / 2**20:.0f} MiB)"
              + (" ok" if m["peak_rss_bytes"] <= budget else " MISSED"))
        print(f"  of which before anything was opened: {m['baseline_rss_bytes'] / 2**20:.0f} MiB")
        print(f"  heap per result reference: {m['reference_bytes']:.1f} B (target <= 24 B)"
              + (" ok" if m["reference_bytes"] <= 24 else " MISSED"))


if __name__ == "__main__":
    main()
