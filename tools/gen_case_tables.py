#!/usr/bin/python3
"""Generates runtime/case_tables.inc, the case-mapping tables of runtime/case_fold.

Run by hand when the tables must change; the build only reads the committed output.
Input: the Unicode character database as Debian's unicode-data package installs it
(/usr/share/unicode: UnicodeData.txt, DerivedAge.txt):

    apt-get install -y unicode-data
    /usr/bin/python3 tools/gen_case_tables.py

The mapping set is frozen at Unicode 11.0 whatever version the installed data is:
a pair is kept only when both of its code points were assigned by 11.0 (their age
in DerivedAge.txt). Case pairs are stable across versions, so this reproduces the
11.0 mappings from any later database; the characters that gained a case partner
later (U+0282, U+1D8E, U+A794, whose capitals came in 12.0) are left unmapped, as
they were in 11.0.

Mappings, one code point to one code point, both the simple mappings of
UnicodeData.txt:
  to upper: the simple upper-case mapping (field 12). A letter whose full upper case
            is several code points keeps itself (U+00DF, U+0149, U+FB00) or takes its
            title-case letter (U+1F80 gives U+1F88, U+1FB3 U+1FBC), so changing case
            never drops a letter;
  to lower: the simple lower-case mapping (field 13).

Output layout (see runtime/case_fold.h): code points below kCaseLimit (0x20000) are
split into blocks of 256; a per-direction index gives each block's row in a shared
pool of 256-entry rows, identical rows stored once, row 0 all zeros. An entry is the
16-bit difference (target - code point) mod 0x10000; every mapping stays within the
plane of its code point, so the mapped value is the code point's plane bits with
(code point + entry) mod 0x10000 as the low 16 bits, and 0 means "maps to itself".
"""

import argparse
import os
import sys

BLOCK_BITS = 8
BLOCK_SIZE = 1 << BLOCK_BITS
INDEX_SIZE = 0x200  # blocks covered: code points below 0x20000 (kCaseLimit)
FROZEN_VERSION = (11, 0)


def fail(message):
    sys.stderr.write("gen_case_tables: " + message + "\n")
    sys.exit(1)


def data_lines(path):
    """Yields the fields of every non-comment line of a UCD file."""
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                body = line.split("#", 1)[0].strip()
                if body:
                    yield [field.strip() for field in body.split(";")]
    except OSError as e:
        fail("cannot read %s (%s); install Debian's unicode-data package" % (path, e.strerror))


def read_database_version(path):
    """The version named on the first line of DerivedAge.txt ("# DerivedAge-15.0.0.txt")."""
    try:
        with open(path, encoding="utf-8") as f:
            first = f.readline().strip()
    except OSError as e:
        fail("cannot read %s (%s); install Debian's unicode-data package" % (path, e.strerror))
    prefix = "# DerivedAge-"
    if not first.startswith(prefix) or not first.endswith(".txt"):
        fail("unexpected first line in %s: %r" % (path, first))
    return first[len(prefix):-len(".txt")]


def read_ages(path):
    """Maps every assigned code point to its (major, minor) age."""
    ages = {}
    for fields in data_lines(path):
        first, _, last = fields[0].partition("..")
        major, minor = fields[1].split(".")
        age = (int(major), int(minor))
        for cp in range(int(first, 16), int(last or first, 16) + 1):
            ages[cp] = age
    return ages


def read_simple_mappings(path):
    """(upper, lower) dictionaries of the simple mappings in UnicodeData.txt."""
    upper, lower = {}, {}
    for fields in data_lines(path):
        cp = int(fields[0], 16)
        if fields[12]:
            upper[cp] = int(fields[12], 16)
        if fields[13]:
            lower[cp] = int(fields[13], 16)
    return upper, lower


def frozen_pairs(mapping, ages):
    """Sorted (from, to) pairs of [mapping] whose both ends were assigned by FROZEN_VERSION."""
    def assigned(cp):
        return cp in ages and ages[cp] <= FROZEN_VERSION
    return sorted((cp, to) for cp, to in mapping.items()
                  if to != cp and assigned(cp) and assigned(to))


