#include "converters/connect.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "converters/workbench.h"
#include "data/error_text.h"
#include "data/properties.h"
#include "source_sqlserver/connection.h"
#include "target_access/access_files.h"
#include "target_access/target_tables.h"

namespace tabulon::converters {
namespace {

struct SideTexts {
  const char* side;  // "Source" or "Target"
  const char* hint;
  const char* error;      // the message box of a failed open
  const char* connected;  // the line after a successful open
};

constexpr SideTexts kSourceTexts{"Source",
                                 "Source Connection error! Please comfirm source database connection properties !",
                                 "Source Connection error!", "Connect Source Database!"};
constexpr SideTexts kTargetTexts{"Target",
                                 "Target Connection error! Please comfirm target database connection properties !",
                                 "Target Connection error!", "Connect Target Database!"};

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// A failed open: the side's hint and message box, and the provider's own words as a line (the
// message box alone does not say what to fix).
void ReportOpenFailure(Workbench& owner, const SideTexts& texts, data::DbConnection& connection) {
  owner.ShowHint(texts.hint);
  workspace::WriteOutput(&owner.output(), "E::%s %s", texts.error, data::ErrorDescription(connection).c_str());
  owner.prompt().ShowMessage(texts.error);
}

// Opens the side from `sets`, hands the tree its connection and rebuilds it, and makes the DBMS
// text. `fallback_version` gives the text when the provider reports no DBMS name.
void OpenSide(Workbench& owner, const SideTexts& texts, data::DbConnection& connection, workspace::DbTreeView& tree,
              const std::vector<data::PropertySet>& sets, std::string Workbench::*dbms,
              const std::function<std::string(data::Session*)>& fallback_version) {
  workspace::OutputPane* out = &owner.output();
  if (data::Failed(data::OpenDataSource(connection, sets))) {
    ReportOpenFailure(owner, texts, connection);
    return;
  }
  workspace::WriteOutputText(out, texts.connected);
  if (data::Failed(data::OpenSession(connection))) {
    workspace::WriteOutput(out, "E::%s", data::ErrorDescription(connection).c_str());
    owner.prompt().ShowMessage("Couldn't create session on data source");
    return;
  }

  std::string name;
  const bool have_name = data::Succeeded(data::ReadDataSourceInfo(connection, data::DBPROP_DBMSNAME, &name));
  std::string text;
  {
    std::lock_guard guard(owner.tree_lock());
    tree.current_database = connection.profile.catalog;
    tree.state = 0;
    tree.RefreshTree();
    text = owner.*dbms;
  }
  owner.ShowTreeMessages();
  if (!have_name) {
    workspace::WriteOutput(out, "Get %s DBMS Name Error!", texts.side);
  } else {
    text = Trim(name);
    std::string version;
    if (!text.empty()) {
      if (data::Succeeded(data::ReadDataSourceInfo(connection, data::DBPROP_DBMSVER, &version))) {
        text += "[" + version + "]";
      } else {
        workspace::WriteOutput(out, "Get %s DBMS Version Error!", texts.side);
      }
    }
  }
  workspace::WriteOutputText(out, "RESULT: The operation completed SUCCESSFULLY");
  if (text.empty()) text = fallback_version(connection.session.get());
  std::lock_guard guard(owner.tree_lock());
  owner.*dbms = text;
}

// Releases the side and marks its tree as connecting.
void ReleaseSide(Workbench& owner, data::DbConnection& connection, workspace::DbTreeView& tree) {
  std::lock_guard guard(owner.tree_lock());
  data::CloseConnection(connection);
  tree.state = -1;
}

}  // namespace

void ConnectCommand(Workbench& owner) {
  if (!owner.AllowConnectionCommand()) return;
  ConnectSource(owner);
  ConnectTarget(owner);
  owner.charset_name = "LATIN1";
}

void ConnectSource(Workbench& owner) {
  data::DbConnection& source = owner.source();
  ReleaseSide(owner, source, owner.source_tree());
  std::vector<data::PropertySet> sets;
  sets.emplace_back(data::DBPROPSET_DBINIT);
  if (!source_sqlserver::BuildSourceConnectionProperties(source.profile, &sets.back())) {
    owner.ShowHint(kSourceTexts.hint);
    owner.prompt().ShowMessage(kSourceTexts.error);
    return;
  }
  OpenSide(owner, kSourceTexts, source, owner.source_tree(), sets, &Workbench::source_dbms,
           [&owner](data::Session* session) { return source_sqlserver::GetServerVersion(&owner.output(), session); });
}

void ConnectTarget(Workbench& owner) {
  data::DbConnection& target = owner.target();
  ReleaseSide(owner, target, owner.target_tree());
  target_access::TargetContext& context = owner.target_context();
  // For the Jet provider this also makes the catalog the file's path without ".mdb": the name
  // the tree shows.
  const std::vector<data::PropertySet> sets = target_access::BuildTargetPropertySets(context);
  target_access::EnsureSystemDatabase(context);
  OpenSide(owner, kTargetTexts, target, owner.target_tree(), sets, &Workbench::target_dbms,
           [&owner](data::Session* session) { return target_access::TargetVersion(&owner.output(), session); });
}

}  // namespace tabulon::converters
