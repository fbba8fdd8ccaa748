// The user-interface commands over a real .mdb target and a replayed SQL Server source: the
// questions and lines (pinned in testdata/commands/<test>.txt, TABULON_UPDATE_GOLDEN=1 rewrites
// them), the tasks queued, what the file holds afterwards (read back by the independent readers)
// and the refusals while tasks run. The controller "runs" without a thread here, so nothing is
// executed behind a test's back.
#include "converters/commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "converters/connect.h"
#include "converters/workbench.h"
#include "data/providers/jet/jet_provider.h"
#include "data/statement.h"
#include "workspace/statement_output.h"
#include "jet/database.h"
#include "jet_readers.h"
#include "jet_test_files.h"
#include "tests/support/replay_provider.h"

namespace tabulon::converters {
namespace {

namespace fs = std::filesystem;
using workspace::TreeNodeKind;
using Strings = std::vector<std::string>;
using tabulon::testing::kNull;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

constexpr char kSql[] = "Microsoft SQL Server[15.00.4322]";
constexpr char kJet[] = "MS Jet[04.00.0000]";

class CommandsTest : public ::testing::Test {
 protected:
  CommandsTest() {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    WorkbenchOptions options;
    options.program_folder = dir_.string();
    options.clock = [] { return std::int64_t{1700000000}; };
    options.sleep = [](std::chrono::milliseconds) {};
    options.start_thread = [](std::function<void()>, std::thread*) { return true; };  // no thread
    wb_ = std::make_unique<Workbench>(prompt_, std::move(options));
    wb_->target_context().system_database_path = (dir_ / "System.MDW").string();
    script_->SetDataSourceName("sqlhost");
    script_->OnSchema(data::SchemaRowsetKind::kCatalogs, {}, {{"Shop"}, {"Other"}});
    script_->OnSchema(data::SchemaRowsetKind::kTables, {kNull, kNull, kNull, "TABLE"},
                      {{"Shop", "dbo", "Orders", "TABLE"}, {"Shop", "dbo", "Lines", "TABLE"}});
    script_->OnSchema(data::SchemaRowsetKind::kTables, {kNull, kNull, kNull, "VIEW"},
                      {{"Shop", "dbo", "vOrders", "VIEW"}});
    wb_->source().profile = {"", "SQLOLEDB", "sqlhost", "Shop", "", "", ""};
    wb_->target().profile.provider_name = data::kJetProviderName;
    wb_->target().profile.source_name = mdb_;
    EXPECT_TRUE(jet::Database::Create(mdb_).ok());
  }

  // Connects both sides; the target gets Orders referring to Customers, rows, and a view.
  void ConnectAndFill() {
    ConnectCommand(*wb_);
    for (const char* sql :
         {"create table Customers (id Long NOT NULL CONSTRAINT pk_c PRIMARY KEY, name VarChar(20))",
          "create table Orders (id Long NOT NULL, customer Long)",
          "alter table Orders add constraint FK_Orders_Customers foreign key (customer) references Customers (id)",
          "create table Solo (id Long)", "create table Gone (id Long)", "insert into Customers values (1, 'Ann')",
          "insert into Orders values (10, 1)", "insert into Solo values (5)",
          "create view vCustomers as select id, name from Customers"}) {
      ASSERT_TRUE(Run(sql)) << sql;
    }
    wb_->target_tree().RefreshTree();
  }
  bool Run(const std::string& sql) { return workspace::ExecuteStatement(nullptr, wb_->target().session.get(), sql, 0); }

  // Selects the first item of `kind` (with `text`, when given).
  void Select(workspace::DbTreeView& tree, TreeNodeKind kind, const std::string& text = "") {
    tree.selected = workspace::kNoItem;
    for (int id = static_cast<int>(tree.tree.size()) - 1; id >= 0; --id) {
      if (tree.tree.Contains(id) && tree.tree.node(id).kind == kind &&
          (text.empty() || tree.tree.node(id).text == text)) {
        tree.selected = id;
      }
    }
    ASSERT_NE(tree.selected, workspace::kNoItem) << text;
  }

