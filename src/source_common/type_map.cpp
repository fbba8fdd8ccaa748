#include "source_common/type_map.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "base/text.h"

namespace tabulon::source_common {
namespace {

enum class Args { kNone, kTextLength, kBinaryLength, kPrecision };

struct AccessWord {
  std::string_view word;
  std::string_view type;  // as CREATE TABLE writes it
  Args args;
};

// The Access type words a rule may name, with the spelling the migration writes for each.
constexpr AccessWord kAccessWords[] = {
    {"bit", "Bit", Args::kNone},
    {"yesno", "Bit", Args::kNone},
    {"boolean", "Bit", Args::kNone},
    {"logical", "Bit", Args::kNone},
    {"byte", "Byte", Args::kNone},
    {"tinyint", "Byte", Args::kNone},
    {"short", "Short", Args::kNone},
    {"smallint", "Short", Args::kNone},
    {"integer2", "Short", Args::kNone},
    {"long", "Long", Args::kNone},
    {"int", "Long", Args::kNone},
    {"integer", "Long", Args::kNone},
    {"integer4", "Long", Args::kNone},
    {"counter", "COUNTER", Args::kNone},
    {"autoincrement", "COUNTER", Args::kNone},
    {"autonumber", "COUNTER", Args::kNone},
    {"single", "Single", Args::kNone},
    {"real", "Single", Args::kNone},
    {"double", "Double", Args::kNone},
    {"float", "Double", Args::kNone},
    {"currency", "Currency", Args::kNone},
    {"money", "Currency", Args::kNone},
    {"numeric", "Numeric", Args::kPrecision},
    {"decimal", "Numeric", Args::kPrecision},
    {"datetime", "DateTime", Args::kNone},
    {"date", "DateTime", Args::kNone},
    {"time", "DateTime", Args::kNone},
    {"text", "VarChar", Args::kTextLength},
    {"varchar", "VarChar", Args::kTextLength},
    {"char", "VarChar", Args::kTextLength},
    {"memo", "LongText", Args::kNone},
    {"longtext", "LongText", Args::kNone},
    {"binary", "Binary", Args::kBinaryLength},
    {"varbinary", "Binary", Args::kBinaryLength},
    {"longbinary", "LongBinary", Args::kNone},
    {"oleobject", "LongBinary", Args::kNone},
    {"guid", "GUID", Args::kNone},
    {"replicationid", "GUID", Args::kNone},
};

constexpr std::string_view kAccessNative =
    "datetime=DateTime\n"
    "smalldatetime=DateTime\n"
    "date=DateTime\n"
    "datetime2=DateTime\n"
    "time=DateTime\n"
    "nchar(1-255)=Text(n)\n"
    "nvarchar(1-255)=Text(n)\n"
    "nchar(256-max)=Memo\n"
    "nvarchar(256-max)=Memo\n"
    "datetimeoffset=Text(34)\n";

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

std::optional<std::int64_t> ParseCount(std::string_view s) {
  s = Trim(s);
  std::int64_t n = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), n);
  if (s.empty() || error != std::errc() || end != s.data() + s.size() || n < 0) return std::nullopt;
  return n;
}

// "name(args)" split into the name and the text between the parentheses; false when the
// parentheses are not the last thing or do not pair.
bool SplitCall(std::string_view text, std::string_view& name, std::optional<std::string_view>& inside) {
  const size_t open = text.find('(');
  if (open == std::string_view::npos) {
    if (text.find(')') != std::string_view::npos) return false;
    name = Trim(text);
    inside.reset();
    return true;
  }
  if (text.back() != ')' || text.find('(', open + 1) != std::string_view::npos) return false;
  name = Trim(text.substr(0, open));
  inside = text.substr(open + 1, text.size() - open - 2);
  return true;
}

const AccessWord* FindWord(std::string_view word) {
  for (const AccessWord& w : kAccessWords) {
    if (EqualsIgnoreAsciiCase(w.word, word)) return &w;
  }
  return nullptr;
}

