// A stand-in database for tests: statement text -> recorded result. It answers exactly the
// statements it was given and fails loudly (a test failure plus a provider error) on any other.
//
//   auto script = std::make_shared<ReplayScript>();
//   script->On("select name, qty from T")
//       .Column("name", DBTYPE_WSTR, 50)
//       .Column("qty", DBTYPE_I4)
//       .Row({"apple", "3"})
//       .Row({"pear", kNull});
//   script->On("use \"Shop\";").NoRowset();
//   script->On("drop table X").Fails("Cannot drop the table 'X'.");
//   ScopedReplayProvider provider("SQLOLEDB", script);  // or ConnectReplay(connection, script)
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/db_connection.h"
#include "data/provider.h"

namespace tabulon::testing {

inline const std::optional<std::string> kNull = std::nullopt;

struct ReplayStatement {
  enum class Outcome { kRows, kNoRowset, kFailure };

  // A column; flags default to nullable, size to 0 for fixed-size types.
  ReplayStatement& Column(std::string name, data::DbType type, size_t size = 0,
                          std::uint32_t flags = data::DBCOLUMNFLAGS_ISNULLABLE | data::DBCOLUMNFLAGS_MAYBENULL,
                          std::uint8_t precision = data::kNotApplicable, std::uint8_t scale = data::kNotApplicable);
  // One row, a value per column; kNull for NULL.
  ReplayStatement& Row(std::vector<std::optional<std::string>> values);
  ReplayStatement& NoRowset();
  // The statement fails with `text` as the provider's first record.
  ReplayStatement& Fails(std::string text, data::Hresult code = data::DB_E_ERRORSINCOMMAND);
  // The statement runs but answers with a warning (DB_S_ERRORSOCCURRED) carrying `text`.
  ReplayStatement& Warns(std::string text);
  // Fetching row `index` (0-based) fails with `text`: the rows before it arrive, then the
  // failure, as when a connection breaks during a read.
  ReplayStatement& FailsAtRow(size_t index, std::string text);
  // Reading a whole value (ReadFullValue) of row `index` fails with `text`.
  ReplayStatement& FailsReadingRow(size_t index, std::string text);
  // `count` rows made on demand by `make` (row index, values to fill), for large sources that
  // should not sit in memory.
  using RowMaker = std::function<void(size_t index, std::vector<std::optional<std::string>>& values)>;
  ReplayStatement& Generated(size_t count, RowMaker make);

  std::string sql;
  Outcome outcome = Outcome::kRows;
  std::vector<data::ColumnInfo> columns;
  std::vector<std::vector<std::optional<std::string>>> rows;
  data::Hresult code = data::S_OK;
  std::vector<std::string> errors;
  size_t generated_rows = 0;
  RowMaker make_row;
  size_t fail_at_row = SIZE_MAX;
  size_t fail_reading_row = SIZE_MAX;
  std::string row_error;
};

class ReplayScript {
 public:
  // Records the answer to `sql` (the exact text); a statement may run any number of times.
  ReplayStatement& On(std::string sql);
  // The latest recording of `sql` recorded again as a copy, for a test to change (FailsAtRow,
  // say); a test failure when there is none.
  ReplayStatement& Again(std::string_view sql);
  // Parses the text format (see replay_provider.cpp) and records its statements.
  void Load(std::string_view text);

  // Opening the data source fails with `text`.
  void FailOpen(std::string text, data::Hresult code = data::E_FAIL);
  void SetDbmsInfo(std::string name, std::string version);
  // DBPROP_DATASOURCENAME and DBPROP_CURRENTCATALOG; nullopt makes reading it fail.
  void SetDataSourceName(std::optional<std::string> name);
  void SetCurrentCatalog(std::optional<std::string> name);
  // The rows of a schema rowset opened with exactly these restrictions (its columns are the
  // standard ones); an unrecorded kind or restriction list fails the open.
  void OnSchema(data::SchemaRowsetKind kind, data::SchemaRestrictions restrictions,
                std::vector<std::vector<std::optional<std::string>>> rows);
  // From now on the schema rowset with these restrictions fails to open (as when the server
  // refuses the catalogue query).
  void FailSchema(data::SchemaRowsetKind kind, data::SchemaRestrictions restrictions);

  // Every statement executed so far, in order, known or not.
  std::vector<std::string> Executed() const;

  // Used by the provider.
  const ReplayStatement* Find(std::string_view sql);
  struct OpenAnswer {
    data::Hresult code;
    std::string error;
  };
  OpenAnswer open_answer() const;
  std::string dbms_name() const;
  std::string dbms_version() const;
  std::optional<std::string> data_source_name() const;
  std::optional<std::string> current_catalog() const;
  const std::vector<std::vector<std::optional<std::string>>>* FindSchema(
      data::SchemaRowsetKind kind, const data::SchemaRestrictions& restrictions) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<ReplayStatement>> statements_;
  std::vector<std::string> executed_;
  OpenAnswer open_answer_{data::S_OK, {}};
  std::string dbms_name_ = "Microsoft SQL Server";
  std::string dbms_version_ = "15.00.4322";
  std::optional<std::string> data_source_name_;
  std::optional<std::string> current_catalog_;
  struct SchemaAnswer {
    data::SchemaRowsetKind kind;
    data::SchemaRestrictions restrictions;
    std::vector<std::vector<std::optional<std::string>>> rows;
    bool fails = false;
  };
  std::vector<SchemaAnswer> schemas_;
};

// Opens `connection` (data source and session) on the script directly, without the registry.
void ConnectReplay(data::DbConnection& connection, std::shared_ptr<ReplayScript> script);

// Registers the script under a provider name for the scope, then restores what was there.
class ScopedReplayProvider {
 public:
  ScopedReplayProvider(std::string name, std::shared_ptr<ReplayScript> script);
  ~ScopedReplayProvider();
  ScopedReplayProvider(const ScopedReplayProvider&) = delete;
  ScopedReplayProvider& operator=(const ScopedReplayProvider&) = delete;

 private:
  std::string name_;
  std::shared_ptr<data::Provider> previous_;
};

}  // namespace tabulon::testing
