// The translator on the views of testdata/views_*.sql: each one's Access SQL (or why it has
// none) in the golden file testdata/translations.txt, and each Access SQL read by the engine's
// Access SQL parser as the view it would store. Column classes come from a small catalog that
// names them by their column names, so the rules that depend on them (dates, Yes/No, text, whole
// numbers) are shown.
#include "viewsql/translate.h"

#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "jet_test_files.h"
#include "jetsql/parser.h"
#include "viewsql/parser.h"

namespace tabulon::viewsql {
namespace {

ValueClass ClassByName(const std::vector<std::string>&, std::string_view column) {
  const std::string c = AsciiLower(column);
  if (c.find("date") != std::string::npos || c == "taken" || c == "ordered") return ValueClass::kDate;
  if (c.find("name") != std::string::npos || c == "region" || c == "country" || c == "notes") return ValueClass::kText;
  if (c == "active" || c == "discontinued" || c == "alarm") return ValueClass::kBoolean;
  if (c.ends_with("id") || c == "quantity" || c == "qty") return ValueClass::kInteger;
  return ValueClass::kUnknown;
}

std::string Outcome(const ScriptStatement& statement, Dialect dialect, const Catalog& catalog) {
  auto view = ParseView(statement.text, dialect);
  Result<std::string> access = std::string();
  if (view.ok()) {
    access = TranslateView(*view, dialect, catalog);
  } else {
    // A SELECT alone, as a user would give one.
    auto select = ParseSelect(statement.text, dialect);
    if (!select.ok()) return "not parsed: " + select.status().message() + "\n";
    access = TranslateSelect(**select, dialect, catalog);
  }
  if (!access.ok()) return "not translated: " + access.status().message() + "\n";
  auto stored = jetsql::ParseStatement(*access);
  const std::string engine = stored.ok() ? "" : "engine refuses: " + stored.status().message() + "\n";
  return *access + "\n" + engine;
}

TEST(ViewTranslateTest, CorpusMatchesGoldenTranslations) {
  Catalog catalog;
  catalog.table_name = [](const std::vector<std::string>& parts) {
    return parts.back() == "Order Details" ? std::string("Order_Details") : parts.back();
  };
  catalog.column_class = ClassByName;
  std::string shown;
  for (auto [file, dialect] :
       {std::pair{"views_tsql.sql", Dialect::kTransactSql}, {"views_sqlite.sql", Dialect::kSqlite}}) {
    const std::string text = testing::ReadTextFile(std::string(TABULON_SOURCE_DIR) + "/src/viewsql/testdata/" + file);
    ASSERT_FALSE(text.empty()) << file;
    for (const ScriptStatement& statement : SplitScript(text, dialect)) {
      shown += "## " + std::string(file) + " line " + std::to_string(statement.at.line) + "\n" +
               Outcome(statement, dialect, catalog) + "\n";
    }
  }
  testing::ExpectGoldenFile("src/viewsql/testdata/translations.txt", shown);
}

}  // namespace
}  // namespace tabulon::viewsql
