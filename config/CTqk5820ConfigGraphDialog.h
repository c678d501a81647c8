#pragma once

#include "config/CTqk5820ConfigPanel.h"
#include "config/ReadingSampler.h"

#include <QPointF>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

class CLibLampStatic;
class QCategoryAxis;
class QChart;
class QGraphicsRectItem;
class QGraphicsLineItem;
class QGraphicsSimpleTextItem;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;

// The Graph panel of a controller window: the actual value and the set point
// (degrees Celsius, or kOhms in a resistance mode) and, on a second axis, the
// TE current against time, over a span of 1, 5, 15 or 60 minutes, on black:
// the actual value solid green, the set point dashed yellow, the TE current
// dotted cyan, each shown so in the legend. The curves break where the
// instrument was offline. After the sensor changed between temperature and
// resistance mode only the values in the new unit are drawn (never a value
// against the axis of another unit), and a grey line labelled with the new
// unit marks where they begin; the TE current keeps its whole span. With
// the mouse over the chart the time and the three readings under it are
// shown on a box of their own. The samples come from the
// view's ReadingSampler; the panel only draws them. Its "Log..." button
// starts a CSV log of the readings (and stops a running one), "Save
// history..." writes the samples kept so far in the same format.
class CTqk5820ConfigGraphDialog : public CTqk5820ConfigPanel {
    Q_OBJECT
public:
    // Asks for the file to log to, offering `suggested`; empty: cancelled.
    using FileChooser = std::function<QString(QWidget* parent, const QString& suggested)>;

    explicit CTqk5820ConfigGraphDialog(QWidget* parent = nullptr);
    ~CTqk5820ConfigGraphDialog() override;

    // Draws the samples that are new since the last refresh; never busy.
    bool Refresh() override;

    // The spans offered, in minutes.
    static const std::vector<int>& Spans();
    int SpanMinutes() const;
    // A file dialog by default.
    void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }
    // Log...: asks for a file and logs to it; while logging: stops.
    void OnLogButton();
    // Save history...: asks for a file and writes the samples kept to it.
    void OnSaveHistoryButton();
    // TQK-5820-07.csv for unit 7 in the user's documents folder.
    QString DefaultLogPath() const;

    QChart* Chart() const { return chart_; }
    QChartView* ChartView() const { return chartView_; }
    QDateTimeAxis* TimeAxis() const { return timeAxis_; }
    // Value axes whose tick labels the panel makes itself (see GraphScale.h).
    QCategoryAxis* ValueAxis() const { return valueAxis_; }
    QCategoryAxis* CurrentAxis() const { return currentAxis_; }
    QComboBox* SpanSelector() const { return span_; }
    QPushButton* LogButton() const { return logButton_; }
    QPushButton* SaveHistoryButton() const { return saveButton_; }
    CLibLampStatic* LogLamp() const { return logLamp_; }
    QLabel* LogCaption() const { return logCaption_; }
    // Stretches of curve drawn, each ended by a gap.
    int SegmentCount() const { return static_cast<int>(segments_.size()); }
    // Points of the actual value, of the set point and of the TE current drawn.
    int ActualPoints() const;
    int SetPointPoints() const;
    int CurrentPoints() const;
    // Lines that mark where the values in the current unit begin: 1 when a
    // value in another unit is in the span (and is not drawn), else 0.
    int ModeMarkers() const;
    // The captions of the marks in view, oldest first ("step 2", "kOhms
    // from here").
    QStringList MarkerCaptions() const;
    // The read-out of the sample nearest to `utcMillis` in view, shown over
    // the chart ("14:03:07  Act 24.998  Set 25.000 °C  TE 0.412 A"); empty
    // with none, which hides it.
    QString ShowReadout(std::int64_t utcMillis);
    QString ReadoutText() const;

protected:
    void BindControls() override;
    void OnInitDialog() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Segment {
        QLineSeries* actual;
        QLineSeries* setPoint;
        QLineSeries* current;
    };
    struct Marker {
        std::int64_t utcMillis;
        QLineSeries* line;
        QGraphicsRectItem* label;
        QString caption;
        bool mode;   // where the values in the current unit begin
    };

    ReadingSampler& Sampler() const;
    void BuildChart();
    void ShowMode(ReadingSampler::Mode mode);
    // The value axis's title: the unit of the values drawn.
    void ShowUnit();
    // Everything again from the ring (a new span, a new unit of measure).
    void Redraw();
    // The samples pushed since the last update.
    void DrawNew();
    void Draw(const GraphSample& sample);
    Segment& NewSegment();
    void DropOld(std::int64_t from);
    void FitAxes(std::int64_t now);
    void ShowLogState();
    // A dashed line at `utcMillis` with its caption (a change of unit, a
    // program's step).
    void AddMarker(std::int64_t utcMillis, const QString& caption, bool mode);
    void RemoveMarkers(std::int64_t before);
    void PlaceMarkers();

    CLibLampStatic* logLamp_ = nullptr;
    QLabel* logCaption_ = nullptr;
    QPushButton* logButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QComboBox* span_ = nullptr;
    QChartView* chartView_ = nullptr;
    QChart* chart_ = nullptr;
    QDateTimeAxis* timeAxis_ = nullptr;
    QCategoryAxis* valueAxis_ = nullptr;
    QCategoryAxis* currentAxis_ = nullptr;

    QPointF valueRange_;
    QPointF currentRange_;
    std::vector<Segment> segments_;
    std::vector<Marker> markers_;
    std::uint64_t marksSeen_ = 0;
    QGraphicsRectItem* readoutBox_ = nullptr;
    QGraphicsSimpleTextItem* readout_ = nullptr;
    QGraphicsLineItem* cursor_ = nullptr;
    // The unit of the values drawn, and the time of the first of them:
    // older values, in another unit, are not drawn.
    bool runKnown_ = false;
    bool runResistance_ = false;
    std::int64_t runFrom_ = 0;
    // The newest segment takes the next sample unless a gap came between.
    bool segmentOpen_ = false;
    std::int64_t lastDrawn_ = 0;
    std::uint64_t seen_ = 0;
    ReadingSampler::Mode shownMode_ = ReadingSampler::kUnknown;
    bool shownLogging_ = false;
    std::string shownLogPath_;
    FileChooser chooser_;
};
