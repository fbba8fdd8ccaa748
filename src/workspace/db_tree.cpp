#include "workspace/db_tree.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <utility>

#include "base/text.h"
#include "data/error_text.h"
#include "data/providers/jet/jet_provider.h"
#include "data/schema_rowset.h"
#include "data/statement.h"

namespace tabulon::workspace {
using namespace data;
namespace {

std::string TrimBlanks(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

// Removes every ".mdb" (any case) from `name`.
std::string WithoutMdb(std::string name) {
  for (size_t pos = 0; pos + 4 <= name.size();) {
    if (EqualsIgnoreAsciiCase(std::string_view(name).substr(pos, 4), ".mdb")) {
      name.erase(pos, 4);
    } else {
      ++pos;
    }
  }
  return name;
}

// The next listed row, false after the last one. A fetch failing half-way writes the provider's
// words and ends the list: a tree cut short is never shown as the whole catalogue silently.
bool NextListedRow(TextRowset& rows, OutputPane* output) {
  Result<bool> fetched = FetchRow(rows);
  if (!fetched.ok()) {
    WriteOutputText(output, fetched.status().message());
    return false;
  }
  return *fetched;
}

std::string SlotText(const TextRowset& rows, size_t ordinal) {
  if (ordinal > rows.buffer().columns() || rows.buffer().IsNull(ordinal)) return {};
  return std::string(rows.buffer().Value(ordinal));
}

}  // namespace

int DbTree::Insert(int parent, std::string text, TreeNodeKind kind, std::string schema) {
  const int id = static_cast<int>(nodes_.size());
  ++revision_;
  TreeNode node;
  node.text = std::move(text);
  node.kind = kind;
  node.schema = std::move(schema);
  node.parent = parent;
  nodes_.push_back(std::move(node));
  if (parent == kNoItem) {
    top_level_.push_back(id);
  } else {
    nodes_.at(static_cast<size_t>(parent)).children.push_back(id);
  }
  return id;
}

void DbTree::Remove(int id) {
  if (!Contains(id)) return;
  ++revision_;
  TreeNode& item = nodes_.at(static_cast<size_t>(id));
  std::vector<int>& siblings =
      item.parent == kNoItem ? top_level_ : nodes_.at(static_cast<size_t>(item.parent)).children;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), id), siblings.end());
  std::vector<int> pending{id};
  while (!pending.empty()) {
    TreeNode& node = nodes_.at(static_cast<size_t>(pending.back()));
    pending.pop_back();
    node.removed = true;
    pending.insert(pending.end(), node.children.begin(), node.children.end());
    node.children.clear();
  }
}

bool DbTree::Contains(int id) const {
  return id >= 0 && static_cast<size_t>(id) < nodes_.size() && !nodes_[static_cast<size_t>(id)].removed;
}

int DbTree::Ancestor(int id, int levels) const {
  while (levels-- > 0 && Contains(id)) id = node(id).parent;
  return Contains(id) ? id : kNoItem;
}

void DbTree::Clear() {
  ++revision_;
  nodes_.clear();
  top_level_.clear();
}

std::vector<std::string> DbTree::ChildTexts(int id) const {
  std::vector<std::string> texts;
  for (int child : id == kNoItem ? top_level_ : node(id).children) texts.push_back(node(child).text);
  return texts;
}

std::string DbTreeView::SelectedAncestorText(int levels) const {
  const int id = tree.Ancestor(selected, levels);
  return id == kNoItem ? std::string() : tree.node(id).text;
}

void DbTreeView::RemoveItem(int id) {
  tree.Remove(id);
  if (!tree.Contains(selected)) selected = kNoItem;
}

bool DbTreeView::NeedsFilling(int id) const {
  return tree.Contains(id) && tree.node(id).kind == TreeNodeKind::kTable && tree.node(id).children.empty();
}

void DbTreeView::ExpandTable(int table_item) {
  if (!NeedsFilling(table_item) || connection == nullptr || connection->session == nullptr) return;
  Session* session = connection->session.get();
  const std::string table = tree.node(table_item).text;
  const std::string& schema_name = tree.node(table_item).schema;
  const std::optional<std::string> owner = schema_name.empty() ? std::nullopt : std::optional(schema_name);
  // The folders go in first: a table is filled once, whatever the provider answers.
  const int fields = tree.Insert(table_item, "Fields", TreeNodeKind::kFieldsFolder);
  const int indexes = tree.Insert(table_item, "Indexes", TreeNodeKind::kIndexesFolder);
  tree.Expand(table_item);

  TextRowset columns;
  if (Failed(OpenSchemaRowset(session, SchemaRowsetKind::kColumns, {std::nullopt, owner, table}, &columns))) {
    WriteOutputText(output, ErrorDescription(columns.error_source()));
  } else {
    std::vector<std::pair<long, std::string>> listed;
    while (NextListedRow(columns, output)) {
      listed.emplace_back(std::strtol(SlotText(columns, schema::kOrdinalPosition).c_str(), nullptr, 10),
                          SlotText(columns, schema::kColumnName));
    }
    std::stable_sort(listed.begin(), listed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [ordinal, name] : listed) tree.Insert(fields, std::move(name), TreeNodeKind::kColumn);
  }
  columns.Close();

  TextRowset index_rows;
  if (Failed(OpenSchemaRowset(session, SchemaRowsetKind::kIndexes,
                              {std::nullopt, owner, std::nullopt, std::nullopt, table}, &index_rows))) {
    WriteOutputText(output, ErrorDescription(index_rows.error_source()));
    return;
  }
  // One row per key column: an index is listed once, where its first row is.
  std::vector<std::string> seen;
  while (NextListedRow(index_rows, output)) {
    std::string name = SlotText(index_rows, schema::kIndexName);
    if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
    seen.push_back(name);
    tree.Insert(indexes, std::move(name), TreeNodeKind::kIndex);
  }
}

