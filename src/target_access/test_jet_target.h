// Shared by the target adapter's tests: an .mdb opened through the Jet provider as the target,
// with the owner the adapter's calls take, and the texts of an output pane.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "data/db_connection.h"
#include "data/provider_registry.h"
#include "data/providers/jet/jet_provider.h"
#include "data/statement.h"
#include "workspace/statement_output.h"
#include "target_access/access_files.h"

namespace tabulon::target_access::test_util {

inline constexpr char kJet[] = "Microsoft.Jet.OLEDB.4.0";

inline std::vector<std::string> Texts(const workspace::OutputPane& pane) {
  std::vector<std::string> out;
  for (const workspace::OutputLine& line : pane.Lines()) out.push_back(line.text);
  return out;
}

struct JetTarget {
  // Creates the file first unless `create` is false.
  explicit JetTarget(const std::filesystem::path& file, bool create = true) : path(file) {
    connection.profile.provider_name = kJet;
    connection.profile.source_name = path.string();
    set.AddString(data::DBPROP_INIT_DATASOURCE, path.string());
    auto* jet = dynamic_cast<data::JetProvider*>(data::FindProvider(kJet).get());
    std::vector<std::string> errors;
    opened = jet != nullptr && (!create || data::Succeeded(jet->CreateDataSource({&set, 1}, &errors))) && Open();
    owner.output = &pane;
    owner.target = &connection;
  }
  bool Open() {
    return data::OpenDataSource(connection, {&set, 1}) == data::S_OK && data::OpenSession(connection) == data::S_OK;
  }
  void Close() { data::CloseConnection(connection); }
  data::Session* session() { return connection.session.get(); }
  // Runs a statement without a line in the pane.
  bool Run(const std::string& sql) { return workspace::ExecuteStatement(nullptr, session(), sql, 0); }
  // The pane's texts; the pane is emptied.
  std::vector<std::string> Lines() {
    std::vector<std::string> out = Texts(pane);
    pane.Clear();
    return out;
  }

  std::filesystem::path path;
  data::PropertySet set{data::DBPROPSET_DBINIT};
  data::DbConnection connection;
  workspace::OutputPane pane;
  TargetContext owner;
  bool opened = false;
};

}  // namespace tabulon::target_access::test_util
