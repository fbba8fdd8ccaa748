// Views, keys, indexes, relationships and descriptions: read with SQL Server's system procedures
// and catalogue views, returned as Access statements.
#include <cctype>
#include <cstdlib>

#include "base/text.h"
#include "data/error_text.h"
#include "data/statement.h"
#include "source_common/access_indexes.h"
#include "source_common/check_rules.h"
#include "source_common/access_names.h"
#include "source_common/access_statements.h"
#include "source_common/view_catalog.h"
#include "source_common/view_order.h"
#include "source_sqlserver/translate.h"
#include "viewsql/parser.h"
#include "viewsql/translate.h"

namespace tabulon::source_sqlserver {

using namespace data;
using namespace workspace;

std::string BuildHelpTextStatement(const SourceTable& view) {
  return "sp_helptext " + NationalLiteral(QualifiedName(view));
}

std::string BuildHelpConstraintStatement(const SourceTable& table) {
  return "EXEC sys.sp_helpconstraint " + NationalLiteral(QualifiedName(table)) + ", nomsg";
}

// sys.indexes, sys.index_columns and sys.foreign_keys as the Transact-SQL reference describes
// them: index type 0 heap, 1 clustered, 2 nonclustered, 3 XML, 4 spatial, 5 and 6 columnstore,
// 7 hash; key_ordinal 0 for a column that is not part of the key; referential actions 0 NO
// ACTION, 1 CASCADE, 2 SET NULL, 3 SET DEFAULT.
std::string BuildIndexesStatement(const SourceTable& table) {
  const std::string id = "object_id(" + NationalLiteral(QualifiedName(table)) + ")";
  return "select i.name, i.index_id, i.type, i.type_desc, i.is_unique, i.is_primary_key, i.has_filter, "
         "i.is_disabled, c.name, ic.key_ordinal, ic.is_descending_key, ic.is_included_column,\n"
         "  (select count(*) from sys.foreign_keys f where f.parent_object_id = i.object_id) +\n"
         "  (select count(*) from sys.foreign_keys f where f.referenced_object_id = i.object_id)\n"
         "from sys.indexes i\n"
         "left join sys.index_columns ic on ic.object_id = i.object_id and ic.index_id = i.index_id\n"
         "left join sys.columns c on c.object_id = ic.object_id and c.column_id = ic.column_id\n"
         "where i.object_id = " +
         id +
         " and i.type > 0 and i.is_hypothetical = 0\n"
         "order by i.index_id, ic.is_included_column, ic.key_ordinal, ic.index_column_id";
}

std::string BuildForeignKeysStatement(const SourceTable& table) {
  return "select fk.name, pc.name, object_schema_name(fk.referenced_object_id), "
         "object_name(fk.referenced_object_id), rc.name,\n"
         "  fk.delete_referential_action, fk.update_referential_action, fk.is_disabled, fk.is_not_trusted\n"
         "from sys.foreign_keys fk\n"
         "join sys.foreign_key_columns fkc on fkc.constraint_object_id = fk.object_id\n"
         "join sys.columns pc on pc.object_id = fkc.parent_object_id and pc.column_id = fkc.parent_column_id\n"
         "join sys.columns rc on rc.object_id = fkc.referenced_object_id and rc.column_id = fkc.referenced_column_id\n"
         "where fk.parent_object_id = object_id(" +
         NationalLiteral(QualifiedName(table)) +
         ")\n"
         "order by fk.name, fkc.constraint_column_id";
}

std::string BuildDescriptionsStatement(const SourceTable& table) {
  return "select c.name, cast(ep.value as nvarchar(4000)) from sys.extended_properties ep\n"
         "left join sys.columns c on c.object_id = ep.major_id and c.column_id = ep.minor_id\n"
         "where ep.class = 1 and ep.name = N'MS_Description' and ep.major_id = object_id(" +
         NationalLiteral(QualifiedName(table)) +
         ")\n"
         "order by ep.minor_id";
}

// sys.check_constraints: definition is the condition in SQL Server's own form ("([qty]>(0))").
std::string BuildCheckConstraintsStatement(const SourceTable& table) {
  return "select cc.name, cc.definition, cc.is_disabled from sys.check_constraints cc\n"
         "where cc.parent_object_id = object_id(" +
         NationalLiteral(QualifiedName(table)) +
         ")\n"
         "order by cc.object_id";
}

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::string Cell(const TextRowset& rows, size_t ordinal) {
  if (ordinal < 1 || ordinal > rows.buffer().columns() || rows.buffer().IsNull(ordinal)) return {};
  return std::string(rows.buffer().Value(ordinal));
}

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Opens the rows of one of the system procedures: false (after "RESULT: EMPTY") when it gives
// no rowset, an error with the provider's words when it fails.
Result<bool> OpenKeyRows(const SourceContext& owner, Session* source, const std::string& sql, TextRowset& rows) {
  if (OpenTextRowset(source, sql, &rows) != S_OK) return ProviderError(ErrorDescription(rows.error_source()));
  if (!rows.has_rowset()) {
    WriteOutput(owner.output, "RESULT: EMPTY");
    return false;
  }
  return true;
}

}  // namespace

