// The commands that change the Access target at once: Delete and the target tree's commands.
// They run on the user-interface thread and are refused while tasks run (a task writes the
// same file through the same connection).
#include <algorithm>
#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "base/text.h"
#include "converters/commands.h"
#include "converters/connect.h"
#include "converters/tree_selection.h"
#include "converters/workbench.h"
#include "data/statement.h"
#include "workspace/statement_output.h"
#include "source_sqlserver/sql_names.h"
#include "target_access/access_files.h"
#include "target_access/target_tables.h"

namespace tabulon::converters {
namespace {

using target_access::QuoteAccessName;
using workspace::TreeNodeKind;

constexpr char kNoDatabaseSelected[] = "No Database in TARGET Side be Selected!";

std::string LastWarning(const std::string& what, const char* again = " again") {
  return "After remove, you can not restore " + what + again + "! Continue?\nPress YES to Continue Removing!";
}

// The two confirmations of a destructive command: OK, then Yes.
bool Confirm(Workbench& owner, const std::string& first, const std::string& second) {
  return owner.prompt().AskOkCancel(first) && owner.prompt().AskYesNo(second);
}

data::Session* TargetSession(Workbench& owner) { return owner.target().session.get(); }

TreeSelection TargetSelection(Workbench& owner) {
  std::lock_guard guard(owner.tree_lock());
  return ReadSelection(owner.target_tree());
}

struct Item {
  int id;
  std::string text;
};

// The items under a folder of the target tree, in tree order (copied: the loops below take
// items out of the tree as they go).
std::vector<Item> ItemsUnder(Workbench& owner, int folder) {
  std::lock_guard guard(owner.tree_lock());
  const workspace::DbTree& tree = owner.target_tree().tree;
  std::vector<Item> items;
  if (!tree.Contains(folder)) return items;
  for (int child : tree.node(folder).children) items.push_back({child, tree.node(child).text});
  return items;
}

void RemoveTargetItem(Workbench& owner, int id) {
  std::lock_guard guard(owner.tree_lock());
  owner.target_tree().RemoveItem(id);
}

void RefreshTargetTree(Workbench& owner) { owner.RefreshTree(owner.target_tree()); }

// The name the current database goes by: its item's text, else the name the tree keeps.
std::string CurrentDatabaseName(Workbench& owner) {
  std::lock_guard guard(owner.tree_lock());
  const workspace::DbTreeView& tree = owner.target_tree();
  if (tree.tree.Contains(tree.current_database_item)) return tree.tree.node(tree.current_database_item).text;
  return tree.current_database;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return EqualsIgnoreAsciiCase(n, name); });
}

// A relationship of the target: the referencing table and the one it refers to.
struct Relationship {
  std::string name;
  std::string table;
  std::string referenced;
};

// The target's relationships, read from its system table (one row per column pair). A target
// that does not let it be read gives none; a read failing half-way is a line with the provider's
// words (the target then refuses to drop a table still related, and says so).
std::vector<Relationship> ReadRelationships(data::Session* session, workspace::OutputPane* output) {
  std::vector<Relationship> relationships;
  data::TextRowset rows;
  if (data::OpenTextRowset(session, "select szRelationship, szObject, szReferencedObject from MSysRelationships",
                           &rows) != data::S_OK ||
      !rows.has_rowset() || rows.buffer().columns() < 3) {
    return relationships;
  }
  const auto text = [&rows](size_t ordinal) {
    return rows.buffer().IsNull(ordinal) ? std::string() : std::string(rows.buffer().Value(ordinal));
  };
  for (;;) {
    Result<bool> fetched = data::FetchRow(rows);
    if (!fetched.ok()) {
      workspace::WriteOutput(output, "T::%s", fetched.status().message().c_str());
      break;
    }
    if (!*fetched) break;
    Relationship r{text(1), text(2), text(3)};
    const bool known = std::any_of(relationships.begin(), relationships.end(),
                                   [&](const Relationship& k) { return EqualsIgnoreAsciiCase(k.name, r.name); });
    if (!known && !r.name.empty()) relationships.push_back(std::move(r));
  }
  return relationships;
}

