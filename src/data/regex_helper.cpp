#include "data/regex_helper.h"

#include <regex>

namespace tabulon::data {
namespace {

Status PatternError(const std::string& pattern, const std::regex_error& e) {
  return InvalidArgumentError("regular expression \"" + pattern + "\": " + e.what());
}

}  // namespace

Result<std::string> TryRegexReplace(const std::string& subject, const std::string& pattern,
                                    const std::string& replacement) {
  try {
    const std::regex re(pattern, std::regex::ECMAScript);
    return std::regex_replace(subject, re, replacement);
  } catch (const std::regex_error& e) {
    return PatternError(pattern, e);
  }
}

Result<std::string> TryRegexLastMatch(const std::string& subject, const std::string& pattern) {
  try {
    const std::regex re(pattern, std::regex::ECMAScript);
    std::string last;
    for (auto it = std::sregex_iterator(subject.begin(), subject.end(), re); it != std::sregex_iterator(); ++it) {
      last = it->str();
    }
    return last;
  } catch (const std::regex_error& e) {
    return PatternError(pattern, e);
  }
}

std::string RegexReplace(const std::string& subject, const std::string& pattern, const std::string& replacement) {
  Result<std::string> result = TryRegexReplace(subject, pattern, replacement);
  return result.ok() ? std::move(result).value() : subject;
}

std::string RegexLastMatch(const std::string& subject, const std::string& pattern) {
  Result<std::string> result = TryRegexLastMatch(subject, pattern);
  return result.ok() ? std::move(result).value() : std::string();
}

}  // namespace tabulon::data
