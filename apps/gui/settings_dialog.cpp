#include "settings_dialog.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSysInfo>
#include <QVBoxLayout>
#include <QWindow>
#include <utility>
#include <vector>

#include "base/text.h"
#include "config/settings_choices.h"
#include "converters/settings_commands.h"

namespace tabulon::gui {
namespace {

QString ToQt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }
std::string FromQt(const QString& text) { return text.toStdString(); }

// The position a text takes in a combo whose items are kept in case-insensitive order.
int SortedPosition(const QComboBox* combo, const QString& text) {
  int position = 0;
  while (position < combo->count() && QString::compare(combo->itemText(position), text, Qt::CaseInsensitive) <= 0) {
    ++position;
  }
  return position;
}

// Adds `text` in its sorted place unless the combo already holds it; returns its index.
int AddSorted(QComboBox* combo, const QString& text) {
  const int existing = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (existing >= 0) return existing;
  const int position = SortedPosition(combo, text);
  combo->insertItem(position, text);
  return position;
}

bool EqualsIgnoreAsciiCaseQt(const QString& text, const char* other) {
  return text.compare(QString::fromLatin1(other), Qt::CaseInsensitive) == 0;
}

QComboBox* MakeEditableSortedCombo(QWidget* parent, const QString& name) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(name);
  combo->setEditable(true);
  // What the user types and confirms joins the list in its sorted place.
  combo->setInsertPolicy(QComboBox::InsertAlphabetically);
  combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  combo->setMinimumContentsLength(24);
  return combo;
}

}  // namespace

// One side's controls. A QObject child of the dialog, so Qt frees it with the dialog.
struct ConnectionSettingsDialog::SideControls : QObject {
  explicit SideControls(QObject* parent) : QObject(parent) {}

  int side = 0;
  QLabel* dbms_label = nullptr;
  QComboBox* dbms = nullptr;
  QGroupBox* group = nullptr;
  QComboBox* provider = nullptr;
  QLabel* source_name_label = nullptr;
  QComboBox* source_name = nullptr;
  QPushButton* browse = nullptr;
  QLineEdit* user = nullptr;
  QLineEdit* password = nullptr;
  QLineEdit* catalog = nullptr;
  // The provider the side's handling last ran for.
  QString current_provider;

  QString DbmsName() const { return dbms->currentText(); }
};

