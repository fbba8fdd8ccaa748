// The Access type of every SQL Server type, decided from the facts sys.all_columns gives for it.
#include "source_sqlserver/column_types.h"

#include <gtest/gtest.h>

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

struct Case {
  ColumnFacts facts;
  std::string declared;  // DeclaredTypeText
  std::string jet;       // the Access type for the built-in engine
  std::string odbc;      // for an Access ODBC driver
  bool exact;            // no note
};

TEST(ColumnTypesTest, EveryBuiltInTypeHasItsAccessType) {
  const Case cases[] = {
      {Facts(34, "image", 16), "image", "LongBinary", "LongBinary", true},
      {Facts(35, "text", 16), "text", "LongText", "LongText", true},
      {Facts(36, "uniqueidentifier", 16), "uniqueidentifier", "GUID", "GUID", true},
      {Facts(40, "date", 3, 10), "date", "DateTime", "DateTime", true},
      {Facts(41, "time", 5, 16, 7), "time(7)", "VarChar(18)", "VarChar(18)", false},
      {Facts(42, "datetime2", 8, 27, 7), "datetime2(7)", "VarChar(30)", "VarChar(30)", false},
      {Facts(43, "datetimeoffset", 10, 34, 7), "datetimeoffset(7)", "VarChar(36)", "VarChar(36)", false},
      {Facts(48, "tinyint", 1, 3), "tinyint", "Byte", "Byte", true},
      {Facts(52, "smallint", 2, 5), "smallint", "Short", "Short", true},
      {Facts(56, "int", 4, 10), "int", "Long", "Long", true},
      {Facts(58, "smalldatetime", 4, 16), "smalldatetime", "DateTime", "DateTime", true},
      {Facts(59, "real", 4, 24), "real", "Single", "Single", true},
      {Facts(60, "money", 8, 19, 4), "money", "Currency", "Currency", true},
      {Facts(61, "datetime", 8, 23, 3), "datetime", "VarChar(30)", "VarChar(30)", false},
      {Facts(62, "float", 8, 53), "float", "Double", "Double", true},
      {Facts(98, "sql_variant", 8016), "sql_variant", "LongText", "LongText", false},
      {Facts(99, "ntext", 16), "ntext", "LongText", "LongText", true},
      {Facts(104, "bit", 1, 1), "bit", "Bit", "Bit", true},
      {Facts(106, "decimal", 9, 18, 2), "decimal(18,2)", "Numeric(18,2)", "Numeric", true},
      {Facts(108, "numeric", 13, 28, 28), "numeric(28,28)", "Numeric(28,28)", "Numeric", true},
      {Facts(122, "smallmoney", 4, 10, 4), "smallmoney", "Currency", "Currency", true},
      {Facts(127, "bigint", 8, 19), "bigint", "Numeric(19,0)", "Long", false},
      {Facts(128, "hierarchyid", 892), "hierarchyid", "LongBinary", "LongBinary", false},
      {Facts(129, "geometry", -1), "geometry", "LongBinary", "LongBinary", false},
      {Facts(130, "geography", -1), "geography", "LongBinary", "LongBinary", false},
      {Facts(165, "varbinary", 255), "varbinary(255)", "Binary(255)", "Binary(255)", true},
      // Jet holds at most 255 bytes in Binary: the values stay whole in LongBinary.
      {Facts(165, "varbinary", 300), "varbinary(300)", "LongBinary", "LongBinary", false},
      {Facts(173, "binary", 510), "binary(510)", "LongBinary", "LongBinary", false},
      {Facts(165, "varbinary", -1), "varbinary(max)", "LongBinary", "LongBinary", true},
      {Facts(167, "varchar", 255), "varchar(255)", "VarChar(255)", "VarChar(255)", true},
      {Facts(167, "varchar", 256), "varchar(256)", "LongText", "LongText", false},
      {Facts(167, "varchar", -1), "varchar(max)", "LongText", "LongText", true},
      {Facts(175, "char", 10), "char(10)", "VarChar(10)", "VarChar(10)", true},
      {Facts(189, "timestamp", 8), "timestamp", "VarChar(18)", "VarChar(18)", false},
      {Facts(231, "nvarchar", 200), "nvarchar(100)", "VarChar(200)", "VarChar(200)", false},
      {Facts(231, "nvarchar", 256), "nvarchar(128)", "LongText", "LongText", false},
      {Facts(231, "nvarchar", -1), "nvarchar(max)", "LongText", "LongText", true},
      {Facts(239, "nchar", 2), "nchar(1)", "VarChar(2)", "VarChar(2)", false},
      {Facts(241, "xml", -1), "xml", "LongText", "LongText", false},
      {Facts(256, "sysname", 256), "sysname", "VarChar(255)", "VarChar(255)", true},
      // A type Access has no word for keeps SQL Server's name; the target refuses it by name.
      {Facts(244, "json", 8000), "json", "json(8000)", "json(8000)", true},
  };
  const TypeMap none;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.declared);
    EXPECT_EQ(DeclaredTypeText(c.facts), c.declared);
    auto jet = DecideColumnType(c.facts, none, true);
    auto odbc = DecideColumnType(c.facts, none, false);
    ASSERT_TRUE(jet.ok() && odbc.ok());
    EXPECT_EQ(jet->type.Text(), c.jet);
    EXPECT_EQ(odbc->type.Text(), c.odbc);
    EXPECT_EQ(jet->note.empty(), c.exact) << jet->note;
    EXPECT_FALSE(jet->auto_number);
  }
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
