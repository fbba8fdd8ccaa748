// The ODBC provider (unixODBC): SQLOLEDB goes to a SQL Server driver (FreeTDS), MSDASQL to a DSN
// or a full connection string. All calls use the narrow API with UTF-8 text.
#pragma once

#include <span>
#include <string>

#include "data/provider.h"

namespace tabulon::data {

class OdbcProvider : public Provider {
 public:
  enum class Kind { kSqlServer, kGeneric };

  explicit OdbcProvider(Kind kind, std::string sql_server_driver = "FreeTDS")
      : kind_(kind), sql_server_driver_(std::move(sql_server_driver)) {}

  OpenedDataSource OpenDataSource(std::span<const PropertySet> sets) override;

 private:
  Kind kind_;
  std::string sql_server_driver_;
};

// Rows fetched per driver call when reading in blocks, for `columns` text columns (bounded so
// the block stays near 1 MB).
size_t OdbcBlockRows(size_t columns);

}  // namespace tabulon::data
