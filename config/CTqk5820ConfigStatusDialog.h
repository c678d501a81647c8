#pragma once

#include "config/BusyLamp.h"
#include "config/CTqk5820ConfigPanel.h"

class CLibLampStatic;

// The Status panel of a controller window: the I/O Busy lamp, which the
// document drives while a command of this controller is outstanding, and
// the temperature-limit, current-limit and sensor-error lamps of the status
// word (35).
class CTqk5820ConfigStatusDialog : public CTqk5820ConfigPanel {
    Q_OBJECT
public:
    explicit CTqk5820ConfigStatusDialog(QWidget* parent = nullptr);
    ~CTqk5820ConfigStatusDialog() override;
    ConsumerKind consumerKind() const override { return ConsumerKind::StatusPanel; }

    // Online: the lamps follow the status word once it has been read again.
    // Offline: the three status lamps blink. Busy while the read is due.
    bool Refresh() override;
    void Rearm() override { reread_ = true; }
    void ShowHalted() override { BlinkLamps(); }

    CLibLampStatic* BusyLampControl() const { return busy_; }
    CLibLampStatic* TemperatureLimitLamp() const { return temperatureLimit_; }
    CLibLampStatic* CurrentLimitLamp() const { return currentLimit_; }
    CLibLampStatic* SensorErrorLamp() const { return sensorError_; }

protected:
    void BindControls() override;
    void OnInitDialog() override;
    void OnDestroy() override;

private:
    // The three status lamps, in the look of a unit that does not answer.
    void BlinkLamps();
    // The I/O Busy lamp as the document sees it.
    class BusyLampAdapter : public BusyLamp {
    public:
        explicit BusyLampAdapter(CTqk5820ConfigStatusDialog& panel) : panel_(panel) {}
        void SetState(bool on) override;

    private:
        CTqk5820ConfigStatusDialog& panel_;
    };

    void ShowStatusWord(const std::string& word);

    CLibLampStatic* busy_ = nullptr;
    CLibLampStatic* temperatureLimit_ = nullptr;
    CLibLampStatic* currentLimit_ = nullptr;
    CLibLampStatic* sensorError_ = nullptr;
    BusyLampAdapter busyAdapter_ {*this};
    bool reread_ = true;
};
