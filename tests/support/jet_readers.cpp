#include "jet_readers.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>

#include "jet/database.h"
#include "jet/values.h"
#include "jet_test_files.h"

namespace tabulon::testing {
namespace {

constexpr const char* kNullMark = "@@TABULON-NULL@@";

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs `program` on the file (checked first, see CheckBeforeReading) through the shell, `rest`
// after the quoted path; its standard output, a non-zero exit is an error.
Result<std::string> RunOn(const std::string& program, const std::string& path, const std::string& rest = "") {
  RETURN_IF_ERROR(CheckBeforeReading(path));
  const std::string command = program + " " + ShellQuote(path) + rest;
  const CommandRun run = RunCommand(command + " 2>&1");
  if (run.exit_code != 0) {
    return InternalError("command failed (" + std::to_string(run.exit_code) + "): " + command + "\n" +
                         run.out.substr(0, 2000));
  }
  return run.out;
}

std::vector<std::string> NonEmptyLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

template <typename... Parts>
std::string Say(const Parts&... parts) {
  std::ostringstream out;
  (out << ... << parts);
  return out.str();
}

std::string Hex(const std::string& bytes, bool upper) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) out += {digits[c >> 4], digits[c & 15]};
  return out;
}

// Trims trailing zeros of a decimal text ("12.5000" -> "12.5", "0.00" -> "0").
std::string TrimDecimalText(std::string s) {
  bool negative = !s.empty() && s[0] == '-';
  if (negative) s.erase(0, 1);
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  size_t lead = 0;
  while (lead + 1 < s.size() && s[lead] == '0' && s[lead + 1] != '.') ++lead;
  s.erase(0, lead);
  if (s.empty()) s = "0";
  if (s == "0") negative = false;
  return (negative ? "-" : "") + s;
}

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

std::string FormatUnixMillis(int64_t ms, bool with_millis) {
  const int64_t days = FloorDiv(ms, 86400000);
  const int64_t rest = ms - days * 86400000;
  int64_t y;
  unsigned mo, d;
  jet::CivilFromDays(days, y, mo, d);
  char buf[64];
  const int n = std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02d:%02d:%02d", static_cast<long long>(y), mo, d,
                              static_cast<int>(rest / 3600000), static_cast<int>(rest / 60000 % 60),
                              static_cast<int>(rest / 1000 % 60));
  if (with_millis && rest % 1000 != 0) {
    std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ".%03d", static_cast<int>(rest % 1000));
  }
  return buf;
}

// The instant mdb-reader derives from stored days: milliseconds since 1970, rounded half up.
int64_t MdbReaderMillis(double days) {
  return static_cast<int64_t>(std::floor((days - 25569.0) * 86400.0 * 1000.0 + 0.5));
}

const char* MdbReaderTypeWord(jet::ColumnType type) {
  switch (type) {
    case jet::ColumnType::kBoolean: return "boolean";
    case jet::ColumnType::kByte: return "byte";
    case jet::ColumnType::kInteger: return "integer";
    case jet::ColumnType::kLong: return "long";
    case jet::ColumnType::kCurrency: return "currency";
    case jet::ColumnType::kSingle: return "float";
    case jet::ColumnType::kDouble: return "double";
    case jet::ColumnType::kDateTime: return "datetime";
    case jet::ColumnType::kBinary: return "binary";
    case jet::ColumnType::kText: return "text";
    case jet::ColumnType::kOle: return "ole";
    case jet::ColumnType::kMemo: return "memo";
    case jet::ColumnType::kGuid: return "repid";
    case jet::ColumnType::kNumeric: return "numeric";
    default: return "?";
  }
}

// mdbtools' text for a value, or nullopt when mdbtools cannot be expected to show it exactly
// (the caller then compares loosely or skips).
struct MdbToolsExpectation {
  enum Kind { kExact, kDouble, kFloat, kDate, kSkip } kind = kExact;
  ReaderValue text;
  double number = 0;
};

