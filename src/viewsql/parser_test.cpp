// The view parser on the views of testdata/views_*.sql (cut by SplitScript), printed as trees or
// errors into the golden file testdata/trees.txt; the nesting limits; the script splitter.
#include "viewsql/parser.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "jet_test_files.h"

namespace tabulon::viewsql {
namespace {

std::string At(Position at) { return "@" + std::to_string(at.line) + ":" + std::to_string(at.column); }

std::string Name(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "[" : ".[") + part + "]";
  return out;
}

std::string Print(const Select& select, int indent);

std::string Print(const Expr& e, int indent) {
  std::string out;
  auto args = [&](size_t from) {
    for (size_t i = from; i < e.args.size(); ++i) out += " " + Print(*e.args[i], indent);
  };
  auto sub = [&] { out += "\n" + Print(*e.subquery, indent + 4); };
  const std::string no = e.negated ? "not-" : "";
  switch (e.kind) {
    case Expr::Kind::kLiteral: {
      static const char* kKinds[] = {"null", "str", "nstr", "num", "hex", "bool"};
      out = std::string(kKinds[static_cast<int>(e.literal_kind)]) + ":" + e.text;
      break;
    }
    case Expr::Kind::kColumn: out = Name(e.name); break;
    case Expr::Kind::kStar: out = Name(e.name) + (e.name.empty() ? "*" : ".*"); break;
    case Expr::Kind::kVariable: out = "@" + Name(e.name); break;
    case Expr::Kind::kUnary:
    case Expr::Kind::kBinary: out = "(" + e.op, args(0), out += ")"; break;
    case Expr::Kind::kFunction:
      out = e.function + "(" + (e.distinct ? "distinct" : "") + (e.star_argument ? "*" : "");
      args(0);
      out += ")";
      break;
    case Expr::Kind::kCase:
      out = std::string("(case") + (e.has_operand ? "-of" : "") + (e.has_else ? "-else" : "");
      args(0);
      out += ")";
      break;
    case Expr::Kind::kCast: out = "(cast " + e.type, args(0), out += ")"; break;
    case Expr::Kind::kIsNull: out = "(is-" + no + "null", args(0), out += ")"; break;
    case Expr::Kind::kBetween: out = "(" + no + "between", args(0), out += ")"; break;
    case Expr::Kind::kLike: out = "(" + no + "like", args(0), out += ")"; break;
    case Expr::Kind::kIn:
      out = "(" + no + "in", args(0);
      if (e.subquery) sub();
      out += ")";
      break;
    case Expr::Kind::kExists: out = "(" + no + "exists", sub(), out += ")"; break;
    case Expr::Kind::kSubquery: out = "(subquery", sub(), out += ")"; break;
  }
  return (e.parenthesized ? "{" + out + "}" : out) + At(e.at);
}

std::string Print(const TableRef& t, int indent) {
  const std::string pad(indent, ' ');
  const std::string alias = t.alias.empty() ? "" : " as [" + t.alias + "]";
  switch (t.kind) {
    case TableRef::Kind::kTable: return pad + "table " + Name(t.name) + alias + At(t.at) + "\n";
    case TableRef::Kind::kDerived: return pad + "derived" + alias + At(t.at) + "\n" + Print(*t.derived, indent + 2);
    case TableRef::Kind::kJoin: {
      static const char* kJoins[] = {"inner", "left", "right", "full", "cross"};
      std::string out = pad + kJoins[static_cast<int>(t.join)] + " join" + At(t.at) + "\n";
      out += Print(*t.left, indent + 2) + Print(*t.right, indent + 2);
      return out + (t.on ? pad + "  on " + Print(*t.on, indent + 2) + "\n" : "");
    }
  }
  return "";
}

std::string Print(const Select& s, int indent) {
  const std::string pad(indent, ' ');
  std::string out = pad + "select" + At(s.at) + (s.distinct ? " distinct" : "");
  if (s.top) out += " top " + Print(*s.top, indent) + (s.top_percent ? " percent" : "");
  out += "\n";
  for (const SelectItem& item : s.items) {
    out +=
        pad + "  item " + Print(*item.expr, indent + 2) + (item.alias.empty() ? "" : " as [" + item.alias + "]") + "\n";
  }
  if (!s.from.empty()) out += pad + "  from\n";
  for (const TableRefPtr& t : s.from) out += Print(*t, indent + 4);
  if (s.where) out += pad + "  where " + Print(*s.where, indent + 2) + "\n";
  for (const ExprPtr& e : s.group_by) out += pad + "  group " + Print(*e, indent + 2) + "\n";
  if (s.having) out += pad + "  having " + Print(*s.having, indent + 2) + "\n";
  for (const Select::UnionPart& part : s.unions) {
    out += pad + (part.all ? "  union all\n" : "  union\n") + Print(*part.select, indent + 4);
  }
  for (const OrderItem& o : s.order_by) {
    out += pad + "  order " + Print(*o.expr, indent + 2) + (o.descending ? " desc" : "") + "\n";
  }
  return out;
}

std::string Outcome(const ScriptStatement& statement, Dialect dialect) {
  std::string upper = statement.text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.find("CREATE") < upper.find("SELECT")) {
    auto parsed = ParseView(statement.text, dialect);
    if (!parsed.ok()) return "error " + parsed.status().ToString() + "\n";
    std::string columns;
    for (const std::string& c : parsed->columns) columns += " [" + c + "]";
    return "view " + Name(parsed->name) + columns + At(parsed->at) + "\n" + Print(*parsed->select, 0);
  }
  auto parsed = ParseSelect(statement.text, dialect);
  return parsed.ok() ? Print(**parsed, 0) : "error " + parsed.status().ToString() + "\n";
}

