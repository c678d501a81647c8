#include "controls/CLibComboBox.h"

#include "controls/ControlSupport.h"

#include <QAbstractItemView>
#include <QEvent>

CLibComboBox::CLibComboBox(QWidget* parent) : QComboBox(parent)
{
    applyColors();
}

CLibComboBox::~CLibComboBox() = default;

bool CLibComboBox::attach(QWidget* placeholder)
{
    if (auto* combo = qobject_cast<QComboBox*>(placeholder)) {
        clear();
        for (int i = 0; i < combo->count(); ++i)
            addItem(combo->itemIcon(i), combo->itemText(i), combo->itemData(i));
        setEditable(combo->isEditable());
        setMaxVisibleItems(combo->maxVisibleItems());
        setCurrentIndex(combo->currentIndex());
    }
    const bool attached = controls::takePlaceOf(this, placeholder);
    applyColors();
    return attached;
}

bool CLibComboBox::attach(QWidget* parent, int controlId)
{
    return attach(controls::findChildControl(parent, controlId));
}

void CLibComboBox::applyColors()
{
    const QPalette greenOnBlack = controls::numericPalette(palette(), controls::toQColor(kBlack));
    setPalette(greenOnBlack);
    // The drop-down list is a window of its own and does not inherit colours
    // from the combo box in every style.
    if (QAbstractItemView* list = view()) {
        list->setPalette(controls::numericPalette(list->palette(), controls::toQColor(kBlack)));
        if (QWidget* popup = list->parentWidget())
            popup->setPalette(controls::numericPalette(popup->palette(), controls::toQColor(kBlack)));
    }
}

void CLibComboBox::showPopup()
{
    applyColors();
    QComboBox::showPopup();
}

void CLibComboBox::changeEvent(QEvent* e)
{
    QComboBox::changeEvent(e);
    // A style change replaces the drop-down list's container.
    if (e->type() == QEvent::StyleChange)
        applyColors();
}
