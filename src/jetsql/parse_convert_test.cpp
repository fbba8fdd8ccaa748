// The parser's statement shapes. Type words, literals, value conversion, LIKE, refused statements
// with their texts and positions, the executor and the file it writes are covered by the scripts
// in tests/sql (types.test, convert.test, errors.test and the others).
#include <gtest/gtest.h>

#include "jetsql/parser.h"

namespace tabulon::jetsql {
namespace {

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

// What the columns become in the file is in tests/sql/types.test ("columns" records).
TEST(Parser, CreateTableKeepsDefaultsAndConstraints) {
  auto t = Parsed<CreateTable>(
      "CREATE TABLE [Order Lines] (`ID` COUNTER NOT NULL CONSTRAINT pk PRIMARY KEY, "
      "Qty Short NOT NULL default 0 , Note VarChar (20) default 'a,b' NULL, "
      "At DateTime default Now(), Code Long REFERENCES Codes (Id) ON DELETE CASCADE, "
      "CONSTRAINT u UNIQUE (Qty DESC, Note))");
  EXPECT_EQ(t.table, "Order Lines");
  ASSERT_EQ(t.columns.size(), 5u);
  EXPECT_EQ(t.columns[2].default_value, "'a,b'");
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

// Other refusals and their positions are in tests/sql/errors.test and types.test.
TEST(Parser, EmptyStatementNamesWhatCanStartOne) {
  EXPECT_EQ(ErrorOf(""),
            "syntax error at line 1, column 1: expected CREATE, ALTER, DROP, "
            "INSERT, DELETE or SELECT but found the end of the statement");
}

}  // namespace
}  // namespace tabulon::jetsql
