#!/usr/bin/env python3
"""Writes the fuzzer's seed corpus: every fixture PDB whole, and for every
stream of it a copy in which that one stream is cut to half its length (the
stream directory rewritten to match, so the container stays consistent).

    make_seed_corpus.py OUTPUT_DIR FIXTURE.pdb [FIXTURE.pdb ...]
"""
import os
import struct
import sys


def cut_streams(data):
    block_size, _, num_blocks, dir_bytes, _, map_addr = struct.unpack_from("<6I", data, 32)
    dir_block_count = (dir_bytes + block_size - 1) // block_size
    dir_blocks = struct.unpack_from(f"<{dir_block_count}I", data, map_addr * block_size)
    directory = b"".join(data[b * block_size:(b + 1) * block_size] for b in dir_blocks)[:dir_bytes]

    count = struct.unpack_from("<I", directory, 0)[0]
    sizes = list(struct.unpack_from(f"<{count}I", directory, 4))
    at = 4 + 4 * count
    blocks = []
    for size in sizes:
        n = 0 if size == 0xFFFFFFFF else (size + block_size - 1) // block_size
        blocks.append(list(struct.unpack_from(f"<{n}I", directory, at)))
        at += 4 * n

    for victim, size in enumerate(sizes):
        if size in (0, 0xFFFFFFFF):
            continue
        new_sizes = list(sizes)
        new_sizes[victim] = size // 2
        keep = (new_sizes[victim] + block_size - 1) // block_size
        new_blocks = [list(b) for b in blocks]
        new_blocks[victim] = new_blocks[victim][:keep]
        body = struct.pack("<I", count) + struct.pack(f"<{count}I", *new_sizes)
        body += b"".join(struct.pack(f"<{len(b)}I", *b) for b in new_blocks)
        out = bytearray(data)
        padded = body + bytes(dir_block_count * block_size - len(body))
        for i, b in enumerate(dir_blocks):
            out[b * block_size:(b + 1) * block_size] = padded[i * block_size:(i + 1) * block_size]
        struct.pack_into("<I", out, 32 + 12, len(body))
        yield victim, bytes(out)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    output = sys.argv[1]
    os.makedirs(output, exist_ok=True)
    for path in sys.argv[2:]:
        data = open(path, "rb").read()
        stem = os.path.splitext(os.path.basename(path))[0]
        open(os.path.join(output, f"{stem}.pdb"), "wb").write(data)
        for victim, cut in cut_streams(data):
            open(os.path.join(output, f"{stem}-stream{victim}-half.pdb"), "wb").write(cut)


if __name__ == "__main__":
    main()
