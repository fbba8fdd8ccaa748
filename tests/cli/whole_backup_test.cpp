// A backup holds the whole database: every Access-written fixture, the other library's file and a
// file of ours with every feature (keys, indexes of every kind, relationships of every kind,
// AutoNumber, GUID defaults, properties, every kind of saved query) go through `tabulon-cli backup`
// and `restore` into a new file, and the independent readers' full dumps of the two are equal.
// Allowed, as Access itself would differ between two copies (the dump leaves them out): object
// ids, pages, dates, column numbers, index numbers and their key counters, the name Access gives
// the "one" side's index of a relationship, the order of rows on their pages and of property maps
// in a blob, the sort-order bytes of non-text columns, where a Decimal is stored, and Access's own
// navigation-pane tables.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "jet_readers.h"
#include "jet_test_files.h"

namespace tabulon {
namespace {

namespace fs = std::filesystem;

class WholeBackup : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::MdbReaderAvailable() || !testing::MdbToolsAvailable()) GTEST_SKIP() << "readers not installed";
    folder_ = testing::ScratchFile("cli_whole_backup", "files");
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "home");
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(folder_);
  }

  testing::CommandRun Cli(const std::string& arguments) {
    return testing::RunCommand("cd '" + folder_.string() + "' && HOME='" + (folder_ / "home").string() + "' " +
                               TABULON_CLI + " " + arguments + " 2>&1");
  }

  // The lines in which the restored file's dump differs from the original's ("<" the original's,
  // ">" the restored file's), or the error of a dump.
  std::vector<std::string> CompareDumps(const std::string& name) {
    const Result<std::string> original = testing::FullDump((folder_ / (name + ".mdb")).string());
    const Result<std::string> restored = testing::FullDump((folder_ / "restored" / (name + ".mdb")).string());
    if (!original.ok()) return {original.status().message()};
    if (!restored.ok()) return {restored.status().message()};
    if (*original == *restored) return {};
    std::ofstream(folder_ / (name + ".original.txt")) << *original;
    std::ofstream(folder_ / (name + ".restored.txt")) << *restored;
    const std::string diff = testing::RunCommand("cd '" + folder_.string() + "' && diff '" + name + ".original.txt' '" +
                                                 name + ".restored.txt' | grep '^[<>]'")
                                 .out;
    std::vector<std::string> lines;
    std::istringstream in(diff);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  fs::path folder_;
};

TEST_F(WholeBackup, EveryDatabaseComesBackEqual) {
  std::vector<std::string> names;
  const fs::path fixtures(TABULON_FIXTURES_DIR);
  for (const char* kind : {"access", "written"}) {
    if (!fs::is_directory(fixtures / kind)) continue;
    for (const auto& entry : fs::directory_iterator(fixtures / kind)) {
      if (entry.path().extension() != ".mdb") continue;
      fs::copy_file(entry.path(), folder_ / entry.path().filename());
      names.push_back(entry.path().stem().string());
    }
  }
  const testing::CommandRun made =
      Cli(std::string("sql Ours.mdb --create --file '") + TABULON_TEST_DATA_DIR + "/every_feature.sql'");
  ASSERT_EQ(made.exit_code, 0) << made.out;
  names.push_back("Ours");
  // What the engine cannot write yet: a fixed-length Text column comes back variable-length
  // (same values), and an index over text without known sort codes (Greek) is not restored
  // (one line, exit code 1).
  const std::map<std::string, std::vector<std::string>> known = {
      {"fixedTextTestV2000", {"<      \"flags\": 3,", ">      \"flags\": 2,"}},
      {"sample-v2000",
       {"<      \"name\": \"NameIdx\",", "<      \"type\": 0,", "<      \"keys\": [", "<       \"Name ASC\"",
        "<      ],", "<      \"flags\": 129,", "<      \"foreignKey\": null", "<     },", "<     {"}}};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const testing::CommandRun backup = Cli("backup " + name + ".mdb --out backups");
    ASSERT_EQ(backup.exit_code, 0) << backup.out;
    const testing::CommandRun restore = Cli("restore backups/" + name + " --target restored/" + name + ".mdb");
    if (name == "sample-v2000") {
      EXPECT_EQ(restore.exit_code, 1) << restore.out;
      EXPECT_NE(restore.out.find("index 'NameIdx' of table 'Customers'"), std::string::npos) << restore.out;
    } else {
      EXPECT_EQ(restore.exit_code, 0) << restore.out;
    }
    const auto it = known.find(name);
    const std::vector<std::string> difference = CompareDumps(name);
    EXPECT_EQ(difference, it == known.end() ? std::vector<std::string>{} : it->second);
  }
}

}  // namespace
}  // namespace tabulon
