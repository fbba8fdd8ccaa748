// The translations over the replayed ShopDemo catalogue and over cases built for one rule each.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "data/providers/jet/jet_fields.h"
#include "jet/database.h"
#include "jet/values.h"
#include "source_sqlserver/connection.h"
#include "source_common/access_names.h"
#include "source_sqlserver/translate.h"
#include "tests/source_sqlserver/source_test_util.h"

namespace tabulon::source_sqlserver {
namespace {

using namespace testing;
using tabulon::testing::kNull;

TEST(CatalogueStatementsTest, MatchTheGoldenTexts) {
  const SourceTable order("Sales", "Order]Lines");
  ExpectGolden("columns.sql", BuildColumnsStatement(order));
  ExpectGolden("largest_value.sql", BuildLargestValueStatement(order, "Amount]"));
  ExpectGolden("select_rows.sql", BuildSelectRowsStatement(order, "id>100"));
  ExpectGolden("helptext.sql", BuildHelpTextStatement(SourceTable("O'Brien")));
  ExpectGolden("helpconstraint.sql", BuildHelpConstraintStatement(order));
  ExpectGolden("indexes.sql", BuildIndexesStatement(SourceTable("Order")));
  ExpectGolden("descriptions.sql", BuildDescriptionsStatement(order));
  ExpectGolden("foreign_keys.sql", BuildForeignKeysStatement(order));
}

// (Values as Access literals arrive through the readers in tests/converters/flows_test.cpp.)
TEST(NamesTest, NamesAndDefaultsForTheAccessSide) {
  EXPECT_EQ(QualifiedName(SourceTable("Order-Lines")), "[Order-Lines]");
  EXPECT_EQ(QualifiedName(SourceTable("a]b", "c")), "[a]]b].[c]");
  EXPECT_EQ(NationalLiteral("[O'Brien]"), "N'[O''Brien]'");
  EXPECT_EQ(AccessName("Order"), "`Order`");
  // Names Access refuses are renamed the same way wherever they are referred to.
  EXPECT_EQ(AccessName(" Q1.Totals![a]`b`"), "`_Q1_Totals__a_'b'`");
  const std::string long_name(70, 'x');
  const std::string cut = source_common::AccessObjectName(long_name);
  EXPECT_EQ(cut.size(), 64u);
  EXPECT_EQ(cut.substr(0, 58), std::string(57, 'x') + "~");
  EXPECT_NE(cut, source_common::AccessObjectName(long_name + "y"));
  EXPECT_EQ(source_common::AccessObjectName(std::string(64, 'x')), std::string(64, 'x'));
  // Names Access would take as one (no schemas, no case, "a.b" is "a_b"): the one it takes as it
  // is keeps it, the others get a hash of who they are; a referenced table is found by schema.
  const source_common::AccessNames names({{"dbo", "Users"}, {"audit", "USERS"}, {"dbo", "a.b"}, {"dbo", "a_b"}});
  const std::string dbo_users = names.Object({"dbo", "Users"});
  EXPECT_EQ(names.Object({"audit", "USERS"}), "USERS");
  EXPECT_EQ(dbo_users.substr(0, 6), "Users~");
  EXPECT_EQ(dbo_users.size(), 12u);
  EXPECT_EQ(names.Object(names.Listed("Users", "audit")), dbo_users);
  EXPECT_EQ(names.Object({"dbo", "a_b"}), "a_b");
  EXPECT_NE(names.Object({"dbo", "a.b"}), "a_b");
  EXPECT_EQ(source_common::UniqueAccessNames({"x.y", "X_Y", "z"}, {"x.y", "X_Y", "z"})[2], "z");
  EXPECT_EQ(SafeFileName("../x/y"), ".._x_y");
  EXPECT_EQ(SafeFileName(".."), "___");
  EXPECT_EQ(AccessKeyColumns("OrderID, LineNumber(-)"), "`OrderID`,`LineNumber` DESC");

  // Defaults (data/defaults.txt): the outer parentheses go and Access forms remain. ((0)),
  // (getdate()) and a CONVERT Access cannot evaluate are in the ShopDemo tests below.
  const std::string text = ReadTextFile(std::string(TABULON_SOURCE_DIR) + "/tests/source_sqlserver/data/defaults.txt");
  ASSERT_NE(text, "");
  std::istringstream table(text);
  for (std::string line; std::getline(table, line);) {
    const size_t arrow = line.find(" => ");
    if (line.starts_with("#") || arrow == std::string::npos) continue;
    const std::string want = line.substr(arrow + 4);
    EXPECT_EQ(TranslateDefault(line.substr(0, arrow)).value_or("<left out>"), want == "<empty>" ? "" : want) << line;
  }
}

class ShopDemoTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadFixture(*src_.script, "shopdemo.replay"); }
  ReplayedSource src_;
};

