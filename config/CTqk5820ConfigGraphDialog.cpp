#include "config/CTqk5820ConfigGraphDialog.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/CTqk5820ConfigView.h"
#include "controls/CLibLampStatic.h"
#include "platform/Clock.h"
#include "platform/qt/DialogBuilder.h"
#include "resources/DialogTemplates.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QStandardPaths>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Control ids of the panel's template.
constexpr int kIdChart = 1200;
constexpr int kIdSpan = 1201;
constexpr int kIdLog = 1202;
constexpr int kIdLogLamp = 1203;
constexpr int kIdLogCaption = 1204;

constexpr int kDefaultSpanIndex = 1;   // 5 minutes
// Samples further apart than this are not joined: the sampler did not run
// in between (the panel was hidden, or nothing was shown or logged).
constexpr std::int64_t kJoinMillis = 2500;
// Points that have scrolled out of view are removed in batches of this many.
constexpr int kTrimBatch = 30;

const QColor kChartBlack(0, 0, 0);
const QColor kTraceGreen(0, 255, 0);
const QColor kSetPointGreen(0, 190, 0);
const QColor kCurrentGreen(170, 255, 120);
const QColor kGridGreen(0, 70, 0);

const char* const kLogText = "Log...";
const char* const kStopLogText = "Stop Log";

QString valueTitle(ReadingSampler::Mode mode)
{
    if (mode == ReadingSampler::kResistance)
        return QString("Resistance (k") + QChar(0x03A9) + ")";
    return QString("Temperature (") + QChar(0x00B0) + "C)";
}

QLineSeries* makeSeries(const QColor& colour, Qt::PenStyle style, qreal width)
{
    auto* series = new QLineSeries;
    QPen pen(colour);
    pen.setStyle(style);
    pen.setWidthF(width);
    series->setPen(pen);
    return series;
}

void styleAxis(QAbstractAxis* axis, const QFont& font)
{
    axis->setLabelsColor(kTraceGreen);
    axis->setLabelsFont(font);
    axis->setTitleBrush(QBrush(kTraceGreen));
    axis->setTitleFont(font);
    axis->setLinePenColor(kTraceGreen);
    axis->setGridLineColor(kGridGreen);
    axis->setMinorGridLineVisible(false);
}

// Removes the points of `series` before `from`, once there are enough of them.
void trimSeries(QLineSeries* series, qreal from)
{
    int old = 0;
    while (old < series->count() && series->at(old).x() < from)
        ++old;
    // The last point before the span stays, so the curve enters at the edge.
    if (old - 1 >= kTrimBatch)
        series->removePoints(0, old - 1);
}

// [low, high] with a margin, never narrower than `least`.
void padRange(double& low, double& high, double least)
{
    if (high - low < least) {
        const double mid = (low + high) / 2;
        low = mid - least / 2;
        high = mid + least / 2;
    }
    const double margin = (high - low) * 0.08;
    low -= margin;
    high += margin;
}

// Sets the range (widened to round numbers) when it differs from the one
// asked for last time, which `asked` remembers.
void setRangeIfChanged(QValueAxis* axis, QPointF& asked, double low, double high)
{
    if (asked == QPointF(low, high))
        return;
    asked = QPointF(low, high);
    axis->setRange(low, high);
    axis->applyNiceNumbers();
}

} // namespace

CTqk5820ConfigGraphDialog::CTqk5820ConfigGraphDialog(QWidget* parent)
    : CTqk5820ConfigPanel(res::kGraphPanel, parent)
{
    chooser_ = [](QWidget* owner, const QString& suggested) {
        return QFileDialog::getSaveFileName(owner, kLogText, suggested, "CSV files (*.csv);;All files (*)");
    };
}

CTqk5820ConfigGraphDialog::~CTqk5820ConfigGraphDialog()
{
    Destroy();
}

const std::vector<int>& CTqk5820ConfigGraphDialog::Spans()
{
    static const std::vector<int> spans {1, 5, 15, 60};
    return spans;
}

int CTqk5820ConfigGraphDialog::SpanMinutes() const
{
    const int i = span_ != nullptr ? span_->currentIndex() : kDefaultSpanIndex;
    return Spans()[static_cast<std::size_t>(i >= 0 && i < static_cast<int>(Spans().size()) ? i : kDefaultSpanIndex)];
}

ReadingSampler& CTqk5820ConfigGraphDialog::Sampler() const
{
    return View().Sampler();
}

