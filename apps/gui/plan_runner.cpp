#include "plan_runner.h"

#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <thread>
#include <utility>

#include "workspace/output_pane.h"

namespace tabulon::gui {

PlanProgressDialog::PlanProgressDialog(const QString& text, QWidget* parent) : QDialog(parent) {
  setObjectName("PlanProgressDialog");
  setWindowTitle("Tabulon");
  setWindowModality(Qt::ApplicationModal);
  auto* layout = new QVBoxLayout(this);
  text_ = new QLabel(text, this);
  text_->setObjectName("PlanProgressText");
  layout->addWidget(text_);
  auto* busy = new QProgressBar(this);
  busy->setObjectName("PlanBusy");
  busy->setRange(0, 0);  // no known end: a busy indicator
  busy->setTextVisible(false);
  layout->addWidget(busy);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setObjectName("CancelButton");
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  connect(cancel_, &QPushButton::clicked, this, &PlanProgressDialog::reject);
  setMinimumWidth(360);
}

void PlanProgressDialog::Finish() {
  finished_ = true;
  QDialog::reject();
}

void PlanProgressDialog::reject() {
  if (finished_) {
    QDialog::reject();
    return;
  }
  // The worker still holds the source connection: stay up until it has let go of it.
  stop_asked_ = true;
  cancel_->setEnabled(false);
  text_->setText("Stopping...");
}

PlanRunner::Outcome PlanRunner::Run(const converters::SelectedMigration& selected, const QString& text) {
  Outcome outcome;
  if (!selected.request) {
    outcome.error = "nothing is selected to migrate";
    return outcome;
  }
  if (running_) {
    outcome.error = "another plan is being made";
    return outcome;
  }
  if (owner_.controller_state() != converters::ControllerState::kIdle) {
    outcome.error = "tasks are running; a plan is made only while none runs";
    return outcome;
  }
  running_ = true;
  PlanProgressDialog progress(text, window_);
  QEventLoop loop;
  std::optional<Result<converters::MigrationPlan>> result;
  std::atomic<bool> done{false};
  const converters::MigrationRequest request = *selected.request;
  const std::string target_file = selected.target_file;
  std::thread worker([&] {
    result = converters::PlanMigration(owner_, request, target_file, [&progress] { return progress.stop_asked(); });
    done = true;
    // Queued onto the loop's thread; the loop outlives this thread, which is joined first.
    QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  progress.show();
  loop.exec();
  if (!done) progress.reject();  // the loop ended early (the program quits): ask the plan to stop
  worker.join();
  progress.Finish();
  running_ = false;

  if (progress.stop_asked()) {
    outcome.cancelled = true;
    outcome.error = "the plan was stopped";
  } else if (!result->ok()) {
    outcome.error = result->status().message();
  } else {
    outcome.plan = std::move(**result);
  }
  return outcome;
}

PlanRunner::Gate PlanRunner::CheckBeforeMigrate(const converters::SelectedMigration& selected) {
  workspace::OutputPane* out = &owner_.output();
  const Outcome outcome = Run(selected, "Estimating the size of the file...");
  if (outcome.cancelled) {
    workspace::WriteOutput(out, "Migrate was cancelled while the size of the file was estimated.");
    return Gate::kCancelled;
  }
  if (!outcome.plan) {
    workspace::WriteOutput(out, "T::The size of the file was not estimated: %s", outcome.error.c_str());
    return Gate::kGoOn;
  }
  const converters::SizeCheck check = converters::CheckPlannedSize(*outcome.plan);
  switch (check.verdict) {
    case converters::SizeCheck::Verdict::kOverCeiling:
      workspace::WriteOutput(out, "E::%s", check.text.c_str());
      owner_.prompt().ShowMessage(check.text + "\n\n" + kSizeWayOut, "Migrate");
      return Gate::kRefused;
    case converters::SizeCheck::Verdict::kNearCeiling: workspace::WriteOutput(out, "T::%s", check.text.c_str()); break;
    case converters::SizeCheck::Verdict::kFits:
      workspace::WriteOutput(out, "Estimated size of the file: %s",
                             converters::SizeText(outcome.plan->estimated_bytes).c_str());
      break;
  }
  return Gate::kGoOn;
}

}  // namespace tabulon::gui
