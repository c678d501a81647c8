// The Graph panel and the readings log of a controller window: the window
// program under the offscreen platform against the in-process simulator, on
// a manual clock, with every command the program sends recorded.

#include "app/CMainFrame.h"
#include "app/CTessolApp.h"
#include "app/CommandLine.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/CTqk5820ConfigGraphDialog.h"
#include "config/CTqk5820ConfigView.h"
#include "config/ReadingSampler.h"
#include "config/UnitRegistry.h"
#include "controls/CLibLampStatic.h"
#include "link/InstrumentLink.h"
#include "link/Protocol.h"
#include "platform/LineWait.h"
#include "platform/MemoryProfile.h"
#include "platform/PosixSerialPorts.h"
#include "resources/Menus.h"
#include "tests/support/AppBench.h"
#include "tests/support/CsvText.h"
#include "tests/support/ManualClock.h"
#include "tests/support/Process.h"
#include "tests/support/ScriptedPrompts.h"

#include <QAction>
#include <QChart>
#include <QChartView>
#include <QLegend>
#include <QComboBox>
#include <QDateTimeAxis>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QCategoryAxis>
#include <QValueAxis>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Graph = CTqk5820ConfigGraphDialog;

// One command as the program wrote it, with the second of the manual clock.
struct Sent {
    std::int64_t second;
    std::string text;
    int commandClass() const { return text.size() >= 5 ? text[4] - '0' : -1; }
    int parameter() const { return text.size() >= 7 ? std::atoi(text.substr(5, 2).c_str()) : -1; }
};

class RecordingDevice : public SerialDevice {
public:
    RecordingDevice(std::unique_ptr<SerialDevice> real, const Clock& clock, std::vector<Sent>& sent)
        : real_(std::move(real)), clock_(clock), sent_(sent)
    {
    }
    bool startWrite(const char* data, std::size_t n) override
    {
        sent_.push_back({clock_.seconds(), std::string(data, n)});
        return real_->startWrite(data, n);
    }
    bool startRead(char* buffer, std::size_t n) override { return real_->startRead(buffer, n); }
    std::size_t pollWrite() override { return real_->pollWrite(); }
    std::size_t pollRead() override { return real_->pollRead(); }
    void purge() override { real_->purge(); }
    bool close() override { return real_->close(); }
    int readinessHandle() const override { return real_->readinessHandle(); }
    bool lost() override { return real_->lost(); }
    int extraLatencyMs() const override { return real_->extraLatencyMs(); }

private:
    std::unique_ptr<SerialDevice> real_;
    const Clock& clock_;
    std::vector<Sent>& sent_;
};

class RecordingPorts : public SerialPorts {
public:
    explicit RecordingPorts(const Clock& clock) : clock_(clock) {}
    std::unique_ptr<SerialDevice> openPort(const std::string& name, unsigned long& osError) override
    {
        auto device = real.openPort(name, osError);
        if (!device)
            return device;
        return std::make_unique<RecordingDevice>(std::move(device), clock_, sent);
    }
    std::string describeOpenFailure(const std::string& name, unsigned long osError) const override
    {
        return real.describeOpenFailure(name, osError);
    }

    PosixSerialPorts real;
    std::vector<Sent> sent;

private:
    const Clock& clock_;
};

class GraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UnitRegistry::program().clear();
        char dir[] = "/tmp/tessol-graph-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
        ports.real.setPath("COM2", dir_ + "/com2");
        ports.real.setPath("COM1", "/nonexistent/tessol-com1");
        static int argc = 1;
        static char name[] = "tessol-test";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<CTessolApp>(argc, argv, TessolServices {&ports, &clock, &profile, &prompts});
        sim::Options options;
        options.units = {7};
        sim = std::make_unique<QtSim>(options, dir_ + "/com2");
        ASSERT_TRUE(sim->ok());
        ASSERT_TRUE(app->InitInstance());
        // The panels a test looks at; the Info panel reads much once and
        // is left out unless a test wants it.
        for (const char* key : {"iDisplayLimits", "iDisplayPid", "iDisplaySensor", "iDisplayInfo"})
            profile.writeInt("Default", key, 0);
    }

    void TearDown() override
    {
        app->ExitInstance();
        sim.reset();
        app.reset();
        ::chmod(dir_.c_str(), 0700);
        for (const char* name : {"/TQK-5820-07.csv", "/chosen.csv", "/logs/TQK-5820-07.csv", "/logs/TQK-5820-01.csv"})
            std::remove((dir_ + name).c_str());
        ::rmdir((dir_ + "/logs").c_str());
        ::rmdir(dir_.c_str());
    }

    // A controller window on unit 7; with `graph` its Graph panel shows.
    CTqk5820ConfigDoc* open(bool graph = true)
    {
        if (graph)
            profile.writeInt("Default", "iDisplayGraph", 1);
        auto* doc = static_cast<CTqk5820ConfigDoc*>(app->OnFileNew());
        if (doc == nullptr)
            return nullptr;
        // Waiting loops (the final command before a unit change or a
        // close) let the simulator answer and the manual clock move.
        doc->SetWaitHandler([this, doc] {
            sim->pump();
            waitForReadable(app->GetLink().readinessHandle(doc->GetPortIndex()), 2);
            clock.advanceMillis(5);
        });
        if (doc->GetUnitNumber() != 7)
            doc->ChangeUnitNumber(7);
        return doc;
    }

    CTqk5820ConfigDoc* openOnline(bool graph = true)
    {
        CTqk5820ConfigDoc* doc = open(graph);
        EXPECT_TRUE(runUntil([&] { return doc->IsOnline() && doc->GetSensorType() != 7; }, 10000));
        // A pass that sees the sensor type.
        runFor(60);
        quiet(doc);
        return doc;
    }

    static CTqk5820ConfigView* viewOf(CTqk5820ConfigDoc* doc)
    {
        return dynamic_cast<CTqk5820ConfigView*>(doc->GetViews().front());
    }
    static Graph* graphOf(CTqk5820ConfigDoc* doc) { return dynamic_cast<Graph*>(viewOf(doc)->GetPanel(6)); }
    static ReadingSampler& samplerOf(CTqk5820ConfigDoc* doc) { return viewOf(doc)->Sampler(); }

    // Until nothing of the document is in flight.
    static void quiet(CTqk5820ConfigDoc* doc)
    {
        runUntil([&] { return !doc->AnyOutstanding(); }, 3000);
    }

    // Whole seconds of the clock, each once the line is quiet and the pass
    // of the new second has run.
    void seconds(CTqk5820ConfigDoc* doc, int n)
    {
        for (int i = 0; i < n; ++i) {
            quiet(doc);
            const std::uint64_t before = samplerOf(doc).Samples().pushed();
            clock.advanceSeconds(1);
            runUntil([&] { return samplerOf(doc).Samples().pushed() > before; }, 2000);
        }
        quiet(doc);
    }

    // Lets `ms` of the clock pass in small steps with the line working, so
    // that commands nobody answers run into their time-out.
    void elapse(int ms)
    {
        for (int t = 0; t < ms; t += 250) {
            clock.advanceMillis(250);
            runFor(15);
        }
    }

    // Held by the simulated unit.
    std::string held(int parameter)
    {
        const auto answer = sim->sim().unit(7)->handle(1, parameter, "+000.000");
        return answer ? answer->data : std::string();
    }

    // Reads of `parameter` per second of the clock, from `since` on.
    std::map<std::int64_t, int> readsPerSecond(int parameter, std::size_t since)
    {
        std::map<std::int64_t, int> count;
        for (std::size_t i = since; i < ports.sent.size(); ++i) {
            if (ports.sent[i].commandClass() == 1 && ports.sent[i].parameter() == parameter)
                ++count[ports.sent[i].second];
        }
        return count;
    }

    QAction* action(int id) { return app->GetMainFrame()->FindCommandAction(id); }

    std::string dir_;
    ManualClock clock;
    RecordingPorts ports {clock};
    MemoryProfile profile;
    ScriptedPrompts prompts;
    std::unique_ptr<CTessolApp> app;
    std::unique_ptr<QtSim> sim;
};

// ---------------------------------------------------------------- the panel

