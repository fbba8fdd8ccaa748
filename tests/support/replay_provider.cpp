// The replay provider. Text format of ReplayScript::Load, one item a line:
//
//   # a comment
//   == select name, qty from T          the statement text (escapes below apply)
//   columns: name WSTR 50 | qty I4 | note STR long | [unit price] CY
//   row: apple | 3 | \N | 1.5           values, \N is NULL, an empty value is ""
//   == use "Shop";
//   no rowset
//   == drop table X
//   fails: Cannot drop the table 'X'.
//   warns: Changed database context to 'Shop'.
//
// Values and statements are trimmed; escapes: \N NULL (a whole value), \| pipe, \\ backslash,
// \n \r \t, \s blank. A column is `name TYPE [size] [long] [rowver]`; `[a b]` quotes a name, `""` is an
// empty name; TYPE is a DBTYPE name without its prefix (I4, WSTR, DBTIMESTAMP, ...) or a number.
#include "tests/support/replay_provider.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "data/provider_registry.h"
#include "data/schema_rowset.h"

namespace tabulon::testing {

using namespace data;

ReplayStatement& ReplayStatement::Column(std::string name, DbType type, size_t size, std::uint32_t flags,
                                         std::uint8_t precision, std::uint8_t scale) {
  columns.push_back({std::move(name), columns.size() + 1, type, flags, size, precision, scale});
  return *this;
}

ReplayStatement& ReplayStatement::Row(std::vector<std::optional<std::string>> values) {
  EXPECT_EQ(values.size(), columns.size()) << "replay row of \"" << sql << "\" has a wrong value count";
  values.resize(columns.size());
  rows.push_back(std::move(values));
  return *this;
}

ReplayStatement& ReplayStatement::NoRowset() {
  outcome = Outcome::kNoRowset;
  return *this;
}

ReplayStatement& ReplayStatement::Fails(std::string text, Hresult failure) {
  outcome = Outcome::kFailure;
  code = failure;
  errors = {std::move(text)};
  return *this;
}

ReplayStatement& ReplayStatement::Warns(std::string text) {
  code = DB_S_ERRORSOCCURRED;
  errors = {std::move(text)};
  return *this;
}

ReplayStatement& ReplayStatement::FailsAtRow(size_t index, std::string text) {
  fail_at_row = index;
  row_error = std::move(text);
  return *this;
}

ReplayStatement& ReplayStatement::FailsReadingRow(size_t index, std::string text) {
  fail_reading_row = index;
  row_error = std::move(text);
  return *this;
}

ReplayStatement& ReplayStatement::Generated(size_t count, RowMaker make) {
  generated_rows = count;
  make_row = std::move(make);
  return *this;
}

namespace {

// The script's settings are read and written under its mutex.
template <typename T>
T Locked(std::mutex& mutex, const T& value) {
  std::lock_guard lock(mutex);
  return value;
}
template <typename T, typename V>
void Store(std::mutex& mutex, T& target, V&& value) {
  std::lock_guard lock(mutex);
  target = std::forward<V>(value);
}

}  // namespace

void ReplayScript::SetDataSourceName(std::optional<std::string> name) { Store(mutex_, data_source_name_, name); }
void ReplayScript::SetCurrentCatalog(std::optional<std::string> name) { Store(mutex_, current_catalog_, name); }
std::optional<std::string> ReplayScript::data_source_name() const { return Locked(mutex_, data_source_name_); }
std::optional<std::string> ReplayScript::current_catalog() const { return Locked(mutex_, current_catalog_); }
std::vector<std::string> ReplayScript::Executed() const { return Locked(mutex_, executed_); }
ReplayScript::OpenAnswer ReplayScript::open_answer() const { return Locked(mutex_, open_answer_); }
std::string ReplayScript::dbms_name() const { return Locked(mutex_, dbms_name_); }
std::string ReplayScript::dbms_version() const { return Locked(mutex_, dbms_version_); }

void ReplayScript::FailOpen(std::string text, Hresult code) { Store(mutex_, open_answer_, OpenAnswer{code, text}); }

void ReplayScript::SetDbmsInfo(std::string name, std::string version) {
  std::lock_guard lock(mutex_);
  dbms_name_ = std::move(name);
  dbms_version_ = std::move(version);
}

void ReplayScript::OnSchema(SchemaRowsetKind kind, SchemaRestrictions restrictions,
                            std::vector<std::vector<std::optional<std::string>>> rows) {
  std::lock_guard lock(mutex_);
  const size_t width = SchemaRowsetColumns(kind).size();
  for (auto& row : rows) row.resize(width);
  schemas_.push_back({kind, std::move(restrictions), std::move(rows)});
}

void ReplayScript::FailSchema(SchemaRowsetKind kind, SchemaRestrictions restrictions) {
  std::lock_guard lock(mutex_);
  schemas_.push_back({kind, std::move(restrictions), {}, true});
}

const std::vector<std::vector<std::optional<std::string>>>* ReplayScript::FindSchema(
    SchemaRowsetKind kind, const SchemaRestrictions& restrictions) const {
  std::lock_guard lock(mutex_);
  const auto normal = [](SchemaRestrictions r) {
    while (!r.empty() && !r.back().has_value()) r.pop_back();
    return r;
  };
  for (auto it = schemas_.rbegin(); it != schemas_.rend(); ++it) {
    if (it->kind == kind && normal(it->restrictions) == normal(restrictions)) return it->fails ? nullptr : &it->rows;
  }
  return nullptr;
}

ReplayStatement& ReplayScript::On(std::string sql) {
  std::lock_guard lock(mutex_);
  auto statement = std::make_unique<ReplayStatement>();
  statement->sql = std::move(sql);
  statements_.push_back(std::move(statement));
  return *statements_.back();
}

ReplayStatement& ReplayScript::Again(std::string_view sql) {
  std::lock_guard lock(mutex_);
  auto copy = std::make_unique<ReplayStatement>();
  copy->sql = std::string(sql);
  for (auto it = statements_.rbegin(); it != statements_.rend(); ++it) {
    if ((*it)->sql == sql) {
      *copy = **it;
      break;
    }
  }
  EXPECT_FALSE(copy->columns.empty() && copy->rows.empty()) << "no recording of \"" << sql << "\" to copy";
  statements_.push_back(std::move(copy));
  return *statements_.back();
}

const ReplayStatement* ReplayScript::Find(std::string_view sql) {
  std::lock_guard lock(mutex_);
  executed_.emplace_back(sql);
  // The latest recording of a text wins, so a test can override a shared fixture.
  for (auto it = statements_.rbegin(); it != statements_.rend(); ++it) {
    if ((*it)->sql == sql) return it->get();
  }
  return nullptr;
}

// --- text format ---------------------------------------------------------------------------

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Splits at unescaped '|' and trims each part (escapes are kept for Unescape).
std::vector<std::string> SplitFields(std::string_view s) {
  std::vector<std::string> fields;
  std::string current;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      current += s[i];
      current += s[++i];
    } else if (s[i] == '|') {
      fields.emplace_back(Trim(current));
      current.clear();
    } else {
      current += s[i];
    }
  }
  fields.emplace_back(Trim(current));
  return fields;
}

