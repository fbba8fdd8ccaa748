// Type map rules: what they match, what they give, and the errors that name the bad line.
#include "source_common/type_map.h"

#include <gtest/gtest.h>

namespace tabulon::source_common {
namespace {

SourceType Type(std::string name, std::optional<std::int64_t> length = std::nullopt, std::string base = "") {
  return {std::move(name), std::move(base), length, 0, 0};
}

std::string Apply(const TypeMap& map, const SourceType& type) {
  auto r = ApplyTypeMap(map, type);
  if (!r.ok()) return "error: " + r.status().message();
  return *r ? (*r)->Text() : "-";
}

TEST(TypeMapTest, FirstMatchingRuleWinsWithinItsLengthRange) {
  auto map = ParseTypeMap(
      "[Public]\nConfig=true\n[TypeMap]\n; comment\n# comment\n"
      "varchar(1-20)=Text(n)\nVARCHAR(21-max)=Memo\nvarchar=Long\n"
      "decimal(29-38)=Numeric(28,s)\nbinary(max)=OLEObject\npreset=access-native\n[Other]\nint=Text\n",
      "tabulon.cfg");
  ASSERT_TRUE(map.ok()) << map.status().message();
  EXPECT_EQ(Apply(*map, Type("varchar", 20)), "VarChar(20)");
  EXPECT_EQ(Apply(*map, Type("Varchar", 21)), "LongText");
  EXPECT_EQ(Apply(*map, Type("varchar", kMaxLength)), "LongText");
  EXPECT_EQ(Apply(*map, Type("varchar")), "Long");  // no length: only the unranged rule
  EXPECT_EQ(Apply(*map, Type("Phone", 10, "varchar")), "VarChar(10)");
  EXPECT_EQ(Apply(*map, {"decimal", "", 38, 38, 6}), "Numeric(28,6)");
  EXPECT_EQ(Apply(*map, Type("binary", 10)), "-");
  EXPECT_EQ(Apply(*map, Type("binary", kMaxLength)), "LongBinary");
  EXPECT_EQ(Apply(*map, Type("datetime2", 7)), "DateTime");  // from the preset, after the rules
  EXPECT_EQ(Apply(*map, Type("int")), "-");                    // another section's lines are not rules
  // A length the Access type cannot hold names the rule.
  EXPECT_EQ(Apply(*map, {"decimal", "", 38, 38, 30}), "error: tabulon.cfg line 9: Numeric(28,30): Access holds a "
                                                      "precision of 1 to 28 and a scale up to the precision");
}

TEST(TypeMapTest, BadRulesNameTheirLine) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"int=Long\nint\n", "m line 2: expected source_type[(length range)]=AccessType"},
      {"int=Wide\n", "m line 1: 'Wide' is not an Access type"},
      {"varchar(5-2)=Memo\n", "m line 1: '(5-2)' is not a length range (n, a-b, a-max or max)"},
      {"varchar(max-5)=Memo\n", "m line 1: '(max-5)' is not a length range (n, a-b, a-max or max)"},
      {"varchar(1-300)=Text(300)\n", "m line 1: Text(300): Text holds 1 to 255 characters (Memo holds more)"},
      {"int=Long(4)\n", "m line 1: Long takes no size"},
      {"int=Text(q)\n", "m line 1: 'q' is not a number, n, p or s"},
      {"=Long\n", "m line 1: '' is not a source type"},
      {"preset=fancy\n", "m line 1: unknown type map preset 'fancy' (the presets are default and access-native)"},
  };
  for (const auto& c : cases) {
    auto map = ParseTypeMap(c.text, "m");
    ASSERT_FALSE(map.ok()) << c.text;
    EXPECT_EQ(map.status().message(), c.error);
  }
  // 'n' of a column without a length cannot be filled in.
  auto map = ParseTypeMap("varchar=Text(n)\n", "m");
  EXPECT_EQ(Apply(*map, Type("varchar", kMaxLength)),
            "error: m line 1: 'n' stands for no length here (the source type has (max))");
}

TEST(TypeMapTest, PresetsAndFilesLoadByName) {
  EXPECT_TRUE(LoadTypeMap("default")->empty());
  EXPECT_FALSE(LoadTypeMap("access-native")->empty());
  EXPECT_EQ(LoadTypeMap("nonsense").status().message(),
            "unknown type map preset 'nonsense' (the presets are default and access-native)");
  EXPECT_EQ(LoadTypeMap("/nonexistent/map.cfg").status().message(), "type map /nonexistent/map.cfg cannot be read");
}

}  // namespace
}  // namespace tabulon::source_common
