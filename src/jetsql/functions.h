// The operators, functions and aggregates of Access SQL expressions, on engine values, with
// Jet's rules: Null propagates (except where a function says otherwise), text compares without
// regard to case, dates are Double days since 1899-12-30, Yes/No is -1/0 in arithmetic.
// Errors name the operator or function and the value that does not fit ("Overflow",
// "Division by zero", "Type mismatch", "Invalid procedure call").
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "jet/schema.h"

namespace tabulon::jetsql {

// left op right. op (any case): + - * / \ ^ mod & xor eqv imp, and also and/or (False And Null
// is False, True Or Null is True; on whole numbers they work bit by bit).
// Types: whole numbers (Yes/No, Byte, Integer, Long) give Long, or Double past Long's range;
// Currency with whole numbers or Currency gives Currency (* / of two Currency gives Double for /);
// Single or Double gives Double; Decimal with whole numbers, Currency or Decimal gives Decimal;
// a date plus or minus a number gives a date; a date minus a date gives Double days; / and ^
// give Double; \ and Mod round their operands to whole numbers (half to even) first and give
// Long. `+` of two texts joins them; `+` of text and a number reads the text as a number.
// `&` joins texts (numbers, dates and Yes/No in their text form, Null as nothing) and is Null
// only when both sides are Null.
Result<jet::Value> ApplyBinary(std::string_view op, const jet::Value& left, const jet::Value& right);

// op operand. op: "-", "+" or "not" (bitwise on whole numbers). Minus widens where the type
// cannot hold the result: -(-32768) is a Long.
Result<jet::Value> ApplyUnary(std::string_view op, const jet::Value& operand);

// A scalar function by its name (any case) with its arguments evaluated; NotFound for a name
// that is not one (the caller names it with its position). IIf and Switch are evaluated by the
// caller (only the branch taken), as are the aggregates.
Result<jet::Value> CallFunction(std::string_view name, const std::vector<jet::Value>& arguments);

// Whether `name` is an aggregate: Count Sum Avg Min Max StDev StDevP Var VarP First Last.
bool IsAggregate(std::string_view name);

// One aggregate over a group: values are added one by one, then the result is taken. Nulls are
// skipped (Count(*) is counted by the caller adding a non-null value per row); with no value
// added, Count gives 0 and the others Null.
class Aggregator {
 public:
  virtual ~Aggregator() = default;
  virtual Status Add(const jet::Value& value) = 0;
  virtual tabulon::Result<jet::Value> Result() const = 0;  // qualified: the member hides the template
};
Result<std::unique_ptr<Aggregator>> MakeAggregator(std::string_view name);

// The text of a value as Access shows it in a text context (& , CStr, Format without pattern):
// whole numbers plainly, Double and Single with up to 15 and 7 significant digits, Currency
// without trailing zeros, dates as m/d/yyyy h:nn:ss AM/PM (the date or the time alone when the
// other part is zero), Yes/No as True/False. Null gives nullopt.
std::optional<std::string> ValueText(const jet::Value& value);

// The value as a number for arithmetic (text read as a number; dates as days; Yes/No -1/0);
// nullopt for Null; Type mismatch for text that is not a number, bytes and GUIDs.
Result<std::optional<double>> ValueNumber(const jet::Value& value);

// A condition's truth: Yes/No as is, a number true unless 0, Null unknown (nullopt); text is
// read as a number ("True"/"False" as themselves).
Result<std::optional<bool>> ValueTruth(const jet::Value& value);

}  // namespace tabulon::jetsql
