// Opening a database and reading its catalog, table definitions and rows.
#include "jet/database.h"

#include <algorithm>
#include <vector>

#include "base/bytes.h"
#include "base/text.h"
#include "jet/format/data_page.h"
#include "jet/format/long_value.h"
#include "jet/format/properties.h"
#include "jet/format/row.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"

namespace tabulon::jet {
namespace {

constexpr uint32_t kCatalogPage = 2;

// Long values read through the pager of an open database.
class PagerLongValues : public format::LongValueSource {
 public:
  explicit PagerLongValues(Pager& pager) : pager_(pager) {}
  Status Read(const uint8_t* field, size_t size, std::string& out) override {
    return format::ReadLongValueData(pager_, field, size, out);
  }

 private:
  Pager& pager_;
};

int FindColumn(const TableDefinition& table, std::string_view name) {
  for (size_t i = 0; i < table.columns.size(); ++i) {
    if (table.columns[i].name == name) return static_cast<int>(i);
  }
  return -1;
}

// The bytes of row `index` of a page copy, following a moved row to its new place (whose
// page is copied into `other`).
Status LocateRow(Pager& pager, const format::DataPageView& view, uint16_t index, std::vector<uint8_t>& other,
                 const uint8_t*& bytes, uint32_t& size) {
  const format::RowSlot slot = view.Row(index);
  bytes = view.bytes() + slot.start;
  size = slot.size();
  if (!slot.overflow) return Status::Ok();
  // The row was moved; its slot holds a pointer to where it lives now.
  const std::string here = format::PageAt(view.page_number(), slot.start) + "moved row " + std::to_string(index);
  if (size < 4) return CorruptError(here + " is too short for a row pointer");
  const RowPointer target = ReadU32(bytes);
  ASSIGN_OR_RETURN(const uint8_t* cached, pager.ReadPage(RowPointerPage(target)));
  std::copy(cached, cached + kPageSize, other.begin());
  ASSIGN_OR_RETURN(format::DataPageView target_view, format::DataPageView::Parse(other.data(), RowPointerPage(target)));
  if (RowPointerRow(target) >= target_view.row_count()) {
    return CorruptError(here + " points to a missing row");
  }
  // The moved row itself carries the deleted flag, so plain scans skip it.
  const format::RowSlot target_slot = target_view.Row(RowPointerRow(target));
  RETURN_IF_ERROR(target_view.CheckBounds(target_slot, RowPointerRow(target)));
  if (target_slot.overflow) return CorruptError(here + " points to a row that moved again");
  bytes = other.data() + target_slot.start;
  size = target_slot.size();
  return Status::Ok();
}

template <typename T>
T ValueOr(const Value& value, T fallback) {
  if (const T* v = std::get_if<T>(&value)) return *v;
  return fallback;
}

}  // namespace

Database::Database(std::unique_ptr<Pager> pager, OpenMode mode) : pager_(std::move(pager)), mode_(mode) {}

Database::~Database() {
  // Inserts of an unfinished batch were reported as done: keep them.
  (void)FlushBatch();
}

Result<std::unique_ptr<Database>> Database::Open(std::unique_ptr<FileIo> file, OpenMode mode) {
  if (mode == OpenMode::kCreateNew) {
    return InvalidArgumentError("Database::Open cannot create a file; use Database::Create");
  }
  const std::string name = file->Name();
  ASSIGN_OR_RETURN(std::unique_ptr<Pager> pager, Pager::Open(std::move(file), mode == OpenMode::kReadWrite));
  if (pager->page_count() < 3) {
    return CorruptError(name + ": " + std::to_string(pager->page_count()) +
                        " pages, too small for a Jet database (header, page map, catalog)");
  }
  std::unique_ptr<Database> db(new Database(std::move(pager), mode));
  Status status = db->LoadHeader();
  if (status.ok()) status = db->LoadCatalogDefinition();
  if (!status.ok()) return status.WithContext(name);
  return db;
}

Result<std::unique_ptr<Database>> Database::Open(const std::string& path, OpenMode mode) {
  ASSIGN_OR_RETURN(std::unique_ptr<FileIo> file, OpenPosixFile(path, mode));
  return Open(std::move(file), mode);
}

Status Database::LoadHeader() {
  ASSIGN_OR_RETURN(const uint8_t* page0, pager_->ReadPage(0));
  ASSIGN_OR_RETURN(header_, format::DecodeHeader(page0));
  return Status::Ok();
}

Status Database::LoadCatalogDefinition() {
  ASSIGN_OR_RETURN(catalog_, ReadTableDefinition(kCatalogPage, "MSysObjects"));
  for (const char* required : {"Id", "ParentId", "Name", "Type", "Flags"}) {
    if (FindColumn(catalog_, required) < 0) {
      return CorruptError("catalog definition at page 2 has no column '" + std::string(required) + "'");
    }
  }
  return Status::Ok();
}

Result<TableDefinition> Database::ReadTableDefinition(uint32_t tdef_page, std::string name) {
  ASSIGN_OR_RETURN(format::TableDefinitionBytes bytes, format::ReadTableDefinitionBytes(*pager_, tdef_page));
  ASSIGN_OR_RETURN(TableDefinition table, format::ParseTableDefinition(bytes));
  table.name = std::move(name);
  return table;
}

Result<std::vector<CatalogEntry>> Database::ListObjects() {
  RETURN_IF_ERROR(FlushBatch());
  const int id = FindColumn(catalog_, "Id");
  const int parent = FindColumn(catalog_, "ParentId");
  const int name = FindColumn(catalog_, "Name");
  const int type = FindColumn(catalog_, "Type");
  const int flags = FindColumn(catalog_, "Flags");
  std::vector<CatalogEntry> entries;
  ScanOptions options;
  options.read_long_values = false;
  RETURN_IF_ERROR(ScanRows(
      catalog_,
      [&](RowPointer where, const Row& row) {
        CatalogEntry e;
        e.id = ValueOr<int32_t>(row[id], 0);
        e.parent_id = ValueOr<int32_t>(row[parent], 0);
        e.name = ValueOr<std::string>(row[name], "");
        e.type = ValueOr<int16_t>(row[type], 0);
        e.flags = ValueOr<int32_t>(row[flags], 0);
        e.row = where;
        entries.push_back(std::move(e));
        return Status::Ok();
      },
      options));
  return entries;
}

Result<std::vector<std::string>> Database::ListTables(bool include_system) {
  ASSIGN_OR_RETURN(std::vector<CatalogEntry> entries, ListObjects());
  std::vector<std::string> names;
  for (const CatalogEntry& e : entries) {
    if (e.is_table() && (include_system || !e.is_system())) names.push_back(e.name);
  }
  return names;
}

Result<TableDefinition> Database::GetTable(std::string_view name) {
  ASSIGN_OR_RETURN(std::vector<CatalogEntry> entries, ListObjects());
  const CatalogEntry* found = nullptr;
  for (const CatalogEntry& e : entries) {
    if (!e.is_table()) continue;
    if (e.name == name) {
      found = &e;
      break;
    }
    if (!found && EqualsIgnoreAsciiCase(e.name, name)) found = &e;
  }
  if (!found) return NotFoundError("no table named '" + std::string(name) + "'");
  auto table = ReadTableDefinition(found->tdef_page(), found->name);
  if (!table.ok()) return table.status().WithContext("table '" + found->name + "'");
  RETURN_IF_ERROR(ApplyStoredColumnProperties(found->row, *table));
  return table;
}

Status Database::ApplyStoredColumnProperties(RowPointer catalog_row, TableDefinition& table) {
  const int lv_prop = FindColumn(catalog_, "LvProp");
  if (lv_prop < 0) return Status::Ok();
  ASSIGN_OR_RETURN(Row row, ReadRow(catalog_, catalog_row));
  if (const auto* blob = std::get_if<Bytes>(&row[static_cast<size_t>(lv_prop)])) {
    if (auto maps = format::DecodePropertyBlob(blob->data); maps.ok()) {
      format::ApplyColumnProperties(*maps, table);
    }
  }
  return Status::Ok();
}

Status Database::ScanRows(const TableDefinition& table, const RowVisitor& visit, const ScanOptions& options) {
  RETURN_IF_ERROR(FlushBatch());  // the batch's rows are listed in the maps only once stored
  auto map = format::ReadUsageMap(*pager_, table.owned_pages_map);
  if (!map.ok()) return map.status().WithContext("table '" + table.name + "' owned pages");
  format::RowDecoder decoder(table);
  PagerLongValues long_values(*pager_);
  format::LongValueSource* source = options.read_long_values ? &long_values : nullptr;
  Row row;
  // Rows are decoded from a private copy of the page: reading long values and overflow rows
  // goes through the same page cache.
  std::vector<uint8_t> page(kPageSize);
  std::vector<uint8_t> other(kPageSize);
  for (uint32_t page_number : map->pages) {
    ASSIGN_OR_RETURN(const uint8_t* cached, pager_->ReadPage(page_number));
    std::copy(cached, cached + kPageSize, page.begin());
    ASSIGN_OR_RETURN(format::DataPageView view, format::DataPageView::Parse(page.data(), page_number));
    if (view.owner() != table.tdef_page) {
      return CorruptError(format::PageAt(page_number, format::kDataPageOwnerOffset) + "page listed for table '" +
                          table.name + "' (definition page " + std::to_string(table.tdef_page) + ") belongs to " +
                          std::to_string(view.owner()));
    }
    for (uint16_t i = 0; i < view.row_count(); ++i) {
      if (view.Row(i).deleted) continue;
      const RowPointer where = MakeRowPointer(page_number, static_cast<uint8_t>(i));
      const uint8_t* bytes = nullptr;
      uint32_t size = 0;
      RETURN_IF_ERROR(LocateRow(*pager_, view, i, other, bytes, size));
      RETURN_IF_ERROR(decoder.Decode(bytes, size, where, source, row));
      RETURN_IF_ERROR(visit(where, row));
    }
  }
  return Status::Ok();
}

Result<Row> Database::ReadRow(const TableDefinition& table, RowPointer where) {
  const uint32_t page_number = RowPointerPage(where);
  ASSIGN_OR_RETURN(const uint8_t* cached, pager_->ReadPage(page_number));
  std::vector<uint8_t> page(cached, cached + kPageSize);
  std::vector<uint8_t> other(kPageSize);
  ASSIGN_OR_RETURN(format::DataPageView view, format::DataPageView::Parse(page.data(), page_number));
  if (view.owner() != table.tdef_page || RowPointerRow(where) >= view.row_count() ||
      view.Row(RowPointerRow(where)).deleted) {
    return NotFoundError("no row of table '" + table.name + "' at page " + std::to_string(page_number) + " row " +
                         std::to_string(RowPointerRow(where)));
  }
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
  RETURN_IF_ERROR(LocateRow(*pager_, view, RowPointerRow(where), other, bytes, size));
  PagerLongValues long_values(*pager_);
  Row row;
  RETURN_IF_ERROR(format::RowDecoder(table).Decode(bytes, size, where, &long_values, row));
  return row;
}

Result<std::vector<Row>> Database::ReadAllRows(const TableDefinition& table) {
  std::vector<Row> rows;
  RETURN_IF_ERROR(ScanRows(table, [&](RowPointer, const Row& row) {
    rows.push_back(row);
    return Status::Ok();
  }));
  return rows;
}

Result<Value> Database::ReadLongValue(const ColumnDefinition& column, std::string_view field) {
  if (!IsLongValueType(column.type)) {
    return InvalidArgumentError("column '" + column.name + "' is not a Memo or OLE column");
  }
  std::string data;
  RETURN_IF_ERROR(
      format::ReadLongValueData(*pager_, reinterpret_cast<const uint8_t*>(field.data()), field.size(), data));
  if (column.type == ColumnType::kOle) return Value(Bytes{std::move(data)});
  std::string text;
  format::DecodeText(reinterpret_cast<const uint8_t*>(data.data()), data.size(), text);
  return Value(std::move(text));
}

}  // namespace tabulon::jet
