// The generated SQLite source the migration benchmarks read: table "readings" (Long key, two
// Text, a Double, a DateTime) with `rows` rows.
#pragma once

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "jet/database.h"
#include "jet/values.h"

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

// The table "readings" as the engine gets it (a Long "id" primary key, Text(20), Text(60), a
// Double and a DateTime), for the engine's own insert rate beside a migration's.
inline jet::TableDefinition ReadingsTable() {
  jet::TableDefinition table;
  table.name = "readings";
  table.columns = {jet::NewColumn("id", jet::ColumnType::kLong), jet::NewColumn("sensor", jet::ColumnType::kText, 20),
                   jet::NewColumn("place", jet::ColumnType::kText, 60),
                   jet::NewColumn("celsius", jet::ColumnType::kDouble),
                   jet::NewColumn("taken", jet::ColumnType::kDateTime)};
  return table;
}

inline jet::IndexSpec ReadingsKey() {
  jet::IndexSpec key;
  key.name = "PrimaryKey";
  key.primary = true;
  key.columns = {{"id", true}};
  return key;
}

// Row `i` (from 1) of "readings" with the values MakeSqliteReadings stores.
inline void MakeReadingsRow(long long i, jet::Row& row) {
  static const double first_day = static_cast<double>(jet::DaysFromCivil(2020, 1, 1) + 25569);
  row.resize(5);
  row[0] = static_cast<int32_t>(i);
  row[1] = "sensor-" + std::to_string(i % 400);
  if (i % 13 == 0) {
    row[2] = jet::Null{};
  } else {
    row[2] = "Hall " + std::to_string(i % 17) + ", row " + std::to_string(i);
  }
  row[3] = static_cast<double>(i % 5000) * 0.037 - 40.5;
  row[4] = jet::DateTime{first_day + static_cast<double>(i / 86400) + static_cast<double>(i % 86400 * 1000) / 86400000.0};
}

}  // namespace tabulon::bench
