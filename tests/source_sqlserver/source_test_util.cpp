#include "tests/source_sqlserver/source_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "data/statement.h"
#include "jet/values.h"
#include "source_sqlserver/column_types.h"
#include "source_sqlserver/translate.h"

namespace tabulon::source_sqlserver::testing {

std::string FixturePath(const std::string& name) {
  return std::string(TABULON_SOURCE_DIR) + "/tests/source_sqlserver/fixtures/" + name;
}

namespace {

SourceTable ParseName(const std::string& text, const std::string& default_schema) {
  const size_t dot = text.find('.');
  if (dot == std::string::npos) return SourceTable(default_schema, text);
  return SourceTable(text.substr(0, dot), text.substr(dot + 1));
}

// The statement as the replay format writes it: one line, escapes for line ends and backslashes.
std::string EscapeForReplay(const std::string& sql) {
  std::string out;
  for (char c : sql) out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\\' ? "\\\\" : std::string(1, c);
  return out;
}

// The Access column an Access type word of the column query makes.
jet::ColumnDefinition AccessColumn(const std::string& name, const std::string& type) {
  jet::ColumnDefinition column;
  column.name = name;
  using enum jet::ColumnType;
  static const std::map<std::string, jet::ColumnType> kWords = {
      {"Bit", kBoolean},    {"Byte", kByte},     {"Short", kInteger},     {"Long", kLong}, {"Currency", kCurrency},
      {"Single", kSingle},  {"Double", kDouble}, {"DateTime", kDateTime}, {"GUID", kGuid}, {"LongText", kMemo},
      {"LongBinary", kOle}, {"Binary", kBinary}, {"COUNTER", kLong}};
  if (const auto word = kWords.find(type); word != kWords.end()) {
    column.type = word->second;
  } else if (type.starts_with("VarChar")) {
    column.type = kText;
  } else if (type.starts_with("Binary")) {
    column.type = kBinary;
  } else if (type.starts_with("Numeric(")) {
    column.type = kNumeric;
    column.scale = static_cast<uint8_t>(std::stoi(type.substr(type.find(',') + 1)));
  } else {
    ADD_FAILURE() << name << ": unexpected Access type " << type;
  }
  return column;
}

// The value the Access column should hold for the source's text of it.
jet::Value ExpectedValue(const jet::ColumnDefinition& column, const std::optional<std::string>& text) {
  // A Yes/No column has no NULL: Access keeps No.
  if (!text) return column.type == jet::ColumnType::kBoolean ? jet::Value(false) : jet::Value(jet::Null{});
  const std::string& t = *text;
  using enum jet::ColumnType;
  switch (column.type) {
    case kBoolean: return t == "1";
    case kByte: return static_cast<uint8_t>(std::stoi(t));
    case kInteger: return static_cast<int16_t>(std::stoi(t));
    case kLong: return static_cast<int32_t>(std::stol(t));
    case kSingle: return std::strtof(t.c_str(), nullptr);
    case kDouble: return std::strtod(t.c_str(), nullptr);
    case kDateTime: {
      const std::optional<double> days = jet::ParseDateTime(t);
      EXPECT_TRUE(days.has_value()) << t;
      return jet::DateTime{days.value_or(0)};
    }
    case kCurrency: {
      const std::optional<jet::Decimal> d = jet::Decimal::Parse(t, 4);
      EXPECT_TRUE(d.has_value()) << t;
      if (!d) return jet::Null{};
      const uint64_t magnitude = (uint64_t{d->words[1]} << 32) | d->words[0];
      return jet::Currency{d->negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude)};
    }
    case kNumeric: {
      const std::optional<jet::Decimal> d = jet::Decimal::Parse(t, column.scale);
      EXPECT_TRUE(d.has_value()) << t;
      return d ? jet::Value(*d) : jet::Value(jet::Null{});
    }
    case kGuid: {
      const std::optional<jet::Guid> g = jet::ParseGuid(t);
      EXPECT_TRUE(g.has_value()) << t;
      return g ? jet::Value(*g) : jet::Value(jet::Null{});
    }
    case kBinary:
    case kOle: {
      std::string bytes;
      for (size_t k = 0; k + 1 < t.size(); k += 2) bytes += static_cast<char>(std::stoi(t.substr(k, 2), nullptr, 16));
      return jet::Bytes{bytes};
    }
    default: return t;  // Text, Memo
  }
}

}  // namespace

