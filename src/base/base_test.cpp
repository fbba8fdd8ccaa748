#include <gtest/gtest.h>

#include "base/status.h"
#include "base/text.h"

namespace tabulon {
namespace {

TEST(TextTest, Utf8AndUtf16RoundTripIncludingSurrogatePairs) {
  const std::string samples[] = {"", "plain", "Ελληνικά", "漢字かな", "emoji 😀 end", "\xC3\xBF nul\0x"};
  for (const std::string& s : samples) {
    auto u16 = Utf8ToUtf16(s);
    ASSERT_TRUE(u16.ok()) << s;
    EXPECT_EQ(Utf16ToUtf8(*u16), s);
    std::string le;
    AppendUtf16Le(*u16, le);
    EXPECT_EQ(le.size(), 2 * u16->size());
    EXPECT_EQ(Utf16LeBytesToUtf8(reinterpret_cast<const uint8_t*>(le.data()), le.size()), s);
  }
  auto emoji = Utf8ToUtf16("😀");
  ASSERT_TRUE(emoji.ok());
  EXPECT_EQ(*emoji, std::u16string({char16_t(0xD83D), char16_t(0xDE00)}));
}

// Malformed UTF-8 is refused with its offset; a lone surrogate decodes to U+FFFD.
TEST(TextTest, MalformedTextIsRefusedOrReplaced) {
  const char* bad[] = {"ab\xFF", "ab\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"};
  for (const char* s : bad) {
    auto r = Utf8ToUtf16(s);
    EXPECT_FALSE(r.ok()) << s;
    EXPECT_FALSE(IsValidUtf8(s));
  }
  EXPECT_NE(Utf8ToUtf16("ab\xFF").status().message().find("byte 2"), std::string::npos);
  EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)}),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
}

Result<int> Half(int v) {
  if (v % 2) return InvalidArgumentError("odd: " + std::to_string(v));
  return v / 2;
}

Result<int> Quarter(int v) {
  ASSIGN_OR_RETURN(int h, Half(v));
  ASSIGN_OR_RETURN(int q, Half(h));
  return q;
}

TEST(StatusTest, MacrosPropagateTheFirstError) {
  EXPECT_EQ(*Quarter(8), 2);
  auto r = Quarter(6);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.status().code(), ErrorCode::kInvalidArgument);
  EXPECT_EQ(r.status().ToString(), "Invalid argument: odd: 3");
  EXPECT_EQ(r.status().WithContext("table T").message(), "table T: odd: 3");
}

}  // namespace
}  // namespace tabulon
