#include "data/statement.h"

#include <exception>
#include <utility>

#include "data/error_text.h"
#include "data/properties.h"

namespace tabulon::data {
namespace {

// Creates a command on `session` and executes `sql` with the statement rowset properties.
Hresult CreateAndExecute(Session& session, const std::string& sql, const RowsetOptions& options,
                         std::unique_ptr<Command>* command, std::unique_ptr<Rowset>* rowset) {
  const Hresult created = session.CreateCommand(command);
  if (Failed(created)) return created;
  if (*command == nullptr) return E_FAIL;
  static const PropertySet kProperties = BuildStatementRowsetProperties();  // the same for every statement
  return (*command)->Execute(sql, kProperties, options, rowset);
}

}  // namespace

StatementOutcome RunStatement(Session& session, const std::string& sql) {
  StatementOutcome outcome;
  try {
    std::unique_ptr<Command> command;
    std::unique_ptr<Rowset> rowset;
    const Hresult code = CreateAndExecute(session, sql, {}, &command, &rowset);
    if (command != nullptr) outcome.notices = command->Notices();
    if (code != S_OK) {
      rowset.reset();
      const ErrorSource* source = command != nullptr ? static_cast<const ErrorSource*>(command.get()) : &session;
      outcome.error = ErrorDescription(source);
      return outcome;
    }
    outcome.has_rows = rowset != nullptr;
    rowset.reset();  // the rows of a statement run here are never read
    outcome.succeeded = true;
  } catch (const std::exception& e) {
    outcome.error = std::string("Statement failed: ") + e.what();
    outcome.threw = true;
  } catch (...) {
    outcome.error = "Statement failed: unknown exception";
    outcome.threw = true;
  }
  return outcome;
}

const ErrorSource* TextRowset::error_source() const {
  if (failed_in_rowset_ && rowset_ != nullptr) return rowset_.get();
  if (command_ == nullptr) return session_;
  return command_.get();
}

Hresult TextRowset::ReadColumns() {
  const Hresult code = rowset_->GetColumnInfo(&columns_);
  if (Failed(code)) {
    failed_in_rowset_ = true;
    return code;
  }
  // One slot per data column: a bookmark column is never bound.
  size_t slots = 0;
  for (const ColumnInfo& c : columns_) slots += c.ordinal > 0 ? 1 : 0;
  buffer_ = RowBuffer(slots);
  return S_OK;
}

void TextRowset::Close() {
  rowset_.reset();
  command_.reset();
  session_ = nullptr;
  columns_.clear();
  buffer_ = RowBuffer();
  failed_in_rowset_ = false;
}

Hresult OpenTextRowset(Session* session, std::string sql, TextRowset* out, const RowsetOptions& options) {
  out->Close();
  if (session == nullptr) return E_UNEXPECTED;
  Hresult code = CreateAndExecute(*session, sql, options, &out->command_, &out->rowset_);
  if (code != S_OK) {
    out->rowset_.reset();
    return Failed(code) ? code : DB_S_ERRORSOCCURRED;
  }
  if (out->rowset_ == nullptr) return S_OK;
  return out->ReadColumns();
}

Hresult OpenSchemaRowset(Session* session, SchemaRowsetKind kind, const SchemaRestrictions& restrictions,
                         TextRowset* out) {
  out->Close();
  if (session == nullptr) return E_UNEXPECTED;
  out->session_ = session;
  const Hresult code = session->OpenSchemaRowset(kind, restrictions, &out->rowset_);
  if (Failed(code)) {
    out->rowset_.reset();
    return code;
  }
  if (out->rowset_ == nullptr) return E_FAIL;
  return out->ReadColumns();
}

Hresult MoveNextTypedRow(TextRowset& rowset, std::vector<Field>& row) {
  if (rowset.rowset_ == nullptr) return DB_E_BADACCESSORHANDLE;
  const Hresult code = rowset.rowset_->FetchNextTypedRow(row);
  rowset.failed_in_rowset_ = Failed(code);
  return code;
}

Hresult MoveNextTypedRows(TextRowset& rowset, std::span<std::vector<Field>> rows, size_t* fetched) {
  *fetched = 0;
  if (rowset.rowset_ == nullptr) return DB_E_BADACCESSORHANDLE;
  const Hresult code = rowset.rowset_->FetchNextTypedRows(rows, fetched);
  rowset.failed_in_rowset_ = Failed(code);
  return code;
}

Hresult MoveNextRow(TextRowset& rowset) {
  if (rowset.rowset_ == nullptr) return DB_E_BADACCESSORHANDLE;
  rowset.buffer_.Clear();
  const Hresult code = rowset.rowset_->FetchNextRow(rowset.buffer_);
  rowset.failed_in_rowset_ = Failed(code);
  return code;
}

Result<bool> FetchRow(TextRowset& rowset) {
  const Hresult code = MoveNextRow(rowset);
  if (code == S_OK) return true;
  if (code == DB_S_ENDOFROWSET) return false;
  return ProviderError(ErrorDescription(rowset.error_source()));
}

Result<std::optional<std::string>> ReadFullValue(TextRowset& rowset, size_t ordinal) {
  if (rowset.rowset_ == nullptr) return InvalidArgumentError("ReadFullValue: the rowset is not open");
  if (ordinal < 1 || ordinal > rowset.buffer_.columns()) {
    return InvalidArgumentError("ReadFullValue: column ordinal " + std::to_string(ordinal) + " is out of range");
  }
  return rowset.rowset_->ReadFullValue(ordinal);
}

void CloseTextRowset(TextRowset& rowset) { rowset.Close(); }

}  // namespace tabulon::data
