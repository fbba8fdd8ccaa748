// One INSERT statement per row through the data layer's ExecuteStatement on the Jet provider,
// into a table with a Long primary key and a few narrow columns: rows per second and the peak
// resident memory of the process. Committing at close is part of the measured time.
//
//   jet_sql_insert_bench [ROWS] [nokey]     (defaults: 1000000 rows, with the primary key)
#include <cstdio>
#include <cstring>
#include <string>

#include "bench_util.h"
#include "data/db_connection.h"
#include "data/error_text.h"
#include "data/providers/jet/jet_provider.h"
#include "data/statement.h"
#include "workspace/statement_output.h"
#include "jet/database.h"

int main(int argc, char** argv) {
  namespace bench = tabulon::bench;
  using namespace tabulon::data;
  using namespace tabulon::workspace;
  const long long count = bench::RowsArgument(argc, argv, 1);
  const bool keyed = !(argc > 2 && std::strcmp(argv[2], "nokey") == 0);
  const std::string path = bench::ScratchPath("tabulon_sql_bench");
  if (auto db = tabulon::jet::Database::Create(path); !db.ok()) return bench::Fail(db.status());

  DbConnection connection;
  connection.profile.provider_name = kJetProviderName;
  PropertySet init(DBPROPSET_DBINIT);
  init.AddString(DBPROP_INIT_DATASOURCE, path);
  if (Failed(OpenDataSource(connection, {&init, 1})) || Failed(OpenSession(connection))) {
    std::fprintf(stderr, "%s\n", ErrorDescription(connection).c_str());
    return 1;
  }
  Session* session = connection.session.get();
  OutputPane pane;
  const std::string create = std::string("CREATE TABLE Narrow (Id LONG") + (keyed ? " PRIMARY KEY" : "") +
                             ", Grp LONG, Label TEXT(40), Amount DOUBLE, At DATETIME)";
  if (!ExecuteStatement(&pane, session, create, 1)) {
    std::fprintf(stderr, "%s\n", pane.Lines().back().text.c_str());
    return 1;
  }
  const bench::Stopwatch clock;
  const double cpu_start = bench::CpuSeconds();
  std::string sql;
  for (long long n = 0; n < count; ++n) {
    sql = "INSERT INTO Narrow VALUES (" + std::to_string(n) + ", " + std::to_string(n % 97) +
          ", 'customer label number " + std::to_string(n) + "', " + std::to_string(n) + ".25, #2024-" +
          std::to_string(1 + n % 12) + "-" + std::to_string(1 + n % 28) + " 10:30:00#)";
    // Silent, as the row transfer of a migration runs its inserts.
    if (!ExecuteStatement(&pane, session, sql, 0)) {
      std::fprintf(stderr, "row %lld failed: %s\n", n, sql.c_str());
      return 1;
    }
  }
  if (Failed(session->Commit())) {
    std::fprintf(stderr, "%s\n", ErrorDescription(session).c_str());
    return 1;
  }
  const double seconds = clock.Seconds();
  const double cpu_seconds = bench::CpuSeconds() - cpu_start;
  CloseConnection(connection);
  std::printf("statements: INSERT through ExecuteStatement (%s)\n", keyed ? "Long primary key" : "no index");
  bench::PrintRate(count, seconds);
  bench::PrintCpuRate(count, cpu_seconds);
  ::unlink(path.c_str());
  return 0;
}
