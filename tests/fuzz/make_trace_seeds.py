#!/usr/bin/env python3
"""Writes the seed corpus of the trace reader fuzzer.

Usage: make_trace_seeds.py [OUTPUT_DIR]   (default: corpus/trace_reader next to this script)

The keystream is computed here independently of the C++ code: TEA, 32 rounds,
signed halves with an arithmetic right shift, output feedback from a fixed state.
"""
import os
import struct
import sys

KEY = (0x43564F4E, 0x4C494E45, 0x54524143, 0x45334B59)
INITIAL = (0x7E1A5C39, 0x2B6D9F04)
DELTA = 0x9E3779B9
MASK = 0xFFFFFFFF


def sar5(v):
    # Python's >> on a negative int is arithmetic.
    signed = v - (1 << 32) if v & 0x80000000 else v
    return (signed >> 5) & MASK


def encipher(y, z):
    total = 0
    for _ in range(32):
        total = (total + DELTA) & MASK
        y = (y + ((((z << 4) + KEY[0]) & MASK) ^ ((z + total) & MASK) ^ ((sar5(z) + KEY[1]) & MASK))) & MASK
        z = (z + ((((y << 4) + KEY[2]) & MASK) ^ ((y + total) & MASK) ^ ((sar5(y) + KEY[3]) & MASK))) & MASK
    return y, z


def keystream(n):
    out = bytearray()
    y, z = INITIAL
    while len(out) < n:
        y, z = encipher(y, z)
        out += struct.pack("<II", y, z)
    return bytes(out[:n])


def record(thread, kind, text=""):
    payload = text.encode("utf-8")
    stream = keystream(len(payload))
    body = bytes(a ^ b for a, b in zip(payload, stream))
    return struct.pack("<IcH", thread, kind.encode("ascii"), len(payload)) + body


HEADER = (
    "trace3\r\n"
    "Compiled: Dec  6 2026 10:00:00\r\n"
    "OS: Windows 10 Pro\r\n"
    "ServicePack: \r\n"
    "Machine name: BUILDHOST\r\n"
    "Trace Ver: 3.0.2\r\n"
    "FileVersion: 1.2.3.4\r\n"
    "Product: Online IDs 3.0\r\n"
    "installation: LOCAL\r\n"
    "12/06/2026 10:00:00.123\r\n"
    ".\r\n"
).encode("ascii")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "corpus", "trace_reader")
    os.makedirs(out_dir, exist_ok=True)

    nested = (
        record(0x10, "t", "12/06/26")
        + record(0x10, "T", "10:00:00.123")
        + record(0x10, ">", "CMain::Run")
        + record(0x24, ">", "CWorker::Loop")
        + record(0x10, ">", "CFoo::Bar")
        + record(0x10, "U", "hello")
        + record(0x24, "E", "-5 device not ready")
        + record(0x10, "<")
        + record(0x24, "D", "debug détail ✓")
        + record(0x24, "T", "10:00:01.007")
        + record(0x10, "N", "12-06-2026")
        + record(0x24, "<")
        + record(0x10, "<")
    )
    seeds = {
        "nested.trc3": HEADER + nested,
        "truncated.trc3": HEADER + nested + record(0x10, "U", "cut in the middle")[:12],
        "header_only.trc3": HEADER,
        "no_products.trc3": HEADER.replace(b"Product: Online IDs 3.0", b"No Corvantis products found")
        + record(1, "U", "x" * 351)
        + record(1, "<"),
        "corrupt_type.trc3": HEADER + record(7, "U", "ok") + b"\x07\x00\x00\x00\x9f\x00\x00",
    }
    for name, data in seeds.items():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)
    # Printed for the known-answer test of the C++ keystream.
    print("keystream[0:16] =", keystream(16).hex())


if __name__ == "__main__":
    main()
