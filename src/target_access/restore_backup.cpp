#include "target_access/restore_backup.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <vector>

#include "data/error_text.h"
#include "workspace/output_pane.h"
#include "data/statement.h"

namespace tabulon::target_access {
namespace {

namespace fs = std::filesystem;
using workspace::WriteOutput;

// Failures printed per data file; the rest are only counted.
constexpr int kRowFailuresShown = 5;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool StopRequested(const TargetContext& owner) { return owner.stop_requested && owner.stop_requested(); }

// Runs one statement; the provider's text on failure.
Status RunStatement(data::Session* session, const std::string& sql) {
  data::TextRowset rowset;
  const data::Hresult code = data::OpenTextRowset(session, sql, &rowset);
  if (code == data::S_OK) return Status::Ok();
  return ProviderError(data::ErrorDescription(rowset.error_source()));
}

// The regular files of `folder` ending in `extension`, by name.
std::vector<fs::path> ScriptFiles(const fs::path& folder, const std::string& extension) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error) && it->path().extension() == extension) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Every statement of a script file; an error when it cannot be read whole.
Result<std::vector<std::string>> ReadStatements(const fs::path& file, bool comments) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return IoError("cannot open " + file.string());
  StatementReader reader(in, false, comments);
  std::vector<std::string> statements;
  while (std::optional<std::string> statement = reader.Next()) statements.push_back(std::move(*statement));
  if (reader.unbalanced()) return InvalidArgumentError(file.string() + " ends inside a quote or parentheses");
  return statements;
}

// Runs every statement of a script file; the first failure ends it.
Status RunScriptFile(data::Session* session, const fs::path& file, bool comments = false) {
  ASSIGN_OR_RETURN(std::vector<std::string> statements, ReadStatements(file, comments));
  if (statements.empty()) return InvalidArgumentError(file.filename().string() + " holds no statement");
  for (const std::string& sql : statements) RETURN_IF_ERROR(RunStatement(session, sql));
  return Status::Ok();
}

class Restorer {
 public:
  Restorer(TargetContext& owner, data::Session* session, const fs::path& folder)
      : owner_(owner), session_(session), folder_(folder), database_(DatabaseName(folder)) {}

  RestoreResult Run(bool tables, bool rows, bool views, bool queries) {
    if (tables) RestoreTables();
    if (rows && !result_.stopped) RestoreRows();
    if (!result_.stopped) {
      RestoreStatements("KEYS", ".keys", result_.keys_restored, result_.keys_failed);
    }
    if (!result_.stopped) {
      RestoreStatements("RELATIONSHIPS", ".rel", result_.relationships_restored, result_.relationships_failed);
    }
    if (!result_.stopped) {
      RestoreStatements("PROPERTIES", ".prop", result_.properties_restored, result_.properties_failed);
    }
    if (views && !result_.stopped) RestoreViews();
    if (queries && !result_.stopped) RestoreQueries();
    return result_;
  }

 private:
  static std::string DatabaseName(const fs::path& folder) {
    fs::path clean = folder.lexically_normal();
    if (clean.filename().empty()) clean = clean.parent_path();
    return clean.filename().string();
  }

  void RestoreTables() {
    WriteOutput(owner_.output, "Restore Tables of database [%s]", database_.c_str());
    for (const fs::path& file : ScriptFiles(folder_ / "TABLES", ".tbl")) {
      const std::string name = file.stem().string();
      Status status = RunScriptFile(session_, file);
      if (status.ok()) {
        ++result_.tables_restored;
      } else {
        ++result_.tables_failed;
        failed_tables_.insert(name);
        WriteOutput(owner_.output, "T::Table [%s]: %s", name.c_str(), status.message().c_str());
      }
      if (StopRequested(owner_)) {
        WriteOutput(owner_.output, "Tables Restore Terminaled!");
        result_.stopped = true;
        return;
      }
    }
  }

