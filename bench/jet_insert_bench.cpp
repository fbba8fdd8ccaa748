// Inserts narrow rows (Long, Long, Text(40), Double, DateTime) into a new table of a new
// database and prints rows per second and the peak resident memory of the process.
//
//   jet_insert_bench [ROWS] [FILE]     (defaults: 1000000 rows, a file in /tmp)
#include <unistd.h>

#include <cstdio>
#include <string>

#include "bench_util.h"
#include "jet/database.h"

using tabulon::jet::ColumnType;
using tabulon::jet::Database;
using tabulon::jet::NewColumn;

int main(int argc, char** argv) {
  namespace bench = tabulon::bench;
  const long long count = bench::RowsArgument(argc, argv, 1);
  std::string path = argc > 2 ? argv[2] : bench::ScratchPath("tabulon_bench");
  if (argc > 2) ::unlink(path.c_str());
  auto db = Database::Create(path);
  if (!db.ok()) return bench::Fail(db.status());
  tabulon::jet::TableDefinition table;
  table.name = "Narrow";
  table.columns = {NewColumn("Id", ColumnType::kLong), NewColumn("Group", ColumnType::kLong),
                   NewColumn("Label", ColumnType::kText, 40), NewColumn("Amount", ColumnType::kDouble),
                   NewColumn("At", ColumnType::kDateTime)};
  if (auto s = (*db)->CreateTable(table); !s.ok()) return bench::Fail(s);
  const bench::Stopwatch clock;
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
  const double seconds = clock.Seconds();
  if (!status.ok()) return bench::Fail(status);
  db->reset();
  bench::PrintRate(count, seconds);
  std::printf("file: %s\n", path.c_str());
  if (argc <= 2) ::unlink(path.c_str());
  return 0;
}
