// A migration's plan (converters/migration_plan.h) made for the desktop: on a worker thread,
// behind a modal progress dialog whose Cancel asks the plan to stop. "Review Migration..." shows
// the plan; Migrate (its menu item, its toolbar button, a drop on the target tree) checks the
// plan's size before it queues a task. The plan borrows the Workbench's source connection, so the
// dialog keeps the user away from the window until the worker has ended, after a Cancel too.
#pragma once

#include <QDialog>
#include <atomic>
#include <optional>
#include <string>

#include "converters/commands.h"
#include "converters/migration_plan.h"
#include "converters/workbench.h"

class QLabel;
class QPushButton;

namespace tabulon::gui {

// What a user can do about a file that would pass 2 GB, in the window's terms.
inline constexpr const char* kSizeWayOut =
    "To make it fit:\n"
    "- copy fewer rows of the largest tables: select a table in the source tree and give it a "
    "condition with Table -> Migration Condition;\n"
    "- migrate the tables one at a time into separate files (Databases -> New Database on the target "
    "root makes another file);\n"
    "- when the target file already holds data, clone the database into a new file instead (select "
    "the target root).";

// The busy indicator while a plan is made. It closes only when told the plan has ended: Cancel,
// Escape and the close button ask the plan to stop and wait for it.
class PlanProgressDialog : public QDialog {
  Q_OBJECT

 public:
  explicit PlanProgressDialog(const QString& text, QWidget* parent = nullptr);

  bool stop_asked() const { return stop_asked_; }
  // The plan has ended: the dialog may go.
  void Finish();
  QPushButton* cancel_button() const { return cancel_; }
  QLabel* text_label() const { return text_; }

 public slots:
  void reject() override;

 private:
  std::atomic<bool> stop_asked_{false};
  bool finished_ = false;
  QLabel* text_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

class PlanRunner {
 public:
  PlanRunner(converters::Workbench& owner, QWidget* window) : owner_(owner), window_(window) {}

  struct Outcome {
    std::optional<converters::MigrationPlan> plan;
    std::string error;       // why there is no plan
    bool cancelled = false;  // the user stopped it
  };
  // Plans the selected migration (it must hold a request) with `text` over the busy indicator.
  // Returns at once with an error while tasks run: they use the source connection the plan needs.
  Outcome Run(const converters::SelectedMigration& selected, const QString& text);

  enum class Gate { kGoOn, kRefused, kCancelled };
  // Migrate's check before its question: over 2 GB a message box with the check's text and the
  // way out, a red line, and kRefused; near it an orange line; a plan that cannot be made a line
  // saying the size was not estimated, and the migration goes on; Cancel ends the command.
  Gate CheckBeforeMigrate(const converters::SelectedMigration& selected);

  // True while a plan runs (the window's commands wait for it).
  bool running() const { return running_; }

 private:
  converters::Workbench& owner_;
  QWidget* window_;
  bool running_ = false;
};

}  // namespace tabulon::gui
