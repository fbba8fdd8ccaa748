// How the Jet provider describes columns and values: OLE DB type codes and flags of a result
// column, the bookmark column, the text form of a value, and the rows of the schema rowsets.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "data/provider.h"
#include "data/schema_rowset.h"
#include "jet/database.h"

namespace tabulon::data {

// The column information of a result column (ordinal 1-based).
ColumnInfo JetColumnInfo(const jet::ColumnDefinition& column, size_t ordinal);
// Ordinal 0: four bytes, fixed length, DBCOLUMNFLAGS_ISBOOKMARK.
ColumnInfo JetBookmarkColumn();
// A value as a rowset shows it, nullopt for NULL: Boolean "True" / "False", binary as
// upper-case hexadecimal digits, dates "YYYY-MM-DD HH:MM:SS", numbers as exact decimal text.
std::optional<std::string> JetValueText(const jet::Value& value);
// The database name of a file path: the path without its ".mdb" ending.
std::string JetCatalogName(std::string_view path);
// The rows of a schema rowset of the database at `path`, in the order Jet sorts them: TABLES by
// type then name, COLUMNS by table then ordinal, VIEWS by name (VIEW_DEFINITION: the saved
// query's Access SQL), INDEXES by table, index and key position.
Result<std::vector<SchemaRow>> JetSchemaRows(jet::Database& db, const std::string& path, SchemaRowsetKind kind,
                                             const SchemaRestrictions& restrictions);

}  // namespace tabulon::data