void CTqk5820ConfigGraphDialog::BindControls()
{
    logLamp_ = AttachControl<CLibLampStatic>(kIdLogLamp);
    logCaption_ = control<QLabel>(this, kIdLogCaption);
    logButton_ = control<QPushButton>(this, kIdLog);
    span_ = control<QComboBox>(this, kIdSpan);
    chartView_ = new QChartView(this);
    if (replaceControl(this, kIdChart, chartView_) == nullptr) {
        delete chartView_;
        chartView_ = nullptr;
    }
}

void CTqk5820ConfigGraphDialog::OnInitDialog()
{
    if (span_ != nullptr) {
        for (int minutes : Spans())
            span_->addItem(QString("%1 min").arg(minutes));
        span_->setCurrentIndex(kDefaultSpanIndex);
        connect(span_, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this] { Redraw(); });
    }
    if (logButton_ != nullptr)
        connect(logButton_, &QPushButton::clicked, this, [this] { OnLogButton(); });
    if (logLamp_ != nullptr)
        logLamp_->SetColors(kTraceGreen, kChartBlack);
    BuildChart();
    ShowLogState();
    ShowMode(Sampler().GetMode());
    Redraw();
}

void CTqk5820ConfigGraphDialog::BuildChart()
{
    chart_ = new QChart;
    chart_->setBackgroundBrush(kChartBlack);
    chart_->setBackgroundRoundness(0);
    chart_->setPlotAreaBackgroundBrush(kChartBlack);
    chart_->setPlotAreaBackgroundVisible(true);
    chart_->setMargins(QMargins(2, 2, 2, 2));
    chart_->layout()->setContentsMargins(0, 0, 0, 0);
    chart_->setAnimationOptions(QChart::NoAnimation);
    QFont small = font();
    chart_->legend()->setFont(small);
    chart_->legend()->setLabelColor(kTraceGreen);
    chart_->legend()->setAlignment(Qt::AlignTop);

    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setTickCount(6);
    valueAxis_ = new QValueAxis;
    currentAxis_ = new QValueAxis;
    currentAxis_->setTitleText("TE current (A)");
    for (QAbstractAxis* axis : {static_cast<QAbstractAxis*>(timeAxis_), static_cast<QAbstractAxis*>(valueAxis_),
                                static_cast<QAbstractAxis*>(currentAxis_)})
        styleAxis(axis, small);
    valueAxis_->setLabelFormat("%.1f");
    currentAxis_->setLabelFormat("%.2f");
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(valueAxis_, Qt::AlignLeft);
    chart_->addAxis(currentAxis_, Qt::AlignRight);

    // The legend's three entries; the curves themselves come in stretches
    // between gaps and keep their markers out of the legend.
    const struct {
        const char* name;
        QColor colour;
        Qt::PenStyle style;
        QValueAxis* axis;
    } legend[] = {
        {"Actual", kTraceGreen, Qt::SolidLine, valueAxis_},
        {"Set point", kSetPointGreen, Qt::DashLine, valueAxis_},
        {"TE current", kCurrentGreen, Qt::DotLine, currentAxis_},
    };
    for (const auto& entry : legend) {
        QLineSeries* series = makeSeries(entry.colour, entry.style, 1.5);
        series->setName(entry.name);
        chart_->addSeries(series);
        series->attachAxis(timeAxis_);
        series->attachAxis(entry.axis);
    }
    if (chartView_ != nullptr) {
        chartView_->setChart(chart_);
        chartView_->setRenderHint(QPainter::Antialiasing, false);
        chartView_->setBackgroundBrush(kChartBlack);
        chartView_->setFrameShape(QFrame::NoFrame);
    }
}

void CTqk5820ConfigGraphDialog::ShowMode(ReadingSampler::Mode mode)
{
    shownMode_ = mode;
    valueAxis_->setTitleText(valueTitle(mode));
}

bool CTqk5820ConfigGraphDialog::Refresh()
{
    ShowLogState();
    const ReadingSampler& sampler = Sampler();
    if (sampler.GetMode() != shownMode_) {
        ShowMode(sampler.GetMode());
        Redraw();
    } else if (sampler.Samples().pushed() != seen_) {
        DrawNew();
    }
    return false;
}

void CTqk5820ConfigGraphDialog::ShowLogState()
{
    const ReadingSampler& sampler = Sampler();
    if (sampler.IsLogging() == shownLogging_ && sampler.LogPath() == shownLogPath_)
        return;
    shownLogging_ = sampler.IsLogging();
    shownLogPath_ = sampler.LogPath();
    if (logLamp_ != nullptr)
        logLamp_->SetState(shownLogging_ ? 1 : 0);
    if (logButton_ != nullptr)
        logButton_->setText(shownLogging_ ? kStopLogText : kLogText);
    const QString file = QFileInfo(QString::fromStdString(shownLogPath_)).fileName();
    if (logCaption_ != nullptr) {
        logCaption_->setText(shownLogging_ ? "Logging to " + file : QString());
        logCaption_->setToolTip(shownLogging_ ? QString::fromStdString(shownLogPath_) : QString());
    }
}

