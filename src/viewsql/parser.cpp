// A recursive-descent parser of both dialects. Two guards keep any input from exhausting the
// stack: the nesting of parentheses, subqueries, calls and prefix operators is at most
// kMaxNesting, and no tree gets taller than kMaxHeight (a long chain of `a + b + ...` builds a
// deep tree without nesting), so that walking or freeing a tree never recurses too deep.
#include <algorithm>
#include <initializer_list>

#include "viewsql/lexer.h"
#include "viewsql/parser.h"

namespace tabulon::viewsql {
namespace {

constexpr int kMaxNesting = 200;
constexpr int kMaxHeight = 1000;

// Binding strength of binary operators, loosest first.
enum Precedence { kNone = 0, kOr, kAnd, kNot, kEquality, kRelational, kBitwise, kAdditive, kMultiplicative, kConcat };

// Words that end an expression or a source where a bare alias could follow, and that cannot be a
// bare name.
bool IsReserved(std::string_view upper, Dialect dialect) {
  static constexpr std::string_view kBoth[] = {
      "ALL",     "AND",   "AS",       "ASC",     "BETWEEN", "BY",          "CASE",      "CHECK",  "COLLATE",
      "CROSS",   "DESC",  "DISTINCT", "ELSE",    "END",     "ESCAPE",      "EXCEPT",    "EXISTS", "FOR",
      "FROM",    "FULL",  "GROUP",    "HAVING",  "IN",      "INNER",       "INTERSECT", "INTO",   "IS",
      "JOIN",    "LEFT",  "LIKE",     "NATURAL", "NOT",     "NULL",        "ON",        "OPTION", "OR",
      "ORDER",   "OUTER", "PIVOT",    "RIGHT",   "SELECT",  "TABLESAMPLE", "THEN",      "TOP",    "UNION",
      "UNPIVOT", "USING", "VALUES",   "WHEN",    "WHERE",   "WITH"};
  static constexpr std::string_view kSqlite[] = {"GLOB",  "INDEXED", "ISNULL", "LIMIT",
                                                 "MATCH", "NOTNULL", "REGEXP", "WINDOW"};
  if (std::find(std::begin(kBoth), std::end(kBoth), upper) != std::end(kBoth)) return true;
  return dialect == Dialect::kSqlite && std::find(std::begin(kSqlite), std::end(kSqlite), upper) != std::end(kSqlite);
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

ExprPtr MakeExpr(Expr::Kind kind, Position at) {
  auto expr = std::make_unique<Expr>();
  expr->kind = kind;
  expr->at = at;
  return expr;
}

class Parser {
 public:
  Parser(std::vector<Token> tokens, Dialect dialect) : tokens_(std::move(tokens)), dialect_(dialect) {}

  Result<ViewDefinition> View() {
    ViewDefinition view;
    view.at = Peek().at;
    if (!AcceptWord("ALTER")) {
      RETURN_IF_ERROR(ExpectWord("CREATE"));
      if (dialect_ == Dialect::kTransactSql && AcceptWord("OR")) RETURN_IF_ERROR(ExpectWord("ALTER"));
      if (dialect_ == Dialect::kSqlite && !AcceptWord("TEMP")) (void)AcceptWord("TEMPORARY");
    }
    RETURN_IF_ERROR(ExpectWord("VIEW"));
    if (dialect_ == Dialect::kSqlite && AcceptWord("IF")) {
      RETURN_IF_ERROR(ExpectWord("NOT"));
      RETURN_IF_ERROR(ExpectWord("EXISTS"));
    }
    ASSIGN_OR_RETURN(view.name, NameParts(3, "a view name"));
    if (AcceptSymbol("(")) {
      do {
        if (!IsName(Peek())) return Expected("a column name");
        view.columns.push_back(Next().text);
      } while (AcceptSymbol(","));
      RETURN_IF_ERROR(ExpectSymbol(")"));
    }
    if (dialect_ == Dialect::kTransactSql && AcceptWord("WITH")) {
      do {
        if (!AtWord("SCHEMABINDING") && !AtWord("ENCRYPTION") && !AtWord("VIEW_METADATA")) {
          return Expected("SCHEMABINDING, ENCRYPTION or VIEW_METADATA");
        }
        Next();
      } while (AcceptSymbol(","));
    }
    RETURN_IF_ERROR(ExpectWord("AS"));
    ASSIGN_OR_RETURN(view.select, Query());
    if (AtWord("WITH") && AtWord("CHECK", 1) && AtWord("OPTION", 2)) pos_ += 3;
    RETURN_IF_ERROR(ExpectEnd("the end of the view"));
    return view;
  }

  Result<std::unique_ptr<Select>> SelectStatement() {
    ASSIGN_OR_RETURN(auto select, Query());
    RETURN_IF_ERROR(ExpectEnd("the end of the query"));
    return select;
  }

  Result<ExprPtr> ExpressionStatement() {
    ASSIGN_OR_RETURN(auto expr, Expression(kNone));
    RETURN_IF_ERROR(ExpectEnd("the end of the expression"));
    return expr;
  }

 private:
  // Counts one level of nesting for its lifetime.
  class Nest {
   public:
    explicit Nest(int& depth) : depth_(depth) { ++depth_; }
    ~Nest() { --depth_; }
    Nest(const Nest&) = delete;
    Nest& operator=(const Nest&) = delete;

   private:
    int& depth_;
  };

  // --- tokens ---
  const Token& Peek(size_t ahead = 0) const { return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)]; }
  const Token& Next() {
    const Token& token = Peek();
    if (pos_ + 1 < tokens_.size()) ++pos_;
    return token;
  }
  bool AtWord(std::string_view upper, size_t ahead = 0) const {
    return Peek(ahead).kind == TokenKind::kWord && Peek(ahead).upper == upper;
  }
  bool AtSymbol(std::string_view symbol, size_t ahead = 0) const {
    return Peek(ahead).kind == TokenKind::kSymbol && Peek(ahead).text == symbol;
  }
  bool AcceptWord(std::string_view upper) {
    if (!AtWord(upper)) return false;
    Next();
    return true;
  }
  bool AcceptSymbol(std::string_view symbol) {
    if (!AtSymbol(symbol)) return false;
    Next();
    return true;
  }
  // A token that can be a name: a quoted name or a word that is not reserved.
  bool IsName(const Token& token) const {
    return token.kind == TokenKind::kQuotedName ||
           (token.kind == TokenKind::kWord && !IsReserved(token.upper, dialect_));
  }

