#include "config/settings_file.h"

#include <array>
#include <utility>

#include "base/text.h"
#include "config/profile_file.h"

namespace tabulon::config {
namespace {

constexpr mode_t kOwnerOnly = 0600;

constexpr std::array<std::pair<std::string_view, std::string_view>, 11> kProviderNames = {{
    {"Microsoft OLE DB Provider for ODBC Divers", "MSDASQL"},
    {"TCP/IP:Port", "MSDASQL"},
    {"Microsoft OLE DB Provider for SQL Server", "SQLOLEDB"},
    {"Driver do Microsoft Excel", "MSDASQL"},
    {"Microsoft Excel Driver", "MSDASQL"},
    {"Driver do Microsoft Access", "MSDASQL"},
    {"Microsoft Access Driver", "MSDASQL"},
    {"Microsoft Jet 4.0 OLE DB Provider", "Microsoft.Jet.OLEDB.4.0"},
    {"Microsoft Jet 3.51 OLE DB Provider", "Microsoft.Jet.OLEDB.4.0"},
    {"Microsoft OLE DB Provider for Oracle", "MSDAORA"},
    {"Oracle Provider for OLE DB", "OraOLEDB.Oracle"},
}};

const char* Flag(bool on) { return on ? "true" : "false"; }

bool IsOn(const ProfileFile& file, std::string_view key) {
  const auto value = file.Get("Public", key);
  return value && CutToBuffer(*value, kSettingsValueBuffer).find("true") != std::string::npos;
}

SideSettings ReadSide(const ProfileFile& file, std::string_view section) {
  const auto read = [&](std::string_view key) {
    return CutToBuffer(file.Get(section, key).value_or(""), kSettingsValueBuffer);
  };
  return {read("Provider"), read("SourceName"), read("UserID"), read("PassWord"), read("CatalogName")};
}

Status WriteSide(ProfileFile& file, std::string_view section, const SideSettings& side) {
  RETURN_IF_ERROR(file.Set(section, "Provider", side.provider));
  RETURN_IF_ERROR(file.Set(section, "SourceName", side.source_name));
  RETURN_IF_ERROR(file.Set(section, "UserID", side.user_id));
  RETURN_IF_ERROR(file.Set(section, "PassWord", side.password));
  return file.Set(section, "CatalogName", side.catalog_name);
}

// Loads the file, writes the keys in order, saves it owner-only.
Status Write(const std::string& path, const Settings& settings, bool options_always) {
  ASSIGN_OR_RETURN(ProfileFile file, ProfileFile::Load(path));
  RETURN_IF_ERROR(file.Set("Public", "Config", Flag(settings.use_config_file)));
  if (settings.use_config_file || options_always) {
    RETURN_IF_ERROR(file.Set("Public", "Tips", Flag(settings.tips)));
    RETURN_IF_ERROR(file.Set("Public", "AutoBackup", Flag(settings.auto_backup)));
  }
  if (!settings.type_map_preset.empty()) RETURN_IF_ERROR(file.Set("TypeMap", "Preset", settings.type_map_preset));
  if (settings.use_config_file) {
    RETURN_IF_ERROR(WriteSide(file, "SourceDB", settings.source));
    RETURN_IF_ERROR(WriteSide(file, "TargetDB", settings.target));
  }
  return file.Save(path, kOwnerOnly);
}

std::string LowerName(const std::string& name) {
  if (name.find_first_of("/=") != std::string::npos) return name;
  return AsciiLower(name);
}

}  // namespace

std::string MapProviderName(std::string_view display_name) {
  for (const auto& [display, name] : kProviderNames) {
    if (EqualsIgnoreAsciiCase(display, display_name)) return std::string(name);
  }
  return std::string(display_name);
}

Settings LoadSettings(const std::string& path) {
  Settings settings;
  auto file = ProfileFile::Load(path);
  if (!file.ok()) return settings;
  settings.use_config_file = IsOn(*file, "Config");
  if (settings.use_config_file) {
    settings.source = ReadSide(*file, "SourceDB");
    settings.target = ReadSide(*file, "TargetDB");
  }
  settings.auto_backup = IsOn(*file, "AutoBackup");
  settings.tips = IsOn(*file, "Tips");
  settings.type_map_preset = file->Get("TypeMap", "Preset").value_or("");
  return settings;
}

Status SaveConfig(const std::string& path, const Settings& settings) { return Write(path, settings, false); }

Status WriteConnectSettings(const std::string& path, const Settings& settings) { return Write(path, settings, true); }

data::ConnectionProfile MakeConnectionProfile(const SideSettings& side) {
  data::ConnectionProfile profile;
  profile.provider_display_name = side.provider;
  profile.provider_name = MapProviderName(side.provider);
  // A SQLite source is a file: its name keeps its case even without a folder in it.
  profile.source_name =
      EqualsIgnoreAsciiCase(profile.provider_name, "SQLite") ? side.source_name : LowerName(side.source_name);
  profile.catalog = LowerName(side.catalog_name);
  profile.user_id = side.user_id;
  profile.password = side.password;
  return profile;
}

}  // namespace tabulon::config
