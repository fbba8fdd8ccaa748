#include <gtest/gtest.h>

#include "base/bytes.h"
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

TEST(TextTest, MalformedUtf8IsRefusedWithItsOffset) {
  const char* bad[] = {"ab\xFF", "ab\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"};
  for (const char* s : bad) {
    auto r = Utf8ToUtf16(s);
    EXPECT_FALSE(r.ok()) << s;
    EXPECT_FALSE(IsValidUtf8(s));
  }
  EXPECT_NE(Utf8ToUtf16("ab\xFF").status().message().find("byte 2"), std::string::npos);
}

TEST(TextTest, LoneSurrogatesDecodeToReplacementCharacter) {
  const std::u16string lone = {char16_t('a'), char16_t(0xD800), char16_t('b'), char16_t(0xDC00)};
  EXPECT_EQ(Utf16ToUtf8(lone),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
}

TEST(BytesTest, LittleEndianCodecs) {
  uint8_t buf[8] = {};
  WriteU24(buf, 0x123456);
  EXPECT_EQ(buf[0], 0x56);
  EXPECT_EQ(ReadU24(buf), 0x123456u);
  WriteI32(buf, -2);
  EXPECT_EQ(ReadI32(buf), -2);
  EXPECT_EQ(ReadU16(buf), 0xFFFE);
  WriteF64(buf, 1.5);
  EXPECT_EQ(ReadF64(buf), 1.5);
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
