#include "config/condition_file.h"

#include <algorithm>

#include "config/profile_file.h"
#include "data/error_text.h"
#include "data/statement.h"

namespace tabulon::config {
namespace {

constexpr mode_t kConditionMode = 0644;

// A SQL Server identifier in brackets, "]" doubled.
std::string Bracketed(std::string_view name) {
  std::string quoted = "[";
  for (char c : name) {
    quoted += c;
    if (c == ']') quoted += ']';
  }
  return quoted + "]";
}

}  // namespace

Status EnsureConditionFile(const std::string& path) { return EnsureFileExists(path, kConditionMode); }

std::string ReadCondition(const std::string& path, std::string_view database, std::string_view table) {
  return ReadProfileString(path, database, table, "", kConditionBuffer);
}

Status SaveCondition(const std::string& path, std::string_view database, std::string_view table,
                     std::string_view condition) {
  ASSIGN_OR_RETURN(ProfileFile file, ProfileFile::Load(path));
  RETURN_IF_ERROR(file.Set(database, table, condition));
  return file.Save(path, kConditionMode);
}

std::string ConditionTooltip(std::string_view condition) {
  return condition.empty() ? "Convert All" : "Condition : " + std::string(condition);
}

std::string ConditionTestStatement(std::string_view schema, std::string_view table, std::string_view condition) {
  std::string sql = "select count(*) from " + (schema.empty() ? "" : Bracketed(schema) + ".") + Bracketed(table);
  if (!condition.empty()) sql += " where " + std::string(condition);
  return sql;
}

ConditionTestResult ConditionTestFromText(const std::string& text) {
  const bool count = std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (count) return {true, "Test successfully!\r\n  " + text + " Records can be converted."};
  return {false, "Test failed!\r\n  Because:  " + text};
}

ConditionTestResult TestCondition(data::Session* session, std::string_view schema, std::string_view table,
                                  std::string_view condition) {
  if (session == nullptr) return ConditionTestFromText("No Connection!");
  data::TextRowset rowset;
  const data::Hresult code = data::OpenTextRowset(session, ConditionTestStatement(schema, table, condition), &rowset);
  if (data::Failed(code)) return ConditionTestFromText(data::ErrorDescription(rowset.error_source()));
  std::string value;
  if (rowset.has_rowset() && rowset.buffer().columns() >= 1) {
    const data::Hresult fetched = data::MoveNextRow(rowset);
    if (data::Failed(fetched)) return ConditionTestFromText(data::ErrorDescription(rowset.error_source()));
    // The count's column is the first one the buffer binds.
    if (fetched == data::S_OK && !rowset.buffer().IsNull(1)) value = std::string(rowset.buffer().Value(1));
  }
  return ConditionTestFromText(value);
}

}  // namespace tabulon::config
