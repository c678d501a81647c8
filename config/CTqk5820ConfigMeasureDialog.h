#pragma once

#include "config/CTqk5820ConfigPanel.h"

#include <QString>


class CLibDatamineEdit;
class CLibLampStatic;
class CLibNumberStatic;
class CLibSpinButtonCtrl;
class QLabel;
class QPushButton;

// The Measurement panel of a controller window: the actual temperature (or
// sensor resistance), TE current, TE voltage and auxiliary temperature, the
// set-point entry with its spin, the output lamp and the ON/OFF button
// (which reads "Reset Error" while the instrument reports an output error).
// It follows the sensor type the document has established: resistance-mode
// sensors work in kOhms on parameters 2 and 4, all others in degrees
// Celsius on parameters 1 and 3.
class CTqk5820ConfigMeasureDialog : public CTqk5820ConfigPanel {
    Q_OBJECT
public:
    enum Mode { kResistance = 0, kTemperature = 1, kUnknown = 99 };

    explicit CTqk5820ConfigMeasureDialog(QWidget* parent = nullptr);
    ~CTqk5820ConfigMeasureDialog() override;
    ConsumerKind consumerKind() const override { return ConsumerKind::MeasurementPanel; }

    bool Refresh() override;
    // The polled readings, the output word and the set point are read again.
    void Rearm() override;
    void ShowHalted() override;
    // Reads the set point again (another window changed it).
    void RereadSetPoint() { rereadSetPoint_ = true; }

    // Clicking ON/OFF: the output write goes out on the next refresh.
    void OnOutputButton() { outputPending_ = true; }

    // The output word has been read since the last outage or write.
    bool IsOutputKnown() const { return outputKnown_; }
    // A reading is due or a write waits: what Refresh() returns.
    bool IsBusy() const;
    Mode GetMode() const { return mode_; }
    bool IsSetPointPending() const { return setPointPending_; }
    bool IsOutputPending() const { return outputPending_; }

    CLibNumberStatic* ActualDisplay() const { return actual_; }
    CLibNumberStatic* CurrentDisplay() const { return current_; }
    CLibNumberStatic* VoltageDisplay() const { return voltage_; }
    CLibNumberStatic* AuxDisplay() const { return aux_; }
    CLibDatamineEdit* SetPointEntry() const { return setPoint_; }
    CLibSpinButtonCtrl* SetPointSpin() const { return spin_; }
    CLibLampStatic* OutputLamp() const { return outputLamp_; }
    QPushButton* OutputButton() const { return button_; }
    QLabel* ActualUnitCaption() const { return actualUnit_; }
    QLabel* SetPointUnitCaption() const { return setPointUnit_; }
    QLabel* AuxUnitCaption() const { return auxUnit_; }


protected:
    void BindControls() override;
    void OnInitDialog() override;
    void OnDestroy() override;

private:
    void FollowMode();
    void RefreshReadings();
    void RefreshOutput();
    void RefreshSetPoint();
    void TakeCommittedSetPoint();
    // Hands a taken set point to the document, online or not.
    void CommitSetPoint();
    void RefreshOffline();

    CLibNumberStatic* actual_ = nullptr;
    CLibNumberStatic* current_ = nullptr;
    CLibNumberStatic* voltage_ = nullptr;
    CLibNumberStatic* aux_ = nullptr;
    CLibDatamineEdit* setPoint_ = nullptr;
    CLibSpinButtonCtrl* spin_ = nullptr;
    CLibLampStatic* outputLamp_ = nullptr;
    QPushButton* button_ = nullptr;
    QLabel* actualUnit_ = nullptr;
    QLabel* setPointUnit_ = nullptr;
    QLabel* auxUnit_ = nullptr;

    Mode mode_ = kUnknown;
    bool rereadActual_ = true;
    bool rereadAux_ = true;
    bool rereadCurrent_ = true;
    bool rereadVoltage_ = true;
    bool rereadOutput_ = true;
    bool rereadSetPoint_ = true;
    // A set point the user committed, held until the instrument has answered
    // its write, across an offline period too: pending until the document
    // takes the write, then sent until its reply is filed. A write still
    // unanswered when the instrument goes away is pending again.
    bool setPointPending_ = false;
    bool setPointSent_ = false;
    int setPointParameter_ = 0;
    float setPointValue_ = 0.0f;
    bool outputPending_ = false;
    // The output lamp shows the word as read since the last write of it and
    // since the instrument was last offline; the ON/OFF write is built from
    // the lamp only then.
    bool outputKnown_ = false;
    bool errorShown_ = false;
};
