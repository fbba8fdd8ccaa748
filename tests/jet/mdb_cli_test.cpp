// tabulon-cli mdb tables / export against a reference file: the CSV holds exactly the values
// the engine reads, NULL and "" stay distinct, failures give exit codes;
// mdb check names each problem of a damaged file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "jet/database.h"
#include "jet/values.h"
#include "jet_test_db.h"
#include "jet_test_files.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;
const fs::path kSample = fs::path(TABULON_SHARED_DIR) / "fixtures/written/sample-v2000.mdb";

using testing::CommandRun;

CommandRun RunProgram(const std::string& program, const std::string& arguments) {
  return testing::RunCommand(program + " " + arguments + " 2>/dev/null");
}
CommandRun RunCli(const std::string& arguments) { return RunProgram(TABULON_CLI, arguments); }

class MdbCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kSample)) GTEST_SKIP() << "no fixture " << kSample;
  }
};

// CsvField (tested with the values) is RFC 4180 with NULL an empty field and "" a quoted one; the
// export is a header and one such record per row, CRLF-ended, in the engine's exact text.
TEST_F(MdbCli, ExportGivesBackEveryValueExactly) {
  auto db = Database::Open(kSample.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok());
  for (const char* name : {"Customers", "Orders"}) {
    SCOPED_TRACE(name);
    auto table = (*db)->GetTable(name);
    ASSERT_TRUE(table.ok());
    std::string expected;
    for (size_t c = 0; c < table->columns.size(); ++c) expected += (c ? "," : "") + CsvField(table->columns[c].name);
    expected += "\r\n";
    size_t nulls = 0, empty_strings = 0;
    for (const Row& row : testing::TableRows(**db, name)) {
      for (size_t c = 0; c < row.size(); ++c) {
        const auto text = FormatValue(row[c]);
        expected += (c ? "," : "") + CsvField(text);
        nulls += !text.has_value();
        empty_strings += text && text->empty();
      }
      expected += "\r\n";
    }
    const CommandRun run = RunCli("mdb export '" + kSample.string() + "' " + name);
    ASSERT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, expected);
    if (std::string(name) == "Customers") {
      EXPECT_GT(nulls, 0u);  // the sample holds both, so the distinction is exercised
      EXPECT_GT(empty_strings, 0u);
    }
  }
}

TEST_F(MdbCli, ListsUserTablesAndFailuresGiveExitCodes) {
  const CommandRun run = RunCli("mdb tables '" + kSample.string() + "'");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "Customers\nOrders\n");
  EXPECT_EQ(RunCli("mdb export '" + kSample.string() + "' NoSuchTable").exit_code, 1);
  EXPECT_EQ(RunCli("mdb tables /nonexistent/file.mdb").exit_code, 1);
  EXPECT_EQ(RunCli("mdb tables").exit_code, 2);
  EXPECT_EQ(RunCli("mdb frobnicate x.mdb").exit_code, 2);
}

// A relationship written by the sql command (data/fk.sql) checks clean; each problem of a damaged foreign-key
// pair is one line naming the file (exit 1; what the check finds is the engine tests' work); a
// file that is no database cannot be checked (exit 2).
TEST_F(MdbCli, CheckNamesEachProblem) {
  const fs::path file = testing::ScratchFile("mdb_check", "fk.mdb");
  const fs::path dir = file.parent_path(), text = dir / "not.mdb";
  ASSERT_EQ(RunCli("sql '" + file.string() + "' --create --file '" TABULON_JET_TESTDATA "/fk.sql'").exit_code, 0);
  const CommandRun clean = RunCli("mdb check '" + file.string() + "'");
  EXPECT_EQ(clean.exit_code, 0);
  EXPECT_EQ(clean.out, file.string() + ": no problems found\n");
  EXPECT_EQ(RunCli("mdb check '" + kSample.string() + "'").exit_code, 0);

  // C's foreign-key index pointed at the physical index of C's key (the field at 8 of its
  // logical record): the relationship lacks its index, and C's own one backs none.
  uint64_t record = 0;
  {
    auto db = Database::Open(file.string(), OpenMode::kReadOnly);
    ASSERT_TRUE(db.ok());
    record = testing::LogicalIndexRecordOffset((*db)->GetTable("C").value(), "FK_C_P");
  }
  const fs::path damaged_file = dir / "damaged.mdb";
  fs::copy_file(file, damaged_file, fs::copy_options::overwrite_existing);
  testing::PatchFile(damaged_file, record + 8, 0);
  const CommandRun damaged = RunCli("mdb check '" + damaged_file.string() + "'");
  EXPECT_EQ(damaged.exit_code, 1);
  const std::string prefix = damaged_file.string() + ": ";
  size_t lines = 0;
  for (size_t start = 0; start < damaged.out.size(); ++lines) {  // one line per problem, each naming the file
    EXPECT_EQ(damaged.out.compare(start, prefix.size(), prefix), 0) << damaged.out;
    const size_t end = damaged.out.find('\n', start);
    start = end == std::string::npos ? damaged.out.size() : end + 1;
  }
  EXPECT_GE(lines, 2u) << damaged.out;

  std::ofstream(text) << "not a database";
  EXPECT_EQ(RunCli("mdb check '" + text.string() + "'").exit_code, 2);
  EXPECT_EQ(RunCli("mdb check '" + (dir / "missing.mdb").string() + "'").exit_code, 2);
  fs::remove_all(dir);
}

// mdbdump decodes every page of a file without failing (what it prints is for people); a page
// the file does not have is a usage error.
TEST_F(MdbCli, MdbdumpPrintsEveryPageOfAFile) {
  auto db = Database::Open(kSample.string(), OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok());
  std::string pages;
  for (uint32_t p = 0; p < (*db)->page_count(); ++p) pages += " " + std::to_string(p);
  EXPECT_EQ(RunProgram(TABULON_MDBDUMP, "'" + kSample.string() + "'").exit_code, 0);
  EXPECT_EQ(RunProgram(TABULON_MDBDUMP, "'" + kSample.string() + "'" + pages).exit_code, 0);
  EXPECT_EQ(RunProgram(TABULON_MDBDUMP, "'" + kSample.string() + "' 999999").exit_code, 2);
}

}  // namespace
}  // namespace tabulon::jet
