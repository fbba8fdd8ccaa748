// Internal to the writing side: what the writers of saved queries, relationships and
// properties may do inside one write transaction (Database::RunCatalogWrite). Implemented
// over the write state in database_write.cpp, so those writers live in their own files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "jet/database.h"
#include "jet/page_writer.h"

namespace tabulon::jet {

class CatalogWriter {
 public:
  virtual ~CatalogWriter() = default;

  virtual Database& database() = 0;
  virtual Pager& pager() = 0;
  virtual PageAllocator& allocator() = 0;

  // Every catalog row as the transaction sees it.
  virtual const std::vector<CatalogEntry>& Objects() = 0;
  // The object named `name` under `parent` (names compared like the catalog index does).
  virtual const CatalogEntry* FindObject(std::string_view name, int32_t parent) = 0;
  // Adds a catalog row (owner and dates as for tables) and the access rows of a new object.
  virtual Result<CatalogEntry> AddObject(CatalogEntry entry, const std::string& properties) = 0;
  // Replaces the LvProp blob of an object (empty: none).
  virtual Status SetObjectProperties(const CatalogEntry& entry, const std::string& blob) = 0;
  // Removes a catalog row and the object's access rows.
  virtual Status RemoveObject(const CatalogEntry& entry) = 0;

  // The definition of a table (system tables included) as the transaction sees it.
  virtual Result<const TableDefinition*> Table(std::string_view name) = 0;
  // Row operations without any index upkeep beyond what InsertRows does for user tables.
  virtual Result<RowPointer> InsertRow(std::string_view table, const Row& row) = 0;
  virtual Status DeleteRow(std::string_view table, RowPointer where) = 0;
  // Visits the live rows, new ones of this transaction included.
  virtual Status ScanRows(std::string_view table, const RowVisitor& visit) = 0;

  // The foreign-key logical indexes of an enforced relationship (see CreateForeignKeyIndexes).
  virtual Result<ForeignKeyIndexes> AddForeignKeyIndexes(const ForeignKeyIndexSpec& spec) = 0;
  // Removes one foreign-key logical index of a table, and its real index when no other
  // logical index uses it.
  virtual Status RemoveForeignKeyIndex(std::string_view table, std::string_view index) = 0;
};

// Rewrites every index of a system table (MSysQueries, MSysRelationships) from its rows.
Status RebuildSystemTableIndexes(CatalogWriter& writer, std::string_view table);

// The next synthetic object id (queries, relationships): one above the largest negative id in
// use, starting at 0x80000000 like Access.
int32_t NextSyntheticObjectId(const std::vector<CatalogEntry>& objects);

}  // namespace tabulon::jet
