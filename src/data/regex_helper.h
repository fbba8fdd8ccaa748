// Regular-expression rewriting of SQL fragments and paths: ECMAScript syntax, global,
// case-sensitive, `$1`-style group references in replacements.
#pragma once

#include <string>

#include "base/status.h"

namespace tabulon::data {

// Replaces every match of `pattern` in `subject`. An invalid pattern (or one the engine cannot
// run on this subject) is reported as kInvalidArgument naming the pattern.
Result<std::string> TryRegexReplace(const std::string& subject, const std::string& pattern,
                                    const std::string& replacement);
// The text of the last match, "" when nothing matches.
Result<std::string> TryRegexLastMatch(const std::string& subject, const std::string& pattern);

// The program's patterns are literals, so these plain forms are what callers use: an invalid
// pattern leaves the subject unchanged (RegexReplace) or matches nothing (RegexLastMatch).
std::string RegexReplace(const std::string& subject, const std::string& pattern, const std::string& replacement);
std::string RegexLastMatch(const std::string& subject, const std::string& pattern);

}  // namespace tabulon::data
