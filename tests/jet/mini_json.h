// A small JSON reader for the fixture descriptions the engine's tests compare against.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::testing {

struct Json {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;                                   // strings; numbers keep their source text here too
  std::vector<Json> items;                            // arrays
  std::vector<std::pair<std::string, Json>> members;  // objects, in source order

  const Json* Find(std::string_view key) const;
  const Json& operator[](std::string_view key) const;  // a null Json when absent
  bool is_null() const { return kind == Kind::kNull; }
};

// Parses a whole document; nullopt with `error` set on malformed input.
std::optional<Json> ParseJson(std::string_view text, std::string* error = nullptr);

}  // namespace tabulon::testing
