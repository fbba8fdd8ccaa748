// The core for the commands that run tasks (backup, restore): a Workbench whose questions the
// command line answers, its output lines printed as they come, the program folders, and the
// target side on the built-in Jet provider.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "converters/workbench.h"
#include "workspace/user_prompt.h"

// The command line as the user: its arguments are the answers. Confirmations are answered OK
// and Yes (running the command was the confirmation), the choosers return the paths given as
// arguments, messages go to stderr.
class CommandLinePrompt : public tabulon::workspace::UserPrompt {
 public:
  explicit CommandLinePrompt(std::string command) : command_(std::move(command)) {}

  std::optional<std::string> folder;  // what ChooseFolder returns
  std::optional<std::string> file;    // what ChooseFile returns

  using UserPrompt::ShowMessage;
  void ShowMessage(std::string_view text, std::string_view caption) override;
  bool AskOkCancel(std::string_view) override { return true; }
  bool AskYesNo(std::string_view) override { return true; }
  std::optional<std::string> AskText(std::string_view, std::string_view) override { return std::nullopt; }
  std::optional<std::string> ChooseFile(const tabulon::workspace::FileChoice&) override { return file; }
  std::optional<std::string> ChooseFolder(std::string_view, std::string_view) override { return folder; }

 private:
  std::string command_;
};

class CoreSession {
 public:
  // `command` names the sub-command in messages. `config_file`: the --config argument, whose
  // folder becomes the program folder; empty: the folders found from the executable's place.
  CoreSession(const std::string& command, const std::string& config_file);

  tabulon::converters::Workbench& workbench() { return workbench_; }
  CommandLinePrompt& prompt() { return prompt_; }

  // Connects the target side to the .mdb at `path`; false when it does not open (the reasons
  // have been printed).
  bool ConnectTarget(const std::string& path);
  // Waits until the controller has run the queued tasks. 0 when at least one task was queued
  // and every task ended SUCCESS, else 1.
  int WaitForTasks();

 private:
  CommandLinePrompt prompt_;
  tabulon::converters::Workbench workbench_;
};

// A path made absolute (a task runs later and resolves a bare name against its own folders).
std::string AbsolutePath(const std::string& path);
