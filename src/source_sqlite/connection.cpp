#include "source_sqlite/connection.h"

#include "base/text.h"
#include "workspace/output_pane.h"
#include "data/providers/sqlite/sqlite_types.h"

namespace tabulon::source_sqlite {

using namespace data;
using namespace workspace;

void BuildSourceConnectionProperties(const ConnectionProfile& profile, PropertySet* set) {
  set->AddString(DBPROP_INIT_DATASOURCE, profile.source_name);
  set->AddI4(DBPROP_INIT_MODE, DB_MODE_READ);
  set->AddI2(DBPROP_INIT_PROMPT, DBPROMPT_NOPROMPT);
}

bool SelectDatabase(DbTreeView& source_tree, std::string_view database) {
  DbConnection* connection = source_tree.connection;
  if (connection == nullptr || connection->data_source == nullptr || connection->session == nullptr) {
    WriteOutput(source_tree.output, "E::No Connection!");
    return false;
  }
  std::string catalog;
  if (Failed(connection->data_source->GetInfo(DBPROPSET_DATASOURCE, DBPROP_CURRENTCATALOG, &catalog))) return false;
  const std::string wanted =
      database.find('/') != std::string_view::npos ? SqliteCatalogName(database) : std::string(database);
  if (!EqualsIgnoreAsciiCase(wanted, catalog)) {
    WriteOutput(source_tree.output, "E::The SQLite file holds the database [%s], not [%s]", catalog.c_str(),
                std::string(database).c_str());
    return false;
  }
  source_tree.current_database = catalog;
  source_tree.RefreshTree();
  return true;
}

}  // namespace tabulon::source_sqlite
