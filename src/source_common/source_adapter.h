// One source of a migration, as the flows use it: the six translations of a source table or
// view into Access statements, and switching the source side to a database. The SQL Server and
// SQLite adapters each give one; the flows pick one by the source profile's provider name.
#pragma once

#include <string>
#include <string_view>

#include "data/db_tree.h"
#include "data/output_pane.h"
#include "data/provider.h"
#include "source_common/source_context.h"

namespace tabulon::source_common {

class SourceAdapter {
 public:
  virtual ~SourceAdapter() = default;

  // The Access CREATE TABLE of `table`; "ERROR!!!" without a session, else the provider's text
  // when the catalogue cannot be read.
  virtual std::string TranslateTableDefinition(const SourceContext& owner, data::Session* source,
                                               std::string_view database, const SourceTable& table) const = 0;
  // Copies the rows of `table` into the Access table of the same name; "true" when the copy ran.
  virtual std::string TransferTableRows(const SourceContext& owner, data::Session* source, data::Session* target,
                                        std::string_view database, const SourceTable& table) const = 0;
  // The Access CREATE VIEW of `view`, "" when there is none, or a text holding "NO SUPPORT!".
  virtual std::string TranslateViewDefinition(const SourceContext& owner, data::Session* source,
                                              std::string_view database, const SourceTable& view) const = 0;
  // "alter table `T` add PRIMARY KEY(...)\n", or "".
  virtual std::string TranslatePrimaryKey(const SourceContext& owner, data::Session* source, std::string_view database,
                                          const SourceTable& table) const = 0;
  // CREATE UNIQUE INDEX statements separated by ";", or "".
  virtual std::string TranslateUniqueIndexes(const SourceContext& owner, data::Session* source,
                                             std::string_view database, const SourceTable& table) const = 0;
  // ALTER TABLE ... FOREIGN KEY statements separated by ";", or "".
  virtual std::string TranslateForeignKeys(const SourceContext& owner, data::Session* source, std::string_view database,
                                           const SourceTable& table) const = 0;

  // Makes `database` the source tree's current database and rebuilds the tree; false when the
  // source cannot switch to it.
  virtual bool SelectDatabase(data::DbTreeView& source_tree, data::DbTreeView& target_tree,
                              std::string_view database) const = 0;
  // Makes the source session work in `database` before a flow reads it (no line on success).
  virtual bool UseDatabase(data::OutputPane* output, data::Session* source, std::string_view database) const = 0;
};

}  // namespace tabulon::source_common
