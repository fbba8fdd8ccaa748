// Target table operations through the built-in provider, and the Access type names no real
// column reaches (every real column kind is proven by the backup round trips, which compare the
// restored columns' types, sizes, flags and nullability).
#include "target_access/target_tables.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "jet/database.h"
#include "jet_readers.h"
#include "jet_test_files.h"
#include "target_access/test_jet_target.h"

namespace tabulon::target_access {
namespace {

using test_util::Texts;

// A new .mdb opened through the Jet provider.
struct Target : test_util::JetTarget {
  explicit Target(const std::string& name) : JetTarget(testing::ScratchFile("target_tables", name + ".mdb")) {}
};

// Flag sets no real column has and the ODBC table (testdata/access_type_names.txt).
TEST(AccessTypeName, UnusualFlagsAndTheOdbcTable) {
  std::ifstream in(TABULON_TARGET_TESTDATA "/access_type_names.txt");
  ASSERT_TRUE(in) << "no testdata/access_type_names.txt";
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string flags, type, size, provider, name;
    for (std::string* field : {&flags, &type, &size, &provider, &name}) std::getline(fields, *field, '|');
    EXPECT_EQ(AccessTypeName(static_cast<uint32_t>(std::stoul(flags)), static_cast<data::DbType>(std::stoi(type)),
                             std::stoul(size), provider),
              name)
        << line;
  }
}

TEST(TargetTables, DropRenameAndVersion) {
  Target t("ops");
  ASSERT_TRUE(t.opened);
  data::Session* session = t.session();
  ASSERT_TRUE(t.Run("create table `Order Lines` (Id LONG PRIMARY KEY, Item VARCHAR(20))"));
  ASSERT_TRUE(t.Run("insert into `Order Lines` values (1, 'Widget')"));
  ASSERT_TRUE(t.Run("create table Parent (Id LONG PRIMARY KEY)"));
  ASSERT_TRUE(t.Run("create table Child (Id LONG, ParentId LONG REFERENCES Parent (Id))"));
  ASSERT_TRUE(t.Run("create table Taken (Id LONG)"));
  ASSERT_TRUE(t.Run("create view `Big Lines` as select Id, Item from `Order Lines` where Id > 0"));

  EXPECT_TRUE(DropTargetView(&t.pane, session, "Big Lines"));
  EXPECT_FALSE(DropTargetView(&t.pane, session, "Big Lines"));
  // A table in a relationship is refused, as Access refuses it; the table stays.
  EXPECT_FALSE(DropTargetTable(&t.pane, session, "db", "Parent"));
  EXPECT_TRUE(DropTargetTable(&t.pane, session, "db", "Taken"));
  std::vector<std::string> lines = Texts(t.pane);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(t.pane.Lines()[3].severity, workspace::Severity::kWarning);
  EXPECT_NE(lines[5].find("relationship"), std::string::npos) << lines[5];
  lines[3] = lines[5] = "";
  EXPECT_EQ(lines, (std::vector<std::string>{"drop view `Big Lines`", "RESULT: The operation completed SUCCESSFULLY",
                                             "drop view `Big Lines`", "", "drop table `Parent`", "",
                                             "drop table `Taken`", "RESULT: The operation completed SUCCESSFULLY"}));

  t.pane.Clear();
  ASSERT_TRUE(t.Run("create table Taken (Id LONG)"));
  EXPECT_FALSE(RenameTargetTable(&t.pane, session, "Order Lines", "Taken"));  // name in use
  // A renamed table keeps its keys and relationships.
  EXPECT_TRUE(RenameTargetTable(&t.pane, session, "Parent", "Parent2"));
  EXPECT_TRUE(RenameTargetTable(&t.pane, session, "Order Lines", "Lines"));
  EXPECT_FALSE(t.Run("insert into Child values (1, 7)"));  // still enforced: no parent 7
  EXPECT_EQ(Texts(t.pane), (std::vector<std::string>{"Rename [Order Lines] ERROR!"}));
  EXPECT_EQ(TargetVersion(&t.pane, session), "");

  t.pane.Clear();
  EXPECT_FALSE(RenameTargetTable(&t.pane, nullptr, "a", "b"));
  EXPECT_EQ(TargetVersion(&t.pane, nullptr), "No Connection!");
  EXPECT_FALSE(DropTargetTable(&t.pane, nullptr, "db", "a"));
  EXPECT_EQ(Texts(t.pane),
            (std::vector<std::string>{"No Connection!", "No Connection!", "drop table `a`", "No Connection!"}));
  t.Close();

  auto db = jet::Database::Open(t.path.string(), jet::OpenMode::kReadOnly);
  ASSERT_TRUE(db.ok());
  EXPECT_EQ(*(*db)->ListTables(), (std::vector<std::string>{"Child", "Taken", "Parent2", "Lines"}));
  EXPECT_TRUE((*db)->ListQueries()->empty());
  auto lines_table = (*db)->GetTable("Lines");
  ASSERT_TRUE(lines_table.ok());
  EXPECT_FALSE(lines_table->indexes.empty());  // the primary key came along
  EXPECT_EQ(testing::CompareTableWithReaders(t.path.string(), "Lines", lines_table->columns,
                                             {{int32_t{1}, std::string("Widget")}}),
            "");
}

}  // namespace
}  // namespace tabulon::target_access
