#include "app/OverviewWindow.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/Controller.h"
#include "config/ReadingSampler.h"
#include "platform/Clock.h"
#include "config/ReadingsCsv.h"

#include <QDateTime>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

namespace {

// Sorts by the number a cell holds (its user data) where it has one.
class OverviewRow : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() != nullptr ? treeWidget()->sortColumn() : 0;
        const QVariant mine = data(column, Qt::UserRole);
        const QVariant theirs = other.data(column, Qt::UserRole);
        if (mine.isValid() && theirs.isValid())
            return mine.toDouble() < theirs.toDouble();
        if (mine.isValid() != theirs.isValid())
            return mine.isValid(); // rows without a number last
        return text(column) < other.text(column);
    }
};

const char* const kHeaders[OverviewWindow::kColumnCount] = {
    "Line", "Unit", "Serial", "Actual", "Set point", "TE current", "Output", "State", "Alarm", "Age (s)", "Settings",
};

// A reading's text with its unit, and its number for sorting; blank while
// none stands.
void setReading(QTreeWidgetItem* row, int column, const ReadingSampler::Taken& taken, const char* unit)
{
    if (taken.at < 0 || taken.text.empty() || taken.text == csvlog::kNoReading) {
        row->setText(column, QString());
        row->setData(column, Qt::UserRole, QVariant());
        return;
    }
    row->setText(column, QString::fromStdString(taken.text) + QStringLiteral(" ") + QString::fromUtf8(unit));
    row->setData(column, Qt::UserRole, QString::fromStdString(taken.text).trimmed().toDouble());
}

QString lineName(const CTqk5820ConfigDoc& doc)
{
    return doc.GetPortIndex() >= 0 ? QStringLiteral("COM%1").arg(doc.GetPortIndex() + 1) : QStringLiteral("-");
}

} // namespace

OverviewWindow::OverviewWindow(std::function<std::vector<Controller*>()> controllers, Actions actions,
                               const Clock& clock, QWidget* parent)
    : QWidget(parent)
    , controllers_(std::move(controllers))
    , actions_(std::move(actions))
    , clock_(clock)
    , table_(new QTreeWidget(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(table_);
    table_->setColumnCount(kColumnCount);
    QStringList headers;
    for (const char* header : kHeaders)
        headers << QString::fromUtf8(header);
    table_->setHeaderLabels(headers);
    table_->setRootIsDecorated(false);
    table_->setUniformRowHeights(true);
    table_->setAllColumnsShowFocus(true);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setSortingEnabled(true);
    table_->sortByColumn(kLine, Qt::AscendingOrder);
    table_->setContextMenuPolicy(Qt::CustomContextMenu);
    table_->installEventFilter(this);
    connect(table_, &QTreeWidget::customContextMenuRequested, this, &OverviewWindow::ShowMenu);
    // Double-click; Enter is taken in the event filter, for every style.
    connect(table_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
        for (const auto& [controller, row] : rows_) {
            if (row == item && actions_.open)
                actions_.open(*const_cast<Controller*>(controller));
        }
    });
    // Wide enough for the widest text of each column ("stopped answering
    // 14:02:11", "-123.456 kΩ") and for its header.
    const QFontMetrics metrics(table_->font());
    const char* const widest[kColumnCount] = {"COM4", "99", "(none)WW", "-123.456 kΩ", "-123.456 kΩ",
                                              "-10.000 A", "off", "stopped answering 00:00:00W",
                                              "MAJOR: stopped answering", "999.9",
                                              "settings differ from line7.tsc: P, I"};
    int total = 0;
    for (int c = 0; c < kColumnCount; ++c) {
        const int width = std::max(metrics.horizontalAdvance(QString::fromUtf8(widest[c])),
                                   metrics.horizontalAdvance(QString::fromUtf8(kHeaders[c])) + 16)
            + 16;
        table_->setColumnWidth(c, width);
        total += width;
    }
    resize(total + 24, 22 * metrics.height() + 40);
}

QString OverviewWindow::StateText(const Controller& controller, bool halted)
{
    if (halted)
        return QStringLiteral("polling halted");
    switch (controller.GetState()) {
    case Controller::State::kOnline: return QStringLiteral("online");
    case Controller::State::kInstrumentError: return QStringLiteral("instrument error");
    case Controller::State::kNoPort: return QStringLiteral("line not open");
    case Controller::State::kNotYetAnswered: return QStringLiteral("not answering");
    case Controller::State::kStoppedAnswering:
        return QStringLiteral("stopped answering ")
            + QDateTime::fromMSecsSinceEpoch(controller.OfflineSince()).toString(QStringLiteral("HH:mm:ss"));
    }
    return {};
}

void OverviewWindow::SetExpectedSerial(const Controller* controller, const QString& serial)
{
    if (serial.isEmpty())
        expectedSerial_.erase(controller);
    else
        expectedSerial_[controller] = serial;
}

