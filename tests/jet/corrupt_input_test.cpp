// Damaged files: every read path reports a clear corruption error naming the page, and never
// crashes, loops or allocates beyond what the file can hold (the sanitizers watch the rest).
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "base/bytes.h"
#include "jet/database.h"
#include "jet/format/table_def.h"
#include "jet/format/usage_map.h"
#include "jet_test_db.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;
using Bytes8 = std::vector<uint8_t>;

const fs::path kSample = fs::path(TABULON_SHARED_DIR) / "fixtures/written/sample-v2000.mdb";

Result<std::unique_ptr<Database>> OpenBytes(const std::shared_ptr<Bytes8>& bytes) {
  return Database::Open(std::make_unique<MemoryFile>(bytes), OpenMode::kReadOnly);
}

// Opens the file and reads every table in full, then checks it: the first error, if any.
Status ReadEverything(const std::shared_ptr<Bytes8>& bytes) {
  ASSIGN_OR_RETURN(std::unique_ptr<Database> db, OpenBytes(bytes));
  ASSIGN_OR_RETURN(std::vector<std::string> names, db->ListTables(true));
  for (const std::string& name : names) {
    ASSIGN_OR_RETURN(TableDefinition table, db->GetTable(name));
    RETURN_IF_ERROR(db->ScanRows(table, [](RowPointer, const Row&) { return Status::Ok(); }));
  }
  return db->CheckIntegrity();
}

class CorruptInput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(kSample)) GTEST_SKIP() << "no fixture " << kSample;
    bytes_ = std::make_shared<Bytes8>(testing::ReadFileBytes(kSample));
    ASSERT_TRUE(ReadEverything(bytes_).ok());
    auto db = OpenBytes(bytes_);
    ASSERT_TRUE(db.ok());
    auto table = (*db)->GetTable("Customers");
    ASSERT_TRUE(table.ok());
    customers_ = *table;
    auto map = format::ReadUsageMap((*db)->pager(), customers_.owned_pages_map);
    ASSERT_TRUE(map.ok());
    data_pages_ = map->pages;
  }

  uint8_t* Page(uint32_t page) { return bytes_->data() + size_t{page} * kPageSize; }

  // Expects a corruption error whose message names `page`.
  void ExpectCorruptAt(uint32_t page) {
    const Status status = ReadEverything(bytes_);
    EXPECT_EQ(status.code(), ErrorCode::kCorrupt) << status.ToString();
    EXPECT_NE(status.message().find("page " + std::to_string(page)), std::string::npos) << status.ToString();
  }

  std::shared_ptr<Bytes8> bytes_;
  TableDefinition customers_;
  std::vector<uint32_t> data_pages_;
};

TEST_F(CorruptInput, TruncatedFilesAreRefusedWithAClearError) {
  const size_t full = bytes_->size();
  for (size_t size : {size_t{0}, size_t{100}, size_t{4096}, size_t{8192}, size_t{12288},
                      full / 2 / kPageSize * kPageSize, full - kPageSize, full - 1}) {
    auto cut = std::make_shared<Bytes8>(bytes_->begin(), bytes_->begin() + static_cast<long>(size));
    const Status status = ReadEverything(cut);
    EXPECT_EQ(status.code(), ErrorCode::kCorrupt) << size << ": " << status.ToString();
    EXPECT_TRUE(status.message().find("page") != std::string::npos) << status.ToString();
  }
}

// A page's type and row table are checked where it is decoded (format_test); its owner only here.
TEST_F(CorruptInput, DataPageOfAnotherOwner) {
  const uint32_t page = data_pages_.at(1);
  WriteU32(Page(page) + 4, 3);  // now "belongs" to MSysACEs
  ExpectCorruptAt(page);
}

TEST_F(CorruptInput, TableDefinitionChainLoopsAndImpossibleLengths) {
  uint8_t* tdef = Page(customers_.tdef_page);
  WriteU32(tdef + format::kTdefLengthOffset, 9000);  // claims continuation pages
  WriteU32(tdef + format::kTdefNextPageOffset, customers_.tdef_page);
  ExpectCorruptAt(customers_.tdef_page);
  WriteU32(tdef + format::kTdefLengthOffset, 0x7FFFFFFF);
  ExpectCorruptAt(customers_.tdef_page);
  WriteU32(tdef + format::kTdefLengthOffset, customers_.definition_length);
  WriteU32(tdef + format::kTdefNextPageOffset, 0);
  WriteU16(tdef + format::kTdefColumnCountOffset, 2000);  // columns run past the definition
  ExpectCorruptAt(customers_.tdef_page);
}

TEST_F(CorruptInput, IntegrityCheckFindsWhatReadingDoesNotNeed) {
  // A row count that disagrees with the rows.
  auto original = *bytes_;
  WriteU32(Page(customers_.tdef_page) + format::kTdefRowCountOffset, 299);
  ExpectCorruptAt(customers_.tdef_page);

  // A data page marked free in the global page map.
  *bytes_ = original;
  auto db = OpenBytes(bytes_);
  auto global = format::ReadUsageMap((*db)->pager(), MakeRowPointer(1, 0));
  ASSERT_TRUE(global.ok());
  const uint32_t page = data_pages_.back();
  ASSERT_TRUE(global->Covers(page));
  const uint16_t map_start = ReadU16(Page(1) + 14) & 0x1FFF;
  const uint32_t bit = page - global->start_page;
  Page(1)[map_start + 5 + bit / 8] |= static_cast<uint8_t>(1 << (bit % 8));
  ExpectCorruptAt(page);

  // A catalog index entry that no longer matches its row.
  *bytes_ = original;
  auto reopened = OpenBytes(bytes_);
  auto catalog = (*reopened)->GetTable("MSysObjects");
  ASSERT_TRUE(catalog.ok());
  ASSERT_FALSE(catalog->indexes.empty());
  const uint32_t root = catalog->indexes[0].root_page;
  ASSERT_EQ(Page(root)[0], 0x04) << "expected a single-leaf catalog index";
  Page(root)[0x1E0 + 2] ^= 0x01;  // inside the first key
  const Status status = ReadEverything(bytes_);
  EXPECT_EQ(status.code(), ErrorCode::kCorrupt) << status.ToString();
  EXPECT_NE(status.message().find("index"), std::string::npos) << status.ToString();
}

// Random damage anywhere: whatever happens, it ends in bounded time with a status.
TEST_F(CorruptInput, RandomByteFlipsNeverCrashOrHang) {
  const Bytes8 original = *bytes_;
  std::mt19937 random(20240611);
  std::uniform_int_distribution<size_t> offset(0, original.size() - 1);
  std::uniform_int_distribution<int> byte(0, 255);
  int failures = 0;
  for (int round = 0; round < 400; ++round) {
    *bytes_ = original;
    const int flips = 1 + round % 4;
    for (int i = 0; i < flips; ++i) (*bytes_)[offset(random)] = static_cast<uint8_t>(byte(random));
    if (!ReadEverything(bytes_).ok()) ++failures;
  }
  // Most single flips land in unused bytes or values; some must be caught.
  EXPECT_GT(failures, 0);
}

}  // namespace
}  // namespace tabulon::jet
