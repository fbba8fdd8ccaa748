// Inserts narrow rows (Long, Long, Text(40), Double, DateTime) into a new table of a new
// database and prints rows per second and the peak resident memory of the process.
//
//   jet_insert_bench [ROWS] [FILE]     (defaults: 1000000 rows, a file in /tmp)
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "jet/database.h"

using tabulon::jet::ColumnType;
using tabulon::jet::Database;
using tabulon::jet::NewColumn;

int main(int argc, char** argv) {
  const long long count = argc > 1 ? std::atoll(argv[1]) : 1000000;
  const std::string path =
      argc > 2 ? argv[2] : "/tmp/tabulon_bench_" + std::to_string(::getpid()) + ".mdb";
  ::unlink(path.c_str());
  auto db = Database::Create(path);
  if (!db.ok()) {
    std::fprintf(stderr, "%s\n", db.status().ToString().c_str());
    return 1;
  }
  tabulon::jet::TableDefinition table;
  table.name = "Narrow";
  table.columns = {NewColumn("Id", ColumnType::kLong), NewColumn("Group", ColumnType::kLong),
                   NewColumn("Label", ColumnType::kText, 40),
                   NewColumn("Amount", ColumnType::kDouble),
                   NewColumn("At", ColumnType::kDateTime)};
  if (auto s = (*db)->CreateTable(table); !s.ok()) {
    std::fprintf(stderr, "%s\n", s.ToString().c_str());
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  long long n = 0;
  std::string label;
  auto status = (*db)->InsertRows("Narrow", [&](tabulon::jet::Row& row) -> tabulon::Result<bool> {
    if (n == count) return false;
    row.resize(5);
    label = "customer label number " + std::to_string(n);
    row[0] = static_cast<int32_t>(n);
    row[1] = static_cast<int32_t>(n % 97);
    row[2] = label;
    row[3] = static_cast<double>(n) * 1.25;
    row[4] = tabulon::jet::DateTime{45000.0 + static_cast<double>(n % 10000) / 7.0};
    ++n;
    return true;
  });
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!status.ok()) {
    std::fprintf(stderr, "%s\n", status.ToString().c_str());
    return 1;
  }
  db->reset();
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("rows: %lld\nseconds: %.3f\nrows/s: %.0f\npeak RSS: %.1f MB\nfile: %s\n", count,
              seconds, static_cast<double>(count) / seconds,
              static_cast<double>(usage.ru_maxrss) / 1024.0, path.c_str());
  if (argc <= 2) ::unlink(path.c_str());
  return 0;
}
