// Internal to the Access SQL parser (parser.cpp statements, expression_parser.cpp the one
// expression grammar, view_parser.cpp CREATE VIEW's saved-query description): the
// recursive-descent parser over a statement's tokens.
#pragma once

#include <algorithm>
#include <cctype>
#include <charconv>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "jetsql/ast.h"
#include "jetsql/lexer.h"

namespace tabulon::jetsql {

// Words that end a select item, a table reference or a default expression, so they are never
// taken as aliases or names.
bool IsReserved(std::string_view word);

// Words that end an expression or a select item in a view, besides the reserved ones: they
// never start an operand there and are never taken as an alias.
bool IsViewKeyword(std::string_view word);

class Parser {
 public:
  friend Result<ExpressionPtr> ParseRuleText(std::string_view text, const std::string* column);
  Parser(std::string_view sql, std::vector<Token> tokens) : sql_(sql), t_(std::move(tokens)) {}

  Result<Statement> ParseAll();
  Result<jet::ViewDefinition> ParseQueryText();
  Result<ExpressionPtr> ParseExpressionAlone();
  Status ExpectEnd() const;

 private:
  const Token& Peek(size_t ahead = 0) const { return t_[std::min(p_ + ahead, t_.size() - 1)]; }
  bool IsWord(size_t ahead, std::string_view keyword) const {
    const Token& t = Peek(ahead);
    return t.kind == TokenKind::kWord && EqualsIgnoreAsciiCase(t.source, keyword);
  }
  bool IsSymbol(size_t ahead, std::string_view symbol) const {
    const Token& t = Peek(ahead);
    return t.kind == TokenKind::kSymbol && t.source == symbol;
  }
  bool Accept(std::string_view keyword) {
    if (!IsWord(0, keyword)) return false;
    ++p_;
    return true;
  }
  bool AcceptSymbol(std::string_view symbol) {
    if (!IsSymbol(0, symbol)) return false;
    ++p_;
    return true;
  }
  Status Error(const std::string& expected) const {
    const Token& t = Peek();
    const std::string found =
        t.kind == TokenKind::kEnd ? "the end of the statement" : "'" + std::string(t.source.substr(0, 40)) + "'";
    return SyntaxError(sql_, t.offset, "expected " + expected + " but found " + found);
  }
  Status Expect(std::string_view keyword) {
    if (Accept(keyword)) return Status::Ok();
    std::string upper(keyword);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return Error(upper);
  }
  Status ExpectSymbol(std::string_view symbol) {
    if (AcceptSymbol(symbol)) return Status::Ok();
    return Error("'" + std::string(symbol) + "'");
  }
  // A name: a bare word that is not reserved, or a quoted name.
  Result<std::string> Name(const char* what) {
    const Token& t = Peek();
    if (t.kind == TokenKind::kQuotedName || (t.kind == TokenKind::kWord && !IsReserved(t.source))) {
      ++p_;
      return t.text;
    }
    return Error(what);
  }
  bool AtName() const {
    const Token& t = Peek();
    return t.kind == TokenKind::kQuotedName || (t.kind == TokenKind::kWord && !IsReserved(t.source));
  }
  Result<uint32_t> Count(const char* what) {
    const Token& t = Peek();
    uint32_t value = 0;
    if (t.kind == TokenKind::kNumber) {
      auto [end, ec] = std::from_chars(t.source.data(), t.source.data() + t.source.size(), value);
      if (ec == std::errc() && end == t.source.data() + t.source.size()) {
        ++p_;
        return value;
      }
    }
    return Error(what);
  }