void DbTreeView::RefreshTree() {
  refreshing = true;
  selected = kNoItem;
  tree.Clear();
  root_item = current_database_item = tables_folder = views_folder = kNoItem;
  if (connection == nullptr || connection->data_source == nullptr || connection->session == nullptr) {
    refreshing = false;
    return;
  }
  Session* session = connection->session.get();

  std::string source_name;
  if (Failed(connection->data_source->GetInfo(DBPROPSET_DATASOURCEINFO, DBPROP_DATASOURCENAME, &source_name))) {
    user_messages.push_back("Get Datasource Name Error!");
    source_name.clear();
  }
  source_name = TrimBlanks(source_name);
  root_item = tree.Insert(kNoItem, source_name.empty() ? "DATABASES" : source_name, TreeNodeKind::kRoot);

  if (EqualsIgnoreAsciiCase(connection->profile.provider_name, kJetProviderName)) {
    tree.Insert(root_item, side_kind == kTargetSideKind ? WithoutMdb(source_name) : source_name,
                TreeNodeKind::kDatabase);
  } else {
    if (side_kind == kTargetSideKind) current_database = WithoutMdb(current_database);
    TextRowset catalogs;
    if (Failed(OpenSchemaRowset(session, SchemaRowsetKind::kCatalogs, {}, &catalogs))) {
      WriteOutputText(output, ErrorDescription(catalogs.error_source()));
    } else {
      while (NextListedRow(catalogs, output)) {
        std::string name = SlotText(catalogs, schema::kCatalogName);
        // An Access file reached through ODBC lists three-character system catalogs too.
        if (side_kind == kTargetSideKind && name.size() == 3) continue;
        tree.Insert(root_item, std::move(name), TreeNodeKind::kDatabase);
      }
    }
    catalogs.Close();
    if (tree.node(root_item).children.empty() && !database_list_statement.empty()) {
      // The second way is quiet: the enumeration's failure is written already.
      TextRowset names;
      if (Succeeded(OpenTextRowset(session, database_list_statement, &names)) && names.has_rowset()) {
        for (;;) {
          Result<bool> fetched = FetchRow(names);
          if (!fetched.ok() || !*fetched) break;
          tree.Insert(root_item, SlotText(names, 1), TreeNodeKind::kDatabase);
        }
      }
    }
  }

  if (current_database.empty()) {
    std::string catalog;
    if (Succeeded(connection->data_source->GetInfo(DBPROPSET_DATASOURCE, DBPROP_CURRENTCATALOG, &catalog))) {
      current_database = catalog;
    }
  }

  if (!current_database.empty() && !EqualsIgnoreAsciiCase(current_database, "null")) {
    for (int child : tree.node(root_item).children) {
      if (EqualsIgnoreAsciiCase(tree.node(child).text, current_database)) {
        current_database_item = child;
        break;
      }
    }
    // Without a matching database item the folders go to the top level.
    tables_folder = tree.Insert(current_database_item, "Tables", TreeNodeKind::kTablesFolder);
    views_folder = tree.Insert(current_database_item, "Views", TreeNodeKind::kViewsFolder);

    TextRowset tables;
    if (Succeeded(OpenSchemaRowset(session, SchemaRowsetKind::kTables,
                                   {std::nullopt, std::nullopt, std::nullopt, "TABLE"}, &tables))) {
      while (NextListedRow(tables, output)) {
        std::string name = SlotText(tables, schema::kTableName);
        const TreeNodeKind kind =
            SlotText(tables, schema::kTableType) == "VIEW" ? TreeNodeKind::kView : TreeNodeKind::kTable;
        tree.Insert(tables_folder, std::move(name), kind, SlotText(tables, schema::kTableSchema));
      }
    }
    tables.Close();
    if (current_database_item != kNoItem) tree.Expand(current_database_item);

    TextRowset views;
    if (Succeeded(OpenSchemaRowset(session, SchemaRowsetKind::kTables,
                                   {std::nullopt, std::nullopt, std::nullopt, "VIEW"}, &views))) {
      while (NextListedRow(views, output)) {
        const std::string schema_name = SlotText(views, schema::kTableSchema);
        if (SlotText(views, schema::kTableType) != "VIEW" || schema_name == "sys" ||
            schema_name == "INFORMATION_SCHEMA") {
          continue;
        }
        tree.Insert(views_folder, SlotText(views, schema::kTableName), TreeNodeKind::kView, schema_name);
      }
    }
  }
  tree.Expand(root_item);
  refreshing = false;
}

}  // namespace tabulon::workspace
