#!/usr/bin/env python3
"""Writes the seed corpora of the named-storage fuzzers.

Usage: make_store_seeds.py [CORPUS_DIR]   (default: corpus next to this script)

Writes CORPUS_DIR/store_image/*.img and CORPUS_DIR/store_records/*.img. The
images are encoded here independently of the C++ code: magic A2 49 4D F3
D9 1E 9F 88, version byte, root section; counts with the width in their two
low bits; section entries sorted by name bytes.
"""
import os
import struct
import sys

HEADER = bytes([0xA2, 0x49, 0x4D, 0xF3, 0xD9, 0x1E, 0x9F, 0x88])


def count(value, width=None):
    if width is None:
        width = 1 if value < 0x40 else 2 if value < 0x4000 else 4 if value < 0x40000000 else 8
    code = {1: 0, 2: 1, 4: 2, 8: 3}[width]
    return ((value << 2) | code).to_bytes(width, "little")


# Entries: ("section", {name: entry}), ("value", kind, bytes),
# ("sections", [section dicts]), ("values", kind, [bytes]).
def section(entries):
    out = b"\x01" + count(len(entries))
    for name in sorted(entries, key=lambda n: n.encode("latin-1")):
        out += name.encode("latin-1") + b"\x00" + encode(entries[name])
    return out


def encode(entry):
    kind = entry[0]
    if kind == "section":
        return section(entry[1])
    if kind == "value":
        return b"\x02" + bytes([entry[1]]) + count(len(entry[2])) + entry[2]
    if kind == "sections":
        return b"\x03" + count(len(entry[1])) + b"".join(section(s) for s in entry[1])
    if kind == "values":
        return (b"\x04" + bytes([entry[1]]) + count(len(entry[2])) +
                b"".join(count(len(v)) + v for v in entry[2]))
    raise ValueError(kind)


def image(root, version=1):
    return HEADER + bytes([version]) + section(root)


def integer(v):
    return ("value", 1, struct.pack("<i", v))


def narrow(text):
    return ("value", 2, text.encode("latin-1") + b"\x00")


def wide(text):
    return ("value", 3, text.encode("utf-16-le") + b"\x00\x00")


def item(n, value):
    return {"value_op": integer(n), "displayname_op": integer(0),
            "displayname": wide("Field %d" % n), "value": wide(value),
            "dbname": narrow("db%d" % n), "memid": integer(-1 if n == 0 else n)}


def record(n, items):
    r = {"operation": integer(n % 4), "profileindex": integer(n),
         "profilename": wide("Profile %d \u00e9" % n), "qlinkname": wide("Link %d" % n),
         "submitprofile": integer(1), "updatedate": narrow("2024-05-01 12:00"),
         "formindex": integer(0)}
    if items:
        r["profileitems"] = ("sections", [item(i, v) for i, v in enumerate(items)])
    return r


def main():
    base = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    image_seeds = {
        "empty.img": image({}),
        "version0.img": image({"a": integer(7)}, version=0),
        "all_kinds.img": image({
            "v": integer(1),
            "s": ("section", {"x": narrow("hi"), "inner": ("section", {})}),
            "a": ("sections", [{}, {"n": integer(2)}]),
            "w": ("values", 3, [b"A\x00\x00\x00", b""]),
        }),
        "widths.img": image({"p63": ("value", 7, b"\x11" * 63), "p64": ("value", 7, b"\x22" * 64),
                             "p300": ("value", 9, bytes(range(256)) + b"\x00" * 44)}),
        "wide_counts.img": HEADER + b"\x01" + b"\x01" + count(1, 8) + b"k\x00" +
                           b"\x02\x01" + count(4, 4) + b"\x05\x00\x00\x00",
        "unknown_tag.img": HEADER + b"\x01" + b"\x01\x08" + b"a\x00" + encode(integer(7)) +
                           b"b\x00\x05",
        "unsorted.img": HEADER + b"\x01" + b"\x01\x0c" + b"b\x00" + encode(integer(1)) +
                        b"a\x00" + encode(integer(2)) + b"b\x00" + encode(integer(3)),
        "nested.img": image({"a": ("section", {"b": ("section", {"c": ("sections", [
            {"d": ("values", 1, [b"\x01\x00\x00\x00"])}])})})}),
    }
    record_seeds = {
        "record.img": image(record(1, ["550-08-60 bank.password", "jdoe"])),
        "record_no_items.img": image(record(2, [])),
        "list.img": image({"cvprofiles_t": ("sections", [record(1, ["a"]), record(10, []),
                                                         record(2, ["550-08-60 x", "y", "z"])])}),
        "mistyped.img": image({"operation": ("section", {}), "profilename": narrow("narrow"),
                               "formindex": ("value", 1, b"\x22\x11")}),
    }
    for folder, seeds in (("store_image", {**image_seeds, **record_seeds}),
                          ("store_records", record_seeds)):
        path = os.path.join(base, folder)
        os.makedirs(path, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(path, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
