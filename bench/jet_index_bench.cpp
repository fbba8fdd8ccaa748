// Inserts narrow rows into a table with a primary key, once keyed by a Long and once by a
// Text(40), and prints rows per second and the peak resident memory of each run. `single`
// inserts with one InsertRow call per row (Long key), each its own write operation; `batch`
// does the same inside BeginBatch/CommitBatch (one transaction, as a row-by-row import runs);
// `create` inserts the rows first and then creates the Long primary key over them.
//
//   jet_index_bench [ROWS] [long|text|single|batch|create]  (defaults: 1000000 rows, long, text)
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "jet/database.h"

using tabulon::jet::ColumnType;
using tabulon::jet::Database;
using tabulon::jet::NewColumn;

namespace {

enum class Mode { kLong, kText, kSingle, kBatch, kCreate };

int Run(long long count, Mode mode) {
  const bool text_key = mode == Mode::kText;
  const std::string path = "/tmp/tabulon_index_bench_" + std::to_string(::getpid()) + ".mdb";
  ::unlink(path.c_str());
  auto db = Database::Create(path);
  if (!db.ok()) {
    std::fprintf(stderr, "%s\n", db.status().ToString().c_str());
    return 1;
  }
  tabulon::jet::TableDefinition table;
  table.name = "Keyed";
  table.columns = {NewColumn("Id", ColumnType::kLong), NewColumn("Code", ColumnType::kText, 40),
                   NewColumn("Amount", ColumnType::kDouble)};
  tabulon::jet::IndexSpec key;
  key.name = "PrimaryKey";
  key.primary = true;
  key.columns = {{text_key ? "Code" : "Id", true}};
  if (auto s = (*db)->CreateTable(table); !s.ok()) return std::fprintf(stderr, "%s\n", s.ToString().c_str()), 1;
  if (mode != Mode::kCreate) {
    if (auto s = (*db)->CreateIndex("Keyed", key); !s.ok())
      return std::fprintf(stderr, "%s\n", s.ToString().c_str()), 1;
  }
  const auto start = std::chrono::steady_clock::now();
  long long n = 0;
  std::string code;
  auto next = [&](tabulon::jet::Row& row) -> tabulon::Result<bool> {
    if (n == count) return false;
    row.resize(3);
    code = "customer code " + std::to_string(n * 7919 % 1000003) + "-" + std::to_string(n);
    row[0] = static_cast<int32_t>(n);
    row[1] = code;
    row[2] = static_cast<double>(n) * 1.25;
    ++n;
    return true;
  };
  tabulon::Status status;
  if (mode == Mode::kSingle || mode == Mode::kBatch) {
    if (mode == Mode::kBatch) status = (*db)->BeginBatch();
    tabulon::jet::Row row;
    while (status.ok() && *next(row)) status = (*db)->InsertRow("Keyed", row);
    if (status.ok() && mode == Mode::kBatch) status = (*db)->CommitBatch();
  } else {
    status = (*db)->InsertRows("Keyed", next);
  }
  if (status.ok() && mode == Mode::kCreate) status = (*db)->CreateIndex("Keyed", key);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!status.ok()) return std::fprintf(stderr, "%s\n", status.ToString().c_str()), 1;
  db->reset();
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const char* what = text_key                ? "Text(40)"
                     : mode == Mode::kSingle ? "Long, one write operation per row"
                     : mode == Mode::kBatch  ? "Long, one InsertRow per row in a batch"
                     : mode == Mode::kCreate ? "Long, created over the inserted rows"
                                             : "Long";
  std::printf("primary key: %s\nrows: %lld\nseconds: %.3f\nrows/s: %.0f\npeak RSS: %.1f MB\n", what, count, seconds,
              static_cast<double>(count) / seconds, static_cast<double>(usage.ru_maxrss) / 1024.0);
  ::unlink(path.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const long long count = argc > 1 ? std::atoll(argv[1]) : 1000000;
  const char* which = argc > 2 ? argv[2] : "";
  if (std::strcmp(which, "single") == 0) return Run(count, Mode::kSingle);
  if (std::strcmp(which, "batch") == 0) return Run(count, Mode::kBatch);
  if (std::strcmp(which, "create") == 0) return Run(count, Mode::kCreate);
  int rc = 0;
  if (std::strcmp(which, "text") != 0) rc |= Run(count, Mode::kLong);
  if (std::strcmp(which, "long") != 0) rc |= Run(count, Mode::kText);
  return rc;
}
