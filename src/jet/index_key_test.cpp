// Text keys beyond Latin-1: CJK ideographs with their enclosed forms (one sequence of two-byte
// codes) and the fullwidth / subscript forms that key as their Latin-1 character. Checked
// against keys Access wrote, against the shape of the whole sequence, and end to end through
// indexes, the integrity check and the independent readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "base/text.h"
#include "jet/database.h"
#include "jet/index_key.h"
#include "jet_readers.h"
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

std::vector<uint8_t> OneCharKey(uint8_t page, uint8_t slot) { return {0x7F, page, slot, 0x01, 0x00}; }

// One-character keys Access wrote, and the edges of the slot sequence.
TEST(CjkKeyTest, IdeographsKeyAsAccessWroteThem) {
  struct Case {
    char16_t c;
    uint8_t page, slot;
  };
  // 漢 字 仮 名 交 文; the first ideograph in the first slot; a page ends at slot FF and the next
  // starts at 02 (代, its parenthesized form, then 令); one slot stays empty after U+4EDD; the
  // compatibility ideographs follow the last unified one, and U+FA2D takes the last slot.
  const Case cases[] = {{0x6F22, 0xC0, 0xB6}, {0x5B57, 0xAC, 0xAC}, {0x4EEE, 0xA0, 0x0D}, {0x540D, 0xA5, 0x47},
                        {0x4EA4, 0x9F, 0xBE}, {0x6587, 0xB6, 0xF6}, {0x4E00, 0x9F, 0x02}, {0x4EE3, 0x9F, 0xFF},
                        {0x3239, 0xA0, 0x02}, {0x4EE4, 0xA0, 0x03}, {0x4EDD, 0x9F, 0xF8}, {0x4EDE, 0x9F, 0xFA},
                        {0x9FA5, 0xF1, 0xB4}, {0xF900, 0xF1, 0xB5}, {0xFA2D, 0xF2, 0xE4}};
  for (const Case& c : cases) EXPECT_EQ(Key(Utf8(c.c)), OneCharKey(c.page, c.slot)) << Hex(c.c);
  EXPECT_EQ(Linear(0x4EDC) + 1, Linear(0x4EDD));
  EXPECT_EQ(Linear(0xFA2D), 21308);
  // Words: the codes one after the other; mixed with Latin text and spaces.
  EXPECT_EQ(Key("\xE6\xBC\xA2\xE5\xAD\x97"), (std::vector<uint8_t>{0x7F, 0xC0, 0xB6, 0xAC, 0xAC, 0x01, 0x00}));
  EXPECT_EQ(Key("a \xE6\x96\x87  "), (std::vector<uint8_t>{0x7F, 0x4A, 0x07, 0xB6, 0xF6, 0x01, 0x00}));
  // An apostrophe after an ideograph counts it as one inline position, like a letter.
  EXPECT_EQ(Key("\xE6\x96\x87'"),
            (std::vector<uint8_t>{0x7F, 0xB6, 0xF6, 0x01, 0x01, 0x01, 0x01, 0x80, 0x0B, 0x06, 0x80, 0x00}));
  // An accent after an ideograph: the extra code lands on the second position.
  EXPECT_EQ(Key("\xE6\x96\x87\xC3\xA9"), (std::vector<uint8_t>{0x7F, 0xB6, 0xF6, 0x51, 0x01, 0x02, 0x0E, 0x00}));
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

TEST(CjkKeyTest, EnclosedFormsFollowTheirIdeograph) {
  // 一 then its kanbun mark, circled and parenthesized forms, then 丁.
  EXPECT_EQ(Linear(0x3192), Linear(0x4E00) + 1);
  EXPECT_EQ(Linear(0x3280), Linear(0x4E00) + 2);
  EXPECT_EQ(Linear(0x3220), Linear(0x4E00) + 3);
  EXPECT_EQ(Linear(0x4E01), Linear(0x4E00) + 4);
  // Era squares: ㍻ after 平; ㍿ (株式会社) after 株's circled and parenthesized forms.
  EXPECT_EQ(Linear(0x337B), Linear(0x5E73) + 1);
  EXPECT_EQ(Linear(0x3291), Linear(0x682A) + 1);
  EXPECT_EQ(Linear(0x3231), Linear(0x682A) + 2);
  EXPECT_EQ(Linear(0x337F), Linear(0x682A) + 3);
  EXPECT_EQ(Linear(0x682B), Linear(0x682A) + 4);
  // Forms of four simplified ideographs sort after the traditional one instead.
  struct Attachment {
    char16_t simplified, traditional;
    std::vector<char16_t> forms;
  };
  const Attachment attachments[] = {{0x52B4, 0x52DE, {0x3298, 0x3238}},  // 労 → 勞
                                    {0x5B66, 0x5B78, {0x32AB, 0x323B}},  // 学 → 學
                                    {0x5199, 0x5BEB, {0x32A2}},          // 写 → 寫
                                    {0x533B, 0x91AB, {0x32A9}}};         // 医 → 醫
  for (const Attachment& a : attachments) {
    EXPECT_EQ(Linear(a.simplified + 1), Linear(a.simplified) + 1) << Hex(a.simplified);
    for (size_t i = 0; i < a.forms.size(); ++i) {
      EXPECT_EQ(Linear(a.forms[i]), Linear(a.traditional) + 1 + static_cast<int>(i)) << Hex(a.forms[i]);
    }
    EXPECT_EQ(Linear(a.traditional + 1), Linear(a.traditional) + 1 + static_cast<int>(a.forms.size()));
  }
}

TEST(CjkKeyTest, WidthAndSubscriptFormsKeyAsTheirLatin1Character) {
  const std::pair<const char*, const char*> same[] = {
      {"\xEF\xBC\xA1", "A"},                                            // Ａ
      {"\xEF\xBD\x81", "A"},                                            // ａ: case still does not count
      {"\xEF\xBC\x90", "0"},                                            // ０
      {"\xEF\xBC\xAF\xEF\xBC\x87\xEF\xBC\xA2rien", "O'Brien"},          // fullwidth apostrophe: unprintable
      {"co\xEF\xBC\x8Dop", "co-op"},                                    // fullwidth hyphen
      {"\xEF\xBC\xA3\xEF\xBD\x81\xEF\xBD\x86\xC3\xA9", "Caf\xC3\xA9"},  // with an accent after it
      {"\xEF\xBF\xA5", "\xC2\xA5"},                                     // ￥ as ¥
      {"H\xE2\x82\x82O", "H2O"},                                        // subscript two
      {"x\xE2\x82\x8D\xE2\x82\x8E", "x()"},                             // subscript parentheses
      {"a\xE3\x80\x80"
       "b",
       "a b"},  // ideographic space as a space
  };
  for (const auto& [form, latin] : same) EXPECT_EQ(Key(form), Key(latin)) << form;
}

TEST(CjkKeyTest, OtherCharactersAreStillRefused) {
  // Ω, 가, あ; just past the unified block, just past the compatibility block, just before it;
  // enclosed forms with a digit (㋀ "1月") or assigned after Unicode 2.1 (㉄, 〸, 〶); circled ⓐ,
  // superscript ⁴, small ﹐, ligature ﬁ, fullwidth won ￦ and subscript minus ₋ (their targets
  // lie beyond U+00FF); an emoji (a surrogate pair).
  std::vector<std::string> refused = {"\xF0\x9F\x98\x80"};
  for (char16_t c : {0x03A9, 0xAC00, 0x3042, 0x9FA6, 0xFA2E, 0x4DFF, 0x32C0, 0x3244, 0x3038, 0x3036, 0x24D0, 0x2074,
                     0xFE50, 0xFB01, 0xFFE6, 0x208B}) {
    refused.push_back(Utf8(c));
  }
  for (const std::string& text : refused) {
    std::string key = "kept";
    const Status s = AppendTextKey(std::string("\xE6\xBC\xA2") + text, key);
    EXPECT_EQ(s.code(), ErrorCode::kUnsupported) << text;
    EXPECT_NE(s.message().find("U+"), std::string::npos) << s.ToString();
    EXPECT_FALSE(HasGeneralSortCodes(text)) << text;
  }
  EXPECT_TRUE(HasGeneralSortCodes("\xE6\xBC\xA2\xE5\xAD\x97 \xEF\xBC\xA1 caf\xC3\xA9"));
  EXPECT_FALSE(HasGeneralSortCodes("\xFF"));  // not UTF-8
}

// End to end: CJK table, column and index names; a primary key and a unique index over CJK
// text, written, reopened, sought, checked and read back by both readers (the order of the keys
// is the known keys' and the B-tree workload's work).
TEST(CjkKeyTest, CjkIndexesAndNamesSurviveTheRoundTrip) {
  const fs::path path = testing::ScratchFile("index_key", "cjk.mdb");
  const std::string table = "\xE9\xA1\xA7\xE5\xAE\xA2\xE5\x90\x8D\xE7\xB0\xBF";  // 顧客名簿
  const std::string name_column = "\xE5\x90\x8D\xE5\x89\x8D";                    // 名前
  const std::vector<std::string> names = {
      "\xE6\xBC\xA2\xE5\xAD\x97",                          // 漢字
      "\xE6\x96\x87",                                      // 文
      "\xE5\xAD\x97",                                      // 字
      "Tokyo \xE6\x9D\xB1\xE4\xBA\xAC",                    // Tokyo 東京
      "\xE4\xBB\xAE\xE5\x90\x8D",                          // 仮名
      "\xE3\x8A\x80",                                      // ㊀
      "\xE4\xBA\xA4",                                      // 交
      "\xE4\xB8\x80",                                      // 一
      "\xEF\xA8\xAD",                                      // U+FA2D
      "\xEF\xBC\xA2\xEF\xBD\x85\xEF\xBD\x94\xEF\xBD\x81",  // Ｂｅｔａ
  };
  std::vector<Row> rows;
  for (size_t i = 0; i < names.size(); ++i) rows.push_back({static_cast<int32_t>(i + 1), names[i]});
  {
    auto created = Database::Create(path.string());
    ASSERT_TRUE(created.ok()) << created.status().ToString();
    Database& db = **created;
    TableDefinition t;
    t.name = table;
    t.columns = {NewColumn("ID", ColumnType::kLong), NewColumn(name_column, ColumnType::kText, 40)};
    ASSERT_TRUE(db.CreateTable(t).ok());
    // Names are unique by key: the fullwidth spelling of an existing name is the same name.
    t.name =
        "\xEF\xBC\xB4"
        "able";  // Ｔable
    ASSERT_TRUE(db.CreateTable(t).ok());
    t.name = "Table";
    EXPECT_EQ(db.CreateTable(t).code(), ErrorCode::kAlreadyExists);
    t.name = "\xCE\xA9";  // Greek stays refused
    EXPECT_EQ(db.CreateTable(t).code(), ErrorCode::kUnsupported);

    IndexSpec pk;
    pk.name = "PrimaryKey";
    pk.primary = true;
    pk.columns = {{name_column, true}};
    ASSERT_TRUE(db.InsertRows(table, {rows.begin(), rows.begin() + 4}).ok());
    ASSERT_TRUE(db.CreateIndex(table, pk).ok());  // built in bulk over the first rows
    IndexSpec by_id;
    by_id.name = "\xE7\x95\xAA\xE5\x8F\xB7";  // 番号
    by_id.unique = true;
    by_id.columns = {{"ID", true}};
    ASSERT_TRUE(db.CreateIndex(table, by_id).ok());
    ASSERT_TRUE(db.InsertRows(table, {rows.begin() + 4, rows.end()}).ok());  // kept up to date
    EXPECT_TRUE(db.TakeDroppedIndexes().empty());
    // A duplicate by key: the fullwidth spelling of 'Beta', and the same ideographs.
    EXPECT_EQ(db.InsertRow(table, {int32_t{100}, std::string("beta")}).code(), ErrorCode::kAlreadyExists);
    EXPECT_EQ(db.InsertRow(table, {int32_t{101}, names[0]}).code(), ErrorCode::kAlreadyExists);
  }
  // Reopened, the keys are found as written (the fullwidth name by its Latin spelling).
  auto opened = Database::Open(path.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(opened.ok()) << opened.status().ToString();
  Database& db = **opened;
  EXPECT_EQ(db.SeekIndex(table, "PrimaryKey", {names[4]})->size(), 1u);
  EXPECT_EQ(db.SeekIndex(table, "PrimaryKey", {std::string("BETA")})->size(), 1u);
  EXPECT_EQ(db.ScanIndexRange(table, "PrimaryKey", IndexRange{})->size(), names.size());
  ASSERT_TRUE(testing::MdbReaderAvailable());
  ASSERT_TRUE(testing::MdbToolsAvailable());
  EXPECT_EQ(testing::CompareTableWithReaders(path.string(), table, db.GetTable(table)->columns, rows), "");
  auto listed = testing::MdbToolsTables(path.string());
  ASSERT_TRUE(listed.ok()) << listed.status().ToString();
  EXPECT_NE(std::find(listed->begin(), listed->end(), table), listed->end());
}

}  // namespace
}  // namespace tabulon::jet
