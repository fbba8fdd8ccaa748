// The type words of CREATE TABLE (Access's own and the ones other databases write) and the
// engine type each stands for.
#include <string>

#include "base/text.h"
#include "jetsql/parser.h"

namespace tabulon::jetsql {
namespace {

using jet::ColumnType;

struct TypeWord {
  std::string_view word;
  ColumnType type;
  enum Args { kNone, kLength, kPrecision, kAutoNumber } args;
};

constexpr TypeWord kTypeWords[] = {
    {"bit", ColumnType::kBoolean, TypeWord::kNone},
    {"yesno", ColumnType::kBoolean, TypeWord::kNone},
    {"logical", ColumnType::kBoolean, TypeWord::kNone},
    {"logical1", ColumnType::kBoolean, TypeWord::kNone},
    {"boolean", ColumnType::kBoolean, TypeWord::kNone},
    {"guid", ColumnType::kGuid, TypeWord::kNone},
    {"uniqueidentifier", ColumnType::kGuid, TypeWord::kNone},
    {"byte", ColumnType::kByte, TypeWord::kNone},
    {"tinyint", ColumnType::kByte, TypeWord::kNone},
    {"integer1", ColumnType::kByte, TypeWord::kNone},
    {"short", ColumnType::kInteger, TypeWord::kNone},
    {"smallint", ColumnType::kInteger, TypeWord::kNone},
    {"integer2", ColumnType::kInteger, TypeWord::kNone},
    {"long", ColumnType::kLong, TypeWord::kNone},
    {"int", ColumnType::kLong, TypeWord::kNone},
    {"integer", ColumnType::kLong, TypeWord::kNone},
    {"integer4", ColumnType::kLong, TypeWord::kNone},
    {"counter", ColumnType::kLong, TypeWord::kAutoNumber},
    {"autoincrement", ColumnType::kLong, TypeWord::kAutoNumber},
    {"single", ColumnType::kSingle, TypeWord::kNone},
    {"real", ColumnType::kSingle, TypeWord::kNone},
    {"float4", ColumnType::kSingle, TypeWord::kNone},
    {"ieeesingle", ColumnType::kSingle, TypeWord::kNone},
    {"double", ColumnType::kDouble, TypeWord::kNone},
    {"float", ColumnType::kDouble, TypeWord::kNone},
    {"float8", ColumnType::kDouble, TypeWord::kNone},
    {"ieeedouble", ColumnType::kDouble, TypeWord::kNone},
    {"number", ColumnType::kDouble, TypeWord::kNone},
    {"currency", ColumnType::kCurrency, TypeWord::kNone},
    {"money", ColumnType::kCurrency, TypeWord::kNone},
    {"datetime", ColumnType::kDateTime, TypeWord::kNone},
    {"date", ColumnType::kDateTime, TypeWord::kNone},
    {"time", ColumnType::kDateTime, TypeWord::kNone},
    {"timestamp", ColumnType::kDateTime, TypeWord::kNone},
    // NUMERIC alone is a Double (the name Access gives Double columns); with a precision it
    // is a Decimal.
    {"numeric", ColumnType::kNumeric, TypeWord::kPrecision},
    {"decimal", ColumnType::kNumeric, TypeWord::kPrecision},
    {"dec", ColumnType::kNumeric, TypeWord::kPrecision},
    {"text", ColumnType::kText, TypeWord::kLength},
    {"varchar", ColumnType::kText, TypeWord::kLength},
    {"char", ColumnType::kText, TypeWord::kLength},
    {"character", ColumnType::kText, TypeWord::kLength},
    {"string", ColumnType::kText, TypeWord::kLength},
    {"alphanumeric", ColumnType::kText, TypeWord::kLength},
    {"nvarchar", ColumnType::kText, TypeWord::kLength},
    {"nchar", ColumnType::kText, TypeWord::kLength},
    {"longtext", ColumnType::kMemo, TypeWord::kNone},
    {"memo", ColumnType::kMemo, TypeWord::kNone},
    {"note", ColumnType::kMemo, TypeWord::kNone},
    {"longchar", ColumnType::kMemo, TypeWord::kNone},
    {"ntext", ColumnType::kMemo, TypeWord::kNone},
    {"binary", ColumnType::kBinary, TypeWord::kLength},
    {"varbinary", ColumnType::kBinary, TypeWord::kLength},
    {"longbinary", ColumnType::kOle, TypeWord::kNone},
    {"oleobject", ColumnType::kOle, TypeWord::kNone},
    {"general", ColumnType::kOle, TypeWord::kNone},
    {"image", ColumnType::kOle, TypeWord::kNone},
};

}  // namespace

Result<ResolvedType> ResolveTypeWord(std::string_view word, const std::vector<uint32_t>& args) {
  if (EqualsIgnoreAsciiCase(word, "userdefine")) {
    return UnsupportedError("type USERDEFINE has no Access equivalent (the source column's type is unknown)");
  }
  const TypeWord* found = nullptr;
  for (const TypeWord& w : kTypeWords) {
    if (EqualsIgnoreAsciiCase(word, w.word)) {
      found = &w;
      break;
    }
  }
  if (!found) return InvalidArgumentError("unknown type '" + std::string(word) + "'");
  ResolvedType r;
  r.type = found->type;
  const std::string name(word);
  switch (found->args) {
    case TypeWord::kNone:
      if (!args.empty()) return InvalidArgumentError("type " + name + " takes no size");
      break;
    case TypeWord::kAutoNumber:
      r.auto_number = true;
      // COUNTER(seed, increment): only the default numbering can be written.
      if (!args.empty() && !(args.size() == 2 && args[0] == 1 && args[1] == 1)) {
        return UnsupportedError("type " + name + " takes no start value or step other than (1, 1)");
      }
      break;
    case TypeWord::kLength: {
      if (args.size() > 1) return InvalidArgumentError("type " + name + " takes one size");
      const uint32_t limit = r.type == ColumnType::kText ? 255 : 510;
      if (!args.empty() && (args[0] < 1 || args[0] > limit)) {
        return InvalidArgumentError(
            "type " + name + " holds 1 to " + std::to_string(limit) +
            (r.type == ColumnType::kText ? " characters (use LONGTEXT for more)" : " bytes (use LONGBINARY for more)"));
      }
      r.size = static_cast<uint16_t>(args.empty() ? 255 : args[0]);
      break;
    }
    case TypeWord::kPrecision:
      if (args.empty()) {
        if (EqualsIgnoreAsciiCase(word, "numeric")) r.type = ColumnType::kDouble;
        r.size = r.type == ColumnType::kNumeric ? 18 : 0;
        break;
      }
      if (args.size() > 2) return InvalidArgumentError("type " + name + " takes (precision, scale)");
      if (args[0] < 1 || args[0] > 28) {
        return InvalidArgumentError("type " + name + " needs a precision of 1 to 28");
      }
      if (args.size() == 2 && args[1] > args[0]) {
        return InvalidArgumentError("type " + name + " needs a scale of 0 to the precision");
      }
      r.size = static_cast<uint16_t>(args[0]);
      r.scale = static_cast<uint8_t>(args.size() == 2 ? args[1] : 0);
      break;
  }
  return r;
}

}  // namespace tabulon::jetsql
