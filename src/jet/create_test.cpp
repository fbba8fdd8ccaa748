// New databases: the skeleton must open in every independent reader and match, structure for
// structure, the empty database the Jet engine itself creates.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "jet/database.h"
#include "jet_readers.h"
#include "jet_test_db.h"
#include "jet_test_files.h"

namespace tabulon::jet {
namespace {

namespace fs = std::filesystem;

TEST(CreateDatabaseTest, EveryReaderOpensANewDatabase) {
  const fs::path path = testing::ScratchFile("create", "empty.mdb");
  auto db = Database::Create(path.string());
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  db->reset();
  EXPECT_FALSE(fs::exists(path.string() + kJournalSuffix)) << "the journal outlived the commit";

  // The catalog itself matches the Jet engine's (below); here every reader opens it, empty.
  ASSERT_TRUE(testing::MdbToolsAvailable());
  auto version = testing::MdbToolsVersion(path.string());
  ASSERT_TRUE(version.ok()) << version.status().ToString();
  EXPECT_EQ(*version, "JET4");
  ASSERT_TRUE(testing::MdbReaderAvailable());
  auto read = testing::ReadWithMdbReader(path.string());
  ASSERT_TRUE(read.ok()) << read.status().ToString();
  EXPECT_TRUE(read->empty());
}

// The Jet engine's own empty database is the reference: same pages, same catalog rows, same
// index entries. Pages 2 to 6 may differ in bytes Jet leaves uninitialised.
TEST(CreateDatabaseTest, SkeletonMatchesTheJetEnginesEmptyDatabase) {
  const fs::path reference = fs::path(TABULON_SHARED_DIR) / "fixtures/access/adox_jet4.mdb";
  if (!fs::exists(reference)) GTEST_SKIP() << "fixtures absent";
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  auto db = Database::Create(std::make_unique<MemoryFile>(bytes));
  ASSERT_TRUE(db.ok()) << db.status().ToString();
  const std::vector<uint8_t> jet = testing::ReadFileBytes(reference);
  ASSERT_EQ(bytes->size(), jet.size()) << "page count differs";
  auto page = [](const std::vector<uint8_t>& file, size_t n) { return file.data() + n * 4096; };
  for (size_t n : {0, 1, 7, 8, 9, 10, 11, 12, 13, 14, 15}) {
    EXPECT_EQ(std::memcmp(page(*bytes, n), page(jet, n), 4096), 0) << "page " << n;
  }
  // Definitions: same length and free space, same header fields.
  for (size_t n = 2; n <= 5; ++n) {
    EXPECT_EQ(std::memcmp(page(*bytes, n), page(jet, n), 0x3F), 0) << "definition page " << n;
  }
  // Usage-map rows: same kind and same pages.
  EXPECT_EQ(std::memcmp(page(*bytes, 6), page(jet, 6), 14 + 2 * 31), 0) << "map page header";
}

TEST(CreateDatabaseTest, RefusesToOverwrite) {
  const fs::path path = testing::ScratchFile("create", "exists.mdb");
  std::ofstream(path) << "something precious";
  auto db = Database::Create(path.string());
  EXPECT_EQ(db.status().code(), ErrorCode::kAlreadyExists);
  EXPECT_EQ(fs::file_size(path), 18u) << "the existing file was touched";

  auto bytes = std::make_shared<std::vector<uint8_t>>(4096, 1);
  EXPECT_EQ(Database::Create(std::make_unique<MemoryFile>(bytes)).status().code(), ErrorCode::kAlreadyExists);
}

}  // namespace
}  // namespace tabulon::jet
