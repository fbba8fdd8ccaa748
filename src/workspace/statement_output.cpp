#include "workspace/statement_output.h"

#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

#include "data/error_text.h"
#include "data/statement.h"

namespace tabulon::workspace {
using namespace data;
namespace {

constexpr int kShownRows = 100;
constexpr const char* kSuccessLine = "RESULT: The operation completed SUCCESSFULLY";

// Leading digits (after an optional sign) as a number; 0 when there are none.
bool ReadsAsNegative(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10) < 0; }

}  // namespace

bool ExecuteStatement(OutputPane* owner, Session* session, std::string sql, int report, std::string* error) {
  const auto fail = [error](std::string text) {
    if (error != nullptr) *error = std::move(text);
    return false;
  };
  if (session == nullptr) {
    WriteOutput(owner, "E::No Connection!");
    return fail("No Connection!");
  }
  const data::StatementOutcome outcome = data::RunStatement(*session, sql);
  // Whatever the outcome and whatever `report` says: such a notice is never to go unseen.
  for (const std::string& notice : outcome.notices) WriteOutput(owner, "T::%s", notice.c_str());
  if (outcome.succeeded) {
    if (!outcome.has_rows && report == 1) WriteOutput(owner, "%s", kSuccessLine);
    return true;
  }
  if (outcome.threw) {
    WriteOutput(owner, "E::%s", outcome.error.c_str());
  } else if (report == 1) {
    WriteOutput(owner, "T::%s", outcome.error.c_str());
  }
  return fail(outcome.error);
}

bool RunAndShowStatement(OutputPane* owner, Session* session, std::string sql, int report) {
  if (session == nullptr) {
    WriteOutputText(owner, "No Connection!");
    return false;
  }
  TextRowset rowset;
  const Hresult code = OpenTextRowset(session, std::move(sql), &rowset);
  if (code != S_OK) {
    WriteOutputText(owner, ErrorDescription(rowset.error_source()));
    return false;
  }
  if (!rowset.has_rowset()) {
    if (report == 1) WriteOutputText(owner, kSuccessLine);
    return true;
  }
  // The pause lets a provider that streams rows get the first ones ready.
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  int row = 0;
  Hresult fetched;
  while ((fetched = MoveNextRow(rowset)) == S_OK) {
    if (row++ >= kShownRows) continue;
    const RowBuffer& buffer = rowset.buffer();
    for (size_t k = 1; k <= buffer.columns(); ++k) {
      WriteOutputText(owner, buffer.IsNull(k) ? std::string_view("(NULL)") : buffer.Value(k));
    }
  }
  if (Failed(fetched)) {
    // Rows cut short by a failing fetch are not a complete result: say why and report failure.
    WriteOutput(owner, "T::%s", ErrorDescription(rowset.error_source()).c_str());
    return false;
  }
  return true;
}

std::string RunScalarStatement(OutputPane* owner, Session* session, std::string sql, int report) {
  if (session == nullptr) {
    WriteOutputText(owner, "No Connection!");
    return {};
  }
  TextRowset rowset;
  const Hresult code = OpenTextRowset(session, std::move(sql), &rowset);
  if (code != S_OK) return ErrorDescription(rowset.error_source());
  if (!rowset.has_rowset()) {
    if (report == 1) WriteOutputText(owner, kSuccessLine);
    return {};
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  for (int row = 0; row < kShownRows; ++row) {
    Result<bool> fetched = FetchRow(rowset);
    if (!fetched.ok()) return fetched.status().message();  // as a failed statement: the provider's words
    if (!*fetched) break;
    const RowBuffer& buffer = rowset.buffer();
    for (size_t k = 1; k <= buffer.columns(); ++k) {
      if (buffer.IsNull(k)) {
        WriteOutputText(owner, "(NULL)");
        continue;
      }
      std::string value(buffer.Value(k));
      if (report == 1) WriteOutputText(owner, kSuccessLine);
      if (!ReadsAsNegative(value)) return value;
    }
  }
  return {};
}

}  // namespace tabulon::workspace
