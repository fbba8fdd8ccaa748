// Typed rows from ODBC into a new .mdb: a generated SQLite file (Long key, two Text, a Double, a
// DateTime) read through the ODBC provider and SQLite's ODBC driver with `select *` as typed
// rows, each appended through the Jet provider's row loader into a table with a Long primary
// key and committed. Beside it: the engine's own insert rate for the same rows
// (jet::Database::InsertRows of rows built beforehand), the ratio of the two, and how fast the
// same select reads as text and as typed rows alone. The loader runs twice: fetching and
// appending on one thread, and through the migration's row copy (rows read and prepared on a
// thread of their own).
//   odbc_typed_bench [rows] [pg PORT]   (pg: from a PostgreSQL server on 127.0.0.1:PORT instead)
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench_util.h"
#include "data/db_connection.h"
#include "data/error_text.h"
#include "data/providers/jet/jet_provider.h"
#include "data/statement.h"
#include "jet/database.h"
#include "jet/values.h"
#include "source_common/row_copy.h"
#include "sqlite_source.h"
#include "workspace/statement_output.h"

using namespace tabulon;

namespace {

namespace fs = std::filesystem;

constexpr char kSelect[] = "select * from readings";
constexpr char kCreate[] =
    "CREATE TABLE readings (id LONG PRIMARY KEY, sensor TEXT(20) NOT NULL, place TEXT(60), celsius DOUBLE, "
    "taken DATETIME)";

int Fail(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  return 1;
}

// Where the rows come from: an ODBC connection string, with a user where the server needs one.
struct OdbcSource {
  std::string connection;
  std::string user;
  std::string password;
};

bool OpenOdbcSource(data::DbConnection& connection, const OdbcSource& from) {
  connection.profile.provider_name = "MSDASQL";
  data::PropertySet init(data::DBPROPSET_DBINIT);
  init.AddString(data::DBPROP_INIT_DATASOURCE, from.connection);
  if (!from.user.empty()) {
    init.AddString(data::DBPROP_AUTH_USERID, from.user);
    init.AddString(data::DBPROP_AUTH_PASSWORD, from.password);
  }
  return !data::Failed(data::OpenDataSource(connection, {&init, 1})) && !data::Failed(data::OpenSession(connection));
}

// The readings table of `rows` rows made in the PostgreSQL database of `from` (as
// bench::MakeSqliteReadings makes it in SQLite).
Status MakePostgresReadings(const OdbcSource& from, long long rows) {
  data::DbConnection server;
  if (!OpenOdbcSource(server, from)) return IoError(data::ErrorDescription(server));
  const std::string sql =
      "create table readings(id integer primary key, sensor varchar(20) not null, "
      "place varchar(60), celsius double precision, taken timestamp); insert into readings select i, 'sensor-' || "
      "(i % 400), case when i % 13 = 0 then null else 'Hall ' || (i % 17) || ', row ' || i end, (i % 5000) * 0.037 "
      "- 40.5, timestamp '2020-01-01' + i * interval '1 second' from generate_series(1, " +
      std::to_string(rows) + ") i; analyze readings";
  std::string error;
  (void)workspace::ExecuteStatement(nullptr, server.session.get(), "drop table readings", 0, &error);  // an earlier run's
  if (!workspace::ExecuteStatement(nullptr, server.session.get(), sql, 0, &error)) return IoError(error);
  return Status::Ok();
}

// The rows `select *` gives as text: rows per second.
Result<double> TextFetchRate(const OdbcSource& file, long long rows) {
  data::DbConnection source;
  if (!OpenOdbcSource(source, file)) return IoError(data::ErrorDescription(source));
  const bench::Stopwatch clock;
  data::TextRowset rowset;
  if (data::OpenTextRowset(source.session.get(), kSelect, &rowset) != data::S_OK) {
    return IoError(data::ErrorDescription(rowset.error_source()));
  }
  long long n = 0;
  while (data::MoveNextRow(rowset) == data::S_OK) ++n;
  const double seconds = clock.Seconds();
  if (n != rows) return IoError("the text fetch gave " + std::to_string(n) + " rows");
  return static_cast<double>(n) / seconds;
}

// Opens `select *` for typed rows on `source`.
Result<std::unique_ptr<data::Rowset>> OpenTyped(data::DbConnection& source, std::unique_ptr<data::Command>& command) {
  std::unique_ptr<data::Rowset> rowset;
  data::RowsetOptions options;
  options.typed = true;
  if (source.session->CreateCommand(&command) != data::S_OK ||
      command->Execute(kSelect, data::PropertySet(data::DBPROPSET_ROWSET), options, &rowset) != data::S_OK) {
    return IoError(command ? data::ErrorDescription(command.get()) : "no command");
  }
  if (rowset == nullptr || !rowset->HasTypedRows()) return IoError("the ODBC provider gave no typed rows");
  return rowset;
}

// The rows `select *` gives as typed values, nothing done with them: rows per second, and the
// seconds of the statement's execution alone (where a driver may read the whole result).
Result<std::pair<double, double>> TypedFetchRate(const OdbcSource& file, long long rows) {
  data::DbConnection source;
  if (!OpenOdbcSource(source, file)) return IoError(data::ErrorDescription(source));
  const bench::Stopwatch clock;
  std::unique_ptr<data::Command> command;
  ASSIGN_OR_RETURN(std::unique_ptr<data::Rowset> rowset, OpenTyped(source, command));
  const double executed = clock.Seconds();
  std::vector<data::Field> row;
  long long n = 0;
  data::Hresult code;
  while ((code = rowset->FetchNextTypedRow(row)) == data::S_OK) ++n;
  if (data::Failed(code)) return IoError(data::ErrorDescription(rowset.get()));
  const double seconds = clock.Seconds();
  if (n != rows) return IoError("the typed fetch gave " + std::to_string(n) + " rows");
  return std::make_pair(static_cast<double>(n) / seconds, executed);
}

// ODBC typed rows into the Jet provider's row loader, committed and the file closed: rows per
// second and rows per CPU second. `copy`: through the migration's row copy (source_common::CopyRows)
// instead of a plain loop of fetch and append on one thread.
Result<std::pair<double, double>> LoaderRate(const OdbcSource& file, const std::string& target, long long rows,
                                             bool copy) {
  data::PropertySet init(data::DBPROPSET_DBINIT);
  init.AddString(data::DBPROP_INIT_DATASOURCE, target);
  std::vector<std::string> errors;
  if (data::JetProvider().CreateDataSource({&init, 1}, &errors) != data::S_OK) {
    return IoError("cannot create " + target);
  }
  data::DbConnection jet;
  jet.profile.provider_name = data::kJetProviderName;
  if (data::Failed(data::OpenDataSource(jet, {&init, 1})) || data::Failed(data::OpenSession(jet))) {
    return IoError(data::ErrorDescription(jet));
  }
  std::string error;
  if (!workspace::ExecuteStatement(nullptr, jet.session.get(), kCreate, 0, &error)) return IoError(error);
  data::DbConnection source;
  if (!OpenOdbcSource(source, file)) return IoError(data::ErrorDescription(source));

  const bench::Stopwatch clock;
  const double cpu_start = bench::CpuSeconds();
  {
    std::unique_ptr<data::RowLoader> loader;
    if (jet.session->OpenRowLoader("readings", &loader) != data::S_OK) {
      return IoError("the Jet provider opens no row loader: " + data::ErrorDescription(jet.session.get()));
    }
    long long n = 0;
    Status appended;
    const auto append = [&](const std::vector<data::Field>& row) {
      if (!appended.ok()) return;
      if (loader->AppendRow(row) != data::S_OK) {
        appended = IoError("row " + std::to_string(n + 1) + ": " + data::ErrorDescription(loader.get()));
      }
      ++n;
    };
    std::string read_error;
    if (copy) {
      // The migration's own row copy: the select read (and rows prepared) on a thread of its
      // own, the rows appended through the loader on this one.
      loader.reset();
      source_common::CopySource copied;
      if (data::OpenTextRowset(source.session.get(), kSelect, &copied.rows, {.full_values = true, .typed = true}) !=
          data::S_OK) {
        return IoError(data::ErrorDescription(copied.rows.error_source()));
      }
      const auto as_is = [](const data::Field& value, data::Field& out) {
        out = value;
        return Status::Ok();
      };
      copied.writers = {source_common::WriteNumberField, source_common::WriteTextField, source_common::WriteTextField,
                        source_common::WriteNumberField, as_is};
      source_common::SourceContext owner;
      owner.work_folder = fs::path(target).parent_path().string();
      Result<source_common::RowCopyCounts> counts =
          source_common::CopyRows(owner, copied, jet.session.get(), source_common::SourceTable("", "readings"));
      if (!counts.ok()) return counts.status();
      n = counts->written;
    } else {
      std::unique_ptr<data::Command> command;
      ASSIGN_OR_RETURN(std::unique_ptr<data::Rowset> rowset, OpenTyped(source, command));
      std::vector<data::Field> row;
      data::Hresult code;
      while ((code = rowset->FetchNextTypedRow(row)) == data::S_OK) append(row);
      if (data::Failed(code)) read_error = data::ErrorDescription(rowset.get());
    }
    if (!read_error.empty()) return IoError(read_error);
    RETURN_IF_ERROR(appended);
    if (loader != nullptr && loader->Commit() != data::S_OK) return IoError(data::ErrorDescription(loader.get()));
    if (n != rows) return IoError("the loader took " + std::to_string(n) + " rows");
  }
  data::CloseConnection(jet);
  const double seconds = clock.Seconds();
  const double cpu = bench::CpuSeconds() - cpu_start;
  return std::make_pair(static_cast<double>(rows) / seconds, static_cast<double>(rows) / cpu);
}

// The same rows, built beforehand, through jet::Database::InsertRows: rows per second.
Result<double> EngineRate(const std::string& target, long long rows) {
  ASSIGN_OR_RETURN(std::unique_ptr<jet::Database> db, jet::Database::Create(target));
  RETURN_IF_ERROR(db->CreateTable(bench::ReadingsTable()));
  RETURN_IF_ERROR(db->CreateIndex("readings", bench::ReadingsKey()));
  std::vector<jet::Row> built(static_cast<size_t>(rows));
  for (long long i = 1; i <= rows; ++i) bench::MakeReadingsRow(i, built[static_cast<size_t>(i - 1)]);
  const bench::Stopwatch clock;
  RETURN_IF_ERROR(db->InsertRows("readings", built));
  db.reset();
  return static_cast<double>(rows) / clock.Seconds();
}

}  // namespace

