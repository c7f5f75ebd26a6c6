// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing the backend chooses the printer: when the runtime loads the Qt backend for its windows,
// reports print through Qt (a job with no printer becomes a PDF at the chosen file); a headless run
// keeps the runtime's own printer (pages into the print folder). The backend is chosen once a
// process, so each case runs in a fresh one, the runtime loading libtarvex_qt.so as a program's
// would.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "platform/qt/qt_ui.h"
#include "report/printer.h"
#include "windows/native_ui.h"

namespace tarvex::platform::qt {
namespace {

// In the fresh process: chooses the backend as `TARVEX_UI` names it, then asks the print service
// in use for a job into a PDF and says where it reports the pages went. Exits 0 when the backend
// is the one named.
[[noreturn]] void ChooseAndReport(const char* backend, const std::string& pdf, const std::string& folder) {
    setenv("TARVEX_UI", backend, 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("TARVEX_PRINT_FOLDER", folder.c_str(), 1);
    unsetenv("TARVEX_SCRIPT");
    bool qt = dynamic_cast<QtUi*>(&windows::Ui()) != nullptr;
    report::PrinterSettings settings;
    settings.output_file = pdf;
    int32_t error = 0;
    std::string output;
    auto job = report::Printing().StartJob(settings, "Hook", &error);
    if (job)
        job->Finish(&output);
    std::fprintf(stderr, "backend %s, pages to %s\n", qt ? "qt" : "headless", output.c_str());
    std::fflush(stderr);
    _exit(qt == (std::string(backend) == "qt") ? 0 : 1);
}

class QtBackendHook : public ::testing::Test {
protected:
    void SetUp() override {
        // A fresh process of its own for each case (the binary run again for this case alone): the
        // backend of an earlier case, or Qt's application of the page tests, is not carried over.
        // The names hold that process's number.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        std::string stem = std::filesystem::temp_directory_path() / ("lum-hook-" + std::to_string(getpid()));
        pdf_ = stem + ".pdf";
        folder_ = stem + "-printed";
    }
    void TearDown() override {
        std::filesystem::remove(pdf_);
        std::filesystem::remove_all(folder_);
    }
    std::string pdf_, folder_;
};

TEST_F(QtBackendHook, LoadingTheQtBackendInstallsTheQtPrintService) {
    EXPECT_EXIT(ChooseAndReport("qt", pdf_, folder_), ::testing::ExitedWithCode(0),
                "backend qt, pages to /.*/lum-hook-[0-9]+\\.pdf\n");
}

TEST_F(QtBackendHook, AHeadlessRunKeepsTheHeadlessPrinter) {
    EXPECT_EXIT(ChooseAndReport("headless", pdf_, folder_), ::testing::ExitedWithCode(0),
                "backend headless, pages to /.*/lum-hook-[0-9]+-printed\n");
}

}  // namespace
}  // namespace tarvex::platform::qt
