// One side's database tree as data: nodes with their kinds, the selected node, and what the tree
// keeps about its side (the current database, the connection state). Front ends draw it.
#pragma once

#include <string>
#include <vector>

#include "target_access/target_context.h"

namespace tabulon::converters {

// A node's kind is also its image index in the drawn tree.
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

struct TreeNode {
  TreeNodeKind kind = TreeNodeKind::kRoot;
  std::string text;
  int parent = -1;  // index into DatabaseTree::nodes; -1 for the root
};

struct DatabaseTree {
  std::vector<TreeNode> nodes;
  int selected = -1;
  target_access::TreeBinding binding;

  // Adds a node and returns its index.
  int Add(TreeNodeKind kind, std::string text, int parent) {
    nodes.push_back({kind, std::move(text), parent});
    return static_cast<int>(nodes.size()) - 1;
  }
  // The node at `index`, or null.
  const TreeNode* Node(int index) const {
    return index >= 0 && index < static_cast<int>(nodes.size()) ? &nodes[static_cast<size_t>(index)]
                                                                 : nullptr;
  }
  const TreeNode* Selected() const { return Node(selected); }
  // The parent of the node at `index` (the grandparent with levels = 2), or null.
  const TreeNode* Ancestor(int index, int levels = 1) const {
    const TreeNode* node = Node(index);
    while (node != nullptr && levels-- > 0) node = Node(node->parent);
    return node;
  }
  void Clear() {
    nodes.clear();
    selected = -1;
  }
};

}  // namespace tabulon::converters
