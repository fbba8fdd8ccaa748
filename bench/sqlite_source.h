// The generated SQLite source the migration benchmarks read: table "readings" (Long key, two
// Text, a Double, a DateTime) with `rows` rows.
#pragma once

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace tabulon::bench {

inline bool MakeSqliteReadings(const std::string& path, long long rows) {
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
  const std::string sql =
      "create table readings(id integer primary key, sensor varchar(20) not null, place varchar(60), "
      "celsius double, taken datetime);\n"
      "insert into readings with recursive n(i) as (select 1 union all select i + 1 from n where i < " +
      std::to_string(rows) +
      ") select i, 'sensor-' || (i % 400), case when i % 13 = 0 then null else 'Hall ' || (i % 17) || ', row ' || i "
      "end, "
      "(i % 5000) * 0.037 - 40.5, datetime('2020-01-01', '+' || i || ' seconds') from n;";
  const bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  if (!ok) std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
  sqlite3_close(db);
  return ok;
}

}  // namespace tabulon::bench
