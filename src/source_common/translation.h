// What translating one source object into Access statements gives the flows. A failure to read
// the source is not a Translation: it is the error of the Result<Translation> (with the
// provider's words), so a shorter statement can never stand in for a failed read.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace tabulon::source_common {

// What the target gets of one object of a translation other than as the source has it: an
// object left out (no statement), or one whose statement creates it with a difference.
struct TranslationNote {
  static constexpr size_t kLeftOut = static_cast<size_t>(-1);
  size_t statement = kLeftOut;  // the statement's place among the ";"-separated ones, from 0
  std::string text;             // the line, e.g. "INDEX [ix] of [T] is left out: a filtered index"
  bool not_enforced = false;    // a relationship that Access keeps but does not enforce
};

struct Translation {
  enum class Kind { kStatements, kNothing, kUnsupported };
  Kind kind = Kind::kNothing;
  std::string text;  // kStatements: the statements, ";"-separated where several; kUnsupported: why
  std::vector<TranslationNote> notes;

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
  static Translation Unsupported(std::string reason) { return {Kind::kUnsupported, std::move(reason), {}}; }

  bool statements() const { return kind == Kind::kStatements; }
  bool nothing() const { return kind == Kind::kNothing; }
  bool unsupported() const { return kind == Kind::kUnsupported; }
};

}  // namespace tabulon::source_common
