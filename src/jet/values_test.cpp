#include "jet/values.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>

namespace tabulon::jet {
namespace {

// The worked examples of testdata/values.json.
const nlohmann::json kData = nlohmann::json::parse(std::ifstream(TABULON_JET_TESTDATA "/values.json"));

TEST(DateTime, FormatsAndParsesJetDaysIncludingDaysBeforeTheEpoch) {
  for (const auto& c : kData["formatted_dates"])
    EXPECT_EQ(FormatDateTime(c[0].get<double>()), c[1].get<std::string>()) << c;
  EXPECT_EQ(FormatDateTime(std::numeric_limits<double>::quiet_NaN()), "#invalid date");
  for (const auto& c : kData["round_trip_dates"]) {
    const std::string text = FormatDateTime(c.get<double>());
    auto parsed = ParseDateTime(text);
    ASSERT_TRUE(parsed.has_value()) << text;
    EXPECT_EQ(FormatDateTime(*parsed), text);
  }
  for (const auto& c : kData["parsed_dates"])
    EXPECT_EQ(ParseDateTime(c[0].get<std::string>()), c[1].get<double>()) << c;
  for (const auto& bad : kData["bad_dates"]) EXPECT_FALSE(ParseDateTime(bad.get<std::string>()).has_value()) << bad;
}

TEST(Guid, UsesMixedEndianStorageOrder) {
  const Guid g{{0xFF, 0x19, 0x96, 0x6F, 0x86, 0x8B, 0x11, 0xD0, 0xB4, 0x2D, 0x00, 0xC0, 0x4F, 0xC9, 0x64, 0xFF}};
  EXPECT_EQ(FormatGuid(g), "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  auto parsed = ParseGuid("{6f9619ff-8b86-d011-b42d-00c04fc964ff}");
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->bytes, g.bytes);
  EXPECT_FALSE(ParseGuid("{6F9619FF-8B86-D011-B42D-00C04FC964F}").has_value());
  EXPECT_FALSE(ParseGuid("{6F9619FF-8B86-D011-B42D+00C04FC964FF}").has_value());
}

TEST(ExactNumbers, CurrencyAndDecimalKeepEveryDigit) {
  for (const auto& c : kData["currency"]) EXPECT_EQ(FormatCurrency(c[0].get<int64_t>()), c[1].get<std::string>()) << c;
  for (const auto& c : kData["decimals"]) {
    const auto d = Decimal::Parse(c[0].get<std::string>(), c[1].get<int>());
    EXPECT_EQ(d ? nlohmann::json(d->ToString()) : nlohmann::json(), c[2]) << c;
  }
  // A stored magnitude wider than 28 digits still prints exactly.
  const Decimal big{.scale = 2, .words = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0}};
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

// CSV quotes only what needs it: NULL is an empty field and "" a quoted one.
TEST(Csv, QuotesOnlyWhatNeedsIt) {
  for (const auto& c : kData["csv"]) {
    EXPECT_EQ(CsvField(c[0].is_null() ? std::nullopt : std::optional<std::string>(c[0])), c[1].get<std::string>()) << c;
  }
}

}  // namespace
}  // namespace tabulon::jet
