// tabulon-cli mdb: create an .mdb, list its tables, export a table as CSV.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "jet/database.h"
#include "jet/values.h"

namespace {

using tabulon::Status;
using namespace tabulon::jet;

constexpr const char* kMdbUsage =
    "Usage: tabulon-cli mdb create FILE.mdb\n"
    "       tabulon-cli mdb tables FILE.mdb\n"
    "       tabulon-cli mdb export FILE.mdb TABLE\n";

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

}  // namespace

int RunMdbCommand(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kMdbUsage, stdout);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "create") == 0) return Create(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "tables") == 0) return Tables(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "export") == 0) return Export(argv[2], argv[3]);
  std::fputs(kMdbUsage, stderr);
  return 2;
}
