#include "jet/values.h"

#include <gtest/gtest.h>

#include <climits>

namespace tabulon::jet {
namespace {

TEST(DateTime, FormatsJetDaysIncludingDaysBeforeTheEpoch) {
  EXPECT_EQ(FormatDateTime(0), "1899-12-30 00:00:00");
  EXPECT_EQ(FormatDateTime(1.5), "1899-12-31 12:00:00");
  // Before the epoch the time of day is subtracted from the (negative) day.
  EXPECT_EQ(FormatDateTime(-1.25), "1899-12-29 06:00:00");
  EXPECT_EQ(FormatDateTime(-1.75), "1899-12-29 18:00:00");
  EXPECT_EQ(FormatDateTime(25569.0), "1970-01-01 00:00:00");
  EXPECT_EQ(FormatDateTime(2.0 + 1.0 / 86400000 * 5), "1900-01-01 00:00:00.005");
  // A fraction that rounds up to midnight moves to the next day.
  EXPECT_EQ(FormatDateTime(1.0 - 1e-12), "1899-12-31 00:00:00");
  EXPECT_EQ(FormatDateTime(-657434.0), "0100-01-01 00:00:00");
  EXPECT_EQ(FormatDateTime(2958465.999988426), "9999-12-31 23:59:59");
  EXPECT_EQ(FormatDateTime(1e300), "#invalid date");
  EXPECT_EQ(FormatDateTime(std::numeric_limits<double>::quiet_NaN()), "#invalid date");
}

TEST(DateTime, ParsesWhatItFormats) {
  for (double days : {0.0, 1.5, -1.25, -1.75, 25569.0, 45000.123456, -600000.5, 2958465.0}) {
    const std::string text = FormatDateTime(days);
    auto parsed = ParseDateTime(text);
    ASSERT_TRUE(parsed.has_value()) << text;
    EXPECT_EQ(FormatDateTime(*parsed), text);
  }
  EXPECT_EQ(ParseDateTime("1899-12-29T18:00:00"), -1.75);
  EXPECT_EQ(ParseDateTime("2000-01-01"), 36526.0);
  EXPECT_EQ(ParseDateTime("1900-01-01 00:00:00.5"), 2.0 + 0.5 / 86400);
  for (const char* bad : {"", "2000-1-01", "2000-02-30", "2000-13-01", "2000-01-01 24:00:00", "2000-01-01 10:00",
                          "2000-01-01 10:00:00.1234", "2000-01-01x10:00:00", "0000-01-01"}) {
    EXPECT_FALSE(ParseDateTime(bad).has_value()) << bad;
  }
}

TEST(Guid, UsesMixedEndianStorageOrder) {
  Guid g;
  const uint8_t stored[16] = {0xFF, 0x19, 0x96, 0x6F, 0x86, 0x8B, 0x11, 0xD0,
                              0xB4, 0x2D, 0x00, 0xC0, 0x4F, 0xC9, 0x64, 0xFF};
  std::copy(stored, stored + 16, g.bytes.begin());
  EXPECT_EQ(FormatGuid(g), "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  auto parsed = ParseGuid("{6f9619ff-8b86-d011-b42d-00c04fc964ff}");
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->bytes, g.bytes);
  EXPECT_FALSE(ParseGuid("{6F9619FF-8B86-D011-B42D-00C04FC964F}").has_value());
  EXPECT_FALSE(ParseGuid("{6F9619FF-8B86-D011-B42D+00C04FC964FF}").has_value());
}

TEST(ExactNumbers, CurrencyAndDecimalKeepEveryDigit) {
  EXPECT_EQ(FormatCurrency(15000), "1.5000");
  EXPECT_EQ(FormatCurrency(-1), "-0.0001");
  EXPECT_EQ(FormatCurrency(INT64_MIN), "-922337203685477.5808");
  EXPECT_EQ(FormatCurrency(INT64_MAX), "922337203685477.5807");

  auto d = Decimal::Parse("-12.3456", 4);
  ASSERT_TRUE(d.has_value());
  EXPECT_TRUE(d->negative);
  EXPECT_EQ(d->words[0], 123456u);
  EXPECT_EQ(d->ToString(), "-12.3456");
  EXPECT_EQ(Decimal::Parse("1.5", 3)->ToString(), "1.500");
  EXPECT_EQ(Decimal::Parse("-0.000", 2)->ToString(), "0.00");
  EXPECT_EQ(Decimal::Parse(".5", 1)->ToString(), "0.5");
  EXPECT_EQ(Decimal::Parse("9999999999999999999999999999", 0)->ToString(), "9999999999999999999999999999");
  EXPECT_FALSE(Decimal::Parse("10000000000000000000000000000", 0).has_value());  // 29 digits
  EXPECT_FALSE(Decimal::Parse("1.25", 1).has_value());                           // would lose a digit
  EXPECT_EQ(Decimal::Parse("1.20", 1)->ToString(), "1.2");
  for (const char* bad : {"", "-", ".", "1e5", "1.2.3", "--1", "1,5"}) {
    EXPECT_FALSE(Decimal::Parse(bad, 2).has_value()) << bad;
  }
  Decimal big;  // a stored magnitude wider than 28 digits still prints exactly
  big.words = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0};
  big.scale = 2;
  EXPECT_EQ(big.ToString(), "792281625142643375935439503.35");
}

TEST(FormatValue, GivesTheCanonicalTextOfEveryType) {
  EXPECT_EQ(FormatValue(Value(Null{})), std::nullopt);
  EXPECT_EQ(FormatValue(Value(true)), "true");
  EXPECT_EQ(FormatValue(Value(uint8_t{255})), "255");
  EXPECT_EQ(FormatValue(Value(int16_t{-32768})), "-32768");
  EXPECT_EQ(FormatValue(Value(Currency{15000})), "1.5");
  EXPECT_EQ(FormatValue(Value(Currency{-20000})), "-2");
  EXPECT_EQ(FormatValue(Value(0.1)), "0.1");
  EXPECT_EQ(FormatValue(Value(1e308)), "1e+308");
  EXPECT_EQ(FormatValue(Value(-261.9655f)), "-261.9655");
  EXPECT_EQ(FormatValue(Value(Bytes{std::string("\x00\xab", 2)})), "00ab");
  EXPECT_EQ(FormatValue(Value(*Decimal::Parse("-0.50", 2))), "-0.5");
  EXPECT_EQ(FormatValue(Value(std::string())), "");
}

TEST(Csv, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(CsvField(std::nullopt), "");
  EXPECT_EQ(CsvField(std::string()), "\"\"");
  EXPECT_EQ(CsvField(std::string("plain")), "plain");
  EXPECT_EQ(CsvField(std::string("a,b")), "\"a,b\"");
  EXPECT_EQ(CsvField(std::string("say \"hi\"")), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField(std::string("two\r\nlines")), "\"two\r\nlines\"");
}

}  // namespace
}  // namespace tabulon::jet
