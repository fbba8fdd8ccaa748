#include "data/error_text.h"

#include <fmt/format.h>

#include <cstdint>

namespace tabulon::data {

std::string_view HresultMessage(Hresult code) {
  struct Known {
    Hresult code;
    std::string_view text;
  };
  static constexpr Known kKnown[] = {
      {S_OK, "The operation completed successfully."},
      {S_FALSE, "The operation completed with a false result."},
      {DB_S_ENDOFROWSET, "Reached start or end of rowset or chapter."},
      {DB_S_ERRORSOCCURRED, "The operation completed, but the provider reported warnings."},
      {E_FAIL, "Unspecified error"},
      {E_NOINTERFACE, "No such interface supported"},
      {E_NOTIMPL, "Not implemented"},
      {E_UNEXPECTED, "Catastrophic failure"},
      {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
      {E_INVALIDARG, "The parameter is incorrect."},
      {REGDB_E_CLASSNOTREG, "Class not registered"},
      {DB_E_BADACCESSORHANDLE, "Accessor is invalid."},
      {DB_E_BADORDINAL, "Column ordinal is out of range."},
      {DB_E_ERRORSINCOMMAND, "The command contained one or more errors."},
      {DB_E_ERRORSOCCURRED, "Errors occurred."},
      {DB_E_NOTABLE, "Table does not exist."},
      {DB_SEC_E_AUTH_FAILED, "Authentication failed."},
      {DB_E_OBJECTOPEN, "Object was open."},
  };
  for (const Known& k : kKnown) {
    if (k.code == code) return k.text;
  }
  return {};
}

std::string FormatHresult(std::string_view step_words, Hresult code) {
  return fmt::format("{} \r\n failed with error code:[0x{:08x}] \r\n discription:{}", step_words,
                     static_cast<std::uint32_t>(code), HresultMessage(code));
}

std::string ErrorDescription(const ErrorSource* object) {
  if (object == nullptr) return "Unknown Error!";
  std::vector<std::string> records = object->ErrorRecords();
  if (records.empty()) return "Unknown Error!";
  return std::move(records.front());
}

std::string ErrorDescription(const DbConnection& connection) {
  if (connection.open_errors.empty()) return "Unknown Error!";
  return connection.open_errors.front();
}

}  // namespace tabulon::data
