#pragma once

#include "resources/Menus.h"

#include <QKeySequence>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QMenuBar;
class QShortcut;
class QWidget;

// Turns the menu and accelerator resources (resources/Menus.h) into Qt
// menus and shortcuts.

// The dynamic property of every command action and shortcut that holds its
// command id; the id is also the action's data().
inline constexpr const char* kCommandIdProperty = "commandId";

// A resource menu text as a Qt action text. Both use "&" before the
// mnemonic letter and "&&" for a literal ampersand, and QMenu draws what
// follows a tab right-aligned in the shortcut column, so the hint after the
// tab shows as on Windows without binding a shortcut to the action.
QString menuText(const std::string& resourceText);

// Adds the menu's popups to the bar: command entries become actions with
// their command id, grey entries are disabled, checked entries checkable and
// checked, and each action's status tip is the command's status-line prompt
// (its tooltip the prompt's second line, where there is one).
void fillMenuBar(QMenuBar* bar, const MenuResource& menu);
// A new menu bar filled from the menu.
QMenuBar* buildMenuBar(const MenuResource& menu, QWidget* parent = nullptr);

// The first action with this command id in the bar or menu, searching
// submenus too; nullptr if there is none.
QAction* findCommandAction(const QMenuBar* bar, int commandId);
QAction* findCommandAction(const QMenu* menu, int commandId);

// The command id of an action, 0 for popups, separators and foreign actions.
int commandIdOf(const QAction* action);

// The key sequence of one accelerator.
QKeySequence keySequence(const Accelerator& accelerator);

// One QShortcut per accelerator, active while window is the active window,
// calling onCommand with the command id on every press. Whether the command
// is enabled is for onCommand to decide. The shortcuts are children of
// window.
std::vector<QShortcut*> installAccelerators(QWidget* window, const std::vector<Accelerator>& table,
                                            std::function<void(int commandId)> onCommand);
