// Condition.cfg: per source table, the WHERE condition its rows are copied with. Sections are
// source databases, keys are tables, values the condition without the word "where". Also the
// condition test: the count statement and the texts that report its result.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "data/provider.h"

namespace tabulon::config {

inline constexpr const char* kConditionFileName = "Condition.cfg";
// Conditions are read as into a buffer of this many characters.
inline constexpr size_t kConditionBuffer = 1024;

// Creates the file empty when it is missing.
Status EnsureConditionFile(const std::string& path);
// The stored condition of `table` in `database`; empty when there is none or it cannot be read.
std::string ReadCondition(const std::string& path, std::string_view database, std::string_view table);
// Stores `condition` (an empty one means "copy every row").
Status SaveCondition(const std::string& path, std::string_view database, std::string_view table,
                     std::string_view condition);

// "Condition : <condition>", or "Convert All" when there is none.
std::string ConditionTooltip(std::string_view condition);

// "select count(*) from [schema].[table] where <condition>" (the table as the row copy names
// it: without a schema when it has none), without the where part for an empty condition.
std::string ConditionTestStatement(std::string_view schema, std::string_view table, std::string_view condition);

struct ConditionTestResult {
  bool success = false;  // "Save" may be offered
  std::string text;      // what the result box shows
};

// The result of a test from the text it returned: a count (digits only, or nothing) succeeds.
ConditionTestResult ConditionTestFromText(const std::string& text);
// Runs the test statement on the source session (null: not connected).
ConditionTestResult TestCondition(data::Session* session, std::string_view schema, std::string_view table,
                                  std::string_view condition);

}  // namespace tabulon::config
