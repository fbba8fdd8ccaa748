#include "config/driver_check.h"

#include <gtest/gtest.h>

namespace tabulon::config {
namespace {

std::vector<std::string> Texts(const std::vector<DriverRow>& rows) {
  std::vector<std::string> out;
  for (const DriverRow& r : rows) out.push_back(r.name + "|" + r.installed + "|" + r.usable);
  return out;
}

TEST(DriverCheckTest, SourceRowsFollowTheFirstProviderAndNameTheDriversOwnField) {
  // The SQL Server check ends with a lone field for its ODBC driver; the TCP/IP row follows
  // the first provider, whatever case it is written in.
  EXPECT_EQ(Texts(SourceDriverRows("Microsoft OLE DB Provider for SQL Server|Installed|usable|"
                                   "Microsoft OLE DB Provider for ODBC Drivers|Installed|Usable|Unusable|",
                                   "FreeTDS", true)),
            (std::vector<std::string>{"Microsoft OLE DB Provider for SQL Server|Installed|usable",
                                      "Microsoft OLE DB Provider for ODBC Drivers|Installed|Usable",
                                      "SQL Server ODBC driver (FreeTDS)|N/A|Unusable", "TCP/IP:Port|N/A|Usable",
                                      "SQLite (built-in)|Installed|Usable"}));
  // Six fields, the first provider unusable; nothing at all.
  EXPECT_EQ(Texts(SourceDriverRows("A|Not Installed|Unusable|B|Installed|Usable|", "FreeTDS", false)),
            (std::vector<std::string>{"A|Not Installed|Unusable", "B|Installed|Usable", "TCP/IP:Port|N/A|Unusable",
                                      "SQLite (built-in)|Not Installed|Unusable"}));
  EXPECT_EQ(Texts(SourceDriverRows("", "FreeTDS", true)),
            (std::vector<std::string>{"TCP/IP:Port|N/A|Unusable", "SQLite (built-in)|Installed|Usable"}));
  // A short last row gets empty fields; text after the last bar is not a field.
  EXPECT_EQ(Texts(SplitDriverStatus("Jet|Installed|Usable|Access Driver|Not installed|tail")),
            (std::vector<std::string>{"Jet|Installed|Usable", "Access Driver|Not installed|"}));
}

}  // namespace
}  // namespace tabulon::config
