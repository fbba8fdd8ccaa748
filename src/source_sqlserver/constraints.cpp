// Views, keys, unique indexes and relationships: read with SQL Server's system procedures and
// the sysforeignkeys query, returned as Access statements.
#include <cctype>

#include "base/text.h"
#include "data/error_text.h"
#include "data/statement.h"
#include "source_common/access_statements.h"
#include "source_common/access_names.h"
#include "source_sqlserver/translate.h"

namespace tabulon::source_sqlserver {

using namespace data;
using namespace workspace;

std::string BuildHelpTextStatement(const SourceTable& view) {
  return "sp_helptext " + NationalLiteral(QualifiedName(view));
}

std::string BuildHelpConstraintStatement(const SourceTable& table) {
  return "EXEC sys.sp_helpconstraint " + NationalLiteral(QualifiedName(table)) + ", nomsg";
}

std::string BuildHelpIndexStatement(const SourceTable& table) {
  return "EXEC sys.sp_helpindex " + NationalLiteral(QualifiedName(table));
}

std::string BuildForeignKeysStatement(const SourceTable& table) {
  const std::string id = "object_id(" + NationalLiteral(QualifiedName(table)) + ")";
  return "select OBJECT_NAME(f.constid), OBJECT_NAME(f.fkeyid), f.name, OBJECT_NAME(f.rkeyid), r.name\n"
         "from (select k.constid, k.fkeyid, k.rkeyid, k.keyno, col.name from sysforeignkeys k\n"
         "  join syscolumns col on k.fkeyid=col.id and k.fkey=col.colid\n"
         "  where k.constid in (select id from sysobjects where xtype='F' and parent_obj=" +
         id +
         ")) f\n"
         "join (select k.constid, k.keyno, col.name from sysforeignkeys k\n"
         "  join syscolumns col on k.rkeyid=col.id and k.rkey=col.colid\n"
         "  where k.constid in (select id from sysobjects where xtype='F' and parent_obj=" +
         id +
         ")) r\n"
         "on f.constid=r.constid and f.keyno=r.keyno\n"
         "order by OBJECT_NAME(f.constid), f.keyno";
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

// True when `description` (upper case) lists `word` as one of its comma- or blank-separated
// words.
bool HasWord(std::string_view description, std::string_view word) {
  for (size_t pos = description.find(word); pos != std::string_view::npos; pos = description.find(word, pos + 1)) {
    const bool starts = pos == 0 || description[pos - 1] == ' ' || description[pos - 1] == ',';
    const size_t end = pos + word.size();
    const bool ends = end == description.size() || description[end] == ' ' || description[end] == ',';
    if (starts && ends) return true;
  }
  return false;
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
  return Translation::Statements(std::move(text));
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

Result<Translation> TranslateUniqueIndexes(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                           const SourceTable& table) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  RETURN_IF_ERROR(RecordColumnNames(owner, source, table));
  TextRowset rows;
  ASSIGN_OR_RETURN(const bool opened, OpenKeyRows(owner, source, BuildHelpIndexStatement(table), rows));
  std::string result;
  int counter = 0;
  while (opened) {
    ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
    if (!fetched) break;
    const std::string description = AsciiUpper(Cell(rows, 2));
    if (description.find("PRIMARY KEY") != std::string::npos) continue;
    if (HasWord(description, "UNIQUE")) {
      source_common::AppendStatement(
          result, source_common::UniqueIndexStatement(
                      source_common::AccessTableName(owner, table), counter,
                      source_common::AccessKeyColumns(owner, table, KeyColumns(Cell(rows, rows.buffer().columns())))));
    }
    ++counter;
  }
  return Translation::Statements(std::move(result));
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
  std::vector<source_common::ForeignKeyPair> pairs;
  for (;;) {
    ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
    if (!fetched) break;
    pairs.push_back({Cell(rows, 1), Cell(rows, 3), Cell(rows, 4), Cell(rows, 5)});
  }
  ASSIGN_OR_RETURN(std::string statements,
                   source_common::AccessForeignKeys(owner, table, std::move(pairs), [&](const SourceTable& t) {
                     return RecordColumnNames(owner, source, t);
                   }));
  return Translation::Statements(std::move(statements));
}

}  // namespace tabulon::source_sqlserver
