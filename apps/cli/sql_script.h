// Splitting an SQL script into statements: a statement ends with ";" as the last thing on a
// line (outside '...', "...", [...] and `...`), so statements may span lines and a ";" inside a
// line or inside a quoted value does not end one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct ScriptStatement {
  std::string text;  // without the final ";"
  size_t line = 0;   // 1-based line of its first character; 0 when not from a script
};

// Blank statements are left out; text after the last ";" is a statement of its own.
std::vector<ScriptStatement> SplitSqlScript(std::string_view script);
