#include "source_side.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/text.h"
#include "config/settings_file.h"
#include "converters/settings_commands.h"
#include "converters/verify.h"
#include "data/providers/sqlite/sqlite_provider.h"

namespace fs = std::filesystem;

std::optional<int> SetSourceProfile(const char* command, const char* usage, const std::string& source,
                                    CoreSession& session) {
  const auto fail = [command](const std::string& problem) {
    std::fprintf(stderr, "tabulon-cli %s: %s\n", command, problem.c_str());
    return 1;
  };
  tabulon::data::ConnectionProfile& profile = session.workbench().source().profile;
  if (source.starts_with("sqlite:")) {
    const std::string path = AbsolutePath(source.substr(7));
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return fail(path + ": no such file");
    // A SQLite file that holds anything starts with its header; anything else is not one.
    char header[16] = {};
    std::ifstream in(path, std::ios::binary);
    in.read(header, sizeof(header));
    if (in.gcount() > 0 && (in.gcount() < 16 || std::memcmp(header, "SQLite format 3", 16) != 0)) {
      return fail(path + ": not a SQLite database");
    }
    profile.provider_name = tabulon::data::kSqliteProviderName;
    profile.provider_display_name = tabulon::data::kSqliteProviderName;
    profile.source_name = path;
  } else if (source.find('=') != std::string::npos) {
    profile.provider_name = "MSDASQL";
    profile.provider_display_name = "MSDASQL";
    profile.source_name = source;
  } else if (tabulon::EqualsIgnoreAsciiCase(source, "SourceDB")) {
    const std::string file = session.workbench().program_folder() + "/" + tabulon::config::kSettingsFileName;
    const tabulon::config::Settings settings = tabulon::config::LoadSettings(file);
    if (!settings.use_config_file || settings.source.provider.empty()) {
      std::fprintf(stderr, "tabulon-cli %s: %s holds no source profile (Config is off or [SourceDB] is empty)\n",
                   command, file.c_str());
      return 2;
    }
    profile = tabulon::config::MakeConnectionProfile(settings.source);
  } else {
    std::fprintf(stderr, "tabulon-cli %s: unknown source '%s': give sqlite:PATH, a connection string or SourceDB\n%s",
                 command, source.c_str(), usage);
    return 2;
  }
  return std::nullopt;
}

std::optional<int> InstallTypeMap(const char* command, const std::string& type_map,
                                  tabulon::converters::Workbench& workbench) {
  const std::string settings = workbench.program_folder() + "/" + tabulon::config::kSettingsFileName;
  auto map = type_map.empty() ? tabulon::converters::LoadSettingsTypeMap(settings)
                              : tabulon::source_common::LoadTypeMap(type_map);
  if (!map.ok()) {
    std::fprintf(stderr, "tabulon-cli %s: %s\n", command, map.status().message().c_str());
    return 2;
  }
  std::lock_guard guard(workbench.tree_lock());
  workbench.type_map = std::make_shared<const tabulon::source_common::TypeMap>(std::move(*map));
  return std::nullopt;
}

std::optional<std::string> FindDatabase(const tabulon::workspace::DbTreeView& view, const std::string& name) {
  std::optional<std::string> found;
  const tabulon::workspace::DbTree& tree = view.tree;
  for (size_t id = 0; id < tree.size(); ++id) {
    if (!tree.Contains(static_cast<int>(id))) continue;
    const tabulon::workspace::TreeNode& node = tree.node(static_cast<int>(id));
    if (node.kind != tabulon::workspace::TreeNodeKind::kDatabase) continue;
    if (node.text == name) return node.text;
    if (!found && tabulon::EqualsIgnoreAsciiCase(node.text, name)) found = node.text;
  }
  return found;
}

int VerifyAndShow(const char* command, tabulon::converters::Workbench& workbench, const std::string& database,
                  const std::vector<std::string>& tables, const std::string& file) {
  using tabulon::converters::VerifyDifference;
  auto results = tabulon::converters::RunVerification(workbench, {database, tables, file});
  if (!results.ok()) {
    std::fprintf(stderr, "tabulon-cli %s: cannot verify: %s\n", command, results.status().message().c_str());
    return 1;
  }
  bool equal = true;
  for (const tabulon::converters::TableVerification& t : *results) {
    const char* name = t.table.c_str();
    const std::string inexact = t.inexact > 0 ? "; " + std::to_string(t.inexact) + " inexact" : "";
    if (!t.error.empty()) {
      std::printf("[%s] not verified: %s\n", name, t.error.c_str());
    } else if (t.equal()) {
      std::printf("[%s] equal (%lld rows%s)\n", name, t.rows, inexact.c_str());
    } else {
      std::printf("[%s] %lld differing, %lld missing, %lld extra (%lld rows%s)\n", name, t.differing, t.missing,
                  t.extra, t.rows, inexact.c_str());
    }
    for (const VerifyDifference& d : t.first) {
      switch (d.kind) {
        case VerifyDifference::Kind::kValue:
          std::printf("  key=%s column %s: source %s target %s\n", d.key.c_str(), d.column.c_str(), d.source.c_str(),
                      d.target.c_str());
          break;
        case VerifyDifference::Kind::kMissing: std::printf("  missing key=%s\n", d.key.c_str()); break;
        case VerifyDifference::Kind::kExtra: std::printf("  extra key=%s\n", d.key.c_str()); break;
      }
    }
    equal = equal && t.equal();
  }
  std::fflush(stdout);
  return equal ? 0 : 1;
}