void OverviewWindow::Refresh(bool halted)
{
    const std::vector<Controller*> watched = controllers_();
    const std::set<const Controller*> present(watched.begin(), watched.end());
    for (auto it = rows_.begin(); it != rows_.end();) {
        if (present.count(it->first) == 0) {
            delete it->second;
            expectedSerial_.erase(it->first);
            it = rows_.erase(it);
        } else {
            ++it;
        }
    }
    // Sorting waits while the texts change, so rows do not jump under
    // each other's feet mid-refresh.
    table_->setSortingEnabled(false);
    for (Controller* controller : watched) {
        QTreeWidgetItem*& row = rows_[controller];
        if (row == nullptr)
            row = new OverviewRow(table_);
        Fill(row, *controller, halted);
    }
    table_->setSortingEnabled(true);
}

void OverviewWindow::Fill(QTreeWidgetItem* row, const Controller& controller, bool halted)
{
    const CTqk5820ConfigDoc& doc = controller.Doc();
    const ReadingSampler& sampler = controller.Sampler();
    row->setText(kLine, lineName(doc));
    row->setData(kLine, Qt::UserRole, doc.GetPortIndex() * 100 + doc.GetUnitNumber());
    row->setText(kUnit, doc.GetUnitNumber() > 0 ? QStringLiteral("%1").arg(doc.GetUnitNumber(), 2, 10, QLatin1Char('0'))
                                                : QStringLiteral("-"));
    row->setData(kUnit, Qt::UserRole, doc.GetUnitNumber());
    const QString serial = QString::fromStdString(controller.Serial());
    // The serial number of a unit never given one.
    row->setText(kSerial, serial == QLatin1String("CALLKV") ? QStringLiteral("(none)") : serial);
    const bool resistance = sampler.GetMode() == ReadingSampler::kResistance;
    const char* unit = resistance ? "kΩ" : "°C";
    setReading(row, kActual, sampler.Newest(ReadingSampler::kActual), unit);
    setReading(row, kSetPoint, sampler.Newest(ReadingSampler::kSetPoint), unit);
    setReading(row, kCurrent, sampler.Newest(ReadingSampler::kCurrent), "A");

    const ReadingSampler::Taken& output = sampler.Newest(ReadingSampler::kOutput);
    const std::string& word = output.at >= 0 ? output.text : doc.ValueText(pn::kOutputState);
    const bool known = doc.IsOnline() && !halted && word.size() == 8;
    const bool on = known && Controller::OutputOn(word);
    row->setText(kOutput, !known ? QString() : on ? QStringLiteral("ON") : QStringLiteral("off"));
    row->setBackground(kOutput, on ? QBrush(QColor(0, 200, 0)) : QBrush());

    QString state = StateText(controller, halted);
    const auto expected = expectedSerial_.find(&controller);
    const bool swapped = expected != expectedSerial_.end() && !serial.isEmpty() && serial != expected->second;
    if (swapped)
        state = QStringLiteral("other instrument: serial %1, was %2").arg(serial, expected->second);
    // A tuning says what it does while it runs; its end stays in the
    // tooltip until the next.
    QString tuning;
    if (const TuneRun* run = controller.Tune()) {
        tuning = QString::fromStdString(run->StatusText());
        if (!run->Finished())
            state = QStringLiteral("tuning: ") + tuning;
        else
            state += run->Tuned() ? QStringLiteral(" (tuned)") : QStringLiteral(" (tuning stopped)");
    }
    row->setText(kState, state);
    row->setToolTip(kState, tuning);
    const Controller::State s = controller.GetState();
    const bool trouble = swapped || (!halted && s != Controller::State::kOnline);
    row->setForeground(kState, trouble ? QBrush(QColor(200, 0, 0)) : QBrush());

    const ReadingSampler::Taken& actual = sampler.Newest(ReadingSampler::kActual);
    if (actual.at >= 0 && !halted) {
        const double age = static_cast<double>(std::max<std::int64_t>(0, clock_.utcMillis() - actual.at)) / 1000.0;
        row->setText(kAge, QString::number(age, 'f', 1));
        row->setData(kAge, Qt::UserRole, age);
    } else {
        row->setText(kAge, QString());
        row->setData(kAge, Qt::UserRole, QVariant());
    }
    // Said in words, so that the colour is not the only sign.
    row->setText(kAlarm, QString::fromStdString(controller.AlarmText()));
    const std::vector<alarms::Active> raised = controller.Alarms().Raised();
    const bool major = std::any_of(raised.begin(), raised.end(), [](const alarms::Active& a) {
        return a.severity == alarms::Severity::kMajor && !a.acknowledged;
    });
    const bool minor = !major && std::any_of(raised.begin(), raised.end(), [](const alarms::Active& a) { return !a.acknowledged; });
    row->setBackground(kAlarm, major ? QBrush(QColor(255, 120, 120)) : minor ? QBrush(QColor(255, 230, 110)) : QBrush());
    row->setText(kSettings, QString::fromStdString(controller.Drift()));
    row->setForeground(kSettings, QBrush(QColor(200, 0, 0)));
    row->setToolTip(kSettings, controller.SettingsPath().empty()
                                   ? QString()
                                   : QStringLiteral("Last applied: %1").arg(QString::fromStdString(controller.SettingsPath())));
}

