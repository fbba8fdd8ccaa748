// Turning a failed call into text for the output pane. Neither routine prints.
#pragma once

#include <string>
#include <string_view>

#include "data/db_connection.h"
#include "data/hresult.h"
#include "data/provider.h"

namespace tabulon::data {

// "<step words> \r\n failed with error code:[0x%08x] \r\n discription:<message>"; the message
// comes from a table of known codes and is empty for other codes.
std::string FormatHresult(std::string_view step_words, Hresult code);

// The message text of a known code, empty for others.
std::string_view HresultMessage(Hresult code);

// The first diagnostic record of the object's last failure; "Unknown Error!" when it keeps none
// (or the object is null).
std::string ErrorDescription(const ErrorSource* object);
// The same for a failed OpenDataSource / OpenSession of a connection.
std::string ErrorDescription(const DbConnection& connection);

}  // namespace tabulon::data
