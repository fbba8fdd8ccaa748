// Connection strings from properties and ODBC metadata to OLE DB codes, without a driver.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "data/providers/odbc/odbc_connection_string.h"
#include "data/providers/odbc/odbc_provider.h"
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

}  // namespace
}  // namespace tabulon::data
