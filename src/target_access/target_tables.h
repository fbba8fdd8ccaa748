// Operations on objects of the connected Access target (drop a table or view, rename a table,
// the target's version) and the Access type names of column metadata.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "workspace/output_pane.h"
#include "data/provider.h"

namespace tabulon::target_access {

// An Access name as statements quote it: `name`.
std::string QuoteAccessName(std::string_view name);

// Writes and runs "drop table `name`" (report 1). A table that takes part in a relationship is
// refused, as Access refuses it; the refusal is printed. `database` is not used.
bool DropTargetTable(workspace::OutputPane* owner, data::Session* session, const std::string& database,
                     const std::string& table);
// Writes and runs "drop view `name`" (report 1).
bool DropTargetView(workspace::OutputPane* owner, data::Session* session, const std::string& view);
// Renames in place where the target can (the built-in engine: everything of the table stays);
// otherwise copies the table under the new name and drops the old one. A failed copy prints
// "Rename [old] ERROR!"; a failed drop removes the copy again, so nothing changes.
bool RenameTargetTable(workspace::OutputPane* owner, data::Session* session, const std::string& old_name,
                       const std::string& new_name);
// The target reports no server version: "" when connected, "No Connection!" otherwise.
std::string TargetVersion(workspace::OutputPane* owner, data::Session* session);

// The Access DDL type word of a column from its OLE DB column flags, type code and size, by
// the table of the target provider (the Jet provider's, or the ODBC bridge's for any other
// provider). `precision` and `scale` describe a Jet Decimal column (type 131); 0 for others.
// Combinations outside the tables are "USERDEFINE".
std::string AccessTypeName(std::uint32_t flags, data::DbType type, std::size_t size, std::string_view provider,
                           std::uint8_t precision = 0, std::uint8_t scale = 0);

}  // namespace tabulon::target_access
