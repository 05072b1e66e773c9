#!/usr/bin/env python3
"""Writes the interpreter benchmark workloads into a directory, byte for byte the same on every run."""
import os
import sys

SIZE = 4 * 1024 * 1024


class Lcg:
    """A fixed generator, so the workloads never depend on the Python version."""

    def __init__(self, seed):
        self.state = seed

    def next(self, n):
        self.state = (self.state * 6364136223846793005 + 1442695040888963407) % (1 << 64)
        return (self.state >> 33) % n


def fill(parts, rng, make):
    size = 0
    while size < SIZE:
        chunk = make(rng)
        parts.append(chunk)
        size += len(chunk)
    return b"".join(parts)[:SIZE]


WORDS = [b"the", b"quick", b"brown", b"fox", b"jumps", b"over", b"lazy", b"dog", b"terminal",
         b"emulator", b"escape", b"sequence", b"buffer", b"scroll", b"render", b"glyph"]


def dense_ascii(rng):
    return bytes(32 + rng.next(95) for _ in range(4096))


def short_lines(rng):
    return b" ".join(WORDS[rng.next(len(WORDS))] for _ in range(1 + rng.next(6))) + b"\r\n"


def region_scroll(rng):
    head = b"\x1b[3;20r\x1b[20;1H" if rng.next(50) == 0 else b""
    return head + short_lines(rng)


UNICODE = ["日本語", "中文字", "한국어", "e\u0301", "a\u0308\u0323", "😀", "🎉", "👍🏽", "Ω", "ß", "→", "│"]


def unicode_heavy(rng):
    return "".join(UNICODE[rng.next(len(UNICODE))] for _ in range(20)).encode() + b"\r\n"


def sgr_heavy(rng):
    out = []
    for _ in range(80):
        if rng.next(2):
            out.append(b"\x1b[38;5;%dm\x1b[48;5;%dm" % (rng.next(256), rng.next(256)))
        else:
            out.append(b"\x1b[38;2;%d;%d;%dm\x1b[48;2;%d;%d;%dm" % tuple(rng.next(256) for _ in range(6)))
        out.append(bytes([33 + rng.next(94)]))
    return b"".join(out) + b"\x1b[m\r\n"


def cursor_motion(rng):
    return b"\x1b[%d;%dH%c" % (1 + rng.next(24), 1 + rng.next(80), 33 + rng.next(94))


def source_file(rng):
    indent = b"    " * rng.next(4)
    kinds = [
        b"if (%s != nullptr) {" % WORDS[rng.next(len(WORDS))],
        b"return %s(%d);" % (WORDS[rng.next(len(WORDS))], rng.next(1000)),
        b"// %s %s %s" % (WORDS[rng.next(len(WORDS))], WORDS[rng.next(len(WORDS))], WORDS[rng.next(len(WORDS))]),
        b"std::vector<%s> %s;" % (WORDS[rng.next(len(WORDS))], WORDS[rng.next(len(WORDS))]),
        b"}",
        b"",
    ]
    return indent + kinds[rng.next(len(kinds))] + b"\r\n"


WORKLOADS = {
    "dense-ascii": dense_ascii,
    "scrolling": short_lines,
    "region-scrolling": region_scroll,
    "unicode": unicode_heavy,
    "sgr": sgr_heavy,
    "cursor-motion": cursor_motion,
    "source-file": source_file,
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "workloads"
    os.makedirs(out, exist_ok=True)
    for seed, (name, make) in enumerate(WORKLOADS.items(), start=1):
        with open(os.path.join(out, name), "wb") as f:
            f.write(fill([], Lcg(seed), make))


if __name__ == "__main__":
    main()