// The target refuses to drop a table in a relationship: the relationships of the tables about
// to be dropped go first.
void DropRelationshipsOf(Workbench& owner, const std::vector<std::string>& tables) {
  data::Session* session = TargetSession(owner);
  for (const Relationship& r : ReadRelationships(session, &owner.output())) {
    if (!Contains(tables, r.table) && !Contains(tables, r.referenced)) continue;
    const std::string sql = "alter table " + QuoteAccessName(r.table) + " drop constraint " + QuoteAccessName(r.name);
    workspace::WriteOutputText(&owner.output(), sql);
    workspace::ExecuteStatement(&owner.output(), session, sql, 1);
  }
}

// Drops the tables (their relationships first) and takes each dropped item out of the tree;
// returns how many were dropped.
int DropTables(Workbench& owner, const std::string& database, const std::vector<Item>& tables) {
  std::vector<std::string> names;
  for (const Item& table : tables) names.push_back(table.text);
  DropRelationshipsOf(owner, names);
  int dropped = 0;
  for (const Item& table : tables) {
    if (!target_access::DropTargetTable(&owner.output(), TargetSession(owner), database, table.text)) continue;
    RemoveTargetItem(owner, table.id);
    ++dropped;
  }
  return dropped;
}

int DropViews(Workbench& owner, const std::vector<Item>& views) {
  int dropped = 0;
  for (const Item& view : views) {
    if (!target_access::DropTargetView(&owner.output(), TargetSession(owner), view.text)) continue;
    RemoveTargetItem(owner, view.id);
    ++dropped;
  }
  return dropped;
}

// The tables in an order that empties referencing tables before the tables they refer to
// (tree order where relationships do not decide, and for a cycle).
std::vector<std::string> ReferencingFirst(std::vector<std::string> pending,
                                          const std::vector<Relationship>& relationships) {
  std::vector<std::string> order;
  while (!pending.empty()) {
    auto next = std::find_if(pending.begin(), pending.end(), [&](const std::string& table) {
      return std::none_of(relationships.begin(), relationships.end(), [&](const Relationship& r) {
        return EqualsIgnoreAsciiCase(r.referenced, table) && !EqualsIgnoreAsciiCase(r.table, table) &&
               Contains(pending, r.table);
      });
    });
    if (next == pending.end()) next = pending.begin();
    order.push_back(*next);
    pending.erase(next);
  }
  return order;
}

// Drops a database file; dropping the connected one is announced first.
void DropDatabaseFile(Workbench& owner, const std::string& name) {
  if (target_access::IsConnectedDatabase(owner.target_context(), name)) {
    owner.prompt().ShowMessage("Connected Database Dropped, Please Connect Another!");
  }
  target_access::DropAccessDatabase(owner.target_context(), name);
}

// True when a database item is selected; else the message.
bool CheckDatabaseSelected(Workbench& owner) {
  const TreeSelection selection = TargetSelection(owner);
  if (selection.kind == TreeNodeKind::kDatabase && !selection.text.empty()) return true;
  owner.prompt().ShowMessage(kNoDatabaseSelected);
  return false;
}

void DeleteDatabaseItem(Workbench& owner, const TreeSelection& selection) {
  const std::string& name = selection.text;
  if (!Confirm(owner, "Delete database [" + name + "]?", LastWarning("[" + name + "]"))) return;
  workspace::WriteOutput(&owner.output(), "Remove Database [%s]!", name.c_str());
  DropDatabaseFile(owner, name);
  // The drop reports a file it could not delete but does not fail: only a file that is gone
  // leaves the tree.
  std::error_code error;
  if (std::filesystem::exists(name + ".mdb", error)) return;
  std::lock_guard guard(owner.tree_lock());
  workspace::DbTreeView& tree = owner.target_tree();
  tree.RemoveItem(selection.item);
  if (EqualsIgnoreAsciiCase(tree.current_database, name)) tree.current_database.clear();
}

}  // namespace

