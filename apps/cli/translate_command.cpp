// tabulon-cli translate: the Access SQL of each CREATE VIEW of a Transact-SQL or SQLite script,
// for users who port views by hand; the migration uses the same translator.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "commands.h"
#include "viewsql/parser.h"
#include "viewsql/translate.h"

namespace {

using tabulon::viewsql::Dialect;

constexpr const char* kTranslateUsage =
    "Usage: tabulon-cli translate --from tsql|sqlite [FILE|-]\n"
    "  Prints the Access SQL of each CREATE VIEW of FILE (standard input when FILE is - or\n"
    "  missing); statements are separated by ';' or, for tsql, by GO lines. A view that cannot\n"
    "  be translated is named on standard error with the reason and where it is.\n"
    "Exit codes: 0 every view was translated, 1 one or more could not be (or the file cannot be\n"
    "read), 2 bad usage.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "tabulon-cli translate: %s\n%s", problem.c_str(), kTranslateUsage);
  return 2;
}

}  // namespace

int RunTranslateCommand(int argc, char** argv) {
  std::string from, path;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kTranslateUsage, stdout);
      return 0;
    }
    if (arg == "--from" && i + 1 < argc) {
      from = argv[++i];
    } else if (arg.starts_with("--")) {
      return Usage("unknown option '" + arg + "'");
    } else if (path.empty()) {
      path = arg;
    } else {
      return Usage("one FILE only");
    }
  }
  if (from != "tsql" && from != "sqlite") return Usage("--from must be tsql or sqlite");
  const Dialect dialect = from == "tsql" ? Dialect::kTransactSql : Dialect::kSqlite;
  std::string text;
  if (path.empty() || path == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "tabulon-cli translate: cannot read %s\n", path.c_str());
      return 1;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  int code = 0;
  for (const tabulon::viewsql::ScriptStatement& statement : tabulon::viewsql::SplitScript(text, dialect)) {
    const std::string name = tabulon::viewsql::ViewName(statement.text, dialect);
    if (name.empty()) continue;  // not a view
    // Placed where it stands in the file, so that positions are the file's.
    const std::string placed = std::string(static_cast<size_t>(statement.at.line - 1), '\n') +
                               std::string(static_cast<size_t>(statement.at.column - 1), ' ') + statement.text;
    const auto view = tabulon::viewsql::ParseView(placed, dialect);
    tabulon::Result<std::string> access =
        view.ok() ? tabulon::viewsql::TranslateView(*view, dialect, {}) : tabulon::Result<std::string>(view.status());
    if (!access.ok()) {
      std::fflush(stdout);  // the views before it first
      std::fprintf(stderr, "View [%s] not translated: %s\n", name.c_str(), access.status().message().c_str());
      code = 1;
      continue;
    }
    std::printf("%s;\n\n", access->c_str());
  }
  return code;
}
