#pragma once

#include "config/Alarms.h"

#include <QDialog>
#include <QWidget>

#include <array>
#include <functional>
#include <vector>

class Controller;
class QDoubleSpinBox;
class QCheckBox;
class QComboBox;
class QTreeWidget;

// Every alarm raised, cleared or acknowledged on the watched controllers,
// newest first, with its time; Acknowledge takes the selected rows' alarms,
// Acknowledge All every raised one.
class AlarmsWindow : public QWidget {
    Q_OBJECT
public:
    enum Column { kTime, kController, kRule, kSeverity, kEvent, kValue, kColumnCount };
    static constexpr int kMaxRows = 2000;

    AlarmsWindow(std::function<void(Controller&, alarms::Rule)> acknowledge, std::function<void()> acknowledgeAll,
                 QWidget* parent = nullptr);

    void Add(const Controller& controller, const alarms::Event& event);
    // A controller goes: its rows stay, but acknowledge nothing.
    void Forget(const Controller* controller);
    QTreeWidget* Table() const { return table_; }
    void AcknowledgeSelected();

private:
    std::function<void(Controller&, alarms::Rule)> acknowledge_;
    QTreeWidget* table_;
};

// The alarm rules of one controller or several: one row per rule, with on,
// severity, value, hysteresis, delay and latched. It opens with the first
// controller's rules; OK gives each row that was changed to every one (a
// row left alone leaves each controller's own rule as it is).
class AlarmRulesDialog : public QDialog {
    Q_OBJECT
public:
    AlarmRulesDialog(const std::vector<Controller*>& controllers, QWidget* parent = nullptr);
    std::array<alarms::Setting, alarms::kRuleCount> Rules() const;
    void SetRule(alarms::Rule rule, const alarms::Setting& setting);
    // Gives the rules to the controllers (OK).
    void Apply();

private:
    struct Row {
        QCheckBox* on;
        QComboBox* severity;
        QDoubleSpinBox* value;
        QDoubleSpinBox* hysteresis;
        QDoubleSpinBox* delay;
        QCheckBox* latched;
    };
    std::vector<Controller*> controllers_;
    std::array<Row, alarms::kRuleCount> rows_;
    std::array<alarms::Setting, alarms::kRuleCount> opened_ {};
};