  void RestoreRows() {
    WriteOutput(owner_.output, "Restore Data of database [%s]", database_.c_str());
    for (const fs::path& file : ScriptFiles(folder_ / "DATA", ".data")) {
      const std::string name = file.stem().string();
      if (failed_tables_.count(name) != 0) {
        ++result_.data_files_skipped;
        WriteOutput(owner_.output, "T::[%s] records not restored: the table was not restored", name.c_str());
        continue;
      }
      RestoreDataFile(file, name);
      if (result_.stopped) return;
    }
  }

  void RestoreDataFile(const fs::path& file, const std::string& name) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      WriteOutput(owner_.output, "T::[%s] cannot open %s", name.c_str(), file.string().c_str());
      return;
    }
    StatementReader reader(in, true);
    int done = 0;
    int failed = 0;
    while (std::optional<std::string> sql = reader.Next()) {
      Status status = RunStatement(session_, *sql);
      if (status.ok()) {
        ++done;
        if (done % 1000 == 0) WriteOutput(owner_.output, "[%s] %d records restored!", name.c_str(), done);
      } else if (++failed <= kRowFailuresShown) {
        WriteOutput(owner_.output, "T::[%s] %s", name.c_str(), status.message().c_str());
      }
      if (StopRequested(owner_)) {
        WriteOutput(owner_.output, "Data Restore Terminaled!");
        result_.stopped = true;
        break;
      }
    }
    if (reader.unbalanced() && !result_.stopped) {
      WriteOutput(owner_.output, "T::[%s] the file ends inside a quote or parentheses", name.c_str());
    }
    // The provider may hold inserts back; only the commit says whether they are stored.
    if (session_->Commit() != data::S_OK) {
      WriteOutput(owner_.output, "T::[%s] %s", name.c_str(), data::ErrorDescription(session_).c_str());
    }
    WriteOutput(owner_.output, "[%s]%8d records restored!", name.c_str(), done);
    if (failed > 0) WriteOutput(owner_.output, "T::[%s]%8d records failed!", name.c_str(), failed);
    result_.rows_restored += static_cast<std::uint64_t>(done);
    result_.rows_failed += static_cast<std::uint64_t>(failed);
  }

  // Every statement of every file of `part`; each failure is one line naming the file and the
  // statement. A table's file (KEYS, PROPERTIES) is left alone when its table failed.
  void RestoreStatements(const char* part, const char* extension, size_t& restored, size_t& failed) {
    const std::vector<fs::path> files = ScriptFiles(folder_ / part, extension);
    if (files.empty()) return;
    const bool per_table = std::string(part) != "RELATIONSHIPS";
    for (const fs::path& file : files) {
      const std::string where = std::string(part) + "/" + file.filename().string();
      if (per_table && failed_tables_.count(file.stem().string()) != 0) {
        ++failed;
        WriteOutput(owner_.output, "T::[%s] not restored: the table was not restored", where.c_str());
        continue;
      }
      Result<std::vector<std::string>> statements = ReadStatements(file, false);
      if (!statements.ok()) {
        ++failed;
        WriteOutput(owner_.output, "T::[%s] %s", where.c_str(), statements.status().message().c_str());
        continue;
      }
      for (const std::string& sql : *statements) {
        Status status = RunStatement(session_, sql);
        if (status.ok()) {
          ++restored;
        } else {
          ++failed;
          WriteOutput(owner_.output, "T::[%s] %s: %s", where.c_str(), sql.c_str(), status.message().c_str());
        }
      }
      if (StopRequested(owner_)) {
        WriteOutput(owner_.output, "%s Restore Terminaled!", part);
        result_.stopped = true;
        return;
      }
    }
  }

  void RestoreViews() {
    WriteOutput(owner_.output, "Restore Views of database [%s]", database_.c_str());
    struct Pending {
      fs::path file;
      Status last;
    };
    std::vector<Pending> pending;
    for (fs::path& file : ScriptFiles(folder_ / "VIEWS", ".vw")) {
      // The query's own script restores it exactly (RestoreQueries).
      std::error_code error;
      if (fs::is_regular_file(folder_ / "QUERIES" / (file.stem().string() + ".qry"), error)) continue;
      pending.push_back({std::move(file), {}});
    }
    // A view that reads another view fails until that one exists: go round while a round
    // makes one more view.
    bool progress = true;
    while (progress && !pending.empty()) {
      progress = false;
      std::vector<Pending> again;
      for (Pending& view : pending) {
        view.last = RunScriptFile(session_, view.file);
        if (view.last.ok()) {
          ++result_.views_restored;
          progress = true;
        } else {
          again.push_back(std::move(view));
        }
        if (StopRequested(owner_)) {
          WriteOutput(owner_.output, "Views Restore Terminaled!");
          result_.stopped = true;
          return;
        }
      }
      pending = std::move(again);
    }
    for (const Pending& view : pending) {
      ++result_.views_failed;
      WriteOutput(owner_.output, "T::View [%s]: %s", view.file.stem().string().c_str(), view.last.message().c_str());
    }
  }

  // Stored from their rows, a query needs no other object: name order does.
  void RestoreQueries() {
    WriteOutput(owner_.output, "Restore Queries of database [%s]", database_.c_str());
    for (const fs::path& file : ScriptFiles(folder_ / "QUERIES", ".qry")) {
      const Status status = RunScriptFile(session_, file, true);
      if (status.ok()) {
        ++result_.queries_restored;
      } else {
        ++result_.queries_failed;
        WriteOutput(owner_.output, "T::Query [%s]: %s", file.stem().string().c_str(), status.message().c_str());
      }
      if (StopRequested(owner_)) {
        WriteOutput(owner_.output, "Queries Restore Terminaled!");
        result_.stopped = true;
        return;
      }
    }
  }

  TargetContext& owner_;
  data::Session* session_;
  fs::path folder_;
  std::string database_;
  std::set<std::string> failed_tables_;
  RestoreResult result_;
};

}  // namespace

