// tabulon-cli backup and restore, run as a user runs them: files with views over views go
// through a backup and a restore into a new file, which must hold equal tables (columns, types,
// every value, as the engine and both independent readers read them) and saved queries (rows,
// flags, properties). Then the folder layouts, an older backup without QUERIES, adding to an
// existing file, and exit codes. (Every column type's round trip is in
// src/target_access/backup_scripts_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/object_properties.h"
#include "jet/format/properties.h"
#include "jet_table_compare.h"
#include "jet_test_files.h"

namespace tabulon {
namespace {

namespace fs = std::filesystem;

using CliRun = testing::CommandRun;  // stdout and stderr in `out`

class BackupRestoreCli : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        testing::ScratchFile("cli_backup_restore", ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "home");
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(folder_);
  }

  // Runs tabulon-cli in the test's folder, with the workgroup file and (for the commands that
  // take one) the program folder inside it.
  CliRun Cli(const std::string& arguments) {
    const std::string config = arguments.starts_with("sql") ? "" : " --config cfg/tabulon.cfg";
    return testing::RunCommand("cd '" + folder_.string() + "' && HOME='" + (folder_ / "home").string() + "' " +
                               TABULON_CLI + " " + arguments + config + " 2>&1");
  }

  static std::vector<std::string> Files(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (entry.is_regular_file()) names.push_back(fs::relative(entry.path(), folder).string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path folder_;
};

// A file with a table named by a reserved word, one whose name holds a blank, rows with NULLs,
// quotes and line breaks, and views made in an order their names do not give (a view over a
// view); and an Access-written file with a query of every kind (crosstab, union, action,
// parameter, pass-through, DDL): every query comes back with its rows, flags and properties.
TEST_F(BackupRestoreCli, RoundTripsSingleObjectsExistingFilesAndExitCodes) {
  fs::copy_file(fs::path(TABULON_FIXTURES_DIR) / "access" / "queryTestV2000.mdb", folder_ / "q.mdb");
  ASSERT_EQ(Cli("sql Made.mdb --create "
                "\"create table \\`Select\\` (Id COUNTER, Item VARCHAR(40) NOT NULL, Qty DOUBLE, "
                "Due DATETIME, Notes LONGTEXT, Raw VARBINARY(8))\" "
                "\"insert into \\`Select\\` values (1, 'it''s \\\"a\\\"; x', 2.5, #2024-02-29 13:45:10#, "
                "'two\r\nlines', 0x00FF)\" "
                "\"insert into \\`Select\\` (Item) values ('b')\" "
                "\"create table \\`Order Lines\\` (Id INTEGER, Item VARCHAR(20))\" "
                "\"insert into \\`Order Lines\\` values (7, 'seven')\" "
                "\"create view Zed as select Id, Item from \\`Select\\` where Qty > 1\" "
                "\"create view \\`A View\\` as select Item from Zed\"")
                .exit_code,
            0);
  for (const auto& [name, query_count] : std::vector<std::pair<std::string, size_t>>{{"Made", 2}, {"q", 9}}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(Cli("backup " + name + ".mdb --out backups").exit_code, 0);
    const CliRun restore = Cli("restore backups/" + name + " --target restored/" + name + ".mdb");
    EXPECT_EQ(restore.exit_code, 0) << restore.out;
    std::vector<std::string> queries;
    for (const auto& entry : fs::directory_iterator(folder_ / "backups" / name / "QUERIES"))
      queries.push_back(entry.path().stem().string());
    EXPECT_EQ(queries.size(), query_count);
    EXPECT_EQ(testing::CompareCopiedFile((folder_ / (name + ".mdb")).string(),
                                         (folder_ / "restored" / (name + ".mdb")).string(), queries),
              std::vector<std::string>{});
    auto from = jet::Database::Open((folder_ / (name + ".mdb")).string(), jet::OpenMode::kReadOnly);
    auto copy = jet::Database::Open((folder_ / "restored" / (name + ".mdb")).string(), jet::OpenMode::kReadOnly);
    ASSERT_TRUE(from.ok() && copy.ok());
    const std::vector<jet::SavedQuery> want = (*from)->ListQueries().value();
    const std::vector<jet::SavedQuery> got = (*copy)->ListQueries().value();
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
      SCOPED_TRACE(want[i].name);
      EXPECT_EQ(got[i].name, want[i].name);
      EXPECT_EQ(got[i].object_flags, want[i].object_flags);
      EXPECT_EQ(got[i].rows, want[i].rows);
      EXPECT_EQ(jet::EncodePropertyBlob((*copy)->ReadProperties(want[i].name).value()),
                jet::EncodePropertyBlob((*from)->ReadProperties(want[i].name).value()));
    }
  }
  // The made file's backup, as laid out: every table's scripts, every view's two scripts.
  EXPECT_EQ(Files(folder_ / "backups" / "Made"),
            (std::vector<std::string>{"DATA/Order Lines.data", "DATA/Select.data", "KEYS/Order Lines.keys",
                                      "KEYS/Select.keys", "PROPERTIES/Order Lines.prop", "PROPERTIES/Select.prop",
                                      "QUERIES/A View.qry", "QUERIES/Zed.qry", "TABLES/Order Lines.tbl",
                                      "TABLES/Select.tbl", "VIEWS/A View.vw", "VIEWS/Zed.vw"}));
  // An older backup (no QUERIES) restores its views from VIEWS as before.
  fs::remove_all(folder_ / "backups" / "Made" / "QUERIES");
  const CliRun old = Cli("restore backups/Made --target restored/old.mdb");
  EXPECT_EQ(old.exit_code, 0) << old.out;
  EXPECT_EQ(testing::CompareCopiedFile((folder_ / "Made.mdb").string(), (folder_ / "restored" / "old.mdb").string(),
                                       {"A View", "Zed"}),
            std::vector<std::string>{});

  // One table, the tables, one view: straight into the folder, or below the database's folder.
  ASSERT_EQ(Cli("backup q.mdb --table table2 --out one").exit_code, 0);
  ASSERT_EQ(Cli("backup q.mdb --tables --out tables").exit_code, 0);
  ASSERT_EQ(Cli("backup q.mdb --view SelectQuery --out view").exit_code, 0);
  EXPECT_EQ(Files(folder_ / "one"), (std::vector<std::string>{"DATA/Table2.data", "KEYS/Table2.keys",
                                                              "PROPERTIES/Table2.prop", "TABLES/Table2.tbl"}));
  EXPECT_EQ(Files(folder_ / "tables"),
            (std::vector<std::string>{
                "q/DATA/Table1.data", "q/DATA/Table2.data", "q/DATA/Table3.data", "q/KEYS/Table1.keys",
                "q/KEYS/Table2.keys", "q/KEYS/Table3.keys", "q/PROPERTIES/Table1.prop", "q/PROPERTIES/Table2.prop",
                "q/PROPERTIES/Table3.prop", "q/TABLES/Table1.tbl", "q/TABLES/Table2.tbl", "q/TABLES/Table3.tbl"}));
  EXPECT_EQ(Files(folder_ / "view"), (std::vector<std::string>{"QUERIES/SelectQuery.qry", "VIEWS/SelectQuery.vw"}));

  // A new file from one table, then the other tables added to it: the table it holds already
  // fails with the provider's text, the rest is restored, the exit code says it.
  ASSERT_EQ(Cli("restore one --target new.mdb").exit_code, 0);
  const CliRun added = Cli("restore tables/q --target new.mdb");
  EXPECT_EQ(added.exit_code, 1) << added.out;
  EXPECT_NE(added.out.find("Table [Table2]: an object named 'Table2' already exists"), std::string::npos) << added.out;
  const CliRun view = Cli("restore view --target new.mdb");
  EXPECT_EQ(view.exit_code, 0) << view.out;
  auto db = jet::Database::Open((folder_ / "new.mdb").string(), jet::OpenMode::kReadOnly);
  auto original = jet::Database::Open((folder_ / "q.mdb").string(), jet::OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok() && original.ok());
  for (const char* table : {"Table1", "Table2", "Table3"}) {
    EXPECT_EQ(testing::EngineTableText(**db, table), testing::EngineTableText(**original, table));
  }
  EXPECT_TRUE((*db)->GetQuerySql("SelectQuery").ok());

  // Bad usage 2; a missing file, an unknown object, a folder without a backup 1 (no file made).
  for (const char* usage :
       {"backup q.mdb", "backup --out x", "backup q.mdb --tables --views --out x", "backup q.mdb --bogus --out x",
        "restore tables/q", "restore a b --target c.mdb", "restore tables/q --target c.MDB"}) {
    EXPECT_EQ(Cli(usage).exit_code, 2) << usage;
  }
  for (const auto& [arguments, message] : std::vector<std::pair<const char*, const char*>>{
           {"backup nothere.mdb --out x", "nothere.mdb: no such file"},
           {"backup q.mdb --view NoSuchView --out x", "q.mdb has no view named 'NoSuchView'"},
           {"restore tables --target none.mdb", "it holds no TABLES, DATA or VIEWS folder"},
           {"restore tables --target none.mdb", "tables/q holds a backup"}}) {
    const CliRun run = Cli(arguments);
    EXPECT_EQ(run.exit_code, 1) << arguments;
    EXPECT_NE(run.out.find(message), std::string::npos) << run.out;
  }
  EXPECT_FALSE(fs::exists(folder_ / "none.mdb"));
  EXPECT_FALSE(fs::exists(folder_ / "x"));
  EXPECT_EQ(Cli("backup --help").exit_code, 0);
  EXPECT_EQ(Cli("restore --help").exit_code, 0);
}

std::string Hex(const std::string& data) {
  std::string out;
  for (const char c : data) out += "0123456789ABCDEF"[(c >> 4) & 15], out += "0123456789ABCDEF"[c & 15];
  return out;
}

// What a file keeps besides columns and rows, as text: per user table its AutoNumber flags and
// next number, its indexes (name, columns, flags, kind, rules) and property maps (Access keeps
// the table's own map before or after the column maps); then the relationships between user
// tables. The engine names the referenced table's side of a relationship itself (".r...").
std::string KeysText(jet::Database& db) {
  std::string text;
  const std::vector<std::string> tables = *db.ListTables();
  for (const std::string& name : tables) {
    const jet::TableDefinition t = *db.GetTable(name);
    text += name + " next " + std::to_string(t.last_auto_number) + "\n";
    std::map<uint16_t, std::string> names;
    for (const jet::ColumnDefinition& c : t.columns) {
      names[c.number] = c.name;
      text += " " + c.name + " flags " + std::to_string(c.flags) + "\n";
    }
    std::vector<std::string> lines;
    for (const jet::IndexDefinition& i : t.indexes) {
      std::string line = " index " + (i.name.starts_with(".r") ? std::string(".r") : i.name) + " (";
      for (const jet::IndexColumn& k : i.columns) line += names[k.column_number] + (k.ascending ? "+" : "-");
      line += ") " + std::to_string(i.flags) + "/" + std::to_string(i.index_type) + "/" +
              std::to_string(i.cascade_update) + std::to_string(i.cascade_delete) + std::to_string(i.cascade_null);
      lines.push_back(line + "\n");
    }
    const jet::ObjectProperties maps = *db.ReadProperties(name);
    for (const jet::format::PropertyMap& map : maps) {
      std::string line = " map " + map.name + "\n";
      for (const jet::format::Property& p : map.properties) {
        line += "  " + p.name + " " + std::to_string(p.type) + (p.ddl ? " ddl " : " ") + Hex(p.data) + "\n";
      }
      lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    for (const std::string& line : lines) text += line;
  }
  const std::vector<jet::Relationship> relationships = *db.ListRelationships();
  for (const jet::Relationship& r : relationships) {
    if (std::find(tables.begin(), tables.end(), r.foreign_table) == tables.end()) continue;
    text += "rel " + r.name + " " + r.primary_table + " " + r.foreign_table + " " + std::to_string(r.Flags());
    for (size_t i = 0; i < r.primary_columns.size(); ++i) {
      text += " " + r.primary_columns[i] + "=" + r.foreign_columns[i];
    }
    text += "\n";
  }
  return text;
}

// Keys, indexes of every kind, relationships with every flag, AutoNumbers (Long with its next
// number, GUID) and typed properties come back equal from a made file and from Access files.
TEST_F(BackupRestoreCli, KeysRelationshipsAutoNumbersAndPropertiesRoundTrip) {
  const std::string statements[] = {
      "create table P (Id COUNTER, Code VARCHAR(10) NOT NULL, G GUID DEFAULT GenGUID(), N LONG)",
      "insert into P (Code, N) values ('a', 1)",
      "insert into P (Code, N) values ('b', NULL)",
      "delete from P where Code = 'b'",
      "alter table P alter column G counter",
      "create index PrimaryKey on P (Id) with primary",
      "create unique index ByCode on P (Code DESC, N) with disallow null ignore null",
      "create index ByN on P (N) with ignore null",
      "create table C (Id LONG NOT NULL, PId LONG, Code VARCHAR(10))",
      "create unique index CKey on C (Id) with disallow null",
      "alter table C add constraint PC foreign key (PId) references P (Id) on update cascade on delete set null "
      "left join",
      "alter table C add constraint PCode foreign key (Code) references P (Code) not enforced one to one right join",
      "alter table P set property Description = 'the ''P'' table' as Memo ddl",
      "alter table P alter column N set property Format = 0x0102 as Binary",
      "alter table P alter column N set property Scale = 2.5 as Double",
      "alter table P alter column N set property Cost = -12.3456 as Currency",
      "alter table P alter column N set property Tag = '{01234567-89AB-CDEF-0123-456789ABCDEF}' as GUID",
      "alter table P alter column Code set property DecimalPlaces = 255 as Byte ddl"};
  std::string command = "sql Made.mdb --create";
  for (const std::string& sql : statements) command += " \"" + sql + "\"";
  ASSERT_EQ(Cli(command).exit_code, 0);
  std::vector<std::string> files = {"Made"};
  for (const char* fixture : {"indexTestV2000", "compIndexTestV2000", "testIndexPropertiesV2000"}) {
    const fs::path from = fs::path(TABULON_FIXTURES_DIR) / "access" / (std::string(fixture) + ".mdb");
    if (!fs::exists(from)) continue;
    fs::copy_file(from, folder_ / (std::string(fixture) + ".mdb"));
    files.push_back(fixture);
  }
  for (const std::string& name : files) {
    SCOPED_TRACE(name);
    ASSERT_EQ(Cli("backup " + name + ".mdb --out backups").exit_code, 0);
    const CliRun restore = Cli("restore backups/" + name + " --target restored/" + name + ".mdb");
    EXPECT_EQ(restore.exit_code, 0) << restore.out;
    auto original = jet::Database::Open((folder_ / (name + ".mdb")).string(), jet::OpenMode::kReadOnly);
    auto restored = jet::Database::Open((folder_ / "restored" / (name + ".mdb")).string(), jet::OpenMode::kReadOnly);
    ASSERT_TRUE(original.ok() && restored.ok());
    EXPECT_EQ(KeysText(**restored), KeysText(**original));
    EXPECT_TRUE((*restored)->CheckIntegrity().ok());
  }
}

}  // namespace
}  // namespace tabulon