std::optional<std::string> Unescape(std::string_view s) {
  if (s == "\\N") return std::nullopt;
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c == 's' ? ' ' : c;
  }
  return out;
}

[[noreturn]] void Bad(int line, const std::string& what) {
  throw std::invalid_argument("line " + std::to_string(line) + ": " + what);
}

DbType ParseType(std::string_view name, int line) {
#define TABULON_REPLAY_TYPE(word) std::pair<std::string_view, DbType>(#word, DBTYPE_##word)
  static constexpr std::pair<std::string_view, DbType> kNames[] = {
      TABULON_REPLAY_TYPE(I2),         TABULON_REPLAY_TYPE(I4),     TABULON_REPLAY_TYPE(R4),
      TABULON_REPLAY_TYPE(R8),         TABULON_REPLAY_TYPE(CY),     TABULON_REPLAY_TYPE(DATE),
      TABULON_REPLAY_TYPE(BSTR),       TABULON_REPLAY_TYPE(BOOL),   TABULON_REPLAY_TYPE(VARIANT),
      TABULON_REPLAY_TYPE(UI1),        TABULON_REPLAY_TYPE(I8),     TABULON_REPLAY_TYPE(GUID),
      TABULON_REPLAY_TYPE(BYTES),      TABULON_REPLAY_TYPE(STR),    TABULON_REPLAY_TYPE(WSTR),
      TABULON_REPLAY_TYPE(NUMERIC),    TABULON_REPLAY_TYPE(DBDATE), TABULON_REPLAY_TYPE(DBTIME),
      TABULON_REPLAY_TYPE(DBTIMESTAMP)};
#undef TABULON_REPLAY_TYPE
  for (const auto& [word, type] : kNames) {
    if (word == name) return type;
  }
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), value);
  if (ec == std::errc() && end == name.data() + name.size()) return static_cast<DbType>(value);
  Bad(line, "unknown column type '" + std::string(name) + "'");
}

