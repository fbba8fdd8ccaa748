#include "jet/index_key.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include "base/text.h"

namespace tabulon::jet {
namespace {

enum CodeClass : uint8_t {
  kX,  // ignored
  kS,  // simple: one or two inline bytes
  kI,  // international: inline base byte plus an extra (accent) code
  kU,  // unprintable: no inline byte, a code in the trailing section
  // Only in the Latin Extended table:
  kNone,  // no known code
  kTwo,   // keys as two characters (an expansion)
};

struct SortCode {
  CodeClass cls;
  uint8_t first;   // inline byte (S, I) or unprintable code (U)
  uint8_t second;  // second inline byte (S, 0 when none) or extra code (I)
};

// The General sort order for U+0000..U+00FF. Upper and lower case share codes.
constexpr SortCode kSortCodes[256] = {
    {kX, 0, 0},       {kU, 0x03, 0},    {kU, 0x04, 0},    {kU, 0x05, 0},     // 00
    {kU, 0x06, 0},    {kU, 0x07, 0},    {kU, 0x08, 0},    {kU, 0x09, 0},     // 04
    {kU, 0x0A, 0},    {kS, 0x08, 0x03}, {kS, 0x08, 0x04}, {kS, 0x08, 0x05},  // 08
    {kS, 0x08, 0x06}, {kS, 0x08, 0x07}, {kU, 0x0B, 0},    {kU, 0x0C, 0},     // 0C
    {kU, 0x0D, 0},    {kU, 0x0E, 0},    {kU, 0x0F, 0},    {kU, 0x10, 0},     // 10
    {kU, 0x11, 0},    {kU, 0x12, 0},    {kU, 0x13, 0},    {kU, 0x14, 0},     // 14
    {kU, 0x15, 0},    {kU, 0x16, 0},    {kU, 0x17, 0},    {kU, 0x18, 0},     // 18
    {kU, 0x19, 0},    {kU, 0x1A, 0},    {kU, 0x1B, 0},    {kU, 0x1C, 0},     // 1C
    {kS, 0x07, 0x00}, {kS, 0x09, 0x00}, {kS, 0x0A, 0x00}, {kS, 0x0C, 0x00},  // 20
    {kS, 0x0E, 0x00}, {kS, 0x10, 0x00}, {kS, 0x12, 0x00}, {kU, 0x80, 0},     // 24
    {kS, 0x14, 0x00}, {kS, 0x16, 0x00}, {kS, 0x18, 0x00}, {kS, 0x2C, 0x00},  // 28
    {kS, 0x1A, 0x00}, {kU, 0x82, 0},    {kS, 0x1C, 0x00}, {kS, 0x1E, 0x00},  // 2C
    {kS, 0x36, 0x00}, {kS, 0x38, 0x00}, {kS, 0x3A, 0x00}, {kS, 0x3C, 0x00},  // 30
    {kS, 0x3E, 0x00}, {kS, 0x40, 0x00}, {kS, 0x42, 0x00}, {kS, 0x44, 0x00},  // 34
    {kS, 0x46, 0x00}, {kS, 0x48, 0x00}, {kS, 0x20, 0x00}, {kS, 0x22, 0x00},  // 38
    {kS, 0x2E, 0x00}, {kS, 0x30, 0x00}, {kS, 0x32, 0x00}, {kS, 0x24, 0x00},  // 3C
    {kS, 0x26, 0x00}, {kS, 0x4A, 0x00}, {kS, 0x4C, 0x00}, {kS, 0x4D, 0x00},  // 40
    {kS, 0x4F, 0x00}, {kS, 0x51, 0x00}, {kS, 0x53, 0x00}, {kS, 0x55, 0x00},  // 44
    {kS, 0x57, 0x00}, {kS, 0x59, 0x00}, {kS, 0x5B, 0x00}, {kS, 0x5C, 0x00},  // 48
    {kS, 0x5E, 0x00}, {kS, 0x60, 0x00}, {kS, 0x62, 0x00}, {kS, 0x64, 0x00},  // 4C
    {kS, 0x66, 0x00}, {kS, 0x68, 0x00}, {kS, 0x69, 0x00}, {kS, 0x6B, 0x00},  // 50
    {kS, 0x6D, 0x00}, {kS, 0x6F, 0x00}, {kS, 0x71, 0x00}, {kS, 0x73, 0x00},  // 54
    {kS, 0x75, 0x00}, {kS, 0x76, 0x00}, {kS, 0x78, 0x00}, {kS, 0x27, 0x00},  // 58
    {kS, 0x29, 0x00}, {kS, 0x2A, 0x00}, {kS, 0x2B, 0x02}, {kS, 0x2B, 0x03},  // 5C
    {kS, 0x2B, 0x07}, {kS, 0x4A, 0x00}, {kS, 0x4C, 0x00}, {kS, 0x4D, 0x00},  // 60
    {kS, 0x4F, 0x00}, {kS, 0x51, 0x00}, {kS, 0x53, 0x00}, {kS, 0x55, 0x00},  // 64
    {kS, 0x57, 0x00}, {kS, 0x59, 0x00}, {kS, 0x5B, 0x00}, {kS, 0x5C, 0x00},  // 68
    {kS, 0x5E, 0x00}, {kS, 0x60, 0x00}, {kS, 0x62, 0x00}, {kS, 0x64, 0x00},  // 6C
    {kS, 0x66, 0x00}, {kS, 0x68, 0x00}, {kS, 0x69, 0x00}, {kS, 0x6B, 0x00},  // 70
    {kS, 0x6D, 0x00}, {kS, 0x6F, 0x00}, {kS, 0x71, 0x00}, {kS, 0x73, 0x00},  // 74
    {kS, 0x75, 0x00}, {kS, 0x76, 0x00}, {kS, 0x78, 0x00}, {kS, 0x2B, 0x09},  // 78
    {kS, 0x2B, 0x0B}, {kS, 0x2B, 0x0D}, {kS, 0x2B, 0x0F}, {kU, 0x1D, 0},     // 7C
    {kU, 0x1E, 0},    {kU, 0x1F, 0},    {kU, 0x20, 0},    {kU, 0x21, 0},     // 80
    {kU, 0x22, 0},    {kU, 0x23, 0},    {kU, 0x24, 0},    {kU, 0x25, 0},     // 84
    {kU, 0x26, 0},    {kU, 0x27, 0},    {kU, 0x28, 0},    {kU, 0x29, 0},     // 88
    {kU, 0x2A, 0},    {kU, 0x2B, 0},    {kU, 0x2C, 0},    {kU, 0x2D, 0},     // 8C
    {kU, 0x2E, 0},    {kU, 0x2F, 0},    {kU, 0x30, 0},    {kU, 0x31, 0},     // 90
    {kU, 0x32, 0},    {kU, 0x33, 0},    {kU, 0x34, 0},    {kU, 0x35, 0},     // 94
    {kU, 0x36, 0},    {kU, 0x37, 0},    {kU, 0x38, 0},    {kU, 0x39, 0},     // 98
    {kU, 0x3A, 0},    {kU, 0x3B, 0},    {kU, 0x3C, 0},    {kU, 0x3D, 0},     // 9C
    {kS, 0x08, 0x02}, {kS, 0x2B, 0x10}, {kS, 0x34, 0xA6}, {kS, 0x34, 0xA7},  // A0
    {kS, 0x34, 0xA8}, {kS, 0x34, 0xA9}, {kS, 0x2B, 0x11}, {kS, 0x34, 0xAA},  // A4
    {kS, 0x2B, 0x12}, {kS, 0x34, 0xAB}, {kI, 0x4A, 0x03}, {kS, 0x33, 0x05},  // A8
    {kS, 0x34, 0xAC}, {kU, 0x83, 0},    {kS, 0x34, 0xAD}, {kS, 0x2B, 0x13},  // AC
    {kS, 0x34, 0xAE}, {kS, 0x33, 0x04}, {kS, 0x3A, 0x00}, {kS, 0x3C, 0x00},  // B0
    {kS, 0x2B, 0x14}, {kS, 0x34, 0xAF}, {kS, 0x34, 0xB0}, {kS, 0x34, 0xB1},  // B4
    {kS, 0x2B, 0x15}, {kS, 0x38, 0x00}, {kI, 0x64, 0x03}, {kS, 0x33, 0x07},  // B8
    {kS, 0x37, 0x12}, {kS, 0x37, 0x16}, {kS, 0x37, 0x1A}, {kS, 0x2B, 0x16},  // BC
    {kI, 0x4A, 0x0F}, {kI, 0x4A, 0x0E}, {kI, 0x4A, 0x12}, {kI, 0x4A, 0x19},  // C0
    {kI, 0x4A, 0x13}, {kI, 0x4A, 0x1A}, {kS, 0x4A, 0x51}, {kI, 0x4D, 0x1C},  // C4
    {kI, 0x51, 0x0F}, {kI, 0x51, 0x0E}, {kI, 0x51, 0x12}, {kI, 0x51, 0x13},  // C8
    {kI, 0x59, 0x0F}, {kI, 0x59, 0x0E}, {kI, 0x59, 0x12}, {kI, 0x59, 0x13},  // CC
    {kI, 0x4F, 0x68}, {kI, 0x62, 0x19}, {kI, 0x64, 0x0F}, {kI, 0x64, 0x0E},  // D0
    {kI, 0x64, 0x12}, {kI, 0x64, 0x19}, {kI, 0x64, 0x13}, {kS, 0x33, 0x09},  // D4
    {kI, 0x64, 0x21}, {kI, 0x6F, 0x0F}, {kI, 0x6F, 0x0E}, {kI, 0x6F, 0x12},  // D8
    {kI, 0x6F, 0x13}, {kI, 0x76, 0x0E}, {kS, 0x6D, 0x57}, {kS, 0x6B, 0x6B},  // DC
    {kI, 0x4A, 0x0F}, {kI, 0x4A, 0x0E}, {kI, 0x4A, 0x12}, {kI, 0x4A, 0x19},  // E0
    {kI, 0x4A, 0x13}, {kI, 0x4A, 0x1A}, {kS, 0x4A, 0x51}, {kI, 0x4D, 0x1C},  // E4
    {kI, 0x51, 0x0F}, {kI, 0x51, 0x0E}, {kI, 0x51, 0x12}, {kI, 0x51, 0x13},  // E8
    {kI, 0x59, 0x0F}, {kI, 0x59, 0x0E}, {kI, 0x59, 0x12}, {kI, 0x59, 0x13},  // EC
    {kI, 0x4F, 0x68}, {kI, 0x62, 0x19}, {kI, 0x64, 0x0F}, {kI, 0x64, 0x0E},  // F0
    {kI, 0x64, 0x12}, {kI, 0x64, 0x19}, {kI, 0x64, 0x13}, {kS, 0x33, 0x0A},  // F4
    {kI, 0x64, 0x21}, {kI, 0x6F, 0x0F}, {kI, 0x6F, 0x0E}, {kI, 0x6F, 0x12},  // F8
    {kI, 0x6F, 0x13}, {kI, 0x76, 0x0E}, {kS, 0x6D, 0x57}, {kI, 0x76, 0x13},  // FC
};

constexpr size_t kMaxKeyCharacters = 255;

// Beyond U+00FF (tables generated by tools/gen_general_sort_tables.py): Latin Extended-A and -B
// from the weights of the published sorting weight table, and from Unicode data the CJK
// ideographs with their enclosed forms and the width and subscript forms of Latin-1 characters.
struct EnclosedForm {
  char16_t form;
  char16_t base;
};
struct FoldRun {
  char16_t first;
  char16_t last;
  uint8_t target;  // U+first takes the code of U+target, the next one of U+target+1, ...
};
// The code of one character as the key builder uses it: a two-byte inline code may come with an
// extra (accent) byte, which the Latin-1 table never needs.
struct WideCode {
  CodeClass cls;
  uint8_t first;   // inline byte (S, I) or unprintable code (U)
  uint8_t second;  // second inline byte, 0 when none
  uint8_t extra;   // extra code (I)
};
struct LatinExpansion {
  char16_t c;
  WideCode parts[2];
};
#include "jet/general_sort_ext.inc"

// The ideographs sort in one sequence of two-byte codes, page 0x9F slot 0x02 onwards: the
// unified ideographs in code-point order, each followed by its enclosed forms, then the
// compatibility ideographs. Jet leaves one slot free after U+4EDD.
constexpr char16_t kIdeographFirst = 0x4E00;
constexpr char16_t kIdeographLast = 0x9FA5;
constexpr char16_t kIdeographBeforeGap = 0x4EDD;
constexpr char16_t kCompatibilityFirst = 0xF900;
constexpr char16_t kCompatibilityLast = 0xFA2D;
constexpr char16_t kEnclosedFirst = 0x3000;
constexpr char16_t kEnclosedLast = 0x33FF;
constexpr uint8_t kIdeographFirstPage = 0x9F;
constexpr uint8_t kFirstSlot = 0x02;
constexpr uint32_t kSlotsPerPage = 0x100 - kFirstSlot;

// Position of a unified ideograph in the sequence. The enclosed forms are listed in sequence
// order, so those before the ideograph are the ones of a lower base.
constexpr uint32_t IdeographPosition(char16_t c) {
  const auto forms_before = std::lower_bound(std::begin(kEnclosedForms), std::end(kEnclosedForms), c,
                                             [](const EnclosedForm& f, char16_t x) { return f.base < x; }) -
                            std::begin(kEnclosedForms);
  return static_cast<uint32_t>(c - kIdeographFirst) + static_cast<uint32_t>(forms_before) +
         (c > kIdeographBeforeGap ? 1 : 0);
}

constexpr uint32_t CompatibilityPosition(char16_t c) {
  // U+9FA5 has no enclosed forms: the compatibility ideographs follow it directly.
  return IdeographPosition(kIdeographLast) + 1 + static_cast<uint32_t>(c - kCompatibilityFirst);
}

// Sequence position + 1 of each enclosed form of U+3000..U+33FF, 0 for the other characters.
struct EnclosedPositions {
  uint16_t plus_one[kEnclosedLast - kEnclosedFirst + 1];
};
constexpr EnclosedPositions kEnclosedPositions = [] {
  EnclosedPositions positions{};
  for (size_t i = 0; i < std::size(kEnclosedForms); ++i) {
    uint32_t rank = 1;  // after its base, and after the forms of the same base before it
    for (size_t j = 0; j < i; ++j) rank += kEnclosedForms[j].base == kEnclosedForms[i].base ? 1 : 0;
    positions.plus_one[kEnclosedForms[i].form - kEnclosedFirst] =
        static_cast<uint16_t>(IdeographPosition(kEnclosedForms[i].base) + rank + 1);
  }
  return positions;
}();

static_assert(kEnclosedForms[std::size(kEnclosedForms) - 1].base < kIdeographLast);
static_assert(std::is_sorted(std::begin(kEnclosedForms), std::end(kEnclosedForms),
                             [](const EnclosedForm& a, const EnclosedForm& b) { return a.base < b.base; }));
static_assert(std::is_sorted(std::begin(kFoldRuns), std::end(kFoldRuns),
                             [](const FoldRun& a, const FoldRun& b) { return a.last < b.first; }));
// 21,308 characters in 21,309 slots: the last compatibility ideograph takes the last one.
static_assert(CompatibilityPosition(kCompatibilityLast) == 21308);

constexpr SortCode SequenceCode(uint32_t position) {
  return {kS, static_cast<uint8_t>(kIdeographFirstPage + position / kSlotsPerPage),
          static_cast<uint8_t>(kFirstSlot + position % kSlotsPerPage)};
}

// The code of a character beyond U+00FF, if it has a known one.
bool FindExtendedCode(char16_t c, SortCode& code) {
  if (c >= kIdeographFirst && c <= kIdeographLast) {
    code = SequenceCode(IdeographPosition(c));
    return true;
  }
  if (c >= kCompatibilityFirst && c <= kCompatibilityLast) {
    code = SequenceCode(CompatibilityPosition(c));
    return true;
  }
  if (c >= kEnclosedFirst && c <= kEnclosedLast && kEnclosedPositions.plus_one[c - kEnclosedFirst] != 0) {
    code = SequenceCode(kEnclosedPositions.plus_one[c - kEnclosedFirst] - 1u);
    return true;
  }
  const FoldRun* run = std::upper_bound(std::begin(kFoldRuns), std::end(kFoldRuns), c,
                                        [](char16_t x, const FoldRun& r) { return x < r.first; });
  if (run == std::begin(kFoldRuns)) return false;
  --run;
  if (c > run->last) return false;
  code = kSortCodes[run->target + (c - run->first)];
  return true;
}

constexpr WideCode Widen(const SortCode& code) {
  return code.cls == kI ? WideCode{kI, code.first, 0, code.second} : WideCode{code.cls, code.first, code.second, 0};
}

constexpr char16_t kLatinExtendedFirst = 0x0100;
constexpr char16_t kLatinExtendedLast = 0x024F;
static_assert(std::size(kLatinExtendedCodes) == kLatinExtendedLast - kLatinExtendedFirst + 1);
static_assert(std::is_sorted(std::begin(kLatinExpansions), std::end(kLatinExpansions),
                             [](const LatinExpansion& a, const LatinExpansion& b) { return a.c < b.c; }));
// Every character marked as two has its expansion, and no other has one.
static_assert([] {
  size_t marked = 0;
  for (const LatinExpansion& e : kLatinExpansions) {
    if (e.c < kLatinExtendedFirst || e.c > kLatinExtendedLast) return false;
    if (kLatinExtendedCodes[e.c - kLatinExtendedFirst].cls != kTwo) return false;
  }
  for (const WideCode& code : kLatinExtendedCodes) marked += code.cls == kTwo ? 1 : 0;
  return marked == std::size(kLatinExpansions);
}());

// The codes of one character: one, two (a character that sorts as two), or none when it has no
// known code.
size_t FindCodes(char16_t c, WideCode (&codes)[2]) {
  if (c <= 0xFF) {
    codes[0] = Widen(kSortCodes[c]);
    return 1;
  }
  if (c <= kLatinExtendedLast) {
    const WideCode& code = kLatinExtendedCodes[c - kLatinExtendedFirst];
    if (code.cls == kNone) return 0;
    if (code.cls != kTwo) {
      codes[0] = code;
      return 1;
    }
    const LatinExpansion* e = std::lower_bound(std::begin(kLatinExpansions), std::end(kLatinExpansions), c,
                                               [](const LatinExpansion& x, char16_t v) { return x.c < v; });
    codes[0] = e->parts[0];
    codes[1] = e->parts[1];
    return 2;
  }
  SortCode code{};
  if (!FindExtendedCode(c, code)) return 0;
  codes[0] = Widen(code);
  return 1;
}

}  // namespace

bool HasGeneralSortCode(char16_t c) {
  WideCode unused[2];
  return FindCodes(c, unused) != 0;
}

bool HasGeneralSortCodes(std::string_view utf8) {
  auto utf16 = Utf8ToUtf16(utf8);
  if (!utf16.ok()) return false;
  for (char16_t c : *utf16) {
    if (!HasGeneralSortCode(c)) return false;
  }
  return true;
}

namespace {

// ASCII text, the common case, straight from its bytes: no accents, so no extra codes.
bool AppendAsciiTextKey(std::string_view text, std::string& key) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  if (text.size() > kMaxKeyCharacters) text = text.substr(0, kMaxKeyCharacters);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  key.push_back(static_cast<char>(kKeyAscending));
  std::string unprintables;
  uint32_t position = 0;
  for (char c : text) {
    const SortCode& code = kSortCodes[static_cast<unsigned char>(c)];
    if (code.cls == kS) {
      key.push_back(static_cast<char>(code.first));
      if (code.second != 0) key.push_back(static_cast<char>(code.second));
      ++position;
    } else if (code.cls == kU) {
      const uint32_t marker = 0x8000u | (7u + 4u * position);
      unprintables.push_back(static_cast<char>(marker >> 8));
      unprintables.push_back(static_cast<char>(marker & 0xFF));
      unprintables.push_back(0x06);
      unprintables.push_back(static_cast<char>(code.first));
    }
  }
  key.push_back(0x01);  // end of text
  if (!unprintables.empty()) {
    key.append("\x01\x01\x01", 3);
    key += unprintables;
  }
  key.push_back(0x00);  // end of extra text
  return true;
}

}  // namespace

