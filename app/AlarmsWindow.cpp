#include "app/AlarmsWindow.h"

#include "app/Floor.h"
#include "config/Controller.h"
#include "config/ReadingsCsv.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const char* const kHeaders[AlarmsWindow::kColumnCount] = {"Time", "Controller", "Rule", "Severity", "Event", "Value"};

// A row's controller and rule, for Acknowledge.
constexpr int kControllerRole = Qt::UserRole;
constexpr int kRuleRole = Qt::UserRole + 1;

} // namespace

AlarmsWindow::AlarmsWindow(std::function<void(Controller&, alarms::Rule)> acknowledge,
                           std::function<void()> acknowledgeAll, QWidget* parent)
    : QWidget(parent)
    , acknowledge_(std::move(acknowledge))
    , table_(new QTreeWidget(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(table_);
    QStringList headers;
    for (const char* h : kHeaders)
        headers << QString::fromUtf8(h);
    table_->setHeaderLabels(headers);
    table_->setRootIsDecorated(false);
    table_->setUniformRowHeights(true);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    const QFontMetrics metrics(table_->font());
    const char* const widest[kColumnCount] = {"2026-12-09 14:02:11W", "COM2 unit 07W", "stopped answeringW", "majorW",
                                              "acknowledgedW", "-123.456W"};
    int total = 0;
    for (int c = 0; c < kColumnCount; ++c) {
        table_->setColumnWidth(c, metrics.horizontalAdvance(QString::fromUtf8(widest[c])) + 16);
        total += table_->columnWidth(c);
    }
    auto* buttons = new QHBoxLayout;
    auto* one = new QPushButton(QStringLiteral("&Acknowledge"), this);
    auto* all = new QPushButton(QStringLiteral("Acknowledge A&ll"), this);
    buttons->addStretch(1);
    buttons->addWidget(one);
    buttons->addWidget(all);
    layout->addLayout(buttons);
    connect(one, &QPushButton::clicked, this, &AlarmsWindow::AcknowledgeSelected);
    connect(all, &QPushButton::clicked, this, [acknowledgeAll] {
        if (acknowledgeAll)
            acknowledgeAll();
    });
    resize(total + 24, 16 * metrics.height() + 60);
}

void AlarmsWindow::Add(const Controller& controller, const alarms::Event& e)
{
    auto* row = new QTreeWidgetItem;
    row->setText(kTime, QDateTime::fromMSecsSinceEpoch(e.utcMillis).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    row->setText(kController, QString::fromStdString(Floor::UnitName(controller)));
    row->setText(kRule, QString::fromUtf8(alarms::RuleName(e.rule)));
    row->setText(kSeverity, QString::fromUtf8(alarms::SeverityName(e.severity)));
    row->setText(kEvent, QString::fromUtf8(alarms::WhatName(e.what)));
    if (e.value)
        row->setText(kValue, QString::fromStdString(csvlog::number(*e.value)));
    if (e.what == alarms::Event::What::kRaised)
        row->setBackground(kSeverity, e.severity == alarms::Severity::kMajor ? QBrush(QColor(255, 120, 120))
                                                                            : QBrush(QColor(255, 230, 110)));
    row->setData(kController, kControllerRole, QVariant::fromValue(static_cast<void*>(const_cast<Controller*>(&controller))));
    row->setData(kController, kRuleRole, static_cast<int>(e.rule));
    table_->insertTopLevelItem(0, row);
    while (table_->topLevelItemCount() > kMaxRows)
        delete table_->takeTopLevelItem(table_->topLevelItemCount() - 1);
}

void AlarmsWindow::Forget(const Controller* controller)
{
    for (int i = 0; i < table_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = table_->topLevelItem(i);
        if (row->data(kController, kControllerRole).value<void*>() == controller)
            row->setData(kController, kControllerRole, QVariant());
    }
}

void AlarmsWindow::AcknowledgeSelected()
{
    for (QTreeWidgetItem* row : table_->selectedItems()) {
        auto* controller = static_cast<Controller*>(row->data(kController, kControllerRole).value<void*>());
        if (controller != nullptr && acknowledge_)
            acknowledge_(*controller, static_cast<alarms::Rule>(row->data(kController, kRuleRole).toInt()));
    }
}

AlarmRulesDialog::AlarmRulesDialog(const std::vector<Controller*>& controllers, QWidget* parent)
    : QDialog(parent)
    , controllers_(controllers)
{
    setWindowTitle(QStringLiteral("Alarm Rules"));
    auto* layout = new QVBoxLayout(this);
    QString names;
    for (const Controller* c : controllers_)
        names += (names.isEmpty() ? "" : ", ") + QString::fromStdString(Floor::UnitName(*c));
    auto* heading = new QLabel(QStringLiteral("Alarm rules of %1. Values and hysteresis are in the controller's unit"
                                              " (°C, or kΩ in a resistance mode; the current rule's in A); delays in"
                                              " seconds. The instrument's own limits are not changed.")
                                   .arg(names),
                               this);
    heading->setWordWrap(true);
    layout->addWidget(heading);
    auto* grid = new QGridLayout;
    const char* const columns[] = {"Rule", "Severity", "Value", "Hysteresis", "Delay (s)", "Latched"};
    for (int c = 0; c < 6; ++c)
        grid->addWidget(new QLabel(QString::fromUtf8(columns[c]), this), 0, c);
    const alarms::AlarmSet& first = controllers_.front()->Alarms();
    for (int r = 0; r < alarms::kRuleCount; ++r) {
        const auto rule = static_cast<alarms::Rule>(r);
        Row& row = rows_[static_cast<std::size_t>(r)];
        row.on = new QCheckBox(QString::fromUtf8(alarms::RuleName(rule)), this);
        row.severity = new QComboBox(this);
        row.severity->addItems({QStringLiteral("minor"), QStringLiteral("major")});
        const auto spin = [this](double low, double high, int decimals) {
            auto* box = new QDoubleSpinBox(this);
            box->setRange(low, high);
            box->setDecimals(decimals);
            return box;
        };
        row.value = spin(-999.999, 9999.999, 3);
        row.hysteresis = spin(0, 999.999, 3);
        row.delay = spin(0, 86400, 1);
        row.latched = new QCheckBox(this);
        // The rules without a value of their own.
        const bool valued = rule == alarms::Rule::kAbove || rule == alarms::Rule::kBelow || rule == alarms::Rule::kDeviation;
        row.value->setEnabled(valued);
        grid->addWidget(row.on, r + 1, 0);
        grid->addWidget(row.severity, r + 1, 1);
        grid->addWidget(row.value, r + 1, 2);
        grid->addWidget(row.hysteresis, r + 1, 3);
        grid->addWidget(row.delay, r + 1, 4);
        grid->addWidget(row.latched, r + 1, 5);
        SetRule(rule, first.Get(rule));
    }
    layout->addLayout(grid);
    opened_ = Rules();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        Apply();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void AlarmRulesDialog::SetRule(alarms::Rule rule, const alarms::Setting& s)
{
    Row& row = rows_[static_cast<std::size_t>(rule)];
    row.on->setChecked(s.on);
    row.severity->setCurrentIndex(s.severity == alarms::Severity::kMajor ? 1 : 0);
    row.value->setValue(s.value);
    row.hysteresis->setValue(s.hysteresis);
    row.delay->setValue(s.delaySeconds);
    row.latched->setChecked(s.latched);
}

std::array<alarms::Setting, alarms::kRuleCount> AlarmRulesDialog::Rules() const
{
    std::array<alarms::Setting, alarms::kRuleCount> rules {};
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        const Row& row = rows_[r];
        alarms::Setting& s = rules[r];
        s.on = row.on->isChecked();
        s.severity = row.severity->currentIndex() == 1 ? alarms::Severity::kMajor : alarms::Severity::kMinor;
        s.value = row.value->value();
        s.hysteresis = row.hysteresis->value();
        s.delaySeconds = row.delay->value();
        s.latched = row.latched->isChecked();
    }
    return rules;
}

void AlarmRulesDialog::Apply()
{
    const auto same = [](const alarms::Setting& a, const alarms::Setting& b) {
        return a.on == b.on && a.severity == b.severity && a.value == b.value && a.hysteresis == b.hysteresis
            && a.delaySeconds == b.delaySeconds && a.latched == b.latched;
    };
    const auto rules = Rules();
    for (int r = 0; r < alarms::kRuleCount; ++r) {
        const auto rule = static_cast<alarms::Rule>(r);
        const alarms::Setting& wanted = rules[static_cast<std::size_t>(r)];
        if (same(wanted, opened_[static_cast<std::size_t>(r)]))
            continue;
        // A controller that has the rule already keeps its alarm.
        for (Controller* c : controllers_) {
            if (!same(c->Alarms().Get(rule), wanted))
                c->SetAlarm(rule, wanted);
        }
    }
    opened_ = rules;
}