  Result<CreateTable> ParseCreateTable();
  Result<ColumnSpec> ParseColumn(std::vector<Constraint>& constraints);
  Result<std::string> ParseDefault();
  Result<Constraint> ParseConstraintBody(std::string name, size_t offset);
  Result<std::vector<KeyColumn>> ParseKeyColumns();
  Status ParseReferentialActions(Constraint& c);
  Result<AlterTable> ParseAlterTable();
  Result<CreateIndex> ParseCreateIndex(bool unique);
  Result<Drop> ParseDrop();
  Result<Insert> ParseInsert();
  Result<Delete> ParseDelete();
  Result<Update> ParseUpdate();
  Result<Select> ParseSelect();
  // Saved queries as rows and their properties (saved_query_parser.cpp).
  Result<CreateQuery> ParseCreateQuery();
  Result<AlterQuery> ParseAlterQuery();
  Status ParseQueryRow(jet::QueryRow* row);
  Result<std::optional<std::string>> ParseRowText(const char* what);

  // Literals and expressions (expression_parser.cpp).
  Result<Literal> ParseLiteral();
  bool AtLiteral() const;
  // An expression, from OR (and XOR, EQV, IMP) down to its operands, with its span set.
  Result<ExpressionPtr> ParseExpression();
  Result<ExpressionPtr> ParseConjunction();
  Result<ExpressionPtr> ParseNegation();
  Result<ExpressionPtr> ParseArithmetic();
  Result<ExpressionPtr> ParseOperand();
  Result<ExpressionPtr> ParsePrimary();
  Result<ExpressionPtr> ParseName();
  Result<std::unique_ptr<jet::ViewDefinition>> ParseSubquery();
  ExpressionPtr NewNode(Expression::Kind kind, size_t offset, size_t first_token) const;
  // Sets the span of `e` to tokens [first_token, current).
  void Close(Expression& e, size_t first_token) const;

  // CREATE VIEW's SELECT as a saved-query description (view_parser.cpp).
  Result<CreateView> ParseCreateView();
  std::string TextOf(size_t first, size_t end) const;
  std::string TextOf(const Expression& e) const { return TextOf(e.span.first_token, e.span.end_token); }
  bool AtViewName() const;
  Result<std::string> ViewObjectName(const char* what);
  Status ParseViewBody(jet::ViewDefinition* view);
  Status ParseViewQuery(jet::ViewDefinition* view);
  Status ViewOrderBy(std::vector<jet::ViewDefinition::Order>* order_by);
  Status ViewQuerySource(jet::ViewDefinition* view, std::vector<std::string>* keys);
  Status ViewSource(jet::ViewDefinition* view, std::vector<std::string>* keys);
  Status ViewJoinOperand(jet::ViewDefinition* view, std::vector<std::string>* keys);

  // Nesting (parentheses, function arguments, NOT, signs, subqueries, joins in parentheses) is
  // limited, so no statement can exhaust the stack of the recursive descent. One Nesting object
  // per level, for as long as the level is read.
  static constexpr size_t kMaxNesting = 200;
  class Nesting {
   public:
    explicit Nesting(Parser& parser) : parser_(parser) { ++parser_.depth_; }
    ~Nesting() { --parser_.depth_; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;
    // The refusal when this level is one too many, else Ok.
    Status Check() const { return parser_.depth_ <= kMaxNesting ? Status::Ok() : parser_.TooDeep(); }

   private:
    Parser& parser_;
  };

  Status TooDeep() const {
    return SyntaxError(sql_, Peek().offset, "nested more than " + std::to_string(kMaxNesting) + " levels deep");
  }

  std::string_view sql_;
  std::vector<Token> t_;
  size_t p_ = 0;
  size_t depth_ = 0;
  // Set while a view's SELECT is read: its text is stored for Access, so a bare name must not
  // be one of Access's keywords (IsViewKeyword) and CASE is refused wherever it appears. A
  // query that is run reads any word that is not reserved as a column name.
  bool access_names_ = false;
  // The token ORDER of the last ORDER BY a view's SELECT read.
  size_t order_at_ = 0;
  // A column's validation rule is read: comparisons without a left side compare this column.
  const std::string* implicit_column_ = nullptr;
  // Where SELECT ... INTO puts the new table's name while a statement's SELECT is read.
  std::string* into_ = nullptr;
  // Tokens TextOf leaves out: the schema prefixes of table names.
  std::vector<bool> dropped_;
};

}  // namespace tabulon::jetsql
