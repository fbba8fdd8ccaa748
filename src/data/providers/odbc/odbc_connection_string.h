// Turning DBPROPSET_DBINIT properties into an ODBC connection string.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "base/status.h"
#include "data/properties.h"

namespace tabulon::data {

// A value as a connection string may hold it: in braces (with '}' doubled) when it has
// characters that would end or confuse the attribute, as is otherwise.
std::string EscapeOdbcValue(std::string_view value);

// True when `connection_string` sets `key` (keys compare without regard to case).
bool HasOdbcKey(std::string_view connection_string, std::string_view key);

// For a SQL Server driver: Driver=<driver>;Server=<host>[;Port=<port>][;Database=..][;UID=..]
// [;PWD=..];ClientCharset=UTF-8;TDS_Version=7.4. The data source may be "host", "host,port",
// "host:port" or "host\instance".
Result<std::string> BuildSqlServerConnectionString(std::span<const PropertySet> sets, std::string_view driver);

// For MSDASQL: the provider string, or a data source that is itself a connection string, or
// DSN=<data source>; UID, PWD and DATABASE are added when the string does not set them.
Result<std::string> BuildGenericConnectionString(std::span<const PropertySet> sets);

// The SQL Server ODBC driver the program uses: $TABULON_SQLSERVER_DRIVER when set (for example
// "ODBC Driver 18 for SQL Server"), else "FreeTDS".
std::string SqlServerDriverName();

// A connection string that names the Windows driver "SQL Server" (as the TCP/IP:Port setting
// writes it) rewritten for `driver`: the driver name replaced and, for FreeTDS, which ignores
// Address= in a connection string, "Address=host,port" turned into Server= and Port=, with
// ClientCharset=UTF-8 and TDS_Version=7.4 added. Other strings are returned unchanged.
std::string MapSqlServerDriver(std::string_view connection_string, std::string_view driver);

// DBPROP_INIT_TIMEOUT, or 15 seconds.
int LoginTimeoutSeconds(std::span<const PropertySet> sets);

}  // namespace tabulon::data
