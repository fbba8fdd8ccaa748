// Views: SQLite keeps a view as the text of its CREATE VIEW, which the view translator turns into
// Access SQL; whatever Access could not hold (a function it lacks, a blob literal, anything the
// engine's Access SQL parser refuses) makes the view unsupported, with the reason.
#include <cctype>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "base/text.h"
#include "data/error_text.h"
#include "data/statement.h"
#include "jetsql/parser.h"
#include "source_common/access_names.h"
#include "source_common/access_statements.h"
#include "source_common/view_catalog.h"
#include "viewsql/parser.h"
#include "viewsql/translate.h"
#include "source_sqlite/columns.h"

namespace tabulon::source_sqlite {

using namespace data;
using namespace workspace;

namespace {

std::string BuildViewText(std::string_view view) {
  return "select sql from sqlite_master where type = 'view' and name = " + SqliteString(view);
}

}  // namespace

std::string BuildViewTextStatement(const SourceTable& view) { return BuildViewText(view.name); }

Result<std::string> RewriteViewForAccess(std::string_view view, std::string_view create_view,
                                         const viewsql::Catalog& catalog) {
  ASSIGN_OR_RETURN(viewsql::ViewDefinition parsed, viewsql::ParseView(create_view, viewsql::Dialect::kSqlite));
  parsed.name = {std::string(view)};
  ASSIGN_OR_RETURN(std::string text, viewsql::TranslateView(parsed, viewsql::Dialect::kSqlite, catalog));
  // What the engine would refuse to store is said now, with its reason.
  Result<jetsql::Statement> stored = jetsql::ParseStatement(text);
  if (!stored.ok()) return UnsupportedError(stored.status().message());
  return text + "\n";
}

Result<Translation> TranslateViewDefinition(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                            const SourceTable& view) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  TextRowset rows;
  if (OpenTextRowset(source, BuildViewTextStatement(view), &rows, {.full_values = true}) != S_OK) {
    return ProviderError(ErrorDescription(rows.error_source()));
  }
  if (!rows.has_rowset()) {
    WriteOutput(owner.output, "RESULT: EMPTY");
    return Translation::Nothing();
  }
  ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
  if (!fetched) return Translation::Nothing();
  ASSIGN_OR_RETURN(const std::optional<std::string> text, ReadFullValue(rows, 1));
  if (!text.has_value()) {
    WriteOutput(owner.output, "HAS Unexpect Info!!!");
    return Translation::Nothing();
  }
  const std::string access_view = source_common::AccessTableName(owner, view);
  Result<std::string> access =
      RewriteViewForAccess(access_view, *text, source_common::MigrationCatalog(owner, "", [&](const SourceTable& t) {
                             return RecordColumnNames(owner, source, t);
                           }));
  if (!access.ok()) {
    return Translation::Unsupported("NO SUPPORT! VIEW [" + view.name +
                                    "]: Access cannot hold its SELECT: " + access.status().message());
  }
  std::vector<source_common::Rename> renames;
  source_common::AddRename(renames, "view", view.name, view.name, access_view);
  source_common::ReportRenames(owner, view.name, renames);
  return Translation::Statements(std::move(*access));
}

}  // namespace tabulon::source_sqlite
