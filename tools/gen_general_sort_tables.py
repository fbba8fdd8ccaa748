#!/usr/bin/env python3
"""Regenerates src/jet/general_sort_ext.inc, the General sort order data beyond U+00FF.

Reads UnicodeData.txt and DerivedAge.txt (Debian: apt-get install unicode-data) and writes two
small tables; the engine derives everything else (the slot of each of the ~21,000 ideographs)
from them at compile time:

  * enclosed ideograph forms: characters of U+3000..U+33FF assigned by Unicode 2.1 whose
    compatibility decomposition (<super>, <circle>, <compat>, <square>) holds only ideographs
    and parentheses. Each sorts right after the ideograph its decomposition starts with (four
    of them after the traditional form instead), ordered super, circle, compat, square.
  * width and subscript folds: characters whose decomposition is tagged <wide> or <sub> and is
    a single character at or below U+00FF, written as runs of consecutive pairs.

The codes of Latin Extended-A and -B (U+0100..U+024F) come from Microsoft's published sorting
weight table: per code point a script member SM, an alphabetic weight AW, a diacritic weight DW
and a case weight CW, plus expansions (one character sorting as two) and compatibility entries
(one code point sorting as another). Either form of it will do:

  * the text table as published, "Windows 10 Sorting Weight Table.txt", found in the folder
    debian/unicode/ of Debian's wine source package (bookworm 8.0~repack-4:
    apt-get source --download-only wine with a deb-src line, or the file
    wine_8.0~repack-4.debian.tar.xz from the Debian archive);
  * the same weights compiled into /usr/share/wine/nls/sortdefault.nls of the binary package
    libwine (apt-get download libwine; dpkg-deb -x libwine_*.deb DIR).

Jet used an older edition of that table, so its weights are placed among the Latin-1 codes the
engine already has (read from src/jet/index_key.cpp) by these rules:
  W0  newer than Unicode 2.1 or unassigned: ignored (X). A compatibility code point takes its
      target's weights. SM 1 (a non-spacing mark) and SM 0 with AW 0 do not occur in the range.
  W1  (SM, AW) of a Latin-1 character with a simple code: that code; simple when DW is 2, else
      international with the extra byte DW.
  W2  otherwise, AW between two one-byte Latin-1 codes of its SM (p at weight a0 below, a free
      byte after p; for SM 7 also after the last one): the two bytes (p + 1, AW - a0 + 1), DW as
      in W1.
  W3  an expansion keys as its two parts in turn, each with its own extra byte.
The code points where the two editions differ (LATIN_UNKNOWN) stay without a code.

A second output, src/jet/testdata/latin_sort_weights.json, gives the tests the weights of
U+0000..U+024F, so that they can check the codes' order against the table's.

Usage: tools/gen_general_sort_tables.py --weights FILE [--unicode-dir DIR] [--output FILE]
                                        [--test-output FILE]
The build never runs this; the outputs are committed.
"""

import argparse
import json
import os
import re
import struct
import sys

IDEOGRAPH_FIRST = 0x4E00
IDEOGRAPH_LAST = 0x9FA5
ENCLOSED_FIRST = 0x3000
ENCLOSED_LAST = 0x33FF
ENCLOSED_TAGS = ["<super>", "<circle>", "<compat>", "<square>"]  # also their order after a base
# The simplified forms whose enclosed forms sort after the traditional ideograph.
TRADITIONAL = {0x52B4: 0x52DE, 0x5B66: 0x5B78, 0x5199: 0x5BEB, 0x533B: 0x91AB}
FOLD_TAGS = ["<wide>", "<sub>"]
MAX_AGE = (2, 1)
LATIN_FIRST = 0x0100
LATIN_LAST = 0x024F
# Latin Extended code points that the older edition Jet used weighs differently: no code.
LATIN_UNKNOWN = [
    0x0131, 0x0138, 0x0186, 0x018B, 0x018C, 0x0190, 0x0192, 0x0195, 0x019E, 0x01A0, 0x01A1, 0x01A6,
    0x01AA, 0x01AF, 0x01B0, 0x01B7, 0x01B8, 0x01B9, 0x01BA, 0x01BB, 0x01BC, 0x01BD, 0x01BE, 0x01C0,
    0x01C1, 0x01C2, 0x01E2, 0x01E3, 0x01EE, 0x01EF, 0x01FC, 0x01FD, 0x01FE, 0x01FF,
]
SM_PUNCTUATION = 7


