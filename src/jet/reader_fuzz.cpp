// Fuzz target over the reading side: any bytes, opened as a database, listed, read in full and
// checked. Built only with -DTABULON_FUZZ=ON and clang (libFuzzer).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "jet/database.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tabulon;
  using namespace tabulon::jet;
  // Round up to whole pages so the input reaches past the size check; cap it so one input
  // stays cheap.
  constexpr size_t kMaxPages = 256;
  const size_t pages = std::min((size + kPageSize - 1) / kPageSize, kMaxPages);
  auto bytes = std::make_shared<std::vector<uint8_t>>(pages * kPageSize);
  std::copy(data, data + std::min(size, bytes->size()), bytes->begin());
  auto db = Database::Open(std::make_unique<MemoryFile>(bytes), OpenMode::kReadOnly);
  if (!db.ok()) return 0;
  auto objects = (*db)->ListObjects();
  if (!objects.ok()) return 0;
  for (const CatalogEntry& object : *objects) {
    if (!object.is_table()) continue;
    auto table = (*db)->ReadTableDefinition(object.tdef_page(), object.name);
    if (!table.ok()) continue;
    (void)(*db)->ScanRows(*table, [](RowPointer, const Row&) { return Status::Ok(); });
  }
  (void)(*db)->CheckIntegrity();
  return 0;
}
