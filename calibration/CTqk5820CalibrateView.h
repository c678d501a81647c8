#pragma once

#include "platform/qt/CView.h"
#include "platform/qt/WindowHost.h"

#include <QMdiSubWindow>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>
#include <string>

class CLibDatamineEdit;
class CLibNumberEdit;
class CLibNumberStatic;
class CLibTabButton;
class CTqk5820CalibrateDoc;
class Clock;
class QAbstractButton;
class UserPrompts;

// The calibration window of one controller: the form of dialog template
// 141, white on dark teal, beside the controller's window. It holds no
// calibration of its own: its entries and buttons call the document, and
// its refresh, once per idle pass while the instrument answers and the
// document is idle, hands committed entries to the document and sets the
// check boxes again once what they started has been done.
//
// Each check box beside an item is a done-indicator that the program sets:
// cleared when the operator starts the item, set when it is done. The boxes
// of the bias currents and references pass the focus on to their entries.
class CTqk5820CalibrateView : public QWidget, public CView {
    Q_OBJECT
public:
    // What the window reaches outside itself.
    using Services = FormServices;

    // Control ids of the form.
    enum ControlId {
        k10uABox = 1086, k100uABox = 1087, k1mABox = 1093, k10mABox = 1092,
        k10uAEntry = 1132, k100uAEntry = 1133, k1mAEntry = 1135, k10mAEntry = 1136,
        kResistorButton = 1088, kResistorDisplay = 1146,
        kActualV1Box = 1060, kActualV2Box = 1066, kTeCurrentA1Box = 1061, kTeCurrentA2Box = 1067,
        kTeVoltageV1Box = 1062, kTeVoltageV2Box = 1068,
        kActualV1Entry = 1137, kActualV2Entry = 1138, kTeCurrentA1Entry = 1139, kTeCurrentA2Entry = 1140,
        kTeVoltageV1Entry = 1141, kTeVoltageV2Entry = 1142,
        kSetPointLowButton = 1072, kSetPointHighButton = 1075, kPosLimitButton = 1073, kNegLimitButton = 1074,
        kRefPlusBox = 1076, kRefMinusBox = 1077, kRefPlusEntry = 1144, kRefMinusEntry = 1145,
        kPreviousButton = 1148, kClearEepromButton = 1147, kAbortButton = 1149, kCloseButton = 1143,
    };
    static constexpr int kBiasCount = 4;
    // The six capture entries, then Ref + and Ref -.
    static constexpr int kEntryCount = 8;

    CTqk5820CalibrateView(CTqk5820CalibrateDoc& document, QMdiSubWindow* frame, Services services);
    ~CTqk5820CalibrateView() override;

    QWidget* widget() override { return this; }
    CTqk5820CalibrateDoc& GetCalibrateDoc() const;

    // Places the frame right of the controller window at the top of the
    // main window, fitted to the form; binds the bias entries and the
    // resistor display to their table rows; sets the boxes that pass the
    // focus on.
    void OnInitialUpdate() override;
    // The frame's caption follows the document's title.
    void OnUpdate(DocumentView* sender, long hint) override;
    // Once per idle pass, before the document's PeriodicPass; does nothing
    // while the instrument is offline or the document busy.
    void RefreshPass();
    // Shows the window in front of the others and activates it.
    void BringForward();

    // The controls, for tests.
    CLibTabButton* Box(int controlId) const;
    QAbstractButton* Button(int controlId) const;
    CLibDatamineEdit* BiasEntry(int index) const { return bias_[static_cast<std::size_t>(index)]; }
    CLibNumberEdit* Entry(int index) const { return entries_[static_cast<std::size_t>(index)]; }
    CLibNumberStatic* ResistorDisplay() const { return resistor_; }
    QMdiSubWindow* GetFrame() const { return frame_; }
    bool BiasWaiting() const { return biasWaiting_; }
    const std::string& PendingBias() const { return pendingBias_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum Done { kResistorDone, kSetPointLowDone, kSetPointHighDone, kPosLimitDone, kNegLimitDone, kDoneCount };

    void UpdateCaption();
    void OnProcedureButton(int done);
    void OnEntryFocus(QObject* entry, bool gained);
    void CloseDocument();
    void ClearEeprom();
    void SetBox(int controlId, bool checked);

    QPointer<QMdiSubWindow> frame_;
    Services services_;
    std::array<CLibTabButton*, 17> boxes_ {};
    CLibNumberStatic* resistor_ = nullptr;
    std::array<CLibNumberEdit*, kEntryCount> entries_ {};
    std::array<CLibDatamineEdit*, kBiasCount> bias_ {};
    std::string pendingBias_;
    bool biasWaiting_ = false;
    std::array<bool, kDoneCount> done_ {};
    bool showResistorValue_ = true;
    // One per entry: a value handed over on one pass is confirmed by its
    // check box on the next.
    std::array<bool, kEntryCount> handedOver_ {};
    bool closing_ = false;
};
