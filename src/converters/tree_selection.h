// What the commands read of a tree's selection, copied while the tree lock is held (a running
// task may rebuild the tree on the controller thread).
#pragma once

#include <string>

#include "workspace/db_tree.h"

namespace tabulon::converters {

struct TreeSelection {
  int item = workspace::kNoItem;
  workspace::TreeNodeKind kind = workspace::TreeNodeKind::kRoot;
  std::string text;
  std::string parent;       // the text of the item's parent ("" at the top)
  std::string grandparent;  // a table's or view's database
  std::string schema;       // a table's or view's schema, as the catalogue lists it

  bool present() const { return item != workspace::kNoItem; }
};

// The caller holds the Workbench's tree lock.
inline TreeSelection ReadSelection(const workspace::DbTreeView& tree) {
  TreeSelection selection;
  const workspace::TreeNode* node = tree.SelectedNode();
  if (node == nullptr) return selection;
  selection.item = tree.selected;
  selection.kind = node->kind;
  selection.text = node->text;
  selection.parent = tree.SelectedAncestorText(1);
  selection.grandparent = tree.SelectedAncestorText(2);
  selection.schema = node->schema;
  return selection;
}

}  // namespace tabulon::converters