void LoadFixture(tabulon::testing::ReplayScript& script, const std::string& name, const std::string& default_schema) {
  std::istringstream in(ReadTextFile(FixturePath(name)));
  ASSERT_TRUE(in.good()) << name;
  std::string out, line;
  // The column names of each "@columns T" record, for the "@measure T" after it.
  std::map<std::string, std::vector<std::string>> column_names;
  std::vector<std::string>* recording = nullptr;
  while (std::getline(in, line)) {
    if (line.starts_with("==")) recording = nullptr;
    if (recording != nullptr && line.starts_with("row: ")) recording->push_back(line.substr(5, line.find(" | ") - 5));
    if (line.starts_with("== @")) {
      std::istringstream words(line.substr(4));
      std::string kind, object;
      words >> kind >> object;
      // "@largest T|C": the column's name may hold blanks.
      const std::string rest = line.substr(line.find(object));
      const size_t bar = rest.find('|');
      const SourceTable table = ParseName(kind == "largest" ? rest.substr(0, bar) : object, default_schema);
      const std::string column = bar == std::string::npos ? "" : rest.substr(bar + 1);
      const std::map<std::string, std::string> statements = {{"columns", BuildColumnsStatement(table)},
                                                             {"largest", BuildLargestValueStatement(table, column)},
                                                             {"rows", BuildSelectRowsStatement(table, "")},
                                                             {"text", BuildHelpTextStatement(table)},
                                                             {"constraints", BuildHelpConstraintStatement(table)},
                                                             {"indexes", BuildIndexesStatement(table)},
                                                             {"descriptions", BuildDescriptionsStatement(table)},
                                                             {"checks", BuildCheckConstraintsStatement(table)},
                                                             {"fks", BuildForeignKeysStatement(table)},
                                                             {"measure", BuildMeasureRowsStatement(
                                                                             table, column_names[object], "")}};
      if (kind == "columns") recording = &column_names[object];
      const auto statement = statements.find(kind);
      if (statement == statements.end()) ADD_FAILURE() << name << ": unknown placeholder " << kind;
      const std::string sql = statement == statements.end() ? "" : statement->second;
      line = "== " + EscapeForReplay(sql);
    }
    out += line + "\n";
  }
  script.Load(out);
}

void RecordColumns(tabulon::testing::ReplayScript& script, const SourceTable& table,
                   const std::vector<std::string>& rows) {
  std::string text = "== " + EscapeForReplay(BuildColumnsStatement(table)) +
                     "\ncolumns: name WSTR 128 | type_id I4 | type_name WSTR 128 | declared_type WSTR 128 | "
                     "max_length I2 | precision UI1 | scale UI1 | is_nullable BOOL | is_identity BOOL | seed STR 40 | "
                     "increment STR 40 | has_default I4 | definition WSTR 0 long | collation_name WSTR 128\n";
  for (const std::string& row : rows) text += "row: " + row + "\n";
  script.Load(text);
}

void ExpectGolden(const std::string& name, const std::string& actual) {
  ExpectGoldenFile("tests/source_sqlserver/golden/" + name, actual);
}

namespace {

// EventLog row `i` as FreeTDS hands it over: NULLs, empty strings, quotes, pipes, backslashes,
// unicode beyond the BMP and every 97th message 6,000 characters long.
void MakeEventRow(size_t i, std::vector<std::optional<std::string>>& v) {
  using tabulon::testing::kNull;
  const auto n = std::to_string(i);
  char at[32];
  std::snprintf(at, sizeof at, "2024-%02zu-%02zu %02zu:%02zu:%02zu.%02zu%c", 1 + i / 1000 % 12, 1 + i / 40 % 28, i % 24,
                i % 60, i * 7 % 60, i % 100, "037"[i % 3]);
  v[0] = std::to_string(i + 1);
  v[1] = at;
  v[2] = i % 7 == 0 ? kNull : std::optional<std::string>(std::to_string(i % 6));
  v[3] = i % 11 == 0 ? kNull : i % 11 == 1 ? "" : "app-" + std::to_string(i % 17) + (i % 5 == 0 ? "'s \"svc\"|x" : "");
  v[4] = i % 13 == 0 ? kNull : i % 3 == 0 ? "Ærøskøbing\\Ølstykke" : i % 3 == 1 ? "用户" + n : "o'neil";
  if (i % 19 == 0) {
    v[5] = kNull;
  } else if (i % 97 == 0) {
    std::string text;
    while (text.size() < 6000) text += "Größe 𝄞 '" + n + "' ";
    v[5] = text;
  } else {
    v[5] = "Event " + n + " said 'hello' — “done” ✓\r\nline 2";
  }
  if (i % 3 == 0) {
    v[6] = kNull;
  } else {
    const long cents = static_cast<long>(i * 37 % 100000) - 50000;
    char amount[32];
    std::snprintf(amount, sizeof amount, "%s%ld.%02ld", cents < 0 ? "-" : "", std::labs(cents) / 100,
                  std::labs(cents) % 100);
    v[6] = amount;
  }
  char payload[16];
  std::snprintf(payload, sizeof payload, "%08zx", i * 2654435761u % 0xFFFFFFFFu);
  v[7] = i % 4 == 0 ? kNull : std::optional<std::string>(payload);
}

}  // namespace

