#include "config/CTqk5820ConfigGraphDialog.h"

#include "config/CTqk5820ConfigDoc.h"
#include "config/CTqk5820ConfigView.h"
#include "config/GraphScale.h"
#include "controls/CLibLampStatic.h"
#include "platform/Clock.h"
#include "platform/qt/DialogBuilder.h"
#include "resources/DialogTemplates.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QEvent>
#include <QGraphicsLayout>
#include <QGraphicsLineItem>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
#include <QMouseEvent>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

// Control ids of the panel's template.
constexpr int kIdChart = 1200;
constexpr int kIdSpan = 1201;
constexpr int kIdLog = 1202;
constexpr int kIdLogLamp = 1203;
constexpr int kIdLogCaption = 1204;
constexpr int kIdSaveHistory = 1205;

constexpr int kDefaultSpanIndex = 1;   // 5 minutes
// Samples further apart than this are not joined: the sampler did not run
// in between (the panel was hidden, or nothing was shown or logged).
constexpr std::int64_t kJoinMillis = 2500;
// Points that have scrolled out of view are removed in batches of this many.
constexpr int kTrimBatch = 30;

const QColor kChartBlack(0, 0, 0);
const QColor kTraceGreen(0, 255, 0);
const QColor kSetPointYellow(255, 215, 0);
const QColor kCurrentCyan(0, 200, 255);
const QColor kGridGreen(0, 70, 0);
const QColor kMarkerGrey(170, 170, 170);

const char* const kLogText = "Log...";
const char* const kStopLogText = "Stop Log";
const char* const kSaveHistoryText = "Save history...";

// The three curves: colour, line style and width, told apart without colour too.
struct Trace {
    const char* name;
    QColor colour;
    Qt::PenStyle style;
    qreal width;
};
const Trace kActualTrace {"Actual", kTraceGreen, Qt::SolidLine, 1.5};
const Trace kSetPointTrace {"Set point", kSetPointYellow, Qt::DashLine, 1.5};
const Trace kCurrentTrace {"TE current", kCurrentCyan, Qt::DotLine, 1.5};

// Far beyond any axis range: a marker line spans the plot whatever it shows.
constexpr qreal kMarkerReach = 1e7;

QString unitOf(bool resistance)
{
    return resistance ? QString("k") + QChar(0x03A9) : QString(QChar(0x00B0)) + "C";
}

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

QLineSeries* makeSeries(const Trace& trace)
{
    return makeSeries(trace.colour, trace.style, trace.width);
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

// Sets the range, widened to round ticks labelled by niceTicks, when it
// differs from the one asked for last time, which `asked` remembers.
void setRangeIfChanged(QCategoryAxis* axis, QPointF& asked, double low, double high, int steps)
{
    if (asked == QPointF(low, high))
        return;
    asked = QPointF(low, high);
    const AxisTicks ticks = niceTicks(low, high, steps);
    for (const QString& label : axis->categoriesLabels())
        axis->remove(label);
    axis->setStartValue(ticks.low);
    for (std::size_t i = 0; i < ticks.values.size(); ++i)
        axis->append(QString::fromStdString(ticks.labels[i]), ticks.values[i]);
    axis->setRange(ticks.low, ticks.high);
}

QCategoryAxis* makeValueAxis()
{
    auto* axis = new QCategoryAxis;
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    return axis;
}

// Text on a box of the chart's black with a grey edge, so that it reads
// the same over a curve as over the empty plot.
QGraphicsRectItem* makeTextBox(QGraphicsItem* parent, QGraphicsSimpleTextItem*& text, const QColor& colour,
                               const QFont& font)
{
    auto* box = new QGraphicsRectItem(parent);
    box->setBrush(QColor(0, 0, 0, 225));
    box->setPen(QPen(QColor(90, 90, 90), 0));
    text = new QGraphicsSimpleTextItem(box);
    text->setBrush(colour);
    text->setFont(font);
    text->setPos(4, 1);
    return box;
}

void fitBox(QGraphicsRectItem* box, const QGraphicsSimpleTextItem* text)
{
    const QRectF r = text->boundingRect();
    box->setRect(0, 0, r.width() + 8, r.height() + 2);
}

} // namespace