def read_ages(path):
    ages = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            span, age = (part.strip() for part in line.split(";"))
            first, _, last = span.partition("..")
            major, minor = age.split(".")
            for cp in range(int(first, 16), int(last or first, 16) + 1):
                ages[cp] = (int(major), int(minor))
    return ages


def read_decompositions(path):
    decompositions = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.split(";")
            if fields[5]:
                parts = fields[5].split()
                tag = parts[0] if parts[0].startswith("<") else None
                codes = [int(p, 16) for p in (parts[1:] if tag else parts)]
                decompositions[int(fields[0], 16)] = (tag, codes)
    return decompositions


def enclosed_forms(decompositions, ages):
    forms = []  # (base, tag order, code point)
    for cp in range(ENCLOSED_FIRST, ENCLOSED_LAST + 1):
        if cp not in decompositions or ages.get(cp, (99, 0)) > MAX_AGE:
            continue
        tag, codes = decompositions[cp]
        if tag not in ENCLOSED_TAGS:
            continue
        if not all(IDEOGRAPH_FIRST <= c <= IDEOGRAPH_LAST or c in (0x28, 0x29) for c in codes):
            continue
        ideographs = [c for c in codes if c not in (0x28, 0x29)]
        if not ideographs:
            continue
        base = TRADITIONAL.get(ideographs[0], ideographs[0])
        forms.append((base, ENCLOSED_TAGS.index(tag), cp))
    forms.sort()
    return [(cp, base) for base, _, cp in forms]


def fold_runs(decompositions):
    pairs = sorted((cp, codes[0]) for cp, (tag, codes) in decompositions.items()
                   if tag in FOLD_TAGS and len(codes) == 1 and codes[0] <= 0xFF)
    runs = []  # [first, last, target of first]
    for cp, target in pairs:
        if runs and runs[-1][1] + 1 == cp and runs[-1][2] + (cp - runs[-1][0]) == target:
            runs[-1][1] = cp
        else:
            runs.append([cp, cp, target])
    return runs


class Weights:
    """The default table: weights by code point, expansions, compatibility code points."""

    def __init__(self):
        self.keys = {}  # code point -> (SM, AW, DW, CW)
        self.expansions = {}  # code point -> (first, second)
        self.compatibility = {}  # code point -> code point it sorts as

    def resolve(self, cp):
        """('weights', (SM, AW, DW, CW)), ('expansion', (a, b)) or None."""
        cp = self.compatibility.get(cp, cp)
        if cp in self.keys:
            return "weights", self.keys[cp]
        if cp in self.expansions:
            return "expansion", self.expansions[cp]
        return None


def read_weight_text(path):
    weights = Weights()
    section = None
    with open(path, encoding="utf-8-sig") as f:
        for line in f:
            text = line.split(";", 1)[0].strip()
            word = text.split()[0] if text else ""
            if word in ("SORTKEY", "EXPANSION", "COMPATIBILITY"):
                section = word
                continue
            if word in ("ENDSORTKEY", "COMPRESSION", "ENDSORTTABLES"):
                section = None
                continue
            if section is None or not word.startswith("0x"):
                continue
            fields = text.split()
            cp = int(fields[0], 16)
            if section == "SORTKEY":
                weights.keys[cp] = tuple(int(x) for x in fields[1:5])
            elif section == "EXPANSION":
                weights.expansions.setdefault(cp, (int(fields[1], 16), int(fields[2], 16)))
            else:
                weights.compatibility[cp] = int(fields[1], 16)
    if len(weights.keys) < 60000 or not weights.expansions:
        sys.exit(f"{path}: not a sorting weight table")
    return weights


def read_weight_nls(data):
    """Wine's compiled form: offsets of the key table and of the sort ids; the keys hold
    (AW, SM, DW, CW) per code point, an expansion being SM 2 with its index in DW + 256 CW; the
    expansion list follows the sort GUIDs (36 bytes each). Compatibility is resolved already."""
    weights = Weights()
    keys_at, _, _, ids_at = struct.unpack_from("<4I", data, 0)
    _, guid_count = struct.unpack_from("<2I", data, ids_at)
    expansions_at = ids_at + 8 + 36 * guid_count
    (expansion_count,) = struct.unpack_from("<I", data, expansions_at)
    expansions = [struct.unpack_from("<2H", data, expansions_at + 4 + 4 * i) for i in range(expansion_count)]
    for cp in range(0x10000):
        aw, sm, dw, cw = data[keys_at + 4 * cp:keys_at + 4 * cp + 4]
        if sm == 2:
            weights.expansions[cp] = expansions[dw + 256 * cw]
        else:
            weights.keys[cp] = (sm, aw, dw, cw)
    return weights


