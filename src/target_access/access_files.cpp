#include "target_access/access_files.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "base/text.h"
#include "data/error_text.h"
#include "data/provider_registry.h"
#include "data/providers/jet/jet_provider.h"
#include "data/regex_helper.h"

namespace tabulon::target_access {
namespace {

namespace fs = std::filesystem;
using workspace::WriteOutput;
using workspace::WriteOutputText;

// The code of a failed file operation, as Windows would give it for the same failure.
data::Hresult HresultFromErrno(int error) {
  std::uint32_t win32 = 0x1F;  // ERROR_GEN_FAILURE
  switch (error) {
    case ENOENT:
    case ENOTDIR: win32 = 2; break;  // ERROR_FILE_NOT_FOUND
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: win32 = 5; break;  // ERROR_ACCESS_DENIED
    case EBUSY:
    case ETXTBSY: win32 = 32; break;  // ERROR_SHARING_VIOLATION
    default: break;
  }
  return data::MakeHresult(0x80070000u | win32);
}

// Everything up to and including the last path separator ('\' or '/'); "" without one.
std::string DirectoryPart(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

void WriteHresult(TargetContext& owner, std::string_view step, data::Hresult code,
                  const std::vector<std::string>& errors = {}) {
  WriteOutputText(owner.output, data::FormatHresult(step, code));
  // The provider's own words say what the code cannot (a file that exists, a folder missing).
  if (!errors.empty()) WriteOutputText(owner.output, errors.front());
}

// Holds the owner's tree lock, when it has one, for a short change of tree fields.
class TreeGuard {
 public:
  explicit TreeGuard(const TargetContext& owner) : lock_(owner.tree_lock) {
    if (lock_ != nullptr) lock_->lock();
  }
  ~TreeGuard() {
    if (lock_ != nullptr) lock_->unlock();
  }
  TreeGuard(const TreeGuard&) = delete;
  TreeGuard& operator=(const TreeGuard&) = delete;

 private:
  std::recursive_mutex* lock_;
};

// Creates a Jet file from the sets through the built-in provider; failures are written with
// these step words: "Database Init" (no provider), "Bind Property" (a
// provider that cannot create files), then `create_step`.
bool CreateJetFile(TargetContext& owner, std::span<const data::PropertySet> sets, std::string_view create_step) {
  std::shared_ptr<data::Provider> provider = data::FindProvider(data::kJetProviderName);
  if (provider == nullptr) {
    WriteHresult(owner, "Database Init", data::REGDB_E_CLASSNOTREG);
    return false;
  }
  auto* jet = dynamic_cast<data::JetProvider*>(provider.get());
  if (jet == nullptr) {
    WriteHresult(owner, "Bind Property", data::E_NOINTERFACE);
    return false;
  }
  std::vector<std::string> errors;
  const data::Hresult code = jet->CreateDataSource(sets, &errors);
  if (data::Failed(code)) {
    WriteHresult(owner, create_step, code, errors);
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> ProcessEnvironment(std::string_view name) {
  const char* value = std::getenv(std::string(name).c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string ExpandEnvironmentText(std::string_view text, const EnvironmentLookup& lookup) {
  std::string out(text);
  for (int round = 0; round < 64; ++round) {
    const size_t open = out.find('%');
    if (open == std::string::npos) break;
    const size_t close = out.find('%', open + 1);
    if (close == std::string::npos) break;
    const std::string name = out.substr(open + 1, close - open - 1);
    out.replace(open, close - open + 1, lookup(name).value_or(""));
  }
  return out;
}

std::string SystemDatabasePath(const TargetContext& owner, const EnvironmentLookup& lookup) {
  if (!owner.system_database_path.empty()) return owner.system_database_path;
  std::string path = ExpandEnvironmentText(kSystemDatabaseTemplate, [&](std::string_view name) {
    auto value = lookup(name);
    if (!value && name == "USERPROFILE") value = lookup("HOME");
    return value;
  });
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

bool IsJetProvider(std::string_view provider) { return EqualsIgnoreAsciiCase(provider, data::kJetProviderName); }

bool BuildTargetConnectionProperties(TargetContext& owner, data::PropertySet* set) {
  data::ConnectionProfile& profile = owner.target->profile;
  set->AddBool(data::DBPROP_AUTH_CACHE_AUTHINFO, true);
  set->AddBool(data::DBPROP_AUTH_ENCRYPT_PASSWORD, false);
  set->AddBool(data::DBPROP_AUTH_MASK_PASSWORD, false);
  set->AddString(data::DBPROP_AUTH_PASSWORD, profile.password);
  set->AddString(data::DBPROP_AUTH_USERID, profile.user_id);
  if (!profile.source_name.empty()) set->AddString(data::DBPROP_INIT_DATASOURCE, profile.source_name);
  if (!profile.catalog.empty()) set->AddString(data::DBPROP_INIT_CATALOG, profile.catalog);
  set->AddI4(data::DBPROP_INIT_MODE, data::DB_MODE_SHARE_DENY_NONE);
  set->AddI2(data::DBPROP_INIT_PROMPT, data::DBPROMPT_NOPROMPT);
  set->AddI4(data::DBPROP_INIT_LCID, 0x409);
  if (IsJetProvider(profile.provider_name)) {
    set->AddString(data::DBPROP_INIT_PROVIDERSTRING, ";COUNTRY=0;CP=1252;LANGID=0x0409");
    // The catalog is the path without its ending: the name the target tree shows.
    profile.catalog = data::RegexReplace(profile.source_name, ".mdb$", "");
  } else {
    set->AddString(data::DBPROP_INIT_PROVIDERSTRING,
                   "Driver={Microsoft Access Driver (*.mdb)};SystemDB=" + SystemDatabasePath(owner) + ";");
  }
  return true;
}

std::vector<data::PropertySet> BuildTargetPropertySets(TargetContext& owner) {
  std::vector<data::PropertySet> sets;
  sets.emplace_back(data::DBPROPSET_DBINIT);
  BuildTargetConnectionProperties(owner, &sets.back());
  if (IsJetProvider(owner.target->profile.provider_name)) {
    sets.emplace_back(data::DBPROPSET_JETOLEDB_DBINIT);
    sets.back().AddString(data::DBPROP_JETOLEDB_SYSDBPATH, SystemDatabasePath(owner));
  }
  return sets;
}

void EnsureSystemDatabase(TargetContext& owner) {
  const fs::path path = SystemDatabasePath(owner);
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  if (fs::exists(status)) {
    if (!fs::is_directory(status)) return;
    // An empty folder in the file's place is removed; a folder with contents is never
    // deleted on the program's own initiative.
    if (!fs::is_empty(path, error) || !fs::remove(path, error)) {
      WriteOutput(owner.output, "E::The workgroup file [%s] is a folder that is not empty; it is left alone.",
                  path.c_str());
      return;
    }
  }
  CreateSystemDatabase(owner);
}

void CreateSystemDatabase(TargetContext& owner) {
  const std::string path = SystemDatabasePath(owner);
  std::error_code error;
  // The folders may not exist yet; they are made on first use.
  fs::create_directories(fs::path(path).parent_path(), error);
  std::vector<data::PropertySet> sets;
  sets.emplace_back(data::DBPROPSET_DBINIT);
  sets.back().AddString(data::DBPROP_INIT_DATASOURCE, path);
  sets.emplace_back(data::DBPROPSET_JETOLEDB_DBINIT);
  sets.back().AddBool(data::DBPROP_JETOLEDB_CREATE_SYSDB, true);
  CreateJetFile(owner, sets, "Create SysDB");
}

bool CreateAccessDatabase(TargetContext& owner, const std::string& name, int mode) {
  std::string path;
  if (mode == 0) {
    if (name.empty()) return false;
    path = name;
  } else {
    const TreeBinding* tree = owner.side_in_use == "Source" ? owner.source_tree : owner.target_tree;
    std::string current;
    if (tree != nullptr) {
      TreeGuard guard(owner);
      current = tree->current_database;
    }
    // The name is a database name (from the source), never a path.
    path = DirectoryPart(current) + MakeSafeFileName(name);
  }
  return CreateAccessDatabaseAt(owner, std::move(path));
}

bool CreateAccessDatabaseAt(TargetContext& owner, std::string path) {
  if (path.find(".mdb") == std::string::npos) path += ".mdb";
  WriteOutput(owner.output, "Create Access MDB File [%s]", path.c_str());
  std::vector<data::PropertySet> sets;
  sets.emplace_back(data::DBPROPSET_DBINIT);
  sets.back().AddString(data::DBPROP_INIT_DATASOURCE, path);
  if (!CreateJetFile(owner, sets, "Create DB")) return false;
  EnsureSystemDatabase(owner);
  return true;
}

bool IsConnectedDatabase(TargetContext& owner, const std::string& name) {
  if (owner.target_tree == nullptr) return false;
  TreeGuard guard(owner);
  return EqualsIgnoreAsciiCase(name, owner.target_tree->current_database);
}

bool DropAccessDatabase(TargetContext& owner, const std::string& name) {
  if (owner.stop_running_tasks) owner.stop_running_tasks();
  TreeBinding* tree = owner.target_tree;
  const bool connected = IsConnectedDatabase(owner, name);
  if (connected) {
    TreeGuard guard(owner);
    if (owner.target != nullptr) data::CloseConnection(*owner.target);
    tree->current_database.clear();
    tree->state = -1;
  }
  const std::string file = name + ".mdb";
  // unlink, not remove: a folder of that name is never deleted.
  if (::unlink(file.c_str()) == 0) {
    // The rollback journal of the deleted file must not meet a new file of the same name.
    std::error_code ignored;
    fs::remove(file + "-journal", ignored);
    WriteOutput(owner.output, "Drop Database SUCCESSFULLY!!!");
  } else {
    WriteHresult(owner, "Drop Database", HresultFromErrno(errno));
  }
  // The target tree shows the side disconnected from now on.
  if (connected && owner.refresh_target) owner.refresh_target();
  return true;
}

bool SwitchAccessDatabase(TargetContext& owner, std::string name, Side side) {
  {
    // The fields change under the tree lock; the connection below takes it itself, so no
    // question it asks waits while the lock is held.
    TreeGuard guard(owner);
    if (name.find_first_of("\\/") == std::string::npos && owner.target_tree != nullptr) {
      name = DirectoryPart(owner.target_tree->current_database) + name;
    }
    data::DbConnection* connection = side == Side::kSource ? owner.source : owner.target;
    TreeBinding* tree = side == Side::kSource ? owner.source_tree : owner.target_tree;
    if (connection != nullptr) {
      data::CloseConnection(*connection);
      connection->profile.catalog.clear();
      if (IsJetProvider(connection->profile.provider_name)) {
        if (name.find(".mdb") == std::string::npos) name += ".mdb";
        connection->profile.source_name = name;
      } else {
        connection->profile.catalog = name;
      }
    }
    if (tree != nullptr) {
      tree->state = -1;
      if (side == Side::kTarget) tree->current_database = name;
    }
  }
  if (owner.connect) owner.connect(side);
  return true;
}

std::string FormatAccessProviders(bool jet_registered, bool bridge_registered, bool bridge_usable,
                                  const std::vector<data::OdbcDriver>& drivers, const EnvironmentLookup& lookup) {
  std::string text = "Microsoft Jet 4.0 OLE DB Provider|";
  text += jet_registered ? "Installed|Usable|" : "Not Installed|Unusable|";
  text += "Microsoft OLE DB Provider for ODBC Drivers|";
  text += bridge_registered ? "Installed|" : "Not Installed|";
  text += bridge_registered && bridge_usable ? "Usable|" : "Unusable|";
  bool any = false;
  auto file_exists = [&](const std::string& path) {
    std::error_code error;
    return !path.empty() && fs::is_regular_file(ExpandEnvironmentText(path, lookup), error);
  };
  for (const data::OdbcDriver& driver : drivers) {
    if (driver.name.find("Access") == std::string::npos) continue;
    any = true;
    std::optional<std::string> library, setup;
    for (const auto& [key, value] : driver.attributes) {
      if (EqualsIgnoreAsciiCase(key, "Driver")) library = value;
      if (EqualsIgnoreAsciiCase(key, "Setup")) setup = value;
    }
    // Drivers here often have no set-up library; one that is named must exist.
    const bool usable = library && file_exists(*library) && (!setup || file_exists(*setup));
    text += driver.name + "|Installed|" + (usable ? "Usable|" : "Unusable|");
  }
  if (!any) text += "Microsoft Access Driver|Not installed|Unusable|";
  return text;
}

std::string CheckAccessProviders() {
  return FormatAccessProviders(data::FindProvider(data::kJetProviderName) != nullptr,
                               data::FindProvider("MSDASQL") != nullptr, data::OdbcDriverManagerUsable(),
                               data::ListOdbcDrivers());
}

std::string MakeSafeFileName(std::string_view name) {
  std::string out;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    out += (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) ? '_' : c;
  }
  if (out.empty() || out == "." || out == "..") out = std::string(out.size() + 1, '_');
  return out;
}

}  // namespace tabulon::target_access