def build_tables(upper_pairs, lower_pairs):
    """Shared row pool and the two block indexes (see the module text)."""
    rows = {tuple([0] * BLOCK_SIZE): 0}
    indexes = []
    for pairs in (upper_pairs, lower_pairs):
        deltas = {}
        for cp, to in pairs:
            if cp >= INDEX_SIZE << BLOCK_BITS:
                fail("U+%04X lies beyond the table range" % cp)
            if cp >> 16 != to >> 16:
                fail("U+%04X maps to U+%04X in another plane" % (cp, to))
            deltas[cp] = (to - cp) & 0xFFFF
        index = []
        for block in range(INDEX_SIZE):
            base = block << BLOCK_BITS
            row = tuple(deltas.get(base + i, 0) for i in range(BLOCK_SIZE))
            index.append(rows.setdefault(row, len(rows)))
        indexes.append(index)
    if len(rows) > 256:
        fail("%d rows do not fit 8-bit indexes" % len(rows))
    pool = [row for row, _ in sorted(rows.items(), key=lambda item: item[1])]
    return pool, indexes[0], indexes[1]


def count_pairs(pairs):
    bmp = sum(1 for cp, _ in pairs if cp <= 0xFFFF)
    return bmp, len(pairs) - bmp


def render(version, upper_pairs, lower_pairs, pool, upper_index, lower_index):
    out = []
    emit = out.append
    up_bmp, up_supp = count_pairs(upper_pairs)
    low_bmp, low_supp = count_pairs(lower_pairs)
    emit("// Generated by tools/gen_case_tables.py from the Unicode %s character database; "
         "do not edit by hand." % version)
    emit("// Mapping set of Unicode %d.%d: pairs whose both code points were assigned by %d.%d."
         % (FROZEN_VERSION + FROZEN_VERSION))
    emit("// To upper: %d pairs in the BMP, %d above it (simple mapping)."
         % (up_bmp, up_supp))
    emit("// To lower: %d pairs in the BMP, %d above it (simple mapping)." % (low_bmp, low_supp))
    emit("// Included by runtime/case_fold.cpp only; the layout is described in runtime/case_fold.h.")
    emit("// clang-format off")
    emit("")
    emit("const uint16_t kCaseRows[%d][kCaseBlockSize] = {" % len(pool))
    for number, row in enumerate(pool):
        users = ["upper U+%04X" % (b << BLOCK_BITS) for b, r in enumerate(upper_index) if r == number]
        users += ["lower U+%04X" % (b << BLOCK_BITS) for b, r in enumerate(lower_index) if r == number]
        label = "unmapped" if number == 0 else ", ".join(users)
        emit("  // row %d: %s" % (number, label))
        emit("  {")
        for start in range(0, BLOCK_SIZE, 16):
            emit("    " + " ".join("0x%04X," % v for v in row[start:start + 16]))
        emit("  },")
    emit("};")
    for name, index in (("kCaseUpperIndex", upper_index), ("kCaseLowerIndex", lower_index)):
        emit("")
        emit("const uint8_t %s[kCaseIndexSize] = {" % name)
        for start in range(0, INDEX_SIZE, 16):
            emit("  " + " ".join("%3d," % v for v in index[start:start + 16])
                 + "  // U+%04X" % (start << BLOCK_BITS))
        emit("};")
    emit("")
    emit("// clang-format on")
    return "\n".join(out) + "\n"


def main():
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--data", default="/usr/share/unicode",
                        help="folder of the Unicode character database (default: %(default)s)")
    parser.add_argument("--out", default=os.path.join(repo, "runtime", "case_tables.inc"),
                        help="output file (default: runtime/case_tables.inc)")
    args = parser.parse_args()

    version = read_database_version(os.path.join(args.data, "DerivedAge.txt"))
    ages = read_ages(os.path.join(args.data, "DerivedAge.txt"))
    simple_upper, simple_lower = read_simple_mappings(os.path.join(args.data, "UnicodeData.txt"))

    upper_pairs = frozen_pairs(simple_upper, ages)
    lower_pairs = frozen_pairs(simple_lower, ages)
    pool, upper_index, lower_index = build_tables(upper_pairs, lower_pairs)
    text = render(version, upper_pairs, lower_pairs, pool, upper_index, lower_index)
    with open(args.out, "w", encoding="utf-8") as f:
        f.write(text)
    print("wrote %s: to upper %d + %d pairs, to lower %d + %d pairs, %d rows"
          % ((args.out,) + count_pairs(upper_pairs) + count_pairs(lower_pairs) + (len(pool),)))


if __name__ == "__main__":
    main()