def read_weights(path):
    with open(path, "rb") as f:
        data = f.read()
    if data.removeprefix(b"\xef\xbb\xbf").startswith(b";"):
        return read_weight_text(path)
    return read_weight_nls(data)


def read_latin1_codes(path):
    """The engine's own codes of U+0000..U+00FF: (class, first, second) by code point."""
    with open(path, encoding="utf-8") as f:
        source = f.read()
    table = source[source.index("kSortCodes[256]"):]
    table = table[:table.index("};")]
    codes = [(m.group(1), int(m.group(2), 16), int(m.group(3), 16))
             for m in re.finditer(r"\{k([XSIU]), (0x[0-9A-F]+|0), (0x[0-9A-F]+|0)\}", table)]
    if len(codes) != 256:
        sys.exit(f"{path}: expected 256 Latin-1 codes, found {len(codes)}")
    return codes


def latin_extended_codes(weights, latin1, ages):
    """{code point: None (unknown), ('X',), ('S'|'I', b1, b2, extra) or ('E', part, part)}."""
    simple = {}  # (SM, AW) -> inline bytes of a Latin-1 character with a simple code
    one_byte = {}  # SM -> sorted [(AW, byte)] of Latin-1 one-byte simple codes
    for cp in range(0x100):
        resolved = weights.resolve(cp)
        cls, first, second = latin1[cp]
        if resolved is None or resolved[0] != "weights" or cls != "S":
            continue
        sm, aw = resolved[1][:2]
        simple.setdefault((sm, aw), (first, second))
        if second == 0:
            one_byte.setdefault(sm, []).append((aw, first))
    for codes in one_byte.values():
        codes.sort()

    def code_of(cp):
        if ages.get(cp, (99, 0)) > MAX_AGE:
            return ("X",)
        if cp < 0x100:
            cls, first, second = latin1[cp]
            return (cls, first, second, 0) if cls != "I" else ("I", first, 0, second)
        resolved = weights.resolve(cp)
        if resolved is None:
            return None
        if resolved[0] == "expansion":
            parts = [code_of(part) for part in resolved[1]]
            if any(part is None or part[0] not in ("S", "I") for part in parts):
                return None
            return ("E", parts[0], parts[1])
        sm, aw, dw, _ = resolved[1]
        if sm == 0 and aw == 0:
            return ("X",)
        if sm == 1:
            return None  # a non-spacing mark modifies the character before it: not in this range
        if (sm, aw) in simple:
            first, second = simple[(sm, aw)]
        else:
            codes = one_byte.get(sm, [])
            below = [c for c in codes if c[0] < aw]
            above = [c for c in codes if c[0] > aw]
            if not below or (not above and sm != SM_PUNCTUATION):
                return None
            a0, p = below[-1]
            if (above and p + 1 >= above[0][1]) or aw - a0 + 1 > 0xFF:
                return None
            first, second = p + 1, aw - a0 + 1
        return ("S", first, second, 0) if dw == 2 else ("I", first, second, dw)

    result = {}
    for cp in range(LATIN_FIRST, LATIN_LAST + 1):
        result[cp] = None if cp in LATIN_UNKNOWN else code_of(cp)
        if result[cp] is None and cp not in LATIN_UNKNOWN:
            sys.exit(f"U+{cp:04X}: no code by the rules; the weight table is not the expected edition")
    return result


def format_code(code):
    return f"{{k{code[0]}, 0x{code[1]:02X}, 0x{code[2]:02X}, 0x{code[3]:02X}}}"