TEST_F(ShopDemoTest, TableDefinitionsForAJetTarget) {
  EXPECT_EQ(Shown(TranslateTableDefinition(src_.owner, src_.session(), "ShopDemo", "Orders")),
            "create table `Orders`(\n"
            "`OrderID` Long   NOT NULL  ,\n"
            "`CustomerID` Long   NOT NULL  ,\n"
            "`OrderDate` VarChar(30)   NOT NULL default Now() ,\n"
            "`Total` Numeric(18,2)   NOT NULL default 0 ,\n"
            "`Notes` LongText   NULL  )\n");
  EXPECT_EQ(OutputTexts(src_.pane), (std::vector<std::string>{"TABLE [Orders]: columns not kept exactly as typed: "
                                                              "[OrderDate] datetime -> VarChar(30): date and time "
                                                              "kept as text"}));
}

TEST_F(ShopDemoTest, DefaultsAreLeftOutForAnOdbcTargetAndWhenAccessCannotEvaluateThem) {
  ReplayedSource odbc("MSDASQL");
  LoadFixture(*odbc.script, "shopdemo.replay");
  RecordColumns(*odbc.script, "T",
                {"IsDefault | 104 | bit | bit | 1 | 1 | 0 | 0 | 0 | \\N | \\N | 1 | ((0)) | \\N",
                 "Flag | 104 | bit | bit | 1 | 1 | 0 | 1 | 0 | \\N | \\N | 1 | (CONVERT([bit],(0))) | \\N",
                 "Bound | 56 | int | int | 4 | 10 | 0 | 1 | 0 | \\N | \\N | 1 | \\N | \\N"});
  EXPECT_EQ(Shown(TranslateTableDefinition(odbc.owner, odbc.session(), "ShopDemo", "T")),
            "create table `T`(\n`IsDefault` Bit   NOT NULL  ,\n`Flag` Bit   NULL  ,\n`Bound` Long   NULL  )\n");
  EXPECT_EQ(OutputTexts(odbc.pane),
            (std::vector<std::string>{
                "TABLE [T]: the default (CONVERT([bit],(0))) of column [Flag] is left out: Access cannot evaluate it",
                "HAS (NULL)!!!"}));
}