  // --- errors ---
  Status Expected(std::string_view what) const {
    const Token& found = Peek();
    std::string shown = "the end of the text";
    if (found.kind != TokenKind::kEnd) {
      shown = "'" + std::string(found.raw.substr(0, 40)) + (found.raw.size() > 40 ? "...'" : "'");
    }
    return InvalidArgumentError("syntax error at " + DescribePosition(found.at) + ": expected " + std::string(what) +
                                " but found " + shown);
  }
  Status Refuse(std::string_view what, Position at) const {
    return UnsupportedError(std::string(what) + " at " + DescribePosition(at));
  }
  Status ExpectWord(std::string_view upper) { return AcceptWord(upper) ? Status::Ok() : Expected(upper); }
  Status ExpectSymbol(std::string_view symbol) {
    return AcceptSymbol(symbol) ? Status::Ok() : Expected(std::string(symbol));
  }
  Status ExpectEnd(std::string_view what) {
    while (AcceptSymbol(";")) {
    }
    return Peek().kind == TokenKind::kEnd ? Status::Ok() : Expected(what);
  }
  Status CheckNesting() const {
    if (depth_ <= kMaxNesting) return Status::Ok();
    return InvalidArgumentError("nesting deeper than " + std::to_string(kMaxNesting) +
                                " levels (parentheses, subqueries) at " + DescribePosition(Peek().at));
  }
  // Records the height of the node just built.
  Status Built(int height, Position at) {
    height_ = height;
    if (height <= kMaxHeight) return Status::Ok();
    return InvalidArgumentError("more than " + std::to_string(kMaxHeight) +
                                " levels of operators, joins or subqueries at " + DescribePosition(at));
  }

  // name[.name]... up to `max_parts` parts (Transact-SQL allows an empty middle part: db..t).
  Result<std::vector<std::string>> NameParts(size_t max_parts, std::string_view what) {
    std::vector<std::string> parts;
    if (!IsName(Peek())) return Expected(what);
    parts.push_back(Next().text);
    while (parts.size() < max_parts && AtSymbol(".") && !AtSymbol("*", 1)) {
      Next();
      if (AtSymbol(".") && dialect_ == Dialect::kTransactSql) {
        parts.emplace_back();
        continue;
      }
      if (!IsName(Peek())) return Expected("a name");
      parts.push_back(Next().text);
    }
    return parts;
  }

  // Whether a "(" at `ahead` opens a query: "(SELECT", "(WITH" or "((SELECT" and so on.
  bool OpensQuery(size_t ahead) const {
    while (AtSymbol("(", ahead)) ++ahead;
    return AtWord("SELECT", ahead) || AtWord("WITH", ahead) || AtWord("VALUES", ahead);
  }

  // --- queries ---

  // select {UNION [ALL] select} [ORDER BY ...] [LIMIT n]; a select may be parenthesised.
  Result<std::unique_ptr<Select>> Query() {
    Nest nest(depth_);
    RETURN_IF_ERROR(CheckNesting());
    if (AtWord("WITH")) return Refuse("a common table expression (WITH)", Peek().at);
    ASSIGN_OR_RETURN(auto root, QueryTerm());
    int height = height_;
    while (true) {
      const Position at = Peek().at;
      if (AtWord("EXCEPT") || AtWord("INTERSECT")) return Refuse(Peek().upper, at);
      if (!AcceptWord("UNION")) break;
      if (!root->order_by.empty()) return Refuse("a sorted select in a union", root->order_by.front().expr->at);
      Select::UnionPart part;
      part.all = AcceptWord("ALL");
      ASSIGN_OR_RETURN(part.select, QueryTerm());
      height = std::max(height, height_);
      root->unions.push_back(std::move(part));
    }
    if (AtWord("ORDER")) {
      if (!root->order_by.empty()) return Refuse("a second ORDER BY", Peek().at);
      Next();
      RETURN_IF_ERROR(ExpectWord("BY"));
      do {
        OrderItem item;
        ASSIGN_OR_RETURN(item.expr, Expression(kNone));
        height = std::max(height, height_);
        if (AtWord("COLLATE")) return Refuse("COLLATE", Peek().at);
        if (AcceptWord("DESC")) {
          item.descending = true;
        } else {
          (void)AcceptWord("ASC");
        }
        if (AtWord("NULLS")) return Refuse("NULLS FIRST/LAST", Peek().at);
        root->order_by.push_back(std::move(item));
      } while (AcceptSymbol(","));
    }
    if (AtWord("OFFSET") || AtWord("FETCH")) return Refuse("OFFSET/FETCH", Peek().at);
    if (dialect_ == Dialect::kSqlite && AtWord("LIMIT")) {
      const Position at = Next().at;
      if (root->top != nullptr) return Refuse("LIMIT on a select with TOP", at);
      ASSIGN_OR_RETURN(root->top, Expression(kNone));
      height = std::max(height, height_);
      if (AtWord("OFFSET") || AtSymbol(",")) return Refuse("LIMIT with OFFSET", Peek().at);
    }
    if (AtWord("FOR")) {
      const Token& what = Peek(1);
      return Refuse(what.kind == TokenKind::kWord ? "FOR " + what.upper : std::string("FOR"), Peek().at);
    }
    if (AtWord("OPTION")) return Refuse("a query hint (OPTION)", Peek().at);
    RETURN_IF_ERROR(Built(height + 1, root->at));
    return root;
  }