ConnectionSettingsDialog::ConnectionSettingsDialog(converters::Workbench& owner, std::string settings_path, Hooks hooks,
                                                   QWidget* parent)
    : QDialog(parent), owner_(owner), settings_path_(std::move(settings_path)), hooks_(std::move(hooks)) {
  initialising_ = true;
  setObjectName("ConnectionSettingsDialog");
  setWindowTitle("Config");

  const config::Settings loaded = config::LoadSettings(settings_path_);

  auto* layout = new QVBoxLayout(this);
  auto* dbms_row = new QHBoxLayout;
  auto* groups_row = new QHBoxLayout;
  layout->addLayout(dbms_row);
  layout->addLayout(groups_row);

  const char* prefixes[2] = {"source", "target"};
  const char* dbms_captions[2] = {"    Source DB:", "    Target DB:"};
  const int dbms_indexes[2] = {config::kSourceDbmsIndex, config::kTargetDbmsIndex};
  for (int index = 0; index < 2; ++index) {
    auto* side = new SideControls(this);
    sides_[index] = side;
    side->side = index;
    const QString prefix = QString::fromLatin1(prefixes[index]);

    side->dbms_label = new QLabel(dbms_captions[index], this);
    side->dbms_label->setObjectName(prefix + "_dbms_label");
    side->dbms = new QComboBox(this);
    side->dbms->setObjectName(prefix + "_dbms");
    for (const std::string& name : config::DbmsNames()) side->dbms->addItem(ToQt(name));
    side->dbms->setCurrentIndex(dbms_indexes[index]);
    side->dbms->setEnabled(false);
    // The fixed DBMS choice stays readable: white, not greyed.
    QPalette white = side->dbms->palette();
    for (QPalette::ColorRole role : {QPalette::Base, QPalette::Button, QPalette::Window}) {
      white.setColor(QPalette::Disabled, role, Qt::white);
    }
    white.setColor(QPalette::Disabled, QPalette::ButtonText, Qt::black);
    white.setColor(QPalette::Disabled, QPalette::Text, Qt::black);
    side->dbms->setPalette(white);
    side->dbms_label->setBuddy(side->dbms);
    dbms_row->addWidget(side->dbms_label);
    dbms_row->addWidget(side->dbms, 1);

    side->group = new QGroupBox(side->DbmsName(), this);
    side->group->setObjectName(prefix + "_group");
    auto* grid = new QGridLayout(side->group);

    side->provider = MakeEditableSortedCombo(side->group, prefix + "_provider");
    auto* provider_label = new QLabel("DB Provider:", side->group);
    provider_label->setObjectName(prefix + "_provider_label");
    grid->addWidget(provider_label, 0, 0);
    grid->addWidget(side->provider, 0, 1, 1, 2);

    side->source_name_label = new QLabel("Source Name:", side->group);
    side->source_name_label->setObjectName(prefix + "_source_name_label");
    side->source_name = MakeEditableSortedCombo(side->group, prefix + "_source_name");
    side->browse = new QPushButton("...", side->group);
    side->browse->setObjectName(prefix + "_browse");
    side->browse->setToolTip("Open the database file");
    side->browse->setAutoDefault(false);
    side->browse->setFixedWidth(side->browse->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 16);
    grid->addWidget(side->source_name_label, 1, 0);
    grid->addWidget(side->source_name, 1, 1);
    grid->addWidget(side->browse, 1, 2);

    const auto add_edit = [&](int row, const char* caption, const QString& name) {
      auto* label = new QLabel(caption, side->group);
      label->setObjectName(name + "_label");
      auto* edit = new QLineEdit(side->group);
      edit->setObjectName(name);
      label->setBuddy(edit);
      grid->addWidget(label, row, 0);
      grid->addWidget(edit, row, 1, 1, 2);
      return edit;
    };
    side->user = add_edit(2, "User ID:", prefix + "_user");
    side->password = add_edit(3, "Password:", prefix + "_password");
    side->password->setEchoMode(QLineEdit::Password);
    side->catalog = add_edit(4, "Catalog Name:", prefix + "_catalog");
    side->catalog->installEventFilter(this);
    grid->setColumnStretch(1, 1);
    groups_row->addWidget(side->group, 1);

    const config::SideSettings& values = index == 0 ? loaded.source : loaded.target;
    side->user->setText(ToQt(values.user_id));
    side->password->setText(ToQt(values.password));
    side->catalog->setText(ToQt(values.catalog_name));

    connect(side->browse, &QPushButton::clicked, this, [this, side] { ChooseSourceFile(*side); });
  }

  overwrite_database_ = new QCheckBox("Overwrite the same-name database", this);
  overwrite_database_->setObjectName("overwrite_database_check");
  overwrite_database_->setEnabled(false);
  overwrite_table_ = new QCheckBox("Overwrite the same-name table", this);
  overwrite_table_->setObjectName("overwrite_table_check");
  overwrite_table_->setEnabled(false);
  config_ = new QCheckBox("Properties from and to config file", this);
  config_->setObjectName("config_check");
  config_->setChecked(loaded.use_config_file);
  auto_backup_ = new QCheckBox("Auto Backup (need more time and disk space)", this);
  auto_backup_->setObjectName("auto_backup_check");
  auto_backup_->setChecked(loaded.auto_backup);
  tips_ = new QCheckBox("Display Tips", this);
  tips_->setObjectName("tips_check");
  tips_->setChecked(loaded.tips);

  // The type map preset; the rules of a [TypeMap] section stay as the file has them.
  type_map_ = new QComboBox(this);
  type_map_->setObjectName("type_map_combo");
  type_map_->addItem("Types: built-in map", "default");
  type_map_->addItem("Types: Access native (dates as Date/Time)", "access-native");
  type_map_->setCurrentIndex(EqualsIgnoreAsciiCase(loaded.type_map_preset, "access-native") ? 1 : 0);
  loaded_type_map_ = loaded.type_map_preset;

  auto* options = new QGridLayout;
  options->addWidget(overwrite_database_, 0, 0);
  options->addWidget(overwrite_table_, 0, 1);
  options->addWidget(config_, 1, 0);
  options->addWidget(auto_backup_, 1, 1);
  options->addWidget(tips_, 2, 0);
  options->addWidget(type_map_, 2, 1);
  layout->addLayout(options);

  test_ = new QPushButton("&Test Connections", this);
  test_->setObjectName("test_button");
  save_ = new QPushButton("Save Config", this);
  save_->setObjectName("save_button");
  connect_ = new QPushButton("Connect", this);
  connect_->setObjectName("connect_button");
  connect_->setDefault(true);
  close_ = new QPushButton("Close", this);
  close_->setObjectName("close_button");
  for (QPushButton* button : {test_, save_, close_}) button->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(test_);
  buttons->addStretch(1);
  buttons->addWidget(save_);
  buttons->addWidget(connect_);
  buttons->addWidget(close_);
  layout->addLayout(buttons);

  connect(test_, &QPushButton::clicked, this, [this] { converters::TestConnections(owner_, CurrentSettings()); });
  connect(save_, &QPushButton::clicked, this, [this] {
    // SaveSettings tells the user how it went.
    (void)converters::SaveSettings(owner_, CurrentSettings(), settings_path_);
  });
  connect(connect_, &QPushButton::clicked, this, [this] {
    // The running tasks read the connection profiles: they change only while nothing runs.
    if (!owner_.AllowConnectionCommand()) return;
    const Status written = converters::UseConnectSettings(owner_, CurrentSettings(), settings_path_);
    if (!written.ok()) owner_.prompt().ShowMessage(written.ToString());
    accept();
    if (hooks_.connect) hooks_.connect();
  });
  connect(close_, &QPushButton::clicked, this, &QDialog::reject);
  connect(tips_, &QCheckBox::clicked, this, [this](bool checked) {
    if (hooks_.show_tips) hooks_.show_tips(checked);
  });

  if (hooks_.show_tips) hooks_.show_tips(loaded.tips);

  // Providers: each side's list in order, the loaded one selected, then the side's handling.
  for (SideControls* side : sides_) {
    const config::SideSettings& values = side->side == 0 ? loaded.source : loaded.target;
    {
      const QSignalBlocker quiet(side->provider);
      side->provider->clear();
      for (const std::string& name : config::ProvidersForDbms(FromQt(side->DbmsName()))) {
        AddSorted(side->provider, ToQt(name));
      }
      const int loaded_index = side->provider->findText(ToQt(values.provider), Qt::MatchFixedString);
      side->provider->setCurrentIndex(loaded_index >= 0 ? loaded_index : 0);
    }
    ChangeProvider(*side);
    // The stored source name wins over the proposed choice (a typed server, a chosen file);
    // without one, the alias named like this computer (the local server) is preferred.
    if (values.source_name.empty()) {
      // (gethostname; MatchFixedString compares without regard to case.)
      const QString host = QSysInfo::machineHostName();
      const int local = host.isEmpty() ? -1 : side->source_name->findText(host, Qt::MatchFixedString);
      if (local >= 0) side->source_name->setCurrentIndex(local);
    } else {
      const QString name = ToQt(values.source_name);
      const int found = side->source_name->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
      if (found >= 0) {
        side->source_name->setCurrentIndex(found);
      } else {
        side->source_name->setEditText(name);
      }
    }
    connect(side->provider, &QComboBox::currentIndexChanged, this, [this, side] { ChangeProvider(*side); });
  }
  installEventFilter(this);
  initialising_ = false;
}