// Multi-column relationships and keys of a whole database: tests/converters/flows_test.cpp.
TEST_F(ShopDemoTest, KeysAndEveryUniqueIndex) {
  EXPECT_EQ(Shown(TranslatePrimaryKey(src_.owner, src_.session(), "ShopDemo", "OrderLines")),
            "alter table `OrderLines` add PRIMARY KEY(`OrderID`,`LineNumber`)\n");
  EXPECT_EQ(Shown(TranslateUniqueIndexes(src_.owner, src_.session(), "ShopDemo", "Orders")),
            "CREATE INDEX `IX_Orders_OrderDate` ON `Orders` (`OrderDate` DESC)\n");
  EXPECT_EQ(Shown(TranslateForeignKeys(src_.owner, src_.session(), "ShopDemo", "Customers")), "");
  // A view has no constraints and no indexes: no rowset at all.
  EXPECT_EQ(Shown(TranslatePrimaryKey(src_.owner, src_.session(), "ShopDemo", "vCustomerOrders")), "");
  EXPECT_EQ(Shown(TranslateUniqueIndexes(src_.owner, src_.session(), "ShopDemo", "vCustomerOrders")), "");
  EXPECT_EQ(OutputTexts(src_.pane), (std::vector<std::string>{"RESULT: EMPTY", "RESULT: EMPTY"}));
  tabulon::testing::ReplayStatement& t = src_.script->On(BuildIndexesStatement("T"));
  for (const char* name : {"name", "index_id", "type", "type_desc", "is_unique", "is_primary_key", "has_filter",
                           "is_disabled", "name", "key_ordinal", "is_descending_key", "is_included_column", ""})
    t.Column(name, data::DBTYPE_WSTR, 128);
  for (const std::vector<std::string>& row : std::vector<std::vector<std::string>>{
           {"PK_T", "1", "1", "CLUSTERED", "1", "1", "0", "0", "ID", "1", "0", "0", "0"},
           {"IX_A", "2", "2", "NONCLUSTERED", "0", "0", "0", "0", "A", "1", "0", "0", "0"},
           {"UX_B", "3", "2", "NONCLUSTERED", "1", "0", "0", "0", "B", "1", "0", "0", "0"},
           {"UX_B", "3", "2", "NONCLUSTERED", "1", "0", "0", "0", "C", "2", "1", "0", "0"},
           {"UX_D", "4", "2", "NONCLUSTERED", "1", "0", "0", "0", "D", "1", "0", "0", "0"}})
    t.Row(std::vector<std::optional<std::string>>(row.begin(), row.end()));
  EXPECT_EQ(Shown(TranslateUniqueIndexes(src_.owner, src_.session(), "ShopDemo", "T")),
            "CREATE INDEX `IX_A` ON `T` (`A`)\n;\n"
            "CREATE UNIQUE INDEX `T_IDX_1` ON `T` (`B`,`C` DESC)\n;\n"
            "CREATE UNIQUE INDEX `T_IDX_2` ON `T` (`D`)\n");
}

// A line longer than one sp_helptext row is joined again in tests/converters/flows_test.cpp.
TEST_F(ShopDemoTest, ViewTextOrTheProvidersText) {
  EXPECT_EQ(Shown(TranslateViewDefinition(src_.owner, src_.session(), "ShopDemo", "vCustomerOrders")),
            "CREATE VIEW [vCustomerOrders] AS\n"
            "SELECT [c].[CustomerID], [c].[Name], [o].[OrderID], [o].[OrderDate], [o].[Total]\n"
            "FROM [Customers] AS [c] INNER JOIN [Orders] AS [o] ON [o].[CustomerID] = [c].[CustomerID]\n");
  // "--" inside quotes or brackets is no comment.
  src_.script->On(BuildHelpTextStatement("vQuoted"))
      .Column("Text", data::DBTYPE_WSTR, 255)
      .Row({"SELECT '--not a comment' AS [a--b] -- a remark\r\n"});
  const auto quoted = TranslateViewDefinition(src_.owner, src_.session(), "ShopDemo", "vQuoted");
  EXPECT_EQ(Shown(quoted), "SELECT '--not a comment' AS [a--b] \n");
  // Not a CREATE VIEW: said, and the text goes on unchanged.
  EXPECT_EQ(tabulon::testing::ShownNotes(quoted),
            "statement 0: View [vQuoted] not translated: syntax error at line 1, column 1: expected CREATE but found "
            "'SELECT'\n");
  // An unknown view: the provider's text is the result.
  EXPECT_EQ(Shown(TranslateViewDefinition(src_.owner, src_.session(), "ShopDemo", "NoSuch")),
            "[FreeTDS][SQL Server]The object 'NoSuch' does not exist in database 'ShopDemo' or is invalid for this "
            "operation.");
}

