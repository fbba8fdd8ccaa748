// Running statement text on a session: ExecuteStatement for statements whose rows nobody wants,
// and the text rowset (OpenTextRowset / MoveNextRow / CloseTextRowset) for reading rows with
// every column as text in a RowBuffer.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/status.h"
#include "data/hresult.h"
#include "data/provider.h"
#include "data/row_buffer.h"

namespace tabulon::data {

// What running a statement whose rows nobody wants gave: only S_OK counts as success (warnings
// fail like errors); the command's notices are kept whatever the outcome.
struct StatementOutcome {
  bool succeeded = false;
  bool has_rows = false;  // success with rows (dropped unread)
  std::vector<std::string> notices;
  std::string error;   // on failure: the provider's first diagnostic, or the exception's text
  bool threw = false;  // the failure was an exception inside the run
};
StatementOutcome RunStatement(Session& session, const std::string& sql);

// The rows of one statement. Closing (or destroying) releases the rowset before the command.
class TextRowset {
 public:
  TextRowset() = default;
  TextRowset(TextRowset&&) = default;
  TextRowset& operator=(TextRowset&&) = default;
  ~TextRowset() { Close(); }

  bool has_rowset() const { return rowset_ != nullptr; }
  // Rows come as typed values (MoveNextTypedRow), not into the buffer.
  bool typed() const { return rowset_ != nullptr && rowset_->HasTypedRows(); }
  // As the provider describes them: a bookmark column (ordinal 0) comes first when the
  // provider adds one, and has no slot.
  const std::vector<ColumnInfo>& columns() const { return columns_; }
  // Column ordinal k lives in slot k.
  const RowBuffer& buffer() const { return buffer_; }
  // The object whose last call failed: the rowset when it exists, else the command.
  const ErrorSource* error_source() const;

  void Close();

 private:
  friend Hresult OpenTextRowset(Session*, std::string, TextRowset*, const RowsetOptions&);
  friend Hresult OpenSchemaRowset(Session*, SchemaRowsetKind, const SchemaRestrictions&, TextRowset*);
  Hresult ReadColumns();
  friend Hresult MoveNextRow(TextRowset&);
  friend Hresult MoveNextTypedRow(TextRowset&, std::vector<Field>&);
  friend Hresult MoveNextTypedRows(TextRowset&, std::span<std::vector<Field>>, size_t*);
  friend Result<std::optional<std::string>> ReadFullValue(TextRowset&, size_t);

  std::unique_ptr<Command> command_;
  std::unique_ptr<Rowset> rowset_;        // released before command_
  const ErrorSource* session_ = nullptr;  // a schema rowset's session (it has no command)
  std::vector<ColumnInfo> columns_;
  RowBuffer buffer_;
  bool failed_in_rowset_ = false;
};

// Executes `sql` and prepares reading its rows. Returns S_OK with has_rowset() false for a
// statement without rows; E_UNEXPECTED for a null session; the failing code otherwise (the
// text is ErrorDescription(rowset->error_source())). Warnings of the execution fail, as in
// ExecuteStatement.
Hresult OpenTextRowset(Session* session, std::string sql, TextRowset* rowset, const RowsetOptions& options = {});
// Opens a schema rowset of `session` for reading like a statement's rows (its columns are in
// data/schema_rowset.h). E_UNEXPECTED for a null session; a failure's text is
// ErrorDescription(rowset->error_source()).
Hresult OpenSchemaRowset(Session* session, SchemaRowsetKind kind, const SchemaRestrictions& restrictions,
                         TextRowset* rowset);
// Fetches the next row into the buffer: S_OK, DB_S_ENDOFROWSET after the last row, or a failure.
Hresult MoveNextRow(TextRowset& rowset);
// The same for a typed rowset: one field per data column.
Hresult MoveNextTypedRow(TextRowset& rowset, std::vector<Field>& row);
// Up to rows.size() typed rows at once (Rowset::FetchNextTypedRows).
Hresult MoveNextTypedRows(TextRowset& rowset, std::span<std::vector<Field>> rows, size_t* fetched);
// Fetches the next row: true with a row in the buffer, false after the last one. Any other
// answer is an error (ProviderError) with the provider's words, so that no loop mistakes a
// fetch failing half-way for the end of the rows.
Result<bool> FetchRow(TextRowset& rowset);
// The whole value of column `ordinal` of the current row (nullopt for NULL), however long; needs
// RowsetOptions::full_values.
Result<std::optional<std::string>> ReadFullValue(TextRowset& rowset, size_t ordinal);
void CloseTextRowset(TextRowset& rowset);

}  // namespace tabulon::data
