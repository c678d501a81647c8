#pragma once

#include <QDialog>

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <utility>

class CTessolApp;
class QCheckBox;
class QLabel;
class QProgressBar;
class QSpinBox;
class QPushButton;
class QTableWidget;
class QTimer;

// File, Find Controllers...: probes units 1 to 99 on the chosen lines, all
// at once, lists the units that answered and opens a controller window for
// each one chosen. The search is the application's scanner, stepped by the
// idle pass; this dialog only starts it and shows how it goes, so every
// window goes on polling while it is open.
class FindControllersDialog : public QDialog {
    Q_OBJECT
public:
    enum Column { kLine, kUnit, kSerial, kFirmware, kSensor, kState, kColumnCount };

    explicit FindControllersDialog(CTessolApp& app, QWidget* parent = nullptr);
    ~FindControllersDialog() override;

    // The buttons' work, for the buttons and for tests.
    void StartSearch();
    void CancelSearch();
    // Watches every checked row's unit from the overview, without a
    // window; returns how many were added.
    int AddChosen();

    QCheckBox* LineBox(int port) const { return lines_[static_cast<std::size_t>(port)]; }
    // The unit numbers probed on each line, 1 to 99 unless narrowed.
    QSpinBox* FirstUnit() const { return first_; }
    QSpinBox* LastUnit() const { return last_; }
    QTableWidget* Table() const { return table_; }
    QProgressBar* Progress() const { return progress_; }
    QLabel* Status() const { return status_; }
    QPushButton* StartButton() const { return start_; }
    QPushButton* CancelButton() const { return cancel_; }
    QPushButton* AddButton() const { return add_; }

    // Close, Escape and the title bar's close: a search under way is cancelled.
    void reject() override;

private:
    // Progress, new rows and the buttons' states from the scanner.
    void Refresh();
    void SetRunning(bool running);
    // The row of a unit, made when it first shows.
    int RowOf(int port, int unit);
    void FinishedText();

    CTessolApp& app_;
    std::array<QCheckBox*, 4> lines_ {};
    QSpinBox* first_ = nullptr;
    QSpinBox* last_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* close_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* status_ = nullptr;
    QTableWidget* table_ = nullptr;
    QTimer* refresh_ = nullptr;
    std::map<std::pair<int, int>, int> rows_;
    // Unit numbers that answered on more than one line.
    std::set<int> shared_;
    bool running_ = false;
    std::int64_t startedAt_ = 0;
};
