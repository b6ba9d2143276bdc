#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_backup_image: backup images in DER."""
import os
import sys


def der(tag, content):
    n = len(content)
    if n < 0x80:
        head = bytes([n])
    else:
        digits = n.to_bytes((n.bit_length() + 7) // 8, "big")
        head = bytes([0x80 | len(digits)]) + digits
    return bytes([tag]) + head + content


def seq(*items):
    return der(0x30, b"".join(items))


def text(s):
    return der(0x1E, s.encode("utf-16-be") + b"\0\0")


def integer(v):
    n = max(1, (v.bit_length() + 8) // 8)
    return der(0x02, v.to_bytes(n, "big", signed=True))


def main(folder):
    os.makedirs(folder, exist_ok=True)
    cvm = b'<?xml version="1.0"?><manifest id="{A}"/>' * 8
    seeds = {
        "empty_parts": seq(seq(), seq(), seq()),
        "one_of_each": seq(
            seq(seq(text("site.cvm"), der(0x04, cvm))),
            seq(seq(text("Mail"), text("https://mail.example/"), text("site.cvm"), integer(0),
                    text("{A}"))),
            seq(seq(text("Personal"), text("site;bank")), seq(text("Empty"), text("")))),
        "links_profiles": seq(
            seq(),
            seq(*[seq(text("L%d" % i), text("C:\\P\\app%d.exe" % i), text("t%d.cvm" % i),
                      integer(v), text("")) for i, v in enumerate([-1, 127, 128, -129, 2**31 - 1])]),
            seq()),
        "hostile_names": seq(
            seq(seq(text("..\\evil.cvm"), der(0x04, b"x")), seq(text("a:b.cvm"), der(0x04, b""))),
            seq(), seq()),
        "two_parts": seq(seq(), seq()),
    }
    for name, data in seeds.items():
        with open(os.path.join(folder, name + ".der"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus", "backup_image"))
