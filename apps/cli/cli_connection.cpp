#include "cli_connection.h"

#include <span>

#include "data/error_text.h"

using namespace tabulon::data;
using namespace tabulon::workspace;

bool OpenCliConnection(OutputPane& pane, DbConnection& connection, const PropertySet& init) {
  Hresult code = OpenDataSource(connection, std::span<const PropertySet>(&init, 1));
  if (Failed(code)) {
    WriteOutput(&pane, "E::%s", FormatHresult("Database Init", code).c_str());
    WriteOutput(&pane, "E::%s", ErrorDescription(connection).c_str());
    return false;
  }
  code = OpenSession(connection);
  if (Failed(code)) {
    WriteOutput(&pane, "E::Couldn't create session on data source");
    WriteOutput(&pane, "E::%s", ErrorDescription(connection).c_str());
    return false;
  }
  return true;
}
