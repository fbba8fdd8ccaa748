// The quick reading of repeated INSERTs must mean exactly what the full parser reads, and must
// step aside for everything else.
#include "jetsql/quick_insert.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "jetsql/parser.h"

namespace tabulon::jetsql {
namespace {

Insert FullParse(const std::string& sql) {
  auto statement = ParseStatement(sql);
  EXPECT_TRUE(statement.ok()) << sql << ": " << statement.status().ToString();
  if (!statement.ok() || !std::holds_alternative<Insert>(*statement)) return {};
  return std::move(std::get<Insert>(*statement));
}

// Everything a reading gives, as one text.
std::string Shape(const Insert& insert) {
  std::string text = insert.table;
  for (const std::string& column : insert.columns) text += "|" + column;
  for (const Literal& v : insert.values) {
    text += "|" + std::to_string(static_cast<int>(v.kind)) + ":" + v.text + ":" + std::to_string(v.boolean) + ":" +
            std::to_string(v.offset);
  }
  return text;
}

TEST(QuickInsertTest, ReadsWhatTheFullParserReads) {
  const std::vector<std::string> heads = {"INSERT INTO t VALUES ", "insert into `My Table` (a, [b c], d)  values",
                                          "  INSERT INTO t(a,b,c)VALUES"};
  const std::vector<std::string> values = {
      "(1, 'x', NULL)",
      "(-5, +7, 'it''s; (odd)')",
      "( 'a' ,\"b\"\"q\", TRUE ) ;  ",
      "(0x00ff, #2024-02-29 10:30:00#, false)",
      "(12.50, 'ünïcødé ✓', 0x)",
      "(null,'',3.)",
  };
  for (const std::string& head : heads) {
    QuickInsert quick;
    EXPECT_EQ(quick.Parse(head + values[0]), nullptr) << "nothing learnt yet";
    quick.Learn(head + values[0], FullParse(head + values[0]));
    for (const std::string& v : values) {
      const std::string sql = head + v;
      const Insert* fast = quick.Parse(sql);
      ASSERT_NE(fast, nullptr) << sql;
      EXPECT_EQ(Shape(*fast), Shape(FullParse(sql))) << sql;
    }
  }
}

TEST(QuickInsertTest, LeavesEverythingElseToTheFullParser) {
  QuickInsert quick;
  const std::string head = "INSERT INTO t (a, b) VALUES ";
  quick.Learn(head + "(1, 2)", FullParse(head + "(1, 2)"));
  for (const std::string& sql : {
           std::string("INSERT INTO u (a, b) VALUES (1, 2)"),  // another head
           std::string("INSERT INTO t (a, b, c) VALUES (1, 2, 3)"),
           head + "(1)",  // a count that does not match
           head + "(1, 2, 3)",
           head + "(1e5, 2)",  // written in a way left to the lexer
           head + "(.5, 2)",
           head + "(- 5, 2)",
           head + "(0x0, 2)",  // odd hex digits: the lexer's error
           head + "(12abc, 2)",
           head + "('open, 2)",  // unclosed string
           head + "(#2024-01-01, 2)",
           head + "(1, 2) extra",
           head + "(1, 2",
           head + "(1, now())",  // not a plain value
           head + "(1,, 2)",
           std::string("INSERT INTO t (a, b) VALUESX (1, 2)"),
           std::string("INSERT INTO t (a, b) SELECT 1, 2"),
       }) {
    EXPECT_EQ(quick.Parse(sql), nullptr) << sql;
  }
  EXPECT_NE(quick.Parse(head + "(1, 2)"), nullptr);
}

}  // namespace
}  // namespace tabulon::jetsql
