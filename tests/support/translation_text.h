// What a translation or a row copy gives, as one text for tests to compare: the statements or
// the reason the target cannot hold the object, "" for nothing to do, the error's words for a
// failure, and "true" for a row copy that ran.
#pragma once

#include <string>

#include "base/status.h"
#include "source_common/source_context.h"
#include "source_common/translation.h"

namespace tabulon::testing {

inline std::string Shown(const Result<source_common::Translation>& translation) {
  return translation.ok() ? translation->text : translation.status().message();
}

// The notes of a translation, one line each: "left out: ..." or "statement n: ...".
inline std::string ShownNotes(const Result<source_common::Translation>& translation) {
  std::string out;
  if (!translation.ok()) return out;
  for (const source_common::TranslationNote& note : translation->notes) {
    out +=
        (note.statement == source_common::TranslationNote::kLeftOut ? std::string("left out")
                                                                    : "statement " + std::to_string(note.statement)) +
        (note.not_enforced ? " (not enforced)" : "") + ": " + note.text + "\n";
  }
  return out;
}

inline std::string Shown(const Result<source_common::RowCopyCounts>& copy) {
  return copy.ok() ? "true" : copy.status().message();
}

}  // namespace tabulon::testing
