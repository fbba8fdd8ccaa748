// The diagnostic records of an ODBC handle, shared by the provider's parts.
#pragma once

#include <sql.h>

#include <string>
#include <vector>

namespace tabulon::data {

// The message texts of a handle's diagnostic records, first first; `first_state` gets the
// first record's SQLSTATE and `states` every record's.
std::vector<std::string> ReadOdbcDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle,
                                             std::vector<std::string>* states = nullptr,
                                             std::string* first_state = nullptr);

}  // namespace tabulon::data