  Result<std::unique_ptr<Select>> QueryTerm() {
    if (!AtSymbol("(")) return SelectCore();
    Next();
    ASSIGN_OR_RETURN(auto inner, Query());
    RETURN_IF_ERROR(ExpectSymbol(")"));
    return inner;
  }

  Result<std::unique_ptr<Select>> SelectCore() {
    auto select = std::make_unique<Select>();
    select->at = Peek().at;
    if (AtWord("VALUES")) return Refuse("a VALUES list", Peek().at);
    RETURN_IF_ERROR(ExpectWord("SELECT"));
    int height = 0;
    if (AcceptWord("DISTINCT")) {
      select->distinct = true;
    } else {
      (void)AcceptWord("ALL");
    }
    if (AtWord("TOP")) {
      Next();
      if (AcceptSymbol("(")) {
        ASSIGN_OR_RETURN(select->top, Expression(kNone));
        RETURN_IF_ERROR(ExpectSymbol(")"));
      } else {
        if (Peek().kind != TokenKind::kNumber) return Expected("a number or (expression) after TOP");
        select->top = MakeExpr(Expr::Kind::kLiteral, Peek().at);
        select->top->literal_kind = Expr::LiteralKind::kNumber;
        select->top->text = Next().text;
        height_ = 1;
      }
      height = std::max(height, height_);
      select->top_percent = AcceptWord("PERCENT");
      if (AtWord("WITH") && AtWord("TIES", 1)) pos_ += 2;  // Access's TOP keeps ties anyway
    }
    do {
      SelectItem item;
      RETURN_IF_ERROR(Item(item));
      height = std::max(height, height_);
      select->items.push_back(std::move(item));
    } while (AcceptSymbol(","));
    if (AtWord("INTO")) return Refuse("SELECT INTO", Peek().at);
    if (AcceptWord("FROM")) {
      do {
        ASSIGN_OR_RETURN(auto source, JoinedSource());
        height = std::max(height, height_);
        select->from.push_back(std::move(source));
      } while (AcceptSymbol(","));
    }
    if (AcceptWord("WHERE")) {
      ASSIGN_OR_RETURN(select->where, Expression(kNone));
      height = std::max(height, height_);
    }
    if (AtWord("GROUP")) {
      Next();
      RETURN_IF_ERROR(ExpectWord("BY"));
      if (AtWord("ALL")) return Refuse("GROUP BY ALL", Peek().at);
      do {
        if (AtWord("ROLLUP") || AtWord("CUBE") || AtWord("GROUPING")) return Refuse(Peek().upper, Peek().at);
        ASSIGN_OR_RETURN(auto expr, Expression(kNone));
        height = std::max(height, height_);
        select->group_by.push_back(std::move(expr));
      } while (AcceptSymbol(","));
      if (AtWord("WITH") && (AtWord("ROLLUP", 1) || AtWord("CUBE", 1)))
        return Refuse("WITH " + Peek(1).upper, Peek().at);
    }
    if (AcceptWord("HAVING")) {
      ASSIGN_OR_RETURN(select->having, Expression(kNone));
      height = std::max(height, height_);
    }
    if (AtWord("WINDOW")) return Refuse("a WINDOW clause", Peek().at);
    RETURN_IF_ERROR(Built(height + 1, select->at));
    return select;
  }

  // *, t.*, expr [[AS] alias], alias = expr (Transact-SQL).
  Status Item(SelectItem& item) {
    const Position at = Peek().at;
    size_t ahead = 0;
    while (IsName(Peek(ahead)) && AtSymbol(".", ahead + 1)) ahead += 2;
    if (AtSymbol("*", ahead)) {
      item.expr = MakeExpr(Expr::Kind::kStar, at);
      for (size_t i = 0; i < ahead; i += 2) item.expr->name.push_back(Peek(i).text);
      pos_ += ahead + 1;
      return Built(1, at);
    }
    if (dialect_ == Dialect::kTransactSql && (IsName(Peek()) || Peek().kind == TokenKind::kString) &&
        AtSymbol("=", 1)) {
      item.alias = Next().text;
      Next();
      ASSIGN_OR_RETURN(item.expr, Expression(kNone));
      return Status::Ok();
    }
    ASSIGN_OR_RETURN(item.expr, Expression(kNone));
    if (AcceptWord("AS")) {
      if (!IsName(Peek()) && Peek().kind != TokenKind::kString) return Expected("an alias");
      item.alias = Next().text;
    } else if (IsName(Peek()) || Peek().kind == TokenKind::kString) {
      item.alias = Next().text;
    }
    return Status::Ok();
  }

  // --- sources ---

