// The application's own images, drawn as SVG and compiled into the program: one per tree-node
// kind, one per mini-toolbar command, the task viewer's buttons and the window icon.
#pragma once

#include <QIcon>

#include "workspace/db_tree.h"

namespace tabulon::gui {

// Makes the compiled-in resources available (the library is static); called once by the main
// window and by tests before the first icon is asked for.
void LoadGuiResources();

// The image of a tree node of `kind`.
QIcon NodeIcon(workspace::TreeNodeKind kind);
// The mini toolbar's images in its order: 0 Configure, 1 Connect, 2 Migrate, 3 Delete,
// 4 Backup, 5 About.
QIcon ToolbarIcon(int image);
// The task viewer's images: 0 start (the controller is starting), 1 item up, 2 item down,
// 3 delete (also: running, press to stop), 4 clear all (also: stopping), 5 stop tasks (idle,
// press to start).
QIcon TaskButtonIcon(int image);
// The window icon.
QIcon ApplicationIcon();

}  // namespace tabulon::gui
