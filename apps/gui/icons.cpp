#include "icons.h"

#include <QCoreApplication>
#include <QString>

#include <array>
#include <memory>

// Q_INIT_RESOURCE declares a function at the point of use, so it has to run outside any namespace.
static void InitTabulonResources() { Q_INIT_RESOURCE(tabulon); }

namespace tabulon::gui {
namespace {

constexpr std::array<const char*, 10> kNodeFiles = {
    "node_root",          "node_database", "node_table",          "node_tables_folder", "node_column",
    "node_fields_folder", "node_index",    "node_indexes_folder", "node_view",          "node_views_folder",
};
constexpr std::array<const char*, 6> kToolbarFiles = {
    "tool_configure", "tool_connect", "tool_migrate", "tool_delete", "tool_backup", "tool_about",
};
constexpr std::array<const char*, 6> kTaskButtonFiles = {
    "task_start", "task_up", "task_down", "task_delete", "task_clear_all", "task_stop",
};

// The icons are made once and kept. They are dropped while the application object is destroyed
// (not by a static destructor): the SVG engine lives in a plugin that is unloaded by then.
struct IconCache {
  std::array<QIcon, kNodeFiles.size()> nodes;
  std::array<QIcon, kToolbarFiles.size()> toolbar;
  std::array<QIcon, kTaskButtonFiles.size()> task_buttons;
  QIcon application;
};

std::unique_ptr<IconCache>& CacheSlot() {
  static std::unique_ptr<IconCache> cache;
  return cache;
}

IconCache& Cache() {
  std::unique_ptr<IconCache>& slot = CacheSlot();
  if (!slot) {
    LoadGuiResources();
    slot = std::make_unique<IconCache>();
    if (QCoreApplication::instance() != nullptr) qAddPostRoutine([] { CacheSlot().reset(); });
  }
  return *slot;
}

QIcon LoadIcon(const char* name) {
  return QIcon(QStringLiteral(":/icons/") + QString::fromLatin1(name) + QStringLiteral(".svg"));
}

// One entry of a cached set; an index outside the set gives an empty icon.
template <std::size_t N>
QIcon CachedIcon(std::array<QIcon, N>& icons, const std::array<const char*, N>& files, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= N) return {};
  QIcon& icon = icons[static_cast<std::size_t>(index)];
  if (icon.isNull()) icon = LoadIcon(files[static_cast<std::size_t>(index)]);
  return icon;
}

}  // namespace

void LoadGuiResources() {
  static bool loaded = false;
  if (loaded) return;
  loaded = true;
  InitTabulonResources();
}

QIcon NodeIcon(workspace::TreeNodeKind kind) {
  IconCache& cache = Cache();
  return CachedIcon(cache.nodes, kNodeFiles, static_cast<int>(kind));
}

QIcon ToolbarIcon(int image) {
  IconCache& cache = Cache();
  return CachedIcon(cache.toolbar, kToolbarFiles, image);
}

QIcon TaskButtonIcon(int image) {
  IconCache& cache = Cache();
  return CachedIcon(cache.task_buttons, kTaskButtonFiles, image);
}

QIcon ApplicationIcon() {
  IconCache& cache = Cache();
  if (cache.application.isNull()) cache.application = LoadIcon("tabulon");
  return cache.application;
}

}  // namespace tabulon::gui