TEST_F(GraphTest, TheDisplayEntryShowsTheGraphBelowTheOtherPanelsAndStoresItsFlag)
{
    profile.writeInt("Default", "iDisplayInfo", 1);
    // A new user sees the six panels as before.
    CTqk5820ConfigDoc* doc = open(false);
    CTqk5820ConfigView* view = viewOf(doc);
    app->GetMainFrame()->UpdateCommandUi();
    QAction* entry = action(cmd::kDisplayGraph);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->text(), "&Graph\tG");
    EXPECT_TRUE(entry->isEnabled());
    EXPECT_TRUE(entry->isCheckable());
    EXPECT_FALSE(entry->isChecked());
    EXPECT_EQ(view->GetPanel(6), nullptr);
    // The history is kept from the window's opening, on the Measurement
    // panel's readings.
    EXPECT_TRUE(samplerOf(doc).IsActive());
    const int height = view->GetTotalHeight();

    entry->trigger();
    Graph* graph = graphOf(doc);
    ASSERT_NE(graph, nullptr);
    EXPECT_TRUE(entry->isChecked());
    EXPECT_EQ(profile.readInt("Default", "iDisplayGraph", -1), 1);
    EXPECT_EQ(profile.readInt("Default", "iDisplayStatus", -1), 1);
    CTqk5820ConfigPanel* info = view->GetPanel(5);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(graph->y(), info->y() + info->height());
    EXPECT_EQ(graph->width(), info->width());
    EXPECT_EQ(view->GetTotalHeight(), height + graph->height());
    EXPECT_TRUE(samplerOf(doc).IsActive());
    // Green traces on black.
    EXPECT_EQ(graph->Chart()->backgroundBrush().color(), QColor(Qt::black));
    EXPECT_EQ(graph->Chart()->plotAreaBackgroundBrush().color(), QColor(Qt::black));

    entry->trigger();
    EXPECT_EQ(view->GetPanel(6), nullptr);
    EXPECT_FALSE(entry->isChecked());
    EXPECT_EQ(profile.readInt("Default", "iDisplayGraph", -1), 0);
    EXPECT_TRUE(samplerOf(doc).IsActive());
    // Without the Measurement panel nothing is kept: that would cost
    // commands of its own.
    action(cmd::kDisplayMeasurement)->trigger();
    EXPECT_FALSE(samplerOf(doc).IsActive());
    EXPECT_FALSE(doc->IsConsumer(5, &samplerOf(doc)));
    action(cmd::kDisplayMeasurement)->trigger();

    // The stored flag holds for the next window.
    entry->trigger();
    CTqk5820ConfigDoc* second = static_cast<CTqk5820ConfigDoc*>(app->OnFileNew());
    ASSERT_NE(second, nullptr);
    EXPECT_NE(graphOf(second), nullptr);
}

