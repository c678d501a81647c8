#include "app/FindControllersDialog.h"

#include "app/CKvtDocTemplate.h"
#include "app/CTessolApp.h"
#include "app/Floor.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/SensorTypeTracker.h"
#include "config/UnitRegistry.h"
#include "link/InstrumentLink.h"
#include "link/ParameterNumbers.h"
#include "link/UnitScanner.h"
#include "platform/Clock.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// The dialog shows how the search goes this often; the search itself runs
// in the idle pass.
constexpr int kRefreshMs = 100;

QString lineName(int port)
{
    return QStringLiteral("COM%1").arg(port + 1);
}

QString shown(const std::string& text)
{
    return QString::fromStdString(text).trimmed();
}

// A firmware version as the Info panel shows it ("1.3"), or the text as it
// came when it is no number.
QString versionText(const std::string& text)
{
    bool number = false;
    const double version = QString::fromStdString(text).trimmed().toDouble(&number);
    return number ? QString::number(version, 'f', 1) : shown(text);
}

QString sensorName(int type)
{
    const char* name = SensorTypeTracker::TypeName(type);
    return *name != '\0' ? QString::fromLatin1(name) : QString();
}

// The open controller window on (port, unit), or null.
CTqk5820ConfigDoc* openDocument(CTessolApp& app, int port, int unit)
{
    for (Document* doc : app.ConfigTemplate().GetDocuments()) {
        auto* config = static_cast<CTqk5820ConfigDoc*>(doc);
        if (config->GetPortIndex() == port && config->GetUnitNumber() == unit)
            return config;
    }
    return nullptr;
}

} // namespace