  Result<TableRefPtr> JoinedSource() {
    ASSIGN_OR_RETURN(auto left, PrimarySource());
    return Joins(std::move(left));
  }

  bool AtJoin() const {
    return AtWord("JOIN") || AtWord("INNER") || AtWord("LEFT") || AtWord("RIGHT") || AtWord("FULL") ||
           AtWord("CROSS") || AtWord("NATURAL") || (AtWord("OUTER") && AtWord("APPLY", 1));
  }

  // The joins that follow `left`, left to right.
  Result<TableRefPtr> Joins(TableRefPtr left) {
    int height = height_;
    while (AtJoin()) {
      auto join = std::make_unique<TableRef>();
      join->kind = TableRef::Kind::kJoin;
      join->at = Peek().at;
      if (AtWord("NATURAL")) return Refuse("a NATURAL join", join->at);
      if (AtWord("APPLY", 1)) return Refuse(Peek().upper + " APPLY", join->at);
      if (AcceptWord("CROSS")) {
        join->join = TableRef::JoinKind::kCross;
      } else if (AcceptWord("LEFT")) {
        join->join = TableRef::JoinKind::kLeft;
      } else if (AcceptWord("RIGHT")) {
        join->join = TableRef::JoinKind::kRight;
      } else if (AcceptWord("FULL")) {
        join->join = TableRef::JoinKind::kFull;
      } else {
        (void)AcceptWord("INNER");
      }
      if (join->join != TableRef::JoinKind::kCross && join->join != TableRef::JoinKind::kInner) {
        (void)AcceptWord("OUTER");
      }
      if (dialect_ == Dialect::kTransactSql &&
          (AtWord("HASH") || AtWord("LOOP") || AtWord("MERGE") || AtWord("REMOTE"))) {
        Next();  // a join hint: only a plan choice
      }
      RETURN_IF_ERROR(ExpectWord("JOIN"));
      ASSIGN_OR_RETURN(join->right, PrimarySource());
      if (join->join != TableRef::JoinKind::kCross && AtJoin() && !AtWord("CROSS")) {
        // a JOIN b JOIN c ON ... ON ...: the inner join binds first.
        Nest nest(depth_);
        RETURN_IF_ERROR(CheckNesting());
        ASSIGN_OR_RETURN(join->right, Joins(std::move(join->right)));
      }
      height = std::max(height, height_);
      if (join->join != TableRef::JoinKind::kCross) {
        if (AtWord("USING")) return Refuse("a join with USING", Peek().at);
        if (dialect_ == Dialect::kSqlite && join->join == TableRef::JoinKind::kInner && !AtWord("ON")) {
          join->join = TableRef::JoinKind::kCross;  // SQLite: JOIN without ON is a cross join
        } else {
          RETURN_IF_ERROR(ExpectWord("ON"));
          ASSIGN_OR_RETURN(join->on, Expression(kNone));
          height = std::max(height, height_);
        }
      }
      join->left = std::move(left);
      left = std::move(join);
      RETURN_IF_ERROR(Built(height + 1, left->at));
      height = height_;
    }
    height_ = height;
    return left;
  }

  Result<TableRefPtr> PrimarySource() {
    auto source = std::make_unique<TableRef>();
    source->at = Peek().at;
    if (AtSymbol("(")) {
      Nest nest(depth_);
      RETURN_IF_ERROR(CheckNesting());
      if (!OpensQuery(1)) {
        Next();
        ASSIGN_OR_RETURN(auto inner, JoinedSource());
        RETURN_IF_ERROR(ExpectSymbol(")"));
        return inner;
      }
      Next();
      source->kind = TableRef::Kind::kDerived;
      ASSIGN_OR_RETURN(source->derived, Query());
      RETURN_IF_ERROR(ExpectSymbol(")"));
      const int height = height_;
      RETURN_IF_ERROR(Alias(*source));
      if (source->alias.empty() && dialect_ == Dialect::kTransactSql) return Expected("an alias for the derived table");
      if (AtSymbol("(")) return Refuse("column names of a derived table", Peek().at);
      RETURN_IF_ERROR(After());
      RETURN_IF_ERROR(Built(height + 1, source->at));
      return source;
    }
    const Token& first = Peek();
    if (first.kind == TokenKind::kVariable) return Refuse("a variable (@" + first.text + ")", first.at);
    if (first.kind == TokenKind::kWord) {
      for (std::string_view word :
           {"OPENQUERY", "OPENROWSET", "OPENDATASOURCE", "OPENXML", "OPENJSON", "CONTAINSTABLE", "FREETEXTTABLE"}) {
        if (first.upper == word) return Refuse(first.upper, first.at);
      }
    }
    ASSIGN_OR_RETURN(source->name, NameParts(4, "a table name"));
    if (AtSymbol("(")) {
      if (!AtHint(1)) return Refuse("a table-valued function (" + source->name.back() + ")", source->at);
      RETURN_IF_ERROR(SkipParenthesized());
    }
    if (AtWord("FOR") && AtWord("SYSTEM_TIME", 1)) return Refuse("FOR SYSTEM_TIME", Peek().at);
    RETURN_IF_ERROR(Alias(*source));
    if (AtWord("WITH") && AtSymbol("(", 1)) {
      Next();
      RETURN_IF_ERROR(SkipParenthesized());
    } else if (AtSymbol("(") && AtHint(1)) {
      RETURN_IF_ERROR(SkipParenthesized());
    }
    if (dialect_ == Dialect::kSqlite) {
      if (AtWord("INDEXED") && AtWord("BY", 1)) {
        pos_ += 2;
        if (!IsName(Next())) return Expected("an index name");
      } else if (AtWord("NOT") && AtWord("INDEXED", 1)) {
        pos_ += 2;
      }
    }
    RETURN_IF_ERROR(After());
    RETURN_IF_ERROR(Built(1, source->at));
    return source;
  }

