#pragma once

#include "resources/DialogTemplates.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QWidget>

class QDialog;

// Turns a dialog template (resources/DialogTemplates.h) into Qt widgets.
//
// Every control becomes one direct child of the host widget, of the natural
// Qt kind: QLabel (static, icon), QLineEdit, QPushButton, QGroupBox (with
// its frame's top edge through the middle of its title, as dialogs draw it),
// QComboBox, QCheckBox, QRadioButton, and a plain QWidget placeholder for an
// up-down control. Each child carries the dynamic property "controlId" with
// its template id (-1 for captions and frames), sits at its template
// rectangle converted to pixels, and is in the tab order of the template.
// Custom controls take over a child with replaceControl().

// The dynamic property that holds a control's template id.
inline constexpr const char* kControlIdProperty = "controlId";

// Set (true) on check boxes and radio buttons whose mark a click does not
// change: only the program sets it, from what the instrument reports.
inline constexpr const char* kManualMarkProperty = "manualMark";

// Dialog base units of a font, in pixels: the average character width and
// the character height.
struct DialogBaseUnits {
    int x;
    int y;
};

// number × numerator ÷ denominator in 64 bits, rounded to the nearest
// integer with halves away from zero; -1 when the denominator is 0 or the
// result does not fit an int.
int mulDiv(int number, int numerator, int denominator);

// Base units from the pixel width of "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
// and the font's height: x = ((width / 26) + 1) / 2, y = height.
DialogBaseUnits dialogBaseUnits(int alphabetWidth, int fontHeight);
// The same, measured with the font's metrics.
DialogBaseUnits dialogBaseUnits(const QFont& font);

// Dialog units to pixels: x and widths × base x ÷ 4, y and heights × base y ÷ 8,
// each coordinate converted on its own.
QRect dialogRectToPixels(const DialogBaseUnits& units, int x, int y, int cx, int cy);
QSize dialogSizeToPixels(const DialogBaseUnits& units, int cx, int cy);

// The face that stands in for a dialog face: the face itself where
// installed; otherwise the first installed face drawn to about its widths
// (Microsoft Sans Serif, Arial, and the faces made to Arial's or Helvetica's
// widths); failing those the system's sans-serif face.
QString dialogFontFace(const QString& face);

// The template's font: its face or the stand-in (dialogFontFace), at the
// template's point size converted to pixels as a character height (the way
// the template's font is created on Windows). A face wider than MS Sans
// Serif is made smaller, one pixel at a time, until the alphabet (A to Z, a
// to z) is no wider than in MS Sans Serif at the template's size (312 pixels
// at 11): the templates' captions were sized for MS Sans Serif, and a wider
// face would lose their tails.
QFont dialogFont(const DialogTemplate& dialog);

// The largest pixel size, from maxPixelSize down to 1, at which every text
// in the font's face, weight and style is no wider than width pixels.
int fittedPixelSize(QFont font, const QStringList& texts, int width, int maxPixelSize);

// Dialogs and panels: white text on RGB(0, 62, 62). Edit fields and push
// buttons keep the palette's own colours.
QColor dialogBackgroundColor();
QColor dialogTextColor();
QPalette dialogPalette(QPalette base);

// Fills an empty host widget from the template: font, palette, size (the
// template's client size; fixed for a modal template) and one child per
// control. Returns the base units the rectangles were converted with.
DialogBaseUnits buildDialogControls(QWidget* host, const DialogTemplate& dialog);

// A child panel or form (a plain QWidget) built from the template.
QWidget* createDialogPanel(const DialogTemplate& dialog, QWidget* parent);
// A modal QDialog with the template's title, built from the template.
QDialog* createModalDialog(const DialogTemplate& dialog, QWidget* parent);
// Either of the above, by the template's modal flag; nullptr for an unknown id.
QWidget* createDialog(int templateId, QWidget* parent);

// Connects the buttons with ids 1 (OK) and 2 (Cancel), where present, to
// accept() and reject(). Dialogs that check their fields on OK connect their
// own handler instead.
void connectStandardButtons(QDialog* dialog);

// The first direct child whose controlId is id; nullptr when there is none
// and always for -1, which captions and frames share.
QWidget* findControl(QWidget* dialog, int id);

// findControl() cast to T; nullptr when absent or of another type.
template <class T>
T* control(QWidget* dialog, int id)
{
    return dynamic_cast<T*>(findControl(dialog, id));
}

// Puts replacement in the place of the control with this id: same parent,
// rectangle, controlId, enabled state, place in the tab order and in the
// stacking order; the old widget is deleted. Returns replacement, or nullptr
// (replacement left untouched and still the caller's) if there is no such
// control.
QWidget* replaceControl(QWidget* dialog, int id, QWidget* replacement);
// The same for a given widget: replacement takes old's parent, rectangle,
// controlId, enabled state, visibility, focus and places in the tab and
// stacking orders; old is deleted. False (nothing changed) without a parent.
bool takeWidgetPlace(QWidget* replacement, QWidget* old);
