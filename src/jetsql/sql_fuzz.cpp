// Fuzz target over the Access SQL parser: any bytes, parsed as one statement. A statement either
// parses or is refused with a status; nothing may crash, loop or read outside the text. Built
// only with -DTABULON_FUZZ=ON and clang (libFuzzer).
#include <string>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "jetsql/parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Statements the program sends are short; a cap keeps one input cheap.
  constexpr size_t kMaxBytes = 64 * 1024;
  if (size > kMaxBytes) return 0;
  const std::string_view sql(reinterpret_cast<const char*>(data), size);
  (void)tabulon::jetsql::ParseStatement(sql);
  // Saved queries' texts and validation rules come from files too.
  (void)tabulon::jetsql::ParseQuery(sql);
  const std::string column = "c";
  (void)tabulon::jetsql::ParseRuleText(sql, &column);
  return 0;
}
