// Typed values into the engine's values: what the Jet provider's row loader stores for each
// field. A field means what its Access SQL literal means (data/field.h), so the value is the one
// an INSERT of that literal stores, and a refusal names the column the same way.
#pragma once

#include <string>
#include <string_view>

#include "base/status.h"
#include "data/field.h"
#include "jet/schema.h"
#include "jetsql/ast.h"

namespace tabulon::data {

// The literal a field stands for.
jetsql::Literal LiteralOfField(const Field& field);

// The value `field` gives in `column`: ConvertLiteral of its literal, with the common pairs
// (whole numbers into integer and Double columns, doubles into Double, text into Text and Memo,
// dates into Date/Time, bytes into Binary and OLE) converted directly.
Result<jet::Value> ConvertField(const Field& field, const jet::ColumnDefinition& column);
// ConvertField into `out`, whose text keeps its storage when the value is text again (rows of
// a load reuse one Row).
Status ConvertFieldInto(const Field& field, const jet::ColumnDefinition& column, jet::Value& out);

// A row appended to `out` as plain bytes (a batch keeps its rows so, for storing them again should
// its commit fail): no allocation per row or value. Each value is its alternative's index, then a
// length and the bytes of text and binary values, or the bytes of the alternative itself.
void AppendRowBytes(const jet::Row& row, std::string& out);
// The row AppendRowBytes wrote at `at` of `bytes`; `at` moves past it.
jet::Row ReadRowBytes(std::string_view bytes, size_t& at);

}  // namespace tabulon::data
