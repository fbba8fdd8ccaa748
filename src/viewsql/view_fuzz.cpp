// libFuzzer target: the view parser and translator on arbitrary text, in both dialects. Any
// input must give a tree or an error, never a crash, a hang or a leak.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "viewsql/parser.h"
#include "viewsql/translate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (auto dialect : {tabulon::viewsql::Dialect::kTransactSql, tabulon::viewsql::Dialect::kSqlite}) {
    auto view = tabulon::viewsql::ParseView(text, dialect);
    if (view.ok()) (void)tabulon::viewsql::TranslateView(*view, dialect, {});
    (void)tabulon::viewsql::SplitScript(text, dialect);
  }
  return 0;
}