MdbToolsExpectation ExpectedMdbToolsValue(const jet::Value& value, jet::ColumnType type) {
  using E = MdbToolsExpectation;
  E e{E::kExact, ExpectedMdbReaderText(value)};  // integers, Currency, Numeric, text alike
  if (const auto* b = std::get_if<bool>(&value)) {
    e.text = *b ? "1" : "0";
  } else if (const auto* f = std::get_if<float>(&value)) {
    e = {E::kFloat, std::nullopt, static_cast<double>(*f)};
  } else if (const auto* d = std::get_if<double>(&value)) {
    e = {E::kDouble, std::nullopt, *d};
  } else if (const auto* date = std::get_if<jet::DateTime>(&value)) {
    // mdbtools mishandles days before 1900-01-01; compare to the second elsewhere.
    e = {date->days >= 2.0 ? E::kDate : E::kSkip, std::nullopt, date->days};
  } else if (const auto* bytes = std::get_if<jet::Bytes>(&value)) {
    // mdbtools stops a Binary (not an OLE) value at its first zero byte and reads an empty one
    // as NULL.
    const size_t zero = type == jet::ColumnType::kBinary ? bytes->data.find('\0') : std::string::npos;
    e.text = Hex(bytes->data.substr(0, zero), true);
    if (zero == 0 || bytes->data.empty()) e.kind = E::kSkip;
  } else if (const auto* text = std::get_if<std::string>(&value); text != nullptr && text->empty()) {
    e.kind = E::kSkip;  // "" reads as NULL
  } else if (const auto* guid = std::get_if<jet::Guid>(&value)) {
    // In hex mode mdbtools hex-encodes the GUID's text, which it prints without the dash between
    // the fourth and fifth groups.
    e.text = Hex(jet::FormatGuid(*guid).erase(24, 1), true);
  }
  return e;
}

// Splits mdb-export's CSV (quote '"', doubled quotes, C escapes, one record per line).
std::vector<std::vector<ReaderValue>> ParseExportCsv(const std::string& text) {
  std::vector<std::vector<ReaderValue>> rows;
  std::vector<ReaderValue> row;
  std::string field;
  bool quoted_field = false, in_quotes = false;
  auto end_field = [&] {
    ReaderValue value;
    if (quoted_field || field != kNullMark) {
      value.emplace();
      for (size_t i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c == '\\' && i + 1 < field.size()) {
          c = field[++i];
          c = c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
        }
        *value += c;
      }
    }
    row.push_back(std::move(value));
    field.clear();
    quoted_field = false;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_quotes && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
      field += '"';
      ++i;
    } else if (c == '"') {
      in_quotes = !in_quotes;
      quoted_field = true;
    } else if (in_quotes || (c != ',' && c != '\n')) {
      field += c;
    } else {
      end_field();
      if (c == '\n') rows.push_back(std::exchange(row, {}));
    }
  }
  if (!field.empty() || !row.empty()) {
    end_field();
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string Show(const ReaderValue& v) {
  if (!v) return "NULL";
  if (v->size() <= 200) return "\"" + *v + "\"";
  return "\"" + v->substr(0, 200) + "…\" (" + std::to_string(v->size()) + " bytes)";
}

// mdbtools turns each character beyond the Basic Multilingual Plane (a surrogate pair in the
// file) into "??": the text it prints for `text`.
std::string MdbToolsBeyondBmp(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xF8) == 0xF0 && i + 3 < text.size()) {
      out += "??";
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::string FormatJsNumber(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  if (value == 0) return "0";
  const std::string sign = value < 0 ? "-" : "";
  char buf[64];
  const std::string sci(buf, std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific).ptr);
  const size_t epos = sci.find('e');
  std::string digits = sci.substr(0, epos);
  digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
  const int exp10 = std::stoi(sci.substr(epos + 1));
  const int k = static_cast<int>(digits.size());
  const int n = exp10 + 1;
  if (k <= n && n <= 21) return sign + digits + std::string(static_cast<size_t>(n - k), '0');
  if (0 < n && n <= 21)
    return sign + digits.substr(0, static_cast<size_t>(n)) + "." + digits.substr(static_cast<size_t>(n));
  if (-6 < n && n <= 0) return sign + "0." + std::string(static_cast<size_t>(-n), '0') + digits;
  const std::string e = (n - 1 >= 0 ? "+" : "-") + std::to_string(std::abs(n - 1));
  return sign + (k == 1 ? digits : digits.substr(0, 1) + "." + digits.substr(1)) + "e" + e;
}

