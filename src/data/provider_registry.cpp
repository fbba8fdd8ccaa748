#include "data/provider_registry.h"

#include <mutex>
#include <utility>

#include "base/text.h"
#include "data/providers/jet/jet_provider.h"
#include "data/providers/odbc/odbc_connection_string.h"
#include "data/providers/odbc/odbc_provider.h"
#include "data/providers/sqlite/sqlite_provider.h"

namespace tabulon::data {
namespace {

struct Entry {
  std::string name;
  std::shared_ptr<Provider> provider;
};

struct Registry {
  std::mutex mutex;
  std::vector<Entry> entries;

  Registry() {
    entries.push_back(
        {"SQLOLEDB", std::make_shared<OdbcProvider>(OdbcProvider::Kind::kSqlServer, SqlServerDriverName())});
    entries.push_back({"MSDASQL", std::make_shared<OdbcProvider>(OdbcProvider::Kind::kGeneric)});
    entries.push_back({kJetProviderName, std::make_shared<JetProvider>()});
    entries.push_back({kSqliteProviderName, std::make_shared<SqliteProvider>()});
  }
};

// Built on first use, so registering from any static initialiser or test is safe.
Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void RegisterProvider(std::string name, std::shared_ptr<Provider> provider) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  for (Entry& e : r.entries) {
    if (EqualsIgnoreAsciiCase(e.name, name)) {
      e.provider = std::move(provider);
      return;
    }
  }
  r.entries.push_back({std::move(name), std::move(provider)});
}

bool UnregisterProvider(std::string_view name) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  for (auto it = r.entries.begin(); it != r.entries.end(); ++it) {
    if (EqualsIgnoreAsciiCase(it->name, name)) {
      r.entries.erase(it);
      return true;
    }
  }
  return false;
}

std::shared_ptr<Provider> FindProvider(std::string_view name) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  for (const Entry& e : r.entries) {
    if (EqualsIgnoreAsciiCase(e.name, name)) return e.provider;
  }
  return nullptr;
}

std::vector<std::string> RegisteredProviderNames() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  std::vector<std::string> names;
  for (const Entry& e : r.entries) names.push_back(e.name);
  return names;
}

}  // namespace tabulon::data
