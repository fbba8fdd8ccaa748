// The desktop's answers to the core's questions: message boxes, OK/Cancel and Yes/No questions,
// a line of text, file and folder choosers. A question asked on another thread (a task) is shown
// by the user-interface thread while the asking thread waits; the user-interface thread itself
// never waits for a task.
#pragma once

#include <QPointer>
#include <atomic>
#include <QWidget>

#include "workspace/user_prompt.h"

namespace tabulon::gui {

class GuiPrompt : public workspace::UserPrompt {
 public:
  // The window the boxes belong to (may be set later; null: no parent).
  void SetParent(QWidget* parent) { parent_ = parent; }
  // The window is gone: every later question gets its cancelling answer at once (a task that
  // asks while the program ends must not wait for a window that will never answer).
  void Close() { closed_ = true; }

  using UserPrompt::ShowMessage;
  void ShowMessage(std::string_view text, std::string_view caption) override;
  bool AskOkCancel(std::string_view text) override;
  bool AskYesNo(std::string_view text) override;
  std::optional<std::string> AskText(std::string_view question, std::string_view initial) override;
  std::optional<std::string> ChooseFile(const workspace::FileChoice& choice) override;
  std::optional<std::string> ChooseFolder(std::string_view title, std::string_view initial) override;

 private:
  QPointer<QWidget> parent_;
  std::atomic<bool> closed_{false};
};

// The caption of every message box.
inline constexpr const char* kPromptTitle = "Tabulon";

}  // namespace tabulon::gui
