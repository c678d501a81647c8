#pragma once

// The window program's controllers for benchmarks: units 1 to N on COM2,
// watched without windows, brought online.

#include "app/CKvtDocTemplate.h"
#include "app/CTessolApp.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/Controller.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

inline void benchRunFor(int ms)
{
    QEventLoop wait;
    QTimer::singleShot(ms, &wait, &QEventLoop::quit);
    wait.exec();
}

// Units 1 to `units` on the program's first line, each watched without a
// window, once every one answers and its sensor type is known (at most a
// minute); empty (said on stderr) when one does not.
inline std::vector<Controller*> benchOpenOnline(CTessolApp& app, int units, const char* who)
{
    for (int u = 1; u <= units; ++u) {
        Document* doc = app.OpenControllerAt(1, u);
        if (doc == nullptr)
            return {};
        app.ConfigTemplate().DropWindows(doc);
        if (Controller* c = app.ControllerOf(doc))
            c->SetWindowCount(0);
    }
    const std::vector<Controller*> controllers = app.Controllers();
    const auto ready = [&] {
        return std::all_of(controllers.begin(), controllers.end(), [](const Controller* c) {
            return c->Doc().IsOnline() && c->Doc().GetSensorType() != 7;
        });
    };
    QElapsedTimer timer;
    timer.start();
    while (!ready() && timer.elapsed() < 60000)
        benchRunFor(50);
    if (!ready()) {
        std::fprintf(stderr, "%s: not every unit came online\n", who);
        return {};
    }
    return controllers;
}