void ParseColumn(std::string_view spec, int line, ReplayStatement& statement) {
  std::string name;
  if (spec.starts_with("[")) {
    const size_t close = spec.find(']');
    if (close == std::string_view::npos) Bad(line, "unclosed [");
    name = spec.substr(1, close - 1);
    spec.remove_prefix(close + 1);
  } else {
    const size_t blank = std::min(spec.find(' '), spec.size());
    name = spec.substr(0, blank);
    if (name == "\"\"") name.clear();
    spec.remove_prefix(blank);
  }
  std::istringstream words{std::string(spec)};
  std::string word;
  if (!(words >> word)) Bad(line, "column without a type");
  const DbType type = ParseType(word, line);
  size_t size = 0;
  std::uint32_t flags = DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
  while (words >> word) {
    if (word == "long") {
      flags |= DBCOLUMNFLAGS_ISLONG;
    } else if (word == "rowver") {
      flags |= DBCOLUMNFLAGS_ISROWVER;
    } else if (std::from_chars(word.data(), word.data() + word.size(), size).ec != std::errc()) {
      Bad(line, "bad column size '" + word + "'");
    }
  }
  statement.Column(std::move(name), type, size, flags);
}

}  // namespace

void ReplayScript::Load(std::string_view text) {
  ReplayStatement* current = nullptr;
  int line_number = 0;
  try {
    while (!text.empty()) {
      const size_t end = text.find('\n');
      const std::string_view raw = text.substr(0, end);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
      ++line_number;
      const std::string_view line = Trim(raw);
      if (line.empty() || line.starts_with("#")) continue;
      if (line.starts_with("==")) {
        current = &On(*Unescape(Trim(line.substr(2))));
        continue;
      }
      if (current == nullptr) Bad(line_number, "no statement before it");
      if (line.starts_with("columns:")) {
        for (const std::string& spec : SplitFields(line.substr(8))) ParseColumn(spec, line_number, *current);
      } else if (line.starts_with("row:")) {
        std::vector<std::optional<std::string>> values;
        for (const std::string& field : SplitFields(line.substr(4))) values.push_back(Unescape(field));
        current->Row(std::move(values));
      } else if (line == "no rowset") {
        current->NoRowset();
      } else if (line.starts_with("fails:")) {
        current->Fails(Unescape(Trim(line.substr(6))).value_or(""));
      } else if (line.starts_with("warns:")) {
        current->Warns(Unescape(Trim(line.substr(6))).value_or(""));
      } else {
        Bad(line_number, "cannot read '" + std::string(line) + "'");
      }
    }
  } catch (const std::invalid_argument& e) {
    ADD_FAILURE() << "replay script: " << e.what();
  }
}

// --- the provider ----------------------------------------------------------------------------

namespace {

class ReplayRowset : public Rowset {
 public:
  explicit ReplayRowset(const ReplayStatement& statement) : statement_(statement) {}

  std::vector<std::string> ErrorRecords() const override {
    return failed_ ? std::vector<std::string>{statement_.row_error} : std::vector<std::string>{};
  }

  Hresult GetColumnInfo(std::vector<ColumnInfo>* columns) override {
    *columns = statement_.columns;
    return S_OK;
  }

  Hresult FetchNextRow(RowBuffer& buffer) override {
    if (next_ == statement_.fail_at_row) {
      failed_ = true;
      return E_FAIL;
    }
    if (next_ >= RowCount()) return DB_S_ENDOFROWSET;
    current_ = next_++;
    if (statement_.make_row) {
      generated_.assign(statement_.columns.size(), std::nullopt);
      statement_.make_row(current_, generated_);
    }
    const auto& row = statement_.make_row ? generated_ : statement_.rows[current_];
    for (size_t k = 1; k <= row.size() && k <= buffer.columns(); ++k) {
      if (row[k - 1].has_value()) {
        buffer.SetValue(k, *row[k - 1]);
      } else {
        buffer.SetNull(k);
      }
    }
    return S_OK;
  }

  Result<std::optional<std::string>> ReadFullValue(size_t ordinal) override {
    if (current_ >= RowCount()) return InvalidArgumentError("no current row");
    if (ordinal < 1 || ordinal > statement_.columns.size()) return InvalidArgumentError("ordinal out of range");
    if (current_ == statement_.fail_reading_row) return ProviderError(statement_.row_error);
    return statement_.make_row ? generated_[ordinal - 1] : statement_.rows[current_][ordinal - 1];
  }

 private:
  const ReplayStatement& statement_;  // owned by the script, which outlives the rowset
  size_t next_ = 0;
  bool failed_ = false;
  size_t current_ = ~size_t{0};
  std::vector<std::optional<std::string>> generated_;

  size_t RowCount() const { return statement_.make_row ? statement_.generated_rows : statement_.rows.size(); }
};

class ReplayCommand : public Command {
 public:
  explicit ReplayCommand(std::shared_ptr<ReplayScript> script) : script_(std::move(script)) {}

