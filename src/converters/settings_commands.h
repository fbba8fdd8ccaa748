// What the connection settings and the driver check do beyond showing fields: the choices of a
// side's source name, the new target file the Jet providers propose, the connection test, the
// settings "Connect" hands to the core, and the driver check's rows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "config/driver_check.h"
#include "config/settings_file.h"
#include "source_common/type_map.h"

namespace tabulon::converters {

class Workbench;

// The source names a provider offers: the SQL Server servers of FreeTDS's configuration for
// the SQL Server provider, the data sources of the side's DBMS for the ODBC display names,
// nothing for the others.
std::vector<std::string> SourceNameChoices(std::string_view dbms, std::string_view provider_display_name);

// "Access_New.mdb" in the folder of the target's current file (its profile's source name when the
// target is a Jet file), else in the program folder. A missing file is created (a folder in its
// place is removed first); an existing file is kept. "" when it could not be created (the reason
// has been written).
std::string ProposeNewTargetFile(Workbench& owner);

// "Test Connections": opens each side from `settings` and says whether it worked (the source's
// "Source DB Connect ERROR!" and the provider's words, or "Source Connection Successful!"; the
// same for the target). A source whose properties cannot be built is skipped without a word.
// Nothing of the Workbench's own connections changes.
void TestConnections(Workbench& owner, const config::Settings& settings);

// "Save Config": writes the settings file (config::SaveConfig) and shows "The Config Infomation
// saved successfully!" or the reason it failed.
Status SaveSettings(Workbench& owner, const config::Settings& settings, const std::string& settings_path);

// "Connect": writes the settings file as Connect does (`settings_path`), fills both profiles of
// the Workbench (source name and catalog lower-cased where case does not matter), its
// auto-backup option and its type map. The caller then runs ConnectCommand. A failed write or a
// bad type map rule is returned; the profiles are filled all the same.
Status UseConnectSettings(Workbench& owner, const config::Settings& settings, const std::string& settings_path);

// The type map of a settings file: the rules and preset of its [TypeMap] section; an empty map
// when it has none or the file is missing. A bad rule is an error naming the file and line.
Result<source_common::TypeMap> LoadSettingsTypeMap(const std::string& settings_path);

struct DriverCheckRows {
  std::vector<config::DriverRow> source;
  std::vector<config::DriverRow> target;
};
// The providers and drivers of both sides, as the driver check shows them.
DriverCheckRows RunDriverCheck();
// Where the vendor offers its SQL Server drivers for this platform.
inline constexpr const char* kDriverSetupSite =
    "https://learn.microsoft.com/sql/connect/odbc/linux-mac/installing-the-microsoft-odbc-driver-for-sql-server";

}  // namespace tabulon::converters