// The arguments of a rule's Access type, `n`, `p` and `s` replaced by `type`'s values; an error
// names the placeholder that has no value.
Result<std::vector<std::int64_t>> Arguments(std::string_view inside, const SourceType* type) {
  std::vector<std::int64_t> args;
  size_t start = 0;
  for (;;) {
    const size_t comma = inside.find(',', start);
    const std::string_view item = Trim(inside.substr(start, comma == std::string_view::npos ? inside.npos : comma - start));
    if (item == "n" || item == "p" || item == "s") {
      if (type == nullptr) {
        args.push_back(1);  // checked when the rule is applied
      } else if (item == "n") {
        if (!type->length || *type->length == kMaxLength) {
          return InvalidArgumentError("'n' stands for no length here (the source type has " +
                                      std::string(type->length ? "(max)" : "none") + ")");
        }
        args.push_back(*type->length);
      } else {
        args.push_back(item == "p" ? type->precision : type->scale);
      }
    } else if (const auto n = ParseCount(item)) {
      args.push_back(*n);
    } else {
      return InvalidArgumentError("'" + std::string(item) + "' is not a number, n, p or s");
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return args;
}

Result<AccessType> ResolveRuleType(std::string_view text, const SourceType* type) {
  std::string_view word;
  std::optional<std::string_view> inside;
  if (!SplitCall(Trim(text), word, inside) || word.empty()) {
    return InvalidArgumentError("'" + std::string(text) + "' is not an Access type");
  }
  std::vector<std::int64_t> args;
  if (inside) {
    ASSIGN_OR_RETURN(args, Arguments(*inside, type));
  }
  return ResolveAccessType(word, args);
}

Result<TypeRule> ParseRule(std::string_view line, int number) {
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return InvalidArgumentError("expected source_type[(length range)]=AccessType");
  TypeRule rule;
  rule.line = number;
  std::string_view name;
  std::optional<std::string_view> range;
  if (!SplitCall(Trim(line.substr(0, equals)), name, range) || name.empty()) {
    return InvalidArgumentError("'" + std::string(Trim(line.substr(0, equals))) + "' is not a source type");
  }
  rule.source_type = AsciiLower(name);
  if (range) {
    rule.ranged = true;
    const std::string_view r = Trim(*range);
    const size_t dash = r.find('-');
    const std::string_view low = Trim(r.substr(0, dash));
    const std::string_view high = dash == std::string_view::npos ? low : Trim(r.substr(dash + 1));
    const auto bound = [](std::string_view b) -> std::optional<std::int64_t> {
      if (EqualsIgnoreAsciiCase(b, "max")) return kMaxLength;
      return ParseCount(b);
    };
    const std::optional<std::int64_t> lo = bound(low);
    const std::optional<std::int64_t> hi = bound(high);
    if (!lo || !hi || (*lo == kMaxLength && *hi != kMaxLength) || (*hi != kMaxLength && *lo > *hi)) {
      return InvalidArgumentError("'(" + std::string(r) + ")' is not a length range (n, a-b, a-max or max)");
    }
    rule.min_length = *lo;
    rule.max_length = *hi;
  }
  rule.access_type = std::string(Trim(line.substr(equals + 1)));
  RETURN_IF_ERROR(ResolveRuleType(rule.access_type, nullptr).status());
  return rule;
}

bool Matches(const TypeRule& rule, const SourceType& type) {
  if (!EqualsIgnoreAsciiCase(rule.source_type, type.name) &&
      (type.base.empty() || !EqualsIgnoreAsciiCase(rule.source_type, type.base))) {
    return false;
  }
  if (!rule.ranged) return true;
  if (!type.length) return false;
  if (*type.length == kMaxLength) return rule.max_length == kMaxLength;
  return rule.min_length != kMaxLength && *type.length >= rule.min_length &&
         (rule.max_length == kMaxLength || *type.length <= rule.max_length);
}

}  // namespace

std::string AccessType::Text() const { return length == " " ? type : type + length; }

Result<AccessType> ResolveAccessType(std::string_view word, const std::vector<std::int64_t>& args) {
  const AccessWord* w = FindWord(word);
  const std::string name(word);
  if (w == nullptr) return InvalidArgumentError("'" + name + "' is not an Access type");
  AccessType out{std::string(w->type), " "};
  switch (w->args) {
    case Args::kNone:
      if (!args.empty()) return InvalidArgumentError(name + " takes no size");
      break;
    case Args::kTextLength:
    case Args::kBinaryLength: {
      if (args.size() > 1) return InvalidArgumentError(name + " takes one size");
      const std::int64_t n = args.empty() ? 255 : args[0];
      if (n < 1 || n > 255) {
        return InvalidArgumentError(name + "(" + std::to_string(n) + "): " + name + " holds 1 to 255 " +
                                    (w->args == Args::kTextLength ? "characters (Memo holds more)"
                                                                  : "bytes (LongBinary holds more)"));
      }
      out.length = "(" + std::to_string(n) + ")";
      break;
    }
    case Args::kPrecision: {
      if (args.empty() || args.size() > 2) return InvalidArgumentError(name + " needs (precision, scale)");
      const std::int64_t p = args[0];
      const std::int64_t s = args.size() == 2 ? args[1] : 0;
      if (p < 1 || p > 28 || s > p) {
        return InvalidArgumentError(name + "(" + std::to_string(p) + "," + std::to_string(s) +
                                    "): Access holds a precision of 1 to 28 and a scale up to the precision");
      }
      out.type = "Numeric(" + std::to_string(p) + "," + std::to_string(s) + ")";
      break;
    }
  }
  return out;
}

Result<TypeMap> ParseTypeMap(std::string_view text, std::string_view origin) {
  TypeMap map;
  map.origin = std::string(origin);
  const bool sectioned = text.find("\n[") != std::string_view::npos || text.starts_with("[");
  bool inside = !sectioned;
  std::vector<TypeMap> presets;
  int number = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(start, end - start));
    ++number;
    start = end + 1;
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      inside = EqualsIgnoreAsciiCase(line, "[TypeMap]");
      continue;
    }
    if (!inside) continue;
    const auto fail = [&](const Status& s) {
      return InvalidArgumentError(std::string(origin) + " line " + std::to_string(number) + ": " + s.message());
    };
    const size_t equals = line.find('=');
    if (equals != std::string_view::npos && EqualsIgnoreAsciiCase(Trim(line.substr(0, equals)), "preset")) {
      auto preset = TypeMapPreset(Trim(line.substr(equals + 1)));
      if (!preset.ok()) return fail(preset.status());
      presets.push_back(std::move(*preset));
      continue;
    }
    auto rule = ParseRule(line, number);
    if (!rule.ok()) return fail(rule.status());
    map.rules.push_back(std::move(*rule));
  }
  for (const TypeMap& preset : presets) map.rules.insert(map.rules.end(), preset.rules.begin(), preset.rules.end());
  return map;
}

