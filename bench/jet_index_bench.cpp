// Inserts narrow rows into a table with a primary key, once keyed by a Long and once by a
// Text(40), and prints rows per second and the peak resident memory of each run.
//
//   jet_index_bench [ROWS] [long|text]     (defaults: 1000000 rows, both keys)
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

int Run(long long count, bool text_key) {
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
  if (auto s = (*db)->CreateIndex("Keyed", key); !s.ok()) return std::fprintf(stderr, "%s\n", s.ToString().c_str()), 1;
  const auto start = std::chrono::steady_clock::now();
  long long n = 0;
  std::string code;
  auto status = (*db)->InsertRows("Keyed", [&](tabulon::jet::Row& row) -> tabulon::Result<bool> {
    if (n == count) return false;
    row.resize(3);
    code = "customer code " + std::to_string(n * 7919 % 1000003) + "-" + std::to_string(n);
    row[0] = static_cast<int32_t>(n);
    row[1] = code;
    row[2] = static_cast<double>(n) * 1.25;
    ++n;
    return true;
  });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!status.ok()) return std::fprintf(stderr, "%s\n", status.ToString().c_str()), 1;
  db->reset();
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("primary key: %s\nrows: %lld\nseconds: %.3f\nrows/s: %.0f\npeak RSS: %.1f MB\n",
              text_key ? "Text(40)" : "Long", count, seconds, static_cast<double>(count) / seconds,
              static_cast<double>(usage.ru_maxrss) / 1024.0);
  ::unlink(path.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const long long count = argc > 1 ? std::atoll(argv[1]) : 1000000;
  const char* which = argc > 2 ? argv[2] : "";
  int rc = 0;
  if (std::strcmp(which, "text") != 0) rc |= Run(count, false);
  if (std::strcmp(which, "long") != 0) rc |= Run(count, true);
  return rc;
}