TEST_F(GraphTest, TheCurvesGrowOnceASecondWithTheSetPointAndTheCurrent)
{
    CTqk5820ConfigDoc* doc = openOnline();
    Graph* graph = graphOf(doc);
    ASSERT_NE(graph, nullptr);
    seconds(doc, 2);
    const int actual = graph->ActualPoints();
    const int setPoint = graph->SetPointPoints();
    const int current = graph->CurrentPoints();
    ASSERT_GE(actual, 1);

    seconds(doc, 5);
    EXPECT_EQ(graph->ActualPoints(), actual + 5);
    EXPECT_EQ(graph->SetPointPoints(), setPoint + 5);
    EXPECT_EQ(graph->CurrentPoints(), current + 5);
    EXPECT_EQ(graph->SegmentCount(), 1);
    EXPECT_EQ(graph->ValueAxis()->titleText(), QString("Temperature (") + QChar(0x00B0) + "C)");
    EXPECT_EQ(graph->CurrentAxis()->titleText(), "TE current (A)");
    // The newest sample is the second that just ended, with what the unit holds.
    const GraphSample& last = samplerOf(doc).Samples().back();
    EXPECT_TRUE(last.online);
    EXPECT_FLOAT_EQ(last.setPoint, static_cast<float>(protocol::textToDouble(held(3))));
    EXPECT_EQ(last.utcMillis / 1000, clock.seconds() - 1);
    // The time axis ends now and shows the default span of 5 minutes.
    EXPECT_EQ(graph->TimeAxis()->max().toMSecsSinceEpoch(), clock.utcMillis());
    EXPECT_EQ(graph->TimeAxis()->max().toMSecsSinceEpoch() - graph->TimeAxis()->min().toMSecsSinceEpoch(),
              5 * 60'000);
}

TEST_F(GraphTest, ReadingsGoOutOnceASecondWhetherTheMeasurementPanelShowsThemOrNot)
{
    CTqk5820ConfigDoc* doc = openOnline();
    Graph* graph = graphOf(doc);
    ReadingSampler& sampler = samplerOf(doc);
    // Logging, so that the TE voltage and the output word are wanted too.
    ASSERT_TRUE(sampler.StartLog(dir_ + "/TQK-5820-07.csv", true));
    seconds(doc, 2);
    // From the next second on.
    std::size_t since = ports.sent.size();
    const std::int64_t first = clock.seconds() + 1;
    seconds(doc, 6);
    for (int p : {1, 5, 6, 51}) {
        const auto reads = readsPerSecond(p, since);
        for (std::int64_t s = first; s <= clock.seconds(); ++s) {
            const auto it = reads.find(s);
            EXPECT_EQ(it == reads.end() ? 0 : it->second, 1) << "parameter " << p << " second " << s - first;
        }
    }
    EXPECT_TRUE(doc->IsConsumer(1, &sampler));
    EXPECT_FALSE(doc->MayTriggerRead(1, viewOf(doc)->GetPanel(1)));

    // With the Measurement panel hidden the graph reads for itself.
    const int points = graph->ActualPoints();
    action(cmd::kDisplayMeasurement)->trigger();
    ASSERT_EQ(viewOf(doc)->GetPanel(1), nullptr);
    seconds(doc, 1);
    since = ports.sent.size();
    const std::int64_t hidden = clock.seconds() + 1;
    seconds(doc, 5);
    EXPECT_GE(graph->ActualPoints(), points + 5);
    for (int p : {1, 5, 6, 51}) {
        const auto reads = readsPerSecond(p, since);
        for (std::int64_t s = hidden; s <= clock.seconds(); ++s) {
            const auto it = reads.find(s);
            EXPECT_EQ(it == reads.end() ? 0 : it->second, 1) << "parameter " << p << " second " << s - hidden;
        }
    }
    const auto rows = fileLines(dir_ + "/TQK-5820-07.csv");
    ASSERT_GE(rows.size(), 3u);
    EXPECT_TRUE(isFullRow(rows.back())) << rows.back();
}

TEST_F(GraphTest, AnOutageIsAGapInTheCurvesNeverALineAcrossIt)
{
    CTqk5820ConfigDoc* doc = openOnline();
    Graph* graph = graphOf(doc);
    seconds(doc, 3);
    ASSERT_EQ(graph->SegmentCount(), 1);

    sim->sim().control("off 7");
    for (int i = 0; i < 40 && doc->IsOnline(); ++i)
        elapse(250);
    ASSERT_FALSE(doc->IsOnline());
    const std::int64_t lastBefore = clock.utcMillis();
    elapse(4000);
    EXPECT_EQ(graph->SegmentCount(), 1);
    const int during = graph->ActualPoints();
    EXPECT_FALSE(samplerOf(doc).Samples().back().online);

    sim->sim().control("on 7");
    for (int i = 0; i < 100 && !(doc->IsOnline() && doc->GetSensorType() != 7); ++i)
        elapse(250);
    ASSERT_TRUE(doc->IsOnline());
    const std::int64_t firstAfter = clock.utcMillis();
    seconds(doc, 3);
    EXPECT_EQ(graph->SegmentCount(), 2);
    EXPECT_GT(graph->ActualPoints(), during);

    // No point of either stretch lies inside the outage.
    const QList<QAbstractSeries*> all = graph->Chart()->series();
    int drawn = 0;
    for (QAbstractSeries* s : all) {
        auto* line = qobject_cast<QLineSeries*>(s);
        if (line == nullptr || line->count() == 0)
            continue;
        ++drawn;
        const qreal firstX = line->at(0).x();
        const qreal lastX = line->at(line->count() - 1).x();
        const bool before = lastX <= static_cast<qreal>(lastBefore);
        const bool after = firstX >= static_cast<qreal>(firstAfter - 1000);
        EXPECT_TRUE(before || after) << firstX << " " << lastX;
    }
    EXPECT_EQ(drawn, 6);
}

TEST_F(GraphTest, AResistanceModeSensorPlotsKiloOhms)
{
    CTqk5820ConfigDoc* doc = openOnline();
    Graph* graph = graphOf(doc);
    seconds(doc, 2);
    const QString kiloOhms = QString("Resistance (k") + QChar(0x03A9) + ")";
    ASSERT_NE(graph->ValueAxis()->titleText(), kiloOhms);

    doc->SensorTypes().RequestType(1);
    for (int i = 0; i < 40 && samplerOf(doc).GetMode() != ReadingSampler::kResistance; ++i)
        seconds(doc, 1);
    ASSERT_EQ(samplerOf(doc).GetMode(), ReadingSampler::kResistance);
    seconds(doc, 3);
    EXPECT_EQ(graph->ValueAxis()->titleText(), kiloOhms);
    EXPECT_TRUE(doc->IsConsumer(2, &samplerOf(doc)));
    EXPECT_FALSE(doc->IsConsumer(1, &samplerOf(doc)));
    // The samples are the unit's resistances; the degrees before are kept
    // but not drawn against the kOhm axis, and one line marks where the
    // kOhms begin. The TE current keeps its whole span.
    const GraphSample& last = samplerOf(doc).Samples().back();
    EXPECT_TRUE(last.resistance);
    EXPECT_FLOAT_EQ(last.setPoint, static_cast<float>(protocol::textToDouble(held(4))));
    // The values of each unit in the ring, and the time the last unit began.
    const auto count = [&](bool resistance, std::int64_t& firstOfUnit) {
        int n = 0;
        int currents = 0;
        const ReadingHistory& ring = samplerOf(doc).Samples();
        for (std::size_t i = 0; i < ring.size(); ++i) {
            const GraphSample& s = ring.at(i);
            currents += s.online && s.has(GraphSample::kCurrent) ? 1 : 0;
            if (!s.online || !s.has(GraphSample::kActual))
                continue;
            if (s.resistance != resistance)
                n = 0;
            else if (n++ == 0)
                firstOfUnit = s.utcMillis;
        }
        return std::make_pair(n, currents);
    };
    const auto onlyFrom = [&](std::int64_t first) {
        for (QAbstractSeries* series : graph->Chart()->series()) {
            auto* line = static_cast<QLineSeries*>(series);
            if (line->pen().style() != Qt::SolidLine || line->count() == 0)
                continue;
            EXPECT_GE(line->at(0).x(), static_cast<qreal>(first));
        }
    };
    std::int64_t kOhmsFrom = 0;
    const auto kOhms = count(true, kOhmsFrom);
    EXPECT_GE(kOhms.first, 3);
    EXPECT_EQ(graph->ActualPoints(), kOhms.first);
    EXPECT_EQ(graph->CurrentPoints(), kOhms.second);
    onlyFrom(kOhmsFrom);
    EXPECT_EQ(graph->ModeMarkers(), 1);
    EXPECT_GE(graph->SegmentCount(), 2);

    doc->SensorTypes().RequestType(0);
    for (int i = 0; i < 40 && samplerOf(doc).GetMode() != ReadingSampler::kTemperature; ++i)
        seconds(doc, 1);
    seconds(doc, 2);
    EXPECT_EQ(graph->ValueAxis()->titleText(), QString("Temperature (") + QChar(0x00B0) + "C)");
    std::int64_t degreesFrom = 0;
    const auto degrees = count(false, degreesFrom);
    EXPECT_EQ(graph->ActualPoints(), degrees.first);
    onlyFrom(degreesFrom);
    EXPECT_EQ(graph->ModeMarkers(), 1);
    // The ticks are labelled without a minus on zero.
    for (QCategoryAxis* axis : {graph->ValueAxis(), graph->CurrentAxis()}) {
        EXPECT_GE(axis->count(), 2);
        for (const QString& label : axis->categoriesLabels())
            EXPECT_FALSE(QRegularExpression("^-0(\\.0*)?$").match(label).hasMatch()) << label.toStdString();
    }
}

TEST_F(GraphTest, TheCurvesAreToldApartAndTheMouseReadsThemOut)
{
    CTqk5820ConfigDoc* doc = openOnline();
    Graph* graph = graphOf(doc);
    seconds(doc, 5);
    // Three colours and three line styles, each shown so in the legend.
    std::set<QRgb> colours;
    std::set<int> styles;
    for (QAbstractSeries* series : graph->Chart()->series()) {
        auto* line = static_cast<QLineSeries*>(series);
        colours.insert(line->pen().color().rgb());
        styles.insert(static_cast<int>(line->pen().style()));
    }
    EXPECT_EQ(colours.size(), 3u);
    EXPECT_EQ(styles.size(), 3u);
    EXPECT_EQ(graph->Chart()->legend()->markerShape(), QLegend::MarkerShapeFromSeries);
    // One grid.
    EXPECT_TRUE(graph->ValueAxis()->isGridLineVisible());
    EXPECT_FALSE(graph->CurrentAxis()->isGridLineVisible());

    // The read-out names the second under the mouse and its three readings.
    const GraphSample& s = samplerOf(doc).Samples().back();
    ASSERT_TRUE(s.online);
    const QString time = QDateTime::fromMSecsSinceEpoch(s.utcMillis).toString("hh:mm:ss");
    const QString expected = time + QString("  Act %1  Set %2 ").arg(s.actual, 0, 'f', 3).arg(s.setPoint, 0, 'f', 3)
        + QChar(0x00B0) + QString("C  TE %1 A").arg(s.current, 0, 'f', 3);
    EXPECT_EQ(graph->ShowReadout(s.utcMillis + 300), expected);
    EXPECT_EQ(graph->ReadoutText(), expected);
    // The mouse over the plot shows one; leaving the plot hides it.
    const QPointF at = graph->Chart()->mapToPosition(QPointF(static_cast<qreal>(s.utcMillis), 0));
    QTest::mouseMove(graph->ChartView()->viewport(), graph->ChartView()->mapFromScene(graph->Chart()->mapToScene(
                                                         QPointF(at.x(), graph->Chart()->plotArea().center().y()))));
    EXPECT_TRUE(graph->ReadoutText().startsWith(time.left(5))) << graph->ReadoutText().toStdString();
    EXPECT_TRUE(graph->ShowReadout(s.utcMillis - 3'600'000).isEmpty());
    EXPECT_TRUE(graph->ReadoutText().isEmpty());
}

TEST_F(GraphTest, TheSpanSelectorSetsTheTimeShownAndOlderPointsGo)
{
    CTqk5820ConfigDoc* doc = openOnline();
    Graph* graph = graphOf(doc);
    QComboBox* span = graph->SpanSelector();
    ASSERT_EQ(span->count(), 4);
    EXPECT_EQ(span->itemText(0), "1 min");
    EXPECT_EQ(span->itemText(3), "60 min");
    const auto shown = [&] {
        return graph->TimeAxis()->max().toMSecsSinceEpoch() - graph->TimeAxis()->min().toMSecsSinceEpoch();
    };
    const int minutes[] = {1, 5, 15, 60};
    for (int i = 0; i < 4; ++i) {
        span->setCurrentIndex(i);
        EXPECT_EQ(graph->SpanMinutes(), minutes[i]);
        EXPECT_EQ(shown(), minutes[i] * 60'000LL) << i;
    }
    EXPECT_EQ(graph->TimeAxis()->format(), "hh:mm");

    // Two and a half minutes in a one-minute span: what scrolled out goes.
    span->setCurrentIndex(0);
    EXPECT_EQ(graph->TimeAxis()->format(), "hh:mm:ss");
    seconds(doc, 150);
    EXPECT_EQ(shown(), 60'000);
    EXPECT_GE(graph->ActualPoints(), 60);
    EXPECT_LE(graph->ActualPoints(), 61 + 31);
    // Back to a wider span: the history comes back from the samples.
    span->setCurrentIndex(2);
    EXPECT_GE(graph->ActualPoints(), 145);
}

// ---------------------------------------------------------------- the log

TEST_F(GraphTest, TheLogFolderGetsOneRowASecondThroughAnOutage)
{
    app->SetLogDirectory(dir_ + "/logs");
    ASSERT_EQ(::mkdir((dir_ + "/logs").c_str(), 0700), 0);
    // The graph need not show for the log to run.
    CTqk5820ConfigDoc* doc = openOnline(false);
    const std::string path = dir_ + "/logs/TQK-5820-07.csv";
    ASSERT_TRUE(samplerOf(doc).IsLogging());
    EXPECT_EQ(samplerOf(doc).LogPath(), path);
    seconds(doc, 4);

    sim->sim().control("off 7");
    for (int i = 0; i < 40 && doc->IsOnline(); ++i)
        elapse(250);
    elapse(3000);
    sim->sim().control("on 7");
    for (int i = 0; i < 100 && !(doc->IsOnline() && doc->GetSensorType() != 7); ++i)
        elapse(250);
    seconds(doc, 4);
    const std::int64_t end = clock.seconds();

    const auto lines = fileLines(path);
    ASSERT_GE(lines.size(), 12u);
    const std::string serial = held(55);
    const std::size_t from = serial.find_first_not_of(' ');
    EXPECT_EQ(lines[0], "# unit 07, serial number " + serial.substr(from, serial.find_last_not_of(' ') + 1 - from)
                            + ", COM2");
    EXPECT_EQ(lines[1],
              "time,actual (\xc2\xb0" "C),set point (\xc2\xb0" "C),TE current (A),TE voltage (V),output,age (s)");
    int missing = 0;
    int previous = -1;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        if (lines[i][0] == '#' || lines[i].rfind("time,", 0) == 0)
            continue;
        EXPECT_TRUE(isRow(lines[i])) << i << ": " << lines[i];
        missing += isMissingRow(lines[i]) ? 1 : 0;
        // One row for every second, none twice.
        const int second = std::stoi(lines[i].substr(17, 2));
        if (previous >= 0) {
            EXPECT_EQ((second - previous + 60) % 60, 1) << lines[i];
        }
        previous = second;
    }
    EXPECT_GE(missing, 2);
    EXPECT_TRUE(isFullRow(lines.back())) << lines.back();
    EXPECT_EQ(previous, static_cast<int>((end - 1) % 60));
}

TEST_F(GraphTest, ALogThatCannotBeWrittenShowsOneErrorAndStops)
{
    app->SetLogDirectory(dir_ + "/logs");
    ASSERT_EQ(::mkdir((dir_ + "/logs").c_str(), 0700), 0);
    CTqk5820ConfigDoc* doc = openOnline();
    Graph* graph = graphOf(doc);
    seconds(doc, 2);
    EXPECT_EQ(graph->LogLamp()->state(), 1);
    EXPECT_EQ(graph->LogCaption()->text(), "Logging to TQK-5820-07.csv");
    EXPECT_EQ(graph->LogButton()->text(), "Stop Log");
    ASSERT_TRUE(prompts.boxes.empty());

    // The folder goes away (with the file of the unit the window had first).
    std::remove((dir_ + "/logs/TQK-5820-07.csv").c_str());
    std::remove((dir_ + "/logs/TQK-5820-01.csv").c_str());
    ASSERT_EQ(::rmdir((dir_ + "/logs").c_str()), 0);
    const int points = graph->ActualPoints();
    seconds(doc, 4);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "ERROR - Cannot write the log file " + dir_
                                         + "/logs/TQK-5820-07.csv: No such file or directory. Logging has stopped.");
    EXPECT_EQ(prompts.boxes[0].caption, "Tessol");
    EXPECT_FALSE(samplerOf(doc).IsLogging());
    EXPECT_EQ(graph->LogLamp()->state(), 0);
    EXPECT_EQ(graph->LogButton()->text(), "Log...");
    // Nothing else is affected, and the folder coming back starts nothing.
    ASSERT_EQ(::mkdir((dir_ + "/logs").c_str(), 0700), 0);
    seconds(doc, 2);
    EXPECT_TRUE(doc->IsOnline());
    EXPECT_EQ(graph->ActualPoints(), points + 6);
    EXPECT_EQ(prompts.boxes.size(), 1u);
    EXPECT_NE(::access((dir_ + "/logs/TQK-5820-07.csv").c_str(), F_OK), 0);
}

TEST_F(GraphTest, TheLogButtonAsksForAFileAndStopsWhatItStarted)
{
    CTqk5820ConfigDoc* doc = openOnline();
    Graph* graph = graphOf(doc);
    QString offered;
    QString answer;
    graph->SetFileChooser([&](QWidget*, const QString& suggested) {
        offered = suggested;
        return answer;
    });
    EXPECT_EQ(graph->LogButton()->text(), "Log...");
    EXPECT_EQ(graph->LogLamp()->state(), 0);
    EXPECT_EQ(graph->LogCaption()->text(), "");

    // Cancelled: nothing starts.
    QTest::mouseClick(graph->LogButton(), Qt::LeftButton);
    EXPECT_TRUE(offered.endsWith("/TQK-5820-07.csv")) << offered.toStdString();
    EXPECT_FALSE(samplerOf(doc).IsLogging());

    // A file that was there is emptied (the file dialog asked first).
    const std::string path = dir_ + "/chosen.csv";
    std::ofstream(path) << "old\n";
    answer = QString::fromStdString(path);
    QTest::mouseClick(graph->LogButton(), Qt::LeftButton);
    ASSERT_TRUE(samplerOf(doc).IsLogging());
    // The rest of the second passes with the line working.
    runFor(60);
    quiet(doc);
    EXPECT_EQ(graph->LogButton()->text(), "Stop Log");
    EXPECT_EQ(graph->LogLamp()->state(), 1);
    EXPECT_EQ(graph->LogCaption()->text(), "Logging to chosen.csv");
    seconds(doc, 3);
    QTest::mouseClick(graph->LogButton(), Qt::LeftButton);
    EXPECT_FALSE(samplerOf(doc).IsLogging());
    EXPECT_EQ(graph->LogLamp()->state(), 0);
    seconds(doc, 2);
    const auto lines = fileLines(path);
    ASSERT_EQ(lines.size(), 2u + 3u);
    EXPECT_EQ(lines[0], "# unit 07, serial number CALLKV, COM2");
    // The first row is of the second in which the log began.
    EXPECT_TRUE(isRow(lines[2])) << lines[2];
    for (std::size_t i = 3; i < lines.size(); ++i)
        EXPECT_TRUE(isFullRow(lines[i])) << lines[i];

    // A file that cannot be made: the error, and no log.
    answer = QString::fromStdString(dir_ + "/nowhere/x.csv");
    QTest::mouseClick(graph->LogButton(), Qt::LeftButton);
    EXPECT_FALSE(samplerOf(doc).IsLogging());
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text.rfind("ERROR - Cannot write the log file ", 0), 0u);

    // Save history...: every sample kept, in the log's format, and the
    // status line says where.
    const std::string saved = dir_ + "/history.csv";
    answer = QString::fromStdString(saved);
    EXPECT_EQ(graph->SaveHistoryButton()->text(), "Save history...");
    QTest::mouseClick(graph->SaveHistoryButton(), Qt::LeftButton);
    EXPECT_TRUE(offered.endsWith("/TQK-5820-07-history.csv")) << offered.toStdString();
    const auto history = fileLines(saved);
    const ReadingHistory& ring = samplerOf(doc).Samples();
    ASSERT_GE(ring.size(), 5u);
    ASSERT_EQ(history.size(), 2u + ring.size());
    EXPECT_EQ(history[0], "# unit 07, serial number CALLKV, COM2");
    EXPECT_EQ(history.back().rfind(csvlog::isoTime(ring.back().utcMillis) + ",", 0), 0u) << history.back();
    EXPECT_EQ(history.back().substr(history.back().size() - 13), ",???.???,???,");
    EXPECT_EQ(prompts.statusMessages.back(), "History saved to " + saved);

    // Not over the file being logged to: that log would go on headless.
    answer = QString::fromStdString(path);
    QTest::mouseClick(graph->LogButton(), Qt::LeftButton);
    ASSERT_TRUE(samplerOf(doc).IsLogging());
    seconds(doc, 1);
    QTest::mouseClick(graph->SaveHistoryButton(), Qt::LeftButton);
    ASSERT_EQ(prompts.boxes.size(), 2u);
    EXPECT_NE(prompts.boxes[1].text.find("the readings are being logged to it"), std::string::npos);
    EXPECT_EQ(fileLines(path).front(), "# unit 07, serial number CALLKV, COM2");
}

