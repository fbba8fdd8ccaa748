// Provider names (as the settings spell them) mapped to implementations. SQLOLEDB and MSDASQL
// are the ODBC provider, Microsoft.Jet.OLEDB.4.0 the built-in engine, SQLite the SQLite
// provider; other providers register themselves with one call.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/provider.h"

namespace tabulon::data {

// Registers (or replaces) the provider for `name`; names compare without regard to ASCII case.
void RegisterProvider(std::string name, std::shared_ptr<Provider> provider);
// Removes `name`; true when it was registered.
bool UnregisterProvider(std::string_view name);
// The provider for `name`, or null.
std::shared_ptr<Provider> FindProvider(std::string_view name);
// The registered names, in registration order.
std::vector<std::string> RegisteredProviderNames();

}  // namespace tabulon::data
