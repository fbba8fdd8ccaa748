#include "source_sqlserver/column_types.h"

#include <algorithm>

#include "base/text.h"

namespace tabulon::source_sqlserver {
namespace {

using source_common::AccessType;

// SQL Server's built-in type ids (sys.types.system_type_id / user_type_id of the built-ins).
enum TypeId : int {
  kImage = 34,
  kText = 35,
  kUniqueIdentifier = 36,
  kDate = 40,
  kTime = 41,
  kDateTime2 = 42,
  kDateTimeOffset = 43,
  kTinyInt = 48,
  kSmallInt = 52,
  kInt = 56,
  kSmallDateTime = 58,
  kReal = 59,
  kMoney = 60,
  kDateTime = 61,
  kFloat = 62,
  kSqlVariant = 98,
  kNText = 99,
  kBit = 104,
  kDecimal = 106,
  kNumeric = 108,
  kSmallMoney = 122,
  kBigInt = 127,
  kHierarchyId = 128,
  kGeometry = 129,
  kGeography = 130,
  kVarBinary = 165,
  kVarChar = 167,
  kBinary = 173,
  kChar = 175,
  kTimestamp = 189,
  kNVarChar = 231,
  kNChar = 239,
  kXml = 241,
  kSysName = 256,
};

bool IsCharacter(int id) { return id == kVarChar || id == kChar || id == kNVarChar || id == kNChar; }
bool IsNational(int id) { return id == kNVarChar || id == kNChar; }
bool IsBinary(int id) { return id == kVarBinary || id == kBinary; }

AccessType Plain(std::string type) { return {std::move(type), " "}; }
AccessType Sized(std::string type, int n) { return {std::move(type), "(" + std::to_string(n) + ")"}; }

// The built-in map, with the note that says what is not kept exactly.
ColumnDecision BuiltInType(const ColumnFacts& c, bool jet_target) {
  ColumnDecision d;
  const int id = c.type_id;
  const int bytes = c.max_length;
  switch (id) {
    case kBit: d.type = Plain("Bit"); return d;
    case kUniqueIdentifier: d.type = Plain("GUID"); return d;
    case kTinyInt: d.type = Plain("Byte"); return d;
    case kSmallInt: d.type = Plain("Short"); return d;
    case kInt: d.type = Plain("Long"); return d;
    case kBigInt:
      if (jet_target) {
        d.type = Plain("Numeric(19,0)");
        d.note = "whole numbers kept as Decimal: Access has no 64-bit integer";
      } else {
        d.type = Plain("Long");
        d.note = "narrowed to Long: values beyond 32 bits are refused";
        d.changes_values = true;
      }
      return d;
    case kReal: d.type = Plain("Single"); return d;
    case kFloat: d.type = Plain("Double"); return d;
    case kImage: d.type = Plain("LongBinary"); return d;
    case kText:
    case kNText: d.type = Plain("LongText"); return d;
    case kMoney:
    case kSmallMoney: d.type = Plain("Currency"); return d;
    case kDecimal:
    case kNumeric:
      if (c.precision > 28) {
        d.needs_value_check = true;
        d.type = Plain("Numeric(28," + std::to_string(std::min(c.scale, 28)) + ")");
        return d;
      }
      if (jet_target) {
        d.type = Plain("Numeric(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")");
      } else {
        d.type = Plain("Numeric");
        d.note = "the Access driver takes no precision: Double";
      }
      return d;
    case kDate:
    case kSmallDateTime: d.type = Plain("DateTime"); return d;
    case kTime:
      d.type = Plain("VarChar(18)");
      d.note = "time of day kept as text";
      d.changes_values = true;
      return d;
    case kDateTime:
    case kDateTime2:
      d.type = Plain("VarChar(30)");
      d.note = "date and time kept as text";
      d.changes_values = true;
      return d;
    case kDateTimeOffset:
      d.type = Plain("VarChar(36)");
      d.note = "date, time and offset kept as text";
      d.changes_values = true;
      return d;
    case kTimestamp:
      d.type = Plain("VarChar(18)");
      d.note = "row version kept as text";
      d.changes_values = true;
      return d;
    case kSysName: d.type = Plain("VarChar(255)"); return d;
    case kSqlVariant:
    case kXml:
      d.type = Plain("LongText");
      d.note = "kept as text";
      d.changes_values = true;
      return d;
    case kHierarchyId:
    case kGeometry:
    case kGeography:
      d.type = Plain("LongBinary");
      d.note = "kept in its binary form";
      d.changes_values = true;
      return d;
    default: break;
  }
  if (IsBinary(id)) {
    if (bytes >= 1 && bytes <= 255) {
      d.type = Sized("Binary", bytes);
      return d;
    }
    d.type = Plain("LongBinary");
    if (bytes > 0) d.note = "longer than Binary's 255 bytes: LongBinary";
    return d;
  }
  if (IsCharacter(id)) {
    if (bytes >= 1 && bytes < 256) {
      d.type = Sized("VarChar", bytes);
      if (IsNational(id)) d.note = "length counted in bytes (two a character)";
      return d;
    }
    d.type = Plain("LongText");
    if (bytes > 0) d.note = "longer than Text's 255 characters: Memo";
    return d;
  }
  // A type Access has no word for keeps SQL Server's; the target refuses it and says so.
  d.type = bytes < 0 ? Plain(c.type_name) : Sized(c.type_name, bytes);
  return d;
}

}  // namespace

std::string DeclaredTypeText(const ColumnFacts& c) {
  const std::string& name = c.declared_type.empty() ? c.type_name : c.declared_type;
  if (!c.declared_type.empty() && !EqualsIgnoreAsciiCase(c.declared_type, c.type_name)) return name;
  const int id = c.type_id;
  if (IsCharacter(id) || IsBinary(id)) {
    if (c.max_length < 0) return name + "(max)";
    return name + "(" + std::to_string(IsNational(id) ? c.max_length / 2 : c.max_length) + ")";
  }
  if (id == kDecimal || id == kNumeric) {
    return name + "(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")";
  }
  if (id == kTime || id == kDateTime2 || id == kDateTimeOffset) return name + "(" + std::to_string(c.scale) + ")";
  return name;
}

