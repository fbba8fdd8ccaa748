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

struct ColumnRef {
  std::string qualifier;  // table name or alias; empty when not given
  std::string name;
};

// Search conditions and the values they compare.
struct Expression {
  enum class Kind {
    kLiteral,
    kColumn,
    kCompare,  // op: = <> < > <= >=
    kAnd,
    kOr,
    kNot,
    kLike,    // left LIKE right (pattern)
    kIsNull,  // left IS NULL (negated: IS NOT NULL)
  };
  Kind kind = Kind::kLiteral;
  size_t offset = 0;
  Literal literal;
  ColumnRef column;
  std::string op;
  bool negated = false;  // NOT LIKE, IS NOT NULL
  ExpressionPtr left;
  ExpressionPtr right;
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
};

struct CreateTable {
  std::string table;
  std::vector<ColumnSpec> columns;
  std::vector<Constraint> constraints;  // column-level ones included
};

struct AlterTable {
  enum class Action { kAddConstraint, kAddColumn, kDropConstraint, kDropColumn, kRename };
  std::string table;
  Action action = Action::kAddConstraint;
  Constraint constraint;  // kAddConstraint
  ColumnSpec column;      // kAddColumn
  std::string name;       // kDropConstraint, kDropColumn; kRename: the new table name
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

// DELETE [*] FROM t: every row of the table (no WHERE yet).
struct Delete {
  std::string table;
};

struct Insert {
  std::string table;
  std::vector<std::string> columns;  // empty: every column in table order
  std::vector<Literal> values;
};

struct TableRef {
  std::string name;
  std::string alias;  // empty when not given
  size_t offset = 0;
};

struct SelectItem {
  enum class Kind { kAllColumns, kColumn, kCount };
  Kind kind = Kind::kColumn;
  std::string qualifier;  // kAllColumns: t.*; kColumn: t.col
  std::string name;       // kColumn: the column; kCount: the counted column, empty for *
  std::string alias;
  size_t offset = 0;
};

struct OrderItem {
  ColumnRef column;     // by name
  size_t position = 0;  // by position in the select list (1-based), 0 when by name
  bool ascending = true;
  size_t offset = 0;
};

struct Select {
  std::optional<uint64_t> top;
  std::vector<SelectItem> items;
  std::string into;  // SELECT ... INTO new FROM ...
  std::vector<TableRef> from;
  ExpressionPtr where;
  std::string where_text;  // the condition as written (saved with a view)
  std::vector<OrderItem> order_by;
};

// CREATE VIEW name [(column, ...)] AS SELECT ...: the SELECT as the saved-query description
// (expressions as written), and, when the SELECT is one the executor can run, that query too
// (used to check its columns before the view is stored).
struct CreateView {
  std::string name;
  std::string text;  // the SELECT as written
  jet::ViewDefinition definition;
  std::optional<Select> select;
};

using Statement = std::variant<CreateTable, AlterTable, CreateIndex, Drop, Insert, Select, CreateView, Delete>;

}  // namespace tabulon::jetsql
