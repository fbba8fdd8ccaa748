// The limits Jet puts on a table's indexes, which no source database reaches easily: 32 indexes
// with the relationships' own counted first, and index names kept apart from the T_IDX_n names.
#include "source_common/access_indexes.h"

#include <gtest/gtest.h>

namespace tabulon::source_common {
namespace {

TEST(AccessIndexesTest, PastThirtyTwoIndexesAndClashingNamesAreHandled) {
  const SourceContext owner;
  std::vector<SourceIndex> indexes;
  indexes.push_back({"u", true, {{"c0", false}}, {}, ""});        // T_IDX_0
  indexes.push_back({"T_IDX_0", false, {{"c1", true}}, {}, ""});  // its name is taken
  for (int i = 2; i < 33; ++i)
    indexes.push_back({"i" + std::to_string(i), false, {{"c" + std::to_string(i), false}}, {}, ""});
  // The primary key and two relationships' indexes leave room for 29.
  const Translation made = AccessIndexes(owner, SourceTable("T"), indexes, {{"id", false}}, 2, {});
  const std::string& text = made.text;
  EXPECT_NE(text.find("CREATE UNIQUE INDEX `T_IDX_0` ON `T` (`c0`)"), std::string::npos) << text;
  EXPECT_NE(text.find("CREATE INDEX `T_IDX_0~"), std::string::npos) << text;
  EXPECT_NE(text.find("(`c1` DESC)"), std::string::npos) << text;
  EXPECT_NE(text.find("`i28`"), std::string::npos) << text;
  EXPECT_EQ(text.find("`i29`"), std::string::npos) << text;
  ASSERT_EQ(made.notes.size(), 4u);
  for (const TranslationNote& note : made.notes) {
    EXPECT_EQ(note.statement, TranslationNote::kLeftOut);
    EXPECT_NE(note.text.find("a table holds at most 32 indexes"), std::string::npos) << note.text;
  }
  // Eleven key columns are one too many.
  std::vector<KeyColumn> wide;
  for (int i = 0; i < 11; ++i) wide.push_back({"w" + std::to_string(i), false});
  const Translation too_wide = AccessIndexes(owner, SourceTable("T"), {{"wide", false, wide, {}, ""}}, {}, 0, {});
  EXPECT_TRUE(too_wide.nothing());
  ASSERT_EQ(too_wide.notes.size(), 1u);
  EXPECT_NE(too_wide.notes[0].text.find("it has 11 key columns; Access indexes at most 10"), std::string::npos);
}

}  // namespace
}  // namespace tabulon::source_common
