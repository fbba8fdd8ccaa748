// CREATE QUERY name ROWS (...), ... and ALTER QUERY name SET PROPERTIES 0x... (our extensions):
// a saved query as its MSysQueries rows, exact for every kind of query, including the forms
// the SELECT reader does not take (crosstab, action, pass-through and DDL queries).
#include <limits>

#include "jetsql/parser_internal.h"

namespace tabulon::jetsql {

Result<CreateQuery> Parser::ParseCreateQuery() {
  CreateQuery create;
  ASSIGN_OR_RETURN(create.name, Name("a query name"));
  RETURN_IF_ERROR(Expect("rows"));
  do {
    jet::QueryRow row;
    Status read = ParseQueryRow(&row);
    if (!read.ok()) {
      return read.WithContext("query '" + create.name + "', row " + std::to_string(create.rows.size() + 1));
    }
    create.rows.push_back(std::move(row));
  } while (AcceptSymbol(","));
  return create;
}

// (attribute, order, flag, name1, name2, expression): whole numbers, flag NULL or a whole
// number, texts NULL, a string or a binary literal of their UTF-8 bytes.
Status Parser::ParseQueryRow(jet::QueryRow* row) {
  RETURN_IF_ERROR(ExpectSymbol("("));
  ASSIGN_OR_RETURN(uint32_t attribute, Count("an attribute from 0 to 255"));
  if (attribute > 255) {
    --p_;
    return Error("an attribute from 0 to 255");
  }
  row->attribute = static_cast<uint8_t>(attribute);
  RETURN_IF_ERROR(ExpectSymbol(","));
  ASSIGN_OR_RETURN(row->order, Count("an order from 0 to 4294967295"));
  RETURN_IF_ERROR(ExpectSymbol(","));
  if (!Accept("null")) {
    const size_t at = p_;
    ASSIGN_OR_RETURN(Literal flag, ParseLiteral());
    int32_t value = 0;
    const char* end = flag.text.data() + flag.text.size();
    const auto [stop, error] = std::from_chars(flag.text.data(), end, value);
    if (flag.kind != Literal::Kind::kNumber || error != std::errc() || stop != end ||
        value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max()) {
      p_ = at;
      return Error("NULL or a flag from -32768 to 32767");
    }
    row->flag = static_cast<int16_t>(value);
  }
  RETURN_IF_ERROR(ExpectSymbol(","));
  ASSIGN_OR_RETURN(row->name1, ParseRowText("NULL, a string or a 0x literal for Name1"));
  RETURN_IF_ERROR(ExpectSymbol(","));
  ASSIGN_OR_RETURN(row->name2, ParseRowText("NULL, a string or a 0x literal for Name2"));
  RETURN_IF_ERROR(ExpectSymbol(","));
  ASSIGN_OR_RETURN(row->expression, ParseRowText("NULL, a string or a 0x literal for Expression"));
  return ExpectSymbol(")");
}

Result<std::optional<std::string>> Parser::ParseRowText(const char* what) {
  if (Accept("null")) return std::optional<std::string>();
  const Token& t = Peek();
  if (t.kind != TokenKind::kString && t.kind != TokenKind::kBinary) return Error(what);
  ++p_;
  return std::optional<std::string>(t.text);
}

Result<AlterQuery> Parser::ParseAlterQuery() {
  AlterQuery alter;
  ASSIGN_OR_RETURN(alter.name, Name("a query name"));
  RETURN_IF_ERROR(Expect("set"));
  RETURN_IF_ERROR(Expect("properties"));
  if (Peek().kind != TokenKind::kBinary) return Error("the properties as a 0x literal");
  alter.properties = Peek().text;
  ++p_;
  return alter;
}

}  // namespace tabulon::jetsql
