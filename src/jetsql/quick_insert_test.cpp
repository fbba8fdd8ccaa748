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
  return std::get<Insert>(*statement);
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
      const Insert full = FullParse(sql);
      const Insert* fast = quick.Parse(sql);
      ASSERT_NE(fast, nullptr) << sql;
      EXPECT_EQ(fast->table, full.table) << sql;
      EXPECT_EQ(fast->columns, full.columns) << sql;
      ASSERT_EQ(fast->values.size(), full.values.size()) << sql;
      for (size_t k = 0; k < full.values.size(); ++k) {
        SCOPED_TRACE(sql + " value " + std::to_string(k));
        EXPECT_EQ(fast->values[k].kind, full.values[k].kind);
        EXPECT_EQ(fast->values[k].text, full.values[k].text);
        EXPECT_EQ(fast->values[k].boolean, full.values[k].boolean);
        EXPECT_EQ(fast->values[k].offset, full.values[k].offset);
      }
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