  void Answer(std::initializer_list<bool> answers) {
    for (bool yes : answers) prompt_.AnswerYes(yes);
  }
  // Adds what was asked ("? " a question, "! " a message with its caption, "> " a text, path or
  // folder asked for) and the lines written since the last take to the transcript, under `title`.
  void Take(const std::string& title) {
    transcript_ += "## " + title + "\n";
    const auto all = prompt_.asked();
    for (auto a = all.begin() + static_cast<long>(asked_); a != all.end(); ++a) {
      using enum workspace::ScriptedUserPrompt::Kind;
      const char* mark = a->kind == kMessage ? "! " : a->kind == kOkCancel || a->kind == kYesNo ? "? " : "> ";
      transcript_ +=
          mark + a->text + (a->caption.empty() ? "" : " [" + a->caption + "]") + (a->file.save ? " (save)" : "") + "\n";
    }
    asked_ = all.size();
    const std::vector<workspace::OutputLine> lines = wb_->output().Lines();
    for (size_t i = lines_taken_; i < lines.size(); ++i) transcript_ += "  " + lines[i].text + "\n";
    lines_taken_ = lines.size();
  }
  void ExpectTranscript() {
    for (size_t at; (at = transcript_.find(dir_.string())) != std::string::npos;)
      transcript_.replace(at, dir_.string().size(), "<dir>");
    tabulon::testing::ExpectGoldenFile(
        "src/converters/testdata/commands/" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".txt",
        transcript_);
  }
  Strings TargetTables() { return wb_->target_tree().tree.ChildTexts(wb_->target_tree().tables_folder); }
  // The queued tasks as the task viewer would list them, into the transcript.
  void TakeTasks() {
    for (const MigrationTask& t : wb_->tasks().Snapshot()) {
      transcript_ += "task " + std::to_string(t.operation) + "|" + t.source_database + "|" + t.source_object + "|" +
                     t.target_database + "|" + t.target_object + "|" + t.backup_selector + "|" + t.source_dbms + "|" +
                     t.target_dbms + "\n";
    }
  }

  // The file as the independent readers see it (the target is closed for them), into the
  // transcript: its tables with their row counts (mdbtools lists as many), its saved queries.
  void TakeFile() {
    data::CloseConnection(wb_->target());
    auto listed = tabulon::testing::MdbToolsTables(mdb_);
    auto read = tabulon::testing::ReadWithMdbReader(mdb_);
    auto queries = tabulon::testing::MdbToolsQueries(mdb_);
    ASSERT_TRUE(listed.ok() && read.ok() && queries.ok());
    std::map<std::string, size_t> tables;
    for (const auto& table : *read) tables[table.name] = table.rows.size();
    EXPECT_EQ(listed->size(), tables.size());
    transcript_ += "= the file:";
    for (const auto& [name, rows] : tables) transcript_ += " " + name + " (" + std::to_string(rows) + " rows)";
    transcript_ += "; queries:";
    for (const std::string& query : *queries) transcript_ += " " + query;
    transcript_ += "\n";
  }