  Status Alias(TableRef& source) {
    if (AcceptWord("AS")) {
      if (!IsName(Peek())) return Expected("an alias");
      source.alias = Next().text;
    } else if (IsName(Peek())) {
      source.alias = Next().text;
    }
    return Status::Ok();
  }

  // What may follow a source and has no Access form.
  Status After() const {
    if (AtWord("TABLESAMPLE") || AtWord("PIVOT") || AtWord("UNPIVOT")) return Refuse(Peek().upper, Peek().at);
    return Status::Ok();
  }

  // A table hint's word at `ahead` (the old form t (NOLOCK) has no WITH).
  bool AtHint(size_t ahead) const {
    static constexpr std::string_view kHints[] = {"NOLOCK",
                                                  "READUNCOMMITTED",
                                                  "READCOMMITTED",
                                                  "REPEATABLEREAD",
                                                  "SERIALIZABLE",
                                                  "HOLDLOCK",
                                                  "UPDLOCK",
                                                  "ROWLOCK",
                                                  "PAGLOCK",
                                                  "TABLOCK",
                                                  "TABLOCKX",
                                                  "XLOCK",
                                                  "READPAST",
                                                  "NOWAIT",
                                                  "INDEX",
                                                  "NOEXPAND",
                                                  "FORCESEEK",
                                                  "FORCESCAN",
                                                  "READCOMMITTEDLOCK",
                                                  "SNAPSHOT",
                                                  "KEEPIDENTITY",
                                                  "KEEPDEFAULTS",
                                                  "IGNORE_CONSTRAINTS"};
    const Token& token = Peek(ahead);
    return token.kind == TokenKind::kWord &&
           std::find(std::begin(kHints), std::end(kHints), token.upper) != std::end(kHints);
  }

  // Skips "( ... )" with what it holds (table hints), the "(" next.
  Status SkipParenthesized() {
    int open = 0;
    do {
      if (Peek().kind == TokenKind::kEnd) return Expected(")");
      if (AtSymbol("(")) ++open;
      if (AtSymbol(")")) --open;
      Next();
    } while (open > 0);
    return Status::Ok();
  }

  // --- expressions ---

  // Binary operators at or above `min` bind here; the operand at the left is a prefix or a primary.
  Result<ExprPtr> Expression(int min) {
    ExprPtr left;
    if (min <= kNot && AtWord("NOT")) {
      const Position at = Next().at;
      Nest nest(depth_);
      RETURN_IF_ERROR(CheckNesting());
      if (AtWord("EXISTS")) {
        ASSIGN_OR_RETURN(left, Exists());
        left->negated = true;
        left->at = at;
      } else {
        left = MakeExpr(Expr::Kind::kUnary, at);
        left->op = "not";
        ASSIGN_OR_RETURN(auto operand, Expression(kNot));
        left->args.push_back(std::move(operand));
        RETURN_IF_ERROR(Built(height_ + 1, at));
      }
    } else {
      ASSIGN_OR_RETURN(left, Unary());
    }
    int height = height_;
    while (true) {
      if (min <= kEquality) {
        ASSIGN_OR_RETURN(bool done, Predicate(left, height));
        if (done) continue;
      }
      const Token& token = Peek();
      std::string op;
      ASSIGN_OR_RETURN(int precedence, Binary(token, op));
      if (precedence == kNone || precedence < min) break;
      const Position at = Next().at;
      auto node = MakeExpr(Expr::Kind::kBinary, at);
      node->op = std::move(op);
      ASSIGN_OR_RETURN(auto right, Expression(precedence + 1));
      node->args.push_back(std::move(left));
      node->args.push_back(std::move(right));
      left = std::move(node);
      RETURN_IF_ERROR(Built(std::max(height, height_) + 1, at));
      height = height_;
    }
    height_ = height;
    return left;
  }

  // The precedence of the binary operator `token` (kNone when it is none) and its name in the tree.
  Result<int> Binary(const Token& token, std::string& op) const {
    const bool sqlite = dialect_ == Dialect::kSqlite;
    if (token.kind == TokenKind::kWord) {
      op = Lower(token.upper);
      if (token.upper == "OR") return static_cast<int>(kOr);
      if (token.upper == "AND") return static_cast<int>(kAnd);
      return static_cast<int>(kNone);
    }
    if (token.kind != TokenKind::kSymbol) return static_cast<int>(kNone);
    const std::string& s = token.text;
    op = s;
    if (s == "=" || s == "<>" || s == "!=") return static_cast<int>(kEquality);
    if (s == "==" && sqlite) {
      op = "=";
      return static_cast<int>(kEquality);
    }
    if (s == "<" || s == ">" || s == "<=" || s == ">=") return static_cast<int>(sqlite ? kRelational : kEquality);
    if ((s == "!<" || s == "!>") && !sqlite) {
      op = s == "!<" ? ">=" : "<=";
      return static_cast<int>(kEquality);
    }
    if (s == "&" || s == "|") return static_cast<int>(sqlite ? kBitwise : kAdditive);
    if (s == "^" && !sqlite) return static_cast<int>(kAdditive);
    if (s == "+" || s == "-") return static_cast<int>(kAdditive);
    if (s == "*" || s == "/" || s == "%") return static_cast<int>(kMultiplicative);
    if (s == "||") return static_cast<int>(sqlite ? kConcat : kAdditive);
    if (s == "<<" || s == ">>") return Refuse("a bit shift (" + s + ")", token.at);
    if (s == "->" || s == "->>") return Refuse("a JSON operator (" + s + ")", token.at);
    if (s == "::") return Refuse("a :: call", token.at);
    return static_cast<int>(kNone);
  }

