#include "jet_table_compare.h"

#include <algorithm>
#include <sstream>

#include "jet/values.h"
#include "jet_readers.h"

namespace tabulon::testing {

std::vector<std::string> EngineTableText(jet::Database& db, const std::string& table) {
  auto def = db.GetTable(table);
  auto metadata = db.GetColumnMetadata(table);
  auto rows = def.ok() ? db.ReadAllRows(*def) : def.status();
  if (!def.ok() || !metadata.ok() || !rows.ok()) return {"cannot read " + table};
  std::vector<std::string> out;
  for (size_t c = 0; c < def->columns.size(); ++c) {
    const jet::ColumnDefinition& x = def->columns[c];
    const jet::ColumnMetadata& m = (*metadata)[c];
    std::ostringstream column;
    column << x.name << ' ' << int{static_cast<uint8_t>(x.type)} << ' ' << x.length << ' ' << int{x.precision} << ' '
           << int{x.scale} << ' ' << x.auto_number() << ' ' << m.flags << ' ' << m.nullable << ' ' << m.default_value;
    out.push_back(column.str());
  }
  for (const jet::Row& row : *rows) {
    std::string text;
    for (const jet::Value& v : row) {
      const auto* date = std::get_if<jet::DateTime>(&v);
      text += (date != nullptr ? jet::FormatDouble(date->days) : jet::FormatValue(v).value_or("NULL")) + "|";
    }
    out.push_back(text);
  }
  return out;
}

std::vector<std::string> CompareCopiedFile(const std::string& from, const std::string& copy,
                                           const std::vector<std::string>& views) {
  auto a = jet::Database::Open(from, jet::OpenMode::kReadOnly);
  auto b = jet::Database::Open(copy, jet::OpenMode::kReadOnly);
  auto tables = a.ok() ? (*a)->ListTables() : a.status();
  auto copied = b.ok() ? (*b)->ListTables() : b.status();
  if (!tables.ok() || !copied.ok()) return {"cannot open the files"};
  std::vector<std::string> out;
  if (Status integrity = (*b)->CheckIntegrity(); !integrity.ok()) out.push_back(integrity.message());
  const bool readers = MdbToolsAvailable() && MdbReaderAvailable();
  for (const std::string& table : *tables) {
    if (std::find(copied->begin(), copied->end(), table) == copied->end()) {
      out.push_back("Table [" + table + "] is missing");
      continue;
    }
    if (EngineTableText(**a, table) != EngineTableText(**b, table)) {
      out.push_back(table + " differs");
      continue;
    }
    if (!readers) continue;
    auto def = (*a)->GetTable(table);
    auto rows = (*a)->ReadAllRows(*def);
    const std::string difference = CompareTableWithReaders(copy, table, def->columns, *rows);
    if (!difference.empty() && difference != CompareTableWithReaders(from, table, def->columns, *rows)) {
      out.push_back(difference);
    }
  }
  for (const std::string& table : *copied) {
    if (std::find(tables->begin(), tables->end(), table) == tables->end())
      out.push_back("Table [" + table + "] is extra");
  }
  for (const std::string& view : views) {
    Result<std::string> sql = (*a)->GetQuerySql(view);
    Result<std::string> copied_sql = (*b)->GetQuerySql(view);
    if (!copied_sql.ok()) {
      out.push_back("View [" + view + "] is missing");
    } else if (!sql.ok() || *sql != *copied_sql) {
      out.push_back("view " + view + " differs");
    }
  }
  return out;
}

}  // namespace tabulon::testing
