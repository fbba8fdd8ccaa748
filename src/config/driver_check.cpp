#include "config/driver_check.h"

#include "base/text.h"

namespace tabulon::config {

std::vector<DriverRow> SplitDriverStatus(std::string_view status) {
  std::vector<std::string> fields;
  for (size_t bar; (bar = status.find('|')) != std::string_view::npos; status.remove_prefix(bar + 1)) {
    fields.emplace_back(status.substr(0, bar));
  }
  std::vector<DriverRow> rows;
  for (size_t k = 0; k < fields.size(); k += 3) {
    DriverRow row{fields[k], k + 1 < fields.size() ? fields[k + 1] : "", k + 2 < fields.size() ? fields[k + 2] : ""};
    rows.push_back(std::move(row));
  }
  return rows;
}

bool IsUsable(std::string_view usable) { return EqualsIgnoreAsciiCase(usable, "Usable"); }

std::vector<DriverRow> SourceDriverRows(std::string_view sql_server_status, std::string_view odbc_driver,
                                        bool sqlite_usable) {
  std::vector<DriverRow> rows = SplitDriverStatus(sql_server_status);
  // Read in threes, the driver's own field would make a row named "Usable" or "Unusable".
  if (rows.size() > 1 && rows.back().installed.empty() && rows.back().usable.empty()) {
    DriverRow& driver = rows.back();
    driver.usable = std::move(driver.name);
    driver.name = "SQL Server ODBC driver (" + std::string(odbc_driver) + ")";
    driver.installed = IsUsable(driver.usable) ? "Installed" : "N/A";
  }
  // Host and port reach the server through the first provider, so it works when that one does.
  const bool first_usable = !rows.empty() && IsUsable(rows.front().usable);
  rows.push_back({"TCP/IP:Port", "N/A", first_usable ? "Usable" : "Unusable"});
  rows.push_back(
      {"SQLite (built-in)", sqlite_usable ? "Installed" : "Not Installed", sqlite_usable ? "Usable" : "Unusable"});
  return rows;
}

}  // namespace tabulon::config
