#include "data/providers/odbc/odbc_diagnostics.h"

#include <sqlext.h>

#include <algorithm>

namespace tabulon::data {

std::vector<std::string> ReadOdbcDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle,
                                             std::vector<std::string>* states, std::string* first_state) {
  std::vector<std::string> records;
  for (SQLSMALLINT i = 1;; ++i) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::vector<SQLCHAR> message(1024);
    SQLRETURN rc = SQLGetDiagRec(handle_type, handle, i, state, &native, message.data(),
                                 static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && static_cast<size_t>(length) >= message.size()) {
      message.resize(static_cast<size_t>(length) + 1);
      rc = SQLGetDiagRec(handle_type, handle, i, state, &native, message.data(),
                         static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    if (i == 1 && first_state != nullptr) *first_state = reinterpret_cast<const char*>(state);
    if (states != nullptr) states->emplace_back(reinterpret_cast<const char*>(state));
    const size_t n = std::min(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), message.size() - 1);
    records.emplace_back(reinterpret_cast<const char*>(message.data()), n);
  }
  return records;
}

}  // namespace tabulon::data
