// Schema rowsets through the ODBC catalogue functions: CATALOGS and TABLES from SQLTables,
// COLUMNS from SQLColumns, INDEXES from SQLStatistics (one table at a time), reshaped into the
// OLE DB columns of data/schema_rowset.h.
#pragma once

#include <sql.h>

#include <string>
#include <vector>

#include "base/status.h"
#include "data/provider.h"
#include "data/schema_rowset.h"

namespace tabulon::data {

// Runs the catalogue function for `kind` on `stmt` (a fresh statement handle) and reads its rows.
// A failure's text holds the driver's first diagnostic.
Result<std::vector<SchemaRow>> ReadOdbcSchemaRows(SQLHDBC dbc, SQLHSTMT stmt, SchemaRowsetKind kind,
                                                  const SchemaRestrictions& restrictions);

}  // namespace tabulon::data