FindControllersDialog::FindControllersDialog(CTessolApp& app, QWidget* parent)
    : QDialog(parent)
    , app_(app)
{
    setWindowTitle(QStringLiteral("Find Controllers"));

    auto* linesBox = new QGroupBox(QStringLiteral("Lines"), this);
    auto* linesRow = new QHBoxLayout(linesBox);
    for (int port = 0; port < InstrumentLink::kPortCount; ++port) {
        auto* box = new QCheckBox(QStringLiteral("COM&%1").arg(port + 1), linesBox);
        box->setChecked(true);
        lines_[static_cast<std::size_t>(port)] = box;
        linesRow->addWidget(box);
    }
    linesRow->addSpacing(12);
    first_ = new QSpinBox(linesBox);
    last_ = new QSpinBox(linesBox);
    for (QSpinBox* box : {first_, last_})
        box->setRange(1, 99);
    last_->setValue(99);
    auto* unitsLabel = new QLabel(QStringLiteral("&Units"), linesBox);
    unitsLabel->setBuddy(first_);
    linesRow->addWidget(unitsLabel);
    linesRow->addWidget(first_);
    linesRow->addWidget(new QLabel(QStringLiteral("to"), linesBox));
    linesRow->addWidget(last_);
    linesRow->addStretch(1);
    start_ = new QPushButton(QStringLiteral("&Start"), linesBox);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), linesBox);
    linesRow->addWidget(start_);
    linesRow->addWidget(cancel_);

    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1);
    progress_->setValue(0);
    progress_->setFormat(QStringLiteral("%v of %m addresses"));
    status_ = new QLabel(QStringLiteral("The units are probed on each line checked, all lines at once."), this);
    status_->setWordWrap(true);
    // Room for the result and a failed line or two, so the table stays put.
    status_->setMinimumHeight(3 * status_->fontMetrics().lineSpacing());
    status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    table_ = new QTableWidget(0, kColumnCount, this);
    table_->setHorizontalHeaderLabels({QStringLiteral("Line"), QStringLiteral("Unit"), QStringLiteral("Serial Number"),
                                       QStringLiteral("Firmware"), QStringLiteral("Sensor Type"), QStringLiteral("State")});
    table_->verticalHeader()->hide();
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setMinimumHeight(160);

    add_ = new QPushButton(QStringLiteral("&Add"), this);
    add_->setToolTip(QStringLiteral("Opens a controller window for each unit checked"));
    close_ = new QPushButton(QStringLiteral("Close"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(add_);
    buttons->addWidget(close_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(linesBox);
    layout->addWidget(progress_);
    layout->addWidget(status_);
    layout->addWidget(table_, 1);
    layout->addLayout(buttons);
    resize(660, 480);

    connect(start_, &QPushButton::clicked, this, &FindControllersDialog::StartSearch);
    connect(cancel_, &QPushButton::clicked, this, &FindControllersDialog::CancelSearch);
    connect(add_, &QPushButton::clicked, this, [this] {
        if (AddChosen() > 0)
            accept();
    });
    connect(close_, &QPushButton::clicked, this, &FindControllersDialog::reject);
    refresh_ = new QTimer(this);
    refresh_->setInterval(kRefreshMs);
    connect(refresh_, &QTimer::timeout, this, &FindControllersDialog::Refresh);
    SetRunning(false);
}

FindControllersDialog::~FindControllersDialog()
{
    CancelSearch();
}

void FindControllersDialog::reject()
{
    CancelSearch();
    QDialog::reject();
}

void FindControllersDialog::StartSearch()
{
    std::vector<int> ports;
    for (int port = 0; port < InstrumentLink::kPortCount; ++port) {
        if (lines_[static_cast<std::size_t>(port)]->isChecked())
            ports.push_back(port);
    }
    if (ports.empty()) {
        status_->setText(QStringLiteral("Check at least one line."));
        return;
    }
    // The search runs in the idle pass, which Halt All holds.
    if (!app_.IsPolling()) {
        status_->setText(QStringLiteral("The instruments are halted: Run, Restart All first."));
        return;
    }
    // A unit an open window watches is not probed: the window's document
    // takes every reply of its unit. Its row says so.
    std::vector<UnitAddress> watched;
    for (Document* doc : app_.ConfigTemplate().GetDocuments()) {
        const auto* config = static_cast<const CTqk5820ConfigDoc*>(doc);
        if (config->GetUnitNumber() > 0)
            watched.push_back({config->GetPortIndex(), config->GetUnitNumber()});
    }
    table_->setRowCount(0);
    rows_.clear();
    shared_.clear();
    startedAt_ = app_.GetClock().utcMillis();
    const int first = std::min(first_->value(), last_->value());
    const int last = std::max(first_->value(), last_->value());
    app_.Scanner().start(ports, first, last, watched);
    status_->setText(QStringLiteral("Probing..."));
    SetRunning(true);
    Refresh();
}

void FindControllersDialog::CancelSearch()
{
    if (!running_)
        return;
    app_.Scanner().cancel();
    Refresh();
}

void FindControllersDialog::SetRunning(bool running)
{
    running_ = running;
    start_->setEnabled(!running);
    cancel_->setEnabled(running);
    for (QCheckBox* box : lines_)
        box->setEnabled(!running);
    first_->setEnabled(!running);
    last_->setEnabled(!running);
    if (running)
        refresh_->start();
    else
        refresh_->stop();
}

int FindControllersDialog::RowOf(int port, int unit)
{
    const auto key = std::make_pair(port, unit);
    const auto it = rows_.find(key);
    if (it != rows_.end())
        return it->second;
    // Rows stay in order of line and unit as they come.
    int row = 0;
    for (const auto& [k, r] : rows_) {
        if (k < key)
            row = std::max(row, r + 1);
    }
    for (auto& [k, r] : rows_) {
        if (r >= row)
            ++r;
    }
    table_->insertRow(row);
    for (int c = 0; c < kColumnCount; ++c)
        table_->setItem(row, c, new QTableWidgetItem);
    table_->item(row, kLine)->setText(lineName(port));
    table_->item(row, kUnit)->setText(QStringLiteral("%1").arg(unit, 2, 10, QLatin1Char('0')));
    table_->item(row, kUnit)->setTextAlignment(Qt::AlignCenter);
    rows_[key] = row;
    return row;
}

void FindControllersDialog::Refresh()
{
    UnitScanner& scanner = app_.Scanner();
    progress_->setRange(0, std::max(1, scanner.total()));
    progress_->setValue(scanner.probed());
    const std::vector<UnitScanner::Unit> units = scanner.units();
    // The lines each unit number answered on: unit numbers are unique in
    // the program, so only one of them can be added.
    std::map<int, std::vector<int>> linesOf;
    for (const UnitScanner::Unit& u : units)
        linesOf[u.unit].push_back(u.port);
    for (const UnitScanner::Unit& u : units) {
        const bool known = rows_.count({u.port, u.unit}) != 0;
        const int row = RowOf(u.port, u.unit);
        QTableWidgetItem* line = table_->item(row, kLine);
        QString state;
        bool choosable = false;
        if (u.watched) {
            state = QStringLiteral("window open");
            // What the window's document knows of it.
            if (CTqk5820ConfigDoc* doc = openDocument(app_, u.port, u.unit); doc != nullptr && doc->IsOnline()) {
                std::string text;
                if (doc->GetText(pn::kSerialNumber, text))
                    table_->item(row, kSerial)->setText(shown(text));
                if (doc->GetText(pn::kFirmwareVersion, text))
                    table_->item(row, kFirmware)->setText(versionText(text));
                table_->item(row, kSensor)->setText(sensorName(doc->GetSensorType()));
            } else {
                state = QStringLiteral("window open, offline");
            }
        } else {
            const auto& c = u.sensorCodes;
            table_->item(row, kSerial)->setText(shown(u.serial));
            table_->item(row, kFirmware)->setText(versionText(u.firmware));
            table_->item(row, kSensor)->setText(sensorName(SensorTypeTracker::ClassifyTexts(c[0], c[1], c[2], c[3])));
            choosable = !UnitRegistry::program().inUse(u.unit);
            state = choosable ? QStringLiteral("found") : QStringLiteral("number in use");
            for (int other : linesOf[u.unit]) {
                if (other != u.port)
                    state += QStringLiteral(", also on ") + lineName(other);
            }
        }
        // Where a number answered on several lines, the user picks one: all
        // of them go unchecked once, when the number is first seen twice.
        const bool alone = linesOf[u.unit].size() == 1;
        if (!alone && shared_.insert(u.unit).second) {
            for (int other : linesOf[u.unit]) {
                const auto found = rows_.find({other, u.unit});
                if (found != rows_.end())
                    table_->item(found->second, kLine)->setCheckState(Qt::Unchecked);
            }
        }
        table_->item(row, kState)->setText(state);
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (choosable)
            flags |= Qt::ItemIsUserCheckable;
        line->setFlags(flags);
        if (!known || !choosable)
            line->setCheckState(choosable && alone ? Qt::Checked : Qt::Unchecked);
    }
    table_->resizeColumnsToContents();
    if (!scanner.finished())
        return;
    SetRunning(false);
    FinishedText();
}

void FindControllersDialog::FinishedText()
{
    UnitScanner& scanner = app_.Scanner();
    int found = 0;
    for (const UnitScanner::Unit& u : scanner.units())
        found += u.watched ? 0 : 1;
    const double seconds = static_cast<double>(app_.GetClock().utcMillis() - startedAt_) / 1000.0;
    QString text = scanner.cancelled()
        ? QStringLiteral("Cancelled after %1 of %2 addresses.").arg(scanner.probed()).arg(scanner.total())
        : QStringLiteral("%1 controller(s) found in %2 s.").arg(found).arg(seconds, 0, 'f', 1);
    for (const UnitScanner::Failure& f : scanner.failures())
        text += QStringLiteral("\n") + QString::fromStdString(f.error);
    status_->setText(text);
}

int FindControllersDialog::AddChosen()
{
    std::vector<std::pair<int, int>> chosen;
    for (const auto& [key, row] : rows_) {
        const QTableWidgetItem* line = table_->item(row, kLine);
        if ((line->flags() & Qt::ItemIsUserCheckable) && line->checkState() == Qt::Checked)
            chosen.push_back(key);
    }
    int added = 0;
    int taken = 0;
    for (const auto& [port, unit] : chosen) {
        // Two lines may have a unit of the same number; the first goes.
        if (UnitRegistry::program().inUse(unit)) {
            ++taken;
            continue;
        }
        // Watched from the overview; a double-click there opens its window.
        if (app_.GetFloor().Watch(port, unit, false, false) != nullptr)
            ++added;
    }
    if (taken > 0)
        status_->setText(QStringLiteral("%1 of %2 added; the others' unit numbers are already in use.")
                             .arg(added)
                             .arg(chosen.size()));
    return added;
}