void DeleteCommand(Workbench& owner) {
  if (!owner.AllowConnectionCommand()) return;
  if (TargetSession(owner) == nullptr) {
    owner.ShowHint("Press Config button, and get a successful target Connection!");
    owner.prompt().ShowMessage("No Source DataSource Connection!", "Delete");
    return;
  }
  const TreeSelection selection = TargetSelection(owner);
  if (!selection.present()) {
    owner.ShowHint("Please select a table, tables, views or database on target Database Tree!");
    owner.prompt().ShowMessage("No selected Object to delete!");
    return;
  }
  workspace::OutputPane* out = &owner.output();
  switch (selection.kind) {
    case TreeNodeKind::kDatabase: DeleteDatabaseItem(owner, selection); break;
    case TreeNodeKind::kTablesFolder: {
      const std::string& database = selection.parent;
      const std::string question = "Delete all the tables of [" + database + "]?";
      if (!Confirm(owner, question, LastWarning("[" + database + "]"))) return;
      workspace::WriteOutputText(out, question);
      const int dropped = DropTables(owner, database, ItemsUnder(owner, selection.item));
      workspace::WriteOutput(out, "[%d] tables removed!", dropped);
      break;
    }
    case TreeNodeKind::kViewsFolder: {
      const std::string& database = selection.parent;
      const std::string question = "Delete all the views of [" + database + "]?";
      if (!Confirm(owner, question, LastWarning("the views of [" + database + "]"))) return;
      workspace::WriteOutputText(out, question);
      const int dropped = DropViews(owner, ItemsUnder(owner, selection.item));
      workspace::WriteOutput(out, "[%d] views removed!", dropped);
      break;
    }
    case TreeNodeKind::kTable: {
      const std::string object = "[" + selection.grandparent + "." + selection.text + "]";
      const std::string question = "Delete the table " + object + "?";
      if (!Confirm(owner, question, LastWarning("the table " + object, ""))) return;
      workspace::WriteOutputText(out, question);
      if (target_access::DropTargetTable(out, TargetSession(owner), selection.grandparent, selection.text)) {
        RemoveTargetItem(owner, selection.item);
      }
      break;
    }
    case TreeNodeKind::kView: {
      const std::string object = "[" + selection.grandparent + "." + selection.text + "]";
      const std::string question = "Delete the view " + object + "?";
      if (!Confirm(owner, question, LastWarning("the view " + object))) return;
      workspace::WriteOutputText(out, question);
      if (target_access::DropTargetView(out, TargetSession(owner), selection.text)) {
        RemoveTargetItem(owner, selection.item);
      }
      break;
    }
    default: break;
  }
}

void NewDatabase(Workbench& owner) {
  if (!owner.AllowConnectionCommand()) return;
  std::string folder;
  {
    std::lock_guard guard(owner.tree_lock());
    folder = owner.target_tree().current_database;
  }
  const size_t slash = folder.find_last_of("\\/");
  folder = slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
  workspace::FileChoice choice;
  choice.title = "Create Access Database As";
  choice.filter_name = "Access Data File";
  choice.filter_pattern = "*.mdb;*.MDB";
  choice.initial_directory = folder;
  choice.save = true;
  choice.path_must_exist = true;
  const std::optional<std::string> chosen = owner.prompt().ChooseFile(choice);
  if (!chosen || chosen->empty()) return;
  if (target_access::CreateAccessDatabase(owner.target_context(), *chosen, 0)) RefreshTargetTree(owner);
}

void DeleteDatabase(Workbench& owner) {
  if (!owner.AllowConnectionCommand() || !CheckDatabaseSelected(owner)) return;
  const std::string name = TargetSelection(owner).text;
  if (!Confirm(owner, "Remove database [" + name + "]?", LastWarning("[" + name + "]"))) return;
  DropDatabaseFile(owner, name);
  RefreshTargetTree(owner);
}

void ClearAllTables(Workbench& owner) {
  if (!owner.AllowConnectionCommand() || !CheckDatabaseSelected(owner)) return;
  const std::string name = CurrentDatabaseName(owner);
  if (!Confirm(owner, "Remove all the tables of [" + name + "]?", LastWarning("[" + name + "]"))) return;
  int views_folder = workspace::kNoItem, tables_folder = workspace::kNoItem;
  {
    std::lock_guard guard(owner.tree_lock());
    views_folder = owner.target_tree().views_folder;
    tables_folder = owner.target_tree().tables_folder;
  }
  DropViews(owner, ItemsUnder(owner, views_folder));
  DropTables(owner, name, ItemsUnder(owner, tables_folder));
  RefreshTargetTree(owner);
}