  fs::path dir_ = tabulon::testing::ScratchFile("converters_commands",
                                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::string mdb_ = (dir_ / "Shop.mdb").string();
  std::string db_ = (dir_ / "Shop").string();  // the target database as the tree names it
  workspace::ScriptedUserPrompt prompt_;
  size_t asked_ = 0, lines_taken_ = 0;
  std::string transcript_;
  std::shared_ptr<tabulon::testing::ReplayScript> script_ = std::make_shared<tabulon::testing::ReplayScript>();
  tabulon::testing::ScopedReplayProvider provider_{"SQLOLEDB", script_};
  std::unique_ptr<Workbench> wb_;
};

TEST_F(CommandsTest, ConnectOpensBothSidesSwitchesDatabasesAndSaysWhatFailed) {
  ConnectCommand(*wb_);
  Take("connect");
  EXPECT_EQ(wb_->source_dbms, kSql);
  EXPECT_EQ(wb_->target_dbms, kJet);
  EXPECT_EQ(wb_->charset_name, "LATIN1");
  workspace::DbTreeView& source = wb_->source_tree();
  workspace::DbTreeView& target = wb_->target_tree();
  EXPECT_EQ(source.tree.ChildTexts(source.root_item), (Strings{"Shop", "Other"}));
  EXPECT_EQ(target.tree.ChildTexts(target.root_item), Strings{db_});
  EXPECT_EQ(target.current_database, db_);

  // Double-click: the source runs "use" and is rebuilt; the target reconnects.
  script_->On("use [Other]").NoRowset();
  SwitchDatabase(*wb_, target_access::Side::kSource, source.tree.node(source.root_item).children.at(1));
  EXPECT_EQ(source.tree.node(source.current_database_item).text, "Other");
  SwitchDatabase(*wb_, target_access::Side::kTarget, target.tree.node(target.root_item).children.at(0));
  Take("switch databases");

  // No DBMS name: the server's version stands in. A source that cannot be opened says why, and
  // the target still connects.
  script_->SetDbmsInfo("", "");
  script_->On("select @@Version").Column("v", data::DBTYPE_WSTR, 100).Row({"SQL Server 2019 (RTM)"});
  ConnectSource(*wb_);
  EXPECT_EQ(wb_->source_dbms, "SQL Server 2019 (RTM)");
  Take("connect the source without a DBMS name");
  script_->FailOpen("Login failed for user 'sa'.");
  ConnectCommand(*wb_);
  Take("a source that cannot be opened");
  EXPECT_EQ(source.state, -1);
  EXPECT_NE(wb_->target().session, nullptr);
  ExpectTranscript();
}

TEST_F(CommandsTest, MigrateAndBackupQueueOneTaskPerConfirmedSelection) {
  MigrateCommand(*wb_);
  BackupCommand(*wb_);
  Take("not connected");
  ConnectAndFill();
  Take("connected");
  workspace::DbTreeView& source = wb_->source_tree();
  workspace::DbTreeView& target = wb_->target_tree();
  MigrateCommand(*wb_);
  Select(source, TreeNodeKind::kDatabase, "Shop");
  MigrateCommand(*wb_);
  EXPECT_TRUE(fs::is_directory(dir_ / "data_cache"));

  Select(target, TreeNodeKind::kRoot);
  Answer({false, true});
  MigrateCommand(*wb_);  // cancelled
  MigrateCommand(*wb_);
  Select(source, TreeNodeKind::kTable, "Orders");
  MigrateCommand(*wb_);  // a table onto the root
  Select(target, TreeNodeKind::kDatabase);
  Answer({true, false, true});
  MigrateCommand(*wb_);
  Select(source, TreeNodeKind::kView, "vOrders");
  MigrateCommand(*wb_);  // cancelled
  Select(source, TreeNodeKind::kTablesFolder);
  MigrateCommand(*wb_);
  Take("migrate: nothing selected, a database, a table, a view (cancelled), the tables");

  // Backup: nothing selected still starts the controller; a cancelled folder queues nothing.
  target.selected = workspace::kNoItem;
  BackupCommand(*wb_);
  Select(target, TreeNodeKind::kTablesFolder);
  prompt_.AnswerText(std::nullopt);
  BackupCommand(*wb_);
  EXPECT_FALSE(wb_->backup_folder_chosen);
  prompt_.AnswerText((dir_ / "bk").string());
  BackupCommand(*wb_);
  Select(target, TreeNodeKind::kView, "vCustomers");
  prompt_.AnswerText((dir_ / "bk2").string());
  BackupCommand(*wb_);
  Take("backup: nothing selected, a cancelled folder, the tables, a view");
  EXPECT_EQ(wb_->backup_folder, (dir_ / "bk2").string());
  EXPECT_EQ(wb_->work_directory, (dir_ / "bk2").string());
  EXPECT_TRUE(fs::is_directory(dir_ / "bk2"));
  TakeTasks();
  EXPECT_EQ(wb_->controller_state(), ControllerState::kRunning);
  ExpectTranscript();

  EXPECT_EQ(BackupFolderPath("/"), "/Backup.Script");
  EXPECT_EQ(BackupFolderPath("C:\\"), "C:\\Backup.Script");
  EXPECT_EQ(BackupFolderPath("/ab"), "/ab");
}

TEST_F(CommandsTest, DeleteAsksTwiceAndTakesOutWhatWasDropped) {
  DeleteCommand(*wb_);  // not connected: the message under the command's own caption
  Take("not connected");
  ConnectAndFill();
  Take("connected");
  workspace::DbTreeView& target = wb_->target_tree();
  DeleteCommand(*wb_);
  Select(target, TreeNodeKind::kRoot);
  DeleteCommand(*wb_);  // nothing at all
  Select(target, TreeNodeKind::kTable, "Solo");
  Answer({true, true});
  DeleteCommand(*wb_);
  Select(target, TreeNodeKind::kView, "vCustomers");
  Answer({true, true});
  DeleteCommand(*wb_);
  Take("nothing selected, the root, a table, a view");
  EXPECT_THAT(TargetTables(), UnorderedElementsAre("Customers", "Orders", "Gone"));

  // Cancel, then No: nothing printed, nothing dropped.
  Select(target, TreeNodeKind::kTablesFolder);
  Answer({false, true, false});
  DeleteCommand(*wb_);
  DeleteCommand(*wb_);
  Take("all tables: cancelled, then No");
  // All tables: the relationship goes first, so both its tables drop; a table the file no
  // longer has is refused, not counted, and stays listed.
  ASSERT_TRUE(Run("drop table Gone"));
  Answer({true, true});
  DeleteCommand(*wb_);
  Select(target, TreeNodeKind::kViewsFolder);
  Answer({true, true});
  DeleteCommand(*wb_);
  Take("all tables (one of them gone already), all views");
  EXPECT_THAT(TargetTables(), ElementsAre("Gone"));
  TakeFile();

  // The connected file itself: gone from disk and from the tree, the target disconnected.
  ConnectTarget(*wb_);
  Select(target, TreeNodeKind::kDatabase);
  Answer({true, true});
  DeleteCommand(*wb_);
  Take("the database");
  EXPECT_FALSE(fs::exists(mdb_));
  EXPECT_EQ(wb_->target().session, nullptr);
  EXPECT_EQ(target.tree.size(), 0u);

  // New Database asks for the path with a Save dialog (cancelled: nothing is made).
  prompt_.AnswerText(std::nullopt);
  NewDatabase(*wb_);
  prompt_.AnswerText((dir_ / "Fresh").string());
  NewDatabase(*wb_);
  Take("new database: cancelled, then Fresh");
  EXPECT_TRUE(fs::exists(dir_ / "Fresh.mdb"));
  ExpectTranscript();
}

TEST_F(CommandsTest, ClearDataKeepsTablesAndViewsClearTablesDropsAll) {
  ConnectAndFill();
  Take("connected");
  workspace::DbTreeView& target = wb_->target_tree();
  ClearAllData(*wb_);  // nothing selected
  Select(target, TreeNodeKind::kDatabase);
  Answer({true, true});
  ClearAllData(*wb_);
  // Referencing rows go first, so nothing is refused.
  Take("clear data: nothing selected, the database");
  TakeFile();

  // Renaming and dropping a table through the tree: tests/gui/trees_widgets_test.cpp.
  ConnectTarget(*wb_);
  Select(target, TreeNodeKind::kView, "vCustomers");
  DropView(*wb_);
  EXPECT_THAT(TargetTables(), UnorderedElementsAre("Customers", "Gone", "Orders", "Solo"));
  EXPECT_TRUE(target.tree.ChildTexts(target.views_folder).empty());

  // Clear all tables: views first, and the relationship does not stop the tables.
  ASSERT_TRUE(Run("create view v2 as select id from Orders"));
  target.RefreshTree();
  Take("drop a view");
  Select(target, TreeNodeKind::kDatabase);
  Answer({true, true});
  ClearAllTables(*wb_);
  Take("clear all tables");
  EXPECT_TRUE(TargetTables().empty());
  TakeFile();
  ExpectTranscript();
}

// Every command but the last two asks to stop the tasks (and is answered No); the last is
// answered Yes, so the one after it is told to wait. Nothing is printed or dropped.
TEST_F(CommandsTest, ConnectAndTargetCommandsAreRefusedWhileTasksRun) {
  ConnectAndFill();
  workspace::DbTreeView& target = wb_->target_tree();
  wb_->EnsureControllerRunning();
  Take("connected, tasks running");
  const int database = target.tree.node(target.root_item).children.at(0);
  Answer({false, false, false, false, false, false, false, false, false, true});
  for (const auto& command : std::vector<std::function<void()>>{
           [&] { ConnectCommand(*wb_); }, [&] { DeleteCommand(*wb_); }, [&] { DeleteDatabase(*wb_); },
           [&] { ClearAllTables(*wb_); }, [&] { ClearAllData(*wb_); }, [&] { DropView(*wb_); },
           [&] { NewDatabase(*wb_); }, [&] { EXPECT_EQ(BeginRename(*wb_), workspace::kNoItem); },
           [&] { SwitchDatabase(*wb_, target_access::Side::kTarget, database); }, [&] { DropTable(*wb_); },
           [&] { DropTable(*wb_); }}) {
    Select(target, TreeNodeKind::kTable, "Solo");
    command();
  }
  Take("eleven commands while tasks run");
  EXPECT_THAT(TargetTables(), Contains("Solo"));
  EXPECT_NE(wb_->target().session, nullptr);
  ExpectTranscript();
}

}  // namespace
}  // namespace tabulon::converters