def latin_extended_lines(codes):
    expansions = [(cp, code) for cp, code in codes.items() if code is not None and code[0] == "E"]
    out = ["",
           "// Latin Extended-A and -B, U+0100..U+024F, from the sorting weight table:",
           "// {class, first inline byte, second inline byte or 0, extra byte or 0}. kNone: no known",
           "// code; kTwo: keys as the two codes of its entry in kLatinExpansions.",
           f"constexpr WideCode kLatinExtendedCodes[{LATIN_LAST - LATIN_FIRST + 1}] = {{"]
    for cp, code in codes.items():
        if code is None:
            text = "{kNone, 0x00, 0x00, 0x00}"
        elif code[0] == "X":
            text = "{kX, 0x00, 0x00, 0x00}"
        elif code[0] == "E":
            text = "{kTwo, 0x00, 0x00, 0x00}"
        else:
            text = format_code(code)
        out.append(f"    {text},  // U+{cp:04X} {chr(cp)}")
    out += ["};",
            "",
            "// Characters that key as two: {code point, {first code, second code}}.",
            f"constexpr LatinExpansion kLatinExpansions[{len(expansions)}] = {{"]
    for cp, code in expansions:
        out.append(f"    {{0x{cp:04X}, {{{format_code(code[1])}, {format_code(code[2])}}}}},  // {chr(cp)}")
    out += ["};", ""]
    return out


def test_weights(weights, ages, codes):
    data = {"about": "Weights of the sorting weight table for U+0000..U+024F, written by "
                     "tools/gen_general_sort_tables.py for the tests: [code point, SM, AW, DW].",
            "weights": [], "expansions": [], "ignored": [], "unknown": LATIN_UNKNOWN}
    for cp in range(0, LATIN_LAST + 1):
        if cp >= LATIN_FIRST and codes[cp] is not None and codes[cp][0] == "X":
            data["ignored"].append(cp)
            continue
        resolved = weights.resolve(cp)
        if resolved is None or ages.get(cp, (99, 0)) > MAX_AGE:
            continue
        if resolved[0] == "weights":
            data["weights"].append([cp, *resolved[1][:3]])
        else:
            data["expansions"].append([cp, *resolved[1]])
    return data


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--weights", required=True,
                        help="the sorting weight table: the published text or Wine's sortdefault.nls")
    parser.add_argument("--unicode-dir", default="/usr/share/unicode")
    parser.add_argument("--output", default=os.path.join(os.path.dirname(__file__), "..", "src", "jet",
                                                         "general_sort_ext.inc"))
    parser.add_argument("--test-output", default=os.path.join(os.path.dirname(__file__), "..", "src", "jet",
                                                              "testdata", "latin_sort_weights.json"))
    args = parser.parse_args()
    ages = read_ages(os.path.join(args.unicode_dir, "DerivedAge.txt"))
    decompositions = read_decompositions(os.path.join(args.unicode_dir, "UnicodeData.txt"))
    forms = enclosed_forms(decompositions, ages)
    runs = fold_runs(decompositions)
    weights = read_weights(args.weights)
    latin1 = read_latin1_codes(os.path.join(os.path.dirname(args.output), "index_key.cpp"))
    latin = latin_extended_codes(weights, latin1, ages)

    out = ["// Generated by tools/gen_general_sort_tables.py from UnicodeData.txt, DerivedAge.txt and the",
           "// sorting weight table.",
           "// Do not edit; rerun the generator instead. Included by index_key.cpp only.",
           "",
           "// Enclosed ideograph forms in their sort order: each follows its base ideograph.",
           "// {form, base}",
           f"constexpr EnclosedForm kEnclosedForms[{len(forms)}] = {{"]
    for i in range(0, len(forms), 5):
        chunk = forms[i:i + 5]
        out.append("    " + " ".join(f"{{0x{cp:04X}, 0x{base:04X}}}," for cp, base in chunk))
    out += ["};",
            "",
            "// Width and subscript folds: U+first..U+last take the codes of U+target.. in turn.",
            "// {first, last, target}",
            f"constexpr FoldRun kFoldRuns[{len(runs)}] = {{"]
    for i in range(0, len(runs), 4):
        chunk = runs[i:i + 4]
        out.append("    " + " ".join(f"{{0x{a:04X}, 0x{b:04X}, 0x{t:02X}}}," for a, b, t in chunk))
    out += ["};"]
    out += latin_extended_lines(latin)
    with open(args.output, "w", encoding="utf-8") as f:
        f.write("\n".join(out))
    with open(args.test_output, "w", encoding="utf-8") as f:
        json.dump(test_weights(weights, ages, latin), f, separators=(",", ":"))
        f.write("\n")
    known = sum(1 for code in latin.values() if code is not None)
    print(f"{args.output}: {len(forms)} enclosed forms, {len(runs)} fold runs "
          f"({sum(b - a + 1 for a, b, _ in runs)} characters), {known} Latin Extended codes "
          f"({len(LATIN_UNKNOWN)} unknown)", file=sys.stderr)


if __name__ == "__main__":
    main()
