// Turning a SQLite table, its rows, views, keys, unique indexes and relationships into Access
// statements. Each operation reads the SQLite catalogue (the table_xinfo, index_list,
// index_xinfo and foreign_key_list pragmas and sqlite_master) through the source session and
// returns statement text of the same shapes the SQL Server adapter returns, or a failure text
// the caller reports.
//
// Access types come from the declared types, checked against what the columns hold, since
// SQLite keeps any value in any column:
//   INT, INTEGER (any name holding INT)      Long; Short / Byte for SMALLINT / TINYINT; widened
//                                            to the next type that holds the stored integers
//                                            (past 32 bits: Numeric(19,0), Long without Jet)
//   BIGINT, INT8, UNSIGNED BIG INT           Numeric(19,0) (Long without Jet), as SQL Server's
//   REAL, DOUBLE, FLOAT                      Double
//   DECIMAL, NUMERIC(p,s), p up to 28        Numeric(p,s) (Numeric without Jet); without a
//                                            usable precision Double
//   MONEY, CURRENCY                          Currency
//   BOOLEAN, BOOL, BIT                       Bit (Yes/No)
//   DATE, DATETIME, TIMESTAMP, TIME          DateTime
//   CHAR, VARCHAR, NVARCHAR, ... (n)         VarChar(n), n widened to the longest stored text;
//                                            past 255 characters, or without a length, LongText
//   TEXT, CLOB                               LongText
//   BLOB                                     LongBinary (Binary(n) for BINARY(n) up to 255);
//                                            LongText when every stored value is text
//   no declared type, or another name        by content: integers as INTEGER above, numbers
//                                            Double, only blobs LongBinary, otherwise LongText
// The rowid alias (a sole INTEGER PRIMARY KEY) becomes an AutoNumber when its values fit a Long.
// The user's type map (source_common/type_map.h), matched against the declared type's words and
// first number, comes before all of this.
// Defaults: numbers, strings, TRUE/FALSE, CURRENT_TIMESTAMP / CURRENT_DATE / CURRENT_TIME (and
// datetime('now'), date('now'), time('now')) as Now() / Date() / Time(); anything else is left
// out with a line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "data/provider.h"
#include "data/providers/sqlite/sqlite_types.h"
#include "data/statement.h"
#include "source_common/check_rules.h"
#include "source_common/row_copy.h"
#include "source_common/source_context.h"
#include "source_common/translation.h"
#include "viewsql/translate.h"

