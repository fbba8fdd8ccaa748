#include "target_access/target_tables.h"

#include <fmt/format.h>

#include "data/statement.h"
#include "workspace/statement_output.h"
#include "target_access/access_files.h"

namespace tabulon::target_access {
namespace {

using workspace::WriteOutput;
using workspace::WriteOutputText;

// Jet's names of the fixed-size types (rows of flags 90, 122 and 234).
const char* JetScalarName(data::DbType type) {
  switch (type) {
    case data::DBTYPE_I2: return "SHORT";
    case data::DBTYPE_I4: return "LONG";
    case data::DBTYPE_R4: return "SINGLE";
    case data::DBTYPE_R8: return "NUMERIC";
    case data::DBTYPE_CY: return "CURRENCY";
    case data::DBTYPE_NUMERIC: return "CURRENCY";
    case data::DBTYPE_DATE: return "DATETIME";
    case data::DBTYPE_UI1: return "BYTE";
    case data::DBTYPE_GUID: return "GUID";
    default: return nullptr;
  }
}

std::string JetFixedTypeName(data::DbType type, std::uint8_t precision, std::uint8_t scale) {
  // A Decimal kept as Currency would lose its digits beyond the fourth decimal.
  if (type == data::DBTYPE_NUMERIC && precision > 0) {
    return fmt::format("DECIMAL({},{})", precision, scale);
  }
  if (const char* name = JetScalarName(type)) return name;
  if (type == data::DBTYPE_BOOL) return "BIT";
  return {};
}

std::string JetTypeName(std::uint32_t flags, data::DbType type, std::size_t size, std::uint8_t precision,
                        std::uint8_t scale) {
  const bool bytes = type == data::DBTYPE_BYTES;
  const bool text = type == data::DBTYPE_WSTR;
  switch (flags) {
    case 24:  // fixed length, write unknown: AutoNumber and Yes/No
      if (bytes) return "BINARY";
      if (text) return "TEXT";
      if (type == data::DBTYPE_I4) return "COUNTER";
      if (type == data::DBTYPE_BOOL) return "BIT";
      return "USERDEFINE";
    case 74:   // required Text / Binary
    case 106:  // nullable Text / Binary
      // The size is always given, so the column comes back as long as it was; a binary
      // column stays binary.
      if (bytes) return fmt::format("BINARY({}) ", size);
      if (text) return fmt::format("VARCHAR({}) ", size);
      return "USERDEFINE";
    case 202:  // required Memo / OLE Object: long types, whatever size they report
      if (bytes) return "LONGBINARY";
      if (text) return "LONGTEXT";
      return "USERDEFINE";
    case 234:
      if (bytes) return "LONGBINARY";
      if (text) return "LONGTEXT";
      [[fallthrough]];
    case 90:
    case 122: {
      std::string name = JetFixedTypeName(type, precision, scale);
      if (!name.empty()) return name;
      if (bytes) return "BINARY";
      if (text) return "TEXT";
      return "USERDEFINE";
    }
    default: return "USERDEFINE";
  }
}

const char* OdbcScalarName(data::DbType type) {
  switch (type) {
    case data::DBTYPE_I2: return "SHORT";
    case data::DBTYPE_I4: return "LONG";
    case data::DBTYPE_R4: return "SINGLE";
    case data::DBTYPE_R8: return "NUMERIC";
    case data::DBTYPE_I1: return "BYTE";
    case data::DBTYPE_GUID: return "GUID";
    case data::DBTYPE_BYTES: return "BINARY";
    case data::DBTYPE_NUMERIC: return "CURRENCY";
    case data::DBTYPE_DBTIMESTAMP: return "DATETIME";
    default: return nullptr;
  }
}

std::string OdbcTypeName(std::uint32_t flags, data::DbType type, std::size_t size) {
  const std::string suffix = size != 0 ? fmt::format("({})", size) : " ";
  const bool bytes = type == data::DBTYPE_BYTES;
  const bool text = type == data::DBTYPE_WSTR;
  switch (flags) {
    case 24:
      if (bytes) return "VARBINARY" + suffix;
      if (text) return "CHAR" + suffix;
      if (type == data::DBTYPE_I4) return "COUNTER";
      if (type == data::DBTYPE_BOOL) return "BIT";
      return "USERDEFINE";
    case 104:
      if (bytes) return "VARBINARY" + suffix;
      if (text) return "CHAR" + suffix;
      return "USERDEFINE";
    case 232:
      if (bytes) return "LONGBINARY";
      if (text) return "LONGTEXT";
      [[fallthrough]];
    case 120:
      if (const char* name = OdbcScalarName(type)) return name;
      if (type == data::DBTYPE_BOOL) return "BIT";
      if (bytes) return "BINARY";
      if (text) return "CHAR" + suffix;
      return "USERDEFINE";
    default: return "USERDEFINE";
  }
}

}  // namespace

std::string QuoteAccessName(std::string_view name) { return "`" + std::string(name) + "`"; }

bool DropTargetTable(workspace::OutputPane* owner, data::Session* session, const std::string&,
                     const std::string& table) {
  const std::string sql = "drop table " + QuoteAccessName(table);
  WriteOutputText(owner, sql);
  return workspace::ExecuteStatement(owner, session, sql, 1);
}

bool DropTargetView(workspace::OutputPane* owner, data::Session* session, const std::string& view) {
  const std::string sql = "drop view " + QuoteAccessName(view);
  WriteOutputText(owner, sql);
  return workspace::ExecuteStatement(owner, session, sql, 1);
}

bool RenameTargetTable(workspace::OutputPane* owner, data::Session* session, const std::string& old_name,
                       const std::string& new_name) {
  if (session == nullptr) {
    WriteOutputText(owner, "No Connection!");
    return false;
  }
  // The built-in engine renames in place and keeps what a copy would lose (keys, indexes,
  // AutoNumber, defaults, relationships); a target without RENAME gets the copy and drop.
  if (workspace::ExecuteStatement(
          owner, session, "alter table " + QuoteAccessName(old_name) + " rename to " + QuoteAccessName(new_name), 0)) {
    return true;
  }
  const std::string copy = "select * into " + QuoteAccessName(new_name) + " from " + QuoteAccessName(old_name);
  if (!workspace::ExecuteStatement(owner, session, copy, 0)) {
    WriteOutput(owner, "Rename [%s] ERROR!", old_name.c_str());
    return false;
  }
  if (workspace::ExecuteStatement(owner, session, "drop table " + QuoteAccessName(old_name), 0)) {
    return true;
  }
  // The old table stays (a relationship holds it, say): take the copy away again, so the
  // rename changes nothing instead of leaving two tables.
  workspace::ExecuteStatement(owner, session, "drop table " + QuoteAccessName(new_name), 0);
  WriteOutput(owner, "Rename [%s] ERROR!", old_name.c_str());
  return false;
}

std::string TargetVersion(workspace::OutputPane* owner, data::Session* session) {
  if (session == nullptr) {
    WriteOutputText(owner, "No Connection!");
    return "No Connection!";
  }
  return "";
}

std::string AccessTypeName(std::uint32_t flags, data::DbType type, std::size_t size, std::string_view provider,
                           std::uint8_t precision, std::uint8_t scale) {
  if (IsJetProvider(provider)) return JetTypeName(flags, type, size, precision, scale);
  return OdbcTypeName(flags, type, size);
}

}  // namespace tabulon::target_access
