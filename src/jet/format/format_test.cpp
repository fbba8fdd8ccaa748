// Decoders of the on-disk structures, fed with hand-built pages and rows: the forms real files
// may not show, and damaged input refused with its location.
#include <gtest/gtest.h>

#include <cstring>

#include "base/bytes.h"
#include "jet/file_io.h"
#include "jet/format/data_page.h"
#include "jet/format/index_page.h"
#include "jet/format/long_value.h"
#include "jet/format/page0.h"
#include "jet/format/properties.h"
#include "jet/format/row.h"
#include "jet/format/usage_map.h"

namespace tabulon::jet::format {
namespace {

// An in-memory file of `pages` zeroed pages, opened through a pager.
struct TestFile {
  explicit TestFile(uint32_t pages) : bytes(std::make_shared<std::vector<uint8_t>>(size_t{pages} * kPageSize)) {}
  uint8_t* Page(uint32_t n) { return bytes->data() + size_t{n} * kPageSize; }
  std::unique_ptr<Pager> Open() {
    auto pager = Pager::Open(std::make_unique<MemoryFile>(bytes), false);
    EXPECT_TRUE(pager.ok());
    return std::move(pager).value();
  }
  std::shared_ptr<std::vector<uint8_t>> bytes;
};

// Lays rows out on a data page the way Jet does: from the end downwards.
void MakeDataPage(uint8_t* page, uint32_t owner, const std::vector<std::string>& rows) {
  std::memset(page, 0, kPageSize);
  page[0] = kPageData;
  page[1] = 1;
  WriteU32(page + kDataPageOwnerOffset, owner);
  WriteU16(page + kDataPageRowCountOffset, static_cast<uint16_t>(rows.size()));
  uint32_t top = kPageSize;
  for (size_t i = 0; i < rows.size(); ++i) {
    top -= static_cast<uint32_t>(rows[i].size());
    std::memcpy(page + top, rows[i].data(), rows[i].size());
    WriteU16(page + kDataPageHeaderSize + 2 * i, static_cast<uint16_t>(top));
  }
  WriteU16(page + 2, static_cast<uint16_t>(top - kDataPageHeaderSize - 2 * rows.size()));
}

std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  WriteU32(reinterpret_cast<uint8_t*>(s.data()), v);
  return s;
}

// Headers, usage maps, index pages and property blobs of real files are decoded by every
// fixture read; here only what they must refuse, from a page that decodes.
TEST(Header, RefusesWhatItCannotRead) {
  std::vector<uint8_t> page(kPageSize);
  std::memcpy(page.data() + 4, kEngineName, 15);
  page[kHeaderVersionOffset] = kVersionJet4;
  WriteU16(page.data() + kHeaderCodePageOffset, 1252);
  WriteF64(page.data() + kHeaderCreationDateOffset, 42329.5);
  const auto no_password = EmptyPasswordField(42329.5);
  std::memcpy(page.data() + kHeaderPasswordOffset, no_password.data(), no_password.size());
  ApplyHeaderMask(page.data());
  ASSERT_TRUE(DecodeHeader(page.data()).ok());
  auto encrypted = page;
  encrypted[kHeaderDatabaseKeyOffset] ^= 0x01;  // a database key: pages are encrypted
  EXPECT_EQ(DecodeHeader(encrypted.data()).status().code(), ErrorCode::kUnsupported);
  auto jet3 = page;
  jet3[kHeaderVersionOffset] = 0;
  EXPECT_EQ(DecodeHeader(jet3.data()).status().code(), ErrorCode::kUnsupported);
  // A damaged creation date must not break the password mask arithmetic.
  auto wild_date = page;
  ApplyHeaderMask(wild_date.data());
  WriteF64(wild_date.data() + kHeaderCreationDateOffset, -1.1e135);
  ApplyHeaderMask(wild_date.data());
  EXPECT_TRUE(DecodeHeader(wild_date.data()).ok());
  auto not_header = page;
  not_header[0] = 1;
  EXPECT_EQ(DecodeHeader(not_header.data()).status().code(), ErrorCode::kCorrupt);
}

// Plain and compressed text of real files is compared in full elsewhere.
TEST(Text, DecodesMixedFormsAndSurrogatePairs) {
  std::string out;
  // 0x00 switches to two-byte units and back.
  const uint8_t mixed[] = {0xFF, 0xFE, 'x', 0, 0xB1, 0x03, 0, 'y'};
  DecodeText(mixed, sizeof(mixed), out);
  EXPECT_EQ(out, "x\xCE\xB1y");
  const uint8_t surrogates[] = {0x3D, 0xD8, 0x00, 0xDE};  // U+1F600
  DecodeText(surrogates, sizeof(surrogates), out);
  EXPECT_EQ(out, "\xF0\x9F\x98\x80");
  DecodeText(surrogates, 0, out);
  EXPECT_EQ(out, "");
}

TEST(DataPage, RejectsRowTablesOutsideThePage) {
  std::vector<uint8_t> page(kPageSize);
  MakeDataPage(page.data(), 7, {"abc", "defg"});
  ASSERT_TRUE(DataPageView::Parse(page.data(), 9).ok());

  auto overlapping = page;
  WriteU16(overlapping.data() + kDataPageHeaderSize + 2, kPageSize - 1);  // row 1 above row 0
  EXPECT_EQ(DataPageView::Parse(overlapping.data(), 9).status().code(), ErrorCode::kCorrupt);
  auto into_header = page;
  WriteU16(into_header.data() + kDataPageHeaderSize, 10);
  EXPECT_NE(DataPageView::Parse(into_header.data(), 9).status().message().find("page 9"), std::string::npos);
  auto too_many = page;
  WriteU16(too_many.data() + kDataPageRowCountOffset, 3000);
  EXPECT_FALSE(DataPageView::Parse(too_many.data(), 9).ok());
  auto wrong_type = page;
  wrong_type[0] = kPageIndexLeaf;
  EXPECT_FALSE(DataPageView::Parse(wrong_type.data(), 9).ok());
  // A deleted row's offset is not trusted, but does not make the page unreadable.
  auto deleted = page;
  WriteU16(deleted.data() + kDataPageHeaderSize, kRowDeleted | 5);
  EXPECT_TRUE(DataPageView::Parse(deleted.data(), 9).ok());
}

// A table: Long id (fixed @0), Boolean flag, Text name (var 0), Double score (fixed @4),
// Memo notes (var 1).
TableDefinition SampleTable() {
  TableDefinition t;
  t.tdef_page = 5;
  t.max_column_count = 5;
  t.variable_column_count = 2;
  auto add = [&](const char* name, ColumnType type, uint16_t number, uint8_t flags, uint16_t fixed, uint16_t var) {
    ColumnDefinition c;
    c.name = name;
    c.type = type;
    c.number = number;
    c.flags = flags;
    c.fixed_offset = fixed;
    c.variable_index = var;
    t.columns.push_back(c);
  };
  add("id", ColumnType::kLong, 0, 0x03, 0, 0);
  add("flag", ColumnType::kBoolean, 1, 0x03, 0, 0);
  add("name", ColumnType::kText, 2, 0x02, 0, 0);
  add("score", ColumnType::kDouble, 3, 0x03, 4, 0);
  add("notes", ColumnType::kMemo, 4, 0x02, 0, 1);
  return t;
}

// Builds a row of SampleTable: name and notes given raw, null mask explicit.
std::string SampleRow(int32_t id, double score, const std::string& name, const std::string& notes, uint8_t mask,
                      uint16_t columns = 5) {
  std::string row(2 + 12, '\0');
  auto* p = reinterpret_cast<uint8_t*>(row.data());
  WriteU16(p, columns);
  WriteI32(p + 2, id);
  WriteF64(p + 6, score);
  const auto name_at = static_cast<uint16_t>(row.size());
  row += name;
  const auto notes_at = static_cast<uint16_t>(row.size());
  row += notes;
  const auto eod = static_cast<uint16_t>(row.size());
  std::string trailer(8, '\0');
  auto* t = reinterpret_cast<uint8_t*>(trailer.data());
  WriteU16(t, eod);
  WriteU16(t + 2, notes_at);
  WriteU16(t + 4, name_at);
  WriteU16(t + 6, 2);
  row += trailer;
  row.push_back(static_cast<char>(mask));
  return row;
}

// Values of real files are compared in full elsewhere; here the cases they may not hold, and
// damaged rows reported with their location.
TEST(Row, DecodesNullMaskAndOlderRowsAndReportsDamage) {
  const TableDefinition table = SampleTable();
  RowDecoder decoder(table);
  Row out;
  auto decode = [&](const std::string& row) {
    return decoder.Decode(reinterpret_cast<const uint8_t*>(row.data()), static_cast<uint32_t>(row.size()),
                          (12u << 8) | 3, nullptr, out);
  };
  // Boolean false and a NULL text; an empty but non-null Memo field is too short to hold a
  // long-value header.
  ASSERT_TRUE(decode(SampleRow(7, 0, "", "", 0b01001)).ok());
  EXPECT_EQ(std::get<bool>(out[1]), false);
  EXPECT_TRUE(std::holds_alternative<Null>(out[2]));
  // A row written before columns 3 and 4 existed: they read as NULL.
  ASSERT_TRUE(decode(SampleRow(1, 9.0, std::string("\xFF\xFEZoe", 5), "", 0b00101, 3)).ok());
  EXPECT_EQ(std::get<int32_t>(out[0]), 1);
  EXPECT_EQ(std::get<std::string>(out[2]), "Zoe");
  EXPECT_TRUE(std::holds_alternative<Null>(out[3]));

  const std::string good = SampleRow(1, 1, "ab", "", 0b01111);
  std::string bad_offset = good;
  WriteU16(reinterpret_cast<uint8_t*>(bad_offset.data()) + bad_offset.size() - 5, 0x7FFF);
  const Status s = decode(bad_offset);
  EXPECT_EQ(s.code(), ErrorCode::kCorrupt);
  EXPECT_NE(s.message().find("page 12 row 3"), std::string::npos) << s.message();
  std::string many_vars = good;
  WriteU16(reinterpret_cast<uint8_t*>(many_vars.data()) + many_vars.size() - 3, 5000);
  EXPECT_FALSE(decode(many_vars).ok());
  std::string many_columns = good;
  WriteU16(reinterpret_cast<uint8_t*>(many_columns.data()), 60000);
  EXPECT_FALSE(decode(many_columns).ok());
  EXPECT_FALSE(decode("").ok());
}

// Pages beyond the file are counted, not listed; a reference to a page that is no bitmap and a
// missing map row are refused.
TEST(UsageMap, RefusesBadReferencesAndCountsPagesBeyondTheFile) {
  TestFile file(40);
  std::string inline_map(kUsageMapRowSize, '\0');
  inline_map[0] = kUsageMapInline;
  WriteU32(reinterpret_cast<uint8_t*>(inline_map.data()) + 1, 8);
  inline_map[5] = 0b00000101;               // pages 8 and 10
  inline_map[8] = static_cast<char>(0x80);  // page 8 + 31 = 39
  inline_map[68] = 1;                       // page 8 + 504: beyond the file
  std::string reference(kUsageMapRowSize, '\0');
  reference[0] = kUsageMapReference;
  WriteU32(reinterpret_cast<uint8_t*>(reference.data()) + 1, 20);
  MakeDataPage(file.Page(3), 0, {inline_map, reference});
  file.Page(20)[0] = kPageUsageBitmap;
  file.Page(20)[kUsageBitmapPageHeader + 4] = 0b10;  // page 33
  auto pager = file.Open();
  auto a = ReadUsageMap(*pager, (3u << 8) | 0);
  ASSERT_TRUE(a.ok()) << a.status().ToString();
  EXPECT_EQ(a->bits_beyond_file, 1u);
  ASSERT_TRUE(ReadUsageMap(*pager, (3u << 8) | 1).ok());

  file.Page(20)[0] = kPageData;  // the reference no longer names a bitmap page
  auto pager2 = file.Open();
  EXPECT_FALSE(ReadUsageMap(*pager2, (3u << 8) | 1).ok());
  EXPECT_FALSE(ReadUsageMap(*pager2, (3u << 8) | 2).ok());  // no such row
}

std::string LongValueField(uint32_t kind, uint32_t length, uint32_t first_row, const std::string& inline_data = {}) {
  return Le32(kind | length) + Le32(first_row) + Le32(0) + inline_data;
}

TEST(LongValue, RefusesLoopsShortChainsAndImpossibleLengths) {
  TestFile file(8);
  MakeDataPage(file.Page(4), kLongValuePageOwner, {Le32((4u << 8) | 0) + "loop"});
  MakeDataPage(file.Page(5), kLongValuePageOwner, {Le32(0) + "end"});
  auto pager = file.Open();
  std::string out;
  auto read = [&](const std::string& field) {
    return ReadLongValueData(*pager, reinterpret_cast<const uint8_t*>(field.data()), field.size(), out);
  };
  const Status loop = read(LongValueField(0, 10000, (4u << 8) | 0));
  EXPECT_EQ(loop.code(), ErrorCode::kCorrupt);
  EXPECT_NE(loop.message().find("loop"), std::string::npos);
  EXPECT_FALSE(read(LongValueField(0, 100, (5u << 8) | 0)).ok());  // chain ends early
  // Declared length beyond the file: refused before anything is allocated.
  EXPECT_FALSE(read(LongValueField(0, 0x3FFFFFFF, (5u << 8) | 0)).ok());
  EXPECT_FALSE(read(LongValueField(kLongValueSingle, 50, (5u << 8) | 0)).ok());
  EXPECT_FALSE(read(LongValueField(kLongValueInline, 5, 0, "abc")).ok());
  EXPECT_FALSE(read(LongValueField(kLongValueSingle, 3, (9u << 8) | 0)).ok());  // no page 9
  EXPECT_FALSE(read(LongValueField(kLongValueSingle, 3, (5u << 8) | 7)).ok());  // no row 7
  EXPECT_FALSE(read(LongValueField(kLongValueKindMask, 3, 0, "abc")).ok());     // both kind bits
  EXPECT_FALSE(read("short").ok());
}

TEST(IndexPage, RefusesAPrefixLongerThanTheFirstKey) {
  std::vector<uint8_t> page(kPageSize);
  page[0] = kPageIndexLeaf;
  page[1] = 1;
  WriteU32(page.data() + 4, 5);
  WriteU16(page.data() + kIndexPrefixOffset, 2);
  // Entry 1: key 7F 80 01 + page 3 row 1; entry 2 stored without its 2-byte prefix.
  const uint8_t first[] = {0x7F, 0x80, 0x01, 0, 0, 3, 1};
  const uint8_t second[] = {0x02, 0, 0, 3, 2};
  std::memcpy(page.data() + kIndexEntriesOffset, first, sizeof(first));
  std::memcpy(page.data() + kIndexEntriesOffset + sizeof(first), second, sizeof(second));
  auto mark = [&](uint32_t end) {
    const uint32_t bit = end - kIndexEntriesOffset;
    page[kIndexBitmapOffset + bit / 8] |= static_cast<uint8_t>(1 << (bit % 8));
  };
  mark(kIndexEntriesOffset + sizeof(first));
  mark(kIndexEntriesOffset + sizeof(first) + sizeof(second));
  ASSERT_TRUE(DecodeIndexPage(page.data(), 11).ok());
  WriteU16(page.data() + kIndexPrefixOffset, 10);  // longer than the first key
  EXPECT_FALSE(DecodeIndexPage(page.data(), 11).ok());
}

TEST(IndexPage, TreeWalkRefusesLoops) {
  TestFile file(6);
  for (uint32_t p : {2u, 3u}) {
    uint8_t* page = file.Page(p);
    page[0] = kPageIndexNode;
    // One node entry: key 7F + row pointer + child page (the other node).
    const uint8_t entry[] = {0x7F, 0, 0, 1, 0, 0, 0, 0, static_cast<uint8_t>(p == 2 ? 3 : 2)};
    std::memcpy(page + kIndexEntriesOffset, entry, sizeof(entry));
    page[kIndexBitmapOffset + 1] |= 1 << 1;  // entry ends at offset 9
  }
  auto pager = file.Open();
  auto entries = ReadIndexEntries(*pager, 2);
  EXPECT_EQ(entries.status().code(), ErrorCode::kCorrupt);
}

std::string Le16(uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

TEST(Properties, RefusesCutAndUnknownBlobsAndNamesOutsideTheList) {
  const std::string names = Le16(16) + Utf16("Required") + Le16(22) + Utf16("Description");
  const std::string names_chunk = Le32(static_cast<uint32_t>(6 + names.size())) + Le16(0x80) + names;
  const std::string map_name = Le32(6 + 4) + Le16(4) + Utf16("id");
  const std::string required = Le16(9) + std::string{'\1', '\1'} + Le16(0) + Le16(1) + "\x01";
  const std::string text = Le16(12) + std::string{'\0', '\x0A'} + Le16(1) + Le16(4) + Utf16("ab");
  const std::string column = map_name + required + text;
  const std::string column_chunk = Le32(static_cast<uint32_t>(6 + column.size())) + Le16(0x01) + column;
  const std::string blob = std::string("MR2\0", 4) + names_chunk + column_chunk;

  ASSERT_TRUE(DecodePropertyBlob(blob).ok());
  EXPECT_FALSE(DecodePropertyBlob(blob.substr(0, blob.size() - 3)).ok());
  EXPECT_FALSE(DecodePropertyBlob("KKD\0").ok());
  std::string bad_name = blob;
  bad_name[bad_name.size() - 12 + 4] = 9;  // last record: name index beyond the list
  EXPECT_FALSE(DecodePropertyBlob(bad_name).ok());
}

}  // namespace
}  // namespace tabulon::jet::format