// A fetch (or a read of a whole value) failing at any row fails the translation with the
// provider's words: never a table with fewer columns, a shorter key or a view text cut short.
TEST_F(ShopDemoTest, AReadFailingHalfWayFailsEveryTranslation) {
  const std::string lost = "[FreeTDS][SQL Server]Communication link failure";
  auto* const session = src_.session();
  // Each translation by the statement it reads.
  const std::vector<std::pair<std::string, std::function<std::string()>>> cases = {
      {BuildColumnsStatement("Orders"),
       [&] { return Shown(TranslateTableDefinition(src_.owner, session, "ShopDemo", "Orders")); }},
      {BuildHelpConstraintStatement("OrderLines"),
       [&] { return Shown(TranslatePrimaryKey(src_.owner, session, "ShopDemo", "OrderLines")); }},
      {BuildIndexesStatement("Customers"),
       [&] { return Shown(TranslateUniqueIndexes(src_.owner, session, "ShopDemo", "Customers")); }},
      {BuildForeignKeysStatement("Orders"),
       [&] { return Shown(TranslateForeignKeys(src_.owner, session, "ShopDemo", "Orders")); }},
      {BuildHelpTextStatement("vCustomerOrders"),
       [&] { return Shown(TranslateViewDefinition(src_.owner, session, "ShopDemo", "vCustomerOrders")); }}};
  for (const auto& [sql, translate] : cases) {
    const std::string whole = translate();
    const size_t rows = src_.script->Again(sql).rows.size();
    ASSERT_GT(rows, 0u) << sql;
    for (size_t k = 0; k <= rows; ++k) {  // k == rows: no failure, the whole answer again
      src_.script->Again(sql).FailsAtRow(k < rows ? k : SIZE_MAX, k < rows ? lost : "");
      EXPECT_EQ(translate(), k < rows ? lost : whole) << sql << ", fetch of row " << k;
    }
  }
  src_.script->Again(BuildColumnsStatement("Orders")).FailsReadingRow(2, lost);
  EXPECT_EQ(Shown(TranslateTableDefinition(src_.owner, session, "ShopDemo", "Orders")), lost);
}

// The flows check the source session once; the translations still refuse a missing one, and
// the row copy says which side is missing.
TEST_F(ShopDemoTest, MissingSessionsAreErrors) {
  EXPECT_EQ(Shown(TranslateTableDefinition(src_.owner, nullptr, "ShopDemo", "Orders")), "No Connection!");
  EXPECT_FALSE(TranslatePrimaryKey(src_.owner, nullptr, "ShopDemo", "Orders").ok());
  EXPECT_EQ(Shown(TransferTableRows(src_.owner, nullptr, src_.session(), "ShopDemo", "Orders")),
            "No Source Connection!");
  EXPECT_EQ(Shown(TransferTableRows(src_.owner, src_.session(), nullptr, "ShopDemo", "Orders")),
            "No Target Connection!");
  EXPECT_EQ(GetServerVersion(&src_.pane, nullptr), "");  // the version text itself: the commands' tests
  EXPECT_EQ(OutputTexts(src_.pane),
            (std::vector<std::string>{"No Source Connection!", "No Target Connection!", "No Connection!"}));
}

