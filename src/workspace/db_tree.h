// A side's database tree as data (no GUI): the items a tree view shows, each with its kind,
// and the items the tree commands work on (the current database and its two folders).
// RefreshTree rebuilds it from the side's catalogue; ExpandTable fills a table's "Fields" and
// "Indexes" when it is first opened; front ends draw it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/db_connection.h"
#include "workspace/output_pane.h"

namespace tabulon::workspace {

// An item's kind is also its image index.
enum class TreeNodeKind : int {
  kRoot = 0,
  kDatabase = 1,
  kTable = 2,
  kTablesFolder = 3,
  kColumn = 4,
  kFieldsFolder = 5,
  kIndex = 6,
  kIndexesFolder = 7,
  kView = 8,
  kViewsFolder = 9,
};

inline constexpr int kNoItem = -1;

struct TreeNode {
  std::string text;
  TreeNodeKind kind = TreeNodeKind::kRoot;
  std::string schema;  // tables and views: the schema the catalogue lists them in
  int parent = kNoItem;
  std::vector<int> children;
  bool expanded = false;
  bool removed = false;
};

class DbTree {
 public:
  // Inserts an item as the last child of `parent` (kNoItem: at the top level); returns its id.
  int Insert(int parent, std::string text, TreeNodeKind kind, std::string schema = {});
  // Takes the item and everything under it out of the tree; their ids stay unused.
  void Remove(int id);
  // True for an id that names an item still in the tree.
  bool Contains(int id) const;
  // The ancestor `levels` steps up (1: the parent), or kNoItem.
  int Ancestor(int id, int levels = 1) const;
  void SetText(int id, std::string text) {
    nodes_.at(static_cast<size_t>(id)).text = std::move(text);
    ++revision_;
  }
  void Clear();
  // Changes with every change of the tree, so a front end redraws only when it moved on.
  std::uint64_t revision() const { return revision_; }

  const TreeNode& node(int id) const { return nodes_.at(static_cast<size_t>(id)); }
  void Expand(int id) { nodes_.at(static_cast<size_t>(id)).expanded = true; }
  const std::vector<int>& top_level() const { return top_level_; }
  size_t size() const { return nodes_.size(); }
  // The texts of the children of `id` (kNoItem: the top level), in order.
  std::vector<std::string> ChildTexts(int id) const;

 private:
  std::vector<TreeNode> nodes_;
  std::vector<int> top_level_;
  std::uint64_t revision_ = 0;
};

// Side kinds of a tree's connection.
inline constexpr int kSourceSideKind = 1;
inline constexpr int kTargetSideKind = 4;

// One side's tree and what it knows of its connection.
struct DbTreeView {
  data::DbConnection* connection = nullptr;
  OutputPane* output = nullptr;
  // Messages for the user a refresh left behind; the command layer shows and clears them.
  std::vector<std::string> user_messages;
  int side_kind = kSourceSideKind;
  std::string current_database;
  // Lists the databases by name when the provider's catalog enumeration fails or lists none
  // (some drivers and TDS servers list no catalogs); empty: no second way.
  std::string database_list_statement;

  DbTree tree;
  int root_item = kNoItem;
  int current_database_item = kNoItem;
  int tables_folder = kNoItem;
  int views_folder = kNoItem;
  bool refreshing = false;
  // The selected item (kNoItem: none); a rebuild clears it.
  int selected = kNoItem;
  // -1 while the side is being connected or stays unconnected after a failed attempt.
  int state = 0;

  // The selected item, or null.
  const TreeNode* SelectedNode() const { return tree.Contains(selected) ? &tree.node(selected) : nullptr; }
  // The text of the ancestor `levels` steps above the selected item ("" when there is none).
  std::string SelectedAncestorText(int levels) const;
  // Takes an item out of the tree (after its object was dropped); the selection goes with it.
  void RemoveItem(int id);

  // True for a table whose Fields and Indexes have not been asked for yet (a front end shows it
  // as expandable and calls ExpandTable when it is opened).
  bool NeedsFilling(int id) const;
  // Fills the table item `table_item` the first time: a "Fields" folder with one item per column
  // (its name) in ordinal order and an "Indexes" folder with one item per index (its name), from
  // the COLUMNS and INDEXES schema rowsets of the table's schema. What the provider refuses is
  // written to the output pane in its words and leaves the folder empty. Anything but an unfilled
  // table does nothing; RefreshTree forgets what was filled.
  void ExpandTable(int table_item);

  // Rebuilds the tree from the connection's catalogue: the root (the data source's name, or
  // "DATABASES"), a database item per catalog (the file for the Jet provider), and under the
  // current database a "Tables" and a "Views" folder (every table, a name with a blank too; the
  // views of the schemas sys and INFORMATION_SCHEMA left out).
  void RefreshTree();
};

}  // namespace tabulon::workspace
