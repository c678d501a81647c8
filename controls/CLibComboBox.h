#pragma once

#include <QComboBox>

// Drop-down selector painted green on black, its drop-down list included.
class CLibComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit CLibComboBox(QWidget* parent = nullptr);
    ~CLibComboBox() override;

    // Take the place of a template builder's placeholder (see
    // controls/ControlSupport.h); the placeholder's items, current item,
    // editability and visible-item count are kept. False when there is no
    // such placeholder.
    bool attach(QWidget* placeholder);
    bool attach(QWidget* parent, int controlId);

    void showPopup() override;

protected:
    void changeEvent(QEvent* e) override;

private:
    void applyColors();
};