int main(int argc, char** argv) {
  const long long rows = bench::RowsArgument(argc, argv, 1);
  const fs::path folder = fs::temp_directory_path() / ("odbc_typed_bench_" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  OdbcSource source;
  if (argc > 3 && std::string(argv[2]) == "pg") {
    // A PostgreSQL server on this machine (127.0.0.1, the port given), its rows read from a
    // server cursor as they are fetched.
    source.connection = std::string("Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=") + argv[3] +
                        ";Database=tabulon;UseDeclareFetch=1;Fetch=10000;BoolsAsChar=0";
    source.user = source.password = "tabulon";
    if (Status made = MakePostgresReadings(source, rows); !made.ok()) return Fail(made.ToString());
    std::printf("odbc_typed_bench: PostgreSQL table (Long key, 2 Text, Double, DateTime) through ODBC (psqlODBC)\n");
  } else {
    const std::string file = (folder / "readings.sqlite").string();
    if (!bench::MakeSqliteReadings(file, rows)) return 1;
    source.connection = "Driver=SQLite3;Database=" + file;
    std::printf("odbc_typed_bench: SQLite table (Long key, 2 Text, Double, DateTime) through ODBC (SQLite3 driver)\n");
  }
  Result<double> text = TextFetchRate(source, rows);
  if (!text.ok()) return Fail(text.status().ToString());
  Result<std::pair<double, double>> typed = TypedFetchRate(source, rows);
  if (!typed.ok()) return Fail(typed.status().ToString());
  std::printf("rows: %lld\ntext fetch rows/s: %.0f\ntyped fetch rows/s: %.0f (of it the execution: %.3f s)\n", rows,
              *text, typed->first, typed->second);
  Result<double> engine = EngineRate((folder / "engine.mdb").string(), rows);
  if (!engine.ok()) return Fail(engine.status().ToString());
  std::printf("engine InsertRows rows/s: %.0f\n", *engine);
  for (const bool copy : {false, true}) {
    Result<std::pair<double, double>> loaded =
        LoaderRate(source, (folder / (copy ? "copied.mdb" : "loaded.mdb")).string(), rows, copy);
    if (!loaded.ok()) return Fail(loaded.status().ToString());
    std::printf("typed ODBC -> Jet row loader, %s: %.0f rows/s (rows per CPU second: %.0f)\n",
                copy ? "the row copy (read on a thread of its own)" : "one thread", loaded->first, loaded->second);
    std::printf("ratio to the engine: %.2f (goal: 0.5 or more)\n", loaded->first / *engine);
  }
  fs::remove_all(folder);
  return 0;
}