void ClearAllData(Workbench& owner) {
  if (!owner.AllowConnectionCommand() || !CheckDatabaseSelected(owner)) return;
  const std::string name = CurrentDatabaseName(owner);
  if (!Confirm(owner, "Delete all the data of [" + name + "]?", LastWarning("[" + name + "]"))) return;
  int tables_folder = workspace::kNoItem;
  {
    std::lock_guard guard(owner.tree_lock());
    tables_folder = owner.target_tree().tables_folder;
  }
  std::vector<std::string> tables;
  for (const Item& item : ItemsUnder(owner, tables_folder)) tables.push_back(item.text);
  data::Session* session = TargetSession(owner);
  std::vector<std::string> pending = ReferencingFirst(tables, ReadRelationships(session, &owner.output()));
  // Rows the order could not free (a cycle of references) may be free after another round.
  while (!pending.empty()) {
    std::vector<std::string> failed;
    for (const std::string& table : pending) {
      const std::string sql = "delete from " + QuoteAccessName(table);
      workspace::WriteOutputText(&owner.output(), sql);
      if (!workspace::ExecuteStatement(&owner.output(), session, sql, 1)) failed.push_back(table);
    }
    if (failed.size() == pending.size()) break;
    pending = std::move(failed);
  }
}

void DropTable(Workbench& owner) {
  if (!owner.AllowConnectionCommand()) return;
  const TreeSelection selection = TargetSelection(owner);
  if (selection.kind != TreeNodeKind::kTable || !selection.present()) return;
  if (target_access::DropTargetTable(&owner.output(), TargetSession(owner), selection.grandparent, selection.text)) {
    RemoveTargetItem(owner, selection.item);
  }
}

void DropView(Workbench& owner) {
  if (!owner.AllowConnectionCommand()) return;
  const TreeSelection selection = TargetSelection(owner);
  if (selection.kind != TreeNodeKind::kView || !selection.present()) return;
  if (target_access::DropTargetView(&owner.output(), TargetSession(owner), selection.text)) {
    RemoveTargetItem(owner, selection.item);
  }
}

int BeginRename(Workbench& owner) {
  const TreeSelection selection = TargetSelection(owner);
  if (!selection.present() || selection.kind != TreeNodeKind::kTable) return workspace::kNoItem;
  if (!owner.AllowConnectionCommand()) return workspace::kNoItem;
  return selection.item;
}

bool EndRename(Workbench& owner, int item, const std::string& new_name, bool committed) {
  if (!committed) return false;
  std::string old_name;
  {
    std::lock_guard guard(owner.tree_lock());
    const workspace::DbTree& tree = owner.target_tree().tree;
    if (!tree.Contains(item) || tree.node(item).kind != TreeNodeKind::kTable) return false;
    old_name = tree.node(item).text;
  }
  // An empty or unchanged name renames nothing.
  if (new_name.empty() || new_name == old_name) return false;
  if (!owner.AllowConnectionCommand()) return false;
  if (!target_access::RenameTargetTable(&owner.output(), TargetSession(owner), old_name, new_name)) return false;
  std::lock_guard guard(owner.tree_lock());
  if (owner.target_tree().tree.Contains(item)) owner.target_tree().tree.SetText(item, new_name);
  return true;
}

void SwitchDatabase(Workbench& owner, target_access::Side side, int item) {
  const bool source = side == target_access::Side::kSource;
  workspace::DbTreeView& tree = source ? owner.source_tree() : owner.target_tree();
  std::string name;
  {
    std::lock_guard guard(owner.tree_lock());
    if (!tree.tree.Contains(item) || tree.tree.node(item).kind != TreeNodeKind::kDatabase) return;
    name = tree.tree.node(item).text;
  }
  // Switching under a running task would move its source or close its target.
  if (!owner.AllowConnectionCommand()) return;
  {
    std::lock_guard guard(owner.tree_lock());
    tree.current_database = name;
  }
  workspace::WriteOutput(&owner.output(), "Select Database [%s]", name.c_str());
  if (source) {
    workspace::ExecuteStatement(&owner.output(), owner.source().session.get(),
                                "use " + source_sqlserver::QuoteSqlServerName(name), 1);
    owner.RefreshTree(tree);
    return;
  }
  data::ConnectionProfile& profile = owner.target().profile;
  profile.catalog = target_access::IsJetProvider(profile.provider_name) ? std::string() : name;
  ConnectTarget(owner);
}

}  // namespace tabulon::converters
