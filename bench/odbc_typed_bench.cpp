// Typed rows from ODBC into a new .mdb: a generated SQLite file (Long key, two Text, a Double, a
// DateTime) read through the ODBC provider and SQLite's ODBC driver with `select *` as typed
// rows, each appended through the Jet provider's row loader into a table with a Long primary
// key and committed. Beside it: the engine's own insert rate for the same rows
// (jet::Database::InsertRows of rows built beforehand), the ratio of the two, and how fast the
// same select reads as text and as typed rows alone. The loader runs twice: fetching and
// appending on one thread, and with the rows read on a thread of their own, as the row copy
// reads them.
//   odbc_typed_bench [rows]
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench_util.h"
#include "data/db_connection.h"
#include "data/error_text.h"
#include "data/providers/jet/jet_provider.h"
#include "data/statement.h"
#include "jet/database.h"
#include "jet/values.h"
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

bool OpenOdbcSource(data::DbConnection& connection, const std::string& file) {
  connection.profile.provider_name = "MSDASQL";
  data::PropertySet init(data::DBPROPSET_DBINIT);
  init.AddString(data::DBPROP_INIT_DATASOURCE, "Driver=SQLite3;Database=" + file);
  return !data::Failed(data::OpenDataSource(connection, {&init, 1})) && !data::Failed(data::OpenSession(connection));
}

// The rows `select *` gives as text: rows per second.
Result<double> TextFetchRate(const std::string& file, long long rows) {
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

// The rows `select *` gives as typed values, nothing done with them: rows per second.
Result<double> TypedFetchRate(const std::string& file, long long rows) {
  data::DbConnection source;
  if (!OpenOdbcSource(source, file)) return IoError(data::ErrorDescription(source));
  const bench::Stopwatch clock;
  std::unique_ptr<data::Command> command;
  ASSIGN_OR_RETURN(std::unique_ptr<data::Rowset> rowset, OpenTyped(source, command));
  std::vector<data::Field> row;
  long long n = 0;
  data::Hresult code;
  while ((code = rowset->FetchNextTypedRow(row)) == data::S_OK) ++n;
  if (data::Failed(code)) return IoError(data::ErrorDescription(rowset.get()));
  const double seconds = clock.Seconds();
  if (n != rows) return IoError("the typed fetch gave " + std::to_string(n) + " rows");
  return static_cast<double>(n) / seconds;
}

// Blocks of typed rows handed from a reading thread to the writing one, at most two waiting.
class BlockQueue {
 public:
  using Block = std::vector<std::vector<data::Field>>;
  void Push(Block block) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return blocks_.size() < 2; });
    blocks_.push_back(std::move(block));
    changed_.notify_all();
  }
  // An empty block: the reader is done.
  Block Pop() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !blocks_.empty(); });
    Block block = std::move(blocks_.front());
    blocks_.pop_front();
    changed_.notify_all();
    return block;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Block> blocks_;
};

// ODBC typed rows into the Jet provider's row loader, committed and the file closed: rows per
// second and rows per CPU second. `overlapped`: the rows are read on a thread of their own in
// blocks of 1000 while this one appends them.
Result<std::pair<double, double>> LoaderRate(const std::string& file, const std::string& target, long long rows,
                                             bool overlapped) {
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
    std::unique_ptr<data::Command> command;
    ASSIGN_OR_RETURN(std::unique_ptr<data::Rowset> rowset, OpenTyped(source, command));
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
    const auto read = [&](const std::function<void(std::vector<data::Field> &&)>& take) {
      std::vector<data::Field> row;
      data::Hresult code;
      while ((code = rowset->FetchNextTypedRow(row)) == data::S_OK) take(std::move(row));
      if (data::Failed(code)) read_error = data::ErrorDescription(rowset.get());
    };
    if (overlapped) {
      BlockQueue queue;
      std::thread reader([&] {
        BlockQueue::Block block;
        read([&](std::vector<data::Field>&& row) {
          block.push_back(std::move(row));
          if (block.size() == 1000) queue.Push(std::exchange(block, {}));
        });
        if (!block.empty()) queue.Push(std::move(block));
        queue.Push({});
      });
      for (BlockQueue::Block block = queue.Pop(); !block.empty(); block = queue.Pop()) {
        for (const auto& row : block) append(row);
      }
      reader.join();
    } else {
      read([&](std::vector<data::Field>&& row) { append(row); });
    }
    if (!read_error.empty()) return IoError(read_error);
    RETURN_IF_ERROR(appended);
    if (loader->Commit() != data::S_OK) return IoError(data::ErrorDescription(loader.get()));
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
  const std::string source = (folder / "readings.sqlite").string();
  if (!bench::MakeSqliteReadings(source, rows)) return 1;

  std::printf("odbc_typed_bench: SQLite table (Long key, 2 Text, Double, DateTime) through ODBC (SQLite3 driver)\n");
  Result<double> text = TextFetchRate(source, rows);
  if (!text.ok()) return Fail(text.status().ToString());
  Result<double> typed = TypedFetchRate(source, rows);
  if (!typed.ok()) return Fail(typed.status().ToString());
  std::printf("rows: %lld\ntext fetch rows/s: %.0f\ntyped fetch rows/s: %.0f\n", rows, *text, *typed);
  Result<double> engine = EngineRate((folder / "engine.mdb").string(), rows);
  if (!engine.ok()) return Fail(engine.status().ToString());
  std::printf("engine InsertRows rows/s: %.0f\n", *engine);
  for (const bool overlapped : {false, true}) {
    Result<std::pair<double, double>> loaded =
        LoaderRate(source, (folder / (overlapped ? "overlapped.mdb" : "loaded.mdb")).string(), rows, overlapped);
    if (!loaded.ok()) return Fail(loaded.status().ToString());
    std::printf("typed ODBC -> Jet row loader, %s: %.0f rows/s (rows per CPU second: %.0f)\n",
                overlapped ? "rows read on a thread of their own" : "one thread", loaded->first, loaded->second);
    std::printf("ratio to the engine: %.2f (goal: 0.5 or more)\n", loaded->first / *engine);
  }
  fs::remove_all(folder);
  return 0;
}