namespace tabulon::source_sqlite {

using source_common::SourceContext;
using source_common::SourceTable;
using source_common::Translation;

// "name" with every '"' doubled, for SQLite statements.
std::string QuoteSqliteName(std::string_view name);
// 'text' with every ' doubled.
std::string SqliteString(std::string_view text);

// --- catalogue statements sent to SQLite ------------------------------------------------------

// One row per column: name, declared type, notnull, dflt_value, pk (hidden columns of virtual
// tables left out).
std::string BuildColumnsStatement(const SourceTable& table);
// One row per index of `table` in the order they were made: name, unique, origin, partial.
std::string BuildIndexListStatement(const SourceTable& table);
// The key columns of index `index` in key order: name (NULL for an expression), desc.
std::string BuildIndexColumnsStatement(std::string_view index);
// One row per column pair of every foreign key of `table`, in the order the keys were
// declared: id, seq, referenced table, column, referenced column (NULL: the primary key),
// on_update, on_delete.
std::string BuildForeignKeysStatement(const SourceTable& table);
// One row, one number: the foreign keys of `table` plus those that refer to it.
std::string BuildForeignKeyCountStatement(const SourceTable& table);
// The rows of `table` under `condition` and, per column, its values that are not NULL and their
// total length: count(*), then count(c), total(length(c)).
std::string BuildMeasureRowsStatement(const SourceTable& table, const std::vector<std::string>& columns,
                                      std::string_view condition);
// The CREATE VIEW text of `view` from sqlite_master.
std::string BuildViewTextStatement(const SourceTable& view);

// The CHECK constraints of a CREATE TABLE text, column ones and table ones in the order written;
// none when the text cannot be read.
std::vector<source_common::SourceCheck> CheckClauses(std::string_view create_table);

// --- choosing Access types --------------------------------------------------------------------

// How a column's values are written into an INSERT.
enum class ValueForm { kNumber, kText, kBinary, kDate };

// What the stored values of one column are (NULLs not counted).
struct ColumnContent {
  std::optional<std::int64_t> min_integer, max_integer;
  std::int64_t longest = 0;  // characters of the longest text, bytes of the longest blob
  std::int64_t integers = 0, reals = 0, texts = 0, blobs = 0;
};

struct AccessType {
  std::string type;          // "Long", "VarChar", "Numeric(10,2)", ...
  std::string length = " ";  // "(n)" or one blank
  ValueForm form = ValueForm::kText;
};
AccessType ChooseAccessType(const data::SqliteDeclaredType& declared, const ColumnContent& content, bool jet_target);
// True when ChooseAccessType looks at the content of a column of this declared type; `for_form`:
// only where the content decides how values are written.
bool NeedsContent(const data::SqliteDeclaredType& declared, bool for_form);

// The Access form of a stored SQLite default: nullopt when Access could not evaluate it; ""
// when there is no default to give (NULL).
std::optional<std::string> TranslateDefault(std::string_view definition);

// A stored date as an Access date literal (#YYYY-MM-DD HH:MM:SS[.fff]#). Text in SQLite's time
// formats (YYYY-MM-DD, optionally with HH:MM[:SS[.fff]] after a blank or a T, and a time zone
// Z or +HH:MM, turned to UTC as SQLite does; a time alone lies on 1899-12-30, the day Access
// keeps times of day on), or a number: a Julian day number below 5373484.5, otherwise Unix
// seconds. An error for anything else and for dates outside Access's years 100 to 9999.
Result<std::string> AccessDateLiteral(std::string_view stored);
// The same reading of a stored value as it was fetched (text, a number, or bytes read as their
// hexadecimal text), as the date and time Access stores.
Result<data::DateParts> AccessDate(const data::Field& stored);

// --- translations -----------------------------------------------------------------------------

// Each translation reads through the source session (never null: the flows check it) and
// returns a Translation, or an error with the provider's words when the catalogue cannot be read.

// The Access CREATE TABLE statement of `table`.
Result<Translation> TranslateTableDefinition(const SourceContext& owner, data::Session* source,
                                             std::string_view database, const SourceTable& table);

// The select a row copy of `table` reads, opened for typed rows (the migration condition applied;
// no rowset when it yields none), with one writer per column; an error with the provider's words.
Status OpenCopyRows(const SourceContext& owner, data::Session* source, std::string_view database,
                    const SourceTable& table, source_common::CopySource* rows);

// The rows a copy of `table` reads and what each column's values take (characters of text, bytes
// of blobs and numbers' text), counted by SQLite.
Result<source_common::SourceVolume> MeasureRows(const SourceContext& owner, data::Session* source,
                                                std::string_view database, const SourceTable& table);

// Copies the rows of `table` (filtered by its migration condition) into the Access table of the
// same name, one INSERT per row; a value that cannot be written as its column's Access value
// (a date that cannot be read) fails its row with the usual "Record n was not inserted" line.
// The counts (all zero when the select yields no rowset), or an error ("No Source Connection!",
// "No Target Connection!", or the provider's words) when it could not read or store the rows.
Result<source_common::RowCopyCounts> TransferTableRows(const SourceContext& owner, data::Session* source,
                                                       data::Session* target, std::string_view database,
                                                       const SourceTable& table);

// "CREATE VIEW `v` AS SELECT ..." with names in backquotes and comments removed; nothing when
// there is no such view; unsupported ("NO SUPPORT! VIEW [v]: ...") when Access cannot hold the
// view's SELECT.
Result<Translation> TranslateViewDefinition(const SourceContext& owner, data::Session* source,
                                            std::string_view database, const SourceTable& view);
// The rewriting itself: the Access CREATE VIEW `view` for SQLite's text, or why Access cannot
// hold it; names and column classes from `catalog`.
Result<std::string> RewriteViewForAccess(std::string_view view, std::string_view create_view,
                                         const viewsql::Catalog& catalog = {});

// "alter table `T` add PRIMARY KEY(`a`,`b`)\n", or nothing.
Result<Translation> TranslatePrimaryKey(const SourceContext& owner, data::Session* source, std::string_view database,
                                        const SourceTable& table);
// One CREATE [UNIQUE] INDEX per index that is not the primary key, separated by ";"; partial and
// expression indexes, and others Access cannot hold, are left out with a note.
Result<Translation> TranslateUniqueIndexes(const SourceContext& owner, data::Session* source, std::string_view database,
                                           const SourceTable& table);
// Records the column names of `table` in the migration's Access names (owner.names), reading them
// unless they are known; nothing without owner.names.
Status RecordColumnNames(const SourceContext& owner, data::Session* source, const SourceTable& table);

// Validation rules from the CHECK constraints of `table` (source_common/check_rules.h); the
// built-in engine only.
Result<Translation> TranslateCheckConstraints(const SourceContext& owner, data::Session* source,
                                              std::string_view database, const SourceTable& table);
// The places in `views` of the views that views[view] reads, from its text (no line written).
Result<std::vector<size_t>> ViewsRead(const SourceContext& owner, data::Session* source, std::string_view database,
                                      const std::vector<SourceTable>& views, size_t view);

// One ALTER TABLE ... FOREIGN KEY per foreign key of `table`, separated by ";", named
// FK_<table>_<referenced table> after their Access names (a second key to the same table gets "_2", and so on).
Result<Translation> TranslateForeignKeys(const SourceContext& owner, data::Session* source, std::string_view database,
                                         const SourceTable& table);

}  // namespace tabulon::source_sqlite
