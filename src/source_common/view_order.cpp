#include "source_common/view_order.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <queue>
#include <set>
#include <string>

#include "base/text.h"
#include "viewsql/lexer.h"
#include "viewsql/parser.h"

namespace tabulon::source_common {
namespace {

using viewsql::Expr;
using viewsql::Select;
using viewsql::TableRef;

// The table names (parts as written) a SELECT reads, subqueries and derived tables included.
struct TableNames {
  std::vector<std::vector<std::string>> names;
  int depth = 0;

  void Of(const Select& s) {
    if (++depth > 400) return;
    for (const auto& item : s.items) Of(item.expr.get());
    for (const auto& ref : s.from) Of(ref.get());
    Of(s.where.get());
    for (const auto& e : s.group_by) Of(e.get());
    Of(s.having.get());
    for (const auto& part : s.unions) Of(*part.select);
    for (const auto& item : s.order_by) Of(item.expr.get());
    --depth;
  }
  void Of(const TableRef* ref) {
    if (ref == nullptr) return;
    if (ref->kind == TableRef::Kind::kTable) names.push_back(ref->name);
    if (ref->derived) Of(*ref->derived);
    Of(ref->left.get());
    Of(ref->right.get());
    Of(ref->on.get());
  }
  void Of(const Expr* e) {
    if (e == nullptr || ++depth > 400) return;
    for (const auto& arg : e->args) Of(arg.get());
    if (e->subquery) Of(*e->subquery);
    --depth;
  }
};

bool Names(const SourceTable& view, const std::vector<std::string>& parts) {
  if (parts.empty() || !EqualsIgnoreAsciiCase(parts.back(), view.name)) return false;
  return parts.size() < 2 || view.schema.empty() || EqualsIgnoreAsciiCase(parts[parts.size() - 2], view.schema);
}

}  // namespace

std::vector<size_t> ViewsReadBy(std::string_view text, viewsql::Dialect dialect, const std::vector<SourceTable>& views,
                                size_t self) {
  std::set<size_t> found;
  const auto add_matches = [&](const std::vector<std::string>& parts) {
    for (size_t k = 0; k < views.size(); ++k) {
      if (k != self && Names(views[k], parts)) found.insert(k);
    }
  };
  Result<viewsql::ViewDefinition> parsed = viewsql::ParseView(text, dialect);
  if (parsed.ok() && parsed->select) {
    TableNames tables;
    tables.Of(*parsed->select);
    for (const auto& parts : tables.names) add_matches(parts);
  } else if (Result<std::vector<viewsql::Token>> tokens = viewsql::Tokenize(text, dialect); tokens.ok()) {
    for (const viewsql::Token& t : *tokens) {
      if (t.kind == viewsql::TokenKind::kWord || t.kind == viewsql::TokenKind::kQuotedName) add_matches({t.text});
    }
  } else {
    // Not even words can be read: any name written apart from letters, digits and '_'.
    const auto word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    const std::string lower = AsciiLower(text);
    for (size_t k = 0; k < views.size(); ++k) {
      const std::string name = AsciiLower(views[k].name);
      for (size_t at = lower.find(name); k != self && !name.empty() && at != std::string::npos;
           at = lower.find(name, at + 1)) {
        const size_t end = at + name.size();
        if ((at == 0 || !word(lower[at - 1])) && (end == lower.size() || !word(lower[end]))) {
          found.insert(k);
          break;
        }
      }
    }
  }
  return {found.begin(), found.end()};
}

ViewOrder OrderViews(const std::vector<std::vector<size_t>>& reads) {
  const size_t n = reads.size();
  // The strongly connected components (Tarjan): views that read each other share one.
  std::vector<int> index(n, -1), low(n, 0), component(n, -1);
  std::vector<bool> on_stack(n, false);
  std::vector<size_t> stack;
  std::vector<std::vector<size_t>> components;
  int next = 0;
  std::function<void(size_t)> visit = [&](size_t v) {
    index[v] = low[v] = next++;
    stack.push_back(v);
    on_stack[v] = true;
    for (size_t w : reads[v]) {
      if (w >= n) continue;
      if (index[w] < 0) {
        visit(w);
        low[v] = std::min(low[v], low[w]);
      } else if (on_stack[w]) {
        low[v] = std::min(low[v], index[w]);
      }
    }
    if (low[v] != index[v]) return;
    std::vector<size_t> members;
    size_t w = 0;
    do {
      w = stack.back();
      stack.pop_back();
      on_stack[w] = false;
      component[w] = static_cast<int>(components.size());
      members.push_back(w);
    } while (w != v);
    std::sort(members.begin(), members.end());
    components.push_back(std::move(members));
  };
  for (size_t v = 0; v < n; ++v) {
    if (index[v] < 0) visit(v);
  }
  // The components in dependency order; among those ready, the one with the first view first.
  const size_t c = components.size();
  std::vector<std::set<size_t>> readers(c);
  std::vector<size_t> waiting(c, 0);
  for (size_t v = 0; v < n; ++v) {
    for (size_t w : reads[v]) {
      if (w >= n) continue;
      const auto from = static_cast<size_t>(component[w]), to = static_cast<size_t>(component[v]);
      if (from != to && readers[from].insert(to).second) ++waiting[to];
    }
  }
  std::priority_queue<std::pair<size_t, size_t>, std::vector<std::pair<size_t, size_t>>, std::greater<>> ready;
  for (size_t k = 0; k < c; ++k) {
    if (waiting[k] == 0) ready.push({components[k].front(), k});
  }
  ViewOrder result;
  while (!ready.empty()) {
    const size_t k = ready.top().second;
    ready.pop();
    result.order.insert(result.order.end(), components[k].begin(), components[k].end());
    if (components[k].size() > 1) result.cycles.push_back(components[k]);
    for (size_t r : readers[k]) {
      if (--waiting[r] == 0) ready.push({components[r].front(), r});
    }
  }
  return result;
}

}  // namespace tabulon::source_common
