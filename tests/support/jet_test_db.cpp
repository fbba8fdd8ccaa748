#include "jet_test_db.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "jet/format/table_def.h"
#include "jet/values.h"

namespace tabulon::testing {

MemoryDisk MemoryDisk::Copy() const {
  MemoryDisk disk;
  *disk.bytes = *bytes;
  for (const auto& [name, file] : *companions) {
    (*disk.companions)[name] = std::make_shared<std::vector<uint8_t>>(*file);
  }
  return disk;
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void PatchFile(const std::filesystem::path& path, uint64_t offset, uint32_t value, size_t width) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(offset));
  const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                         static_cast<char>((value >> 16) & 0xFF), static_cast<char>(value >> 24)};
  f.write(bytes, static_cast<std::streamsize>(width));
  EXPECT_TRUE(f.good()) << "cannot patch " << path;
}

uint64_t LogicalIndexRecordOffset(const jet::TableDefinition& table, const std::string& index) {
  constexpr uint32_t kPage = 4096;
  for (size_t i = 0; i < table.indexes.size(); ++i) {
    if (table.indexes[i].name != index) continue;
    const uint32_t at = table.logical_index_offset + static_cast<uint32_t>(i) * jet::format::kTdefLogicalIndexSize;
    EXPECT_LE(at + jet::format::kTdefLogicalIndexSize, kPage) << "definition of " << table.name << " spans pages";
    return uint64_t{table.tdef_page} * kPage + at;
  }
  ADD_FAILURE() << "table " << table.name << " has no index " << index;
  return 0;
}

std::vector<jet::Row> TableRows(jet::Database& db, const std::string& table) {
  auto def = db.GetTable(table);
  EXPECT_TRUE(def.ok()) << table << ": " << def.status().ToString();
  if (!def.ok()) return {};
  auto rows = db.ReadAllRows(*def);
  EXPECT_TRUE(rows.ok()) << table << ": " << rows.status().ToString();
  return rows.ok() ? std::move(*rows) : std::vector<jet::Row>{};
}

std::vector<std::string> SortedRowTexts(const std::vector<jet::Row>& rows) {
  std::vector<std::string> out;
  for (const jet::Row& row : rows) {
    std::string& line = out.emplace_back();
    for (const jet::Value& v : row) line += jet::FormatValue(v).value_or("-") + ",";
  }
  std::sort(out.begin(), out.end());
  return out;
}

jet::ColumnType ColumnTypeNamed(const std::string& name) {
  for (int t = 1; t <= 0x11; ++t) {
    if (name == jet::ColumnTypeName(static_cast<jet::ColumnType>(t))) return static_cast<jet::ColumnType>(t);
  }
  ADD_FAILURE() << "no column type " << name;
  return jet::ColumnType::kUnknown0D;
}

jet::TableDefinition NewTable(std::string name, std::vector<jet::ColumnDefinition> columns) {
  jet::TableDefinition table;
  table.name = std::move(name);
  table.columns = std::move(columns);
  return table;
}

jet::IndexSpec PrimaryKeyOn(const std::vector<std::string>& columns) {
  jet::IndexSpec key{.name = "PrimaryKey", .columns = {}, .primary = true, .unique = true, .required = true};
  for (const std::string& c : columns) key.columns.push_back({c, true});
  return key;
}

}  // namespace tabulon::testing
