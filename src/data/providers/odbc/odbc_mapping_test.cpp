// Connection strings from properties, ODBC metadata to OLE DB codes and to typed reads, without
// a driver; and the typed reader over SQLite's driver as a driver with fewer SQLGetData rights.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
#include <unistd.h>

#include <filesystem>

#include "data/providers/odbc/odbc_connection_string.h"
#include "data/providers/odbc/odbc_provider.h"
#include "data/providers/odbc/odbc_typed_rows.h"
#include "data/providers/odbc/odbc_types.h"

namespace tabulon::data {
namespace {

PropertySet Init(std::initializer_list<std::pair<PropertyId, std::string>> strings) {
  PropertySet set(DBPROPSET_DBINIT);
  for (const auto& [id, value] : strings) set.AddString(id, value);
  return set;
}

TEST(OdbcConnectionStringTest, SqlServerForFreeTds) {
  PropertySet set = Init({{DBPROP_INIT_DATASOURCE, "db.local,1444"},
                          {DBPROP_INIT_CATALOG, "Shop"},
                          {DBPROP_AUTH_USERID, "sa"},
                          {DBPROP_AUTH_PASSWORD, "p;w}d"}});
  Result<std::string> s = BuildSqlServerConnectionString({&set, 1}, "FreeTDS");
  ASSERT_TRUE(s.ok());
  EXPECT_EQ(*s,
            "Driver=FreeTDS;Server=db.local;Port=1444;Database=Shop;UID=sa;PWD={p;w}}d};"
            "ClientCharset=UTF-8;TDS_Version=7.4");

  PropertySet colon = Init({{DBPROP_INIT_DATASOURCE, "127.0.0.1:1500"}});
  EXPECT_EQ(*BuildSqlServerConnectionString({&colon, 1}, "FreeTDS"),
            "Driver=FreeTDS;Server=127.0.0.1;Port=1500;ClientCharset=UTF-8;TDS_Version=7.4");
  PropertySet instance = Init({{DBPROP_INIT_DATASOURCE, "host\\SQLEXPRESS"}});
  EXPECT_NE(BuildSqlServerConnectionString({&instance, 1}, "FreeTDS")->find("Server=host\\SQLEXPRESS;"),
            std::string::npos);

  PropertySet empty = Init({});
  EXPECT_FALSE(BuildSqlServerConnectionString({&empty, 1}, "FreeTDS").ok());
  PropertySet bad_port = Init({{DBPROP_INIT_DATASOURCE, "host,12a"}});
  EXPECT_FALSE(BuildSqlServerConnectionString({&bad_port, 1}, "FreeTDS").ok());
}

TEST(OdbcConnectionStringTest, GenericFromStringOrDsn) {
  PropertySet full = Init({{DBPROP_INIT_DATASOURCE, "Driver=SQLite3;Database=/tmp/a.db"}, {DBPROP_AUTH_USERID, "u"}});
  EXPECT_EQ(*BuildGenericConnectionString({&full, 1}), "Driver=SQLite3;Database=/tmp/a.db;UID=u");
  PropertySet provider_string =
      Init({{DBPROP_INIT_PROVIDERSTRING, ";Driver={SQL Server};Server=h;Database=d;"}, {DBPROP_INIT_CATALOG, "other"}});
  // "{SQL Server}" is the Windows driver's name: it is served by FreeTDS here.
  EXPECT_EQ(*BuildGenericConnectionString({&provider_string, 1}),
            "Driver=FreeTDS;Server=h;Database=d;ClientCharset=UTF-8;TDS_Version=7.4");
  PropertySet dsn = Init({{DBPROP_INIT_DATASOURCE, "My DSN"}, {DBPROP_INIT_CATALOG, "c"}, {DBPROP_AUTH_PASSWORD, "x"}});
  EXPECT_EQ(*BuildGenericConnectionString({&dsn, 1}), "DSN=My DSN;PWD=x;Database=c");
  PropertySet none = Init({});
  EXPECT_FALSE(BuildGenericConnectionString({&none, 1}).ok());

  EXPECT_TRUE(HasOdbcKey("Driver={a;PWD=b};pwd=c", "PWD"));
  EXPECT_FALSE(HasOdbcKey("Driver={a;PWD=b}", "PWD"));
  EXPECT_EQ(EscapeOdbcValue("plain"), "plain");
  EXPECT_EQ(EscapeOdbcValue(" lead"), "{ lead}");
}

TEST(OdbcConnectionStringTest, LoginTimeout) {
  PropertySet set(DBPROPSET_DBINIT);
  EXPECT_EQ(LoginTimeoutSeconds({&set, 1}), 15);
  set.AddI4(DBPROP_INIT_TIMEOUT, 3);
  EXPECT_EQ(LoginTimeoutSeconds({&set, 1}), 3);
}

ColumnInfo Map(std::int16_t type, std::uint64_t size, std::int16_t digits = 0, std::int16_t nullable = SQL_NULLABLE,
               std::string_view type_name = {}) {
  ColumnInfo c;
  MapOdbcColumn({type, size, digits, nullable, SQL_ATTR_READWRITE_UNKNOWN, type_name}, c);
  return c;
}

// The type table itself is data; these are the rules around it.
TEST(OdbcTypesTest, SizesNullabilityLongValuesAndNamedTypes) {
  constexpr std::uint32_t kFixed = DBCOLUMNFLAGS_ISFIXEDLENGTH, kUnknown = DBCOLUMNFLAGS_WRITEUNKNOWN;
  const ColumnInfo varchar = Map(SQL_VARCHAR, 50);
  EXPECT_EQ(varchar.type, DBTYPE_STR);
  EXPECT_EQ(varchar.size, 50u);
  EXPECT_EQ(varchar.flags, DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL | kUnknown);
  EXPECT_EQ(Map(SQL_WCHAR, 10, 0, SQL_NO_NULLS).flags, kFixed | kUnknown);
  EXPECT_EQ(Map(SQL_INTEGER, 10, 0, SQL_NULLABLE_UNKNOWN).flags, kFixed | DBCOLUMNFLAGS_MAYBENULL | kUnknown);

  // varchar(max) reports size 0 and sizes past 1 GB mean unlimited: long, and fixed no more;
  // text and blobs are long by type whatever size they report.
  for (const ColumnInfo& c : {Map(SQL_VARCHAR, 0), Map(SQL_CHAR, 0), Map(SQL_WVARCHAR, 0x40000000),
                              Map(SQL_WLONGVARCHAR, 100), Map(SQL_LONGVARBINARY, 2147483647)}) {
    EXPECT_EQ(c.flags & (DBCOLUMNFLAGS_ISLONG | kFixed), DBCOLUMNFLAGS_ISLONG);
    EXPECT_EQ(c.size, kLongColumnSize);
  }
  EXPECT_EQ(Map(SQL_WVARCHAR, 0x3FFFFFFF).size, 0x3FFFFFFFu);

  // SQL Server's rowversion is binary(8) named "timestamp"; money is a decimal by type.
  EXPECT_TRUE(Map(SQL_BINARY, 8, 0, SQL_NO_NULLS, "timestamp").flags & DBCOLUMNFLAGS_ISROWVER);
  EXPECT_FALSE(Map(SQL_BINARY, 8).flags & DBCOLUMNFLAGS_ISROWVER);
  const ColumnInfo money = Map(SQL_DECIMAL, 19, 4, SQL_NULLABLE, "money");
  EXPECT_EQ(money.type, DBTYPE_CY);
  EXPECT_EQ(money.size, 8u);

  // Precision and scale come from the driver, clamped to a byte; timestamps keep their scale.
  const ColumnInfo decimal = Map(SQL_NUMERIC, 12, 2);
  EXPECT_EQ(decimal.type, DBTYPE_NUMERIC);
  EXPECT_EQ(decimal.precision, 12);
  EXPECT_EQ(decimal.scale, 2);
  const ColumnInfo odd = Map(SQL_DECIMAL, 1000, -3);
  EXPECT_EQ(odd.precision, 254);
  EXPECT_EQ(odd.scale, 0);
  EXPECT_EQ(Map(SQL_TYPE_TIMESTAMP, 23, 3).scale, 3);
  EXPECT_EQ(Map(SQL_TYPE_TIMESTAMP, 23, 3).size, 16u);
  EXPECT_EQ(Map(SQL_FLOAT, 53).type, DBTYPE_R8);  // ODBC's FLOAT is a double
  EXPECT_EQ(Map(SQL_BIT, 1).size, 2u);
  EXPECT_EQ(Map(12345, 20).type, DBTYPE_STR);  // unknown types arrive as text
}

TEST(OdbcTypesTest, BlocksHoldAtLeastOneRow) {
  EXPECT_EQ(OdbcBlockRows(0), 1u);
  EXPECT_EQ(OdbcBlockRows(500), 1u);
}

using Kind = Field::Kind;

OdbcTypedColumn Plan(std::int16_t type, std::uint64_t size, std::string_view type_name = {}, bool is_unsigned = false,
                     bool by_text = false) {
  return PlanOdbcTypedColumn({type, size, 0, SQL_NULLABLE, SQL_ATTR_READWRITE_UNKNOWN, type_name}, is_unsigned,
                             by_text);
}

TEST(OdbcTypedRowsTest, ColumnsAreReadByTheirSqlType) {
  struct Case {
    OdbcTypedColumn plan;
    Kind kind;
    SQLSMALLINT c_type;
    size_t width;  // 0: read whole
  };
  const Case cases[] = {
      {Plan(SQL_INTEGER, 10), Kind::kInteger, SQL_C_SBIGINT, 8},
      {Plan(SQL_BIT, 1), Kind::kInteger, SQL_C_BIT, 1},
      {Plan(SQL_BIGINT, 19), Kind::kInteger, SQL_C_SBIGINT, 8},
      {Plan(SQL_BIGINT, 20, "bigint unsigned", true), Kind::kNumber, SQL_C_CHAR, 81},  // may pass int64
      {Plan(SQL_DOUBLE, 15), Kind::kDouble, SQL_C_DOUBLE, 8},
      {Plan(SQL_FLOAT, 10, "money"), Kind::kNumber, SQL_C_CHAR, 64},  // PostgreSQL's "$12.50"
      {Plan(SQL_DECIMAL, 38, "money"), Kind::kNumber, SQL_C_CHAR, 153},
      {Plan(SQL_TYPE_DATE, 10), Kind::kDate, SQL_C_TYPE_TIMESTAMP, sizeof(SQL_TIMESTAMP_STRUCT)},
      {Plan(SQL_VARBINARY, 16), Kind::kBytes, SQL_C_BINARY, 16},
      {Plan(SQL_VARBINARY, 0), Kind::kBytes, SQL_C_BINARY, 0},  // varbinary(max)
      {Plan(SQL_LONGVARBINARY, 100), Kind::kBytes, SQL_C_BINARY, 0},
      {Plan(SQL_WVARCHAR, 4000), Kind::kText, SQL_C_CHAR, 16001},
      {Plan(SQL_VARCHAR, 8001), Kind::kText, SQL_C_CHAR, 0},
      {Plan(SQL_GUID, 36), Kind::kText, SQL_C_CHAR, 145},
      {Plan(SQL_TYPE_TIME, 8), Kind::kText, SQL_C_CHAR, 64},
      {Plan(SQL_INTEGER, 10, {}, false, true), Kind::kInteger, SQL_C_CHAR, 64},  // SQLite: typed from text
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(c.plan.kind, c.kind) << i;
    EXPECT_EQ(c.plan.c_type, c.c_type) << i;
    EXPECT_EQ(c.plan.whole ? 0 : c.plan.width, c.width) << i;
  }
  // About 1 MB a block, at most 1000 rows; columns read whole take no room.
  EXPECT_EQ(OdbcTypedBlockRows(std::vector<OdbcTypedColumn>(4, cases[0].plan)), 1000u);
  EXPECT_EQ(OdbcTypedBlockRows(std::vector<OdbcTypedColumn>{cases[11].plan, cases[12].plan}),
            (1u << 20) / (16001 + sizeof(SQLLEN)));
  EXPECT_EQ(OdbcTypedBlockRows(std::vector<OdbcTypedColumn>{cases[12].plan}), 1u);
}

TEST(OdbcTypedRowsTest, TextIsTypedByItsColumnsKindOrKeptAsItIs) {
  struct Case {
    Kind column;
    std::string_view text;
    Kind kind;
  };
  const Case cases[] = {
      {Kind::kInteger, "-9223372036854775808", Kind::kInteger},
      {Kind::kInteger, "9223372036854775808", Kind::kNumber},
      {Kind::kInteger, "3.7", Kind::kNumber},
      {Kind::kInteger, "abc", Kind::kText},
      {Kind::kInteger, "12 ", Kind::kText},
      {Kind::kDouble, "-1.5e-3", Kind::kDouble},
      {Kind::kDouble, "1e999", Kind::kNumber},
      {Kind::kDouble, "inf", Kind::kText},
      {Kind::kNumber, "NaN", Kind::kText},
      {Kind::kNumber, "$12.50", Kind::kText},
      {Kind::kNumber, ".5", Kind::kNumber},
      {Kind::kNumber, "1e", Kind::kText},
      {Kind::kDate, "2024-02-29", Kind::kDate},
      {Kind::kDate, "2023-02-29", Kind::kText},
      {Kind::kDate, "2020-01-02T03:04:05.1234567891", Kind::kDate},
      {Kind::kDate, "2020-01-02 03:04", Kind::kDate},
      {Kind::kDate, "2020-01-02 24:00:00", Kind::kText},
      {Kind::kDate, "2020-01-02 03:04:05.", Kind::kText},
      {Kind::kDate, "2459000.5", Kind::kText},
      {Kind::kDate, "2020-01-02Z", Kind::kText},
  };
  for (const Case& c : cases) {
    Field field;
    SetFieldFromText(c.column, c.text, field);
    EXPECT_EQ(field.kind, c.kind) << c.text;
    if (field.kind == Kind::kNumber || field.kind == Kind::kText) {
      EXPECT_EQ(field.text, c.text);
    }
  }
  Field field;
  SetFieldFromText(Kind::kDate, "2020-01-02T03:04:05.1234567891", field);
  EXPECT_EQ(field.date.second, 5);
  EXPECT_EQ(field.date.fraction_ns, 123456789u);
  SetFieldFromText(Kind::kInteger, "-9223372036854775808", field);
  EXPECT_EQ(field.integer, INT64_MIN);
}

// SQLite's driver standing in for one that allows SQLGetData only after the last bound column
// and never on a bound one: the columns from the first long value on are read after the fetch,
// in order, and a value longer than its buffer fails the fetch rather than arriving cut.
TEST(OdbcTypedReaderTest, ADriverWithFewerGetDataRightsStillGivesWholeValuesOrFails) {
  const std::string path =
      std::filesystem::temp_directory_path() / ("tabulon_typed_" + std::to_string(getpid()) + ".db");
  std::filesystem::remove(path);
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)));
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc)));
  std::string connect = "Driver=SQLite3;Database=" + path;
  if (!SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(connect.data()), SQL_NTS, nullptr, 0,
                                      nullptr, SQL_DRIVER_NOPROMPT))) {
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    GTEST_SKIP() << "the SQLite3 ODBC driver is not installed";
  }
  ASSERT_TRUE(SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt)));
  const std::string long_text(100, 'v');
  const auto run = [&](std::string sql) {
    SQLFreeStmt(stmt, SQL_CLOSE);
    return SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS));
  };
  ASSERT_TRUE(run("create table t(id integer, note text, v varchar(5))"));
  ASSERT_TRUE(run("insert into t values (1, 'a note', 'short'), (2, NULL, '" + long_text + "')"));

  const OdbcDriverTraits bare;  // no SQL_GD_* rights, types and sizes kept
  const OdbcTypedColumn id = Plan(SQL_INTEGER, 10), note = Plan(SQL_LONGVARCHAR, 65536), v = Plan(SQL_VARCHAR, 5);
  std::vector<Field> row;
  std::vector<std::string> errors;
  ASSERT_TRUE(run("select note, id, v from t order by id"));
  {
    OdbcTypedReader reader(stmt, {note, id, v}, {"note", "id", "v"}, bare);
    ASSERT_EQ(reader.FetchNext(row, errors), S_OK);
    EXPECT_EQ(row[0].text + "|" + std::to_string(row[1].integer) + "|" + row[2].text, "a note|1|short");
    ASSERT_EQ(reader.FetchNext(row, errors), S_OK);
    EXPECT_TRUE(row[0].is_null());
    EXPECT_EQ(row[1].integer, 2);
    EXPECT_EQ(row[2].text, long_text);
    EXPECT_EQ(reader.FetchNext(row, errors), DB_S_ENDOFROWSET);
    EXPECT_EQ(reader.block_rows(), 1u);
  }
  ASSERT_TRUE(run("select id, v from t order by id"));
  {
    OdbcTypedReader reader(stmt, {id, v}, {"id", "v"}, bare);
    ASSERT_EQ(reader.FetchNext(row, errors), S_OK);
    EXPECT_GT(reader.block_rows(), 1u);
    EXPECT_EQ(reader.FetchNext(row, errors), E_FAIL);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("column 'v' is longer than the column's declared size"), std::string::npos) << errors[0];
  }
  SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace tabulon::data
