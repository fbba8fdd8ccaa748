// The Access type of every SQL Server type, decided from the facts sys.all_columns gives for it.
#include "source_sqlserver/column_types.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace tabulon::source_sqlserver {
namespace {

using source_common::ParseTypeMap;
using source_common::TypeMap;

ColumnFacts Facts(int type_id, std::string name, int max_length, int precision = 0, int scale = 0) {
  ColumnFacts c;
  c.name = "C";
  c.type_id = type_id;
  c.type_name = name;
  c.declared_type = std::move(name);
  c.max_length = max_length;
  c.precision = precision;
  c.scale = scale;
  return c;
}


TEST(ColumnTypesTest, EveryBuiltInTypeHasItsAccessType) {
  std::ifstream in(std::string(TABULON_SOURCE_DIR) + "/src/source_sqlserver/column_types.txt");
  ASSERT_TRUE(in.good());
  int cases = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line);
    std::istringstream fields(line);
    ColumnFacts facts = Facts(0, "", 0);
    std::string bar, declared, jet, odbc, exact;
    fields >> facts.type_id >> facts.type_name >> facts.max_length >> facts.precision >> facts.scale >> bar >>
        declared >> bar >> jet >> bar >> odbc >> bar >> exact;
    facts.declared_type = facts.type_name;
    EXPECT_EQ(DeclaredTypeText(facts), declared);
    auto on_jet = DecideColumnType(facts, {}, true);
    auto on_odbc = DecideColumnType(facts, {}, false);
    ASSERT_TRUE(on_jet.ok() && on_odbc.ok());
    EXPECT_EQ(on_jet->type.Text(), jet);
    EXPECT_EQ(on_odbc->type.Text(), odbc);
    EXPECT_EQ(on_jet->note.empty(), exact == "exact") << on_jet->note;
    EXPECT_FALSE(on_jet->auto_number);
    ++cases;
  }
  EXPECT_EQ(cases, 41);
}

TEST(ColumnTypesTest, AliasTypesFollowTheirBaseType) {
  ColumnFacts phone = Facts(167, "varchar", 20);
  phone.declared_type = "Phone";
  EXPECT_EQ(DeclaredTypeText(phone), "Phone");
  EXPECT_EQ(DecideColumnType(phone, {}, true)->type.Text(), "VarChar(20)");
  // A rule may name the alias or its base type.
  auto map = ParseTypeMap("Phone=Text(n)\n", "m");
  ASSERT_TRUE(map.ok());
  EXPECT_EQ(DecideColumnType(phone, *map, true)->type.Text(), "VarChar(20)");
  EXPECT_EQ(DecideColumnType(phone, *map, true)->note, "chosen by the type map m");
}

TEST(ColumnTypesTest, IdentityColumnsBecomeAutoNumberWhereJetHasOne) {
  struct IdentityCase {
    ColumnFacts facts;
    std::string increment;
    std::string type;
    bool auto_number;
    std::string note_holds;
  } cases[] = {
      {Facts(56, "int", 4, 10), "1", "COUNTER", true, "AutoNumber from the identity"},
      {Facts(52, "smallint", 2, 5), "1", "COUNTER", true, "widened to Long"},
      {Facts(48, "tinyint", 1, 3), "5", "COUNTER", true, "not by 5"},
      {Facts(127, "bigint", 8, 19), "1", "Numeric(19,0)", false, "no AutoNumber"},
      {Facts(106, "decimal", 9, 18, 0), "1", "Numeric(18,0)", false, "no AutoNumber"},
  };
  for (IdentityCase& c : cases) {
    SCOPED_TRACE(c.facts.type_name);
    c.facts.identity = true;
    c.facts.seed = "1000";
    c.facts.increment = c.increment;
    auto d = DecideColumnType(c.facts, {}, true);
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(d->type.Text(), c.type);
    EXPECT_EQ(d->auto_number, c.auto_number);
    EXPECT_NE(d->note.find(c.note_holds), std::string::npos) << d->note;
  }
  // A user's rule wins over the AutoNumber, and says that the numbering is not kept.
  ColumnFacts id = Facts(56, "int", 4, 10);
  id.identity = true;
  auto d = DecideColumnType(id, *ParseTypeMap("int=Double\n", "m"), true);
  EXPECT_EQ(d->type.Text(), "Double");
  EXPECT_NE(d->note.find("numbering is not kept"), std::string::npos);
}

TEST(ColumnTypesTest, DecimalsWiderThanAccessKeepEveryValue) {
  const ColumnFacts wide = Facts(106, "decimal", 17, 38, 10);
  auto d = DecideColumnType(wide, {}, true);
  ASSERT_TRUE(d.ok());
  EXPECT_TRUE(d->needs_value_check);
  EXPECT_EQ(DecideWideDecimal(wide, 18).type.Text(), "Numeric(28,10)");
  EXPECT_EQ(DecideWideDecimal(wide, 0).type.Text(), "Numeric(28,10)");
  const ColumnDecision text = DecideWideDecimal(wide, 19);
  EXPECT_EQ(text.type.Text(), "VarChar(40)");  // sign, 38 digits, point
  EXPECT_FALSE(text.note.empty());
  EXPECT_EQ(DecideWideDecimal(Facts(106, "decimal", 17, 38, 0), 38).type.Text(), "VarChar(39)");
}

TEST(ColumnTypesTest, AccessNativePresetGivesDatesAndCharacterLengths) {
  auto map = source_common::TypeMapPreset("access-native");
  ASSERT_TRUE(map.ok());
  const struct {
    ColumnFacts facts;
    std::string type;
  } cases[] = {
      {Facts(61, "datetime", 8, 23, 3), "DateTime"},
      {Facts(42, "datetime2", 8, 27, 7), "DateTime"},
      {Facts(58, "smalldatetime", 4, 16), "DateTime"},
      {Facts(41, "time", 5, 16, 7), "DateTime"},
      {Facts(43, "datetimeoffset", 10, 34, 7), "VarChar(34)"},
      {Facts(231, "nvarchar", 510), "VarChar(255)"},
      {Facts(239, "nchar", 20), "VarChar(10)"},
      {Facts(231, "nvarchar", 512), "LongText"},
      {Facts(231, "nvarchar", -1), "LongText"},
      {Facts(167, "varchar", 300), "LongText"},  // the built-in map's
      {Facts(56, "int", 4, 10), "Long"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(DeclaredTypeText(c.facts));
    EXPECT_EQ(DecideColumnType(c.facts, *map, true)->type.Text(), c.type);
  }
}

}  // namespace
}  // namespace tabulon::source_sqlserver
