#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

class Clock;
class Controller;
class QTreeWidget;
class QTreeWidgetItem;

// One row per watched controller: line, unit, serial number, actual value
// with its unit, set point, TE current, output, state, its raised alarms
// (in words, and red for major, yellow for minor), the age of the last
// reading, and how its settings differ from the file last applied. It asks the line for nothing of its own: it shows what the
// controllers have read. Columns sort, several rows can be selected, and
// the keyboard works: Enter opens (or brings forward) the controller's
// window, Delete stops watching the selected ones. The row menu holds the
// group actions.
class OverviewWindow : public QWidget {
    Q_OBJECT
public:
    enum Column { kLine, kUnit, kSerial, kActual, kSetPoint, kCurrent, kOutput, kState, kAlarm, kAge, kSettings, kColumnCount };

    // What the rows' commands do; each takes the controllers they apply to.
    struct Actions {
        std::function<void(Controller&)> open;
        std::function<void(const std::vector<Controller*>&)> stopWatching;
        std::function<void(const std::vector<Controller*>&)> outputOff;
        std::function<void(const std::vector<Controller*>&)> setPoint;
        std::function<void(const std::vector<Controller*>&)> startLogging;
        std::function<void(const std::vector<Controller*>&)> stopLogging;
        std::function<void(const std::vector<Controller*>&)> applySettings;
        std::function<void(const std::vector<Controller*>&)> dismissDrift;
        std::function<void(const std::vector<Controller*>&)> alarmRules;
        std::function<void(const std::vector<Controller*>&)> acknowledge;
        std::function<void(const std::vector<Controller*>&)> runProgram;
        std::function<void(const std::vector<Controller*>&)> tune;
        std::function<void(const std::vector<Controller*>&)> cancelTune;
    };

    OverviewWindow(std::function<std::vector<Controller*>()> controllers, Actions actions, const Clock& clock,
                   QWidget* parent = nullptr);

    // Rows follow the watched controllers; their texts, what they have
    // read. `halted`: polling is halted.
    void Refresh(bool halted = false);

    QTreeWidget* Table() const { return table_; }
    std::vector<Controller*> Selected() const;
    // The row of a controller, or null.
    QTreeWidgetItem* RowOf(const Controller* controller) const;
    // What a row says of a controller's state: "online", "stopped
    // answering 14:02:11", "instrument error", "not answering", "line not
    // open", "polling halted"; with a swapped instrument, what it was.
    static QString StateText(const Controller& controller, bool halted);
    // The note of a controller whose unit answers with another serial
    // number than the one it was saved with; empty clears it.
    void SetExpectedSerial(const Controller* controller, const QString& serial);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowMenu(const QPoint& at);
    void Fill(QTreeWidgetItem* row, const Controller& controller, bool halted);

    std::function<std::vector<Controller*>()> controllers_;
    Actions actions_;
    const Clock& clock_;
    QTreeWidget* table_;
    std::map<const Controller*, QTreeWidgetItem*> rows_;
    std::map<const Controller*, QString> expectedSerial_;
};
