#include "app/SettingsDialog.h"

#include "app/Floor.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/Controller.h"
#include "config/SensorWords.h"
#include "config/SettingsJob.h"
#include "platform/TextFile.h"
#include "platform/UserPrompts.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace sf = settingsfile;

namespace {

constexpr const char* kCaption = "Apply Settings";

std::string fileName(const std::string& path)
{
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// At most `most` problems, one a line, and how many more there are.
std::string listed(const std::vector<sf::Problem>& problems, std::size_t most = 12)
{
    std::string text;
    for (std::size_t i = 0; i < problems.size() && i < most; ++i)
        text += sf::Describe(problems[i]) + "\n";
    if (problems.size() > most)
        text += "and " + std::to_string(problems.size() - most) + " more\n";
    return text;
}

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

QString valueText(const sf::Value* value, const std::string& unit)
{
    if (value == nullptr)
        return QStringLiteral("-");
    return QString::fromStdString(unit.empty() ? value->text : value->text + " " + unit);
}

} // namespace

namespace settingsdialog {

bool LoadForApply(const std::string& path, UserPrompts& prompts, sf::Settings& settings)
{
    std::string text;
    std::string error;
    if (!readTextFile(path, sf::kMaxBytes + 1, text, error)) {
        prompts.messageBox(kCaption, error, MessageButtons::Ok, MessageIcon::Exclamation);
        return false;
    }
    const sf::Parsed parsed = sf::Parse(text);
    if (!parsed.errors.empty()) {
        prompts.messageBox(kCaption, fileName(path) + " cannot be applied; nothing is written:\n" + listed(parsed.errors),
                           MessageButtons::Ok, MessageIcon::Exclamation);
        return false;
    }
    const std::vector<sf::Problem> range = sf::RangeProblems(parsed.settings);
    if (!range.empty()) {
        prompts.messageBox(kCaption, fileName(path) + " has values the controller does not take; nothing is written:\n"
                               + listed(range),
                           MessageButtons::Ok, MessageIcon::Exclamation);
        return false;
    }
    if (!parsed.unknown.empty()
        && prompts.messageBox(kCaption, fileName(path) + " has settings this program does not know:\n"
                                  + listed(parsed.unknown) + "Skip them and apply the rest?",
                              MessageButtons::YesNo, MessageIcon::Exclamation)
            != MessageAnswer::Yes)
        return false;
    settings = parsed.settings;
    return true;
}

sf::Header HeaderFor(const Controller& controller)
{
    sf::Header header;
    header.savedBy = std::string("Tessol ") + TESSOL_VERSION;
    header.savedFrom = Floor::UnitName(controller);
    return header;
}

} // namespace settingsdialog

SettingsDialog::SettingsDialog(std::vector<Controller*> controllers, std::string path, sf::Settings file,
                               UserPrompts& prompts, QWidget* parent)
    : QDialog(parent)
    , controllers_(std::move(controllers))
    , path_(std::move(path))
    , file_(std::move(file))
    , prompts_(prompts)
    , table_(new QTreeWidget(this))
    , summary_(new QLabel(this))
    , apply_(nullptr)
    , timer_(new QTimer(this))
{
    setWindowTitle(QStringLiteral("%1 - %2").arg(QString::fromUtf8(kCaption), QString::fromStdString(fileName(path_))));
    auto* layout = new QVBoxLayout(this);
    auto* heading = new QLabel(QString::fromStdString(
        controllers_.size() == 1 ? "The file " + fileName(path_) + " and " + Floor::UnitName(*controllers_.front())
                                 : "The file " + fileName(path_) + " and " + std::to_string(controllers_.size())
                                     + " controllers"), this);
    layout->addWidget(heading);
    layout->addWidget(table_);
    layout->addWidget(summary_);
    summary_->setWordWrap(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    apply_ = buttons->addButton(QStringLiteral("&Apply"), QDialogButtonBox::ApplyRole);
    apply_->setEnabled(false);
    // The difference found when the controller came back, kept until
    // applied again or dismissed here (or in the overview's row menu).
    if (controllers_.size() == 1 && !controllers_.front()->Drift().empty()) {
        QPushButton* dismiss = buttons->addButton(QStringLiteral("&Dismiss Difference"), QDialogButtonBox::ActionRole);
        dismiss->setToolTip(QString::fromStdString(controllers_.front()->Drift()));
        connect(dismiss, &QPushButton::clicked, this, [this, dismiss] {
            controllers_.front()->DismissDrift();
            dismiss->setEnabled(false);
        });
    }
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(apply_, &QPushButton::clicked, this, [this] { Apply(); });

    table_->setRootIsDecorated(false);
    table_->setUniformRowHeights(true);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    if (controllers_.size() == 1)
        table_->setHeaderLabels({QStringLiteral("Setting"), QStringLiteral("File"), QStringLiteral("Unit"),
                                 QStringLiteral("Result")});
    else
        table_->setHeaderLabels({QStringLiteral("Controller"), QStringLiteral("Serial"), QStringLiteral("Sensor type"),
                                 QStringLiteral("Result")});
    const QFontMetrics metrics(table_->font());
    const int widths[] = {metrics.horizontalAdvance(QStringLiteral("high-temperature-limitWW")),
                          metrics.horizontalAdvance(QStringLiteral("Thermistor R modeWW")),
                          metrics.horizontalAdvance(QStringLiteral("Thermistor R modeWW")),
                          metrics.horizontalAdvance(QStringLiteral("not confirmed: coefficient-1, coefficient-2W"))};
    int total = 0;
    for (int c = 0; c < 4; ++c) {
        table_->setColumnWidth(c, widths[c]);
        total += widths[c];
    }
    table_->setMinimumWidth(total + 24);
    // Every row of one controller's settings in sight; many controllers
    // scroll past 24.
    const std::size_t rows = controllers_.size() == 1 ? file_.values.size() + 1 : controllers_.size();
    table_->setMinimumHeight(static_cast<int>(metrics.lineSpacing() * 1.25 * static_cast<double>(std::min<std::size_t>(rows, 24) + 2)));

    // Each controller's settings read afresh; a controller busy with a job
    // of its own is left to it and shown as such.
    for (Controller* controller : controllers_) {
        if (!controller->SettingsJobRunning())
            controller->StartSettingsJob(
                std::make_unique<SettingsJob>(controller->Doc(), controller->GetClock(), settingsdialog::HeaderFor(*controller)));
    }
    connect(timer_, &QTimer::timeout, this, &SettingsDialog::Follow);
    timer_->start(200);
    Follow();
}

bool SettingsDialog::Idle() const
{
    return std::none_of(controllers_.begin(), controllers_.end(),
                        [](const Controller* c) { return c->SettingsJobRunning(); });
}

QString SettingsDialog::Summary() const
{
    return summary_->text();
}

bool SettingsDialog::Apply()
{
    if (!Idle())
        return false;
    // Units of another sensor type change it only when the user says so.
    std::vector<std::string> other;
    for (const Controller* controller : controllers_) {
        const SettingsJob* job = controller->GetSettingsJob();
        if (job != nullptr && (job->GetEnd() == SettingsJob::End::kDone || job->GetEnd() == SettingsJob::End::kOtherType)
            && job->Unit().sensorType >= 0 && job->Unit().sensorType != file_.sensorType)
            other.push_back(Floor::UnitName(*controller) + " (" + sensorwords::TypeName(job->Unit().sensorType) + ")");
    }
    SettingsJob::Options options;
    if (!other.empty()) {
        options.changeSensorType
            = prompts_.messageBox(kCaption, fileName(path_) + " is for " + sensorwords::TypeName(file_.sensorType)
                                      + "; these have another sensor type: " + joined(other)
                                      + ".\nChange their sensor type to it? Its coefficients come from the file.",
                                  MessageButtons::YesNo, MessageIcon::Exclamation)
            == MessageAnswer::Yes;
    }
    for (Controller* controller : controllers_) {
        controller->StartSettingsJob(std::make_unique<SettingsJob>(controller->Doc(), controller->GetClock(),
                                                                   settingsdialog::HeaderFor(*controller), file_, options),
                                     path_);
    }
    applied_ = true;
    Follow();
    return true;
}

void SettingsDialog::Follow()
{
    if (controllers_.size() == 1)
        FillOne();
    else
        FillMany();
    apply_->setEnabled(Idle());
}

void SettingsDialog::FillOne()
{
    const Controller& controller = *controllers_.front();
    const SettingsJob* job = controller.GetSettingsJob();
    const bool done = job != nullptr && job->Finished();
    const bool read = done && (job->GetEnd() == SettingsJob::End::kDone || job->GetEnd() == SettingsJob::End::kGone);
    const sf::Settings& unit = job != nullptr ? job->Unit() : file_;
    std::vector<sf::Difference> rows = sf::Compare(file_, read ? unit : sf::Settings {});
    std::map<std::string, SettingsJob::Outcome> outcome;
    if (done && job->Applies())
        for (const SettingsJob::Row& r : job->Report())
            outcome[r.key] = r.outcome;
    int differing = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const sf::Difference& d = rows[i];
        if (table_->topLevelItemCount() <= static_cast<int>(i))
            new QTreeWidgetItem(table_);
        QTreeWidgetItem* row = table_->topLevelItem(static_cast<int>(i));
        row->setText(kName, QString::fromStdString(d.key));
        const sf::Value fileValue {d.key, d.file, 0};
        const sf::Value unitValue {d.key, d.instrument, 0};
        row->setText(kFile, d.file.empty() ? QStringLiteral("-") : valueText(&fileValue, d.unit));
        row->setText(kUnit, !read ? QString() : d.instrument.empty() ? QStringLiteral("-") : valueText(&unitValue, d.unit));
        QString result;
        if (outcome.count(d.key))
            result = QString::fromUtf8(SettingsJob::OutcomeText(outcome[d.key]));
        else if (read && d.differs)
            result = QStringLiteral("differs");
        row->setText(kResult, result);
        const bool bad = result == QLatin1String("refused") || result == QLatin1String("not confirmed");
        row->setForeground(kResult, bad ? QBrush(QColor(200, 0, 0)) : QBrush());
        QFont font = row->font(kUnit);
        font.setBold(read && d.differs);
        row->setFont(kUnit, font);
        differing += read && d.differs ? 1 : 0;
    }
    QString text;
    if (job == nullptr || !done) {
        text = job != nullptr && job->Applies() ? QStringLiteral("Applying the file...")
                                                : QStringLiteral("Reading the unit's settings...");
    } else {
        switch (job->GetEnd()) {
        case SettingsJob::End::kRunning: break;
        case SettingsJob::End::kNoAnswer:
            text = job->Opened() ? QStringLiteral("No answer for %1; nothing written.")
                                       .arg(QString::fromStdString(joined(job->Missing())))
                                 : QStringLiteral("The unit does not answer; nothing written.");
            break;
        case SettingsJob::End::kOtherType:
            text = QStringLiteral("The unit has another sensor type; nothing written.");
            break;
        case SettingsJob::End::kGone:
            text = QStringLiteral("The unit went away while the file was written: see what landed.");
            break;
        case SettingsJob::End::kDone:
            if (job->Applies()) {
                const auto report = job->Report();
                const bool whole = std::all_of(report.begin(), report.end(), [](const SettingsJob::Row& r) {
                    return r.outcome == SettingsJob::Outcome::kLanded || r.outcome == SettingsJob::Outcome::kAsItWas;
                });
                text = whole ? QStringLiteral("Applied: the unit has the file's settings, read back.")
                             : QStringLiteral("Applied, but not all of it: see the results.");
            } else {
                text = differing == 0 ? QStringLiteral("The unit has the file's %1 settings.").arg(rows.size())
                                      : QStringLiteral("%1 of %2 settings differ.").arg(differing).arg(rows.size());
            }
            break;
        }
    }
    summary_->setText(text);
}

void SettingsDialog::FillMany()
{
    int running = 0;
    for (std::size_t i = 0; i < controllers_.size(); ++i) {
        const Controller& controller = *controllers_[i];
        if (table_->topLevelItemCount() <= static_cast<int>(i))
            new QTreeWidgetItem(table_);
        QTreeWidgetItem* row = table_->topLevelItem(static_cast<int>(i));
        row->setText(kName, QString::fromStdString(Floor::UnitName(controller)));
        const SettingsJob* job = controller.GetSettingsJob();
        // The serial number as the job read it, else as last read; that of
        // a unit never given one is "(none)", as on the overview.
        std::string serial = job != nullptr && job->Finished() && !job->Unit().header.serialNumber.empty()
            ? job->Unit().header.serialNumber
            : controller.Serial();
        row->setText(1, serial == "CALLKV" ? QStringLiteral("(none)") : QString::fromStdString(serial));
        std::string result;
        bool bad = false;
        if (job == nullptr || !job->Finished()) {
            ++running;
            result = job != nullptr && job->Applies() ? "applying..." : "reading...";
        } else {
            if (job->Unit().sensorType >= 0)
                row->setText(2, QString::fromUtf8(sensorwords::TypeName(job->Unit().sensorType)));
            bad = true;
            switch (job->GetEnd()) {
            case SettingsJob::End::kRunning: break;
            case SettingsJob::End::kNoAnswer:
                result = job->Opened() ? "no answer for " + joined(job->Missing()) + "; nothing written"
                                       : "does not answer; nothing written";
                break;
            case SettingsJob::End::kOtherType: result = "another sensor type; nothing written"; break;
            case SettingsJob::End::kGone:
            case SettingsJob::End::kDone: {
                if (!job->Applies()) {
                    std::vector<std::string> differ;
                    for (const sf::Difference& d : sf::Compare(file_, job->Unit()))
                        if (d.differs)
                            differ.push_back(d.key);
                    bad = false;
                    result = differ.empty() ? "has the file's settings" : "differs: " + joined(differ);
                    break;
                }
                std::vector<std::string> landed, refused, unconfirmed;
                for (const SettingsJob::Row& r : job->Report()) {
                    if (r.outcome == SettingsJob::Outcome::kLanded)
                        landed.push_back(r.key);
                    else if (r.outcome == SettingsJob::Outcome::kRefused)
                        refused.push_back(r.key);
                    else if (r.outcome == SettingsJob::Outcome::kNotConfirmed)
                        unconfirmed.push_back(r.key);
                }
                if (job->GetEnd() == SettingsJob::End::kGone)
                    result = "went away; " + (landed.empty() ? std::string("nothing landed") : "landed: " + joined(landed));
                else if (!refused.empty())
                    result = "refused: " + joined(refused);
                else if (!unconfirmed.empty())
                    result = "not confirmed: " + joined(unconfirmed);
                else
                    result = landed.empty() ? "had the file's settings" : "landed: " + joined(landed);
                bad = job->GetEnd() == SettingsJob::End::kGone || !refused.empty() || !unconfirmed.empty();
                if (!refused.empty() && !unconfirmed.empty())
                    result += "; not confirmed: " + joined(unconfirmed);
                break;
            }
            }
        }
        row->setText(kResult, QString::fromStdString(result));
        row->setForeground(kResult, bad ? QBrush(QColor(200, 0, 0)) : QBrush());
    }
    summary_->setText(running > 0 ? QStringLiteral("%1 of %2 controllers still %3...")
                                        .arg(running)
                                        .arg(controllers_.size())
                                        .arg(applied_ ? QStringLiteral("applying") : QStringLiteral("reading"))
                                  : applied_ ? QStringLiteral("Applied to %1 controllers.").arg(controllers_.size())
                                             : QStringLiteral("Read from %1 controllers.").arg(controllers_.size()));
}
