// tabulon.cfg: the connection settings of both sides and the program options, as the settings
// dialog loads and stores them, and the provider names they map to. The file holds passwords,
// so it is always written readable by its owner only.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "data/db_connection.h"

namespace tabulon::config {

inline constexpr const char* kSettingsFileName = "tabulon.cfg";
// Values are read as into a buffer of this many characters.
inline constexpr size_t kSettingsValueBuffer = 80;

struct SideSettings {
  std::string provider;  // display name
  std::string source_name;
  std::string user_id;
  std::string password;
  std::string catalog_name;
};

struct Settings {
  bool use_config_file = false;  // "Properties from and to config file"
  bool auto_backup = false;
  bool tips = false;
  // [TypeMap] Preset: "default", "access-native", or "" when the file names none.
  std::string type_map_preset;
  SideSettings source;
  SideSettings target;
};

// The programmatic provider name of a display name (case-insensitive); unknown names map to
// themselves.
std::string MapProviderName(std::string_view display_name);

// Reads the file as the settings dialog opens: a missing or unreadable file gives every option
// off and every field empty; the profiles are read only when "Config" is on.
Settings LoadSettings(const std::string& path);

// "Save Config": with the profiles option on the options and both profiles, otherwise only
// "Config"="false". The settings commands tell the user how it went.
Status SaveConfig(const std::string& path, const Settings& settings);

// What "Connect" writes: "Config", "Tips" and "AutoBackup" always, the profiles when the option
// is on.
Status WriteConnectSettings(const std::string& path, const Settings& settings);

// The profile Connect uses for one side: the provider mapped, the source and catalog names
// lower-cased (file paths and connection strings keep their case: they are case-sensitive here).
data::ConnectionProfile MakeConnectionProfile(const SideSettings& side);

}  // namespace tabulon::config
