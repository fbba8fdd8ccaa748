// Opening one connection for the commands that talk to a provider directly (odbc, sql).
#pragma once

#include "data/db_connection.h"
#include "workspace/output_pane.h"
#include "data/properties.h"

// Opens the data source from `init` and its session; false when either fails, with the
// provider's reasons printed as output lines.
bool OpenCliConnection(tabulon::workspace::OutputPane& pane, tabulon::data::DbConnection& connection,
                       const tabulon::data::PropertySet& init);