source_common::SourceType TypeMapView(const ColumnFacts& c) {
  source_common::SourceType t;
  t.name = c.declared_type.empty() ? c.type_name : c.declared_type;
  t.base = c.type_name;
  t.precision = c.precision;
  t.scale = c.scale;
  const int id = c.type_id;
  if (IsCharacter(id) || IsBinary(id)) {
    t.length = c.max_length < 0 ? source_common::kMaxLength : (IsNational(id) ? c.max_length / 2 : c.max_length);
  } else if (id == kDecimal || id == kNumeric) {
    t.length = c.precision;
  } else if (id == kTime || id == kDateTime2 || id == kDateTimeOffset) {
    t.length = c.scale;
  }
  return t;
}

Result<ColumnDecision> DecideColumnType(const ColumnFacts& c, const source_common::TypeMap& map, bool jet_target) {
  ASSIGN_OR_RETURN(const std::optional<AccessType> chosen, source_common::ApplyTypeMap(map, TypeMapView(c)));
  ColumnDecision d;
  if (chosen) {
    d.type = *chosen;
    d.auto_number = d.type.type == "COUNTER";
    d.note = "chosen by the type map " + map.origin;
    d.changes_values = true;
    if (c.identity && !d.auto_number) d.note += "; the identity's numbering is not kept (no AutoNumber)";
    return d;
  }
  d = BuiltInType(c, jet_target);
  if (!c.identity) return d;
  if (c.type_id == kInt || c.type_id == kSmallInt || c.type_id == kTinyInt) {
    d.type = Plain("COUNTER");
    d.auto_number = true;
    d.note = c.type_id == kInt ? "AutoNumber from the identity" : "AutoNumber from the identity, widened to Long";
    if (!c.increment.empty() && c.increment != "1") {
      d.note += "; Access numbers by 1, not by " + c.increment;
    }
  } else {
    d.note += std::string(d.note.empty() ? "" : "; ") + "no AutoNumber: Jet 4 has none for " + c.type_name;
  }
  return d;
}

ColumnDecision DecideWideDecimal(const ColumnFacts& c, int integer_digits) {
  ColumnDecision d;
  const int scale = c.scale;
  if (scale <= 28 && integer_digits <= 28 - scale) {
    d.type = Plain("Numeric(28," + std::to_string(scale) + ")");
    d.note = "precision " + std::to_string(c.precision) + " narrowed to 28: every stored value fits";
    d.changes_values = true;
    return d;
  }
  // Sign, digits and the decimal point.
  const int width = c.precision + (scale > 0 ? 2 : 1);
  d.type = Sized("VarChar", width);
  d.note = "kept as text: stored values have more digits than Access's 28";
  d.changes_values = true;
  return d;
}

}  // namespace tabulon::source_sqlserver