namespace {

// A key column list as SQL Server prints it ("a, b(-)").
std::vector<source_common::KeyColumn> KeyColumns(std::string_view keys) {
  std::vector<source_common::KeyColumn> columns;
  while (!keys.empty()) {
    const size_t comma = keys.find(',');
    std::string_view column = TrimBlanks(keys.substr(0, comma));
    keys.remove_prefix(comma == std::string_view::npos ? keys.size() : comma + 1);
    const bool descending = column.ends_with("(-)");
    if (descending) column = TrimBlanks(column.substr(0, column.size() - 3));
    columns.push_back({std::string(column), descending});
  }
  return columns;
}

}  // namespace

std::string AccessKeyColumns(std::string_view keys) { return source_common::AccessKeyList(KeyColumns(keys)); }

Result<Translation> TranslateViewDefinition(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                            const SourceTable& view) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  TextRowset rows;
  if (OpenTextRowset(source, BuildHelpTextStatement(view), &rows) != S_OK) {
    return ProviderError(ErrorDescription(rows.error_source()));
  }
  if (!rows.has_rowset()) {
    WriteOutput(owner.output, "RESULT: EMPTY");
    return Translation::Nothing();
  }
  // The procedure cuts long lines into rows of 255 characters: the rows are joined as they
  // came, so a line (or a name) cut apart is whole again.
  std::string definition;
  for (;;) {
    ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));  // never a shorter text
    if (!fetched) break;
    for (size_t k = 1; k <= rows.buffer().columns(); ++k) {
      if (rows.buffer().IsNull(k)) {
        WriteOutput(owner.output, "HAS Unexpect Info!!!");
      } else {
        definition += rows.buffer().Value(k);
      }
    }
  }
  // "--" comments end at the line end; quoted text and bracketed names may hold "--".
  std::string text;
  text.reserve(definition.size());
  char quote = 0;
  for (size_t i = 0; i < definition.size(); ++i) {
    const char c = definition[i];
    if (quote != 0) {
      text += c;
      if (c == quote) quote = 0;  // a doubled quote closes and reopens
      continue;
    }
    if (c == '\'' || c == '"') quote = c;
    if (c == '[') quote = ']';
    if (c == '-' && i + 1 < definition.size() && definition[i + 1] == '-') {
      const size_t end = definition.find('\n', i);
      text += '\n';
      if (end == std::string::npos) break;
      i = end;
      continue;
    }
    text += c;
  }
  if (!text.empty() && text.back() != '\n') text += '\n';
  // Translated into Access SQL; what cannot be is said, and the text goes to the target as it is.
  Result<std::string> access = [&]() -> Result<std::string> {
    ASSIGN_OR_RETURN(viewsql::ViewDefinition parsed, viewsql::ParseView(definition, viewsql::Dialect::kTransactSql));
    return viewsql::TranslateView(
        parsed, viewsql::Dialect::kTransactSql,
        source_common::MigrationCatalog(owner, view.schema.empty() ? "dbo" : view.schema,
                                        [&](const SourceTable& t) { return RecordColumnNames(owner, source, t); }));
  }();
  if (access.ok()) return Translation::Statements(*access + "\n");
  Translation unchanged = Translation::Statements(std::move(text));
  unchanged.notes.push_back({0, "View [" + view.name + "] not translated: " + access.status().message(), false});
  return unchanged;
}