  std::vector<std::string> ErrorRecords() const override { return errors_; }

  Hresult Execute(std::string_view sql, const PropertySet& /*rowset_properties*/, const RowsetOptions& /*options*/,
                  std::unique_ptr<Rowset>* rowset) override {
    rowset->reset();
    errors_.clear();
    const ReplayStatement* statement = script_->Find(sql);
    if (statement == nullptr) {
      ADD_FAILURE() << "replay: no recording for the statement:\n" << sql;
      errors_ = {"Replay: no recording for the statement: " + std::string(sql)};
      return DB_E_ERRORSINCOMMAND;
    }
    errors_ = statement->errors;
    if (statement->outcome == ReplayStatement::Outcome::kFailure) return statement->code;
    if (statement->outcome == ReplayStatement::Outcome::kRows) *rowset = std::make_unique<ReplayRowset>(*statement);
    return statement->code;
  }

 private:
  std::shared_ptr<ReplayScript> script_;
  std::vector<std::string> errors_;
};

class ReplaySession : public Session {
 public:
  explicit ReplaySession(std::shared_ptr<ReplayScript> script) : script_(std::move(script)) {}
  std::vector<std::string> ErrorRecords() const override { return {}; }
  Hresult CreateCommand(std::unique_ptr<Command>* command) override {
    *command = std::make_unique<ReplayCommand>(script_);
    return S_OK;
  }
  Hresult OpenSchemaRowset(SchemaRowsetKind kind, const SchemaRestrictions& restrictions,
                           std::unique_ptr<Rowset>* rowset) override {
    rowset->reset();
    const auto* rows = script_->FindSchema(kind, restrictions);
    if (rows == nullptr) return E_FAIL;
    *rowset = std::make_unique<MemoryRowset>(SchemaRowsetColumns(kind), *rows);
    return S_OK;
  }

 private:
  std::shared_ptr<ReplayScript> script_;
};

class ReplayDataSource : public DataSource {
 public:
  explicit ReplayDataSource(std::shared_ptr<ReplayScript> script) : script_(std::move(script)) {}
  std::vector<std::string> ErrorRecords() const override { return {}; }
  Hresult CreateSession(std::unique_ptr<Session>* session) override {
    *session = std::make_unique<ReplaySession>(script_);
    return S_OK;
  }
  Hresult GetInfo(const Guid& set_id, PropertyId id, std::string* text) override {
    std::optional<std::string> value;
    if (set_id == DBPROPSET_DATASOURCEINFO && id == DBPROP_DBMSNAME) value = script_->dbms_name();
    if (set_id == DBPROPSET_DATASOURCEINFO && id == DBPROP_DBMSVER) value = script_->dbms_version();
    if (set_id == DBPROPSET_DATASOURCEINFO && id == DBPROP_DATASOURCENAME) value = script_->data_source_name();
    if (set_id == DBPROPSET_DATASOURCE && id == DBPROP_CURRENTCATALOG) value = script_->current_catalog();
    *text = value.value_or("");
    return value ? S_OK : DB_E_ERRORSOCCURRED;
  }

 private:
  std::shared_ptr<ReplayScript> script_;
};

class ReplayProvider : public Provider {
 public:
  explicit ReplayProvider(std::shared_ptr<ReplayScript> script) : script_(std::move(script)) {}
  OpenedDataSource OpenDataSource(std::span<const PropertySet> /*sets*/) override {
    OpenedDataSource opened;
    const ReplayScript::OpenAnswer answer = script_->open_answer();
    opened.code = answer.code;
    if (Failed(answer.code)) {
      opened.errors = {answer.error};
    } else {
      opened.data_source = std::make_unique<ReplayDataSource>(script_);
    }
    return opened;
  }

 private:
  std::shared_ptr<ReplayScript> script_;
};

}  // namespace

void ConnectReplay(DbConnection& connection, std::shared_ptr<ReplayScript> script) {
  CloseConnection(connection);
  OpenedDataSource opened = ReplayProvider(std::move(script)).OpenDataSource({});
  ASSERT_EQ(opened.code, S_OK) << "replay: opening was scripted to fail";
  connection.data_source = std::move(opened.data_source);
  ASSERT_EQ(OpenSession(connection), S_OK);
}

ScopedReplayProvider::ScopedReplayProvider(std::string name, std::shared_ptr<ReplayScript> script)
    : name_(std::move(name)), previous_(FindProvider(name_)) {
  RegisterProvider(name_, std::make_shared<ReplayProvider>(std::move(script)));
}

ScopedReplayProvider::~ScopedReplayProvider() {
  if (previous_ != nullptr) {
    RegisterProvider(name_, previous_);
  } else {
    UnregisterProvider(name_);
  }
}

}  // namespace tabulon::testing
