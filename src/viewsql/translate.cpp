// From a source view's tree to Access SQL. The rules, where the two languages differ:
// - Names in brackets, with the migration's Access names; schemas dropped.
// - Text joined with `+` (T-SQL) stays `+` where a side may be Null (Access's `+` on text joins
//   and gives Null for a Null side, as SQL Server does) and becomes `&` where neither side can be
//   Null; SQLite's `||` also joins numbers, so a side that is not known to be text goes through
//   `&` with the Null kept by IIf.
// - Date strings compared with date values or given to date functions become #…# literals; 1 and
//   0 compared with Yes/No values become True and False (Access keeps True as -1).
// - LIKE becomes ALike, whose wildcards are % and _ whatever the database's mode.
// - CASE becomes IIf (one branch) or Switch; ISNULL/COALESCE/IFNULL become IIf(x Is Null, ...)
//   (Nz belongs to the Access application, not to the database engine).
// - Conversions to whole numbers cut the fraction as SQL Server and SQLite do (Fix) before CInt /
//   CLng; to text of a length, Left(CStr(x), n); to T-SQL's decimal of a scale,
//   CDec(Round(x, scale)); CONVERT's date styles become Format patterns.
// - Integer division of whole numbers is `\`, `%` is Mod, `!=` is `<>`.
// - T-SQL's AVG of whole numbers is Fix(Avg(x)): SQL Server cuts the fraction.
// - COUNT(DISTINCT x) beside grouped values only: Count(x) over the distinct (groups, x) rows of
//   a query in FROM (a group whose x are all Null keeps one row and counts 0); other shapes are
//   refused.
// - SQLite's date(), datetime(), time() and strftime() become DateValue, the date itself, Format
//   'hh:nn:ss' and Format, their modifiers ('+N days|months|years|hours|minutes|seconds', 'start
//   of month|year|day') DateAdd and DateSerial; julianday(a) - julianday(b) becomes the seconds
//   between them over 86400.
// - SQLite's total(x) is Sum(x) with 0 for no values; CAST(x AS REAL) is CDbl there.
// What has no Access form is refused with its position.
#include "viewsql/translate.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>

#include "base/text.h"

