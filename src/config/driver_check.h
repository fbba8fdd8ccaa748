// The driver check as rows: which providers and drivers each side can use, whether they are
// installed and whether they work. The adapters give their findings as status texts, fields
// each ended by '|', three to a row (name, installation state, usability); the rows here are
// what a front end shows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tabulon::config {

struct DriverRow {
  std::string name;
  std::string installed;  // "Installed", "Not Installed", "Not installed" or "N/A"
  std::string usable;     // "Usable" or "Unusable"
};

// The rows of a status text. A last row missing fields gets empty ones; text after the last
// '|' is ignored.
std::vector<DriverRow> SplitDriverStatus(std::string_view status);

// The source side's rows: the SQL Server providers of `sql_server_status`; the lone usability
// field that may end it (the check of the SQL Server ODBC driver itself) as a row of its own
// named after `odbc_driver`; the "TCP/IP:Port" row (usable when the first provider is); and
// the built-in SQLite source.
std::vector<DriverRow> SourceDriverRows(std::string_view sql_server_status, std::string_view odbc_driver,
                                        bool sqlite_usable);

// True when `usable` says "Usable" in any case (the first provider decides the TCP/IP row).
bool IsUsable(std::string_view usable);

}  // namespace tabulon::config
