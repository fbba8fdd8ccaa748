// Replaying a backup folder into the connected target: the table scripts of its "TABLES"
// folder (*.tbl), then the rows of "DATA" (*.data), then AutoNumbers and indexes of "KEYS"
// (*.keys), relationships of "RELATIONSHIPS" (*.rel), table properties of "PROPERTIES"
// (*.prop), then the views of "VIEWS" (*.vw), then the saved queries of "QUERIES" (*.qry).
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>

#include "base/status.h"
#include "data/provider.h"
#include "target_access/target_context.h"

namespace tabulon::target_access {

struct RestoreResult {
  size_t tables_restored = 0;
  size_t tables_failed = 0;
  std::uint64_t rows_restored = 0;
  std::uint64_t rows_failed = 0;
  // Data files left alone because the script of their table failed (the table may be an
  // older one of the same name: its rows are not to be doubled).
  size_t data_files_skipped = 0;
  size_t views_restored = 0;
  size_t views_failed = 0;
  // Saved queries of QUERIES (*.qry), each with its properties.
  size_t queries_restored = 0;
  size_t queries_failed = 0;
  // Statements of KEYS (AutoNumbers and indexes), RELATIONSHIPS and PROPERTIES files; a file
  // left alone because its table was not restored counts as one failure.
  size_t keys_restored = 0;
  size_t keys_failed = 0;
  size_t relationships_restored = 0;
  size_t relationships_failed = 0;
  size_t properties_restored = 0;
  size_t properties_failed = 0;
  bool stopped = false;  // a stop request ended the restore early
};

// Replays `folder` (a database folder of a backup, or a folder holding a single object's
// TABLES / DATA / KEYS / RELATIONSHIPS / PROPERTIES / VIEWS / QUERIES) into `session`. Files are
// taken in name order; a missing folder is skipped. Every statement of a KEYS, RELATIONSHIPS or
// PROPERTIES file runs, whatever the others did. Views that fail are tried again while another
// view was created in the round before (a view may read a view not yet made). A view with a
// script of the same name in QUERIES is left to that script: queries are stored from their
// rows, which need no other object, after everything else. Every failure is printed with the
// provider's text and counted; the call itself fails only for a null session and for a folder
// with none of TABLES, DATA, VIEWS and QUERIES.
Result<RestoreResult> RestoreBackup(TargetContext& owner, data::Session* session, const std::string& folder);

// Reads SQL statements one by one: a ';' outside quotes, names and parentheses ends one; with
// `line_ends_statement`, so does a line end outside them (the form of data files: one INSERT
// per line, whose text values may hold line ends, ';' and anything else). Blank statements are
// passed over. With `comments`, a line starting with "--" where a statement would start is
// passed over (the SQL text heading a query script).
class StatementReader {
 public:
  StatementReader(std::istream& in, bool line_ends_statement, bool comments = false)
      : in_(in), lines_(line_ends_statement), comments_(comments) {}
  // The next statement without its ending, nullopt at the end of the input.
  std::optional<std::string> Next();
  // True when the input ended inside a quote, a name or parentheses (the last statement is
  // then incomplete).
  bool unbalanced() const { return unbalanced_; }

 private:
  std::istream& in_;
  bool lines_;
  bool comments_;
  bool unbalanced_ = false;
};

}  // namespace tabulon::target_access