Status AppendTextKey(std::string_view utf8, std::string& key) {
  if (AppendAsciiTextKey(utf8, key)) return Status::Ok();
  ASSIGN_OR_RETURN(std::u16string text, Utf8ToUtf16(utf8));
  if (text.size() > kMaxKeyCharacters) text.resize(kMaxKeyCharacters);
  while (!text.empty() && text.back() == u' ') text.pop_back();

  key.push_back(static_cast<char>(kKeyAscending));
  std::vector<uint8_t> extras;  // per inline position, 0x02 = none
  bool any_extra = false;
  struct Unprintable {
    uint32_t position;
    uint8_t code;
  };
  std::vector<Unprintable> unprintables;
  uint32_t position = 0;  // characters that produced inline bytes so far
  for (char16_t c : text) {
    WideCode codes[2];
    const size_t count = FindCodes(c, codes);
    if (count == 0) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(c));
      return UnsupportedError(std::string("the character U+") + hex + " has no known General sort code");
    }
    for (size_t i = 0; i < count; ++i) {
      const WideCode& code = codes[i];
      switch (code.cls) {
        case kU: unprintables.push_back({position, code.first}); break;
        case kS:
        case kI:
          key.push_back(static_cast<char>(code.first));
          if (code.second != 0) key.push_back(static_cast<char>(code.second));
          extras.push_back(code.cls == kI ? code.extra : uint8_t{0x02});
          any_extra = any_extra || code.cls == kI;
          ++position;
          break;
        default: break;  // X: ignored
      }
    }
  }
  key.push_back(0x01);  // end of text
  if (any_extra) {
    while (!extras.empty() && extras.back() <= 0x02) extras.pop_back();
    key.append(extras.begin(), extras.end());
  }
  if (!unprintables.empty()) {
    key.append("\x01\x01\x01", 3);
    for (const Unprintable& u : unprintables) {
      const uint32_t marker = 0x8000u | (7u + 4u * u.position);
      key.push_back(static_cast<char>(marker >> 8));
      key.push_back(static_cast<char>(marker & 0xFF));
      key.push_back(0x06);
      key.push_back(static_cast<char>(u.code));
    }
  }
  key.push_back(0x00);  // end of extra text
  return Status::Ok();
}

