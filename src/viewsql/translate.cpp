#include "viewsql/translate.h"

namespace tabulon::viewsql {

Result<std::string> TranslateSelect(const Select&, Dialect, const Catalog&) { return UnsupportedError("not written yet"); }
Result<std::string> TranslateView(const ViewDefinition&, Dialect, const Catalog&) {
  return UnsupportedError("not written yet");
}
Result<std::string> TranslateExpression(const Expr&, Dialect, const Catalog&) {
  return UnsupportedError("not written yet");
}

}  // namespace tabulon::viewsql