config::Settings ConnectionSettingsDialog::CurrentSettings() const {
  config::Settings settings;
  settings.use_config_file = config_->isChecked();
  settings.auto_backup = auto_backup_->isChecked();
  settings.tips = tips_->isChecked();
  const std::string preset = FromQt(type_map_->currentData().toString());
  // A file that names no preset keeps naming none until another is chosen.
  settings.type_map_preset = loaded_type_map_.empty() && preset == "default" ? "" : preset;
  for (const SideControls* side : sides_) {
    config::SideSettings& values = side->side == 0 ? settings.source : settings.target;
    values.provider = FromQt(side->provider->currentText());
    values.source_name = FromQt(side->source_name->currentText());
    values.user_id = FromQt(side->user->text());
    values.password = FromQt(side->password->text());
    values.catalog_name = FromQt(side->catalog->text());
  }
  return settings;
}

void ConnectionSettingsDialog::ChangeProvider(SideControls& side) {
  {
    const QSignalBlocker quiet(side.source_name);
    side.source_name->clear();
    side.source_name->clearEditText();
  }
  const QString provider =
      side.provider->currentIndex() >= 0 ? side.provider->currentText() : side.provider->itemText(0);
  side.current_provider = provider;
  const std::string name = FromQt(provider);
  const bool tcp_ip = EqualsIgnoreAsciiCaseQt(provider, config::kTcpIpProvider);
  side.source_name_label->setText(tcp_ip ? "Server:Port" : "Source Name");
  side.browse->setEnabled(config::IsFileDisplayName(name));
  if (tcp_ip) {
    side.source_name->setEditText("127.0.0.1");
    return;
  }
  for (const std::string& choice : converters::SourceNameChoices(FromQt(side.DbmsName()), name)) {
    AddSorted(side.source_name, ToQt(choice));
  }
  if (side.source_name->count() > 0) side.source_name->setCurrentIndex(0);

  if (side.side == 1 && config::IsJetDisplayName(name) && !initialising_) {
    const std::string proposed = converters::ProposeNewTargetFile(owner_);
    if (!proposed.empty()) SelectPath(side.source_name, ToQt(proposed));
  }
}

