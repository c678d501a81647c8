#pragma once

#include <QApplication>
#include <gtest/gtest.h>
#include <memory>

// One QApplication for a whole test program (offscreen unless the
// environment names a platform). Include it in one file of the program.
class QtTestApp : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tessol-test";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

inline const auto* const kQtTestApp = ::testing::AddGlobalTestEnvironment(new QtTestApp);
