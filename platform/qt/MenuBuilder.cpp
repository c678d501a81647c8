#include "platform/qt/MenuBuilder.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>

namespace {

void addItems(QMenu* menu, const std::vector<MenuItem>& items)
{
    for (const MenuItem& item : items) {
        switch (item.kind) {
        case MenuItemKind::Separator:
            menu->addSeparator();
            break;
        case MenuItemKind::Popup: {
            QMenu* sub = menu->addMenu(menuText(item.text));
            addItems(sub, item.items);
            break;
        }
        case MenuItemKind::Command: {
            QAction* action = menu->addAction(menuText(item.text));
            action->setData(item.commandId);
            action->setProperty(kCommandIdProperty, item.commandId);
            if (item.state & MenuState::kGrayed)
                action->setEnabled(false);
            if (item.state & MenuState::kChecked) {
                action->setCheckable(true);
                action->setChecked(true);
            }
            if (const char* prompt = stringResource(item.commandId)) {
                const QString text = QString::fromUtf8(prompt);
                const qsizetype newline = text.indexOf(QLatin1Char('\n'));
                action->setStatusTip(text.left(newline));
                if (newline >= 0)
                    action->setToolTip(text.mid(newline + 1));
            }
            break;
        }
        }
    }
}

QAction* findIn(const QList<QAction*>& actions, int commandId)
{
    for (QAction* action : actions) {
        if (QMenu* sub = action->menu()) {
            if (QAction* found = findIn(sub->actions(), commandId))
                return found;
        } else if (commandIdOf(action) == commandId) {
            return action;
        }
    }
    return nullptr;
}

} // namespace

QString menuText(const std::string& resourceText)
{
    return QString::fromStdString(resourceText);
}

void fillMenuBar(QMenuBar* bar, const MenuResource& menu)
{
    for (const MenuItem& popup : menu.popups) {
        QMenu* top = bar->addMenu(menuText(popup.text));
        addItems(top, popup.items);
    }
}

QMenuBar* buildMenuBar(const MenuResource& menu, QWidget* parent)
{
    auto* bar = new QMenuBar(parent);
    fillMenuBar(bar, menu);
    return bar;
}

QAction* findCommandAction(const QMenuBar* bar, int commandId)
{
    return bar && commandId != 0 ? findIn(bar->actions(), commandId) : nullptr;
}

QAction* findCommandAction(const QMenu* menu, int commandId)
{
    return menu && commandId != 0 ? findIn(menu->actions(), commandId) : nullptr;
}

int commandIdOf(const QAction* action)
{
    if (!action)
        return 0;
    const QVariant id = action->property(kCommandIdProperty);
    return id.isValid() ? id.toInt() : 0;
}

QKeySequence keySequence(const Accelerator& accelerator)
{
    Qt::KeyboardModifiers modifiers;
    if (accelerator.modifiers & AcceleratorModifier::kCtrl)
        modifiers |= Qt::ControlModifier;
    if (accelerator.modifiers & AcceleratorModifier::kShift)
        modifiers |= Qt::ShiftModifier;
    if (accelerator.modifiers & AcceleratorModifier::kAlt)
        modifiers |= Qt::AltModifier;
    // Qt's letter and digit keys carry their ASCII codes, like the table's.
    const Qt::Key key = accelerator.key >= kAcceleratorF1
                            ? static_cast<Qt::Key>(Qt::Key_F1 + (accelerator.key - kAcceleratorF1))
                            : static_cast<Qt::Key>(accelerator.key);
    return QKeySequence(QKeyCombination(modifiers, key));
}

std::vector<QShortcut*> installAccelerators(QWidget* window, const std::vector<Accelerator>& table,
                                            std::function<void(int commandId)> onCommand)
{
    std::vector<QShortcut*> shortcuts;
    for (const Accelerator& accelerator : table) {
        auto* shortcut = new QShortcut(keySequence(accelerator), window);
        shortcut->setContext(Qt::WindowShortcut);
        shortcut->setProperty(kCommandIdProperty, accelerator.commandId);
        const int id = accelerator.commandId;
        QObject::connect(shortcut, &QShortcut::activated, window, [onCommand, id] {
            if (onCommand)
                onCommand(id);
        });
        shortcuts.push_back(shortcut);
    }
    return shortcuts;
}
