// Text keys beyond Latin-1: Latin Extended-A and -B (placed among the Latin-1 codes by the
// weights of the sorting weight table), CJK ideographs with their enclosed forms (one sequence
// of two-byte codes) and the fullwidth / subscript forms that key as their Latin-1 character.
// Checked against known keys, against the table's order and the shape of the whole sequence,
// and end to end through indexes, the integrity check and the independent readers.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "base/text.h"
#include "jet/database.h"
#include "jet/index_key.h"
#include "jet/values.h"
#include "jet_readers.h"
#include "jet_test_db.h"
#include "jet_test_files.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;

std::string Hex(uint32_t c) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
  return text;
}

std::string Utf8(char16_t c) { return Utf16ToUtf8(std::u16string(1, c)); }

std::vector<uint8_t> Key(const std::string& utf8) {
  std::string key;
  const Status s = AppendTextKey(utf8, key);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return {key.begin(), key.end()};
}

// Place of a one-character ideograph key in the slot sequence: page 0x9F slot 0x02 is 0, and a
// page holds the 254 slots 0x02..0xFF.
int Linear(char16_t c) {
  const std::vector<uint8_t> key = Key(Utf8(c));
  EXPECT_EQ(key.size(), 5u) << Hex(c);
  if (key.size() != 5) return -1;
  EXPECT_GE(key[1], 0x9F);
  EXPECT_GE(key[2], 0x02);
  return (key[1] - 0x9F) * 254 + (key[2] - 0x02);
}

// The worked examples of testdata/cjk_keys.json.
const nlohmann::json kData = nlohmann::json::parse(std::ifstream(TABULON_JET_TESTDATA "/cjk_keys.json"));

// Keys Access wrote, the order of enclosed forms after their ideograph, and the forms that key
// as their Latin-1 character.
TEST(CjkKeyTest, KeysAsAccessWroteThemAndFormsInTheirPlace) {
  for (const auto& c : kData["keys"]) {
    const std::vector<uint8_t> key = Key(c[0]);
    EXPECT_EQ(FormatHex(std::string(key.begin(), key.end())), c[1].get<std::string>()) << c;
  }
  for (const auto& c : kData["follows"]) {
    const std::u16string pair = Utf8ToUtf16(c[0].get<std::string>() + c[1].get<std::string>()).value();
    EXPECT_EQ(Linear(pair[0]), Linear(pair[1]) + c[2].get<int>()) << c;
  }
  for (const auto& c : kData["same"]) EXPECT_EQ(Key(c[0]), Key(c[1])) << c;
}

// The BMP above Latin Extended-B: exactly 21,308 characters take ideograph codes, every code
// once, the slots 0..21308 filled but for the one after U+4EDD, in code-point order for the
// unified ideographs. Every other accepted character keys as a Latin-1 character.
TEST(CjkKeyTest, TheSequenceCoversTheBlocksWithoutHolesOrClashes) {
  std::map<int, char16_t> by_slot;
  int folds = 0;
  std::set<std::vector<uint8_t>> latin1_keys;
  // Followed by a letter, so that a space is not dropped as trailing (only U+0020 is).
  for (char16_t c = 1; c <= 0xFF; ++c) latin1_keys.insert(Key(Utf8(c) + "x"));
  for (uint32_t c = 0x250; c <= 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const char16_t ch = static_cast<char16_t>(c);
    std::string key;
    const Status s = AppendTextKey(Utf8(ch), key);
    ASSERT_EQ(HasGeneralSortCode(ch), s.ok()) << Hex(c);
    if (!s.ok()) {
      ASSERT_EQ(s.code(), ErrorCode::kUnsupported) << Hex(c);
      continue;
    }
    if (static_cast<uint8_t>(key[1]) >= 0x9F) {
      ASSERT_EQ(key.size(), 5u) << Hex(c);
      const bool in_blocks =
          (c >= 0x4E00 && c <= 0x9FA5) || (c >= 0xF900 && c <= 0xFA2D) || (c >= 0x3190 && c <= 0x33FF);
      EXPECT_TRUE(in_blocks) << Hex(c);
      const int slot = Linear(ch);
      EXPECT_TRUE(by_slot.emplace(slot, ch).second) << Hex(c) << " shares slot " << slot;
    } else {
      ++folds;
      EXPECT_TRUE(latin1_keys.count(Key(Utf8(ch) + "x"))) << Hex(c) << " keys like no Latin-1 text";
    }
  }
  EXPECT_EQ(by_slot.size(), 21308u);
  EXPECT_EQ(folds, 132);
  const int gap = Linear(0x4EDD) + 1;
  EXPECT_FALSE(by_slot.count(gap));
  ASSERT_FALSE(by_slot.empty());
  EXPECT_EQ(by_slot.begin()->first, 0);
  EXPECT_EQ(by_slot.rbegin()->first, 21308);
  char16_t previous = 0;
  for (const auto& [slot, c] : by_slot) {
    if (c >= 0x4E00 && c <= 0x9FA5) {
      EXPECT_GT(c, previous) << "unified ideographs out of code-point order at slot " << slot;
      previous = c;
    }
  }
}