namespace tabulon::viewsql {
namespace {

std::string Where(const Position& at) {
  return " at line " + std::to_string(at.line) + ", column " + std::to_string(at.column);
}

Status Refuse(const std::string& what, const Position& at) { return UnsupportedError(what + Where(at)); }

std::string Bracket(std::string_view name) { return "[" + std::string(name) + "]"; }

std::string Quote(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::string Lower(std::string_view s) { return AsciiLower(s); }

std::string Trim(std::string_view s) {
  const size_t first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return std::string();
  return std::string(s.substr(first, s.find_last_not_of(' ') - first + 1));
}

// One FROM source visible to column references: its alias (or table name) and the table's parts
// (empty for a query in FROM, whose columns have no known class).
struct Source {
  std::string alias;    // as references write it: the alias, or the table's last name part
  std::string printed;  // as the Access SQL names it: the alias, or the table's Access name
  std::vector<std::string> table;
};

struct Scope {
  std::vector<Source> sources;
  const Scope* outer = nullptr;
};

class Translator {
 public:
  Translator(Dialect dialect, const Catalog& catalog) : dialect_(dialect), catalog_(catalog) {}

  Result<std::string> SelectText(const Select& select, const Scope* outer);
  Result<std::string> ExprText(const Expr& e, const Scope& scope);
  std::string TableName(const std::vector<std::string>& parts) const {
    if (catalog_.table_name) return catalog_.table_name(parts);
    return parts.empty() ? std::string() : parts.back();
  }

 private:
  // The table a column reference belongs to, as far as the scope tells (nullopt: unknown).
  std::optional<std::vector<std::string>> TableOf(const Expr& column, const Scope& scope) const;
  ValueClass ClassOf(const Expr& e, const Scope& scope) const;
  bool NeverNull(const Expr& e) const;
  Result<std::string> SourceText(const TableRef& ref, Scope& scope, bool top);
  Result<std::string> ColumnText(const Expr& e, const Scope& scope);
  Result<std::string> LiteralText(const Expr& e);
  Result<std::string> OperandText(const Expr& e, const Expr& other, const Scope& scope);
  Result<std::string> BinaryText(const Expr& e, const Scope& scope);
  Result<std::string> ConcatenationText(const Expr& e, const Scope& scope);
  Result<std::string> FunctionText(const Expr& e, const Scope& scope);
  Result<std::string> CastText(const Expr& e, const Scope& scope);
  Result<std::string> CaseText(const Expr& e, const Scope& scope);
  Result<std::string> SqliteDateText(const Expr& e, size_t first, const Scope& scope);
  Result<std::string> CountDistinctText(const Select& select, const Scope& scope, const std::string& from,
                                        const Position& at);
  Result<std::vector<std::string>> Arguments(const Expr& e, const Scope& scope, size_t least, size_t most);

  Dialect dialect_;
  const Catalog& catalog_;
  int depth_ = 0;

 public:
  // Names for the items of the next SELECT written (a union view's column list).
  const std::vector<std::string>* item_names = nullptr;
};

// 'YYYYMMDD', 'YYYY-MM-DD', with ' hh:mm[:ss[.fff]]' or 'Thh:mm:ss': the Access literal, or nullopt.
std::optional<std::string> DateLiteral(std::string_view text) {
  auto digits = [&](size_t at, size_t n) {
    if (at + n > text.size()) return false;
    for (size_t i = at; i < at + n; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
  };
  std::string date;
  size_t rest = 0;
  if (text.size() >= 8 && digits(0, 8) && (text.size() == 8 || text[8] == ' ' || text[8] == 'T')) {
    date = std::string(text.substr(0, 4)) + "-" + std::string(text.substr(4, 2)) + "-" + std::string(text.substr(6, 2));
    rest = 8;
  } else if (text.size() >= 10 && digits(0, 4) && text[4] == '-' && digits(5, 2) && text[7] == '-' && digits(8, 2)) {
    date = std::string(text.substr(0, 10));
    rest = 10;
  } else {
    return std::nullopt;
  }
  const int month = std::stoi(date.substr(5, 2)), day = std::stoi(date.substr(8, 2));
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  if (rest == text.size()) return "#" + date + "#";
  if (text[rest] != ' ' && text[rest] != 'T') return std::nullopt;
  std::string_view time = text.substr(rest + 1);
  if (!(time.size() >= 5 && digits(rest + 1, 2) && time[2] == ':' && digits(rest + 4, 2))) return std::nullopt;
  std::string clock = std::string(time.substr(0, 5));
  size_t at = 5;
  if (time.size() >= 8 && time[5] == ':' && digits(rest + 7, 2)) {
    clock += std::string(time.substr(5, 3));
    at = 8;
  } else {
    clock += ":00";
  }
  if (at < time.size() && time[at] == '.') {
    ++at;
    while (at < time.size() && std::isdigit(static_cast<unsigned char>(time[at]))) ++at;
    // Access literals hold whole seconds; fractions would be lost, so the text stays a text.
    if (time.substr(time.find('.') + 1, at - time.find('.') - 1).find_first_not_of('0') != std::string_view::npos) {
      return std::nullopt;
    }
  }
  if (at != time.size()) return std::nullopt;
  return "#" + date + " " + clock + "#";
}

// SQL Server's date part names as Access interval strings.
std::optional<std::string> Interval(std::string_view part) {
  static const std::map<std::string, std::string> kParts = {
      {"year", "yyyy"}, {"yy", "yyyy"},  {"yyyy", "yyyy"}, {"quarter", "q"},   {"qq", "q"},     {"q", "q"},
      {"month", "m"},   {"mm", "m"},     {"m", "m"},       {"dayofyear", "y"}, {"dy", "y"},     {"y", "y"},
      {"day", "d"},     {"dd", "d"},     {"d", "d"},       {"week", "ww"},     {"wk", "ww"},    {"ww", "ww"},
      {"weekday", "w"}, {"dw", "w"},     {"hour", "h"},    {"hh", "h"},        {"minute", "n"}, {"mi", "n"},
      {"n", "n"},       {"second", "s"}, {"ss", "s"},      {"s", "s"}};
  const auto found = kParts.find(Lower(part));
  if (found == kParts.end()) return std::nullopt;
  return "'" + found->second + "'";
}

// CONVERT's style numbers for text from a date, as Format patterns.
std::optional<std::string> StylePattern(std::string_view style) {
  static const std::map<std::string, std::string> kStyles = {{"1", "mm/dd/yy"},
                                                             {"101", "mm/dd/yyyy"},
                                                             {"2", "yy.mm.dd"},
                                                             {"102", "yyyy.mm.dd"},
                                                             {"3", "dd/mm/yy"},
                                                             {"103", "dd/mm/yyyy"},
                                                             {"4", "dd.mm.yy"},
                                                             {"104", "dd.mm.yyyy"},
                                                             {"5", "dd-mm-yy"},
                                                             {"105", "dd-mm-yyyy"},
                                                             {"8", "hh:nn:ss"},
                                                             {"108", "hh:nn:ss"},
                                                             {"10", "mm-dd-yy"},
                                                             {"110", "mm-dd-yyyy"},
                                                             {"11", "yy/mm/dd"},
                                                             {"111", "yyyy/mm/dd"},
                                                             {"12", "yymmdd"},
                                                             {"112", "yyyymmdd"},
                                                             {"23", "yyyy-mm-dd"},
                                                             {"20", "yyyy-mm-dd hh:nn:ss"},
                                                             {"120", "yyyy-mm-dd hh:nn:ss"},
                                                             {"126", "yyyy-mm-ddThh:nn:ss"}};
  const auto found = kStyles.find(std::string(style));
  if (found == kStyles.end()) return std::nullopt;
  return "'" + found->second + "'";
}

// SQLite strftime formats as Format patterns (the common directives only).
std::optional<std::string> StrftimePattern(std::string_view format) {
  std::string out;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      if (std::isalpha(static_cast<unsigned char>(format[i]))) out += '\\';  // a letter Format would read
      out += format[i];
      continue;
    }
    if (++i == format.size()) return std::nullopt;
    switch (format[i]) {
      case 'Y': out += "yyyy"; break;
      case 'm': out += "mm"; break;
      case 'd': out += "dd"; break;
      case 'H': out += "hh"; break;
      case 'M': out += "nn"; break;
      case 'S': out += "ss"; break;
      case 'j': out += "y"; break;
      case '%': out += '%'; break;
      default: return std::nullopt;
    }
  }
  return Quote(out);
}

bool IsTextType(std::string_view type) {
  for (std::string_view t : {"varchar", "nvarchar", "char", "nchar", "text", "ntext", "character", "clob"}) {
    if (type.starts_with(t)) return true;
  }
  return false;
}

// The length of "varchar(10)"; nullopt for none or max.
std::optional<int> TypeLength(std::string_view type) {
  const size_t open = type.find('(');
  if (open == std::string_view::npos) return std::nullopt;
  const std::string inside(type.substr(open + 1, type.find(')') - open - 1));
  if (inside.empty() || !std::isdigit(static_cast<unsigned char>(inside[0]))) return std::nullopt;
  return std::stoi(inside);
}

std::string BaseType(std::string_view type) { return std::string(type.substr(0, type.find('('))); }

ValueClass ClassOfType(std::string_view type) {
  const std::string base = BaseType(type);
  if (IsTextType(base)) return ValueClass::kText;
  for (std::string_view t : {"int", "integer", "smallint", "tinyint", "bigint"}) {
    if (base == t) return ValueClass::kInteger;
  }
  for (std::string_view t : {"date", "datetime", "datetime2", "smalldatetime", "time", "datetimeoffset"}) {
    if (base == t) return ValueClass::kDate;
  }
  if (base == "bit") return ValueClass::kBoolean;
  if (base == "binary" || base == "varbinary" || base == "blob") return ValueClass::kBinary;
  return ValueClass::kNumber;
}

std::optional<std::vector<std::string>> Translator::TableOf(const Expr& column, const Scope& scope) const {
  if (column.name.size() >= 2) {
    const std::string qualifier = Lower(column.name[column.name.size() - 2]);
    for (const Scope* s = &scope; s != nullptr; s = s->outer) {
      for (const Source& source : s->sources) {
        if (Lower(source.alias) == qualifier) {
          if (source.table.empty()) return std::nullopt;
          return source.table;
        }
      }
    }
    return std::vector<std::string>(column.name.begin(), column.name.end() - 1);
  }
  // Unqualified: the only source of the innermost scope that has one.
  for (const Scope* s = &scope; s != nullptr; s = s->outer) {
    if (s->sources.size() == 1 && !s->sources[0].table.empty()) return s->sources[0].table;
    if (!s->sources.empty()) return std::nullopt;
  }
  return std::nullopt;
}

ValueClass Translator::ClassOf(const Expr& e, const Scope& scope) const {
  switch (e.kind) {
    case Expr::Kind::kLiteral:
      switch (e.literal_kind) {
        case Expr::LiteralKind::kString:
        case Expr::LiteralKind::kNationalString: return ValueClass::kText;
        case Expr::LiteralKind::kNumber:
          return e.text.find_first_of(".eE") == std::string::npos ? ValueClass::kInteger : ValueClass::kNumber;
        case Expr::LiteralKind::kBoolean: return ValueClass::kBoolean;
        case Expr::LiteralKind::kHex: return ValueClass::kBinary;
        case Expr::LiteralKind::kNull: return ValueClass::kUnknown;
      }
      return ValueClass::kUnknown;
    case Expr::Kind::kColumn: {
      if (!catalog_.column_class) return ValueClass::kUnknown;
      const auto table = TableOf(e, scope);
      return table ? catalog_.column_class(*table, e.name.back()) : ValueClass::kUnknown;
    }
    case Expr::Kind::kCast: return ClassOfType(e.type);
    case Expr::Kind::kCase:
      return e.args.size() > (e.has_operand ? 2u : 1u) ? ClassOf(*e.args[e.has_operand ? 2 : 1], scope)
                                                       : ValueClass::kUnknown;
    case Expr::Kind::kBinary: {
      if (e.op == "||") return ValueClass::kText;
      if (e.op == "+") {
        const ValueClass a = ClassOf(*e.args[0], scope), b = ClassOf(*e.args[1], scope);
        if (a == ValueClass::kText && b == ValueClass::kText) return ValueClass::kText;
        if ((a == ValueClass::kInteger || a == ValueClass::kNumber) &&
            (b == ValueClass::kInteger || b == ValueClass::kNumber)) {
          return a == b ? a : ValueClass::kNumber;
        }
        return ValueClass::kUnknown;
      }
      if (e.op == "-" || e.op == "*" || e.op == "/" || e.op == "%") {
        const ValueClass a = ClassOf(*e.args[0], scope), b = ClassOf(*e.args[1], scope);
        if (a == ValueClass::kInteger && b == ValueClass::kInteger) return ValueClass::kInteger;
        if (a == ValueClass::kDate || b == ValueClass::kDate) return ValueClass::kUnknown;
        return ValueClass::kNumber;
      }
      return ValueClass::kBoolean;
    }
    case Expr::Kind::kFunction: {
      const std::string& f = e.function;
      for (const char* text : {"left", "right", "substring", "substr", "ltrim", "rtrim", "trim", "upper", "lower",
                               "replace", "strftime", "char", "space", "replicate", "concat"}) {
        if (f == text) return ValueClass::kText;
      }
      for (const char* date : {"getdate", "sysdatetime", "current_timestamp", "dateadd", "getutcdate"}) {
        if (f == date) return ValueClass::kDate;
      }
      for (const char* whole :
           {"len", "length", "charindex", "instr", "year", "month", "day", "datediff", "datepart", "count"}) {
        if (f == whole) return ValueClass::kInteger;
      }
      if ((f == "isnull" || f == "coalesce" || f == "ifnull" || f == "min" || f == "max") && !e.args.empty()) {
        return ClassOf(*e.args[0], scope);
      }
      return ValueClass::kUnknown;
    }
    default: return ValueClass::kBoolean;
  }
}

bool Translator::NeverNull(const Expr& e) const {
  switch (e.kind) {
    case Expr::Kind::kLiteral: return e.literal_kind != Expr::LiteralKind::kNull;
    case Expr::Kind::kFunction:
      if ((e.function == "isnull" || e.function == "coalesce" || e.function == "ifnull") && !e.args.empty()) {
        return NeverNull(*e.args.back());
      }
      return false;
    case Expr::Kind::kBinary: return (e.op == "+" || e.op == "||") && NeverNull(*e.args[0]) && NeverNull(*e.args[1]);
    default: return false;
  }
}

Result<std::string> Translator::LiteralText(const Expr& e) {
  switch (e.literal_kind) {
    case Expr::LiteralKind::kNull: return std::string("Null");
    case Expr::LiteralKind::kString:
    case Expr::LiteralKind::kNationalString: return Quote(e.text);
    case Expr::LiteralKind::kNumber: return e.text;
    case Expr::LiteralKind::kBoolean: return std::string(e.text == "0" ? "False" : "True");
    case Expr::LiteralKind::kHex: break;
  }
  return Refuse("a binary literal (Access SQL has none)", e.at);
}

Result<std::string> Translator::ColumnText(const Expr& e, const Scope& scope) {
  if (e.name.empty()) return Refuse("a column without a name", e.at);
  const std::string& column = e.name.back();
  std::string name = column;
  const auto table = TableOf(e, scope);
  if (catalog_.column_name) name = catalog_.column_name(table ? *table : std::vector<std::string>(), column);
  if (e.name.size() < 2) return Bracket(name);
  // The qualifier: an alias stays as written, a table name becomes its Access name.
  const std::string& qualifier = e.name[e.name.size() - 2];
  for (const Scope* s = &scope; s != nullptr; s = s->outer) {
    for (const Source& source : s->sources) {
      if (Lower(source.alias) == Lower(qualifier)) return Bracket(source.printed) + "." + Bracket(name);
    }
  }
  return Bracket(TableName(std::vector<std::string>(e.name.begin(), e.name.end() - 1))) + "." + Bracket(name);
}

// An operand of a comparison: a date string against a date becomes a date literal, a number
// against a Yes/No value True or False.
Result<std::string> Translator::OperandText(const Expr& e, const Expr& other, const Scope& scope) {
  if (e.kind == Expr::Kind::kLiteral) {
    const ValueClass against = ClassOf(other, scope);
    if (against == ValueClass::kDate &&
        (e.literal_kind == Expr::LiteralKind::kString || e.literal_kind == Expr::LiteralKind::kNationalString)) {
      if (auto date = DateLiteral(e.text)) return *date;
    }
    if (against == ValueClass::kBoolean && e.literal_kind == Expr::LiteralKind::kNumber &&
        e.text.find_first_not_of("0123456789") == std::string::npos) {
      return std::string(e.text.find_first_not_of('0') == std::string::npos ? "False" : "True");
    }
  }
  return ExprText(e, scope);
}

Result<std::string> Translator::BinaryText(const Expr& e, const Scope& scope) {
  const Expr& a = *e.args[0];
  const Expr& b = *e.args[1];
  static const std::map<std::string, std::string> kComparisons = {{"=", "="},   {"==", "="}, {"<>", "<>"}, {"!=", "<>"},
                                                                  {"<", "<"},   {">", ">"},  {"<=", "<="}, {">=", ">="},
                                                                  {"!<", ">="}, {"!>", "<="}};
  if (const auto found = kComparisons.find(e.op); found != kComparisons.end()) {
    ASSIGN_OR_RETURN(std::string left, OperandText(a, b, scope));
    ASSIGN_OR_RETURN(std::string right, OperandText(b, a, scope));
    return left + " " + found->second + " " + right;
  }
  if (e.op == "||") return ConcatenationText(e, scope);
  const auto julian = [&](const Expr& x) {
    return dialect_ == Dialect::kSqlite && x.kind == Expr::Kind::kFunction && x.function == "julianday" &&
           x.args.size() == 1 && !x.parenthesized;
  };
  if (e.op == "-" && julian(a) && julian(b)) {
    // Days between, with the fraction of the time of day: seconds, exact for any date.
    ASSIGN_OR_RETURN(std::string later, SqliteDateText(a, 0, scope));
    ASSIGN_OR_RETURN(std::string earlier, SqliteDateText(b, 0, scope));
    return "DateDiff('s', " + earlier + ", " + later + ") / 86400";
  }
  ASSIGN_OR_RETURN(std::string left, ExprText(a, scope));
  ASSIGN_OR_RETURN(std::string right, ExprText(b, scope));
  if (e.op == "and") return left + " And " + right;
  if (e.op == "or") return left + " Or " + right;
  if (e.op == "%") return left + " Mod " + right;
  if (e.op == "-" || e.op == "*") return left + " " + e.op + " " + right;
  if (e.op == "/") {
    const bool whole = ClassOf(a, scope) == ValueClass::kInteger && ClassOf(b, scope) == ValueClass::kInteger;
    return left + (whole ? " \\ " : " / ") + right;
  }
  const ValueClass ca = ClassOf(a, scope), cb = ClassOf(b, scope);
  const bool both_text = ca == ValueClass::kText && cb == ValueClass::kText;
  const bool never_null = NeverNull(a) && NeverNull(b);
  if (e.op == "+") {
    if (both_text && never_null) return left + " & " + right;
    return left + " + " + right;
  }
  return Refuse("the operator " + e.op + " (Access SQL has no bitwise operators)", e.at);
}

// SQLite's a || b || c: the text of every side, Null when one side is Null. Sides that may be
// Null are tested once each; where every side is text, Access's + does the same.
Result<std::string> Translator::ConcatenationText(const Expr& e, const Scope& scope) {
  std::vector<const Expr*> sides;
  std::vector<const Expr*> pending{&e};
  while (!pending.empty()) {
    const Expr* next = pending.back();
    pending.pop_back();
    if (next->kind == Expr::Kind::kBinary && next->op == "||" && !next->parenthesized) {
      pending.push_back(next->args[1].get());
      pending.push_back(next->args[0].get());
    } else {
      sides.push_back(next);
    }
  }
  std::vector<std::string> texts, nullable;
  bool all_text = true;
  for (const Expr* side : sides) {
    ASSIGN_OR_RETURN(std::string text, ExprText(*side, scope));
    if (ClassOf(*side, scope) != ValueClass::kText) all_text = false;
    if (!NeverNull(*side)) nullable.push_back(text);
    texts.push_back(std::move(text));
  }
  auto joined = [&](const char* op) {
    std::string out;
    for (const std::string& t : texts) out += (out.empty() ? "" : op) + t;
    return out;
  };
  if (nullable.empty()) return joined(" & ");
  if (all_text) return joined(" + ");
  std::string test;
  for (const std::string& n : nullable) test += (test.empty() ? "" : " Or ") + n + " Is Null";
  return "IIf(" + test + ", Null, " + joined(" & ") + ")";
}

Result<std::vector<std::string>> Translator::Arguments(const Expr& e, const Scope& scope, size_t least, size_t most) {
  if (e.args.size() < least || e.args.size() > most) {
    return Refuse(e.function + " with " + std::to_string(e.args.size()) + " arguments", e.at);
  }
  std::vector<std::string> out;
  for (const ExprPtr& arg : e.args) {
    ASSIGN_OR_RETURN(std::string text, ExprText(*arg, scope));
    out.push_back(std::move(text));
  }
  return out;
}

// The date of SQLite's date functions: args[first] ('now', a date text or a value) with the
// modifiers after it, each a DateAdd or a DateSerial.
Result<std::string> Translator::SqliteDateText(const Expr& e, size_t first, const Scope& scope) {
  const Expr& time = *e.args[first];
  std::string value;
  if (time.kind == Expr::Kind::kLiteral && Lower(time.text) == "now") {
    value = "Now()";
  } else if (time.kind == Expr::Kind::kLiteral && time.literal_kind == Expr::LiteralKind::kString) {
    const std::optional<std::string> date = DateLiteral(time.text);
    if (!date) return Refuse("the date text " + Quote(time.text), time.at);
    value = *date;
  } else {
    ASSIGN_OR_RETURN(value, ExprText(time, scope));
    if (ClassOf(time, scope) != ValueClass::kDate) value = "CDate(" + value + ")";
  }
  static const std::map<std::string, std::string> kUnits = {
      {"day", "d"},  {"days", "d"},  {"month", "m"},  {"months", "m"},  {"year", "yyyy"}, {"years", "yyyy"},
      {"hour", "h"}, {"hours", "h"}, {"minute", "n"}, {"minutes", "n"}, {"second", "s"},  {"seconds", "s"}};
  for (size_t i = first + 1; i < e.args.size(); ++i) {
    const Expr& m = *e.args[i];
    const std::string text = m.kind == Expr::Kind::kLiteral && m.literal_kind == Expr::LiteralKind::kString
                                 ? Lower(Trim(m.text))
                                 : std::string();
    if (text == "start of month") {
      value = "DateSerial(Year(" + value + "), Month(" + value + "), 1)";
      continue;
    }
    if (text == "start of year") {
      value = "DateSerial(Year(" + value + "), 1, 1)";
      continue;
    }
    if (text == "start of day") {
      value = "DateValue(" + value + ")";
      continue;
    }
    const size_t blank = text.find(' ');
    const std::string number = text.substr(0, blank);
    const auto unit = blank == std::string::npos ? kUnits.end() : kUnits.find(Trim(text.substr(blank + 1)));
    const bool whole = number.size() > 1 && (number[0] == '+' || number[0] == '-') &&
                       number.find_first_not_of("0123456789", 1) == std::string::npos;
    if (unit == kUnits.end() || !whole) return Refuse("the date modifier " + Quote(m.text), m.at);
    const std::string count = number[0] == '+' ? number.substr(1) : number;
    value = "DateAdd('" + unit->second + "', " + count + ", " + value + ")";
  }
  return value;
}

Result<std::string> Translator::FunctionText(const Expr& e, const Scope& scope) {
  const std::string& f = e.function;
  auto call = [&](const char* name, size_t least, size_t most) -> Result<std::string> {
    ASSIGN_OR_RETURN(std::vector<std::string> args, Arguments(e, scope, least, most));
    std::string out = std::string(name) + "(";
    for (size_t i = 0; i < args.size(); ++i) out += (i ? ", " : "") + args[i];
    return out + ")";
  };
  if (f == "count" || f == "sum" || f == "avg" || f == "min" || f == "max" || f == "stdev" || f == "var" ||
      f == "stdevp" || f == "varp" || f == "total") {
    if (e.distinct) return Refuse(Lower(f) + "(DISTINCT ...)", e.at);
    if (e.star_argument) return std::string("Count(*)");
    if (f == "total") {
      // SQLite's total() is 0 where Sum is Null (no values).
      ASSIGN_OR_RETURN(std::string sum, call("Sum", 1, 1));
      return "IIf(" + sum + " Is Null, 0, " + sum + ")";
    }
    if (f == "avg" && dialect_ == Dialect::kTransactSql && e.args.size() == 1 &&
        ClassOf(*e.args[0], scope) == ValueClass::kInteger) {
      // SQL Server's AVG of whole numbers is a whole number, its fraction cut.
      ASSIGN_OR_RETURN(std::string avg, call("Avg", 1, 1));
      return "Fix(" + avg + ")";
    }
    static const std::map<std::string, std::string> kAggregates = {
        {"count", "Count"}, {"sum", "Sum"}, {"avg", "Avg"},       {"min", "Min"},   {"max", "Max"},
        {"stdev", "StDev"}, {"var", "Var"}, {"stdevp", "StDevP"}, {"varp", "VarP"}, {"total", "Sum"}};
    return call(kAggregates.at(f).c_str(), 1, 1);
  }
  if (f == "isnull" && dialect_ == Dialect::kTransactSql) {
    ASSIGN_OR_RETURN(std::vector<std::string> args, Arguments(e, scope, 2, 2));
    return "IIf(" + args[0] + " Is Null, " + args[1] + ", " + args[0] + ")";
  }
  if (f == "coalesce" || f == "ifnull" || (f == "isnull" && dialect_ == Dialect::kSqlite && e.args.size() == 2)) {
    ASSIGN_OR_RETURN(std::vector<std::string> args, Arguments(e, scope, 2, 32));
    std::string out = args.back();
    for (size_t i = args.size() - 1; i-- > 0;) out = "IIf(" + args[i] + " Is Null, " + out + ", " + args[i] + ")";
    return out;
  }
  if (f == "nullif") {
    ASSIGN_OR_RETURN(std::vector<std::string> args, Arguments(e, scope, 2, 2));
    return "IIf(" + args[0] + " = " + args[1] + ", Null, " + args[0] + ")";
  }
  if (f == "iif") return call("IIf", 3, 3);
  if (f == "getdate" || f == "sysdatetime" || f == "current_timestamp") return call("Now", 0, 0);
  if (f == "len" || f == "length") {
    ASSIGN_OR_RETURN(std::vector<std::string> args, Arguments(e, scope, 1, 1));
    // SQL Server's LEN does not count trailing blanks.
    return dialect_ == Dialect::kTransactSql ? "Len(RTrim(" + args[0] + "))" : "Len(" + args[0] + ")";
  }
  if (f == "substring" || f == "substr") return call("Mid", 2, 3);
  if (f == "left") return call("Left", 2, 2);
  if (f == "right") return call("Right", 2, 2);
  if (f == "ltrim") return call("LTrim", 1, 1);
  if (f == "rtrim") return call("RTrim", 1, 1);
  if (f == "trim") return call("Trim", 1, 1);
  if (f == "upper") return call("UCase", 1, 1);
  if (f == "lower") return call("LCase", 1, 1);
  if (f == "replace") return call("Replace", 3, 3);
  if (f == "abs") return call("Abs", 1, 1);
  if (f == "sign") return call("Sgn", 1, 1);
  if (f == "sqrt") return call("Sqr", 1, 1);
  if (f == "round") {
    ASSIGN_OR_RETURN(std::vector<std::string> args, Arguments(e, scope, 1, 2));
    return "Round(" + args[0] + (args.size() > 1 ? ", " + args[1] : std::string()) + ")";
  }
  if (f == "floor") return call("Int", 1, 1);
  if (f == "ceiling" || f == "ceil") {
    ASSIGN_OR_RETURN(std::vector<std::string> args, Arguments(e, scope, 1, 1));
    return "-Int(-(" + args[0] + "))";
  }
  if (f == "power") {
    ASSIGN_OR_RETURN(std::vector<std::string> args, Arguments(e, scope, 2, 2));
    return "(" + args[0] + ") ^ (" + args[1] + ")";
  }
  if (f == "charindex") {
    ASSIGN_OR_RETURN(std::vector<std::string> args, Arguments(e, scope, 2, 3));
    return "InStr(" + (args.size() == 3 ? args[2] + ", " : std::string()) + args[1] + ", " + args[0] + ")";
  }
  if (f == "instr" && dialect_ == Dialect::kSqlite) return call("InStr", 2, 2);
  if (f == "year" || f == "month" || f == "day") {
    const char* access = f == "year" ? "Year" : f == "month" ? "Month" : "Day";
    // Date text, which SQL Server reads as a date, as a date literal ('19970704' is no date to Access).
    if (e.args.size() == 1 && e.args[0]->kind == Expr::Kind::kLiteral &&
        e.args[0]->literal_kind != Expr::LiteralKind::kNumber) {
      if (const std::optional<std::string> date = DateLiteral(e.args[0]->text))
        return std::string(access) + "(" + *date + ")";
    }
    return call(access, 1, 1);
  }
  if (f == "dateadd" || f == "datediff" || f == "datepart") {
    const size_t count = f == "datepart" ? 2 : 3;
    if (e.args.size() != count || e.args[0]->kind != Expr::Kind::kColumn || e.args[0]->name.size() != 1) {
      return Refuse(f + " without a date part name", e.at);
    }
    const std::optional<std::string> interval = Interval(e.args[0]->name[0]);
    if (!interval) return Refuse("the date part " + e.args[0]->name[0], e.args[0]->at);
    std::string out = std::string(f == "dateadd"    ? "DateAdd("
                                  : f == "datediff" ? "DateDiff("
                                                    : "DatePart(") +
                      *interval;
    for (size_t i = 1; i < e.args.size(); ++i) {
      const Expr& arg = *e.args[i];
      const bool is_date = !(f == "dateadd" && i == 1);  // DATEADD's count is a number
      std::optional<std::string> date;
      if (is_date && arg.kind == Expr::Kind::kLiteral && arg.literal_kind != Expr::LiteralKind::kNumber) {
        date = DateLiteral(arg.text);
      }
      ASSIGN_OR_RETURN(std::string text, date ? Result<std::string>(*date) : ExprText(arg, scope));
      out += ", " + text;
    }
    return out + ")";
  }
  if (dialect_ == Dialect::kSqlite && (f == "date" || f == "datetime") && e.args.size() == 1 &&
      e.args[0]->kind == Expr::Kind::kLiteral && Lower(e.args[0]->text) == "now") {
    return std::string(f == "date" ? "Date()" : "Now()");
  }
  if (dialect_ == Dialect::kSqlite && f == "julianday") {
    return Refuse("julianday outside julianday(a) - julianday(b) (Access dates count from 1899)", e.at);
  }
  if (dialect_ == Dialect::kSqlite && f == "strftime" && e.args.size() >= 2 &&
      e.args[0]->kind == Expr::Kind::kLiteral) {
    const std::optional<std::string> pattern = StrftimePattern(e.args[0]->text);
    if (!pattern) return Refuse("the strftime format " + Quote(e.args[0]->text), e.args[0]->at);
    ASSIGN_OR_RETURN(std::string value, SqliteDateText(e, 1, scope));
    return "Format(" + value + ", " + *pattern + ")";
  }
  if (dialect_ == Dialect::kSqlite && (f == "date" || f == "datetime" || f == "time") && !e.args.empty()) {
    ASSIGN_OR_RETURN(std::string value, SqliteDateText(e, 0, scope));
    if (f == "time") return "Format(" + value + ", 'hh:nn:ss')";
    return f == "date" ? "DateValue(" + value + ")" : value;
  }
  return Refuse("the function " + f, e.at);
}

Result<std::string> Translator::CastText(const Expr& e, const Scope& scope) {
  ASSIGN_OR_RETURN(std::string value, ExprText(*e.args[0], scope));
  const std::string base = BaseType(e.type);
  if (IsTextType(base)) {
    std::string text = "CStr(" + value + ")";
    if (e.args.size() > 1) {
      if (e.args[1]->kind != Expr::Kind::kLiteral) return Refuse("a CONVERT style that is not a number", e.args[1]->at);
      const std::optional<std::string> pattern = StylePattern(e.args[1]->text);
      if (!pattern) return Refuse("the CONVERT style " + e.args[1]->text, e.args[1]->at);
      text = "Format(" + value + ", " + *pattern + ")";
    }
    if (const std::optional<int> length = TypeLength(e.type))
      text = "Left(" + text + ", " + std::to_string(*length) + ")";
    return text;
  }
  if (base == "int" || base == "integer") return "CLng(Fix(" + value + "))";
  if (base == "smallint") return "CInt(Fix(" + value + "))";
  if (base == "tinyint") return "CByte(Fix(" + value + "))";
  if (base == "bigint") return "Fix(" + value + ")";
  // SQLite's REAL is a double.
  if (base == "real") return (dialect_ == Dialect::kSqlite ? "CDbl(" : "CSng(") + value + ")";
  if (base == "float" || base.starts_with("double") || (base == "numeric" && dialect_ == Dialect::kSqlite)) {
    return "CDbl(" + value + ")";
  }
  if (base == "money" || base == "smallmoney") return "CCur(" + value + ")";
  if (base == "decimal" || base == "numeric") {
    // In SQL Server a scale rounds to that many places (SQLite keeps the value as it is).
    const size_t comma = e.type.find(',');
    if (comma == std::string::npos || dialect_ != Dialect::kTransactSql) return "CDec(" + value + ")";
    const std::string scale = Trim(e.type.substr(comma + 1, e.type.find(')') - comma - 1));
    return "CDec(Round(" + value + ", " + scale + "))";
  }
  if (base == "bit") return "CBool(" + value + ")";
  if (ClassOfType(base) == ValueClass::kDate) {
    if (e.args[0]->kind == Expr::Kind::kLiteral) {
      if (auto date = DateLiteral(e.args[0]->text)) return *date;
    }
    return "CDate(" + value + ")";
  }
  return Refuse("a conversion to " + e.type, e.at);
}

Result<std::string> Translator::CaseText(const Expr& e, const Scope& scope) {
  std::vector<std::string> conditions, values;
  size_t i = 0;
  std::string operand;
  if (e.has_operand) {
    ASSIGN_OR_RETURN(operand, ExprText(*e.args[0], scope));
    i = 1;
  }
  const size_t pairs_end = e.args.size() - (e.has_else ? 1 : 0);
  for (; i + 1 < pairs_end; i += 2) {
    ASSIGN_OR_RETURN(std::string when,
                     e.has_operand ? OperandText(*e.args[i], *e.args[0], scope) : ExprText(*e.args[i], scope));
    ASSIGN_OR_RETURN(std::string then, ExprText(*e.args[i + 1], scope));
    conditions.push_back(e.has_operand ? operand + " = " + when : when);
    values.push_back(std::move(then));
  }
  std::string otherwise = "Null";
  if (e.has_else) {
    ASSIGN_OR_RETURN(otherwise, ExprText(*e.args.back(), scope));
  }
  if (conditions.empty()) return Refuse("CASE without WHEN", e.at);
  if (conditions.size() == 1) return "IIf(" + conditions[0] + ", " + values[0] + ", " + otherwise + ")";
  std::string out = "Switch(";
  for (size_t k = 0; k < conditions.size(); ++k) out += (k ? ", " : "") + conditions[k] + ", " + values[k];
  if (e.has_else) out += ", True, " + otherwise;
  return out + ")";
}

Result<std::string> Translator::ExprText(const Expr& e, const Scope& scope) {
  if (++depth_ > 400) return InvalidArgumentError("the expression is nested too deeply" + Where(e.at));
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{depth_};
  Result<std::string> text = [&]() -> Result<std::string> {
    switch (e.kind) {
      case Expr::Kind::kLiteral: return LiteralText(e);
      case Expr::Kind::kColumn: return ColumnText(e, scope);
      case Expr::Kind::kStar: return Refuse("* inside an expression", e.at);
      case Expr::Kind::kVariable: return Refuse("a variable", e.at);
      case Expr::Kind::kUnary: {
        ASSIGN_OR_RETURN(std::string operand, ExprText(*e.args[0], scope));
        if (e.op == "not") return "Not " + operand;
        if (e.op == "-" || e.op == "+") return e.op + operand;
        return Refuse("the operator " + e.op, e.at);
      }
      case Expr::Kind::kBinary: return BinaryText(e, scope);
      case Expr::Kind::kFunction: return FunctionText(e, scope);
      case Expr::Kind::kCase: return CaseText(e, scope);
      case Expr::Kind::kCast: return CastText(e, scope);
      case Expr::Kind::kIsNull: {
        ASSIGN_OR_RETURN(std::string operand, ExprText(*e.args[0], scope));
        return operand + (e.negated ? " Is Not Null" : " Is Null");
      }
      case Expr::Kind::kBetween: {
        ASSIGN_OR_RETURN(std::string value, ExprText(*e.args[0], scope));
        ASSIGN_OR_RETURN(std::string low, OperandText(*e.args[1], *e.args[0], scope));
        ASSIGN_OR_RETURN(std::string high, OperandText(*e.args[2], *e.args[0], scope));
        return value + (e.negated ? " Not Between " : " Between ") + low + " And " + high;
      }
      case Expr::Kind::kIn: {
        ASSIGN_OR_RETURN(std::string value, ExprText(*e.args[0], scope));
        std::string list;
        if (e.subquery) {
          ASSIGN_OR_RETURN(list, SelectText(*e.subquery, &scope));
        } else {
          for (size_t i = 1; i < e.args.size(); ++i) {
            ASSIGN_OR_RETURN(std::string item, OperandText(*e.args[i], *e.args[0], scope));
            list += (i > 1 ? ", " : "") + item;
          }
        }
        return value + (e.negated ? " Not In (" : " In (") + list + ")";
      }
      case Expr::Kind::kLike: {
        if (e.args.size() > 2) return Refuse("LIKE ... ESCAPE (Access has no escape character)", e.at);
        ASSIGN_OR_RETURN(std::string value, ExprText(*e.args[0], scope));
        ASSIGN_OR_RETURN(std::string pattern, ExprText(*e.args[1], scope));
        return value + (e.negated ? " Not ALike " : " ALike ") + pattern;
      }
      case Expr::Kind::kExists: {
        ASSIGN_OR_RETURN(std::string query, SelectText(*e.subquery, &scope));
        return std::string(e.negated ? "Not Exists (" : "Exists (") + query + ")";
      }
      case Expr::Kind::kSubquery: {
        ASSIGN_OR_RETURN(std::string query, SelectText(*e.subquery, &scope));
        return "(" + query + ")";
      }
    }
    return Refuse("an expression", e.at);
  }();
  if (!text.ok() || !e.parenthesized || e.kind == Expr::Kind::kSubquery) return text;
  return "(" + *text + ")";
}

Result<std::string> Translator::SourceText(const TableRef& ref, Scope& scope, bool top) {
  switch (ref.kind) {
    case TableRef::Kind::kTable: {
      const std::string name = TableName(ref.name);
      scope.sources.push_back(
          {ref.alias.empty() ? ref.name.back() : ref.alias, ref.alias.empty() ? name : ref.alias, ref.name});
      return Bracket(name) + (ref.alias.empty() ? "" : " AS " + Bracket(ref.alias));
    }
    case TableRef::Kind::kDerived: {
      if (ref.alias.empty()) return Refuse("a query in FROM without a name", ref.at);
      ASSIGN_OR_RETURN(std::string query, SelectText(*ref.derived, scope.outer));
      scope.sources.push_back({ref.alias, ref.alias, {}});
      return "(" + query + ") AS " + Bracket(ref.alias);
    }
    case TableRef::Kind::kJoin: break;
  }
  if (ref.join == TableRef::JoinKind::kFull) return Refuse("FULL OUTER JOIN", ref.at);
  ASSIGN_OR_RETURN(std::string left, SourceText(*ref.left, scope, top && ref.join == TableRef::JoinKind::kCross));
  ASSIGN_OR_RETURN(std::string right, SourceText(*ref.right, scope, false));
  if (ref.join == TableRef::JoinKind::kCross) {
    // Access joins without a condition only as a list of tables.
    if (!top) return Refuse("CROSS JOIN inside other joins", ref.at);
    return left + ", " + right;
  }
  // Jet wants every join that is a side of another in parentheses.
  if (ref.left->kind == TableRef::Kind::kJoin) left = "(" + left + ")";
  if (ref.right->kind == TableRef::Kind::kJoin) right = "(" + right + ")";
  if (!ref.on) return Refuse("a join without ON", ref.at);
  ASSIGN_OR_RETURN(std::string on, ExprText(*ref.on, scope));
  const char* kind = ref.join == TableRef::JoinKind::kLeft    ? " LEFT JOIN "
                     : ref.join == TableRef::JoinKind::kRight ? " RIGHT JOIN "
                                                              : " INNER JOIN ";
  return left + kind + right + " ON " + on;
}

bool IsCountDistinct(const Expr& e) {
  return e.kind == Expr::Kind::kFunction && e.function == "count" && e.distinct && e.args.size() == 1;
}

// COUNT(DISTINCT x) beside nothing but grouped values: the distinct (groups, x) pairs of the rows
// in a query in FROM, counted per group. Count skips the Null x, and a group whose x are all
// Null keeps its one pair, so it still appears with 0.
Result<std::string> Translator::CountDistinctText(const Select& select, const Scope& scope, const std::string& from,
                                                  const Position& at) {
  if (select.having || !select.order_by.empty() || select.top || select.distinct || !select.unions.empty() ||
      from.empty()) {
    return Refuse("COUNT(DISTINCT ...) with HAVING, ORDER BY, TOP, DISTINCT, UNION or no FROM", at);
  }
  std::vector<std::string> groups;
  for (const ExprPtr& g : select.group_by) {
    ASSIGN_OR_RETURN(std::string text, ExprText(*g, scope));
    groups.push_back(std::move(text));
  }
  std::string value, items;
  for (const SelectItem& item : select.items) {
    std::string text, name = item.alias;
    if (IsCountDistinct(*item.expr)) {
      ASSIGN_OR_RETURN(std::string counted, ExprText(*item.expr->args[0], scope));
      if (!value.empty() && counted != value)
        return Refuse("COUNT(DISTINCT ...) of two different values", item.expr->at);
      value = counted;
      text = "Count([cd_value])";
    } else {
      if (item.expr->kind == Expr::Kind::kStar) return Refuse("* beside COUNT(DISTINCT ...)", item.expr->at);
      ASSIGN_OR_RETURN(std::string grouped, ExprText(*item.expr, scope));
      const auto found = std::find(groups.begin(), groups.end(), grouped);
      if (found == groups.end()) return Refuse("a value beside COUNT(DISTINCT ...) that is not grouped", item.expr->at);
      text = "[cd_group" + std::to_string(found - groups.begin() + 1) + "]";
      if (name.empty() && item.expr->kind == Expr::Kind::kColumn) {
        name = grouped.substr(grouped.rfind('[') + 1, grouped.size() - grouped.rfind('[') - 2);
      }
    }
    items += (items.empty() ? "" : ", ") + text + (name.empty() ? "" : " AS " + Bracket(name));
  }
  std::string inner = "SELECT DISTINCT ", group_names;
  for (size_t k = 0; k < groups.size(); ++k) {
    const std::string name = "[cd_group" + std::to_string(k + 1) + "]";
    inner += groups[k] + " AS " + name + ", ";
    group_names += (k ? ", " : "") + name;
  }
  inner += value + " AS [cd_value]\nFROM " + from;
  if (select.where) {
    ASSIGN_OR_RETURN(std::string where, ExprText(*select.where, scope));
    inner += "\nWHERE " + where;
  }
  std::string out = "SELECT " + items + "\nFROM (" + inner + ") AS [cd_rows]";
  if (!group_names.empty()) out += "\nGROUP BY " + group_names;
  return out;
}

Result<std::string> Translator::SelectText(const Select& select, const Scope* outer) {
  if (++depth_ > 400) return InvalidArgumentError("the query is nested too deeply" + Where(select.at));
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{depth_};
  const std::vector<std::string>* names = item_names;
  item_names = nullptr;
  Scope scope;
  scope.outer = outer;
  std::string from;
  for (const TableRefPtr& ref : select.from) {
    ASSIGN_OR_RETURN(std::string text, SourceText(*ref, scope, true));
    from += (from.empty() ? "" : ", ") + text;
  }
  for (const SelectItem& item : select.items) {
    if (IsCountDistinct(*item.expr)) return CountDistinctText(select, scope, from, item.expr->at);
  }
  std::string out = "SELECT ";
  if (select.distinct) out += "DISTINCT ";
  if (select.top) {
    const Expr& top = *select.top;
    if (top.kind != Expr::Kind::kLiteral || top.literal_kind != Expr::LiteralKind::kNumber ||
        top.text.find_first_not_of("0123456789") != std::string::npos) {
      return Refuse("TOP with an expression", top.at);
    }
    // TOP 100 PERCENT is every row: SQL Server views write it to be allowed an ORDER BY.
    const std::string digits = top.text.substr(std::min(top.text.find_first_not_of('0'), top.text.size()));
    const bool all = select.top_percent && (digits.size() > 3 || (!digits.empty() && std::stoi(digits) >= 100));
    if (!all) {
      out += "TOP " + top.text + (select.top_percent ? " PERCENT " : " ");
    }
  }
  std::string items;
  for (const SelectItem& item : select.items) {
    std::string text;
    if (item.expr->kind == Expr::Kind::kStar) {
      const std::vector<std::string>& qualifier = item.expr->name;
      text = qualifier.empty() ? "*" : Bracket(TableName(qualifier)) + ".*";
      for (const Source& source : scope.sources) {
        if (!qualifier.empty() && Lower(source.alias) == Lower(qualifier.back())) text = Bracket(source.printed) + ".*";
      }
    } else {
      ASSIGN_OR_RETURN(text, ExprText(*item.expr, scope));
    }
    const std::string& alias =
        names != nullptr ? (*names)[static_cast<size_t>(&item - select.items.data())] : item.alias;
    if (!alias.empty()) text += " AS " + Bracket(alias);
    items += (items.empty() ? "" : ", ") + text;
  }
  out += items;
  if (!from.empty()) out += "\nFROM " + from;
  if (select.where) {
    ASSIGN_OR_RETURN(std::string where, ExprText(*select.where, scope));
    out += "\nWHERE " + where;
  }
  if (!select.group_by.empty()) {
    std::string group;
    for (const ExprPtr& g : select.group_by) {
      ASSIGN_OR_RETURN(std::string text, ExprText(*g, scope));
      group += (group.empty() ? "" : ", ") + text;
    }
    out += "\nGROUP BY " + group;
  }
  if (select.having) {
    ASSIGN_OR_RETURN(std::string having, ExprText(*select.having, scope));
    out += "\nHAVING " + having;
  }
  for (const Select::UnionPart& part : select.unions) {
    ASSIGN_OR_RETURN(std::string text, SelectText(*part.select, outer));
    out += part.all ? "\nUNION ALL " : "\nUNION ";
    out += text;
  }
  if (!select.order_by.empty()) {
    std::string order;
    for (const OrderItem& item : select.order_by) {
      std::string text;
      // An alias of the select list is kept as a name: Access resolves it.
      ASSIGN_OR_RETURN(text, ExprText(*item.expr, scope));
      order += (order.empty() ? "" : ", ") + text + (item.descending ? " DESC" : "");
    }
    out += "\nORDER BY " + order;
  }
  return out;
}

}  // namespace

Result<std::string> TranslateSelect(const Select& select, Dialect dialect, const Catalog& catalog) {
  Translator translator(dialect, catalog);
  return translator.SelectText(select, nullptr);
}

Result<std::string> TranslateView(const ViewDefinition& view, Dialect dialect, const Catalog& catalog) {
  if (!view.select) return InvalidArgumentError("the view has no SELECT");
  Translator translator(dialect, catalog);
  const bool union_names = !view.columns.empty() && !view.select->unions.empty();
  if (union_names) {
    // A union query takes its column names from its first SELECT.
    if (view.columns.size() != view.select->items.size()) {
      return Refuse("a column list of another length than the SELECT's", view.at);
    }
    translator.item_names = &view.columns;
  }
  ASSIGN_OR_RETURN(std::string select, translator.SelectText(*view.select, nullptr));
  std::string out = "CREATE VIEW " + Bracket(translator.TableName(view.name));
  if (!view.columns.empty() && !union_names) {
    out += " (";
    for (size_t i = 0; i < view.columns.size(); ++i) out += (i ? ", " : "") + Bracket(view.columns[i]);
    out += ")";
  }
  return out + " AS\n" + select;
}

Result<std::string> TranslateExpression(const Expr& expr, Dialect dialect, const Catalog& catalog,
                                        const std::vector<std::string>& table) {
  Translator translator(dialect, catalog);
  Scope scope;
  if (!table.empty()) scope.sources.push_back({table.back(), translator.TableName(table), table});
  return translator.ExprText(expr, scope);
}

}  // namespace tabulon::viewsql