CTqk5820ConfigGraphDialog::CTqk5820ConfigGraphDialog(QWidget* parent)
    : CTqk5820ConfigPanel(res::kGraphPanel, parent)
{
    chooser_ = [](QWidget* owner, const QString& suggested) {
        const QString caption = suggested.endsWith("-history.csv") ? kSaveHistoryText : kLogText;
        return QFileDialog::getSaveFileName(owner, caption, suggested, "CSV files (*.csv);;All files (*)");
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
    saveButton_ = control<QPushButton>(this, kIdSaveHistory);
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
    if (saveButton_ != nullptr)
        connect(saveButton_, &QPushButton::clicked, this, [this] { OnSaveHistoryButton(); });
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
    // Each entry drawn as its curve: colour and line style.
    chart_->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);

    timeAxis_ = new QDateTimeAxis;
    timeAxis_->setTickCount(6);
    valueAxis_ = makeValueAxis();
    currentAxis_ = makeValueAxis();
    currentAxis_->setTitleText("TE current (A)");
    for (QAbstractAxis* axis : {static_cast<QAbstractAxis*>(timeAxis_), static_cast<QAbstractAxis*>(valueAxis_),
                                static_cast<QAbstractAxis*>(currentAxis_)})
        styleAxis(axis, small);
    // One grid: the time and value axes'. The current axis has its own
    // ticks, whose lines would cross the other grid.
    currentAxis_->setGridLineVisible(false);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(valueAxis_, Qt::AlignLeft);
    chart_->addAxis(currentAxis_, Qt::AlignRight);

    // The legend's three entries; the curves themselves come in stretches
    // between gaps and keep their markers out of the legend.
    const struct {
        const Trace& trace;
        QCategoryAxis* axis;
    } legend[] = {
        {kActualTrace, valueAxis_},
        {kSetPointTrace, valueAxis_},
        {kCurrentTrace, currentAxis_},
    };
    for (const auto& entry : legend) {
        QLineSeries* series = makeSeries(entry.trace);
        series->setName(entry.trace.name);
        chart_->addSeries(series);
        series->attachAxis(timeAxis_);
        series->attachAxis(entry.axis);
    }

    // The read-out under the mouse: a cursor line and the values, over the plot.
    cursor_ = new QGraphicsLineItem(chart_);
    cursor_->setPen(QPen(kMarkerGrey, 0));
    cursor_->setZValue(10);
    cursor_->hide();
    readoutBox_ = makeTextBox(chart_, readout_, QColor(255, 255, 255), small);
    readoutBox_->setZValue(11);
    readoutBox_->hide();
    connect(chart_, &QChart::plotAreaChanged, this, [this] { PlaceMarkers(); });

    if (chartView_ != nullptr) {
        chartView_->setChart(chart_);
        chartView_->setRenderHint(QPainter::Antialiasing, false);
        chartView_->setBackgroundBrush(kChartBlack);
        chartView_->setFrameShape(QFrame::NoFrame);
        chartView_->setMouseTracking(true);
        chartView_->viewport()->setMouseTracking(true);
        chartView_->viewport()->installEventFilter(this);
    }
}

void CTqk5820ConfigGraphDialog::ShowMode(ReadingSampler::Mode mode)
{
    shownMode_ = mode;
    ShowUnit();
}

void CTqk5820ConfigGraphDialog::ShowUnit()
{
    // The unit of the values drawn; before any, the one the sensor reads in.
    if (runKnown_)
        valueAxis_->setTitleText(valueTitle(runResistance_ ? ReadingSampler::kResistance : ReadingSampler::kTemperature));
    else
        valueAxis_->setTitleText(valueTitle(shownMode_));
}

