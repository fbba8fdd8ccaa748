// The one expression grammar of Access SQL, for every statement: WHERE of a query the executor
// runs, and every expression of CREATE VIEW's SELECT (kept there as written). From the loosest
// binding to the tightest:
//
//   expression  := conjunction { (OR | XOR | EQV | IMP) conjunction }
//   conjunction := negation { AND negation }
//   negation    := NOT negation
//                | arithmetic { comparison arithmetic | IS [NOT] NULL | [NOT] LIKE arithmetic
//                             | [NOT] BETWEEN arithmetic AND arithmetic
//                             | [NOT] IN '(' (subquery | expression {',' expression}) ')' }
//   arithmetic  := operand { (& | + | - | * | / | \ | ^ | MOD) operand }
//   operand     := {+ | -} ( literal | '(' (subquery | expression) ')' | EXISTS '(' subquery ')'
//                          | function '(' [* | [DISTINCT] expression {',' expression}] ')'
//                          | name {('.' | '!') (name | *)} )
//
// Every node records its span of tokens, so the text of any part can be taken as written.
#include <string>

#include "jetsql/parser_internal.h"

namespace tabulon::jetsql {

using Kind = Expression::Kind;

// ------------------------------------------------------------------------------------------
// Literals (INSERT's values and the constants of expressions)

bool Parser::AtLiteral() const {
  const Token& t = Peek();
  switch (t.kind) {
    case TokenKind::kString:
    case TokenKind::kNumber:
    case TokenKind::kDate:
    case TokenKind::kBinary: return true;
    case TokenKind::kSymbol: return (t.source == "-" || t.source == "+") && Peek(1).kind == TokenKind::kNumber;
    case TokenKind::kWord: return IsWord(0, "null") || IsWord(0, "true") || IsWord(0, "false");
    default: return false;
  }
}

Result<Literal> Parser::ParseLiteral() {
  Literal literal;
  const Token& t = Peek();
  literal.offset = t.offset;
  switch (t.kind) {
    case TokenKind::kString: literal.kind = Literal::Kind::kString; break;
    case TokenKind::kNumber: literal.kind = Literal::Kind::kNumber; break;
    case TokenKind::kDate: literal.kind = Literal::Kind::kDate; break;
    case TokenKind::kBinary: literal.kind = Literal::Kind::kBinary; break;
    case TokenKind::kSymbol:
      if ((t.source == "-" || t.source == "+") && Peek(1).kind == TokenKind::kNumber) {
        literal.kind = Literal::Kind::kNumber;
        literal.text = t.source == "-" ? "-" : "";
        literal.text += Peek(1).text;
        p_ += 2;
        return literal;
      }
      return Error("a value");
    case TokenKind::kWord:
      if (IsWord(0, "null")) {
        literal.kind = Literal::Kind::kNull;
      } else if (IsWord(0, "true") || IsWord(0, "false")) {
        literal.kind = Literal::Kind::kBoolean;
        literal.boolean = IsWord(0, "true");
      } else {
        return Error("a value");
      }
      ++p_;
      return literal;
    default: return Error("a value");
  }
  literal.text = t.text;
  ++p_;
  return literal;
}

// ------------------------------------------------------------------------------------------
// Expressions

ExpressionPtr Parser::NewNode(Kind kind, size_t offset, size_t first_token) const {
  auto node = std::make_unique<Expression>();
  node->kind = kind;
  node->offset = offset;
  node->span.first_token = first_token;
  return node;
}

void Parser::Close(Expression& e, size_t first_token) const {
  e.span.first_token = first_token;
  e.span.end_token = p_;
  e.span.begin = t_[first_token].offset;
  const Token& last = t_[p_ > first_token ? p_ - 1 : first_token];
  e.span.end = p_ > first_token ? last.offset + last.source.size() : last.offset;
}

Result<ExpressionPtr> Parser::ParseExpression() {
  const Nesting level(*this);
  RETURN_IF_ERROR(level.Check());
  const size_t first = p_;
  ASSIGN_OR_RETURN(ExpressionPtr left, ParseConjunction());
  while (IsWord(0, "or") || IsWord(0, "xor") || IsWord(0, "eqv") || IsWord(0, "imp")) {
    const bool is_or = IsWord(0, "or");
    ExpressionPtr node = NewNode(is_or ? Kind::kOr : Kind::kBinary, Peek().offset, first);
    if (!is_or) node->op = AsciiLower(Peek().source);
    ++p_;
    node->left = std::move(left);
    ASSIGN_OR_RETURN(node->right, ParseConjunction());
    Close(*node, first);
    left = std::move(node);
  }
  return left;
}

Result<ExpressionPtr> Parser::ParseConjunction() {
  const size_t first = p_;
  ASSIGN_OR_RETURN(ExpressionPtr left, ParseNegation());
  while (IsWord(0, "and")) {
    ExpressionPtr node = NewNode(Kind::kAnd, Peek().offset, first);
    ++p_;
    node->left = std::move(left);
    ASSIGN_OR_RETURN(node->right, ParseNegation());
    Close(*node, first);
    left = std::move(node);
  }
  return left;
}

Result<ExpressionPtr> Parser::ParseNegation() {
  const size_t first = p_;
  if (IsWord(0, "not")) {
    const Nesting level(*this);
    RETURN_IF_ERROR(level.Check());
    ExpressionPtr node = NewNode(Kind::kNot, Peek().offset, first);
    ++p_;
    ASSIGN_OR_RETURN(node->left, ParseNegation());
    Close(*node, first);
    return node;
  }
  ExpressionPtr left;
  const Token& head = Peek();
  const bool comparison_first =
      (head.kind == TokenKind::kSymbol && (head.source == "=" || head.source == "<>" || head.source == "<" ||
                                           head.source == ">" || head.source == "<=" || head.source == ">=")) ||
      IsWord(0, "is") || IsWord(0, "like") || IsWord(0, "alike") || IsWord(0, "between") || IsWord(0, "in");
  if (implicit_column_ && comparison_first) {
    // A field rule's comparison without a left side: the field is compared.
    left = NewNode(Kind::kColumn, head.offset, first);
    left->column.name = *implicit_column_;
    Close(*left, first);
  } else {
    ASSIGN_OR_RETURN(left, ParseArithmetic());
  }
  while (true) {
    const Token& t = Peek();
    ExpressionPtr node;
    if (t.kind == TokenKind::kSymbol && (t.source == "=" || t.source == "<>" || t.source == "<" || t.source == ">" ||
                                         t.source == "<=" || t.source == ">=")) {
      node = NewNode(Kind::kCompare, t.offset, first);
      node->op = std::string(t.source);
      ++p_;
      node->left = std::move(left);
      ASSIGN_OR_RETURN(node->right, ParseArithmetic());
    } else if (IsWord(0, "is")) {
      node = NewNode(Kind::kIsNull, t.offset, first);
      ++p_;
      node->negated = Accept("not");
      RETURN_IF_ERROR(Expect("null"));
      node->left = std::move(left);
    } else {
      const size_t offset = t.offset;
      const bool negated =
          IsWord(0, "not") && (IsWord(1, "like") || IsWord(1, "alike") || IsWord(1, "between") || IsWord(1, "in"));
      if (negated) ++p_;
      if (IsWord(0, "like") || IsWord(0, "alike")) {
        // ALike: the ANSI wildcards % and _, whatever the database's wildcard mode.
        node = NewNode(Kind::kLike, offset, first);
        node->op = IsWord(0, "alike") ? "alike" : "like";
        ++p_;
        node->left = std::move(left);
        ASSIGN_OR_RETURN(node->right, ParseArithmetic());
      } else if (Accept("between")) {
        node = NewNode(Kind::kBetween, offset, first);
        node->left = std::move(left);
        ASSIGN_OR_RETURN(ExpressionPtr low, ParseArithmetic());
        RETURN_IF_ERROR(Expect("and"));
        ASSIGN_OR_RETURN(ExpressionPtr high, ParseArithmetic());
        node->arguments.push_back(std::move(low));
        node->arguments.push_back(std::move(high));
      } else if (Accept("in")) {
        node = NewNode(Kind::kIn, offset, first);
        node->left = std::move(left);
        RETURN_IF_ERROR(ExpectSymbol("("));
        if (IsWord(0, "select")) {
          const size_t inner = p_;
          ExpressionPtr query = NewNode(Kind::kSubquery, Peek().offset, inner);
          ASSIGN_OR_RETURN(query->subquery, ParseSubquery());
          Close(*query, inner);
          node->arguments.push_back(std::move(query));
        } else {
          do {
            ASSIGN_OR_RETURN(ExpressionPtr item, ParseExpression());
            node->arguments.push_back(std::move(item));
          } while (AcceptSymbol(","));
        }
        RETURN_IF_ERROR(ExpectSymbol(")"));
      } else {
        return left;
      }
      node->negated = negated;
    }
    Close(*node, first);
    left = std::move(node);
  }
}

Result<ExpressionPtr> Parser::ParseArithmetic() {
  const size_t first = p_;
  ASSIGN_OR_RETURN(ExpressionPtr left, ParseOperand());
  while (true) {
    const Token& t = Peek();
    const bool op =
        (t.kind == TokenKind::kSymbol && (t.source == "&" || t.source == "+" || t.source == "-" || t.source == "*" ||
                                          t.source == "/" || t.source == "\\" || t.source == "^")) ||
        IsWord(0, "mod");
    if (!op) return left;
    ExpressionPtr node = NewNode(Kind::kBinary, t.offset, first);
    node->op = t.kind == TokenKind::kWord ? AsciiLower(t.source) : std::string(t.source);
    ++p_;
    node->left = std::move(left);
    ASSIGN_OR_RETURN(node->right, ParseOperand());
    Close(*node, first);
    left = std::move(node);
  }
}

// Signs before an operand: a sign right before a number belongs to the number (a literal such
// as -5); any other sign is an operator on what follows it.
Result<ExpressionPtr> Parser::ParseOperand() {
  std::vector<size_t> signs;  // their tokens, each a level of the tree
  while ((IsSymbol(0, "-") || IsSymbol(0, "+")) && !AtLiteral()) {
    if (depth_ + signs.size() >= kMaxNesting) return TooDeep();
    signs.push_back(p_++);
  }
  ASSIGN_OR_RETURN(ExpressionPtr operand, ParsePrimary());
  for (auto sign = signs.rbegin(); sign != signs.rend(); ++sign) {
    ExpressionPtr node = NewNode(Kind::kUnary, t_[*sign].offset, *sign);
    node->op = std::string(t_[*sign].source);
    node->left = std::move(operand);
    Close(*node, *sign);
    operand = std::move(node);
  }
  return operand;
}

Result<ExpressionPtr> Parser::ParsePrimary() {
  const size_t first = p_;
  const Token& t = Peek();
  switch (t.kind) {
    case TokenKind::kString:
    case TokenKind::kNumber:
    case TokenKind::kDate:
    case TokenKind::kBinary: {
      ExpressionPtr node = NewNode(Kind::kLiteral, t.offset, first);
      ASSIGN_OR_RETURN(node->literal, ParseLiteral());
      Close(*node, first);
      return node;
    }
    case TokenKind::kSymbol:
      if (AtLiteral()) {  // a signed number
        ExpressionPtr node = NewNode(Kind::kLiteral, t.offset, first);
        ASSIGN_OR_RETURN(node->literal, ParseLiteral());
        Close(*node, first);
        return node;
      }
      if (IsSymbol(0, "(")) {
        ++p_;
        ExpressionPtr inner;
        if (IsWord(0, "select")) {
          inner = NewNode(Kind::kSubquery, Peek().offset, first);
          ASSIGN_OR_RETURN(inner->subquery, ParseSubquery());
        } else {
          ASSIGN_OR_RETURN(inner, ParseExpression());
        }
        RETURN_IF_ERROR(ExpectSymbol(")"));
        // The parentheses belong to the span of what they enclose.
        Close(*inner, first);
        return inner;
      }
      return Error("an expression");
    case TokenKind::kWord:
      if (IsWord(0, "null") || IsWord(0, "true") || IsWord(0, "false")) {
        ExpressionPtr node = NewNode(Kind::kLiteral, t.offset, first);
        ASSIGN_OR_RETURN(node->literal, ParseLiteral());
        Close(*node, first);
        return node;
      }
      // CASE ... END (in a query that is run, a column named Case still reads as a column).
      if (IsWord(0, "case")) {
        const Token& next = Peek(1);
        const bool column = !access_names_ &&
                            (next.kind == TokenKind::kEnd || (next.kind == TokenKind::kSymbol && next.source != "(") ||
                             (next.kind == TokenKind::kWord && !IsWord(1, "when") && IsViewKeyword(next.source)));
        if (!column) {
          return SyntaxError(sql_, t.offset, "CASE is not Access SQL (IIf(condition, value, otherwise) is)");
        }
      }
      if (IsWord(0, "exists") && IsSymbol(1, "(")) {
        ExpressionPtr node = NewNode(Kind::kExists, t.offset, first);
        p_ += 2;
        ASSIGN_OR_RETURN(node->subquery, ParseSubquery());
        RETURN_IF_ERROR(ExpectSymbol(")"));
        Close(*node, first);
        return node;
      }
      if (IsSymbol(1, "(") && !IsWord(0, "select")) {  // a function: Left(..), Count(*), ...
        ExpressionPtr node = NewNode(Kind::kFunction, t.offset, first);
        node->function = t.text;
        p_ += 2;
        if (!AcceptSymbol(")")) {
          if (AcceptSymbol("*")) {
            node->star = true;
          } else {
            node->distinct = Accept("distinct");
            do {
              ASSIGN_OR_RETURN(ExpressionPtr argument, ParseExpression());
              node->arguments.push_back(std::move(argument));
            } while (AcceptSymbol(","));
          }
          RETURN_IF_ERROR(ExpectSymbol(")"));
        }
        Close(*node, first);
        return node;
      }
      break;
    default: break;
  }
  return ParseName();
}

// A column: name, table.column, table!column, schema.table.column, table.*.
Result<ExpressionPtr> Parser::ParseName() {
  const size_t first = p_;
  if (access_names_ ? !AtViewName() : !AtName()) return Error("an expression");
  ExpressionPtr node = NewNode(Kind::kColumn, Peek().offset, first);
  std::vector<std::string> parts = {Peek().text};
  ++p_;
  while (IsSymbol(0, ".") || IsSymbol(0, "!")) {
    ++p_;
    if (AcceptSymbol("*")) {
      parts.emplace_back("*");
      break;
    }
    if (Peek().kind != TokenKind::kQuotedName && Peek().kind != TokenKind::kWord) return Error("a column name");
    parts.push_back(Peek().text);
    ++p_;
  }
  node->column.name = std::move(parts.back());
  parts.pop_back();
  if (!parts.empty()) {
    node->column.qualifier = std::move(parts.back());
    parts.pop_back();
  }
  node->column.prefix = std::move(parts);
  Close(*node, first);
  return node;
}

// A SELECT inside an expression (IN (SELECT ..), EXISTS (SELECT ..), (SELECT ..)): taken apart
// like the SELECT of a view, its expressions kept as written.
Result<std::unique_ptr<jet::ViewDefinition>> Parser::ParseSubquery() {
  auto inner = std::make_unique<jet::ViewDefinition>();
  RETURN_IF_ERROR(ParseViewQuery(inner.get()));
  return inner;
}

}  // namespace tabulon::jetsql
