#pragma once

#include "platform/qt/DialogBuilder.h"

#include "controls/ControlHost.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

class QWidget;

// Qt helpers shared by the CLib controls.
//
// Attaching to a dialog-template item: the template builder creates one
// direct child widget per template item, of a plain Qt kind (QLineEdit,
// QLabel, QComboBox, QPushButton, QCheckBox, a bare QWidget for an up-down
// control), with the dynamic property "controlId" set to the item's id. A
// control takes the place of that placeholder with attach(parent, id) or
// attach(placeholder): it becomes a child of the same parent with the
// placeholder's geometry, explicitly set font, object name, "controlId",
// tool tip, enabled and visible state, place in the tab order and in the
// stacking order (and, per kind, its text, items or check state); the
// placeholder is deleted.
namespace controls {

using ::kControlIdProperty;

// The first direct child of parent whose "controlId" is id; nullptr if none.
QWidget* findChildControl(QWidget* parent, int id);

// Moves self into the place of placeholder as described above and deletes
// the placeholder. Returns false, changing nothing, when placeholder is null,
// is self or has no parent.
bool takePlaceOf(QWidget* self, QWidget* placeholder);

// The next control after from in the tab order of from's parent, searching
// forward and wrapping around: visible, enabled, taking Tab focus. Controls
// for which skip returns true are passed over. nullptr when there is none
// other than from.
QWidget* nextTabStop(QWidget* from, bool (*skip)(QWidget*) = nullptr);

// Gives the focus to nextTabStop(from), if any, as the Tab key does: a line
// edit that gets it selects its whole text.
void moveFocusForward(QWidget* from);

QColor toQColor(Rgb colour);

// The caption a user reads for `control` on its form: the text of the
// nearest caption label (a label of the template without an id of its own)
// left of it on the same line, else one just above it (no further than the
// control is high). Empty
// when there is none.
QString captionOf(const QWidget* control);

// Green characters on the given background; disabled text grey.
QPalette numericPalette(QPalette base, const QColor& background);

} // namespace controls