Result<Translation> TranslatePrimaryKey(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                        const SourceTable& table) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  RETURN_IF_ERROR(RecordColumnNames(owner, source, table));
  TextRowset rows;
  ASSIGN_OR_RETURN(const bool opened, OpenKeyRows(owner, source, BuildHelpConstraintStatement(table), rows));
  std::string result;
  while (opened) {
    ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
    if (!fetched) break;
    if (AsciiUpper(Cell(rows, 1)).find("PRIMARY KEY") == std::string::npos) continue;
    result = source_common::PrimaryKeyStatement(
        source_common::AccessTableName(owner, table),
        source_common::AccessKeyColumns(owner, table, KeyColumns(Cell(rows, rows.buffer().columns()))));
  }
  return Translation::Statements(std::move(result));
}

namespace {

bool IsTrue(const std::string& cell) { return cell == "1" || cell == "true" || cell == "True"; }

// Why Access has no index of SQL Server's index type (sys.indexes.type), or "".
std::string UnheldIndexType(const std::string& type, const std::string& type_desc) {
  if (type == "1" || type == "2") return {};
  std::string words = type_desc.empty() ? "type " + type : type_desc;
  for (char& c : words) c = c == '_' ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "an index of type " + words;
}

source_common::ReferentialAction Action(const std::string& code) {
  if (code == "1") return source_common::ReferentialAction::kCascade;
  if (code == "2") return source_common::ReferentialAction::kSetNull;
  if (code == "3") return source_common::ReferentialAction::kSetDefault;
  return source_common::ReferentialAction::kNoAction;
}

}  // namespace

Result<Translation> TranslateUniqueIndexes(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                           const SourceTable& table) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  RETURN_IF_ERROR(RecordColumnNames(owner, source, table));
  TextRowset rows;
  ASSIGN_OR_RETURN(const bool opened, OpenKeyRows(owner, source, BuildIndexesStatement(table), rows));
  std::vector<source_common::SourceIndex> indexes;
  std::vector<source_common::KeyColumn> primary_key;
  size_t foreign_key_indexes = 0;
  std::string current;
  bool primary = false;
  while (opened) {
    ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
    if (!fetched) break;
    foreign_key_indexes = static_cast<size_t>(std::strtoul(Cell(rows, 13).c_str(), nullptr, 10));
    if (Cell(rows, 2) != current) {
      current = Cell(rows, 2);
      primary = IsTrue(Cell(rows, 6));
      if (!primary) {
        source_common::SourceIndex index;
        index.name = Cell(rows, 1);
        index.unique = IsTrue(Cell(rows, 5));
        index.cannot_hold = UnheldIndexType(Cell(rows, 3), Cell(rows, 4));
        if (index.cannot_hold.empty() && IsTrue(Cell(rows, 7))) index.cannot_hold = "a filtered index";
        if (index.cannot_hold.empty() && IsTrue(Cell(rows, 8))) index.cannot_hold = "an index the source has disabled";
        indexes.push_back(std::move(index));
      }
    }
    const std::string column = Cell(rows, 9);
    if (column.empty()) continue;
    if (IsTrue(Cell(rows, 12))) {
      if (!primary) indexes.back().included.push_back(column);
    } else if (Cell(rows, 10) != "0") {
      source_common::KeyColumn key{column, IsTrue(Cell(rows, 11))};
      if (primary) {
        primary_key.push_back(std::move(key));
      } else {
        indexes.back().columns.push_back(std::move(key));
      }
    }
  }
  if (indexes.empty()) return Translation::Nothing();
  return source_common::AccessIndexes(
      owner, table, indexes, primary_key, foreign_key_indexes,
      source_common::TargetLongColumns(owner, source_common::AccessTableName(owner, table)));
}

Result<Translation> TranslateForeignKeys(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                         const SourceTable& table) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  TextRowset rows;
  const Hresult opened = OpenTextRowset(source, BuildForeignKeysStatement(table), &rows);
  // A refused query is a failure like any other: relationships must not vanish without a word.
  if (Failed(opened)) return ProviderError(ErrorDescription(rows.error_source()));
  if (!rows.has_rowset()) {
    if (opened == S_OK) WriteOutput(owner.output, "RESULT: The operation completed SUCCESSFULLY");
    return Translation::Nothing();
  }
  std::vector<source_common::SourceForeignKey> keys;
  for (;;) {
    ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
    if (!fetched) break;
    if (keys.empty() || !EqualsIgnoreAsciiCase(keys.back().name, Cell(rows, 1))) {
      source_common::SourceForeignKey key;
      key.name = Cell(rows, 1);
      key.referenced_schema = Cell(rows, 3);
      key.referenced_table = Cell(rows, 4);
      key.on_delete = Action(Cell(rows, 6));
      key.on_update = Action(Cell(rows, 7));
      if (IsTrue(Cell(rows, 8))) {
        key.not_enforced = "the source has it disabled";
      } else if (IsTrue(Cell(rows, 9))) {
        key.not_enforced = "the source does not trust it (its rows were never checked)";
      }
      keys.push_back(std::move(key));
    }
    keys.back().columns.push_back(Cell(rows, 2));
    keys.back().referenced_columns.push_back(Cell(rows, 5));
  }
  return source_common::AccessForeignKeys(owner, table, keys,
                                          [&](const SourceTable& t) { return RecordColumnNames(owner, source, t); });
}

