// Row buffer, property sets, error texts and the regular-expression helper.
#include <gtest/gtest.h>

#include <string>

#include "base/bytes.h"
#include "data/error_text.h"
#include "data/properties.h"
#include "data/regex_helper.h"
#include "data/row_buffer.h"

namespace tabulon::data {
namespace {

TEST(RowBufferTest, SlotLayoutNullsEmptyAndCutValues) {
  RowBuffer buffer(3);
  ASSERT_EQ(buffer.columns(), 3u);
  buffer.SetNull(1);
  buffer.SetValue(2, "");
  buffer.SetValue(3, std::string(9000, 'x'));

  EXPECT_TRUE(buffer.IsNull(1));
  EXPECT_EQ(buffer.Status(2), DBSTATUS_S_OK);
  EXPECT_EQ(buffer.Length(2), 0u);
  EXPECT_EQ(buffer.Value(3), std::string(8191, 'x'));
  EXPECT_EQ(buffer.Status(3), DBSTATUS_S_TRUNCATED);

  // The raw layout: value at (k-1)*8200, length at +8192, status at +8196, zero-terminated.
  const std::uint8_t* raw = buffer.data();
  EXPECT_EQ(ReadU32(raw + 0 * kSlotSize + 8196), 3u);
  EXPECT_EQ(ReadU32(raw + 2 * kSlotSize + 8192), 8191u);
  EXPECT_EQ(raw[2 * kSlotSize + 8191], 0);

  // A multi-byte character that crosses the slot's end is left out whole.
  buffer.SetValue(1, std::string(8190, 'a') + "\xE2\x82\xAC");
  EXPECT_EQ(buffer.Value(1), std::string(8190, 'a'));
  EXPECT_EQ(buffer.Status(1), DBSTATUS_S_TRUNCATED);
}

TEST(PropertySetTest, GrowsByOneAndStatementPropertiesAreFixed) {
  PropertySet set(DBPROPSET_DBINIT);
  set.AddString(DBPROP_INIT_DATASOURCE, "server");
  EXPECT_EQ(set.size(), 1u);
  set.AddI2(DBPROP_INIT_PROMPT, DBPROMPT_NOPROMPT);
  set.AddString(DBPROP_INIT_DATASOURCE, "other");
  EXPECT_EQ(set.size(), 3u);
  EXPECT_EQ(set.FindString(DBPROP_INIT_DATASOURCE), "other");  // the later one wins
  EXPECT_EQ(set.FindNumber(DBPROP_INIT_PROMPT), 4);
  EXPECT_FALSE(set.FindString(DBPROP_INIT_CATALOG).has_value());

  const PropertySet rowset = BuildStatementRowsetProperties();
  EXPECT_EQ(rowset.set_id(), DBPROPSET_ROWSET);
  ASSERT_EQ(rowset.size(), 2u);
  EXPECT_EQ(rowset.properties()[0].id, 0x7Eu);
  EXPECT_EQ(rowset.properties()[0].value.type, VT_BOOL);
  EXPECT_EQ(rowset.properties()[0].value.number, -1);  // VARIANT_TRUE: all bits set
  EXPECT_EQ(rowset.properties()[1].id, 0x75u);
  EXPECT_EQ(rowset.properties()[1].value.type, VT_I4);
  EXPECT_EQ(rowset.properties()[1].value.number, 7);
}

TEST(ErrorTextTest, FormatHresultLayout) {
  EXPECT_EQ(FormatHresult("Create DB", E_FAIL),
            "Create DB \r\n failed with error code:[0x80004005] \r\n discription:Unspecified error");
  EXPECT_EQ(FormatHresult("Bind Entry", MakeHresult(0x8badf00d)),
            "Bind Entry \r\n failed with error code:[0x8badf00d] \r\n discription:");
}

class RecordsOf : public ErrorSource {
 public:
  explicit RecordsOf(std::vector<std::string> records) : records_(std::move(records)) {}
  std::vector<std::string> ErrorRecords() const override { return records_; }

 private:
  std::vector<std::string> records_;
};

TEST(ErrorTextTest, ErrorDescriptionTakesTheFirstRecord) {
  EXPECT_EQ(ErrorDescription(nullptr), "Unknown Error!");
  RecordsOf none({});
  EXPECT_EQ(ErrorDescription(&none), "Unknown Error!");
  RecordsOf three({"first", "second", "third"});
  EXPECT_EQ(ErrorDescription(&three), "first");
}

TEST(RegexHelperTest, PatternsTheProgramUses) {
  EXPECT_EQ(RegexReplace("C:/data/Shop.mdb", ".mdb$", ""), "C:/data/Shop");
  EXPECT_EQ(RegexReplace("C:/data/Shop.MDB", ".mdb$", ""), "C:/data/Shop.MDB");  // case-sensitive
  EXPECT_EQ(RegexLastMatch("Shop.mdb", ".mdb$"), ".mdb");
  EXPECT_EQ(RegexLastMatch("Shopxmdb", ".mdb$"), "xmdb");  // the dot matches any character
  EXPECT_EQ(RegexLastMatch("Shop.accdb", ".mdb$"), "");
  EXPECT_EQ(RegexReplace("C:\\dir\\sub/Shop.mdb", ".*(\\\\|/)", ""), "Shop.mdb");
  EXPECT_EQ(RegexReplace("[qty] int default (0),", "(default|DEFAULT)(.*)(,|\\))", "$3"), "[qty] int ,");
  EXPECT_EQ(RegexReplace("a , b,c  ,   d", "[\\s]*,[\\s]*", "`,`"), "a`,`b`,`c`,`d");
  EXPECT_EQ(RegexReplace("C:\\Shop", "[a-zA-Z]:[\\\\|/]", ""), "Shop");
  EXPECT_EQ(RegexReplace("d:/x and e:\\y", "[a-zA-Z]:[\\\\|/]", ""), "x and y");  // global
  EXPECT_EQ(RegexLastMatch("a1 b2 c3", "[a-z][0-9]"), "c3");
}

TEST(RegexHelperTest, InvalidPatternIsAnErrorNotACrash) {
  const Result<std::string> replaced = TryRegexReplace("abc", "(unclosed", "");
  ASSERT_FALSE(replaced.ok());
  EXPECT_EQ(replaced.status().code(), ErrorCode::kInvalidArgument);
  EXPECT_NE(replaced.status().message().find("(unclosed"), std::string::npos);
  EXPECT_EQ(RegexReplace("abc", "[z-a]", "x"), "abc");
  EXPECT_EQ(RegexLastMatch("abc", "*"), "");
}

}  // namespace
}  // namespace tabulon::data
