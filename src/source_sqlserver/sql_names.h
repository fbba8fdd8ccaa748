// Names as they go into statements: SQL Server identifiers in brackets, SQL Server string
// literals as N'...', Access identifiers in backquotes.
#pragma once

#include <string>
#include <string_view>

namespace tabulon::source_sqlserver {

// A table or view of the source. An empty schema leaves the name to SQL Server's default
// schema resolution; the Access object gets `name` alone (Access has no schemas).
struct SourceTable {
  std::string schema;
  std::string name;

  SourceTable() = default;
  SourceTable(std::string schema_name, std::string object_name)
      : schema(std::move(schema_name)), name(std::move(object_name)) {}
  // A bare name, left to the server's default schema resolution.
  SourceTable(const char* object_name) : name(object_name) {}  // NOLINT(google-explicit-constructor)
  SourceTable(std::string object_name) : name(std::move(object_name)) {}  // NOLINT(google-explicit-constructor)
};

// [name] with every ']' doubled.
std::string QuoteSqlServerName(std::string_view name);
// [schema].[name], or [name] without a schema.
std::string QualifiedName(const SourceTable& table);
// N'text' with every ' doubled.
std::string NationalLiteral(std::string_view text);
// `name` for Access; a backquote (which Access names cannot hold) becomes an apostrophe.
std::string AccessName(std::string_view name);

}  // namespace tabulon::source_sqlserver

namespace tabulon::source_sqlserver {
// A name made safe as a file name: path separators and control characters become '_', and
// "." or ".." cannot leave the folder.
std::string SafeFileName(std::string_view name);
}  // namespace tabulon::source_sqlserver