// ---------------------------------------------------------------- the command line

TEST(CommandLineTest, TakesOnlyALogFolderOrAskForHelp)
{
    EXPECT_TRUE(parseCommandLine({}).ok);
    EXPECT_FALSE(parseCommandLine({"--log-dir", "/tmp/x"}).help);
    for (const std::vector<std::string>& help : std::vector<std::vector<std::string>> {
             {"--help"}, {"-h"}, {"--log-dir", "/tmp/x", "--help"}, {"--bogus", "--help"}}) {
        const CommandLine line = parseCommandLine(help);
        EXPECT_TRUE(line.ok && line.help) << help.back();
    }
    for (const std::vector<std::string>& version : std::vector<std::vector<std::string>> {
             {"--version"}, {"--log-dir", "/tmp/x", "--version"}, {"--bogus", "--version"}}) {
        const CommandLine line = parseCommandLine(version);
        EXPECT_TRUE(line.ok && line.version && !line.help) << version.front();
    }
    EXPECT_TRUE(parseCommandLine({"--version", "--help"}).help);
    EXPECT_EQ(parseCommandLine({"--log-dir", "/tmp/x"}).logDirectory, "/tmp/x");
    EXPECT_EQ(parseCommandLine({"--log-dir=/tmp/y"}).logDirectory, "/tmp/y");
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>> {
             {"--log-dir"}, {"--log-dir="}, {"--log-dir", ""}, {"x"}, {"--log-dir", "a", "--log-dir", "b"},
             {"--log-dir", "a", "extra"}, {"--logdir", "a"}}) {
        const CommandLine line = parseCommandLine(bad);
        EXPECT_FALSE(line.ok) << bad.front();
        EXPECT_FALSE(line.problem.empty());
    }

    // Help goes to the terminal and ends well, with or without a display.
    const RunResult help = runProgram({TESSOL_PATH, "--help"}, 20000, {"QT_QPA_PLATFORM=xcb", "DISPLAY="});
    EXPECT_EQ(help.exitCode, 0) << help.err;
    EXPECT_EQ(help.out.rfind(std::string(kCommandLineUsage) + "\n", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--log-dir DIR   log every controller"), std::string::npos) << help.out;
    const RunResult version = runProgram({TESSOL_PATH, "--version"}, 20000, {"QT_QPA_PLATFORM=xcb", "DISPLAY="});
    EXPECT_EQ(version.exitCode, 0) << version.err;
    EXPECT_EQ(version.out, std::string("Tessol ") + TESSOL_VERSION + "\n");

    const RunResult r = runProgram({TESSOL_PATH, "-platform", "offscreen", "--verbose"}, 20000);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("usage: tessol [--no-restore] [--log-dir DIR]"), std::string::npos) << r.err;
    // Even where no window can be opened, a wrong option is told as such.
    const RunResult headless = runProgram({TESSOL_PATH, "--bogus"}, 20000, {"QT_QPA_PLATFORM=xcb", "DISPLAY="});
    EXPECT_EQ(headless.exitCode, 2);
    EXPECT_NE(headless.err.find("usage: tessol [--no-restore] [--log-dir DIR]"), std::string::npos) << headless.err;
}

} // namespace