QTreeWidgetItem* OverviewWindow::RowOf(const Controller* controller) const
{
    const auto it = rows_.find(controller);
    return it != rows_.end() ? it->second : nullptr;
}

std::vector<Controller*> OverviewWindow::Selected() const
{
    std::vector<Controller*> chosen;
    for (const auto& [controller, row] : rows_) {
        if (row->isSelected())
            chosen.push_back(const_cast<Controller*>(controller));
    }
    // In the order the rows show them.
    std::sort(chosen.begin(), chosen.end(), [this](const Controller* a, const Controller* b) {
        return table_->indexOfTopLevelItem(RowOf(a)) < table_->indexOfTopLevelItem(RowOf(b));
    });
    return chosen;
}

bool OverviewWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == table_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && actions_.open) {
            QTreeWidgetItem* current = table_->currentItem();
            for (const auto& [controller, row] : rows_) {
                if (row == current) {
                    actions_.open(*const_cast<Controller*>(controller));
                    return true;
                }
            }
        }
        if (key->key() == Qt::Key_Delete && actions_.stopWatching) {
            const std::vector<Controller*> chosen = Selected();
            if (!chosen.empty())
                actions_.stopWatching(chosen);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void OverviewWindow::ShowMenu(const QPoint& at)
{
    const std::vector<Controller*> chosen = Selected();
    if (chosen.empty())
        return;
    QMenu menu(this);
    QAction* open = menu.addAction(QStringLiteral("&Open Window"));
    open->setEnabled(chosen.size() == 1);
    menu.addSeparator();
    QAction* off = menu.addAction(QStringLiteral("Output &Off"));
    QAction* setPoint = menu.addAction(QStringLiteral("&Set Point..."));
    menu.addSeparator();
    QAction* startLog = menu.addAction(QStringLiteral("Start &Logging"));
    QAction* stopLog = menu.addAction(QStringLiteral("Sto&p Logging"));
    menu.addSeparator();
    QAction* rules = menu.addAction(QStringLiteral("Alarm &Rules..."));
    QAction* acknowledge = menu.addAction(QStringLiteral("Ac&knowledge Alarms"));
    acknowledge->setEnabled(std::any_of(chosen.begin(), chosen.end(), [](const Controller* c) { return !c->Alarms().Raised().empty(); }));
    menu.addSeparator();
    QAction* apply = menu.addAction(QStringLiteral("&Apply Settings..."));
    QAction* dismiss = menu.addAction(QStringLiteral("&Dismiss Settings Difference"));
    dismiss->setEnabled(std::any_of(chosen.begin(), chosen.end(), [](const Controller* c) { return !c->Drift().empty(); }));
    QAction* program = menu.addAction(QStringLiteral("Run Pro&gram..."));
    QAction* tune = menu.addAction(QStringLiteral("T&une"));
    QAction* cancelTune = menu.addAction(QStringLiteral("Cancel Tu&ning"));
    cancelTune->setEnabled(std::any_of(chosen.begin(), chosen.end(), [](const Controller* c) { return c->TuneRunning(); }));
    menu.addSeparator();
    QAction* stop = menu.addAction(QStringLiteral("Stop &watching\tDel"));
    QAction* picked = menu.exec(table_->viewport()->mapToGlobal(at));
    if (picked == nullptr)
        return;
    if (picked == open && actions_.open) {
        actions_.open(*chosen.front());
        return;
    }
    // Every other entry acts on the selected rows.
    using Group = std::function<void(const std::vector<Controller*>&)>;
    const std::pair<QAction*, const Group*> entries[] = {
        {off, &actions_.outputOff},         {setPoint, &actions_.setPoint},   {startLog, &actions_.startLogging},
        {stopLog, &actions_.stopLogging},   {stop, &actions_.stopWatching},   {apply, &actions_.applySettings},
        {dismiss, &actions_.dismissDrift},  {rules, &actions_.alarmRules},    {acknowledge, &actions_.acknowledge},
        {program, &actions_.runProgram},    {tune, &actions_.tune},           {cancelTune, &actions_.cancelTune},
    };
    for (const auto& [entry, action] : entries) {
        if (picked == entry && *action)
            (*action)(chosen);
    }
}
