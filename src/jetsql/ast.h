// The statements of the Access SQL subset, as the parser produces them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "jet/saved_query.h"
#include "jet/schema.h"

namespace tabulon::jetsql {

// A constant as written. Numbers keep their text so conversion to Currency and Decimal is exact.
struct Literal {
  enum class Kind { kNull, kString, kNumber, kDate, kBinary, kBoolean };
  Kind kind = Kind::kNull;
  std::string text;  // string value, number text (with a leading '-' when negated), date text,
                     // decoded bytes
  bool boolean = false;
  size_t offset = 0;
};

struct Expression;
using ExpressionPtr = std::unique_ptr<Expression>;

// Where a piece of the statement was written: tokens [first_token, end_token) of the statement's
// token list and bytes [begin, end) of its text.
struct SourceSpan {
  size_t first_token = 0;
  size_t end_token = 0;
  size_t begin = 0;
  size_t end = 0;
};

// A column named in an expression: [prefix.]...[qualifier.]name, with '.' or '!' between parts.
struct ColumnRef {
  std::string qualifier;            // table name or alias; empty when not given
  std::string name;                 // "*" in t.* (an argument such as Count(t.*))
  std::vector<std::string> prefix;  // parts before the qualifier (schema, database); rarely given
};

// An Access SQL expression, as one parser reads it for every statement. Each node records the
// source it was read from (span), so a view keeps its expressions as written; the query engine
// reads them again from that text when it runs the query.
struct Expression {
  enum class Kind {
    kLiteral,
    kColumn,
    kCompare,  // left op right; op: = <> < > <= >=
    kAnd,
    kOr,
    kNot,       // NOT left
    kLike,      // left LIKE right (pattern); negated: NOT LIKE
    kIsNull,    // left IS NULL (negated: IS NOT NULL)
    kBinary,    // left op right; op: & + - * / \ ^ mod xor eqv imp (words in lower case)
    kUnary,     // op left; op: - or +
    kFunction,  // function(arguments); star: Count(*); distinct: Count(DISTINCT x)
    kBetween,   // left BETWEEN arguments[0] AND arguments[1]; negated: NOT BETWEEN
    kIn,        // left IN (arguments), or left IN (subquery) with the subquery as its only argument
    kExists,    // EXISTS (subquery)
    kSubquery,  // (SELECT ...): subquery
  };
  Kind kind = Kind::kLiteral;
  size_t offset = 0;  // of the token that names the node's operation (for messages)
  SourceSpan span;
  Literal literal;
  ColumnRef column;
  std::string op;
  std::string function;  // kFunction: the name as written
  bool negated = false;  // NOT LIKE, IS NOT NULL, NOT BETWEEN, NOT IN
  bool star = false;
  bool distinct = false;
  ExpressionPtr left;
  ExpressionPtr right;
  std::vector<ExpressionPtr> arguments;
  std::unique_ptr<jet::ViewDefinition> subquery;  // kSubquery, kExists: the SELECT as a view keeps it
};

// A column of CREATE TABLE with its type already resolved to the engine's type.
struct ColumnSpec {
  std::string name;
  size_t offset = 0;
  jet::ColumnType type = jet::ColumnType::kLong;
  uint16_t size = 0;  // Text characters, Binary bytes, Decimal precision; 0 = default
  uint8_t scale = 0;  // Decimal
  bool auto_number = false;
  bool not_null = false;
  std::optional<std::string> default_value;  // as Access stores it in DefaultValue
};

struct KeyColumn {
  std::string name;
  bool ascending = true;
};

// PRIMARY KEY, UNIQUE or FOREIGN KEY, from CREATE TABLE or ALTER TABLE ... ADD.
struct Constraint {
  enum class Kind { kPrimaryKey, kUnique, kForeignKey };
  Kind kind = Kind::kPrimaryKey;
  std::string name;  // empty when not named
  size_t offset = 0;
  std::vector<KeyColumn> columns;
  std::string referenced_table;
  std::vector<std::string> referenced_columns;  // empty: the referenced table's primary key
  bool cascade_update = false;
  bool cascade_delete = false;
  bool delete_sets_null = false;               // ON DELETE SET NULL
  bool enforced = true;                        // false: NOT ENFORCED (a relationship Access does not check)
  bool one_to_one = false;                     // ONE TO ONE
  jet::JoinKind join = jet::JoinKind::kInner;  // LEFT JOIN, RIGHT JOIN
};

struct CreateTable {
  std::string table;
  std::vector<ColumnSpec> columns;
  std::vector<Constraint> constraints;  // column-level ones included
};

struct AlterTable {
  enum class Action {
    kAddConstraint,
    kAddColumn,
    kDropConstraint,
    kDropColumn,
    kRename,
    kSetProperty,
    kSetAutoNumber,    // ALTER COLUMN c COUNTER [(next, 1)]
    kClearProperties,  // CLEAR PROPERTIES: every property of the table and of its columns
    kSetCompression,   // ALTER COLUMN c WITH COMPRESSION | WITHOUT COMPRESSION
  };
  std::string table;
  Action action = Action::kAddConstraint;
  Constraint constraint;                // kAddConstraint
  ColumnSpec column;                    // kAddColumn
  std::string name;                     // kDropConstraint, kDropColumn; kRename: the new table name;
                                        // kSetProperty: the column (ALTER COLUMN c), empty for the table
  std::string property;                 // kSetProperty: the property's name
  Literal value;                        // kSetProperty: a string, a whole number, TRUE or FALSE
  std::optional<uint32_t> next_number;  // kSetAutoNumber: the table's next AutoNumber
  bool compression = true;              // kSetCompression: Unicode compression allowed
  // kSetProperty with AS <type>: the property's type code (the value then gives its bytes in
  // that type, or raw as 0x...) and its DDL flag.
  std::optional<uint8_t> property_type;
  bool property_ddl = false;
};

struct CreateIndex {
  std::string name;
  std::string table;
  bool unique = false;
  std::vector<KeyColumn> columns;
  bool primary = false;        // WITH PRIMARY
  bool disallow_null = false;  // WITH DISALLOW NULL
  bool ignore_null = false;    // WITH IGNORE NULL
};

struct Drop {
  enum class Kind { kTable, kView, kIndex };
  Kind kind = Kind::kTable;
  std::string name;
  std::string table;  // DROP INDEX name ON table
};

// DELETE [*] FROM t [WHERE condition].
struct Delete {
  std::string table;
  ExpressionPtr where;  // null: every row; spans are offsets into the statement
};

// UPDATE t [[AS] alias] SET column = expression [, ...] [WHERE condition].
struct Update {
  struct Assignment {
    ColumnRef column;  // [t.]c, [alias.]c or [t].[c]
    size_t offset = 0;
    ExpressionPtr value;
  };
  std::string table;
  std::string alias;  // empty when not given
  std::vector<Assignment> assignments;
  ExpressionPtr where;  // null: every row; spans are offsets into the statement
};

struct Insert {
  std::string table;
  std::vector<std::string> columns;  // empty: every column in table order
  std::vector<Literal> values;
  std::unique_ptr<jet::ViewDefinition> query;  // INSERT INTO t [(columns)] SELECT ...
};

// SELECT ... [INTO new] FROM ..., with UNIONs: the query as a saved query describes it (its
// expressions as written), run by the query engine.
struct Select {
  jet::ViewDefinition query;
  std::string into;  // SELECT ... INTO new FROM ...
};

// CREATE VIEW name [(column, ...)] AS SELECT ...: the SELECT as the saved-query description
// (expressions as written).
struct CreateView {
  std::string name;
  std::string text;  // the SELECT as written
  jet::ViewDefinition definition;
};

// CREATE QUERY name ROWS (attribute, order, flag, name1, name2, expression), ... (our
// extension): a saved query of any kind given as its MSysQueries rows, stored as they are.
struct CreateQuery {
  std::string name;
  std::vector<jet::QueryRow> rows;
};

// ALTER QUERY name SET PROPERTIES 0x... (our extension): the whole property blob of a query.
struct AlterQuery {
  std::string name;
  std::string properties;  // the blob's bytes
};

using Statement = std::variant<CreateTable, AlterTable, CreateIndex, Drop, Insert, Select, CreateView, Delete, Update,
                               CreateQuery, AlterQuery>;

}  // namespace tabulon::jetsql