Result<TypeMap> TypeMapPreset(std::string_view name) {
  if (EqualsIgnoreAsciiCase(name, "default")) return TypeMap{"default", {}};
  if (EqualsIgnoreAsciiCase(name, "access-native")) {
    auto map = ParseTypeMap(kAccessNative, "access-native");
    if (map.ok()) map->origin = "access-native";
    return map;
  }
  return InvalidArgumentError("unknown type map preset '" + std::string(name) +
                              "' (the presets are default and access-native)");
}

Result<TypeMap> LoadTypeMap(const std::string& preset_or_path) {
  auto preset = TypeMapPreset(preset_or_path);
  if (preset.ok()) return preset;
  std::ifstream in(preset_or_path, std::ios::binary);
  if (!in) {
    // A name without a folder or an extension was meant as a preset.
    if (preset_or_path.find_first_of("/.") == std::string::npos) return preset;
    return NotFoundError("type map " + preset_or_path + " cannot be read");
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseTypeMap(text.str(), preset_or_path);
}

Result<std::optional<AccessType>> ApplyTypeMap(const TypeMap& map, const SourceType& type) {
  for (const TypeRule& rule : map.rules) {
    if (!Matches(rule, type)) continue;
    auto resolved = ResolveRuleType(rule.access_type, &type);
    if (!resolved.ok()) {
      return InvalidArgumentError(map.origin + " line " + std::to_string(rule.line) + ": " +
                                  resolved.status().message());
    }
    return std::optional<AccessType>(std::move(*resolved));
  }
  return std::optional<AccessType>();
}

}  // namespace tabulon::source_common