void AppendLongKey(int32_t value, std::string& key) {
  const uint32_t v = static_cast<uint32_t>(value) ^ 0x80000000u;
  key.push_back(static_cast<char>(kKeyAscending));
  key.push_back(static_cast<char>(v >> 24));
  key.push_back(static_cast<char>((v >> 16) & 0xFF));
  key.push_back(static_cast<char>((v >> 8) & 0xFF));
  key.push_back(static_cast<char>(v & 0xFF));
}

void AppendNullKey(std::string& key) { key.push_back(static_cast<char>(kKeyNullAscending)); }

void AppendEntryRowPointer(uint32_t row_pointer, std::string& entry) {
  const uint32_t page = row_pointer >> 8;
  const char bytes[4] = {static_cast<char>((page >> 16) & 0xFF), static_cast<char>((page >> 8) & 0xFF),
                         static_cast<char>(page & 0xFF), static_cast<char>(row_pointer & 0xFF)};
  entry.append(bytes, 4);  // one append: every indexed row makes one
}

namespace {

void AppendBigEndian(uint64_t value, int bytes, std::string& key) {
  char out[8];
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<char>((value >> (8 * (bytes - 1 - i))) & 0xFF);
  key.append(out, static_cast<size_t>(bytes));
}

// Inverts the bytes of `key` from `from` on: a descending part sorts the other way round.
void InvertFrom(size_t from, std::string& key) {
  for (size_t i = from; i < key.size(); ++i) key[i] = static_cast<char>(~key[i]);
}

bool WholeNumberOf(const Value& value, int64_t& out) {
  if (const auto* v = std::get_if<int32_t>(&value)) return out = *v, true;
  if (const auto* v = std::get_if<int16_t>(&value)) return out = *v, true;
  if (const auto* v = std::get_if<uint8_t>(&value)) return out = *v, true;
  if (const auto* v = std::get_if<bool>(&value)) return out = *v ? -1 : 0, true;
  return false;
}

// Integers: big-endian two's complement with the sign bit flipped.
void AppendSigned(int64_t value, int bytes, std::string& key) {
  const uint64_t sign = uint64_t{1} << (8 * bytes - 1);
  const uint64_t mask = bytes == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1;
  AppendBigEndian((static_cast<uint64_t>(value) & mask) ^ sign, bytes, key);
}

// IEEE numbers: positive ones with the sign bit set, negative ones inverted, so that the bytes
// sort like the numbers.
void AppendFloating(uint64_t bits, int bytes, std::string& key) {
  const uint64_t sign = uint64_t{1} << (8 * bytes - 1);
  const uint64_t mask = bytes == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1;
  AppendBigEndian((bits & sign) != 0 ? (~bits & mask) : (bits | sign), bytes, key);
}

// Binary and GUID: 8-byte segments, each followed by 0x09 when more data follows; the last one
// padded with zeros and followed by its length. Descending inverts all but the 0x09 markers.
void AppendBinary(std::string_view data, bool ascending, std::string& key) {
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(8, data.size() - at);
    const bool last = at + n >= data.size();
    const size_t start = key.size();
    key.append(data.substr(at, n));
    key.append(8 - n, '\0');
    if (last) {
      key.push_back(static_cast<char>(n));
      if (!ascending) InvertFrom(start, key);
    } else {
      if (!ascending) InvertFrom(start, key);
      key.push_back(0x09);
    }
    at += n;
  } while (at < data.size());
}