ReaderValue ExpectedMdbReaderText(const jet::Value& value) {
  if (const auto* f = std::get_if<float>(&value)) return FormatJsNumber(static_cast<double>(*f));
  if (const auto* d = std::get_if<double>(&value)) return FormatJsNumber(*d);
  if (const auto* date = std::get_if<jet::DateTime>(&value)) return FormatUnixMillis(MdbReaderMillis(date->days), true);
  // Otherwise the value's canonical text: exact numbers without trailing zeros, lower-case hex.
  return jet::FormatValue(value);
}

// Every file a test hands to a reader passes the engine's integrity check first: the readers
// are lenient, so no test may call a file good on their word alone. Each version of a file
// (path, size, modification time) is checked once.
Status CheckBeforeReading(const std::string& path) {
  namespace fs = std::filesystem;
  static std::mutex mutex;
  static std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> checked;
  std::error_code error;
  const uintmax_t size = fs::file_size(path, error);
  if (error) return Status::Ok();  // the reader reports the missing file itself
  const fs::file_time_type time = fs::last_write_time(path, error);
  std::lock_guard<std::mutex> lock(mutex);
  auto it = checked.find(path);
  if (it != checked.end() && it->second == std::make_pair(size, time)) return Status::Ok();
  auto db = jet::Database::Open(path, jet::OpenMode::kReadOnly);
  if (!db.ok()) return db.status().WithContext("integrity check of " + path);
  auto problems = (*db)->FindIntegrityProblems();
  if (!problems.ok()) return problems.status().WithContext("integrity check of " + path);
  if (!problems->empty()) {
    std::string all;
    for (const Status& p : *problems) all += "\n  " + p.message();
    return CorruptError("integrity check of " + path + " found " + std::to_string(problems->size()) +
                        " problems:" + all);
  }
  checked[path] = {size, time};
  return Status::Ok();
}

bool MdbReaderAvailable() {
  const std::string probe = std::string("test -d ") +
                            ShellQuote(std::string(TABULON_READERS_DIR) + "/node_modules/mdb-reader") +
                            " && command -v node >/dev/null";
  return std::system(probe.c_str()) == 0;
}

bool MdbToolsAvailable() { return std::system("command -v mdb-export >/dev/null 2>&1") == 0; }

Result<std::vector<ReaderTable>> ReadWithMdbReader(const std::string& path) {
  ASSIGN_OR_RETURN(std::string out,
                   RunOn("node " + ShellQuote(std::string(TABULON_READERS_DIR) + "/mdb_reader_dump.mjs"), path));
  nlohmann::json doc = nlohmann::json::parse(out, nullptr, false);
  if (doc.is_discarded() || !doc.is_array()) {
    return InternalError("mdb-reader output is not JSON: " + out.substr(0, 500));
  }
  std::vector<ReaderTable> tables;
  for (const auto& t : doc) {
    ReaderTable& table = tables.emplace_back();
    table.name = t.at("name").get<std::string>();
    table.row_count = t.at("rowCount").get<long>();
    for (const auto& c : t.at("columns")) {
      table.columns.push_back({c.at("name").get<std::string>(), c.at("type").get<std::string>()});
    }
    for (const auto& r : t.at("rows")) {
      auto& row = table.rows.emplace_back();
      for (const auto& v : r) row.push_back(v.is_null() ? ReaderValue() : ReaderValue(v.get<std::string>()));
    }
  }
  return tables;
}

