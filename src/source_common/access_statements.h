// The Access statements every source adapter returns, assembled in one place so that all
// sources give the target (and the flows that cut the texts at ";") the same shapes: names,
// literals, column lines of CREATE TABLE, defaults, primary keys and unique indexes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "source_common/source_context.h"

namespace tabulon::source_common {

// The name Access gets for a source object's `name`: a backquote becomes an apostrophe; '.', '!',
// '[', ']' and control characters, which Access refuses in names, become '_', and so does a
// leading blank; past 64 characters the name is cut to 57 and ends in "~" and six hex digits of
// a hash of the whole name. The same name always gives the same result, so every reference to
// an object (keys, indexes, relationships, rows, views) follows its rename.
std::string AccessObjectName(std::string_view name);
// `name` cut to 57 UTF-16 units (whole characters) followed by "~" and six hex digits of a hash of
// `hashed`.
std::string NameWithHash(std::string_view name, std::string_view hashed);
// AccessObjectName in backquotes.
std::string AccessName(std::string_view name);
// Appends a rename of an object of `table` (kind "table", "column", "view", "relationship") when
// Access gets it under another name.
void AddRename(std::vector<Rename>& renames, std::string_view kind, std::string_view table, std::string_view from,
               std::string_view to);
// The line "T::TABLE [T]: renamed for Access: column [a.b] -> [a_b]; ..." and one report entry
// per rename; nothing without renames.
void ReportRenames(const SourceContext& owner, std::string_view table, const std::vector<Rename>& renames);
// A name made safe as a file name: path separators and control characters become '_', and
// "." or ".." cannot leave the folder.
std::string SafeFileName(std::string_view name);
// Appends 'text' with every ' doubled.
void AppendAccessString(std::string& out, std::string_view text);
// True for a plain decimal number literal: optional sign, digits with at most one '.', an
// optional exponent ("-12", ".5", "1.5e-07").
bool IsNumberLiteral(std::string_view text);
// True for one whole single-quoted literal ('it''s'), nothing after it.
bool IsStringLiteral(std::string_view text);
// `text` without blanks around it and without parentheses that enclose all of it ("((0))" is
// "0"); parentheses inside quotes do not count.
std::string_view StripEnclosingParentheses(std::string_view text);

// One column line of CREATE TABLE: "`name` Type Length Nullable default X " where Length is
// "(n)" or one blank and the default part is empty when there is none.
struct AccessColumn {
  std::string name;
  std::string type;          // "Long", "VarChar", "Numeric(19,0)", ...
  std::string length = " ";  // "(50)" or " "
  bool nullable = true;
  std::string default_value;  // the Access expression, "" for none
};
// "create table `T`(\n" the lines joined by ",\n" and ")\n"; defaults only for a Jet target
// (other targets' Access drivers are not given them).
std::string CreateTableStatement(std::string_view table, const std::vector<AccessColumn>& columns, bool jet_target);

// The line that tells a default was left out because Access could not evaluate it.
void ReportLeftOutDefault(const SourceContext& owner, std::string_view table, std::string_view definition,
                          std::string_view column);

// The line "T::TABLE [T]: columns not kept exactly as typed: [a] nvarchar(100) -> VarChar(200):
// why; ..." and one report entry per note; nothing without notes.
void ReportColumnNotes(const SourceContext& owner, std::string_view table, const std::vector<ColumnNote>& notes);

// Tells the context of every column's mapping (no line).
void ReportColumnMappings(const SourceContext& owner, const std::vector<ColumnMapping>& mappings);

struct KeyColumn {
  std::string name;
  bool descending = false;
};
// "`a`,`b` DESC".
std::string AccessKeyList(const std::vector<KeyColumn>& columns);
// "alter table `T` add PRIMARY KEY(`a`,`b`)\n"; "" without columns.
std::string PrimaryKeyStatement(std::string_view table, const std::vector<KeyColumn>& columns);
// "CREATE UNIQUE INDEX `T_IDX_n` ON `T` (`a`,`b`)\n": `counter` is the index's place among the
// table's indexes that are not the primary key, from 0.
std::string UniqueIndexStatement(std::string_view table, int counter, const std::vector<KeyColumn>& columns);
// Appends `statement` to a text of statements, with ";\n" before every one but the first.
void AppendStatement(std::string& text, const std::string& statement);

}  // namespace tabulon::source_common
