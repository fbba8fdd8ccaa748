// Opens an .mdb with the independent readers (npm mdb-reader, Debian mdbtools) so tests can
// compare what the engine wrote with what other programs read, value by value.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/schema.h"

namespace tabulon::testing {

// One value as a reader reports it, as text; nullopt is NULL.
using ReaderValue = std::optional<std::string>;

struct ReaderColumn {
  std::string name;
  std::string type;  // the reader's own type word ("long", "text", ... for mdb-reader)
};

struct ReaderTable {
  std::string name;
  long row_count = -1;  // as the reader reports it from the table definition
  std::vector<ReaderColumn> columns;
  std::vector<std::vector<ReaderValue>> rows;
};

// Every function below that reads a file first runs the engine's integrity check on it (once
// per version of the file) and fails with its problems: a test cannot call a file good on the
// lenient readers' word alone.
Status CheckBeforeReading(const std::string& path);

// True when node and the installed mdb-reader package are present.
bool MdbReaderAvailable();
// True when mdbtools' programs are on the PATH.
bool MdbToolsAvailable();

// Every user table with all rows, read by mdb-reader. Values: integers in decimal; Single and
// Double as JavaScript prints the number; Currency and Numeric as exact decimals without
// trailing zeros; Boolean "true"/"false"; DateTime "YYYY-MM-DD HH:MM:SS[.fff]" (UTC of the
// reader's own day-to-instant conversion); Text/Memo as UTF-8; Binary/OLE as lower-case hex;
// GUID "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
Result<std::vector<ReaderTable>> ReadWithMdbReader(const std::string& path);

// mdb-ver's answer, e.g. "JET4".
Result<std::string> MdbToolsVersion(const std::string& path);
// mdb-tables' list of user tables.
Result<std::vector<std::string>> MdbToolsTables(const std::string& path);
// mdb-schema's text.
// `backend` as mdb-schema takes it ("postgres", "mysql", ...); its default, "access", prints
// no indexes.
Result<std::string> MdbToolsSchema(const std::string& path, const std::string& backend = "");
// mdb-prop's listing of an object's properties: its own map ("name: (none)"), then each column's.
Result<std::string> MdbToolsProperties(const std::string& path, const std::string& object);
// mdb-queries: the names of the saved queries, and the SQL mdbtools rebuilds for one of them
// (joins come back as a plain FROM list; its own rendering, not the stored text).
Result<std::vector<std::string>> MdbToolsQueries(const std::string& path);
Result<std::string> MdbToolsQuerySql(const std::string& path, const std::string& query);
// mdb-export of one table: header names and rows of mdbtools' text (dates as
// "YYYY-MM-DD HH:MM:SS", binary as upper-case hex, escapes undone); NULL as nullopt.
Result<ReaderTable> MdbToolsExport(const std::string& path, const std::string& table);

// A whole-database dump by the independent readers, as text to compare two files with: every
// user table (columns with their stored types and flags, indexes with key columns and flags,
// stored row count, last AutoNumber, every row), relationships, saved queries with their
// MSysQueries rows (tests/readers/mdb_full_dump.mjs), and mdbtools' properties of every table
// and query and its SQL of every query. Object ids, pages and dates are not in it.
Result<std::string> FullDump(const std::string& path);

// The text mdb-reader gives for an engine value of a column (see ReadWithMdbReader).
ReaderValue ExpectedMdbReaderText(const jet::Value& value);
// JavaScript's Number.prototype.toString for a double.
std::string FormatJsNumber(double value);

// Compares one table of a file with what the engine meant to write: both readers must list the
// table, report the columns with their types, and give back every row value. Rows are compared
// in order. Known reader limits are allowed for (mdbtools: "" reads as NULL, dates before
// 1900-01-01, float and double printed with fewer digits, "??" for a character beyond the
// Basic Multilingual Plane). Returns "" when all agree, else the first difference.
// `mdb_reader_tables`: what ReadWithMdbReader gave for the file, when the caller compares
// several tables of a large file (null: the file is read for this table).
std::string CompareTableWithReaders(const std::string& path, const std::string& table,
                                    const std::vector<jet::ColumnDefinition>& columns,
                                    const std::vector<jet::Row>& rows,
                                    const std::vector<ReaderTable>* mdb_reader_tables = nullptr);

}  // namespace tabulon::testing
