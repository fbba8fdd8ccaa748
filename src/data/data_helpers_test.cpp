// Property sets, error texts, and the regular-expression helper's handling of patterns std::regex
// refuses. The row buffer's NULLs, empty values and cuts are proved through every provider in
// tests/data/provider_conformance_test.cpp.
#include <gtest/gtest.h>

#include <string>

#include "data/error_text.h"
#include "data/properties.h"
#include "data/regex_helper.h"

namespace tabulon::data {
namespace {

TEST(PropertySetTest, TheLaterPropertyWins) {
  PropertySet set(DBPROPSET_DBINIT);
  set.AddString(DBPROP_INIT_DATASOURCE, "server");
  EXPECT_EQ(set.size(), 1u);
  set.AddI2(DBPROP_INIT_PROMPT, DBPROMPT_NOPROMPT);
  set.AddString(DBPROP_INIT_DATASOURCE, "other");
  EXPECT_EQ(set.size(), 3u);
  EXPECT_EQ(set.FindString(DBPROP_INIT_DATASOURCE), "other");  // the later one wins
  EXPECT_EQ(set.FindNumber(DBPROP_INIT_PROMPT), 4);
  EXPECT_FALSE(set.FindString(DBPROP_INIT_CATALOG).has_value());
}

class RecordsOf : public ErrorSource {
 public:
  explicit RecordsOf(std::vector<std::string> records) : records_(std::move(records)) {}
  std::vector<std::string> ErrorRecords() const override { return records_; }

 private:
  std::vector<std::string> records_;
};

// A code's layout with its description (none for an unknown code); a source's first record.
TEST(ErrorTextTest, HresultLayoutAndFirstRecord) {
  EXPECT_EQ(FormatHresult("Create DB", E_FAIL),
            "Create DB \r\n failed with error code:[0x80004005] \r\n discription:Unspecified error");
  EXPECT_EQ(FormatHresult("Bind Entry", MakeHresult(0x8badf00d)),
            "Bind Entry \r\n failed with error code:[0x8badf00d] \r\n discription:");
  const RecordsOf none({}), three({"first", "second", "third"});
  EXPECT_EQ(ErrorDescription(nullptr), "Unknown Error!");
  EXPECT_EQ(ErrorDescription(&none), "Unknown Error!");
  EXPECT_EQ(ErrorDescription(&three), "first");
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
