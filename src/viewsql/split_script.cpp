// Cutting a script into statements without reading them: only quotes, comments, ";" and, for
// Transact-SQL, GO lines matter.
#include "viewsql/parser.h"

namespace tabulon::viewsql {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

class Splitter {
 public:
  Splitter(std::string_view text, Dialect dialect) : text_(text), dialect_(dialect) {}

  std::vector<ScriptStatement> Run() {
    bool line_start = true;
    while (pos_ < text_.size()) {
      if (line_start && dialect_ == Dialect::kTransactSql && AtGoLine()) {
        Flush(pos_);
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      }
      line_start = false;
      if (pos_ >= text_.size()) break;
      const char c = text_[pos_];
      if (c == '\n') {
        Advance();
        line_start = true;
      } else if (IsBlank(c)) {
        ++pos_;
      } else if (c == ';') {
        Flush(pos_);
        ++pos_;
      } else {
        if (start_ == std::string_view::npos) {
          start_ = pos_;
          start_at_ = {line_, static_cast<int>(pos_ - line_start_) + 1};
        }
        SkipPiece(c);
      }
    }
    Flush(text_.size());
    return std::move(statements_);
  }

 private:
  void Advance() {
    if (text_[pos_] == '\n') {
      ++line_;
      line_start_ = pos_ + 1;
    }
    ++pos_;
  }
  char At(size_t offset) const { return pos_ + offset < text_.size() ? text_[pos_ + offset] : '\0'; }

  // The line from here holds only GO and blanks.
  bool AtGoLine() const {
    size_t i = pos_;
    while (i < text_.size() && IsBlank(text_[i])) ++i;
    if (i + 2 > text_.size() || (text_[i] != 'g' && text_[i] != 'G') || (text_[i + 1] != 'o' && text_[i + 1] != 'O')) {
      return false;
    }
    for (i += 2; i < text_.size() && text_[i] != '\n'; ++i) {
      if (!IsBlank(text_[i])) return false;
    }
    return true;
  }

  // A comment, a quoted piece or one character of a statement.
  void SkipPiece(char c) {
    if (c == '-' && At(1) == '-') {
      while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      return;
    }
    if (c == '/' && At(1) == '*') {
      int depth = 0;
      while (pos_ < text_.size()) {
        if (At(0) == '/' && At(1) == '*' && (depth == 0 || dialect_ == Dialect::kTransactSql)) {
          ++depth;
          pos_ += 2;
        } else if (At(0) == '*' && At(1) == '/') {
          pos_ += 2;
          if (--depth == 0) return;
        } else {
          Advance();
        }
      }
      return;
    }
    content_ = true;
    const char close = c == '[' ? ']' : c;
    if (c == '\'' || c == '"' || c == '[' || (c == '`' && dialect_ == Dialect::kSqlite)) {
      ++pos_;
      while (pos_ < text_.size()) {
        if (text_[pos_] == close) {
          ++pos_;
          if (At(0) != close) return;
        }
        Advance();
      }
      return;
    }
    ++pos_;
  }

  void Flush(size_t end) {
    if (start_ != std::string_view::npos && content_) {
      std::string_view statement = text_.substr(start_, end - start_);
      while (!statement.empty() && (IsBlank(statement.back()) || statement.back() == '\n')) statement.remove_suffix(1);
      statements_.push_back({std::string(statement), start_at_});
    }
    start_ = std::string_view::npos;
    content_ = false;
  }

  std::string_view text_;
  Dialect dialect_;
  size_t pos_ = 0;
  size_t line_start_ = 0;
  int line_ = 1;
  size_t start_ = std::string_view::npos;
  Position start_at_;
  bool content_ = false;
  std::vector<ScriptStatement> statements_;
};

}  // namespace

std::vector<ScriptStatement> SplitScript(std::string_view text, Dialect dialect) {
  return Splitter(text, dialect).Run();
}

}  // namespace tabulon::viewsql
