#pragma once

// The window program under the offscreen platform against the in-process
// simulator: a test fixture for the main frame, the controller window and
// its panels.

#include "app/CMainFrame.h"
#include "app/CTessolApp.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/CTqk5820ConfigView.h"
#include "config/UnitRegistry.h"
#include "link/InstrumentLink.h"
#include "platform/LineWait.h"
#include "platform/MemoryProfile.h"
#include "platform/PosixSerialPorts.h"
#include "platform/SystemClock.h"
#include "tests/support/QtSim.h"
#include "tests/support/QtWait.h"
#include "tests/support/ReportingPrompts.h"
#include "tests/support/ScriptedPrompts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>

class AppBench : public ::testing::Test {
protected:
    // The units on the simulated line COM2; COM1 leads nowhere.
    virtual std::vector<int> simulatedUnits() const { return {1, 2, 3, 4, 5, 6, 7}; }
    // Whether the simulated line is paced like a 19200-baud line.
    virtual bool pacedLine() const { return false; }
    // Anything else about the simulated line: slow units, faults.
    virtual void adjustLine(sim::Options&) const {}
    // Whether reports show as the program's real boxes (`reporting`) rather
    // than only being recorded; questions are answered by `prompts` either way.
    virtual bool realReports() const { return false; }
    // One clock for the program and the simulator (one that runs faster,
    // say); none: the program on the wall clock, the simulator on its own.
    virtual Clock* sharedClock() { return nullptr; }

    void SetUp() override
    {
        UnitRegistry::program().clear();
        link_ = "/tmp/tessol-app-" + std::to_string(::getpid()) + "-com2";
        ports.setPath("COM2", link_);
        ports.setPath("COM1", "/nonexistent/tessol-com1");
        static int argc = 1;
        static char name[] = "tessol-test";
        static char* argv[] = {name, nullptr};
        UserPrompts* shown = realReports() ? static_cast<UserPrompts*>(&reporting) : &prompts;
        Clock* shared = sharedClock();
        app = std::make_unique<CTessolApp>(argc, argv,
                                           TessolServices {&ports, shared ? shared : &clock, &profile, shown});
        sim::Options options;
        options.units = simulatedUnits();
        options.lineRate = pacedLine();
        adjustLine(options);
        sim = std::make_unique<QtSim>(options, link_, shared);
        ASSERT_TRUE(sim->ok());
        ASSERT_TRUE(app->InitInstance());
        reporting.setOwner(app->GetMainFrame());
        reporting.setStatusBar(app->GetMainFrame()->statusBar());
    }

    void TearDown() override
    {
        modalWatch_.reset();
        app->ExitInstance();
        sim.reset();
        app.reset();
    }

    // A new controller window; with `unit` the document then moves to it.
    CTqk5820ConfigDoc* openController(int unit = 0)
    {
        auto* doc = static_cast<CTqk5820ConfigDoc*>(app->OnFileNew());
        // The simulator runs in this thread: loops that wait for an answer
        // (the final command before a unit or port change) let it answer.
        if (doc != nullptr) {
            doc->SetWaitHandler([this, doc] {
                if (sim)
                    sim->pump();
                waitOnLine(app->GetLink().watch(doc->GetPortIndex()), 2);
            });
        }
        if (doc != nullptr && unit > 0 && unit != doc->GetUnitNumber())
            doc->ChangeUnitNumber(unit);
        return doc;
    }

    // Opens a controller window and waits until it is online and its
    // sensor type is known.
    CTqk5820ConfigDoc* openOnline(int unit = 0)
    {
        CTqk5820ConfigDoc* doc = openController(unit);
        EXPECT_TRUE(runUntil([&] { return doc->IsOnline() && doc->GetSensorType() != 7; }, 10000));
        return doc;
    }

    static CTqk5820ConfigView* viewOf(CTqk5820ConfigDoc* doc)
    {
        return dynamic_cast<CTqk5820ConfigView*>(doc->GetViews().front());
    }

    template <class Panel>
    static Panel* panelOf(CTqk5820ConfigDoc* doc, int index)
    {
        return dynamic_cast<Panel*>(viewOf(doc)->GetPanel(index));
    }

    // Runs a command of the main window; `fill` works the modal dialog of
    // that type once it is up (and must close it). Whether one came.
    template <class Dialog>
    bool commandWithModal(int id, const std::function<void(Dialog&)>& fill)
    {
        bool shown = false;
        modalWatch_ = std::make_unique<QTimer>();
        modalWatch_->setInterval(10);
        QObject::connect(modalWatch_.get(), &QTimer::timeout, [this, fill, &shown] {
            if (auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
                modalWatch_->stop();
                shown = true;
                fill(*d);
            }
        });
        modalWatch_->start();
        app->GetMainFrame()->OnCommand(id);
        modalWatch_->stop();
        return shown;
    }

    // What the simulated unit holds; empty while it is switched off.
    std::string held(int unit, int parameter)
    {
        const auto answer = sim->sim().unit(unit)->handle(1, parameter, "+000.000");
        return answer ? answer->data : std::string();
    }

    // Sets what the simulated unit holds, behind the program's back.
    void force(int unit, int parameter, const std::string& text)
    {
        std::string error;
        ASSERT_TRUE(sim->sim().unit(unit)->force(parameter, text, &error)) << error;
    }

    // The user replaces the entry's text and leaves it with Tab.
    static void retype(QLineEdit* entry, const char* typed)
    {
        entry->setFocus(Qt::MouseFocusReason);
        entry->selectAll();
        QTest::keyClick(entry, Qt::Key_Backspace);
        QTest::keyClicks(entry, typed);
        QTest::keyClick(entry, Qt::Key_Tab);
    }

    std::string link_;
    PosixSerialPorts ports;
    SystemClock clock;
    MemoryProfile profile;
    ScriptedPrompts prompts;
    ReportingPrompts reporting {prompts};
    std::unique_ptr<CTessolApp> app;
    std::unique_ptr<QtSim> sim;

private:
    std::unique_ptr<QTimer> modalWatch_;
};
