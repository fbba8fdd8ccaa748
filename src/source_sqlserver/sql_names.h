// Names as they go into statements: SQL Server identifiers in brackets, SQL Server string
// literals as N'...'. Access names and file names are those every source adapter uses.
#pragma once

#include <string>
#include <string_view>

#include "source_common/access_statements.h"
#include "source_common/source_context.h"

namespace tabulon::source_sqlserver {

// A table or view of the source; an empty schema leaves the name to SQL Server's default
// schema resolution.
using source_common::AccessName;
using source_common::SafeFileName;
using source_common::SourceTable;

// [name] with every ']' doubled.
std::string QuoteSqlServerName(std::string_view name);
// [schema].[name], or [name] without a schema.
std::string QualifiedName(const SourceTable& table);
// N'text' with every ' doubled.
std::string NationalLiteral(std::string_view text);

}  // namespace tabulon::source_sqlserver