TEST(CjkKeyTest, OtherCharactersAreStillRefused) {
  for (const auto& c : kData["refused"]) {
    const std::string text = c;
    std::string key = "kept";
    const Status s = AppendTextKey(std::string("\xE6\xBC\xA2") + text, key);
    EXPECT_EQ(s.code(), ErrorCode::kUnsupported) << text;
    EXPECT_NE(s.message().find("U+"), std::string::npos) << s.ToString();
    EXPECT_FALSE(HasGeneralSortCodes(text)) << text;
  }
  EXPECT_TRUE(HasGeneralSortCodes("\xE6\xBC\xA2\xE5\xAD\x97 \xEF\xBC\xA1 caf\xC3\xA9"));
  EXPECT_FALSE(HasGeneralSortCodes("\xFF"));  // not UTF-8
}

// End to end: CJK table, column and index names; a primary key over CJK text built over stored
// rows and kept up, reopened, sought and read back by both readers (the order of the keys is the
// known keys' and the B-tree workload's work).
TEST(CjkKeyTest, CjkIndexesAndNamesSurviveTheRoundTrip) {
  const fs::path path = testing::ScratchFile("index_key", "cjk.mdb");
  const std::string table = "\xE9\xA1\xA7\xE5\xAE\xA2\xE5\x90\x8D\xE7\xB0\xBF";  // 顧客名簿
  const std::string name_column = "\xE5\x90\x8D\xE5\x89\x8D";                    // 名前
  const std::string key = "\xE7\x95\xAA\xE5\x8F\xB7";                            // 番号
  const std::vector<std::string> names = {
      "\xE6\xBC\xA2\xE5\xAD\x97",                          // 漢字
      "Tokyo \xE6\x9D\xB1\xE4\xBA\xAC",                    // Tokyo 東京
      "\xE3\x8A\x80",                                      // ㊀
      "\xEF\xA8\xAD",                                      // U+FA2D
      "\xEF\xBC\xA2\xEF\xBD\x85\xEF\xBD\x94\xEF\xBD\x81",  // Ｂｅｔａ
  };
  std::vector<Row> rows;
  for (size_t i = 0; i < names.size(); ++i) rows.push_back({static_cast<int32_t>(i + 1), names[i]});
  {
    auto created = Database::Create(path.string());
    ASSERT_TRUE(created.ok()) << created.status().ToString();
    Database& db = **created;
    TableDefinition t =
        testing::NewTable(table, {NewColumn("ID", ColumnType::kLong), NewColumn(name_column, ColumnType::kText, 40)});
    ASSERT_TRUE(db.CreateTable(t).ok());
    // Names are unique by key: the fullwidth spelling of an existing name is the same name.
    t.name =
        "\xEF\xBC\xB4"
        "able";  // Ｔable
    ASSERT_TRUE(db.CreateTable(t).ok());
    t.name = "Table";
    EXPECT_EQ(db.CreateTable(t).code(), ErrorCode::kAlreadyExists);

    const IndexSpec pk{.name = key, .columns = {{name_column, true}}, .primary = true};
    ASSERT_TRUE(db.InsertRows(table, {rows.begin(), rows.begin() + 2}).ok());
    ASSERT_TRUE(db.CreateIndex(table, pk).ok());                             // built in bulk over the first rows
    ASSERT_TRUE(db.InsertRows(table, {rows.begin() + 2, rows.end()}).ok());  // kept up to date
    EXPECT_TRUE(db.TakeDroppedIndexes().empty());
    // A duplicate by key: the fullwidth spelling of 'Beta'.
    EXPECT_EQ(db.InsertRow(table, {int32_t{100}, std::string("beta")}).code(), ErrorCode::kAlreadyExists);
  }
  // Reopened, the keys are found as written (the fullwidth name by its Latin spelling).
  auto opened = Database::Open(path.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(opened.ok()) << opened.status().ToString();
  Database& db = **opened;
  EXPECT_EQ(db.SeekIndex(table, key, {names[2]})->size(), 1u);
  EXPECT_EQ(db.SeekIndex(table, key, {std::string("BETA")})->size(), 1u);
  ASSERT_TRUE(testing::MdbReaderAvailable());
  ASSERT_TRUE(testing::MdbToolsAvailable());
  EXPECT_EQ(testing::CompareTableWithReaders(path.string(), table, db.GetTable(table)->columns, rows), "");
}


// ---- Latin Extended-A and -B ----------------------------------------------------------------

// A key as spaced upper-case hex, "7F 4A 01 17 00".
std::string KeyHex(const std::string& utf8) {
  std::string out;
  for (uint8_t b : Key(utf8)) {
    char text[4];
    std::snprintf(text, sizeof text, "%s%02X", out.empty() ? "" : " ", b);
    out += text;
  }
  return out;
}

// The weights of U+0000..U+024F in the sorting weight table, as the generator of the codes read
// them (testdata/latin_sort_weights.json).
const nlohmann::json kLatinWeights =
    nlohmann::json::parse(std::ifstream(TABULON_JET_TESTDATA "/latin_sort_weights.json"));

// Single letters of each rule (codes shared with a Latin-1 letter, codes between two of them,
// characters that sort as two, ignored ones) and words that mix them with accents of Latin-1,
// unprintable characters and plain ASCII.
TEST(LatinExtendedKeyTest, KnownKeysByteForByte) {
  const std::pair<const char*, const char*> cases[] = {
      {"\xC4\x80", "7F 4A 01 17 00"},           // Ā: A with extra 17
      {"\xC4\x81", "7F 4A 01 17 00"},           // ā
      {"\xC4\x8C", "7F 4D 01 14 00"},           // Č
      {"\xC4\x8D", "7F 4D 01 14 00"},           // č
      {"\xC5\x81", "7F 5E 01 1F 00"},           // Ł
      {"\xC5\x82", "7F 5E 01 1F 00"},           // ł
      {"\xC5\x90", "7F 64 01 1D 00"},           // Ő
      {"\xC5\x91", "7F 64 01 1D 00"},           // ő
      {"\xC5\xA0", "7F 6B 01 14 00"},           // Š
      {"\xC5\x9E", "7F 6B 01 1C 00"},           // Ş
      {"\xC4\x9E", "7F 55 01 15 00"},           // Ğ
      {"\xC4\xB0", "7F 59 01 10 00"},           // İ
      {"\xC5\xBD", "7F 78 01 14 00"},           // Ž
      {"\xC5\x8B", "7F 63 05 01 00"},           // ŋ: between N and O
      {"\xC5\xBF", "7F 6C 06 01 00"},           // ſ: between S and T
      {"\xC5\xA6", "7F 6E 06 01 1E 00"},        // Ŧ: between T and U, with an extra
      {"\xC7\x83", "7F 2B 17 01 00"},           // ǃ: after the last one-byte punctuation
      {"\xC5\x92", "7F 64 51 01 00"},           // Œ: O then E
      {"\xC7\x84", "7F 4F 78 01 02 14 00"},     // Ǆ: D then Ž, one extra byte each
      {"\xC8\x98\xC8\x99\xC8\x9A\xC8\x9B", "7F 01 00"},  // Ș ș Ț ț: ignored
      {"Bra\xC8\x99ov", "7F 4C 69 4A 64 71 01 00"},  // Brașov keys as Braov
      {"\xC5\x81\xC3\xB3\x64\xC5\xBA", "7F 5E 64 4F 78 01 1F 0E 02 0E 00"},       // Łódź
      {"Dvo\xC5\x99\xC3\xA1k", "7F 4F 71 64 69 4A 5C 01 02 02 02 14 0E 00"},  // Dvořák
      // Œuvré: Œ takes two positions before the accent of é.
      {"\xC5\x92uvr\xC3\xA9", "7F 64 51 6F 71 69 51 01 02 02 02 02 02 0E 00"},
      // Kraków-Płock: the hyphen's place counts the letters before it, accents or not.
      {"Krak\xC3\xB3w-P\xC5\x82ock",
       "7F 5C 69 4A 5C 64 73 66 5E 64 4D 5C 01 02 02 02 02 0E 02 02 1F 01 01 01 80 1F 06 82 00"},
  };
  for (const auto& [text, hex] : cases) EXPECT_EQ(KeyHex(text), hex) << text;
  // Case does not count; the accent does.
  EXPECT_EQ(Key("\xC5\x81\xC3\x93\x44\xC5\xB9"), Key("\xC5\x81\xC3\xB3\x64\xC5\xBA"));  // ŁÓDŹ, Łódź
  EXPECT_NE(Key("Lodz"), Key("\xC5\x81\xC3\xB3\x64\xC5\xBA"));
}

// Every code point of U+0100..U+024F: unknown exactly for the listed ones, ignored exactly for
// those the table leaves out, a character that sorts as two keys as its two parts, every other
// one is simple or accented as its diacritic weight says, and the inline bytes follow the
// table's (script, alphabetic weight) order among themselves and among the Latin-1 letters.
TEST(LatinExtendedKeyTest, TheWholeRangeKeysInTheTablesOrder) {
  std::set<uint32_t> unknown, ignored;
  for (const auto& c : kLatinWeights["unknown"]) unknown.insert(c.get<uint32_t>());
  for (const auto& c : kLatinWeights["ignored"]) ignored.insert(c.get<uint32_t>());
  std::map<uint32_t, std::u16string> expansions;
  for (const auto& e : kLatinWeights["expansions"]) {
    expansions[e[0].get<uint32_t>()] = {static_cast<char16_t>(e[1].get<int>()), static_cast<char16_t>(e[2].get<int>())};
  }
  struct Letter {
    uint32_t c;
    int script, weight;
    std::string inline_bytes;
  };
  std::vector<Letter> letters;
  int known = 0;
  for (const auto& w : kLatinWeights["weights"]) {
    const auto c = w[0].get<uint32_t>();
    std::string key;
    const Status s = AppendTextKey(Utf8(static_cast<char16_t>(c)), key);
    ASSERT_EQ(s.ok(), !unknown.count(c)) << Hex(c) << " " << s.ToString();
    if (!s.ok()) continue;
    const size_t end = key.find('\x01');
    ASSERT_NE(end, std::string::npos) << Hex(c);
    if (end == 1) continue;  // no inline bytes: unprintable or ignored Latin-1 characters
    const std::string inline_bytes = key.substr(1, end - 1);
    if (c >= 0x100) {
      ++known;
      const int diacritic = w[3].get<int>();
      const std::string extra = diacritic == 2 ? "" : std::string(1, static_cast<char>(diacritic));
      EXPECT_EQ(key, "\x7F" + inline_bytes + "\x01" + extra + std::string(1, '\0')) << Hex(c);
    }
    letters.push_back({c, w[1].get<int>(), w[2].get<int>(), inline_bytes});
  }
  for (uint32_t c = 0x100; c <= 0x24F; ++c) {
    const char16_t ch = static_cast<char16_t>(c);
    EXPECT_EQ(HasGeneralSortCode(ch), !unknown.count(c)) << Hex(c);
    if (ignored.count(c)) {
      EXPECT_EQ(KeyHex(Utf8(ch)), "7F 01 00") << Hex(c);
      ++known;
    } else if (auto e = expansions.find(c); e != expansions.end() && !unknown.count(c)) {
      EXPECT_EQ(Key(Utf8(ch)), Key(Utf16ToUtf8(e->second))) << Hex(c);
      ++known;
    }
  }
  EXPECT_EQ(unknown.size(), 34u);
  EXPECT_EQ(known, 0x150 - 34);
  for (const Letter& a : letters) {
    for (const Letter& b : letters) {
      if (a.c < 0x100 && b.c < 0x100) continue;  // Latin-1 keeps its own, older order
      if (std::pair(a.script, a.weight) < std::pair(b.script, b.weight)) {
        EXPECT_LT(a.inline_bytes, b.inline_bytes) << Hex(a.c) << " before " << Hex(b.c);
      } else if (std::pair(a.script, a.weight) == std::pair(b.script, b.weight)) {
        EXPECT_EQ(a.inline_bytes, b.inline_bytes) << Hex(a.c) << " like " << Hex(b.c);
      }
    }
  }
}

// End to end: a table and columns named with these letters, a primary key and a unique index
// over names of half of Europe mixed with Latin-1 and ASCII, part built in bulk and part kept up
// row by row; duplicates by key refused, every row found by a seek after reopening, and both
// readers (after the integrity check) give back every value.
TEST(LatinExtendedKeyTest, KeysOverEuropeanNamesSurviveTheRoundTrip) {
  const fs::path path = testing::ScratchFile("index_key", "latin_extended.mdb");
  const std::string table = "Miasta \xC5\x9Al\xC4\x85sk";          // Miasta Śląsk
  const std::string name = "Nazwa";
  const std::string code = "K\xC3\xB3\x64 \xC5\x81\xC4\x85\x63zny";  // Kód Łączny
  const std::vector<std::pair<std::string, std::string>> values = {
      {"\xC5\x81\xC3\xB3\x64\xC5\xBA", "\xC5\x81\x44Z"},                   // Łódź, ŁDZ
      {"Dvo\xC5\x99\xC3\xA1k", "DVO"},                                     // Dvořák
      {"G\xC3\xB6\x64\x65l", "G\xC3\x96\x44"},                             // Gödel, GÖD
      {"Erd\xC5\x91s", "ERD"},                                             // Erdős
      {"\xC5\x9Ei\xC5\x9Fli", "\xC5\x9ESL"},                               // Şişli, ŞSL
      {"\xC4\xB0stanbul", "\xC4\xB0ST"},                                   // İstanbul, İST
      {"Krak\xC3\xB3w", "KRK"},                                            // Kraków
      {"Plze\xC5\x88", "PLZ"},                                             // Plzeň
      {"R\xC4\xABga", "R\xC4\xAAG"},                                       // Rīga, RĪG
      {"\xC5\x92uvre", "\xC5\x92UV"},                                      // Œuvre, ŒUV
      {"Lodz", "LDZ"},                                                     // not Łódź
      {"Z\xC3\xBCrich", "Z\xC3\x9CR"},                                     // Zürich
      {"O'Brien", "OBR"},                                                  // ASCII
      {"Krak\xC3\xB3w-P\xC5\x82ock", "KPL"},                               // Kraków-Płock
      {"Bra\xC8\x99ov", "BRA"},                                            // Brașov
      {"\xC4\x90\x61kovo", "\xC4\x90\x41K"},                               // Đakovo
  };
  std::vector<Row> rows;
  for (size_t i = 0; i < values.size(); ++i) {
    rows.push_back({static_cast<int32_t>(i + 1), values[i].first, values[i].second});
  }
  {
    auto created = Database::Create(path.string());
    ASSERT_TRUE(created.ok()) << created.status().ToString();
    Database& db = **created;
    TableDefinition t = testing::NewTable(table, {NewColumn("ID", ColumnType::kLong),
                                                  NewColumn(name, ColumnType::kText, 40),
                                                  NewColumn(code, ColumnType::kText, 10)});
    ASSERT_TRUE(db.CreateTable(t).ok());
    t.name = "MIASTA \xC5\x9AL\xC4\x84SK";  // the same name by key
    EXPECT_EQ(db.CreateTable(t).code(), ErrorCode::kAlreadyExists);
    t.name = "Miasta Slask";  // another name: the accents count
    EXPECT_TRUE(db.CreateTable(t).ok());

    ASSERT_TRUE(db.InsertRows(table, {rows.begin(), rows.begin() + 8}).ok());
    const IndexSpec pk{.name = "Klucz \xC5\x81", .columns = {{name, true}}, .primary = true};
    const IndexSpec unique{.name = "Kod \xC5\xBB", .columns = {{code, false}}, .unique = true};
    ASSERT_TRUE(db.CreateIndex(table, pk).ok());
    ASSERT_TRUE(db.CreateIndex(table, unique).ok());
    ASSERT_TRUE(db.InsertRows(table, {rows.begin() + 8, rows.end()}).ok());
    EXPECT_TRUE(db.TakeDroppedIndexes().empty());
    EXPECT_EQ(db.InsertRow(table, {int32_t{100}, std::string("\xC5\x81\xC3\x93\x44\xC5\xB9"), std::string("X")}).code(),
              ErrorCode::kAlreadyExists);  // ŁÓDŹ
    EXPECT_EQ(db.InsertRow(table, {int32_t{101}, std::string("Plzen2"), std::string("\xC5\x92uv")}).code(),
              ErrorCode::kAlreadyExists);  // Œuv
  }
  auto opened = Database::Open(path.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(opened.ok()) << opened.status().ToString();
  Database& db = **opened;
  EXPECT_TRUE(db.CheckIntegrity().ok());
  for (const auto& [n, c] : values) {
    auto by_name = db.SeekIndex(table, "Klucz \xC5\x81", {n});
    ASSERT_TRUE(by_name.ok()) << by_name.status().ToString();
    EXPECT_EQ(by_name->size(), 1u) << n;
    auto by_code = db.SeekIndex(table, "Kod \xC5\xBB", {c});
    ASSERT_TRUE(by_code.ok()) << by_code.status().ToString();
    EXPECT_EQ(by_code->size(), 1u) << c;
  }
  EXPECT_EQ(db.SeekIndex(table, "Klucz \xC5\x81", {std::string("DVO\xC5\x98\xC3\x81K")})->size(), 1u);  // DVOŘÁK
  ASSERT_TRUE(testing::MdbReaderAvailable());
  ASSERT_TRUE(testing::MdbToolsAvailable());
  EXPECT_EQ(testing::CompareTableWithReaders(path.string(), table, db.GetTable(table)->columns, rows), "");
}

}  // namespace
}  // namespace tabulon::jet
