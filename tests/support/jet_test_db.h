// Builders and readers the engine's tests share: an in-memory disk, a file's bytes, a table's
// rows as text, key specs and column types by name.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/file_io.h"

namespace tabulon::testing {

// A file in memory, with its companion files (the journal), that outlives each Database opened
// on it.
struct MemoryDisk {
  std::shared_ptr<std::vector<uint8_t>> bytes = std::make_shared<std::vector<uint8_t>>();
  std::shared_ptr<jet::MemoryFile::Companions> companions = std::make_shared<jet::MemoryFile::Companions>();
  std::unique_ptr<jet::FileIo> File() const { return std::make_unique<jet::MemoryFile>(bytes, companions); }
  // Another disk holding copies of the bytes and the companions.
  MemoryDisk Copy() const;
};

// The bytes of a file (empty when it cannot be read).
std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);

// Writes the `width` low bytes of `value` at `offset` of the file, little-endian, behind the
// engine's back.
void PatchFile(const std::filesystem::path& path, uint64_t offset, uint32_t value, size_t width = 4);

// Where the stored record of logical index `index` of `table` lies in its file; a test failure
// when the table has no such index or the record is not on the definition's first page.
uint64_t LogicalIndexRecordOffset(const jet::TableDefinition& table, const std::string& index);

// Every row of `table`; a test failure (and no rows) when it cannot be read.
std::vector<jet::Row> TableRows(jet::Database& db, const std::string& table);

// Each row as one line of its values' canonical text ("-" for Null), sorted: rows compared in
// any order.
std::vector<std::string> SortedRowTexts(const std::vector<jet::Row>& rows);

// The type ColumnTypeName calls `name`; a test failure when there is none.
jet::ColumnType ColumnTypeNamed(const std::string& name);

// A new table's definition: its name and columns.
jet::TableDefinition NewTable(std::string name, std::vector<jet::ColumnDefinition> columns = {});

// A primary key named "PrimaryKey" over `columns`, ascending.
jet::IndexSpec PrimaryKeyOn(const std::vector<std::string>& columns);

}  // namespace tabulon::testing
