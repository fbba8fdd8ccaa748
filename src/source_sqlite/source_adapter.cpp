#include "source_sqlite/source_adapter.h"

#include "source_sqlite/connection.h"
#include "source_sqlite/translate.h"

namespace tabulon::source_sqlite {
namespace {

class SqliteAdapter : public source_common::SourceAdapter {
 public:
  Result<source_common::Translation> TranslateTableDefinition(const SourceContext& owner, data::Session* source,
                                                              std::string_view database,
                                                              const SourceTable& table) const override {
    return source_sqlite::TranslateTableDefinition(owner, source, database, table);
  }
  Status OpenCopyRows(const SourceContext& owner, data::Session* source, std::string_view database,
                      const SourceTable& table, source_common::CopySource* rows) const override {
    return source_sqlite::OpenCopyRows(owner, source, database, table, rows);
  }
  Result<source_common::SourceVolume> MeasureRows(const SourceContext& owner, data::Session* source,
                                                  std::string_view database, const SourceTable& table) const override {
    return source_sqlite::MeasureRows(owner, source, database, table);
  }
  Result<source_common::RowCopyCounts> TransferTableRows(const SourceContext& owner, data::Session* source,
                                                         data::Session* target, std::string_view database,
                                                         const SourceTable& table) const override {
    return source_sqlite::TransferTableRows(owner, source, target, database, table);
  }
  Result<source_common::Translation> TranslateViewDefinition(const SourceContext& owner, data::Session* source,
                                                             std::string_view database,
                                                             const SourceTable& view) const override {
    return source_sqlite::TranslateViewDefinition(owner, source, database, view);
  }
  Result<source_common::Translation> TranslateCheckConstraints(const SourceContext& owner, data::Session* source,
                                                               std::string_view database,
                                                               const SourceTable& table) const override {
    return source_sqlite::TranslateCheckConstraints(owner, source, database, table);
  }
  Result<std::vector<size_t>> ViewsRead(const SourceContext& owner, data::Session* source, std::string_view database,
                                        const std::vector<SourceTable>& views, size_t view) const override {
    return source_sqlite::ViewsRead(owner, source, database, views, view);
  }
  Result<source_common::Translation> TranslatePrimaryKey(const SourceContext& owner, data::Session* source,
                                                         std::string_view database,
                                                         const SourceTable& table) const override {
    return source_sqlite::TranslatePrimaryKey(owner, source, database, table);
  }
  Result<source_common::Translation> TranslateUniqueIndexes(const SourceContext& owner, data::Session* source,
                                                            std::string_view database,
                                                            const SourceTable& table) const override {
    return source_sqlite::TranslateUniqueIndexes(owner, source, database, table);
  }
  Result<source_common::Translation> TranslateForeignKeys(const SourceContext& owner, data::Session* source,
                                                          std::string_view database,
                                                          const SourceTable& table) const override {
    return source_sqlite::TranslateForeignKeys(owner, source, database, table);
  }
  bool SelectDatabase(workspace::DbTreeView& source_tree, workspace::DbTreeView& /*target_tree*/,
                      std::string_view database) const override {
    return source_sqlite::SelectDatabase(source_tree, database);
  }
  // The file holds one database and its session is always in it.
  bool UseDatabase(workspace::OutputPane* /*output*/, data::Session* source,
                   std::string_view /*database*/) const override {
    return source != nullptr;
  }
};

}  // namespace

const source_common::SourceAdapter& SqliteSourceAdapter() {
  static const SqliteAdapter adapter;
  return adapter;
}

}  // namespace tabulon::source_sqlite