QString CTqk5820ConfigGraphDialog::DefaultLogPath() const
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    // A file dialog shown a folder that does not exist starts in the
    // working directory instead: the documents folder is made if need be.
    if (folder.isEmpty() || !QDir().mkpath(folder))
        folder = QDir::homePath();
    return QDir(folder).filePath(QString::fromStdString(ReadingSampler::LogFileName(Doc().GetUnitNumber())));
}

void CTqk5820ConfigGraphDialog::OnLogButton()
{
    ReadingSampler& sampler = Sampler();
    if (sampler.IsLogging()) {
        sampler.StopLog(true);
    } else if (chooser_) {
        const QString path = chooser_(this, DefaultLogPath());
        // The file dialog asked before replacing a file that was there.
        if (!path.isEmpty())
            sampler.StartLog(path.toStdString(), true);
    }
    ShowLogState();
}

CTqk5820ConfigGraphDialog::Segment& CTqk5820ConfigGraphDialog::NewSegment()
{
    Segment s {makeSeries(kTraceGreen, Qt::SolidLine, 1.5), makeSeries(kSetPointGreen, Qt::DashLine, 1.0),
               makeSeries(kCurrentGreen, Qt::DotLine, 1.0)};
    for (QLineSeries* series : {s.actual, s.setPoint, s.current}) {
        chart_->addSeries(series);
        series->attachAxis(timeAxis_);
        series->attachAxis(series == s.current ? currentAxis_ : valueAxis_);
        for (QLegendMarker* marker : chart_->legend()->markers(series))
            marker->setVisible(false);
    }
    segments_.push_back(s);
    segmentOpen_ = true;
    return segments_.back();
}

void CTqk5820ConfigGraphDialog::Draw(const GraphSample& sample)
{
    const bool drawable = sample.online && (sample.resistance == (shownMode_ == ReadingSampler::kResistance))
        && shownMode_ != ReadingSampler::kUnknown;
    if (!drawable) {
        segmentOpen_ = false;
        return;
    }
    if (sample.have == 0)
        return;
    if (segmentOpen_ && sample.utcMillis - lastDrawn_ > kJoinMillis)
        segmentOpen_ = false;
    Segment& s = segmentOpen_ ? segments_.back() : NewSegment();
    const auto x = static_cast<qreal>(sample.utcMillis);
    if (sample.has(GraphSample::kActual))
        s.actual->append(x, static_cast<qreal>(sample.actual));
    if (sample.has(GraphSample::kSetPoint))
        s.setPoint->append(x, static_cast<qreal>(sample.setPoint));
    if (sample.has(GraphSample::kCurrent))
        s.current->append(x, static_cast<qreal>(sample.current));
    lastDrawn_ = sample.utcMillis;
}

void CTqk5820ConfigGraphDialog::Redraw()
{
    if (chart_ == nullptr)
        return;
    for (const Segment& s : segments_) {
        for (QLineSeries* series : {s.actual, s.setPoint, s.current}) {
            chart_->removeSeries(series);
            delete series;
        }
    }
    segments_.clear();
    segmentOpen_ = false;
    const ReadingHistory& ring = Sampler().Samples();
    const std::int64_t now = Sampler().GetClock().utcMillis();
    const std::int64_t from = now - std::int64_t {SpanMinutes()} * 60'000;
    // Whole stretches at once: one change per series instead of one per point.
    std::vector<QList<QPointF>> actual, setPoint, current;
    bool open = false;
    std::int64_t last = 0;
    for (std::size_t i = ring.firstFrom(from); i < ring.size(); ++i) {
        const GraphSample& sample = ring.at(i);
        const bool drawable = sample.online && shownMode_ != ReadingSampler::kUnknown
            && sample.resistance == (shownMode_ == ReadingSampler::kResistance);
        if (!drawable) {
            open = false;
            continue;
        }
        if (sample.have == 0)
            continue;
        if (!open || sample.utcMillis - last > kJoinMillis) {
            actual.emplace_back();
            setPoint.emplace_back();
            current.emplace_back();
            open = true;
        }
        const auto x = static_cast<qreal>(sample.utcMillis);
        if (sample.has(GraphSample::kActual))
            actual.back().append(QPointF(x, static_cast<qreal>(sample.actual)));
        if (sample.has(GraphSample::kSetPoint))
            setPoint.back().append(QPointF(x, static_cast<qreal>(sample.setPoint)));
        if (sample.has(GraphSample::kCurrent))
            current.back().append(QPointF(x, static_cast<qreal>(sample.current)));
        last = sample.utcMillis;
    }
    for (std::size_t i = 0; i < actual.size(); ++i) {
        Segment& s = NewSegment();
        s.actual->replace(actual[i]);
        s.setPoint->replace(setPoint[i]);
        s.current->replace(current[i]);
    }
    segmentOpen_ = open;
    lastDrawn_ = last;
    seen_ = ring.pushed();
    FitAxes(now);
}

