// tabulon-cli mdb tables / export against a reference file: the CSV parses back (RFC 4180) to
// exactly the values the engine reads, NULL and "" stay distinct, failures give exit codes;
// mdb check names each problem of a damaged file.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "jet/database.h"
#include "jet/values.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;
const fs::path kSample = fs::path(TABULON_SHARED_DIR) / "fixtures/written/sample-v2000.mdb";

struct CliRun {
  int exit_code = -1;
  std::string out;
};

CliRun RunProgram(const std::string& program, const std::string& arguments) {
  CliRun run;
  const std::string command = program + " " + arguments + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) run.out.append(buffer, n);
  const int status = pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

CliRun RunCli(const std::string& arguments) { return RunProgram(TABULON_CLI, arguments); }

// RFC 4180 records; an unquoted empty field is NULL, a quoted one is text.
std::vector<std::vector<std::optional<std::string>>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::optional<std::string>>> records(1);
  std::optional<std::string> field;
  bool quoted = false;
  size_t i = 0;
  auto end_field = [&] {
    records.back().push_back(field);
    field.reset();
  };
  while (i < text.size()) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field->push_back('"');
        i += 2;
      } else if (c == '"') {
        quoted = false;
        ++i;
      } else {
        field->push_back(c);
        ++i;
      }
    } else if (c == '"') {
      quoted = true;
      field.emplace();
      ++i;
    } else if (c == ',') {
      end_field();
      ++i;
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      end_field();
      records.emplace_back();
      i += 2;
    } else {
      if (!field) field.emplace();
      field->push_back(c);
      ++i;
    }
  }
  if (records.back().empty()) records.pop_back();
  return records;
}

class MdbCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kSample)) GTEST_SKIP() << "no fixture " << kSample;
  }
};

TEST_F(MdbCli, ListsUserTables) {
  const CliRun run = RunCli("mdb tables '" + kSample.string() + "'");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "Customers\nOrders\n");
}

TEST_F(MdbCli, ExportGivesBackEveryValueExactly) {
  auto db = Database::Open(kSample.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok());
  for (const char* name : {"Customers", "Orders"}) {
    SCOPED_TRACE(name);
    auto table = (*db)->GetTable(name);
    ASSERT_TRUE(table.ok());
    auto rows = (*db)->ReadAllRows(*table);
    ASSERT_TRUE(rows.ok());
    const CliRun run = RunCli("mdb export '" + kSample.string() + "' " + name);
    ASSERT_EQ(run.exit_code, 0);
    const auto records = ParseCsv(run.out);
    ASSERT_EQ(records.size(), rows->size() + 1);
    for (size_t c = 0; c < table->columns.size(); ++c) {
      EXPECT_EQ(records[0][c], table->columns[c].name);
    }
    size_t nulls = 0, empty_strings = 0;
    for (size_t r = 0; r < rows->size(); ++r) {
      ASSERT_EQ(records[r + 1].size(), table->columns.size()) << "record " << r + 1;
      for (size_t c = 0; c < table->columns.size(); ++c) {
        const auto expected = FormatValue((*rows)[r][c]);
        EXPECT_EQ(records[r + 1][c], expected) << "row " << r << " column " << c;
        nulls += !expected.has_value();
        empty_strings += expected && expected->empty();
      }
    }
    if (std::string(name) == "Customers") {
      EXPECT_GT(nulls, 0u);  // the sample holds both, so the distinction is exercised
      EXPECT_GT(empty_strings, 0u);
    }
  }
}

TEST_F(MdbCli, FailuresGiveExitCodes) {
  EXPECT_EQ(RunCli("mdb export '" + kSample.string() + "' NoSuchTable").exit_code, 1);
  EXPECT_EQ(RunCli("mdb tables /nonexistent/file.mdb").exit_code, 1);
  EXPECT_EQ(RunCli("mdb tables").exit_code, 2);
  EXPECT_EQ(RunCli("mdb frobnicate x.mdb").exit_code, 2);
}

