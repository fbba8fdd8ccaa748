#include "source_sqlserver/sql_names.h"

namespace tabulon::source_sqlserver {

std::string QuoteSqlServerName(std::string_view name) {
  std::string out = "[";
  for (char c : name) {
    out += c;
    if (c == ']') out += ']';
  }
  out += ']';
  return out;
}

std::string QualifiedName(const SourceTable& table) {
  if (table.schema.empty()) return QuoteSqlServerName(table.name);
  return QuoteSqlServerName(table.schema) + "." + QuoteSqlServerName(table.name);
}

std::string NationalLiteral(std::string_view text) {
  std::string out = "N'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

}  // namespace tabulon::source_sqlserver
