// The parser's statement shapes, the type words, value conversion and LIKE. Refused statements
// with their texts and positions, the executor and the file it writes are covered by the scripts
// in tests/sql.
#include <gtest/gtest.h>

#include "jet/values.h"
#include "jetsql/convert.h"
#include "jetsql/executor.h"
#include "jetsql/parser.h"

namespace tabulon::jetsql {
namespace {

using jet::ColumnType;

template <typename T>
T Parsed(std::string_view sql) {
  auto statement = ParseStatement(sql);
  EXPECT_TRUE(statement.ok()) << statement.status().ToString();
  if (!statement.ok() || !std::holds_alternative<T>(*statement)) {
    ADD_FAILURE() << "not the expected statement kind: " << sql;
    return T{};
  }
  return std::get<T>(std::move(*statement));
}

std::string ErrorOf(std::string_view sql) {
  auto statement = ParseStatement(sql);
  return statement.ok() ? "(parsed)" : statement.status().message();
}

TEST(Parser, CreateTableKeepsNullabilityDefaultsAndConstraints) {
  auto t = Parsed<CreateTable>(
      "CREATE TABLE [Order Lines] (`ID` COUNTER NOT NULL CONSTRAINT pk PRIMARY KEY, "
      "Qty Short NOT NULL default 0 , Note VarChar (20) default 'a,b' NULL, "
      "At DateTime default Now(), Code Long REFERENCES Codes (Id) ON DELETE CASCADE, "
      "CONSTRAINT u UNIQUE (Qty DESC, Note))");
  EXPECT_EQ(t.table, "Order Lines");
  ASSERT_EQ(t.columns.size(), 5u);
  EXPECT_TRUE(t.columns[0].auto_number);
  EXPECT_TRUE(t.columns[1].not_null);
  EXPECT_EQ(t.columns[1].default_value, "0");
  EXPECT_EQ(t.columns[2].type, ColumnType::kText);
  EXPECT_EQ(t.columns[2].size, 20);
  EXPECT_EQ(t.columns[2].default_value, "'a,b'");
  EXPECT_FALSE(t.columns[2].not_null);
  EXPECT_EQ(t.columns[3].default_value, "Now()");
  ASSERT_EQ(t.constraints.size(), 3u);
  EXPECT_EQ(t.constraints[0].kind, Constraint::Kind::kPrimaryKey);
  EXPECT_EQ(t.constraints[0].name, "pk");
  EXPECT_EQ(t.constraints[1].kind, Constraint::Kind::kForeignKey);
  EXPECT_EQ(t.constraints[1].referenced_table, "Codes");
  EXPECT_TRUE(t.constraints[1].cascade_delete);
  EXPECT_FALSE(t.constraints[1].cascade_update);
  EXPECT_EQ(t.constraints[2].kind, Constraint::Kind::kUnique);
  ASSERT_EQ(t.constraints[2].columns.size(), 2u);
  EXPECT_FALSE(t.constraints[2].columns[0].ascending);
}

TEST(Parser, KeyIndexAndViewStatements) {
  auto fk = Parsed<AlterTable>(
      "ALTER TABLE `Orders` ADD CONSTRAINT `FK_1` FOREIGN KEY (`Cust`, `Site`) REFERENCES "
      "`Customers` (`ID`, `Site`) ON UPDATE CASCADE ON DELETE CASCADE");
  EXPECT_EQ(fk.action, AlterTable::Action::kAddConstraint);
  EXPECT_EQ(fk.constraint.name, "FK_1");
  EXPECT_EQ(fk.constraint.referenced_columns, (std::vector<std::string>{"ID", "Site"}));
  EXPECT_TRUE(fk.constraint.cascade_update && fk.constraint.cascade_delete);

  auto pk = Parsed<AlterTable>("alter table T add primary key (a, b)");
  EXPECT_EQ(pk.constraint.kind, Constraint::Kind::kPrimaryKey);
  EXPECT_TRUE(pk.constraint.name.empty());

  auto index = Parsed<CreateIndex>("CREATE UNIQUE INDEX ix ON T (a DESC, b) WITH PRIMARY");
  EXPECT_TRUE(index.unique && index.primary);
  EXPECT_FALSE(index.columns[0].ascending);

  auto drop = Parsed<Drop>("drop index ix on T;");
  EXPECT_EQ(drop.kind, Drop::Kind::kIndex);
  EXPECT_EQ(drop.table, "T");

  auto view = Parsed<CreateView>("CREATE VIEW v AS SELECT a, b FROM T WHERE a > 1 ORDER BY b ;");
  EXPECT_EQ(view.text, "SELECT a, b FROM T WHERE a > 1 ORDER BY b");
}

TEST(Parser, InsertLiterals) {
  auto insert = Parsed<Insert>(
      "insert into T (a,b,c,d,e,f,g) values (-12.5, 'it''s', \"dq\", #1/2/2024#, 0x00ff, NULL, "
      "TRUE)");
  ASSERT_EQ(insert.values.size(), 7u);
  EXPECT_EQ(insert.values[0].text, "-12.5");
  EXPECT_EQ(insert.values[1].text, "it's");
  EXPECT_EQ(insert.values[2].kind, Literal::Kind::kString);
  EXPECT_EQ(insert.values[3].kind, Literal::Kind::kDate);
  EXPECT_EQ(insert.values[4].text, std::string("\x00\xff", 2));
  EXPECT_EQ(insert.values[5].kind, Literal::Kind::kNull);
  EXPECT_TRUE(insert.values[6].boolean);
}

// Other refusals and their positions are in tests/sql/errors.test and types.test.
TEST(Parser, EmptyStatementNamesWhatCanStartOne) {
  EXPECT_EQ(ErrorOf(""),
            "syntax error at line 1, column 1: expected CREATE, ALTER, DROP, "
            "INSERT, DELETE or SELECT but found the end of the statement");
}

TEST(TypeWords, MigrationWordsAndSynonyms) {
  struct Case {
    const char* word;
    std::vector<uint32_t> args;
    ColumnType type;
    uint16_t size;
    uint8_t scale;
  };
  const Case cases[] = {
      {"Bit", {}, ColumnType::kBoolean, 0, 0},       {"YESNO", {}, ColumnType::kBoolean, 0, 0},
      {"GUID", {}, ColumnType::kGuid, 0, 0},         {"Byte", {}, ColumnType::kByte, 0, 0},
      {"Short", {}, ColumnType::kInteger, 0, 0},     {"smallint", {}, ColumnType::kInteger, 0, 0},
      {"Long", {}, ColumnType::kLong, 0, 0},         {"INTEGER", {}, ColumnType::kLong, 0, 0},
      {"Single", {}, ColumnType::kSingle, 0, 0},     {"REAL", {}, ColumnType::kSingle, 0, 0},
      {"Double", {}, ColumnType::kDouble, 0, 0},     {"FLOAT", {}, ColumnType::kDouble, 0, 0},
      {"NUMERIC", {}, ColumnType::kDouble, 0, 0},    {"Numeric", {18, 2}, ColumnType::kNumeric, 18, 2},
      {"DECIMAL", {}, ColumnType::kNumeric, 18, 0},  {"Currency", {}, ColumnType::kCurrency, 0, 0},
      {"DateTime", {}, ColumnType::kDateTime, 0, 0}, {"VarChar", {50}, ColumnType::kText, 50, 0},
      {"TEXT", {}, ColumnType::kText, 255, 0},       {"CHAR", {5}, ColumnType::kText, 5, 0},
      {"LongText", {}, ColumnType::kMemo, 0, 0},     {"MEMO", {}, ColumnType::kMemo, 0, 0},
      {"Binary", {8}, ColumnType::kBinary, 8, 0},    {"VARBINARY", {}, ColumnType::kBinary, 255, 0},
      {"LongBinary", {}, ColumnType::kOle, 0, 0},    {"OLEOBJECT", {}, ColumnType::kOle, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    auto r = ResolveTypeWord(c.word, c.args);
    ASSERT_TRUE(r.ok()) << r.status().ToString();
    EXPECT_EQ(r->type, c.type);
    EXPECT_EQ(r->size, c.size);
    EXPECT_EQ(r->scale, c.scale);
  }
  EXPECT_TRUE(ResolveTypeWord("COUNTER", {})->auto_number);
  EXPECT_TRUE(ResolveTypeWord("AutoIncrement", {1, 1})->auto_number);
}

jet::ColumnDefinition Column(ColumnType type, uint16_t size = 0, uint8_t scale = 0) {
  return jet::NewColumn("C", type, size, scale);
}

Literal Text(std::string text) { return {Literal::Kind::kString, std::move(text), false, 0}; }
Literal Number(std::string text) { return {Literal::Kind::kNumber, std::move(text), false, 0}; }

std::string Converted(const Literal& literal, const jet::ColumnDefinition& column) {
  auto v = ConvertLiteral(literal, column);
  if (!v.ok()) return "error: " + v.status().message();
  return jet::FormatValue(*v).value_or("NULL");
}

TEST(Convert, ExactNumbers) {
  const auto currency = Column(ColumnType::kCurrency);
  EXPECT_EQ(Converted(Number("-922337203685477.5808"), currency), "-922337203685477.5808");
  EXPECT_NE(Converted(Number("922337203685477.5808"), currency).find("out of range"), std::string::npos);
  EXPECT_EQ(Converted(Text(" 1.10 "), currency), "1.1");
  EXPECT_EQ(Converted(Number("1.5e3"), currency), "1500");
  EXPECT_EQ(Converted(Number("0.12340"), currency), "0.1234");  // trailing zeros are no loss

  const auto decimal = Column(ColumnType::kNumeric, 28, 10);
  EXPECT_EQ(Converted(Number("999999999999999999.9999999999"), decimal), "999999999999999999.9999999999");
  EXPECT_EQ(Converted(Number("-0.0000000001"), decimal), "-0.0000000001");
  EXPECT_NE(Converted(Number("1e18"), decimal).find("digits before the point"), std::string::npos);

  const auto integer = Column(ColumnType::kInteger);
  EXPECT_EQ(Converted(Number("-32768"), integer), "-32768");
  EXPECT_EQ(Converted(Text("1e2"), integer), "100");
  EXPECT_NE(Converted(Number("99999999999999999999999"), integer).find("out of range"), std::string::npos);
  EXPECT_NE(Converted(Text("12abc"), integer).find("is not a number"), std::string::npos);
  EXPECT_EQ(Converted({Literal::Kind::kBoolean, "", true, 0}, integer), "-1");

  EXPECT_EQ(Converted(Number("3.4e38"), Column(ColumnType::kSingle)), "3.4e+38");
  EXPECT_NE(Converted(Number("3.5e38"), Column(ColumnType::kSingle)).find("out of range"), std::string::npos);
  EXPECT_NE(Converted(Text("inf"), Column(ColumnType::kDouble)).find("not a number"), std::string::npos);
  EXPECT_EQ(Converted(Text("-1.25E-3"), Column(ColumnType::kDouble)), "-0.00125");
}

TEST(Convert, DatesGuidsBooleansAndBytes) {
  const auto date = Column(ColumnType::kDateTime);
  EXPECT_EQ(Converted(Text("2024-01-31 13:45:10.250"), date), "2024-01-31 13:45:10.250");
  EXPECT_EQ(Converted(Text("12/31/2024 12:00 AM"), date), "2024-12-31 00:00:00");
  EXPECT_EQ(Converted(Text("2/29/2024 12:30:01 pm"), date), "2024-02-29 12:30:01");
  EXPECT_EQ(Converted(Text("2024-01-31 23:59:59.9996"), date), "2024-02-01 00:00:00");
  EXPECT_EQ(Converted(Text("1850-06-01 06:00:00"), date), "1850-06-01 06:00:00");
  EXPECT_EQ(Converted(Text("13:45"), date), "1899-12-30 13:45:00");
  for (const char* bad : {"2024-13-01", "2024-01-31 24:00:00", "31/12/2024", "2024-01-31x", "13:00 PM", ""}) {
    EXPECT_NE(Converted(Text(bad), date).find("is not a date"), std::string::npos) << bad;
  }

  const auto guid = Column(ColumnType::kGuid);
  EXPECT_EQ(Converted(Text("{6f9619ff-8b86-d011-b42d-00c04fc964ff}"), guid), "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");

  const auto flag = Column(ColumnType::kBoolean);
  EXPECT_EQ(Converted(Text("Yes"), flag), "true");
  EXPECT_EQ(Converted(Number("0"), flag), "false");
  EXPECT_EQ(Converted(Number("-1"), flag), "true");

  const auto binary = Column(ColumnType::kBinary, 10);
  EXPECT_EQ(Converted(Text("0x0A0b"), binary), "0a0b");
  EXPECT_EQ(Converted(Text("ab"), binary), "61006200");  // text is stored as UTF-16LE
  EXPECT_NE(Converted(Number("5"), binary).find("no binary value"), std::string::npos);
  EXPECT_NE(
      Converted({Literal::Kind::kBinary, "\x01", false, 0}, Column(ColumnType::kText, 5)).find("fits only Binary"),
      std::string::npos);
}

TEST(Like, JetWildcards) {
  EXPECT_TRUE(MatchLike("Hello", "h*O"));
  EXPECT_TRUE(MatchLike("Hello", "H?llo"));
  EXPECT_FALSE(MatchLike("Hello", "H?lo"));
  EXPECT_TRUE(MatchLike("a1b", "a#b"));
  EXPECT_FALSE(MatchLike("axb", "a#b"));
  EXPECT_TRUE(MatchLike("cat", "[a-c]at"));
  EXPECT_FALSE(MatchLike("cat", "[!a-c]at"));
  EXPECT_TRUE(MatchLike("x*y", "x[*]y"));
  EXPECT_TRUE(MatchLike("\xC3\xA9t\xC3\xA9", "?t?"));  // one character, not one byte
  EXPECT_TRUE(MatchLike("abcabd", "*ab?"));
  EXPECT_TRUE(MatchLike("", "*"));
  EXPECT_FALSE(MatchLike("", "?"));
}

}  // namespace
}  // namespace tabulon::jetsql
