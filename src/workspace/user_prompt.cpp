#include "workspace/user_prompt.h"

namespace tabulon::workspace {

void ScriptedUserPrompt::AnswerYes(bool yes) {
  std::lock_guard lock(mutex_);
  yes_answers_.push_back(yes);
}

void ScriptedUserPrompt::AnswerText(std::optional<std::string> text) {
  std::lock_guard lock(mutex_);
  text_answers_.push_back(std::move(text));
}

std::vector<ScriptedUserPrompt::Asked> ScriptedUserPrompt::asked() const {
  std::lock_guard lock(mutex_);
  return asked_;
}

std::vector<std::string> ScriptedUserPrompt::texts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const Asked& a : asked_) out.push_back(a.text);
  return out;
}

bool ScriptedUserPrompt::NextYes() {
  if (yes_answers_.empty()) return default_yes_;
  const bool yes = yes_answers_.front();
  yes_answers_.pop_front();
  return yes;
}

std::optional<std::string> ScriptedUserPrompt::NextText() {
  if (text_answers_.empty()) return std::nullopt;
  std::optional<std::string> text = std::move(text_answers_.front());
  text_answers_.pop_front();
  return text;
}

void ScriptedUserPrompt::ShowMessage(std::string_view text, std::string_view caption) {
  std::lock_guard lock(mutex_);
  asked_.push_back({Kind::kMessage, std::string(text), {}, {}, std::string(caption)});
}

bool ScriptedUserPrompt::AskOkCancel(std::string_view text) {
  std::lock_guard lock(mutex_);
  asked_.push_back({Kind::kOkCancel, std::string(text), {}, {}, {}});
  return NextYes();
}

bool ScriptedUserPrompt::AskYesNo(std::string_view text) {
  std::lock_guard lock(mutex_);
  asked_.push_back({Kind::kYesNo, std::string(text), {}, {}, {}});
  return NextYes();
}

std::optional<std::string> ScriptedUserPrompt::AskText(std::string_view question, std::string_view initial) {
  std::lock_guard lock(mutex_);
  asked_.push_back({Kind::kText, std::string(question), {}, std::string(initial), {}});
  return NextText();
}

std::optional<std::string> ScriptedUserPrompt::ChooseFile(const FileChoice& choice) {
  std::lock_guard lock(mutex_);
  asked_.push_back({Kind::kFile, choice.title, choice, choice.initial_directory, {}});
  return NextText();
}

std::optional<std::string> ScriptedUserPrompt::ChooseFolder(std::string_view title, std::string_view initial) {
  std::lock_guard lock(mutex_);
  asked_.push_back({Kind::kFolder, std::string(title), {}, std::string(initial), {}});
  return NextText();
}

}  // namespace tabulon::workspace