workspace::FileChoice ConnectionSettingsDialog::FileChoiceFor(const SideControls& side) const {
  workspace::FileChoice choice;
  choice.title = "Open the database file";
  choice.initial_directory = ".";
  choice.path_must_exist = true;
  const QString caption = side.group->title();
  if (EqualsIgnoreAsciiCaseQt(side.current_provider, config::kSqliteDisplayName)) {
    choice.filter_name = "SQLite File";
    choice.filter_pattern = "*.sqlite;*.db;*.sqlite3";
  } else if (caption.compare("ACCESS", Qt::CaseInsensitive) == 0) {
    choice.filter_name = "Access File";
    choice.filter_pattern = "*.mdb";
  } else if (caption.compare("EXCEL", Qt::CaseInsensitive) == 0) {
    choice.filter_name = "Excel File";
    choice.filter_pattern = "*.xls";
  } else {
    choice.filter_name = "All";
    choice.filter_pattern = "*.mdb;*.xls";
  }
  return choice;
}

void ConnectionSettingsDialog::ChooseSourceFile(SideControls& side) {
  if (!config::IsFileDisplayName(FromQt(side.current_provider))) return;
  const std::optional<std::string> path = owner_.prompt().ChooseFile(FileChoiceFor(side));
  if (path && !path->empty()) {
    side.catalog->clear();
    SelectPath(side.source_name, ToQt(*path));
  }
  side.source_name->setFocus();
}

void ConnectionSettingsDialog::ChooseCatalogFile(SideControls& side) {
  const std::optional<std::string> path = owner_.prompt().ChooseFile(FileChoiceFor(side));
  if (path && !path->empty()) {
    side.catalog->setText(ToQt(*path));
    side.source_name->clear();
    side.source_name->clearEditText();
  }
  side.catalog->setFocus();
}

void ConnectionSettingsDialog::SelectPath(QComboBox* combo, const QString& path) {
  const int index = AddSorted(combo, path);
  combo->setCurrentIndex(index);
  // A long path is shown whole in the drop-down list.
  const int wanted = combo->fontMetrics().horizontalAdvance(path) + 32;
  if (combo->view() != nullptr && combo->view()->minimumWidth() < wanted) combo->view()->setMinimumWidth(wanted);
}

bool ConnectionSettingsDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) {
    for (SideControls* side : sides_) {
      if (side != nullptr && watched == side->catalog && !config::IsFileDisplayName(FromQt(side->current_provider))) {
        ChooseCatalogFile(*side);
        return true;
      }
    }
  }
  // A press on the dialog's free area drags the dialog.
  if (watched == this) {
    const QEvent::Type type = event->type();
    const bool pressed_or_moved = type == QEvent::MouseButtonPress || type == QEvent::MouseMove;
    auto* mouse = pressed_or_moved ? static_cast<QMouseEvent*>(event) : nullptr;
    if (mouse != nullptr && type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
      if (windowHandle() != nullptr && windowHandle()->startSystemMove()) return true;
      drag_offset_ = mouse->globalPosition().toPoint() - frameGeometry().topLeft();
      dragging_ = true;
      return true;
    }
    if (mouse != nullptr && type == QEvent::MouseMove && dragging_ && (mouse->buttons() & Qt::LeftButton)) {
      move(mouse->globalPosition().toPoint() - drag_offset_);
      return true;
    }
    if (type == QEvent::MouseButtonRelease) dragging_ = false;
  }
  return QDialog::eventFilter(watched, event);
}

QComboBox* ConnectionSettingsDialog::dbms_combo(int side) const { return sides_[side]->dbms; }
QComboBox* ConnectionSettingsDialog::provider_combo(int side) const { return sides_[side]->provider; }
QComboBox* ConnectionSettingsDialog::source_name_combo(int side) const { return sides_[side]->source_name; }
QLabel* ConnectionSettingsDialog::source_name_label(int side) const { return sides_[side]->source_name_label; }
QLineEdit* ConnectionSettingsDialog::user_edit(int side) const { return sides_[side]->user; }
QLineEdit* ConnectionSettingsDialog::password_edit(int side) const { return sides_[side]->password; }
QLineEdit* ConnectionSettingsDialog::catalog_edit(int side) const { return sides_[side]->catalog; }
QCheckBox* ConnectionSettingsDialog::config_check() const { return config_; }
QCheckBox* ConnectionSettingsDialog::auto_backup_check() const { return auto_backup_; }
QComboBox* ConnectionSettingsDialog::type_map_combo() const { return type_map_; }
QCheckBox* ConnectionSettingsDialog::tips_check() const { return tips_; }
QPushButton* ConnectionSettingsDialog::test_button() const { return test_; }
QPushButton* ConnectionSettingsDialog::save_button() const { return save_; }
QPushButton* ConnectionSettingsDialog::connect_button() const { return connect_; }
QPushButton* ConnectionSettingsDialog::close_button() const { return close_; }

}  // namespace tabulon::gui
