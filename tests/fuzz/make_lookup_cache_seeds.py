#!/usr/bin/env python3
"""Writes the seed corpus of the lookup-cache walker fuzzer.

Usage: make_lookup_cache_seeds.py [OUTPUT_DIR]   (default: corpus/lookup_cache next to this script)

The layout is written here independently of the C++ code: two tables of 128
bucket offsets at 0x28 and 0x228, the folder table at 0x554, 17-byte entries
(key, folder index, file, flag byte, next), zero-terminated UTF-8 strings.
"""
import os
import struct
import sys

FIRST, SECOND, FOLDERS, ENTRY = 0x28, 0x228, 0x554, 17


def fnv1a(key):
    h = 2166136261
    for b in key:
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return h % 128


def image(folders, entries):
    """entries: (table, key, folder index, file, flag). Returns (bytes, entry offsets)."""
    strings = {}
    blob = bytearray()
    base = FOLDERS + 4 * len(folders)

    def place(text):
        if text not in strings:
            strings[text] = base + len(blob)
            blob.extend(text + b"\0")
        return strings[text]

    folder_offsets = [place(f) for f in folders]
    for _, key, _, name, _ in entries:
        place(key)
        place(name)
    entries_at = base + len(blob)
    out = bytearray(entries_at + ENTRY * len(entries))
    out[0:4] = b"CVLC"
    for i, off in enumerate(folder_offsets):
        struct.pack_into("<I", out, FOLDERS + 4 * i, off)
    out[base:entries_at] = blob
    tails = {}
    offsets = []
    for i, (table, key, folder, name, flag) in enumerate(entries):
        at = entries_at + ENTRY * i
        offsets.append(at)
        struct.pack_into("<IIIB", out, at, strings[key], folder, strings[name], flag)
        chain = (table, fnv1a(key))
        if chain in tails:
            struct.pack_into("<I", out, tails[chain] + 13, at)
        else:
            struct.pack_into("<I", out, (FIRST if table == 0 else SECOND) + 4 * fnv1a(key), at)
        tails[chain] = at
    return out, offsets


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "corpus", "lookup_cache")
    os.makedirs(out_dir, exist_ok=True)
    seeds = {}

    empty, _ = image([b"C:\\own\\"], [])
    seeds["empty_tables.bin"] = empty

    sound, offsets = image(
        [b"C:\\own\\", b"D:\\alien\\"],
        [(0, b"mail", 0, b"mail.cvm", 0), (1, b"mail", 0, b"mail.cvm", 0),
         (0, b"bank", 1, b"Bank.cvm", 0), (0, b"gone", 0, b"gone.cvm", 1),
         (0, b"k", 0, b"one.cvm", 0), (0, b"k", 0, b"two.cvm", 0),
         (0, b"\xc3\xa9t\xc3\xa9", 1, b"\xc3\xa9t\xc3\xa9.cvm", 0)])
    seeds["sound.bin"] = sound

    loop = bytearray(sound)
    struct.pack_into("<I", loop, offsets[5] + 13, offsets[4])  # two.cvm -> one.cvm
    seeds["chain_loop.bin"] = loop

    beyond = bytearray(sound)
    struct.pack_into("<I", beyond, offsets[4] + 13, len(sound) + 100)
    struct.pack_into("<I", beyond, offsets[2] + 4, 0x40000000)  # folder index far out
    struct.pack_into("<I", beyond, offsets[0] + 8, 0xFFFFFFFF)  # file name out of range
    seeds["offsets_out_of_range.bin"] = beyond

    unterminated = bytearray(sound) + b"no terminator"
    struct.pack_into("<I", unterminated, offsets[2] + 8, len(sound))
    seeds["string_without_terminator.bin"] = unterminated

    seeds["cut_in_tables.bin"] = bytes(sound[:0x300])
    for name, data in seeds.items():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(bytes(data))


if __name__ == "__main__":
    main()
