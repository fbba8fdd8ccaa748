#include "converters/settings_commands.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/text.h"
#include "base/text.h"
#include "config/settings_choices.h"
#include "converters/workbench.h"
#include "data/db_connection.h"
#include "data/error_text.h"
#include "data/odbc_drivers.h"
#include "data/properties.h"
#include "data/provider_registry.h"
#include "data/providers/jet/jet_provider.h"
#include "data/providers/odbc/odbc_connection_string.h"
#include "data/providers/sqlite/sqlite_provider.h"
#include "source_sqlserver/connection.h"
#include "target_access/access_files.h"

namespace tabulon::converters {
namespace {

namespace fs = std::filesystem;

// Opens a data source (no session) and tells the user how it went.
void TestSide(Workbench& owner, data::DbConnection& connection, const std::vector<data::PropertySet>& sets,
              const char* error_text, const char* success_text) {
  if (data::Failed(data::OpenDataSource(connection, sets))) {
    owner.prompt().ShowMessage(error_text);
    owner.prompt().ShowMessage(data::ErrorDescription(connection));
  } else {
    owner.prompt().ShowMessage(success_text);
  }
  data::CloseConnection(connection);
}

}  // namespace

std::vector<std::string> SourceNameChoices(std::string_view dbms, std::string_view provider_display_name) {
  if (EqualsIgnoreAsciiCase(provider_display_name, config::kSqlServerProvider)) return config::SqlServerAliases();
  if (config::IsOdbcDisplayName(provider_display_name)) {
    std::vector<config::DataSourceEntry> entries;
    for (const data::OdbcDataSource& source : data::ListOdbcDataSources()) {
      entries.push_back({source.name, source.description});
    }
    return config::DataSourcesForDbms(dbms, entries);
  }
  return {};
}

std::string ProposeNewTargetFile(Workbench& owner) {
  const data::ConnectionProfile& target = owner.target().profile;
  fs::path folder = owner.program_folder();
  if (target_access::IsJetProvider(target.provider_name) && !target.source_name.empty()) {
    const fs::path current(target.source_name);
    if (current.has_parent_path()) folder = current.parent_path();
  }
  const fs::path path = folder / "Access_New.mdb";
  std::error_code error;
  if (fs::is_regular_file(path, error)) return path.string();
  if (fs::is_directory(path, error)) fs::remove_all(path, error);
  if (!target_access::CreateAccessDatabaseAt(owner.target_context(), path.string()) ||
      !fs::is_regular_file(path, error)) {
    workspace::WriteOutput(&owner.output(), "E::Could not create %s", path.string().c_str());
    return {};
  }
  return path.string();
}

void TestConnections(Workbench& owner, const config::Settings& settings) {
  {
    data::DbConnection source;
    source.profile = config::MakeConnectionProfile(settings.source);
    std::vector<data::PropertySet> sets;
    sets.emplace_back(data::DBPROPSET_DBINIT);
    if (source_sqlserver::BuildSourceConnectionProperties(source.profile, &sets.back())) {
      TestSide(owner, source, sets, "Source DB Connect ERROR!", "Source Connection Successful!");
    }
  }
  data::DbConnection target;
  target.profile = config::MakeConnectionProfile(settings.target);
  target_access::TargetContext context = owner.target_context();
  context.target = &target;
  const std::vector<data::PropertySet> sets = target_access::BuildTargetPropertySets(context);
  target_access::EnsureSystemDatabase(context);
  TestSide(owner, target, sets, "Target DB Connect ERROR!", "Target Connection Successful!");
}

Status SaveSettings(Workbench& owner, const config::Settings& settings, const std::string& settings_path) {
  Status status = config::SaveConfig(settings_path, settings);
  owner.prompt().ShowMessage(status.ok() ? "The Config Infomation saved successfully!"
                                         : "The Config Infomation was not saved: " + status.ToString());
  return status;
}

Status UseConnectSettings(Workbench& owner, const config::Settings& settings, const std::string& settings_path) {
  const Status written = config::WriteConnectSettings(settings_path, settings);
  owner.source().profile = config::MakeConnectionProfile(settings.source);
  owner.target().profile = config::MakeConnectionProfile(settings.target);
  owner.auto_backup = settings.auto_backup;
  Result<source_common::TypeMap> map = LoadSettingsTypeMap(settings_path);
  {
    std::lock_guard guard(owner.tree_lock());
    owner.type_map =
        std::make_shared<const source_common::TypeMap>(map.ok() ? std::move(*map) : source_common::TypeMap{});
  }
  if (!written.ok()) return written;
  return map.status();
}

Result<source_common::TypeMap> LoadSettingsTypeMap(const std::string& settings_path) {
  std::ifstream in(settings_path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  const std::string content = text.str();
  // Only the [TypeMap] section holds rules; a file without one has none.
  if (AsciiLower(content).find("[typemap]") == std::string::npos) return source_common::TypeMap{settings_path, {}};
  return source_common::ParseTypeMap(content, settings_path);
}

DriverCheckRows RunDriverCheck() {
  DriverCheckRows rows;
  const bool sqlite = data::FindProvider(data::kSqliteProviderName) != nullptr;
  rows.source =
      config::SourceDriverRows(source_sqlserver::CheckSqlServerProviders(), data::SqlServerDriverName(), sqlite);
  rows.target = config::SplitDriverStatus(target_access::CheckAccessProviders());
  return rows;
}

}  // namespace tabulon::converters