Result<std::string> MdbToolsVersion(const std::string& path) {
  ASSIGN_OR_RETURN(std::string out, RunOn("mdb-ver", path));
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

Result<std::vector<std::string>> MdbToolsTables(const std::string& path) {
  ASSIGN_OR_RETURN(std::string out, RunOn("mdb-tables -1", path));
  return NonEmptyLines(out);
}

Result<std::string> MdbToolsSchema(const std::string& path, const std::string& backend) {
  return RunOn("mdb-schema", path, backend.empty() ? "" : " " + ShellQuote(backend));
}

Result<std::string> MdbToolsProperties(const std::string& path, const std::string& object) {
  return RunOn("mdb-prop", path, " " + ShellQuote(object));
}

Result<std::vector<std::string>> MdbToolsQueries(const std::string& path) {
  ASSIGN_OR_RETURN(std::string out, RunOn("mdb-queries -L -1", path));
  return NonEmptyLines(out);
}

Result<std::string> MdbToolsQuerySql(const std::string& path, const std::string& query) {
  return RunOn("mdb-queries", path, " " + ShellQuote(query));
}

Result<std::string> FullDump(const std::string& path) {
  ASSIGN_OR_RETURN(std::string out,
                   RunOn("node " + ShellQuote(std::string(TABULON_READERS_DIR) + "/mdb_full_dump.mjs"), path));
  nlohmann::json doc = nlohmann::json::parse(out, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return InternalError("full dump is not JSON: " + out.substr(0, 500));
  for (const char* kind : {"tables", "queries"}) {
    for (const auto& object : doc[kind]) {
      const std::string name = object["name"].get<std::string>();
      // mdb-prop shows another object's properties for one that has none; the maps of one
      // object may lie in any order.
      std::string properties = "none\n";
      if (object["hasProperties"].get<bool>()) {
        ASSIGN_OR_RETURN(std::string text, MdbToolsProperties(path, name));
        std::vector<std::string> maps;
        for (size_t at = 0; at < text.size();) {
          const size_t end = std::min(text.find("\n\n", at), text.size());
          if (end > at) maps.push_back(text.substr(at, end - at));
          at = end + 2;
        }
        std::sort(maps.begin(), maps.end());
        properties.clear();
        for (const std::string& map : maps) properties += map + "\n\n";
      }
      out += Say("\n== properties of ", name, " ==\n", properties);
      if (std::string(kind) == "queries") {
        ASSIGN_OR_RETURN(std::string sql, MdbToolsQuerySql(path, name));
        out += Say("\n== SQL of ", name, " ==\n", sql);
      }
    }
  }
  return out;
}

Result<ReaderTable> MdbToolsExport(const std::string& path, const std::string& table) {
  ASSIGN_OR_RETURN(std::string out,
                   RunOn("mdb-export -e -b hex -T '%Y-%m-%d %H:%M:%S' -0 '" + std::string(kNullMark) + "'", path,
                         " " + ShellQuote(table)));
  auto rows = ParseExportCsv(out);
  if (rows.empty()) return InternalError("mdb-export printed no header for " + table);
  ReaderTable result;
  result.name = table;
  for (const auto& h : rows.front()) result.columns.push_back({h.value_or(""), ""});
  result.rows.assign(std::make_move_iterator(rows.begin() + 1), std::make_move_iterator(rows.end()));
  return result;
}

std::string CompareTableWithReaders(const std::string& path, const std::string& table,
                                    const std::vector<jet::ColumnDefinition>& columns,
                                    const std::vector<jet::Row>& rows,
                                    const std::vector<ReaderTable>* mdb_reader_tables) {
  // mdb-reader: the whole table, value by value.
  Result<std::vector<ReaderTable>> read = std::vector<ReaderTable>();
  if (mdb_reader_tables == nullptr) {
    read = ReadWithMdbReader(path);
    if (!read.ok()) return "mdb-reader: " + read.status().message();
    mdb_reader_tables = &*read;
  }
  const ReaderTable* found = nullptr;
  for (const auto& t : *mdb_reader_tables) {
    if (t.name == table) found = &t;
  }
  if (found == nullptr) return "mdb-reader does not list table " + table;
  if (found->columns.size() != columns.size()) {
    return Say("mdb-reader: ", found->columns.size(), " columns, expected ", columns.size());
  }
  for (size_t c = 0; c < columns.size(); ++c) {
    const ReaderColumn& got = found->columns[c];
    if (got.name != columns[c].name || got.type != MdbReaderTypeWord(columns[c].type)) {
      return Say("mdb-reader: column ", c, " is ", got.name, " ", got.type, ", expected ", columns[c].name, " ",
                 MdbReaderTypeWord(columns[c].type));
    }
  }
  if (found->row_count != static_cast<long>(rows.size())) {
    return Say("mdb-reader: stored row count ", found->row_count, ", expected ", rows.size());
  }
  if (found->rows.size() != rows.size())
    return Say("mdb-reader: ", found->rows.size(), " rows, expected ", rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < columns.size(); ++c) {
      const ReaderValue want = ExpectedMdbReaderText(rows[r][c]);
      if (found->rows[r][c] != want) {
        return Say("mdb-reader: row ", r, " column ", columns[c].name, " is ", Show(found->rows[r][c]), ", expected ",
                   Show(want));
      }
    }
  }

  // mdbtools: version, table list, export.
  auto version = MdbToolsVersion(path);
  if (!version.ok()) return "mdb-ver: " + version.status().message();
  if (*version != "JET4") return "mdb-ver says " + *version;
  auto names = MdbToolsTables(path);
  if (!names.ok()) return "mdb-tables: " + names.status().message();
  if (std::find(names->begin(), names->end(), table) == names->end()) return "mdb-tables does not list " + table;
  auto exported = MdbToolsExport(path, table);
  if (!exported.ok()) return "mdb-export: " + exported.status().message();
  if (exported->rows.size() != rows.size()) {
    return Say("mdb-export: ", exported->rows.size(), " rows, expected ", rows.size());
  }
  for (size_t r = 0; r < rows.size(); ++r) {
    if (exported->rows[r].size() != columns.size()) {
      return Say("mdb-export: row ", r, " has ", exported->rows[r].size(), " fields");
    }
    for (size_t c = 0; c < columns.size(); ++c) {
      const MdbToolsExpectation want = ExpectedMdbToolsValue(rows[r][c], columns[c].type);
      const ReaderValue& got = exported->rows[r][c];
      const jet::ColumnType type = columns[c].type;
      bool same = want.kind == MdbToolsExpectation::kSkip;
      if (want.kind == MdbToolsExpectation::kExact) {
        same = got == want.text || (got && want.text &&
                                    (MdbToolsBeyondBmp(*want.text) == *got ||
                                     ((type == jet::ColumnType::kNumeric || type == jet::ColumnType::kCurrency) &&
                                      TrimDecimalText(*got) == *want.text)));
      } else if (got && want.kind == MdbToolsExpectation::kDate) {
        // Compare to the second: mdbtools prints no fraction and may round either way.
        for (int64_t delta : {0, -1000, 1000}) {
          same |= FormatUnixMillis(FloorDiv(MdbReaderMillis(want.number) + delta, 1000) * 1000, false) == *got;
        }
      } else if (got && want.kind != MdbToolsExpectation::kSkip) {  // Single or Double
        const double tolerance = want.kind == MdbToolsExpectation::kFloat ? 1e-6 : 1e-14;
        const double g = std::strtod(got->c_str(), nullptr);
        same = g == want.number || std::fabs(g - want.number) <= tolerance * std::fabs(want.number);
      }
      if (!same) {
        return Say("mdb-export: row ", r, " column ", columns[c].name, " is ", Show(got), ", expected ",
                   want.kind == MdbToolsExpectation::kExact ? Show(want.text) : std::to_string(want.number));
      }
    }
  }
  return "";
}

}  // namespace tabulon::testing
