// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the window scenario tests (the event loop's, the threads', the controls') with the Qt
// backend on Qt's offscreen platform instead of the headless one: the same steps through the same
// driving interface must give the same results when real widgets show every change.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "platform/qt/qt_ui.h"
#include "windows/native_ui.h"

// See qt_ui_test.cpp: what fontconfig and Qt keep for the life of the process is no leak of ours.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libQt6Core.so\n";
}

namespace {

class OnQt : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        previous_ = tarvex::windows::SetUi(std::make_unique<tarvex::platform::qt::QtUi>());
    }
    void TearDown() override {
        tarvex::windows::Ui().Shutdown();
        tarvex::windows::SetUi(std::move(previous_));
    }

private:
    std::unique_ptr<tarvex::windows::NativeUi> previous_;
};

[[maybe_unused]] ::testing::Environment* const on_qt = ::testing::AddGlobalTestEnvironment(new OnQt);

}  // namespace
