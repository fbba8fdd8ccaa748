// The columns of a SQLite table as the adapter's operations need them: declaration, key place,
// default, what the column holds, and the Access type chosen for it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "data/provider.h"
#include "data/statement.h"
#include "source_sqlite/translate.h"

namespace tabulon::source_sqlite {

struct SourceColumn {
  std::string name;
  std::string declared_text;
  data::SqliteDeclaredType declared;
  bool not_null = false;
  std::optional<std::string> default_value;  // as stored, NULL: none
  int pk = 0;                                // place in the primary key, 0: not in it
  bool rowid = false;                        // the rowid alias: a rowid table's sole INTEGER PRIMARY KEY
  ColumnContent content;
  AccessType access;
  // Why the values are not kept exactly as SQLite types them ("" when they are).
  std::string note;
  bool changes_values = false;  // ColumnNote::changes_values
};

// Reads the columns of `table` and chooses their Access types (the user's type map first),
// reading what the columns hold where the choice depends on it (`for_form`: only where the way
// values are written does). An error carries the provider's text, or names the type map rule
// that cannot give a column a type.
Result<std::vector<SourceColumn>> ReadColumns(data::Session* source, const SourceTable& table, bool jet_target,
                                              bool for_form, const source_common::TypeMap& map);

// The text of column `ordinal` of the current row, nullopt for NULL.
std::optional<std::string> Cell(const data::TextRowset& rows, size_t ordinal);

}  // namespace tabulon::source_sqlite
