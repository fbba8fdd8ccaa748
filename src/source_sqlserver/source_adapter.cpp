#include "source_sqlserver/source_adapter.h"

#include "data/statement.h"
#include "workspace/statement_output.h"
#include "source_sqlserver/connection.h"
#include "source_sqlserver/translate.h"

namespace tabulon::source_sqlserver {
namespace {

class SqlServerAdapter : public source_common::SourceAdapter {
 public:
  Result<source_common::Translation> TranslateTableDefinition(const SourceContext& owner, data::Session* source,
                                                              std::string_view database,
                                                              const SourceTable& table) const override {
    return source_sqlserver::TranslateTableDefinition(owner, source, database, table);
  }
  Status OpenCopyRows(const SourceContext& owner, data::Session* source, std::string_view database,
                      const SourceTable& table, source_common::CopySource* rows) const override {
    return source_sqlserver::OpenCopyRows(owner, source, database, table, rows);
  }
  Result<source_common::SourceVolume> MeasureRows(const SourceContext& owner, data::Session* source,
                                                  std::string_view database, const SourceTable& table) const override {
    return source_sqlserver::MeasureRows(owner, source, database, table);
  }
  Result<source_common::RowCopyCounts> TransferTableRows(const SourceContext& owner, data::Session* source,
                                                         data::Session* target, std::string_view database,
                                                         const SourceTable& table) const override {
    return source_sqlserver::TransferTableRows(owner, source, target, database, table);
  }
  Result<source_common::Translation> TranslateViewDefinition(const SourceContext& owner, data::Session* source,
                                                             std::string_view database,
                                                             const SourceTable& view) const override {
    return source_sqlserver::TranslateViewDefinition(owner, source, database, view);
  }
  Result<source_common::Translation> TranslateDescriptions(const SourceContext& owner, data::Session* source,
                                                           std::string_view database,
                                                           const SourceTable& table) const override {
    return source_sqlserver::TranslateDescriptions(owner, source, database, table);
  }
  Result<source_common::Translation> TranslateCheckConstraints(const SourceContext& owner, data::Session* source,
                                                               std::string_view database,
                                                               const SourceTable& table) const override {
    return source_sqlserver::TranslateCheckConstraints(owner, source, database, table);
  }
  Result<std::vector<size_t>> ViewsRead(const SourceContext& owner, data::Session* source, std::string_view database,
                                        const std::vector<SourceTable>& views, size_t view) const override {
    return source_sqlserver::ViewsRead(owner, source, database, views, view);
  }
  Result<source_common::Translation> TranslatePrimaryKey(const SourceContext& owner, data::Session* source,
                                                         std::string_view database,
                                                         const SourceTable& table) const override {
    return source_sqlserver::TranslatePrimaryKey(owner, source, database, table);
  }
  Result<source_common::Translation> TranslateUniqueIndexes(const SourceContext& owner, data::Session* source,
                                                            std::string_view database,
                                                            const SourceTable& table) const override {
    return source_sqlserver::TranslateUniqueIndexes(owner, source, database, table);
  }
  Result<source_common::Translation> TranslateForeignKeys(const SourceContext& owner, data::Session* source,
                                                          std::string_view database,
                                                          const SourceTable& table) const override {
    return source_sqlserver::TranslateForeignKeys(owner, source, database, table);
  }
  bool SelectDatabase(workspace::DbTreeView& source_tree, workspace::DbTreeView& target_tree,
                      std::string_view database) const override {
    return source_sqlserver::SelectDatabase(source_tree, target_tree, database, 0);
  }
  bool UseDatabase(workspace::OutputPane* output, data::Session* source, std::string_view database) const override {
    // Bracketed, as every SQL Server name this program sends: any database name works.
    return workspace::ExecuteStatement(output, source, "use " + QuoteSqlServerName(database) + ";", 0);
  }
};

}  // namespace

const source_common::SourceAdapter& SqlServerSourceAdapter() {
  static const SqlServerAdapter adapter;
  return adapter;
}

}  // namespace tabulon::source_sqlserver