  // [NOT] IN, [NOT] LIKE, [NOT] BETWEEN, IS [NOT] NULL after `left`: true when one was read
  // (`left` then holds it).
  Result<bool> Predicate(ExprPtr& left, int& height) {
    const bool sqlite = dialect_ == Dialect::kSqlite;
    size_t ahead = 0;
    bool negated = false;
    if (AtWord("NOT") && (AtWord("IN", 1) || AtWord("LIKE", 1) || AtWord("BETWEEN", 1) || AtWord("GLOB", 1) ||
                          AtWord("REGEXP", 1) || AtWord("MATCH", 1) || (sqlite && AtWord("NULL", 1)))) {
      negated = true;
      ahead = 1;
    }
    const Token& word = Peek(ahead);
    if (word.kind != TokenKind::kWord) return false;
    const Position at = word.at;
    ExprPtr node;
    if (sqlite && (word.upper == "GLOB" || word.upper == "REGEXP" || word.upper == "MATCH")) {
      return Refuse(word.upper, at);
    }
    if (word.upper == "IN") {
      pos_ += ahead + 1;
      node = MakeExpr(Expr::Kind::kIn, at);
      node->args.push_back(std::move(left));
      RETURN_IF_ERROR(ExpectSymbol("("));
      Nest nest(depth_);
      RETURN_IF_ERROR(CheckNesting());
      if (AtWord("SELECT") || AtWord("WITH")) {
        ASSIGN_OR_RETURN(node->subquery, Query());
        height = std::max(height, height_);
      } else {
        do {
          ASSIGN_OR_RETURN(auto item, Expression(kNone));
          height = std::max(height, height_);
          node->args.push_back(std::move(item));
        } while (AcceptSymbol(","));
      }
      RETURN_IF_ERROR(ExpectSymbol(")"));
    } else if (word.upper == "LIKE" || word.upper == "BETWEEN") {
      const bool like = word.upper == "LIKE";
      pos_ += ahead + 1;
      node = MakeExpr(like ? Expr::Kind::kLike : Expr::Kind::kBetween, at);
      node->args.push_back(std::move(left));
      ASSIGN_OR_RETURN(auto second, Expression(kBitwise));
      height = std::max(height, height_);
      node->args.push_back(std::move(second));
      if (!like || AtWord("ESCAPE")) {
        if (!AcceptWord(like ? "ESCAPE" : "AND")) return Expected(like ? "ESCAPE" : "AND");
        ASSIGN_OR_RETURN(auto third, Expression(kBitwise));
        height = std::max(height, height_);
        node->args.push_back(std::move(third));
      }
    } else if (word.upper == "IS" && ahead == 0) {
      Next();
      negated = AcceptWord("NOT");
      if (AtWord("DISTINCT")) return Refuse("IS DISTINCT FROM", at);
      if (!AtWord("NULL")) {
        if (sqlite)
          return Refuse(negated ? "IS NOT with a value other than NULL" : "IS with a value other than NULL", at);
        return Expected("NULL");
      }
      Next();
      node = MakeExpr(Expr::Kind::kIsNull, at);
      node->args.push_back(std::move(left));
    } else if (sqlite && (word.upper == "ISNULL" || word.upper == "NOTNULL" || (negated && word.upper == "NULL"))) {
      pos_ += ahead + 1;
      node = MakeExpr(Expr::Kind::kIsNull, at);
      node->args.push_back(std::move(left));
      negated = word.upper != "ISNULL";
    } else {
      return false;
    }
    node->negated = negated;
    left = std::move(node);
    RETURN_IF_ERROR(Built(height + 1, at));
    height = height_;
    return true;
  }

  // -x, +x, ~x, then a primary (COLLATE after it is refused).
  Result<ExprPtr> Unary() {
    if (AtSymbol("-") || AtSymbol("+") || AtSymbol("~")) {
      const Token& sign = Next();
      Nest nest(depth_);
      RETURN_IF_ERROR(CheckNesting());
      auto node = MakeExpr(Expr::Kind::kUnary, sign.at);
      node->op = sign.text;
      ASSIGN_OR_RETURN(auto operand, Unary());
      node->args.push_back(std::move(operand));
      RETURN_IF_ERROR(Built(height_ + 1, node->at));
      return node;
    }
    ASSIGN_OR_RETURN(auto primary, Primary());
    if (AtWord("COLLATE")) return Refuse("COLLATE", Peek().at);
    if (AtSymbol("::")) return Refuse("a :: call", Peek().at);
    return primary;
  }

  Result<ExprPtr> Literal(Expr::LiteralKind kind, std::string text) {
    auto node = MakeExpr(Expr::Kind::kLiteral, Next().at);
    node->literal_kind = kind;
    node->text = std::move(text);
    RETURN_IF_ERROR(Built(1, node->at));
    return node;
  }