// A relationship written by the sql command checks clean; a damaged foreign-key record is one
// line naming table and index (exit 1); a file that is no database cannot be checked (exit 2).
TEST_F(MdbCli, CheckNamesEachProblem) {
  const fs::path dir = fs::temp_directory_path() / ("tabulon_mdb_check_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path script = dir / "fk.sql", file = dir / "fk.mdb", text = dir / "not.mdb";
  std::ofstream(script) << "CREATE TABLE P (ID Long NOT NULL, N VarChar(10));\n"
                           "alter table P add PRIMARY KEY(ID);\n"
                           "CREATE TABLE C (CID Long NOT NULL, PID Long);\n"
                           "alter table C add PRIMARY KEY(CID);\n"
                           "Alter Table C Add CONSTRAINT FK_C_P FOREIGN KEY (PID) REFERENCES P(ID);\n";
  ASSERT_EQ(RunCli("sql '" + file.string() + "' --create --file '" + script.string() + "'").exit_code, 0);
  const CliRun clean = RunCli("mdb check '" + file.string() + "'");
  EXPECT_EQ(clean.exit_code, 0);
  EXPECT_EQ(clean.out, file.string() + ": no problems found\n");
  EXPECT_EQ(RunCli("mdb check '" + kSample.string() + "'").exit_code, 0);

  // Record offsets of the two foreign-key indexes.
  std::map<std::string, uint64_t> record;
  {
    auto db = Database::Open(file.string(), OpenMode::kReadOnly);
    ASSERT_TRUE(db.ok());
    for (const char* name : {"P", "C"}) {
      auto t = (*db)->GetTable(name);
      ASSERT_TRUE(t.ok());
      for (size_t i = 0; i < t->indexes.size(); ++i) {
        record[t->indexes[i].name] = uint64_t{t->tdef_page} * 4096 + t->logical_index_offset + 28 * i;
      }
    }
  }
  struct Damage {
    const char* index;
    uint64_t field;
    std::string bytes;
    const char* line;  // the start of one printed problem, after the file name
  };
  const Damage damages[] = {
      {".rB", 4, std::string(4, '\xff'), "table 'P', foreign-key index '.rB': logical number -1 is negative"},
      {"FK_C_P", 13, std::string(4, '\0'), "table 'C', foreign-key index 'FK_C_P': names index 'PrimaryKey'"},
      {"FK_C_P", 22, std::string(1, '\x01'), "table 'C', foreign-key index 'FK_C_P': its cascade rules"},
      {"FK_C_P", 8, std::string(4, '\0'), "relationship 'FK_C_P': is enforced but table 'C' has no"},
  };
  const fs::path damaged_file = dir / "damaged.mdb";
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.line);
    fs::copy_file(file, damaged_file, fs::copy_options::overwrite_existing);
    {
      std::fstream f(damaged_file, std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(static_cast<std::streamoff>(record.at(d.index) + d.field));
      f.write(d.bytes.data(), static_cast<std::streamsize>(d.bytes.size()));
    }
    const CliRun damaged = RunCli("mdb check '" + damaged_file.string() + "'");
    EXPECT_EQ(damaged.exit_code, 1);
    EXPECT_NE(("\n" + damaged.out).find("\n" + damaged_file.string() + ": " + d.line), std::string::npos)
        << damaged.out;
    for (size_t start = 0; start < damaged.out.size();) {  // one line per problem, each naming the file
      const size_t end = damaged.out.find('\n', start);
      EXPECT_EQ(damaged.out.compare(start, damaged_file.string().size() + 2, damaged_file.string() + ": "), 0);
      start = end == std::string::npos ? damaged.out.size() : end + 1;
    }
  }

  std::ofstream(text) << "not a database";
  EXPECT_EQ(RunCli("mdb check '" + text.string() + "'").exit_code, 2);
  EXPECT_EQ(RunCli("mdb check '" + (dir / "missing.mdb").string() + "'").exit_code, 2);
  fs::remove_all(dir);
}

// mdbdump names every page's kind in its summary and prints the fields of any page.
TEST_F(MdbCli, MdbdumpPrintsEveryPageOfAFile) {
  const CliRun summary = RunProgram(TABULON_MDBDUMP, "'" + kSample.string() + "'");
  ASSERT_EQ(summary.exit_code, 0);
  for (const char* kind :
       {"database header", "table definition of Customers", "usage maps", "data, owner", "long values", "index leaf"}) {
    EXPECT_NE(summary.out.find(kind), std::string::npos) << kind;
  }
  auto db = Database::Open(kSample.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok());
  std::string pages;
  for (uint32_t p = 0; p < (*db)->page_count(); ++p) pages += " " + std::to_string(p);
  const CliRun all = RunProgram(TABULON_MDBDUMP, "'" + kSample.string() + "'" + pages);
  ASSERT_EQ(all.exit_code, 0);
  for (const char* field :
       {"created", "code page", "column", "PrimaryKey", "usage map type", "next chunk", "key 7f", "Balance = "}) {
    EXPECT_NE(all.out.find(field), std::string::npos) << field;
  }
  EXPECT_EQ(RunProgram(TABULON_MDBDUMP, "'" + kSample.string() + "' 999999").exit_code, 2);
}

}  // namespace
}  // namespace tabulon::jet
