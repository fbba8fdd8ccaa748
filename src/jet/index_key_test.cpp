// Text keys beyond Latin-1: CJK ideographs with their enclosed forms (one sequence of two-byte
// codes) and the fullwidth / subscript forms that key as their Latin-1 character. Checked
// against keys Access wrote, against the shape of the whole sequence, and end to end through
// indexes, the integrity check and the independent readers.
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

// The whole BMP: exactly 21,308 characters take ideograph codes, every code once, the slots
// 0..21308 filled but for the one after U+4EDD, in code-point order for the unified ideographs.
// Every other accepted character keys as a Latin-1 character.
TEST(CjkKeyTest, TheSequenceCoversTheBlocksWithoutHolesOrClashes) {
  std::map<int, char16_t> by_slot;
  int folds = 0;
  std::set<std::vector<uint8_t>> latin1_keys;
  // Followed by a letter, so that a space is not dropped as trailing (only U+0020 is).
  for (char16_t c = 1; c <= 0xFF; ++c) latin1_keys.insert(Key(Utf8(c) + "x"));
  for (uint32_t c = 0x100; c <= 0xFFFF; ++c) {
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

}  // namespace
}  // namespace tabulon::jet