__extension__ typedef unsigned __int128 Uint128;

Uint128 Scaled(const Decimal& d, uint8_t scale) {
  Uint128 m = 0;
  for (int i = 3; i >= 0; --i) m = (m << 32) | d.words[static_cast<size_t>(i)];
  for (int s = d.scale; s > scale; --s) m /= 10;
  for (int s = d.scale; s < scale; ++s) m *= 10;
  return m;
}

Status WrongValue(const ColumnDefinition& column, const char* wanted) {
  return InvalidArgumentError("column '" + column.name + "': the index key needs " + wanted);
}

}  // namespace

Status AppendColumnKey(const ColumnDefinition& column, const Value& value, bool ascending, std::string& key) {
  const bool is_null = std::holds_alternative<Null>(value);
  if (is_null && column.type != ColumnType::kBoolean) {
    key.push_back(static_cast<char>(ascending ? kKeyNullAscending : kKeyNullDescending));
    return Status::Ok();
  }
  if (column.type == ColumnType::kText || column.type == ColumnType::kMemo) {
    const auto* text = std::get_if<std::string>(&value);
    if (!text) return WrongValue(column, "text");
    const size_t start = key.size();
    RETURN_IF_ERROR(AppendTextKey(*text, key).WithContext("column '" + column.name + "'"));
    if (!ascending) {
      key[start] = static_cast<char>(kKeyDescending);
      InvertFrom(start + 1, key);
      key.push_back(0x00);
    }
    return Status::Ok();
  }
  key.push_back(static_cast<char>(ascending ? kKeyAscending : kKeyDescending));
  const size_t start = key.size();
  int64_t whole = 0;
  switch (column.type) {
    case ColumnType::kBoolean: {
      const auto* b = std::get_if<bool>(&value);
      const bool truth = b ? *b : (!is_null && WholeNumberOf(value, whole) && whole != 0);
      // True sorts first; the order is carried by the value itself, never inverted.
      key.push_back(static_cast<char>(truth == ascending ? 0x00 : 0xFF));
      return Status::Ok();
    }
    case ColumnType::kByte:
      if (!WholeNumberOf(value, whole)) return WrongValue(column, "a whole number");
      key.push_back(static_cast<char>(static_cast<uint8_t>(whole)));
      break;
    case ColumnType::kInteger:
      if (!WholeNumberOf(value, whole)) return WrongValue(column, "a whole number");
      AppendSigned(whole, 2, key);
      break;
    case ColumnType::kLong:
      if (!WholeNumberOf(value, whole)) return WrongValue(column, "a whole number");
      AppendSigned(static_cast<int32_t>(whole), 4, key);
      break;
    case ColumnType::kCurrency:
      if (const auto* c = std::get_if<Currency>(&value)) {
        whole = c->scaled;
      } else if (WholeNumberOf(value, whole)) {
        whole *= 10000;
      } else {
        return WrongValue(column, "a Currency value");
      }
      AppendSigned(whole, 8, key);
      break;
    case ColumnType::kSingle: {
      float f;
      if (const auto* v = std::get_if<float>(&value)) {
        f = *v;
      } else if (WholeNumberOf(value, whole)) {
        f = static_cast<float>(whole);
      } else {
        return WrongValue(column, "a Single value");
      }
      uint32_t bits;
      std::memcpy(&bits, &f, 4);
      AppendFloating(bits, 4, key);
      break;
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      double d;
      if (const auto* v = std::get_if<double>(&value)) {
        d = *v;
      } else if (const auto* t = std::get_if<DateTime>(&value)) {
        d = t->days;
      } else if (const auto* f = std::get_if<float>(&value)) {
        d = static_cast<double>(*f);
      } else if (WholeNumberOf(value, whole)) {
        d = static_cast<double>(whole);
      } else {
        return WrongValue(column, "a number or date");
      }
      uint64_t bits;
      std::memcpy(&bits, &d, 8);
      AppendFloating(bits, 8, key);
      break;
    }
    case ColumnType::kNumeric: {
      const auto* v = std::get_if<Decimal>(&value);
      if (!v) return WrongValue(column, "a Decimal value");
      const Uint128 m = Scaled(*v, column.scale);
      const bool negative = v->negative && m != 0;
      std::string bytes(17, '\0');
      bytes[0] = negative ? static_cast<char>(0x80) : 0;
      for (int i = 0; i < 16; ++i) bytes[16 - static_cast<size_t>(i)] = static_cast<char>((m >> (8 * i)) & 0xFF);
      if (negative == ascending) InvertFrom(0, bytes);
      bytes[0] = negative ? 0x00 : static_cast<char>(0xFF);
      key += bytes;
      return Status::Ok();
    }
    case ColumnType::kGuid: {
      const auto* g = std::get_if<Guid>(&value);
      if (!g) return WrongValue(column, "a GUID");
      // Textual order: the first three groups are stored little-endian.
      const auto& b = g->bytes;
      const char text[16] = {
          static_cast<char>(b[3]),  static_cast<char>(b[2]),  static_cast<char>(b[1]),  static_cast<char>(b[0]),
          static_cast<char>(b[5]),  static_cast<char>(b[4]),  static_cast<char>(b[7]),  static_cast<char>(b[6]),
          static_cast<char>(b[8]),  static_cast<char>(b[9]),  static_cast<char>(b[10]), static_cast<char>(b[11]),
          static_cast<char>(b[12]), static_cast<char>(b[13]), static_cast<char>(b[14]), static_cast<char>(b[15])};
      AppendBinary(std::string_view(text, 16), ascending, key);
      return Status::Ok();
    }
    case ColumnType::kBinary: {
      const auto* b = std::get_if<Bytes>(&value);
      if (!b) return WrongValue(column, "bytes");
      AppendBinary(b->data, ascending, key);
      return Status::Ok();
    }
    default:
      return UnsupportedError("column '" + column.name + "' of type " + ColumnTypeName(column.type) +
                              " cannot be indexed");
  }
  if (!ascending) InvertFrom(start, key);
  return Status::Ok();
}

}  // namespace tabulon::jet