std::optional<std::string> StatementReader::Next() {
  std::streambuf* in = in_.rdbuf();
  std::string statement;
  char quote = 0;  // the character that closes the quote or name we are in
  int depth = 0;
  for (int ch = in->sbumpc(); ch != std::char_traits<char>::eof(); ch = in->sbumpc()) {
    const char c = static_cast<char>(ch);
    if (quote != 0) {
      // A doubled quote inside a string closes and reopens it: the same for splitting.
      if (c == quote) quote = 0;
      statement += c;
      continue;
    }
    if (comments_ && c == '-' && depth == 0 && Trimmed(statement).empty() && in->sgetc() == '-') {
      for (int skip = in->sbumpc(); skip != std::char_traits<char>::eof() && skip != '\n'; skip = in->sbumpc()) {
      }
      continue;
    }
    const bool ends = (c == ';' || (c == '\n' && lines_)) && depth == 0;
    if (ends) {
      std::string trimmed = Trimmed(statement);
      if (!trimmed.empty()) return trimmed;
      statement.clear();
      continue;
    }
    switch (c) {
      case '\'':
      case '"':
      case '`': quote = c; break;
      case '[': quote = ']'; break;
      case '(': ++depth; break;
      case ')': depth = std::max(0, depth - 1); break;
      default: break;
    }
    statement += c;
  }
  if (quote != 0 || depth != 0) unbalanced_ = true;
  std::string trimmed = Trimmed(statement);
  if (trimmed.empty()) return std::nullopt;
  return trimmed;
}

Result<RestoreResult> RestoreBackup(TargetContext& owner, data::Session* session, const std::string& folder) {
  if (session == nullptr) {
    workspace::WriteOutputText(owner.output, "No Connection!");
    return Status(ErrorCode::kNoConnection, "No Connection!");
  }
  const fs::path root(folder);
  std::error_code error;
  const bool tables = fs::is_directory(root / "TABLES", error);
  const bool rows = fs::is_directory(root / "DATA", error);
  const bool views = fs::is_directory(root / "VIEWS", error);
  const bool queries = fs::is_directory(root / "QUERIES", error);
  if (!tables && !rows && !views && !queries) {
    return NotFoundError("no backup in " + folder + ": it holds no TABLES, DATA or VIEWS folder");
  }
  return Restorer(owner, session, root).Run(tables, rows, views, queries);
}

}  // namespace tabulon::target_access
