// The table definition: SQL Server computes the Access type words of every column in one
// catalogue query; the adapter joins the answer into CREATE TABLE.
#include "base/text.h"
#include "data/error_text.h"
#include "data/statement.h"
#include "source_sqlserver/translate.h"

namespace tabulon::source_sqlserver {

using namespace data;
using namespace workspace;

std::string BuildColumnsStatement(const SourceTable& table, bool jet_target) {
  // t.type_id is the column's type, an alias type standing for the system type it is made of.
  std::string sql =
      "select c.name 'Column_name',\n"
      " case when t.type_id=104 then 'Bit'\n"
      "  when t.type_id=36 then 'GUID'\n"
      "  when t.type_id=48 then 'Byte'\n"
      "  when t.type_id=52 then 'Short'\n"
      "  when t.type_id=56 then 'Long'\n";
  sql += jet_target ? "  when t.type_id=127 then 'Numeric(19,0)'\n" : "  when t.type_id=127 then 'Long'\n";
  sql +=
      "  when t.type_id=59 then 'Single'\n"
      "  when t.type_id=62 then 'Double'\n"
      "  when t.type_id=34 then 'LongBinary'\n"
      "  when t.type_id in (35,99) then 'LongText'\n"
      "  when t.type_id in (60,122) then 'Currency'\n";
  sql += jet_target ? "  when t.type_id in (106,108) then "
                      "'Numeric('+CONVERT(varchar,c.precision)+','+CONVERT(varchar,c.scale)+')'\n"
                    : "  when t.type_id in (106,108) then 'Numeric'\n";
  sql +=
      "  when t.type_id in (40,58) then 'DateTime'\n"
      "  when t.type_id=41 then 'VarChar(18)'\n"
      "  when t.type_id in (42,61) then 'VarChar(30)'\n"
      "  when t.type_id=43 then 'VarChar(36)'\n"
      "  when t.type_id=165 and c.max_length=-1 then 'LongBinary'\n"
      "  when t.type_id in (167,231) and c.max_length=-1 then 'LongText'\n"
      "  when t.type_id in (167,231,175,239) and c.max_length<256 then 'VarChar'\n"
      "  when t.type_id in (173,165) and c.max_length<511 then 'Binary'\n"
      "  when t.type_id in (173,165) and c.max_length>510 then 'LongBinary'\n"
      "  when t.type_id in (167,231,175,239) and c.max_length<65536 then 'LongText'\n"
      "  when t.type_id=189 then 'VarChar(18)'\n"
      "  when t.type_id=256 then 'VarChar(255)'\n"
      "  when t.type_id in (98,241) then 'LongText'\n"
      "  when t.type_id in (128,129,130) then 'LongBinary'\n"
      "  else type_name(c.user_type_id) end 'Type',\n"
      " case when c.max_length<0 then ' '\n"
      "  when t.type_id in (173,165) and c.max_length>510 then ' '\n"
      "  when t.type_id in (173,165) and c.max_length<511 then '('+CONVERT(varchar,c.max_length)+')'\n"
      "  when t.type_id in (167,231,175,239) and c.max_length>255 then ' '\n"
      "  when t.type_id in (62,59,60,122,127) then ' '\n"
      "  when t.type_id in (48,52,56,127,34,35,36,99) then ' '\n"
      "  when t.type_id in (40,41,42,43,58,61,189,104) then ' '\n"
      "  when t.type_id in (106,108,256) then ' '\n"
      "  when t.type_id in (98,128,129,130,241) then ' '\n"
      "  else '('+CONVERT(varchar,c.max_length)+')' end 'Length',\n"
      " case when c.is_nullable=0 then 'NOT NULL' else 'NULL' end 'Nullable',\n"
      " case when c.default_object_id=0 then ''\n"
      "  else (select d.definition from sys.default_constraints d where d.object_id=c.default_object_id) end "
      "'Default'\n"
      "from sys.all_columns c\n"
      " cross apply (select case when c.user_type_id>256 then c.system_type_id else c.user_type_id end) t(type_id)\n"
      "where c.object_id=object_id(";
  sql += NationalLiteral(QualifiedName(table));
  sql += ")\norder by c.column_id";
  return sql;
}

std::optional<std::string> TranslateDefault(std::string_view definition) {
  using source_common::IsNumberLiteral;
  using source_common::IsStringLiteral;
  const std::string_view text = source_common::StripEnclosingParentheses(definition);
  const std::string lower = AsciiLower(text);
  if (lower.empty() || lower == "null") return std::string();
  if (lower == "getdate()" || lower == "sysdatetime()" || lower == "current_timestamp" || lower == "getutcdate()" ||
      lower == "sysutcdatetime()") {
    return lower == "getutcdate()" || lower == "sysutcdatetime()" ? std::nullopt : std::optional<std::string>("Now()");
  }
  if (IsNumberLiteral(text)) return std::string(text);
  if (IsStringLiteral(text)) return std::string(text);
  if ((text.front() == 'N' || text.front() == 'n') && IsStringLiteral(text.substr(1)))
    return std::string(text.substr(1));
  return std::nullopt;
}

Result<Translation> TranslateTableDefinition(const SourceContext& owner, Session* source, std::string_view /*database*/,
                                             const SourceTable& table) {
  if (source == nullptr) return InvalidArgumentError("No Connection!");
  const bool jet = TargetIsJet(owner);
  TextRowset rows;
  if (OpenTextRowset(source, BuildColumnsStatement(table, jet), &rows, {.full_values = true}) != S_OK) {
    return ProviderError(ErrorDescription(rows.error_source()));
  }
  if (!rows.has_rowset()) {
    WriteOutput(owner.output, "RESULT: EMPTY");
    return Translation::Nothing();
  }
  std::string text = "create table " + AccessName(table.name) + "(\n";
  bool first = true;
  for (;;) {
    // A fetch or read failing half-way fails the translation with the provider's words: a
    // table with fewer columns is never the answer.
    ASSIGN_OR_RETURN(const bool fetched, FetchRow(rows));
    if (!fetched) break;
    if (!first) text += ",\n";
    first = false;
    const size_t columns = std::min<size_t>(rows.buffer().columns(), 5);
    std::string column_name;
    for (size_t k = 1; k <= columns; ++k) {
      ASSIGN_OR_RETURN(const std::optional<std::string> value, ReadFullValue(rows, k));
      if (!value.has_value()) {
        WriteOutput(owner.output, "HAS (NULL)!!!");
        continue;
      }
      const std::string& v = *value;
      if (k == 1) {
        column_name = v;
        text += AccessName(v) + " ";
      } else if (k < 5) {
        text += v + " ";
      } else {
        // A default Access cannot evaluate would make the whole table fail: it is left out.
        std::optional<std::string> access_default = v.empty() ? std::string() : TranslateDefault(v);
        if (!access_default) {
          if (AsciiLower(v).find("newid()") == std::string::npos) {
            source_common::ReportLeftOutDefault(owner, table.name, v, column_name);
          }
        } else if (!access_default->empty() && jet) {
          text += "default " + *access_default;
        }
        text += " ";
      }
    }
  }
  text += ")\n";
  return Translation::Statements(std::move(text));
}

}  // namespace tabulon::source_sqlserver