TEST(ViewParserTest, CorpusMatchesGoldenTrees) {
  std::string shown;
  for (auto [file, dialect] :
       {std::pair{"views_tsql.sql", Dialect::kTransactSql}, {"views_sqlite.sql", Dialect::kSqlite}}) {
    const std::string text = testing::ReadTextFile(std::string(TABULON_SOURCE_DIR) + "/src/viewsql/testdata/" + file);
    ASSERT_FALSE(text.empty()) << file;
    for (const ScriptStatement& statement : SplitScript(text, dialect)) {
      shown += "## " + std::string(file) + " " + At(statement.at) + "\n" + Outcome(statement, dialect) + "\n";
    }
  }
  testing::ExpectGoldenFile("src/viewsql/testdata/trees.txt", shown);
}

// Nesting past the limit is an error, not a stack overflow, and so is a chain of operators that
// would build a tree too tall to free by recursion; a long flat list is fine.
TEST(ViewParserTest, DeepInputIsRefusedWithoutExhaustingTheStack) {
  auto nested = [](int depth, const std::string& open, const std::string& close) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += open;
    text += "1";
    for (int i = 0; i < depth; ++i) text += close;
    return text;
  };
  for (Dialect dialect : {Dialect::kTransactSql, Dialect::kSqlite}) {
    EXPECT_TRUE(ParseExpression(nested(150, "(", ")"), dialect).ok());
    for (const std::string& deep :
         {nested(5000, "(", ")"), nested(5000, "- ", ""), nested(5000, "NOT ", ""), nested(300, "(SELECT ", ")"),
          nested(300, "f(", ")"), nested(300, "CASE WHEN 1 THEN ", " END")}) {
      auto parsed = ParseExpression(deep, dialect);
      ASSERT_FALSE(parsed.ok());
      EXPECT_EQ(parsed.status().code(), ErrorCode::kInvalidArgument);
      EXPECT_NE(parsed.status().message().find("nesting deeper than 200 levels"), std::string::npos)
          << parsed.status().message();
    }
    std::string chain = "1";
    for (int i = 0; i < 5000; ++i) chain += " + 1";
    auto tall = ParseExpression(chain, dialect);
    ASSERT_FALSE(tall.ok());
    EXPECT_NE(tall.status().message().find("more than 1000 levels of operators"), std::string::npos)
        << tall.status().message();
    std::string joins = "SELECT * FROM t0";
    for (int i = 1; i < 5000; ++i) joins += " JOIN t" + std::to_string(i) + " ON 1 = 1";
    EXPECT_FALSE(ParseSelect(joins, dialect).ok());
    std::string list = "x IN (0";
    for (int i = 1; i < 20000; ++i) list += ", " + std::to_string(i);
    EXPECT_TRUE(ParseExpression(list + ")", dialect).ok());
  }
}

TEST(ViewParserTest, SplitScriptKeepsQuotedSeparatorsAndPositions) {
  const std::string script =
      "SELECT ';' AS [a;b], \"c;\" -- x;\nFROM t; /* ; */\n  go\nSELECT 2\nGO\n\n;  ;\n"
      "SELECT 'GO\nGO' /* /* nested ; */ still; */ FROM u\nGOTO";
  auto tsql = SplitScript(script, Dialect::kTransactSql);
  ASSERT_EQ(tsql.size(), 3u);
  EXPECT_EQ(tsql[0].text, "SELECT ';' AS [a;b], \"c;\" -- x;\nFROM t");
  EXPECT_EQ(tsql[1].text, "SELECT 2");
  EXPECT_EQ(tsql[1].at.line, 4);
  EXPECT_EQ(tsql[2].text, "SELECT 'GO\nGO' /* /* nested ; */ still; */ FROM u\nGOTO");
  EXPECT_EQ(tsql[2].at.line, 8);
  EXPECT_EQ(tsql[2].at.column, 1);
  // SQLite has no GO and its comments do not nest.
  auto sqlite = SplitScript(script, Dialect::kSqlite);
  ASSERT_EQ(sqlite.size(), 4u);
  EXPECT_EQ(sqlite[1].text, "/* ; */\n  go\nSELECT 2\nGO");
  EXPECT_EQ(sqlite[2].text, "SELECT 'GO\nGO' /* /* nested ; */ still");
  EXPECT_EQ(sqlite[3].text, "*/ FROM u\nGOTO");
}

}  // namespace
}  // namespace tabulon::viewsql
