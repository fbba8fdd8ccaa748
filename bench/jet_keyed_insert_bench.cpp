// The rows of a migrated table (Long "Id", two Text(50), a Double, a DateTime) into a new .mdb
// three ways: (none) no index, InsertRows over a row source in one call; (key) the same with a
// Long primary key on Id; (batch) the primary key, one InsertRow call per row inside one
// BeginBatch/CommitBatch, as the migration's typed row path writes. Each way runs in its own
// process (so each peak RSS is its own) and prints rows/s, rows per CPU second and peak RSS;
// run without a mode, the benchmark runs all three and prints key/none and batch/key, by wall
// clock and by CPU time (the truer measure on a busy machine).
//
//   jet_keyed_insert_bench [ROWS] [none|key|batch]    (defaults: 1000000 rows, all three)
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench_util.h"
#include "jet/database.h"

namespace bench = tabulon::bench;
using tabulon::jet::ColumnType;
using tabulon::jet::Database;
using tabulon::jet::NewColumn;

namespace {

enum class Mode { kNone, kKey, kBatch };

struct Rates {
  double wall = 0;  // rows per second
  double cpu = 0;   // rows per CPU second
};

// Values like the migration benchmarks' generated source: short and longer text (every 13th
// Null), a measurement and a time, Id ascending from 1.
class Readings {
 public:
  explicit Readings(long long count) : count_(count) {}
  bool Next(tabulon::jet::Row& row) {
    if (n_ == count_) return false;
    const long long i = ++n_;
    row.resize(5);
    sensor_ = "sensor-" + std::to_string(i % 400);
    row[0] = static_cast<int32_t>(i);
    row[1] = sensor_;
    if (i % 13 == 0) {
      row[2] = tabulon::jet::Null{};
    } else {
      place_ = "Hall " + std::to_string(i % 17) + ", row " + std::to_string(i);
      row[2] = place_;
    }
    row[3] = static_cast<double>(i % 5000) * 0.037 - 40.5;
    row[4] = tabulon::jet::DateTime{43831.0 + static_cast<double>(i) / 86400.0};
    return true;
  }

 private:
  long long count_;
  long long n_ = 0;
  std::string sensor_;
  std::string place_;
};

const char* Describe(Mode mode) {
  switch (mode) {
    case Mode::kNone: return "no index, InsertRows over a row source";
    case Mode::kKey: return "Long primary key, InsertRows over a row source";
    case Mode::kBatch: return "Long primary key, one InsertRow per row in a batch";
  }
  return "";
}

// Runs one mode in this process and prints its figures; `rates` gets them.
int Run(long long count, Mode mode, Rates& rates) {
  const std::string path = bench::ScratchPath("tabulon_keyed_bench");
  auto db = Database::Create(path);
  if (!db.ok()) return bench::Fail(db.status());
  tabulon::jet::TableDefinition table;
  table.name = "readings";
  table.columns = {NewColumn("Id", ColumnType::kLong), NewColumn("sensor", ColumnType::kText, 50),
                   NewColumn("place", ColumnType::kText, 50), NewColumn("celsius", ColumnType::kDouble),
                   NewColumn("taken", ColumnType::kDateTime)};
  if (auto s = (*db)->CreateTable(table); !s.ok()) return bench::Fail(s);
  if (mode != Mode::kNone) {
    tabulon::jet::IndexSpec key;
    key.name = "PrimaryKey";
    key.primary = true;
    key.columns = {{"Id", true}};
    if (auto s = (*db)->CreateIndex("readings", key); !s.ok()) return bench::Fail(s);
  }
  Readings readings(count);
  const bench::Stopwatch clock;
  const double cpu_start = bench::CpuSeconds();
  tabulon::Status status;
  if (mode == Mode::kBatch) {
    status = (*db)->BeginBatch();
    tabulon::jet::Row row;
    while (status.ok() && readings.Next(row)) status = (*db)->InsertRow("readings", row);
    if (status.ok()) status = (*db)->CommitBatch();
  } else {
    status = (*db)->InsertRows("readings", [&](tabulon::jet::Row& row) -> tabulon::Result<bool> {
      return readings.Next(row);
    });
  }
  if (!status.ok()) return bench::Fail(status);
  db->reset();  // the file is closed before the clock stops
  const double seconds = clock.Seconds();
  const double cpu = bench::CpuSeconds() - cpu_start;
  rates.wall = static_cast<double>(count) / seconds;
  rates.cpu = static_cast<double>(count) / cpu;
  std::printf("jet_keyed_insert_bench: %s\n", Describe(mode));
  bench::PrintRate(count, seconds);
  bench::PrintCpuRate(count, cpu);
  std::fflush(stdout);
  ::unlink(path.c_str());
  return 0;
}

// Runs one mode in a child process; its rates come back through a pipe.
bool RunApart(long long count, Mode mode, Rates& rates) {
  int fds[2];
  if (::pipe(fds) != 0) return false;
  std::fflush(stdout);
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    ::close(fds[0]);
    Rates mine;
    const int rc = Run(count, mode, mine);
    if (rc == 0 && ::write(fds[1], &mine, sizeof mine) != static_cast<ssize_t>(sizeof mine)) ::_exit(1);
    ::_exit(rc);
  }
  ::close(fds[1]);
  const bool got = ::read(fds[0], &rates, sizeof rates) == static_cast<ssize_t>(sizeof rates);
  ::close(fds[0]);
  int wait_status = 0;
  ::waitpid(child, &wait_status, 0);
  return got && WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const long long count = bench::RowsArgument(argc, argv, 1);
  const char* which = argc > 2 ? argv[2] : "";
  Rates rates;
  if (std::strcmp(which, "none") == 0) return Run(count, Mode::kNone, rates);
  if (std::strcmp(which, "key") == 0) return Run(count, Mode::kKey, rates);
  if (std::strcmp(which, "batch") == 0) return Run(count, Mode::kBatch, rates);
  Rates none, key, batch;
  for (auto [mode, out] : {std::pair{Mode::kNone, &none}, {Mode::kKey, &key}, {Mode::kBatch, &batch}}) {
    if (!RunApart(count, mode, *out)) return 1;
    std::printf("\n");
  }
  std::printf("key/none: %.2f (CPU %.2f)\nbatch/key: %.2f (CPU %.2f)\n", key.wall / none.wall, key.cpu / none.cpu,
              batch.wall / key.wall, batch.cpu / key.cpu);
  return 0;
}
