// Turning a SQL Server table, its rows, views, keys, unique indexes and relationships into
// Access statements. Each operation reads the SQL Server catalogue through the source session
// (never null: the flows check it) and returns a Translation for the target, or an error with
// the provider's words when the catalogue cannot be read; the catalogue statements themselves
// are built by the Build*Statement functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "data/provider.h"
#include "data/statement.h"
#include "source_common/row_copy.h"
#include "source_common/translation.h"
#include "source_sqlserver/source_context.h"
#include "source_sqlserver/sql_names.h"

namespace tabulon::source_sqlserver {

using source_common::Translation;

// --- catalogue statements sent to SQL Server ---------------------------------------------------

// One row per column of `table`, in column order, with the facts ColumnFacts holds (name, type id,
// type name, declared type name, max_length, precision, scale, is_nullable, is_identity, seed,
// increment, has_default, the default's definition, collation).
std::string BuildColumnsStatement(const SourceTable& table);
// The largest absolute value of `column`, as text (for decimals wider than Access holds).
std::string BuildLargestValueStatement(const SourceTable& table, std::string_view column);
std::string BuildSelectRowsStatement(const SourceTable& table, std::string_view condition);
// The rows of `table` under `condition` and, per column, its values that are not NULL and their
// total data length in bytes: count_big(*), then count_big(datalength(c)), sum(datalength(c)).
std::string BuildMeasureRowsStatement(const SourceTable& table, const std::vector<std::string>& columns,
                                      std::string_view condition);
std::string BuildHelpTextStatement(const SourceTable& view);
std::string BuildHelpConstraintStatement(const SourceTable& table);
// One row per column of every index of `table` (heaps and hypothetical ones aside), in index
// order, key columns in key order before included ones: name, index_id, type, type_desc,
// is_unique, is_primary_key, has_filter, is_disabled, column, key_ordinal, is_descending_key,
// is_included_column, and the number of foreign keys from and to the table.
std::string BuildIndexesStatement(const SourceTable& table);
// One row per column pair of every foreign key of `table`, in key order: constraint, column,
// referenced schema, table and column, delete and update action, is_disabled, is_not_trusted.
std::string BuildForeignKeysStatement(const SourceTable& table);
// The MS_Description properties of `table` (column NULL) and its columns: column, text.
std::string BuildDescriptionsStatement(const SourceTable& table);
// The CHECK constraints of `table` (sys.check_constraints) in the order they were made: name,
// definition, is_disabled.
std::string BuildCheckConstraintsStatement(const SourceTable& table);

// --- translations --------------------------------------------------------------------------

// The Access form of a stored SQL Server default definition: the outer parentheses removed,
// getdate()/sysdatetime()/current_timestamp as Now(), newid()/newsequentialid() as GenGUID(),
// N'..' as '..'. nullopt when Access could
// not evaluate it; "" when there is no default to give (NULL).
std::optional<std::string> TranslateDefault(std::string_view definition);

// The Access CREATE TABLE statement of `table`; nothing when the catalogue query yields no
// rowset.
Result<Translation> TranslateTableDefinition(const SourceContext& owner, data::Session* source,
                                             std::string_view database, const SourceTable& table);

// The select a row copy of `table` reads, opened for typed rows where the provider has them (the
// migration condition applied; no rowset when it yields none), with one writer per column; an
// error with the provider's words.
Status OpenCopyRows(const SourceContext& owner, data::Session* source, std::string_view database,
                    const SourceTable& table, source_common::CopySource* rows);

// The rows a copy of `table` reads and what each column's values take (characters for the
// character types, bytes for the others), counted by the server.
Result<source_common::SourceVolume> MeasureRows(const SourceContext& owner, data::Session* source,
                                                std::string_view database, const SourceTable& table);

// Copies the rows of `table` (filtered by its migration condition) into the Access table of the
// same name (source_common::CopyRows), writing its own lines. The counts
// when the copy ran to its end or was stopped (all zero when the select yields no rowset); an
// error ("No Source Connection!", "No Target Connection!", or the provider's words) when it
// could not read or store the rows.
Result<source_common::RowCopyCounts> TransferTableRows(const SourceContext& owner, data::Session* source,
                                                       data::Session* target, std::string_view database,
                                                       const SourceTable& table);

// The field a fetched value (typed, or the provider's text of it) gives for a column of OLE DB
// type `type`; `row_version` for a rowversion column, whose Access column is text.
void WriteSqlServerField(data::DbType type, bool row_version, const data::Field& value, data::Field& out);

// The definition of `view` as one text, comments removed, ready to run on the target.
Result<Translation> TranslateViewDefinition(const SourceContext& owner, data::Session* source,
                                            std::string_view database, const SourceTable& view);

// "alter table `T` add PRIMARY KEY(`a`,`b`)\n", or nothing.
Result<Translation> TranslatePrimaryKey(const SourceContext& owner, data::Session* source, std::string_view database,
                                        const SourceTable& table);
// One CREATE [UNIQUE] INDEX per index that is not the primary key, separated by ";", with a note
// on each index left out.
Result<Translation> TranslateUniqueIndexes(const SourceContext& owner, data::Session* source, std::string_view database,
                                           const SourceTable& table);
// One ALTER TABLE ... FOREIGN KEY per foreign key of `table`, separated by ";", with its rules.
Result<Translation> TranslateForeignKeys(const SourceContext& owner, data::Session* source, std::string_view database,
                                         const SourceTable& table);
// ALTER TABLE ... SET PROPERTY Description statements for the table's and its columns'
// MS_Description properties (the built-in engine only).
Result<Translation> TranslateDescriptions(const SourceContext& owner, data::Session* source, std::string_view database,
                                          const SourceTable& table);

// Validation rules from the CHECK constraints of `table` (source_common/check_rules.h); the
// built-in engine only.
Result<Translation> TranslateCheckConstraints(const SourceContext& owner, data::Session* source,
                                              std::string_view database, const SourceTable& table);
// The places in `views` of the views that views[view] reads, from its text (no line written).
Result<std::vector<size_t>> ViewsRead(const SourceContext& owner, data::Session* source, std::string_view database,
                                      const std::vector<SourceTable>& views, size_t view);

// A key column list as SQL Server prints it ("a, b(-)") as Access columns ("`a`,`b` DESC").
std::string AccessKeyColumns(std::string_view keys);

// Records the column names of `table` in the migration's Access names (owner.names), reading them
// from the catalogue unless they are known; nothing without owner.names.
Status RecordColumnNames(const SourceContext& owner, data::Session* source, const SourceTable& table);

}  // namespace tabulon::source_sqlserver