// Row transfer into a replayed target that records the inserts it is given.
class TransferTest : public ShopDemoTest {
 protected:
  void SetUp() override {
    ShopDemoTest::SetUp();
    tabulon::testing::ConnectReplay(target_, target_script_);
    folder_ = std::filesystem::temp_directory_path() / ("tabulon_transfer_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    src_.owner.work_folder = folder_.string();
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::shared_ptr<tabulon::testing::ReplayScript> target_script_ = std::make_shared<tabulon::testing::ReplayScript>();
  data::DbConnection target_;
  std::filesystem::path folder_;
};

// Values as Access literals, NULLs and quotes, reach the target through the run-time statement
// (every value of a whole database, through the readers: tests/converters/flows_test.cpp).
TEST_F(TransferTest, RowsBecomeInsertsWithTheConditionApplied) {
  // The owner's condition for the database and table filters the select, '%' and all.
  std::vector<std::string> asked;
  src_.owner.condition = [&](std::string_view database, std::string_view table) {
    asked.push_back(std::string(database) + "." + std::string(table));
    return table == "Orders" ? "OrderID>2 and Notes like '%2'" : "";
  };
  src_.script->On("select * from [Orders] where OrderID>2 and Notes like '%2'")
      .Column("OrderID", data::DBTYPE_I4)
      .Column("CustomerID", data::DBTYPE_I4)
      .Column("OrderDate", data::DBTYPE_DBTIMESTAMP)
      .Column("Total", data::DBTYPE_NUMERIC)
      .Column("Notes", data::DBTYPE_STR, 0, data::DBCOLUMNFLAGS_ISLONG)
      .Row({"3", "2", "2011-03-23 17:45:30.997", "1234.56", "line 1\r\nline 2"})
      .Row({"4", "1", "2011-03-24 00:00:00.000", kNull, "it's 2"});
  target_script_->On("insert into `Orders` values (3,2,'2011-03-23 17:45:30.997',1234.56,'line 1\r\nline 2');\n")
      .NoRowset();
  target_script_->On("insert into `Orders` values (4,1,'2011-03-24 00:00:00.000',NULL,'it''s 2');\n").NoRowset();
  EXPECT_EQ(Shown(TransferTableRows(src_.owner, src_.session(), target_.session.get(), "ShopDemo", "Orders")), "true");
  EXPECT_EQ(asked, std::vector<std::string>{"ShopDemo.Orders"});
}

TEST_F(TransferTest, LongValuesArriveWholeAndFailedInsertsAreCounted) {
  const std::string long_text(20000, 'a');
  const std::string long_hex(30000, 'F');
  src_.script->On("select * from [Docs]")
      .Column("ID", data::DBTYPE_I4)
      .Column("Body", data::DBTYPE_WSTR, 0, data::DBCOLUMNFLAGS_ISLONG)
      .Column("Blob", data::DBTYPE_BYTES, 0, data::DBCOLUMNFLAGS_ISLONG)
      .Row({"1", long_text, long_hex})
      .Row({"2", "x", kNull})
      .Row({"3", "y", kNull});
  target_script_->On("insert into `Docs` values (1,'" + long_text + "',0x" + long_hex + ");\n").NoRowset();
  target_script_->On("insert into `Docs` values (2,'x',NULL);\n").Fails("The value of column ID is a duplicate.");
  target_script_->On("insert into `Docs` values (3,'y',NULL);\n").NoRowset();
  EXPECT_EQ(Shown(TransferTableRows(src_.owner, src_.session(), target_.session.get(), "ShopDemo", "Docs")), "true");
  EXPECT_EQ(OutputTexts(src_.pane),
            (std::vector<std::string>{"[Docs] Record 2 was not inserted: The value of column ID is a duplicate.",
                                      "[Docs] 1 records could not be inserted!",
                                      "[Docs] 2 records converted, convertion completed SUCCESSFULLY!"}));
}

// A stop between rows is in the flow tests (tests/converters).
TEST_F(TransferTest, ProgressEvery2000Rows) {
  src_.script->On("select * from [Big]").Column("ID", data::DBTYPE_I4).Generated(4000, [](size_t i, auto& values) {
    values[0] = std::to_string(i);
  });
  for (int i = 0; i < 4000; ++i)
    target_script_->On("insert into `Big` values (" + std::to_string(i) + ");\n").NoRowset();
  EXPECT_EQ(Shown(TransferTableRows(src_.owner, src_.session(), target_.session.get(), "ShopDemo", "Big")), "true");
  EXPECT_EQ(OutputTexts(src_.pane),
            (std::vector<std::string>{"[Big] 2000 records converted!", "[Big] 4000 records converted!",
                                      "[Big] 4000 records converted, convertion completed SUCCESSFULLY!"}));
}

TEST_F(TransferTest, AFailingSelectOrFetchFailsTheCopyWithTheProvidersText) {
  src_.script->On("select * from [Big]")
      .Column("ID", data::DBTYPE_I4)
      .Generated(3, [](size_t i, auto& values) { values[0] = std::to_string(i); })
      .FailsAtRow(2, "[FreeTDS][SQL Server]Communication link failure");
  for (int i = 0; i < 2; ++i) target_script_->On("insert into `Big` values (" + std::to_string(i) + ");\n").NoRowset();
  EXPECT_EQ(Shown(TransferTableRows(src_.owner, src_.session(), target_.session.get(), "ShopDemo", "Big")),
            "[FreeTDS][SQL Server]Communication link failure");
  EXPECT_EQ(OutputTexts(src_.pane).front(),
            "[Big] Reading rows failed after 2 records: [FreeTDS][SQL Server]Communication link failure");
  // A select that fails at once.
  src_.pane.Clear();
  EXPECT_EQ(Shown(TransferTableRows(src_.owner, src_.session(), target_.session.get(), "ShopDemo", "NoSuch")),
            "[FreeTDS][SQL Server]Invalid object name 'NoSuch'.");
  EXPECT_EQ(
      OutputTexts(src_.pane),
      std::vector<std::string>{"[NoSuch] Reading rows failed: [FreeTDS][SQL Server]Invalid object name 'NoSuch'."});
}

// A value read typed (the ODBC provider's typed rows) is stored as the text the driver gives for
// it would be: the same value in the Access column, whichever way the row was read.
TEST(SqlServerFieldsTest, TypedValuesStoreWhatTheirTextStores) {
  const auto typed_date = [](uint32_t fraction_ns) {
    data::Field f;
    data::DateParts d;
    d.year = 2011;
    d.month = 3;
    d.day = 23;
    d.hour = 17;
    d.minute = 45;
    d.second = 30;
    d.fraction_ns = fraction_ns;
    f.SetDate(d);
    return f;
  };
  const auto field = [](data::Field::Kind kind, std::string text) {
    data::Field f;
    f.SetText(kind, text);
    return f;
  };
  data::Field forty_two, one, tenth;
  forty_two.SetInteger(42);
  one.SetInteger(1);
  tenth.SetDouble(0.1);
  struct Case {
    data::DbType type;
    bool row_version;
    data::Field typed;
    std::string text;  // as a text rowset gives it
    jet::ColumnDefinition column;
  };
  using enum jet::ColumnType;
  const std::vector<Case> cases = {
      {data::DBTYPE_I4, false, forty_two, "42", jet::NewColumn("c", kLong)},
      {data::DBTYPE_I2, false, forty_two, "42", jet::NewColumn("c", kInteger)},
      {data::DBTYPE_R8, false, tenth, "0.1", jet::NewColumn("c", kDouble)},
      {data::DBTYPE_NUMERIC, false, field(data::Field::Kind::kNumber, "1234.56"), "1234.56",
       jet::NewColumn("c", kNumeric, 18, 2)},
      {data::DBTYPE_CY, false, field(data::Field::Kind::kNumber, "-0.0100"), "-0.0100", jet::NewColumn("c", kCurrency)},
      {data::DBTYPE_BOOL, false, one, "True", jet::NewColumn("c", kBoolean)},
      {data::DBTYPE_DBTIMESTAMP, false, typed_date(997'000'000), "2011-03-23 17:45:30.997", jet::NewColumn("c", kDateTime)},
      {data::DBTYPE_DBTIMESTAMP, false, typed_date(123'456'700), "2011-03-23 17:45:30.1234567",
       jet::NewColumn("c", kDateTime)},
      {data::DBTYPE_DBTIMESTAMP, false, typed_date(999'600'000), "2011-03-23 17:45:30.9996",
       jet::NewColumn("c", kDateTime)},
      {data::DBTYPE_BYTES, false, field(data::Field::Kind::kBytes, std::string("\0\xff", 2)), "00FF",
       jet::NewColumn("c", kBinary, 10)},
      {data::DBTYPE_BYTES, true, field(data::Field::Kind::kBytes, std::string("\0\0\0\0\0\0\x07\xd1", 8)),
       "00000000000007D1", jet::NewColumn("c", kText, 18)},
      {data::DBTYPE_WSTR, false, field(data::Field::Kind::kText, "it's"), "it's", jet::NewColumn("c", kText, 10)},
      {data::DBTYPE_GUID, false, field(data::Field::Kind::kText, "6F9619FF-8B86-D011-B42D-00C04FC964FF"),
       "6F9619FF-8B86-D011-B42D-00C04FC964FF", jet::NewColumn("c", kGuid)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    data::Field from_typed, from_text;
    WriteSqlServerField(c.type, c.row_version, c.typed, from_typed);
    WriteSqlServerField(c.type, c.row_version, field(data::Field::Kind::kText, c.text), from_text);
    Result<jet::Value> typed = data::ConvertField(from_typed, c.column);
    Result<jet::Value> text = data::ConvertField(from_text, c.column);
    ASSERT_TRUE(typed.ok()) << typed.status().ToString();
    ASSERT_TRUE(text.ok()) << text.status().ToString();
    EXPECT_TRUE(jet::SameValue(*typed, *text))
        << jet::FormatValue(*typed).value_or("NULL") << " vs " << jet::FormatValue(*text).value_or("NULL");
  }
}

}  // namespace
}  // namespace tabulon::source_sqlserver
