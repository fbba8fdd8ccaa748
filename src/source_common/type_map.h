// The user's type map: rules "source_type[(length range)]=AccessType" that choose the Access type
// of a source column before the built-in map does. Read from the [TypeMap] section of
// tabulon.cfg or from a file of its own (--type-map); first matching rule wins. A shipped preset,
// "access-native", gives native Access types where the built-in map keeps text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace tabulon::source_common {

// "(max)" in a rule's range and in a column's declared length.
inline constexpr std::int64_t kMaxLength = -1;

// A source column's type as the rules see it. `length` is the declared length as the source's DDL
// writes it: characters for character types, bytes for binary types, the precision of exact
// numerics, the fractional digits of time types; kMaxLength for "(max)"; nullopt when the type
// takes none.
struct SourceType {
  std::string name;  // the declared type ("nvarchar", or an alias type's name), any case
  std::string base;  // the built-in type the declared one is made of ("" when the same)
  std::optional<std::int64_t> length;
  int precision = 0;
  int scale = 0;
};

// An Access column type as CREATE TABLE writes it: "VarChar" with "(50)", "Numeric(18,2)" with
// " ", "COUNTER" with " ".
struct AccessType {
  std::string type;
  std::string length = " ";

  // "VarChar(50)", "Numeric(18,2)", "LongText".
  std::string Text() const;
  bool operator==(const AccessType&) const = default;
};

struct TypeRule {
  std::string source_type;  // lower case
  bool ranged = false;      // a length range was given; a type without a length never matches it
  std::int64_t min_length = 0;
  std::int64_t max_length = 0;  // kMaxLength: up to and including (max)
  std::string access_type;      // as written: "Text(n)", "Numeric(p,s)", "Memo"
  int line = 0;                 // in `TypeMap::origin`
};

struct TypeMap {
  std::string origin;  // the file or preset the rules came from, for messages
  std::vector<TypeRule> rules;

  bool empty() const { return rules.empty(); }
};

// Reads rules from `text`: every line of its [TypeMap] section, or every line when the text has
// no section header at all. Blank lines and lines starting with ';' or '#' are skipped;
// "preset=NAME" appends that preset's rules after the ones written. A bad rule is an error
// naming `origin`, the line number and what is wrong.
Result<TypeMap> ParseTypeMap(std::string_view text, std::string_view origin);
// The rules of a shipped preset ("access-native"); "default" is the empty map.
Result<TypeMap> TypeMapPreset(std::string_view name);
// A preset's name or a file path, as --type-map takes it.
Result<TypeMap> LoadTypeMap(const std::string& preset_or_path);

// The Access type the first matching rule gives `type` (the declared name or its base type,
// without regard to case, and the length within the rule's range); `n`, `p` and `s` in the rule
// stand for the length, precision and scale. nullopt when no rule matches. A rule whose result
// the target cannot hold for this column (Text(n) with n above 255) is an error naming the rule.
Result<std::optional<AccessType>> ApplyTypeMap(const TypeMap& map, const SourceType& type);

// The Access type a type word with its arguments stands for, in the form CREATE TABLE writes
// ("Text(20)" -> VarChar (20), "Memo" -> LongText); an error for a word Access does not know or
// arguments it cannot take.
Result<AccessType> ResolveAccessType(std::string_view word, const std::vector<std::int64_t>& args);

}  // namespace tabulon::source_common