  Result<ExprPtr> Primary() {
    const Token& token = Peek();
    const Position at = token.at;
    switch (token.kind) {
      case TokenKind::kString: return Literal(Expr::LiteralKind::kString, token.text);
      case TokenKind::kNationalString: return Literal(Expr::LiteralKind::kNationalString, token.text);
      case TokenKind::kHex: return Literal(Expr::LiteralKind::kHex, token.text);
      case TokenKind::kNumber: return Literal(Expr::LiteralKind::kNumber, token.text);
      case TokenKind::kVariable: return Refuse("a variable (@" + token.text + ")", at);
      case TokenKind::kEnd: return Expected("an expression");
      case TokenKind::kSymbol: {
        if (token.text == "{") return Refuse("an ODBC escape ({...})", at);
        if (token.text != "(") return Expected("an expression");
        Next();
        Nest nest(depth_);
        RETURN_IF_ERROR(CheckNesting());
        if (AtWord("SELECT") || AtWord("WITH")) {
          auto node = MakeExpr(Expr::Kind::kSubquery, at);
          ASSIGN_OR_RETURN(node->subquery, Query());
          RETURN_IF_ERROR(ExpectSymbol(")"));
          RETURN_IF_ERROR(Built(height_ + 1, at));
          return node;
        }
        ASSIGN_OR_RETURN(auto inner, Expression(kNone));
        RETURN_IF_ERROR(ExpectSymbol(")"));
        inner->parenthesized = true;
        return inner;
      }
      case TokenKind::kWord: {
        const std::string& word = token.upper;
        if (word == "NULL") return Literal(Expr::LiteralKind::kNull, "");
        if (dialect_ == Dialect::kSqlite && (word == "TRUE" || word == "FALSE")) {
          return Literal(Expr::LiteralKind::kBoolean, word == "TRUE" ? "1" : "0");
        }
        if (word == "CASE") return Case();
        if (word == "EXISTS") return Exists();
        if (AtSymbol("(", 1)) {
          if (word == "CAST") return Cast();
          if (word == "CONVERT" && dialect_ == Dialect::kTransactSql) return Convert();
          for (std::string_view refused : {"TRY_CAST", "TRY_CONVERT", "PARSE", "TRY_PARSE", "CONTAINS", "FREETEXT"}) {
            if (word == refused) return Refuse(word, at);
          }
          if (word == "LEFT" || word == "RIGHT") {
            std::vector<std::string> name = {Lower(word)};
            Next();
            return Call(std::move(name), at);
          }
          if (word == "ALL" || word == "ANY" || word == "SOME") return Refuse("a comparison with " + word, at);
        }
        if (word == "CURRENT_TIMESTAMP" || word == "CURRENT_DATE" || word == "CURRENT_TIME" || word == "CURRENT_USER" ||
            word == "SESSION_USER" || word == "SYSTEM_USER") {
          auto node = MakeExpr(Expr::Kind::kFunction, Next().at);
          node->function = Lower(word);
          RETURN_IF_ERROR(Built(1, at));
          return node;
        }
        if (word == "NEXT" && AtWord("VALUE", 1)) return Refuse("NEXT VALUE FOR", at);
        break;
      }
      case TokenKind::kQuotedName: break;
    }
    ASSIGN_OR_RETURN(auto parts, NameParts(4, "an expression"));
    if (AtSymbol("(")) return Call(std::move(parts), at);
    auto node = MakeExpr(Expr::Kind::kColumn, at);
    node->name = std::move(parts);
    RETURN_IF_ERROR(Built(1, at));
    return node;
  }

  // name(args), name(*), name(DISTINCT x); the "(" next.
  Result<ExprPtr> Call(std::vector<std::string> parts, Position at) {
    auto node = MakeExpr(Expr::Kind::kFunction, at);
    for (const std::string& part : parts) node->function += (node->function.empty() ? "" : ".") + Lower(part);
    Next();
    Nest nest(depth_);
    RETURN_IF_ERROR(CheckNesting());
    int height = 0;
    if (AcceptSymbol("*")) {
      node->star_argument = true;
    } else if (!AtSymbol(")")) {
      if (AcceptWord("DISTINCT")) {
        node->distinct = true;
      } else {
        (void)AcceptWord("ALL");
      }
      do {
        ASSIGN_OR_RETURN(auto arg, Expression(kNone));
        height = std::max(height, height_);
        node->args.push_back(std::move(arg));
      } while (AcceptSymbol(","));
      if (AtWord("ORDER")) return Refuse("ORDER BY in an aggregate", Peek().at);
    }
    RETURN_IF_ERROR(ExpectSymbol(")"));
    if (AtWord("OVER")) return Refuse("a window function (OVER)", Peek().at);
    if (AtWord("WITHIN") && AtWord("GROUP", 1)) return Refuse("WITHIN GROUP", Peek().at);
    if (AtWord("FILTER") && AtSymbol("(", 1)) return Refuse("an aggregate FILTER", Peek().at);
    RETURN_IF_ERROR(Built(height + 1, at));
    return node;
  }

  // A type name as written, lower case: "varchar(10)", "decimal(10,2)", "nvarchar(max)".
  Result<std::string> TypeName() {
    std::string type;
    while (Peek().kind == TokenKind::kWord || Peek().kind == TokenKind::kQuotedName) {
      if (!type.empty()) type += ' ';
      type += Lower(Next().text);
    }
    if (type.empty()) return Expected("a type name");
    if (AcceptSymbol("(")) {
      type += '(';
      do {
        if (type.back() != '(') type += ',';
        if (AtSymbol("-") || AtSymbol("+")) type += Next().text;
        if (Peek().kind != TokenKind::kNumber && !AtWord("MAX")) return Expected("a length");
        type += Lower(Next().text);
      } while (AcceptSymbol(","));
      RETURN_IF_ERROR(ExpectSymbol(")"));
      type += ')';
    }
    return type;
  }

