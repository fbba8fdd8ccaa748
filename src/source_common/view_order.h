// The order views are created in: a view after every view it reads, so that the target knows
// each name a view's SELECT uses when the view is made.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "source_common/source_context.h"
#include "viewsql/ast.h"

namespace tabulon::source_common {

// The places in `views` of the views that the CREATE VIEW `text` reads: the tables of its parsed
// SELECT (subqueries included) or, where it does not parse, the names among `views` written as
// words in it. The view itself is not counted.
std::vector<size_t> ViewsReadBy(std::string_view text, viewsql::Dialect dialect, const std::vector<SourceTable>& views,
                                size_t self);

struct ViewOrder {
  std::vector<size_t> order;                // every view once
  std::vector<std::vector<size_t>> cycles;  // views that read each other, in catalogue order
};
// `reads[i]`: the views view i reads. Views come after those they read and otherwise keep their
// catalogue order; views in a cycle (and those reading them) come in catalogue order after the rest.
ViewOrder OrderViews(const std::vector<std::vector<size_t>>& reads);

}  // namespace tabulon::source_common
