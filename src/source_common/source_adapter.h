// One source of a migration, as the flows use it: the translations of a source table or view
// into Access statements, its row copy, and switching the source side to a database. The SQL Server and
// SQLite adapters each give one; the flows pick one by the source profile's provider name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "workspace/db_tree.h"
#include "workspace/output_pane.h"
#include "data/provider.h"
#include "base/status.h"
#include "source_common/row_copy.h"
#include "source_common/source_context.h"
#include "source_common/translation.h"

namespace tabulon::source_common {

class SourceAdapter {
 public:
  virtual ~SourceAdapter() = default;

  // The translations of a source table or view into Access statements. `source` is never null
  // (the flows check the session once). An error carries the provider's words when the source
  // cannot be read; a Translation says what to run, that there is nothing, or why the target
  // cannot hold the object.
  virtual Result<Translation> TranslateTableDefinition(const SourceContext& owner, data::Session* source,
                                                       std::string_view database, const SourceTable& table) const = 0;
  // The Access CREATE VIEW of `view`.
  virtual Result<Translation> TranslateViewDefinition(const SourceContext& owner, data::Session* source,
                                                      std::string_view database, const SourceTable& view) const = 0;
  // "alter table `T` add PRIMARY KEY(...)\n".
  virtual Result<Translation> TranslatePrimaryKey(const SourceContext& owner, data::Session* source,
                                                  std::string_view database, const SourceTable& table) const = 0;
  // CREATE [UNIQUE] INDEX statements separated by ";", with notes on the indexes left out.
  virtual Result<Translation> TranslateUniqueIndexes(const SourceContext& owner, data::Session* source,
                                                     std::string_view database, const SourceTable& table) const = 0;
  // Statements that give the table and its columns the source's descriptions; nothing where the
  // source keeps none.
  virtual Result<Translation> TranslateDescriptions(const SourceContext& /*owner*/, data::Session* /*source*/,
                                                    std::string_view /*database*/, const SourceTable& /*table*/) const {
    return Translation::Nothing();
  }
  // Statements that give the table and its columns validation rules from the source's CHECK
  // constraints, with a left-out note on each CHECK Access cannot hold; nothing where there are none.
  virtual Result<Translation> TranslateCheckConstraints(const SourceContext& /*owner*/, data::Session* /*source*/,
                                                        std::string_view /*database*/,
                                                        const SourceTable& /*table*/) const {
    return Translation::Nothing();
  }
  // The places in `views` of the views that views[view] reads (view_order.h), read without a line.
  virtual Result<std::vector<size_t>> ViewsRead(const SourceContext& /*owner*/, data::Session* /*source*/,
                                                std::string_view /*database*/,
                                                const std::vector<SourceTable>& /*views*/, size_t /*view*/) const {
    return std::vector<size_t>{};
  }
  // ALTER TABLE ... FOREIGN KEY statements separated by ";", with notes on their rules.
  virtual Result<Translation> TranslateForeignKeys(const SourceContext& owner, data::Session* source,
                                                   std::string_view database, const SourceTable& table) const = 0;
  // Opens the select a row copy of `table` reads (the columns as the copy reads them, the
  // migration condition applied) with one field writer per column: what TransferTableRows
  // copies and what a verification compares. No line is written; an error carries the
  // provider's words.
  virtual Status OpenCopyRows(const SourceContext& owner, data::Session* source, std::string_view database,
                              const SourceTable& table, CopySource* rows) const = 0;
  // Counts the rows of `table` a row copy would read (the migration condition applied) and what
  // the values of each column take, without reading the rows out: what a migration plan
  // estimates the target's size from. No line is written; an error carries the provider's words.
  virtual Result<SourceVolume> MeasureRows(const SourceContext& owner, data::Session* source,
                                           std::string_view database, const SourceTable& table) const = 0;
  // Copies the rows of `table` into the Access table of the same name, writing its own lines:
  // the counts, or an error when the rows could not be read or stored.
  virtual Result<RowCopyCounts> TransferTableRows(const SourceContext& owner, data::Session* source,
                                                  data::Session* target, std::string_view database,
                                                  const SourceTable& table) const = 0;

  // Makes `database` the source tree's current database and rebuilds the tree; false when the
  // source cannot switch to it.
  virtual bool SelectDatabase(workspace::DbTreeView& source_tree, workspace::DbTreeView& target_tree,
                              std::string_view database) const = 0;
  // Makes the source session work in `database` before a flow reads it (no line on success).
  virtual bool UseDatabase(workspace::OutputPane* output, data::Session* source, std::string_view database) const = 0;
};

}  // namespace tabulon::source_common
