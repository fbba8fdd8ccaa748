// What translating one source object into Access statements gives the flows. A failure to read
// the source is not a Translation: it is the error of the Result<Translation> (with the
// provider's words), so a shorter statement can never stand in for a failed read.
#pragma once

#include <string>
#include <utility>

namespace tabulon::source_common {

struct Translation {
  enum class Kind { kStatements, kNothing, kUnsupported };
  Kind kind = Kind::kNothing;
  std::string text;  // kStatements: the statements, ";"-separated where several; kUnsupported: why

  // Statements to run on the target; none (an empty text) is nothing to do.
  static Translation Statements(std::string statements) {
    Translation t;
    if (!statements.empty()) {
      t.kind = Kind::kStatements;
      t.text = std::move(statements);
    }
    return t;
  }
  static Translation Nothing() { return {}; }
  // The object exists but the target cannot hold it; `reason` is the line the flows show.
  static Translation Unsupported(std::string reason) { return {Kind::kUnsupported, std::move(reason)}; }

  bool statements() const { return kind == Kind::kStatements; }
  bool nothing() const { return kind == Kind::kNothing; }
  bool unsupported() const { return kind == Kind::kUnsupported; }
};

}  // namespace tabulon::source_common