Result<Translation> TranslateDescriptions(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                          const SourceTable& table) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  if (!source_common::TargetIsJet(owner)) return Translation::Nothing();  // a statement of the engine's own
  TextRowset rows;
  if (OpenTextRowset(source, BuildDescriptionsStatement(table), &rows) != S_OK) {
    return ProviderError(ErrorDescription(rows.error_source()));
  }
  if (!rows.has_rowset()) return Translation::Nothing();
  RETURN_IF_ERROR(RecordColumnNames(owner, source, table));
  const std::string access_table = source_common::AccessName(source_common::AccessTableName(owner, table));
  std::string text;
  for (;;) {
    ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
    if (!fetched) break;
    if (rows.buffer().IsNull(2)) continue;
    std::string statement = "ALTER TABLE " + access_table;
    if (!rows.buffer().IsNull(1)) {
      statement +=
          " ALTER COLUMN " + source_common::AccessName(source_common::AccessColumnName(owner, table, Cell(rows, 1)));
    }
    statement += " SET PROPERTY Description = ";
    source_common::AppendAccessString(statement, Cell(rows, 2));
    source_common::AppendStatement(text, statement);
  }
  if (!text.empty()) text += "\n";
  return Translation::Statements(std::move(text));
}

Result<Translation> TranslateCheckConstraints(const SourceContext& owner, Session* source,
                                              std::string_view /*database*/, const SourceTable& table) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  if (!source_common::TargetIsJet(owner)) return Translation::Nothing();  // SET PROPERTY is the engine's own
  TextRowset rows;
  if (OpenTextRowset(source, BuildCheckConstraintsStatement(table), &rows, {.full_values = true}) != S_OK) {
    return ProviderError(ErrorDescription(rows.error_source()));
  }
  if (!rows.has_rowset()) return Translation::Nothing();
  std::vector<source_common::SourceCheck> checks;
  for (;;) {
    ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
    if (!fetched) break;
    ASSIGN_OR_RETURN(const std::optional<std::string> name, ReadFullValue(rows, 1));
    ASSIGN_OR_RETURN(const std::optional<std::string> definition, ReadFullValue(rows, 2));
    ASSIGN_OR_RETURN(const std::optional<std::string> disabled, ReadFullValue(rows, 3));
    if (!definition) continue;
    checks.push_back({name.value_or(""), *definition, disabled && IsTrue(*disabled)});
  }
  if (checks.empty()) return Translation::Nothing();
  RETURN_IF_ERROR(RecordColumnNames(owner, source, table));
  return source_common::AccessCheckRules(
      owner, table, checks, viewsql::Dialect::kTransactSql,
      source_common::MigrationCatalog(owner, table.schema.empty() ? "dbo" : table.schema,
                                      [&](const SourceTable& t) { return RecordColumnNames(owner, source, t); }));
}

Result<std::vector<size_t>> ViewsRead(const SourceContext& /*owner*/, Session* source, std::string_view /*database*/,
                                      const std::vector<SourceTable>& views, size_t view) {
  if (source == nullptr || view >= views.size()) return InvalidArgumentError("No Connection!");
  TextRowset rows;
  if (OpenTextRowset(source, BuildHelpTextStatement(views[view]), &rows) != S_OK) {
    return ProviderError(ErrorDescription(rows.error_source()));
  }
  std::string definition;
  while (rows.has_rowset()) {
    ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
    if (!fetched) break;
    for (size_t k = 1; k <= rows.buffer().columns(); ++k) {
      if (!rows.buffer().IsNull(k)) definition += rows.buffer().Value(k);
    }
  }
  return source_common::ViewsReadBy(definition, viewsql::Dialect::kTransactSql, views, view);
}

}  // namespace tabulon::source_sqlserver