void RecordEventLogRows(tabulon::testing::ReplayScript& script, const std::string& schema, size_t rows) {
  using namespace data;
  script.On(BuildSelectRowsStatement(SourceTable(schema, "EventLog"), ""))
      .Column("EventID", DBTYPE_I4, 0, DBCOLUMNFLAGS_ISFIXEDLENGTH)
      .Column("LoggedAt", DBTYPE_DBTIMESTAMP, 0, DBCOLUMNFLAGS_ISFIXEDLENGTH)
      .Column("Level", DBTYPE_UI1)
      .Column("Source", DBTYPE_STR, 50)
      .Column("User", DBTYPE_WSTR, 60)
      .Column("Message", DBTYPE_WSTR, 0, DBCOLUMNFLAGS_ISLONG | DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL)
      .Column("Amount", DBTYPE_NUMERIC, 0, DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL, 12, 2)
      .Column("Payload", DBTYPE_BYTES, 0, DBCOLUMNFLAGS_ISLONG | DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL)
      .Generated(rows, MakeEventRow);
}

ReplayedSource::ReplayedSource(const std::string& target_provider) {
  tabulon::testing::ConnectReplay(source, script);
  source.profile.provider_name = "SQLOLEDB";
  target.profile.provider_name = target_provider;
  owner.output = &pane;
  owner.source = &source;
  owner.target = &target;
}

}  // namespace tabulon::source_sqlserver::testing

namespace tabulon::source_sqlserver::testing {

AccessTableContent ExpectedAccessTable(tabulon::testing::ReplayScript& script, const SourceTable& table,
                                       const std::string& rows_sql) {
  using Values = std::vector<std::optional<std::string>>;
  AccessTableContent expected;
  const tabulon::testing::ReplayStatement* columns = script.Find(BuildColumnsStatement(table));
  const std::string select = rows_sql.empty() ? BuildSelectRowsStatement(table, "") : rows_sql;
  const tabulon::testing::ReplayStatement* rows = script.Find(select);
  EXPECT_NE(columns, nullptr) << table.name;
  EXPECT_NE(rows, nullptr) << select;
  if (columns == nullptr || rows == nullptr) return expected;
  for (const Values& row : columns->rows) {
    // The Access type the adapter decides from the recorded facts (column_types_test checks the
    // decisions themselves); a wide decimal after the recorded largest value.
    ColumnFacts facts;
    facts.name = *row[0];
    facts.type_id = std::stoi(*row[1]);
    facts.type_name = *row[2];
    facts.declared_type = *row[3];
    facts.max_length = std::stoi(*row[4]);
    facts.precision = std::stoi(*row[5]);
    facts.scale = std::stoi(*row[6]);
    facts.identity = row[8] == "1";
    ColumnDecision decision = DecideColumnType(facts, {}, true).value();
    if (decision.needs_value_check) {
      const auto* largest = script.Find(BuildLargestValueStatement(table, facts.name));
      EXPECT_NE(largest, nullptr) << facts.name;
      const std::string value = largest && !largest->rows.empty() ? largest->rows[0][0].value_or("") : "";
      int digits = 0;
      for (char c : value.substr(0, value.find('.'))) digits += (c >= '0' && c <= '9' && (digits > 0 || c != '0'));
      decision = DecideWideDecimal(facts, digits);
    }
    expected.columns.push_back(AccessColumn(source_common::AccessObjectName(facts.name), decision.type.Text()));
  }
  const size_t count = rows->make_row ? rows->generated_rows : rows->rows.size();
  Values source(expected.columns.size());
  for (size_t r = 0; r < count; ++r) {
    if (rows->make_row) {
      rows->make_row(r, source);
    } else {
      source = rows->rows[r];
    }
    jet::Row row;
    for (size_t c = 0; c < expected.columns.size(); ++c) {
      // A rowversion is kept as the text of its bytes.
      const bool row_version = (rows->columns[c].flags & data::DBCOLUMNFLAGS_ISROWVER) != 0;
      row.push_back(ExpectedValue(expected.columns[c], row_version && source[c] ? "0x" + *source[c] : source[c]));
    }
    expected.rows.push_back(std::move(row));
  }
  return expected;
}

}  // namespace tabulon::source_sqlserver::testing