bool CTqk5820ConfigGraphDialog::Refresh()
{
    ShowLogState();
    const ReadingSampler& sampler = Sampler();
    if (sampler.GetMode() != shownMode_) {
        ShowMode(sampler.GetMode());
        Redraw();
    } else if (sampler.MarkChanges() != marksSeen_) {
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

void CTqk5820ConfigGraphDialog::OnSaveHistoryButton()
{
    if (!chooser_)
        return;
    QString suggested = DefaultLogPath();
    suggested.replace(QRegularExpression("\\.csv$"), "-history.csv");
    const QString path = chooser_(this, suggested);
    if (!path.isEmpty())
        Sampler().SaveHistory(path.toStdString());
}

CTqk5820ConfigGraphDialog::Segment& CTqk5820ConfigGraphDialog::NewSegment()
{
    Segment s {makeSeries(kActualTrace), makeSeries(kSetPointTrace), makeSeries(kCurrentTrace)};
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

int CTqk5820ConfigGraphDialog::ModeMarkers() const
{
    return static_cast<int>(std::count_if(markers_.begin(), markers_.end(), [](const Marker& m) { return m.mode; }));
}

QStringList CTqk5820ConfigGraphDialog::MarkerCaptions() const
{
    QStringList captions;
    for (const Marker& m : markers_)
        captions << m.caption;
    return captions;
}

void CTqk5820ConfigGraphDialog::AddMarker(std::int64_t utcMillis, const QString& caption, bool mode)
{
    QLineSeries* line = makeSeries(kMarkerGrey, Qt::DashDotLine, 1.0);
    const auto x = static_cast<qreal>(utcMillis);
    line->append(x, -kMarkerReach);
    line->append(x, kMarkerReach);
    chart_->addSeries(line);
    line->attachAxis(timeAxis_);
    line->attachAxis(valueAxis_);
    for (QLegendMarker* marker : chart_->legend()->markers(line))
        marker->setVisible(false);
    QGraphicsSimpleTextItem* text = nullptr;
    QGraphicsRectItem* label = makeTextBox(chart_, text, kMarkerGrey, chart_->legend()->font());
    text->setText(caption);
    fitBox(label, text);
    label->setZValue(9);
    // In the order of their times: the oldest go first.
    const auto at = std::find_if(markers_.begin(), markers_.end(),
                                 [utcMillis](const Marker& m) { return m.utcMillis > utcMillis; });
    markers_.insert(at, {utcMillis, line, label, caption, mode});
    PlaceMarkers();
}

void CTqk5820ConfigGraphDialog::RemoveMarkers(std::int64_t before)
{
    while (!markers_.empty() && markers_.front().utcMillis < before) {
        chart_->removeSeries(markers_.front().line);
        delete markers_.front().line;
        delete markers_.front().label;
        markers_.erase(markers_.begin());
    }
}

void CTqk5820ConfigGraphDialog::PlaceMarkers()
{
    if (chart_ == nullptr)
        return;
    const QRectF plot = chart_->plotArea();
    std::vector<QRectF> placed;
    for (const Marker& m : markers_) {
        const qreal x = chart_->mapToPosition(QPointF(static_cast<qreal>(m.utcMillis), 0), m.line).x();
        // Inside the plot, right of the line unless that runs out of it;
        // below the captions it would cover (marks close together).
        const QRectF box = m.label->rect();
        const qreal left = x + 3 + box.width() <= plot.right() ? x + 3 : x - 3 - box.width();
        QRectF at(std::max(plot.left(), left), plot.top() + 3, box.width(), box.height());
        const bool shown = x >= plot.left() && x <= plot.right();
        for (bool moved = shown; moved;) {
            moved = false;
            for (const QRectF& other : placed) {
                if (at.intersects(other)) {
                    at.moveTop(other.bottom() + 2);
                    moved = true;
                }
            }
        }
        m.label->setPos(at.topLeft());
        m.label->setVisible(shown && at.bottom() <= plot.bottom());
        if (shown)
            placed.push_back(at);
    }
}

void CTqk5820ConfigGraphDialog::Draw(const GraphSample& sample)
{
    if (!sample.online) {
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
    RemoveMarkers(std::numeric_limits<std::int64_t>::max());
    const ReadingHistory& ring = Sampler().Samples();
    const std::int64_t now = Sampler().GetClock().utcMillis();
    const std::int64_t from = now - std::int64_t {SpanMinutes()} * 60'000;
    // Only the values in the unit of the newest are drawn: a temperature
    // is never read against a kOhm axis, nor the other way round. The TE
    // current, in amperes whatever the sensor, keeps its whole span.
    const std::size_t start = ring.firstFrom(from);
    const ReadingHistory::UnitRun run = ring.newestUnitRun(start);
    runKnown_ = run.known;
    runResistance_ = run.resistance;
    runFrom_ = run.first < ring.size() ? ring.at(run.first).utcMillis : std::numeric_limits<std::int64_t>::max();
    ShowUnit();
    if (run.changed)
        AddMarker(runFrom_, unitOf(run.resistance) + " from here", true);
    for (const ReadingSampler::Mark& mark : Sampler().Marks()) {
        if (mark.utcMillis >= from)
            AddMarker(mark.utcMillis, QString::fromStdString(mark.label), false);
    }
    marksSeen_ = Sampler().MarkChanges();
    // Whole stretches at once: one change per series instead of one per point.
    std::vector<QList<QPointF>> actual, setPoint, current;
    bool open = false;
    std::int64_t last = 0;
    for (std::size_t i = start; i < ring.size(); ++i) {
        GraphSample sample = ring.at(i);
        if (!sample.online) {
            open = false;
            continue;
        }
        if (i < run.first)
            sample.have &= GraphSample::kCurrent;
        if (sample.have == 0)
            continue;
        // The current is not joined across the change either.
        if (i == run.first && run.changed)
            open = false;
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
    // A value in another unit than the one drawn: the older values go.
    for (std::size_t i = ring.size() - static_cast<std::size_t>(fresh); i < ring.size(); ++i) {
        const GraphSample& s = ring.at(i);
        const bool value = s.online && (s.has(GraphSample::kActual) || s.has(GraphSample::kSetPoint));
        if (value && (!runKnown_ || s.resistance != runResistance_)) {
            Redraw();
            return;
        }
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
    const auto stale = [x](QLineSeries* series) {
        return series->count() == 0 || series->at(series->count() - 1).x() < x;
    };
    RemoveMarkers(from);
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
        if (!s.online)
            continue;
        const bool drawn = s.utcMillis >= runFrom_ && s.resistance == runResistance_;
        for (std::uint8_t bit : {GraphSample::kActual, GraphSample::kSetPoint}) {
            if (drawn && s.has(bit)) {
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
    setRangeIfChanged(valueAxis_, valueRange_, low, high, 5);
    setRangeIfChanged(currentAxis_, currentRange_, lowI, highI, 4);
    PlaceMarkers();
}

QString CTqk5820ConfigGraphDialog::ShowReadout(std::int64_t utcMillis)
{
    const ReadingHistory& ring = Sampler().Samples();
    const std::int64_t now = Sampler().GetClock().utcMillis();
    const std::int64_t from = now - std::int64_t {SpanMinutes()} * 60'000;
    // The sample nearest to the time, within a second of it.
    const GraphSample* nearest = nullptr;
    for (std::size_t i = ring.firstFrom(std::max(from, utcMillis - 1000)); i < ring.size(); ++i) {
        const GraphSample& s = ring.at(i);
        if (s.utcMillis > utcMillis + 1000)
            break;
        if (nearest == nullptr || std::llabs(s.utcMillis - utcMillis) < std::llabs(nearest->utcMillis - utcMillis))
            nearest = &s;
    }
    QString text;
    if (nearest != nullptr) {
        const auto value = [&](std::uint8_t bit, float v, int decimals) {
            return nearest->has(bit) ? QString::number(static_cast<double>(v), 'f', decimals) : QString("???.???");
        };
        text = QDateTime::fromMSecsSinceEpoch(nearest->utcMillis).toString("hh:mm:ss");
        if (!nearest->online)
            text += "  offline";
        else
            text += QString("  Act %1  Set %2 %3  TE %4 A")
                        .arg(value(GraphSample::kActual, nearest->actual, 3),
                             value(GraphSample::kSetPoint, nearest->setPoint, 3), unitOf(nearest->resistance),
                             value(GraphSample::kCurrent, nearest->current, 3));
    }
    if (readout_ == nullptr || chart_ == nullptr)
        return text;
    readout_->setText(text);
    fitBox(readoutBox_, readout_);
    readoutBox_->setVisible(!text.isEmpty());
    cursor_->setVisible(!text.isEmpty());
    if (!text.isEmpty()) {
        const QRectF plot = chart_->plotArea();
        const qreal x = chart_->mapToPosition(QPointF(static_cast<qreal>(nearest->utcMillis), 0), nullptr).x();
        cursor_->setLine(x, plot.top(), x, plot.bottom());
        // Inside the plot, on the side away from the cursor.
        const qreal width = readoutBox_->rect().width();
        const qreal left = x - plot.left() > plot.width() / 2 ? plot.left() + 2 : plot.right() - width - 2;
        readoutBox_->setPos(std::max(plot.left(), left), plot.bottom() - readoutBox_->rect().height() - 2);
    }
    return text;
}

QString CTqk5820ConfigGraphDialog::ReadoutText() const
{
    return readout_ != nullptr && readout_->isVisible() ? readout_->text() : QString();
}

bool CTqk5820ConfigGraphDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (chartView_ != nullptr && watched == chartView_->viewport() && chart_ != nullptr) {
        if (event->type() == QEvent::MouseMove) {
            const QPointF scene = chartView_->mapToScene(static_cast<QMouseEvent*>(event)->position().toPoint());
            const QPointF at = chart_->mapFromScene(scene);
            if (chart_->plotArea().contains(at))
                ShowReadout(static_cast<std::int64_t>(chart_->mapToValue(at).x()));
            else
                ShowReadout(std::numeric_limits<std::int64_t>::min() / 2);
        } else if (event->type() == QEvent::Leave) {
            ShowReadout(std::numeric_limits<std::int64_t>::min() / 2);
        }
    }
    return CTqk5820ConfigPanel::eventFilter(watched, event);
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
