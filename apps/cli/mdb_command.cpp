// tabulon-cli mdb: create an .mdb, list its tables, export a table as CSV, summarise it, check
// it.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "jet/database.h"
#include "jet/values.h"

namespace {

using tabulon::Status;
using namespace tabulon::jet;

constexpr const char* kMdbUsage =
    "Usage: tabulon-cli mdb create FILE.mdb\n"
    "       tabulon-cli mdb tables FILE.mdb\n"
    "       tabulon-cli mdb export FILE.mdb TABLE\n"
    "       tabulon-cli mdb summary FILE.mdb\n"
    "       tabulon-cli mdb check FILE.mdb\n";

int Fail(const Status& status) {
  std::fprintf(stderr, "tabulon-cli mdb: %s\n", status.ToString().c_str());
  return 1;
}

int Create(const char* path) {
  auto db = Database::Create(path);
  return db.ok() ? 0 : Fail(db.status());
}

int Tables(const char* path) {
  auto db = Database::Open(path, OpenMode::kReadOnly);
  if (!db.ok()) return Fail(db.status());
  auto names = (*db)->ListTables();
  if (!names.ok()) return Fail(names.status());
  for (const std::string& name : *names) std::printf("%s\n", name.c_str());
  return 0;
}

// CSV with a header line, CRLF line ends (RFC 4180), values in their exact text form.
int Export(const char* path, const char* table_name) {
  auto db = Database::Open(path, OpenMode::kReadOnly);
  if (!db.ok()) return Fail(db.status());
  auto table = (*db)->GetTable(table_name);
  if (!table.ok()) return Fail(table.status());
  std::string line;
  for (size_t i = 0; i < table->columns.size(); ++i) {
    if (i) line.push_back(',');
    line += CsvField(table->columns[i].name);
  }
  line += "\r\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  const Status status = (*db)->ScanRows(*table, [&](RowPointer, const Row& row) {
    line.clear();
    for (size_t i = 0; i < row.size(); ++i) {
      if (i) line.push_back(',');
      line += CsvField(FormatValue(row[i]));
    }
    line += "\r\n";
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size()) {
      return tabulon::IoError("cannot write to standard output");
    }
    return Status::Ok();
  });
  if (std::fflush(stdout) != 0) return Fail(tabulon::IoError("cannot write to standard output"));
  return status.ok() ? 0 : Fail(status);
}

// 1234567 as "1,234,567".
std::string Grouped(unsigned long long n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

// One line per table (rows, columns, primary key columns, unique indexes), then the totals
// with the relationships and views. Rows are counted by reading them, not taken from the
// table definition's count.
int Summary(const char* path) {
  auto db = Database::Open(path, OpenMode::kReadOnly);
  if (!db.ok()) return Fail(db.status());
  auto names = (*db)->ListTables();
  if (!names.ok()) return Fail(names.status());
  auto relationships = (*db)->ListRelationships();
  if (!relationships.ok()) return Fail(relationships.status());
  auto queries = (*db)->ListQueries();
  if (!queries.ok()) return Fail(queries.status());

  struct Line {
    std::string name, rows, columns, key, unique;
  };
  std::vector<Line> lines = {{"Table", "Rows", "Columns", "Primary key", "Unique indexes"}};
  unsigned long long total_rows = 0, keys = 0, unique_indexes = 0;
  for (const std::string& name : *names) {
    auto table = (*db)->GetTable(name);
    if (!table.ok()) return Fail(table.status());
    unsigned long long rows = 0;
    const Status counted = (*db)->ScanRows(*table, [&](RowPointer, const Row&) {
      ++rows;
      return Status::Ok();
    });
    if (!counted.ok()) return Fail(counted);
    std::string key = "-";
    unsigned long long unique = 0;
    for (const IndexDefinition& index : table->indexes) {
      if (index.index_type == 1) {
        ++keys;
        key.clear();
        for (const IndexColumn& column : index.columns) {
          for (const ColumnDefinition& c : table->columns) {
            if (c.number != column.column_number) continue;
            if (!key.empty()) key += ", ";
            key += c.name;
          }
        }
      } else if (index.index_type == 0 && (index.flags & 0x01) != 0) {
        ++unique;
      }
    }
    unique_indexes += unique;
    total_rows += rows;
    lines.push_back({name, Grouped(rows), std::to_string(table->columns.size()), key, std::to_string(unique)});
  }
  size_t width[5] = {};
  for (const Line& l : lines) {
    const std::string* cells[5] = {&l.name, &l.rows, &l.columns, &l.key, &l.unique};
    for (size_t k = 0; k < 5; ++k) width[k] = std::max(width[k], cells[k]->size());
  }
  for (const Line& l : lines) {
    std::printf("  %-*s  %*s  %*s  %-*s  %s\n", static_cast<int>(width[0]), l.name.c_str(), static_cast<int>(width[1]),
                l.rows.c_str(), static_cast<int>(width[2]), l.columns.c_str(), static_cast<int>(width[3]),
                l.key.c_str(), l.unique.c_str());
  }
  std::printf("tables: %zu\nrows: %s\nprimary keys: %llu\nunique indexes: %llu\nrelationships: %zu\nviews: %zu\n",
              names->size(), Grouped(total_rows).c_str(), keys, unique_indexes, relationships->size(), queries->size());
  for (const SavedQuery& query : *queries) std::printf("  view %s\n", query.name.c_str());
  return 0;
}

// The integrity check for users: one line per problem. Exit 0 clean, 1 problems, 2 unreadable
// (not an .mdb, or not even its catalog can be read).
int Check(const char* path) {
  auto db = Database::Open(path, OpenMode::kReadOnly);
  if (!db.ok()) {
    std::fprintf(stderr, "tabulon-cli mdb check: %s: %s\n", path, db.status().ToString().c_str());
    return 2;
  }
  auto problems = (*db)->FindIntegrityProblems();
  if (!problems.ok()) {
    std::fprintf(stderr, "tabulon-cli mdb check: %s: %s\n", path, problems.status().ToString().c_str());
    return 2;
  }
  for (const Status& problem : *problems) std::printf("%s: %s\n", path, problem.message().c_str());
  if (problems->empty()) {
    std::printf("%s: no problems found\n", path);
    return 0;
  }
  std::fprintf(stderr, "tabulon-cli mdb check: %zu problem%s in %s\n", problems->size(),
               problems->size() == 1 ? "" : "s", path);
  return 1;
}

}  // namespace

int RunMdbCommand(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kMdbUsage, stdout);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "create") == 0) return Create(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "tables") == 0) return Tables(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "export") == 0) return Export(argv[2], argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "summary") == 0) return Summary(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "check") == 0) return Check(argv[2]);
  std::fputs(kMdbUsage, stderr);
  return 2;
}
