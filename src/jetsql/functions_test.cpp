// The value library of Access SQL expressions: the rules that are easy to get wrong.
#include "jetsql/functions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jetsql/convert.h"

namespace tabulon::jetsql {
namespace {

using jet::Value;

const Value kNull = jet::Null{};
Value L(int32_t n) { return n; }
Value I(int16_t n) { return n; }
Value S(const char* text) { return std::string(text); }
Value Cur(int64_t scaled) { return jet::Currency{scaled}; }
Value Dt(const char* text) { return jet::DateTime{ParseDateText(text).value()}; }
Value Dec(const char* text) { return *jet::Decimal::Parse(text, 4); }

// A result as "<type>:<text>" (N for Null), or "!" and the error message.
std::string Shape(const Result<Value>& result) {
  if (!result.ok()) return "!" + result.status().message();
  static const char kTypes[] = "NBYILCFDTXSGM";  // in the order of jet::Value's alternatives
  const char type = kTypes[result->index()];
  return type == 'N' ? "N" : std::string(1, type) + ":" + ValueText(*result).value();
}

struct Case {
  std::string name;
  std::vector<Value> args;
  std::string expected;
};

void ExpectCalls(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(Shape(CallFunction(c.name, c.args)), c.expected) << c.name << " #" << (&c - cases.data());
  }
}

TEST(FunctionsTest, Operators) {
  struct Op {
    std::string op;
    Value left, right;
    std::string expected;
  };
  const std::vector<Op> cases = {
      {"&", kNull, kNull, "N"},
      {"&", kNull, S("a"), "S:a"},
      {"&", L(1), true, "S:1True"},
      {"&", 1.5, Dt("2024-01-31"), "S:1.51/31/2024"},
      {"+", S("1"), S("2"), "S:12"},
      {"+", S("1"), L(2), "D:3"},
      {"+", S("abc"), L(1), "!Type mismatch: 'abc' is not a number (in +)"},
      {"+", kNull, L(1), "N"},
      {"+", L(2147483647), L(1), "D:2147483648"},
      {"+", I(32767), I(1), "L:32768"},
      {"*", L(65536), L(65536), "D:4294967296"},
      {"-", true, true, "L:0"},
      {"+", Cur(1000), Cur(2000), "C:0.3"},
      {"*", Cur(10001), Cur(10001), "C:1.0002"},
      {"*", Cur(15000), L(3), "C:4.5"},
      {"/", Cur(100000), L(4), "D:2.5"},
      {"+", 0.1, 0.2, "D:0.3"},
      {"*", Cur(9223372036854775807), L(2), "!Overflow in *"},
      {"+", Dec("0.1"), Dec("0.2"), "M:0.3"},
      {"*", Dec("1.5"), Cur(20000), "M:3"},
      {"/", L(1), L(0), "!Division by zero"},
      {"\\", 7.5, L(2), "L:4"},
      {"mod", L(-7), L(3), "L:-1"},
      {"mod", L(1), 0.4, "!Division by zero"},
      {"^", L(2), L(10), "D:1024"},
      {"+", Dt("2024-01-31 13:45:10"), L(1), "T:2/1/2024 1:45:10 PM"},
      {"-", Dt("2024-03-01"), Dt("2024-02-01"), "D:29"},
      {"-", Dt("2024-03-01 12:00"), 0.75, "T:2/29/2024 6:00:00 PM"},
      {"xor", true, false, "B:True"},
      {"xor", L(5), L(3), "L:6"},
      {"imp", kNull, true, "B:True"},
      {"imp", true, kNull, "N"},
      {"eqv", false, false, "B:True"},
      {"and", false, kNull, "B:False"},
      {"and", true, kNull, "N"},
      {"or", kNull, true, "B:True"},
  };
  for (const Op& c : cases) {
    EXPECT_EQ(Shape(ApplyBinary(c.op, c.left, c.right)), c.expected) << c.op << " #" << (&c - cases.data());
  }
  EXPECT_EQ(Shape(ApplyUnary("-", I(-32768))), "L:32768");
  EXPECT_EQ(Shape(ApplyUnary("-", true)), "I:1");
  EXPECT_EQ(Shape(ApplyUnary("-", S("2"))), "D:-2");
  EXPECT_EQ(Shape(ApplyUnary("-", kNull)), "N");
}

TEST(FunctionsTest, TextFunctionsCountCharacters) {
  ExpectCalls({
      {"Len", {S("Grüße")}, "L:5"},
      {"len", {L(-12)}, "L:3"},
      {"Mid", {S("Grüße"), L(3), L(2)}, "S:üß"},
      {"Mid", {S("abc"), L(5)}, "S:"},
      {"Mid", {S("abc"), L(0)}, "!Invalid procedure call: Mid with start 0"},
      {"Mid", {S("abc")}, "!Mid takes 2 or 3 arguments"},
      {"Left", {S("日本語テキスト"), L(2)}, "S:日本"},
      {"Right$", {S("abcdef"), 2.5}, "S:ef"},
      {"InStr", {S("Ärger über"), S("ÜBER")}, "L:7"},
      {"InStr", {L(4), S("abcabc"), S("B")}, "L:5"},
      {"InStr", {L(1), S("abcabc"), S("B"), L(0)}, "L:0"},
      {"InStr", {S("abc"), S("")}, "L:1"},
      {"InStr", {kNull, S("a")}, "N"},
      {"InStrRev", {S("abcabc"), S("BC")}, "L:5"},
      {"InStrRev", {S("abcabc"), S("bc"), L(4)}, "L:2"},
      {"Replace", {S("aXbxc"), S("x"), S("-")}, "S:a-b-c"},
      {"Replace", {S("aXbxc"), S("x"), S("-"), L(1), L(-1), L(0)}, "S:aXb-c"},
      {"Replace", {S("abcabc"), S("b"), S(""), L(3)}, "S:cac"},
      {"Replace", {S("aaa"), S("a"), S("b"), L(1), L(2)}, "S:bba"},
      {"Trim", {S("  a b  ")}, "S:a b"},
      {"LTrim", {S("  a ")}, "S:a "},
      {"UCase", {S("äbç")}, "S:ÄBÇ"},
      {"LCase", {S("ÀÉÎ Ω")}, "S:àéî ω"},
      {"Space", {L(2)}, "S:  "},
      {"Space", {L(2000000000)}, "!Space would build text of 2000000000 characters"},
      {"String", {L(3), S("xy")}, "S:xxx"},
      {"String", {L(2), L(65)}, "S:AA"},
      {"StrReverse", {S("añb")}, "S:bña"},
      {"StrComp", {S("abc"), S("ABC")}, "I:0"},
      {"StrComp", {S("abc"), S("ABC"), L(0)}, "I:1"},
      {"StrComp", {S("a"), S("b")}, "I:-1"},
      {"Asc", {S("€uro")}, "I:128"},
      {"Chr", {L(233)}, "S:é"},
      {"Chr", {L(256)}, "!Invalid procedure call: Chr with code 256"},
      {"Val", {S(" 1 2.5e1abc")}, "D:125"},
      {"Val", {S("abc")}, "D:0"},
      {"Val", {S("&HFF")}, "D:255"},
      {"Str", {L(5)}, "S: 5"},
      {"Str", {-1.5}, "S:-1.5"},
      {"Hex", {L(255)}, "S:FF"},
      {"Hex", {I(-1)}, "S:FFFF"},
      {"Hex", {L(-1)}, "S:FFFFFFFF"},
      {"Oct", {L(8)}, "S:10"},
      {"Foo", {}, "!unknown function Foo"},
  });
}

TEST(FunctionsTest, NumbersAndConversions) {
  ExpectCalls({
      {"Round", {2.5}, "D:2"},
      {"Round", {3.5}, "D:4"},
      {"Round", {-2.5}, "D:-2"},
      {"Round", {0.125, L(2)}, "D:0.12"},
      {"Round", {1.005, L(2)}, "D:1"},
      {"Round", {Cur(25000)}, "C:2"},
      {"Round", {Dec("1.2345"), L(3)}, "M:1.234"},
      {"Round", {L(7)}, "L:7"},
      {"Round", {1.5, L(-1)}, "!Invalid procedure call: Round with -1 decimals"},
      {"CInt", {2.5}, "I:2"},
      {"CInt", {S("3.5")}, "I:4"},
      {"CInt", {-2.5}, "I:-2"},
      {"CInt", {L(40000)}, "!Overflow in CInt(40000)"},
      {"CByte", {L(-1)}, "!Overflow in CByte(-1)"},
      {"CByte", {255.4}, "Y:255"},
      {"CLng", {S("1,234.5")}, "L:1234"},
      {"CLng", {S("abc")}, "!Type mismatch: 'abc' is not a number (in CLng)"},
      {"CCur", {1.23456}, "C:1.2346"},
      {"CCur", {0.00005}, "C:0"},
      {"CDec", {S("12.3456789")}, "M:12.3456789"},
      {"CSng", {0.1}, "F:0.1"},
      {"CDbl", {Cur(12345)}, "D:1.2345"},
      {"CBool", {S("true")}, "B:True"},
      {"CBool", {S("0")}, "B:False"},
      {"CBool", {L(5)}, "B:True"},
      {"CBool", {S("abc")}, "!Type mismatch: 'abc' is not a truth value (in CBool)"},
      {"CStr", {1e20}, "S:1E+20"},
      {"CStr", {0.00001}, "S:1E-05"},
      {"CStr", {1.0 / 3}, "S:0.333333333333333"},
      {"CStr", {Cur(15000)}, "S:1.5"},
      {"CStr", {kNull}, "N"},
      {"Int", {-2.5}, "D:-3"},
      {"Fix", {-2.5}, "D:-2"},
      {"Int", {Cur(-25000)}, "C:-3"},
      {"Int", {I(5)}, "I:5"},
      {"Int", {Dec("-2.5")}, "M:-3"},
      {"Fix", {Dec("-2.5")}, "M:-2"},
      {"Int", {S("2.7")}, "D:2"},
      {"Abs", {I(-3)}, "I:3"},
      {"Sgn", {-0.5}, "I:-1"},
      {"Sqr", {L(-1)}, "!Invalid procedure call: Sqr of -1"},
      {"Log", {L(0)}, "!Invalid procedure call: Log of 0"},
      {"IsNull", {kNull}, "B:True"},
      {"IsNumeric", {S("1e3")}, "B:True"},
      {"IsNumeric", {S("abc")}, "B:False"},
      {"IsDate", {S("2024-02-30")}, "B:False"},
      {"Nz", {kNull}, "S:"},
      {"Nz", {kNull, L(0)}, "L:0"},
      {"Choose", {kNull, L(1), L(2)}, "N"},
      {"Choose", {L(2), S("a"), S("b")}, "S:b"},
      {"Choose", {L(3), S("a"), S("b")}, "N"},
      {"Choose", {L(1), kNull, S("b")}, "N"},
  });
}

TEST(FunctionsTest, Dates) {
  const Value d = Dt("2024-01-31 13:45:10");
  ExpectCalls({
      {"DateDiff", {S("yyyy"), Dt("2023-12-31"), Dt("2024-01-01")}, "L:1"},
      {"DateDiff", {S("m"), Dt("2024-01-31"), Dt("2024-02-01")}, "L:1"},
      {"DateDiff", {S("q"), Dt("2024-03-31"), Dt("2024-04-01")}, "L:1"},
      {"DateDiff", {S("d"), Dt("2024-01-01 23:00"), Dt("2024-01-02 01:00")}, "L:1"},
      {"DateDiff", {S("d"), Dt("2024-01-02"), Dt("2024-01-01")}, "L:-1"},
      {"DateDiff", {S("ww"), Dt("2024-01-06"), Dt("2024-01-07")}, "L:1"},
      {"DateDiff", {S("ww"), Dt("2024-01-07"), Dt("2024-01-08"), L(2)}, "L:1"},
      {"DateDiff", {S("w"), Dt("2024-01-01"), Dt("2024-01-07")}, "L:0"},
      {"DateDiff", {S("h"), Dt("2024-01-01 10:59:59"), Dt("2024-01-01 11:00")}, "L:1"},
      {"DateDiff", {S("n"), Dt("2024-01-01 10:00:59"), Dt("2024-01-01 10:01:00")}, "L:1"},
      {"DateDiff", {S("x"), d, d}, "!Invalid procedure call: DateDiff with interval 'x'"},
      {"DateAdd", {S("m"), L(1), Dt("2024-01-31")}, "T:2/29/2024"},
      {"DateAdd", {S("m"), L(1), Dt("2023-01-31")}, "T:2/28/2023"},
      {"DateAdd", {S("yyyy"), L(1), Dt("2024-02-29")}, "T:2/28/2025"},
      {"DateAdd", {S("q"), L(-1), Dt("2024-05-31 06:00")}, "T:2/29/2024 6:00:00 AM"},
      {"DateAdd", {S("h"), L(2), Dt("2024-01-31 23:00")}, "T:2/1/2024 1:00:00 AM"},
      {"DateAdd", {S("d"), L(-1), Dt("1899-12-30 06:00")}, "T:12/29/1899 6:00:00 AM"},
      {"DatePart", {S("ww"), Dt("2024-01-07")}, "I:2"},
      {"DatePart", {S("y"), Dt("2024-03-01")}, "I:61"},
      {"DatePart", {S("w"), Dt("2024-01-31"), L(2)}, "I:3"},
      {"Weekday", {d}, "I:4"},
      {"Year", {S("2024-01-31")}, "I:2024"},
      {"Year", {S("abc")}, "!Type mismatch: 'abc' is not a date (in Year)"},
      {"Hour", {d}, "I:13"},
      {"DateSerial", {L(2024), L(14), L(0)}, "T:1/31/2025"},
      {"DateSerial", {L(24), L(1), L(1)}, "T:1/1/2024"},
      {"TimeSerial", {L(25), L(0), L(0)}, "T:12/31/1899 1:00:00 AM"},
      {"DateValue", {d}, "T:1/31/2024"},
      {"TimeValue", {S("1/31/2024 1:45:10 PM")}, "T:1:45:10 PM"},
      {"CDate", {45322.5}, "T:1/31/2024 12:00:00 PM"},
      {"MonthName", {L(2), true}, "S:Feb"},
      {"WeekdayName", {L(1), false, L(2)}, "S:Monday"},
  });
}

TEST(FunctionsTest, FormatPatterns) {
  const Value d = Dt("2024-01-31 13:45:10");
  ExpectCalls({
      {"Format", {d, S("yyyy-mm-dd hh:nn:ss")}, "S:2024-01-31 13:45:10"},
      {"Format", {d, S("mm/dd/yyyy")}, "S:01/31/2024"},
      {"Format", {d, S("dd.mm.yyyy")}, "S:31.01.2024"},
      {"Format", {d, S("yyyymmdd")}, "S:20240131"},
      {"Format", {d, S("yyyy-mm-ddThh:nn:ss")}, "S:2024-01-31T13:45:10"},
      {"Format", {Dt("2024-03-01"), S("y")}, "S:61"},
      {"Format", {d, S("hh:mm")}, "S:13:45"},
      {"Format", {d, S("h:nn am/pm")}, "S:1:45 pm"},
      {"Format", {d, S("ddd mmm d \"at\" h A/P q\\q")}, "S:Wed Jan 31 at 1 P 1q"},
      {"Format", {d, S("Long Date")}, "S:Wednesday, January 31, 2024"},
      {"Format", {d, S("Medium Date")}, "S:31-Jan-24"},
      {"Format", {d, S("Short Date")}, "S:1/31/2024"},
      {"Format", {d, S("Long Time")}, "S:1:45:10 PM"},
      {"Format", {d, S("Medium Time")}, "S:01:45 PM"},
      {"Format", {d, S("Short Time")}, "S:13:45"},
      {"Format", {d}, "S:1/31/2024 1:45:10 PM"},
      {"Format", {S("2024-01-31"), S("General Date")}, "S:1/31/2024"},
      {"Format", {1234567.891, S("#,##0.00")}, "S:1,234,567.89"},
      {"Format", {-1234.5, S("Currency")}, "S:($1,234.50)"},
      {"Format", {0.5, S("Fixed")}, "S:0.50"},
      {"Format", {1234.5, S("Standard")}, "S:1,234.50"},
      {"Format", {0.125, S("Percent")}, "S:12.50%"},
      {"Format", {12345.0, S("0.00E+00")}, "S:1.23E+04"},
      {"Format", {0.00012, S("0.0E-00")}, "S:1.2E-04"},
      {"Format", {L(7), S("000")}, "S:007"},
      {"Format", {0.5, S("#.##")}, "S:.5"},
      {"Format", {2.5, S("0")}, "S:3"},
      {"Format", {-3.0, S("0.0")}, "S:-3.0"},
      {"Format", {L(0), S("0;(0);\"zero\"")}, "S:zero"},
      {"Format", {S("12"), S("0.0")}, "S:12.0"},
      {"Format", {S("abc"), S(">")}, "S:ABC"},
      {"Format", {L(0), S("Yes/No")}, "S:No"},
      {"Format", {true, S("True/False")}, "S:True"},
      {"Format", {L(5), S("On/Off")}, "S:On"},
      {"Format", {0.1, S("General Number")}, "S:0.1"},
      {"Format", {kNull, S("0.00")}, "N"},
  });
}

TEST(FunctionsTest, AggregatesSkipNullsAndKeepTypes) {
  struct Agg {
    std::string name;
    std::vector<Value> values;
    std::string expected;
  };
  const std::vector<Agg> cases = {
      {"Count", {kNull, kNull}, "L:0"},
      {"Count", {L(1), kNull, S("x")}, "L:2"},
      {"Sum", {L(1), L(2), kNull}, "L:3"},
      {"Sum", {}, "N"},
      {"Sum", {L(2147483647), I(1)}, "D:2147483648"},
      {"Sum", {Cur(1000), Cur(2000)}, "C:0.3"},
      {"Sum", {Cur(10000), L(1)}, "C:2"},
      {"Sum", {Dec("0.1"), Dec("0.2")}, "M:0.3"},
      {"Sum", {1.5, L(1)}, "D:2.5"},
      {"Sum", {S("abc")}, "!Type mismatch: 'abc' is not a number (in Sum)"},
      {"Avg", {L(1), L(2), kNull}, "D:1.5"},
      {"Avg", {Cur(10000), Cur(20000)}, "C:1.5"},
      {"Avg", {kNull}, "N"},
      {"Min", {S("b"), S("A"), S("c")}, "S:A"},
      {"Max", {S("b"), S("A"), S("C")}, "S:C"},
      {"Max", {L(3), 4.5, kNull}, "D:4.5"},
      {"StDev", {L(1)}, "N"},
      {"StDevP", {L(2), L(4), L(4), L(4), L(5), L(5), L(7), L(9)}, "D:2"},
      {"Var", {L(1), L(2), L(3), L(4)}, "D:1.66666666666667"},
      {"VarP", {L(5)}, "D:0"},
      {"First", {kNull, L(3), L(4)}, "L:3"},
      {"Last", {L(3), L(4), kNull}, "L:4"},
  };
  for (const Agg& c : cases) {
    auto aggregator = MakeAggregator(c.name);
    ASSERT_TRUE(aggregator.ok()) << c.name;
    Status status;
    for (const Value& v : c.values) {
      if (status.ok()) status = (*aggregator)->Add(v);
    }
    EXPECT_EQ(status.ok() ? Shape((*aggregator)->Result()) : "!" + status.message(), c.expected)
        << c.name << " #" << (&c - cases.data());
  }
  EXPECT_TRUE(IsAggregate("stdevp"));
  EXPECT_FALSE(IsAggregate("Len"));
}

TEST(FunctionsTest, TruthAndText) {
  EXPECT_EQ(ValueTruth(S("True")).value(), true);
  EXPECT_EQ(ValueTruth(S("0")).value(), false);
  EXPECT_EQ(ValueTruth(kNull).value(), std::nullopt);
  EXPECT_FALSE(ValueTruth(S("abc")).ok());
  EXPECT_EQ(ValueText(jet::DateTime{0.5}), "12:00:00 PM");
  EXPECT_EQ(ValueText(jet::DateTime{0}), "12/30/1899");
  EXPECT_EQ(ValueText(0.1f), "0.1");
  EXPECT_EQ(ValueNumber(S(" $1,000.5 ")).value(), 1000.5);
  EXPECT_FALSE(ValueNumber(jet::Bytes{"x"}).ok());
}

}  // namespace
}  // namespace tabulon::jetsql