void CTqk5820ConfigGraphDialog::DrawNew()
{
    const ReadingHistory& ring = Sampler().Samples();
    const std::uint64_t fresh = ring.pushed() - seen_;
    // More than the ring holds went by unseen: start again from what is there.
    if (fresh > ring.size()) {
        Redraw();
        return;
    }
    for (std::size_t i = ring.size() - static_cast<std::size_t>(fresh); i < ring.size(); ++i)
        Draw(ring.at(i));
    seen_ = ring.pushed();
    const std::int64_t now = Sampler().GetClock().utcMillis();
    DropOld(now - std::int64_t {SpanMinutes()} * 60'000);
    FitAxes(now);
}

void CTqk5820ConfigGraphDialog::DropOld(std::int64_t from)
{
    const auto x = static_cast<qreal>(from);
    const auto stale = [x](QLineSeries* series) { return series->count() == 0 || series->at(series->count() - 1).x() < x; };
    // Stretches that ended before the span go whole; the first that reaches
    // into it loses its points before the span.
    while (segments_.size() > (segmentOpen_ ? 1u : 0u)) {
        Segment& s = segments_.front();
        if (!(stale(s.actual) && stale(s.setPoint) && stale(s.current)))
            break;
        for (QLineSeries* series : {s.actual, s.setPoint, s.current}) {
            chart_->removeSeries(series);
            delete series;
        }
        segments_.erase(segments_.begin());
    }
    if (!segments_.empty()) {
        const Segment& s = segments_.front();
        for (QLineSeries* series : {s.actual, s.setPoint, s.current})
            trimSeries(series, x);
    }
}

void CTqk5820ConfigGraphDialog::FitAxes(std::int64_t now)
{
    const std::int64_t from = now - std::int64_t {SpanMinutes()} * 60'000;
    timeAxis_->setFormat(SpanMinutes() > 5 ? "hh:mm" : "hh:mm:ss");
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(now));

    double low = std::numeric_limits<double>::max();
    double high = std::numeric_limits<double>::lowest();
    double lowI = low;
    double highI = high;
    const ReadingHistory& ring = Sampler().Samples();
    for (std::size_t i = ring.firstFrom(from); i < ring.size(); ++i) {
        const GraphSample& s = ring.at(i);
        if (!s.online || s.resistance != (shownMode_ == ReadingSampler::kResistance))
            continue;
        for (std::uint8_t bit : {GraphSample::kActual, GraphSample::kSetPoint}) {
            if (s.has(bit)) {
                const double v = bit == GraphSample::kActual ? s.actual : s.setPoint;
                low = std::min(low, v);
                high = std::max(high, v);
            }
        }
        if (s.has(GraphSample::kCurrent)) {
            lowI = std::min(lowI, static_cast<double>(s.current));
            highI = std::max(highI, static_cast<double>(s.current));
        }
    }
    if (low > high) {
        low = 0;
        high = 1;
    }
    if (lowI > highI) {
        lowI = -1;
        highI = 1;
    }
    padRange(low, high, 1.0);
    padRange(lowI, highI, 0.2);
    setRangeIfChanged(valueAxis_, valueRange_, low, high);
    setRangeIfChanged(currentAxis_, currentRange_, lowI, highI);
}

int CTqk5820ConfigGraphDialog::ActualPoints() const
{
    int n = 0;
    for (const Segment& s : segments_)
        n += s.actual->count();
    return n;
}

int CTqk5820ConfigGraphDialog::SetPointPoints() const
{
    int n = 0;
    for (const Segment& s : segments_)
        n += s.setPoint->count();
    return n;
}

int CTqk5820ConfigGraphDialog::CurrentPoints() const
{
    int n = 0;
    for (const Segment& s : segments_)
        n += s.current->count();
    return n;
}