  // CAST(x AS type).
  Result<ExprPtr> Cast() {
    auto node = MakeExpr(Expr::Kind::kCast, Next().at);
    Next();
    Nest nest(depth_);
    RETURN_IF_ERROR(CheckNesting());
    ASSIGN_OR_RETURN(auto value, Expression(kNone));
    const int height = height_;
    node->args.push_back(std::move(value));
    RETURN_IF_ERROR(ExpectWord("AS"));
    ASSIGN_OR_RETURN(node->type, TypeName());
    RETURN_IF_ERROR(ExpectSymbol(")"));
    RETURN_IF_ERROR(Built(height + 1, node->at));
    return node;
  }

  // CONVERT(type, x[, style]).
  Result<ExprPtr> Convert() {
    auto node = MakeExpr(Expr::Kind::kCast, Next().at);
    Next();
    Nest nest(depth_);
    RETURN_IF_ERROR(CheckNesting());
    ASSIGN_OR_RETURN(node->type, TypeName());
    RETURN_IF_ERROR(ExpectSymbol(","));
    int height = 0;
    do {
      if (node->args.size() == 2) return Expected(")");
      ASSIGN_OR_RETURN(auto arg, Expression(kNone));
      height = std::max(height, height_);
      node->args.push_back(std::move(arg));
    } while (AcceptSymbol(","));
    RETURN_IF_ERROR(ExpectSymbol(")"));
    RETURN_IF_ERROR(Built(height + 1, node->at));
    return node;
  }

  // CASE [operand] WHEN a THEN b ... [ELSE c] END.
  Result<ExprPtr> Case() {
    auto node = MakeExpr(Expr::Kind::kCase, Next().at);
    Nest nest(depth_);
    RETURN_IF_ERROR(CheckNesting());
    int height = 0;
    auto add = [&](ExprPtr expr) {
      height = std::max(height, height_);
      node->args.push_back(std::move(expr));
    };
    if (!AtWord("WHEN")) {
      node->has_operand = true;
      ASSIGN_OR_RETURN(auto operand, Expression(kNone));
      add(std::move(operand));
    }
    if (!AtWord("WHEN")) return Expected("WHEN");
    while (AcceptWord("WHEN")) {
      ASSIGN_OR_RETURN(auto when, Expression(kNone));
      add(std::move(when));
      RETURN_IF_ERROR(ExpectWord("THEN"));
      ASSIGN_OR_RETURN(auto then, Expression(kNone));
      add(std::move(then));
    }
    if (AcceptWord("ELSE")) {
      node->has_else = true;
      ASSIGN_OR_RETURN(auto otherwise, Expression(kNone));
      add(std::move(otherwise));
    }
    RETURN_IF_ERROR(ExpectWord("END"));
    RETURN_IF_ERROR(Built(height + 1, node->at));
    return node;
  }

  // EXISTS (query).
  Result<ExprPtr> Exists() {
    auto node = MakeExpr(Expr::Kind::kExists, Next().at);
    RETURN_IF_ERROR(ExpectSymbol("("));
    Nest nest(depth_);
    RETURN_IF_ERROR(CheckNesting());
    ASSIGN_OR_RETURN(node->subquery, Query());
    RETURN_IF_ERROR(ExpectSymbol(")"));
    RETURN_IF_ERROR(Built(height_ + 1, node->at));
    return node;
  }

  std::vector<Token> tokens_;
  Dialect dialect_;
  size_t pos_ = 0;
  int depth_ = 0;
  int height_ = 0;  // the height of the node built last
};

}  // namespace

Result<ViewDefinition> ParseView(std::string_view text, Dialect dialect) {
  ASSIGN_OR_RETURN(auto tokens, Tokenize(text, dialect));
  return Parser(std::move(tokens), dialect).View();
}

Result<std::unique_ptr<Select>> ParseSelect(std::string_view text, Dialect dialect) {
  ASSIGN_OR_RETURN(auto tokens, Tokenize(text, dialect));
  return Parser(std::move(tokens), dialect).SelectStatement();
}

Result<ExprPtr> ParseExpression(std::string_view text, Dialect dialect) {
  ASSIGN_OR_RETURN(auto tokens, Tokenize(text, dialect));
  return Parser(std::move(tokens), dialect).ExpressionStatement();
}

std::string ViewName(std::string_view text, Dialect dialect) {
  auto tokens = Tokenize(text, dialect);
  if (!tokens.ok()) return {};
  size_t i = 0;
  auto word = [&](std::string_view w) {
    if (i < tokens->size() && (*tokens)[i].kind == TokenKind::kWord && (*tokens)[i].upper == w) {
      ++i;
      return true;
    }
    return false;
  };
  if (!word("CREATE") && !word("ALTER")) return {};
  if (word("OR")) word("ALTER");
  if (!word("TEMP")) word("TEMPORARY");
  if (!word("VIEW")) return {};
  if (word("IF")) {
    word("NOT");
    word("EXISTS");
  }
  std::string name;
  while (i < tokens->size() && ((*tokens)[i].kind == TokenKind::kWord || (*tokens)[i].kind == TokenKind::kQuotedName)) {
    name = (*tokens)[i++].text;
    if (i >= tokens->size() || (*tokens)[i].kind != TokenKind::kSymbol || (*tokens)[i].text != ".") break;
    ++i;
  }
  return name;
}

}  // namespace tabulon::viewsql
