// Questions to the user. Core operations never show a dialog themselves: they call the
// UserPrompt they are given. The GUI answers with dialogs, the command-line program with its
// flags and defaults, tests with scripted answers (ScriptedUserPrompt records every text asked).
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::workspace {

// A file chooser: a Save dialog (`save`) or an Open dialog.
struct FileChoice {
  std::string title;
  std::string filter_name;     // "Access Data File"
  std::string filter_pattern;  // "*.mdb;*.MDB"
  std::string initial_directory;
  bool save = false;
  bool path_must_exist = false;  // the folder of the chosen path must exist
};

class UserPrompt {
 public:
  virtual ~UserPrompt() = default;

  // A message box with an OK button, under `caption` (empty: the program's own caption).
  virtual void ShowMessage(std::string_view text, std::string_view caption) = 0;
  void ShowMessage(std::string_view text) { ShowMessage(text, {}); }
  // OK / Cancel: true for OK.
  virtual bool AskOkCancel(std::string_view text) = 0;
  // Yes / No: true for Yes.
  virtual bool AskYesNo(std::string_view text) = 0;
  // A line of text (e.g. a new name), nullopt when cancelled.
  virtual std::optional<std::string> AskText(std::string_view question, std::string_view initial) = 0;
  // A file path, nullopt when cancelled.
  virtual std::optional<std::string> ChooseFile(const FileChoice& choice) = 0;
  // A folder, nullopt when cancelled.
  virtual std::optional<std::string> ChooseFolder(std::string_view title, std::string_view initial) = 0;
};

// Answers from a script, in order, and records every question. When the script has no answer
// left, OK/Yes questions are answered `default_yes`, text and choosers are cancelled.
class ScriptedUserPrompt : public UserPrompt {
 public:
  enum class Kind { kMessage, kOkCancel, kYesNo, kText, kFile, kFolder };
  struct Asked {
    Kind kind;
    std::string text;     // the message or question; for a file chooser its title
    FileChoice file;      // kFile only
    std::string initial;  // kText, kFolder: the initial value
    std::string caption;  // kMessage: the caption asked for ("" the program's own)
  };

  explicit ScriptedUserPrompt(bool default_yes = false) : default_yes_(default_yes) {}

  // Queues answers: a yes/no (or OK/Cancel) answer, or a text (or path) answer; nullopt
  // cancels a text question or chooser.
  void AnswerYes(bool yes);
  void AnswerText(std::optional<std::string> text);

  std::vector<Asked> asked() const;
  // The texts asked, in order (messages and questions).
  std::vector<std::string> texts() const;

  using UserPrompt::ShowMessage;
  void ShowMessage(std::string_view text, std::string_view caption) override;
  bool AskOkCancel(std::string_view text) override;
  bool AskYesNo(std::string_view text) override;
  std::optional<std::string> AskText(std::string_view question, std::string_view initial) override;
  std::optional<std::string> ChooseFile(const FileChoice& choice) override;
  std::optional<std::string> ChooseFolder(std::string_view title, std::string_view initial) override;

 private:
  bool NextYes();
  std::optional<std::string> NextText();

  mutable std::mutex mutex_;
  bool default_yes_;
  std::deque<bool> yes_answers_;
  std::deque<std::optional<std::string>> text_answers_;
  std::vector<Asked> asked_;
};

}  // namespace tabulon::workspace
