// SPDX-License-Identifier: GPL-3.0-or-later
// The file dialog statement on the headless backend: the program's title, filter and starting
// file reach the backend's question; the answer a test or script queued comes back as the program
// names files; cancelling keeps the program's text; what cannot be stored whole is an error, never
// a name cut short.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/tests/test_support.h"
#include "tarvex/controls.h"
#include "tarvex/frame.h"
#include "windows/driver.h"
#include "windows/headless_ui.h"

namespace tarvex::windows {
namespace {

class FileDialogStatement : public ::testing::Test {
protected:
    void SetUp() override {
        ui_ = HeadlessBackend();
        ASSERT_NE(ui_, nullptr);
        shown_before_ = ui_->FileDialogs().size();
        std::ofstream(drive_.Root() / "claims.wmf") << "page";
    }
    // FILEDIALOG as a program calls it: the title pushed first, the filter on top.
    int32_t Ask(const std::string& title, const std::string& filter, int32_t flag) {
        testing::PushText(title);
        testing::PushText(filter);
        return Vrn$FILEDIALOG(file_, sizeof file_, flag);
    }
    void SetFile(const std::string& text) {
        std::memset(file_, ' ', sizeof file_);
        std::memcpy(file_, text.data(), std::min(text.size(), sizeof file_));
    }
    std::string File() const {
        std::string text(file_, sizeof file_);
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }
    std::vector<HeadlessUi::FileDialogShown> Shown() const {
        std::vector<HeadlessUi::FileDialogShown> all = ui_->FileDialogs();
        return {all.begin() + std::ptrdiff_t(shown_before_), all.end()};
    }

    testing::TemporaryDrive drive_;
    HeadlessUi* ui_ = nullptr;
    size_t shown_before_ = 0;
    char file_[64];
};

// Open and save: the question as the program put it, the starting file as a Linux path, the
// chosen file back in the program's spelling.
TEST_F(FileDialogStatement, TheChosenFileComesBackAsTheProgramNamesFiles) {
    std::string root = drive_.Root().string();
    SetFile("C:\\CLAIMS.WMF");
    ui_->QueueFileAnswer(root + "/claims.wmf");
    EXPECT_EQ(Ask("Open a page", "Pages|*.wmf|All files (*.*)|*.*", 0), 1);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(File(), "C:\\claims.wmf");

    SetFile("C:\\");
    ui_->QueueFileAnswer(root + "/out/claims.pdf");   // need not exist
    EXPECT_EQ(Ask("Save the claims", "", VRN_FILEDIALOG_SAVE), 1);
    EXPECT_EQ(File(), "C:\\out\\claims.pdf");

    std::vector<HeadlessUi::FileDialogShown> shown = Shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].spec, (NativeFileDialogSpec{"Open a page", "Pages|*.wmf|All files (*.*)|*.*",
                                                   root + "/claims.wmf", false, ""}));
    EXPECT_EQ(shown[1].spec, (NativeFileDialogSpec{"Save the claims", "", root, true, ""}));
}

// Cancelled (by the answer, by no answer, or by opening a file that is not there): 0, no error,
// the program's text kept.
TEST_F(FileDialogStatement, ACancelledDialogKeepsTheProgramsText) {
    SetFile("C:\\CLAIMS.WMF");
    ui_->QueueFileAnswer(std::nullopt);
    EXPECT_EQ(Ask("Open", "", 0), 0);
    EXPECT_EQ(Ask("Open", "", 0), 0);   // nothing queued
    ui_->QueueFileAnswer(drive_.Root().string() + "/missing.wmf");
    EXPECT_EQ(Ask("Open", "", 0), 0);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(File(), "C:\\CLAIMS.WMF");
    std::vector<HeadlessUi::FileDialogShown> shown = Shown();
    ASSERT_EQ(shown.size(), 3u);
    for (const auto& dialog : shown)
        EXPECT_FALSE(dialog.answer.has_value());
}

// A chosen name longer than the variable is refused whole (45), the variable untouched; with no
// variable at all nothing is asked (387).
TEST_F(FileDialogStatement, ANameThatDoesNotFitIsAnError) {
    SetFile("C:\\CLAIMS.WMF");
    ui_->QueueFileAnswer(drive_.Root().string() + "/" + std::string(sizeof file_, 'x') + ".pdf");
    EXPECT_EQ(Ask("Save", "", VRN_FILEDIALOG_SAVE), 0);
    EXPECT_EQ(Vrn$ERRCODE, 45);
    EXPECT_EQ(File(), "C:\\CLAIMS.WMF");

    testing::PushText("Save");
    testing::PushText("");
    EXPECT_EQ(Vrn$FILEDIALOG(nullptr, 0, VRN_FILEDIALOG_SAVE), 0);
    EXPECT_EQ(Vrn$ERRCODE, 387);
    EXPECT_EQ(Shown().size(), 1u);
    EXPECT_EQ(StackDepth(), 0u);
}

// A script answers file dialogs in order: a file, then a cancel.
TEST_F(FileDialogStatement, AScriptAnswersFileDialogs) {
    std::string path = drive_.Root().string() + "/claims.wmf";
    Driver driver;
    std::vector<std::string> lines;
    static std::vector<std::string>* transcript = nullptr;
    transcript = &lines;
    EXPECT_EQ(RunScript("file \"" + path + "\"\ncancelfile\n", driver,
                        [](std::string_view line) { transcript->emplace_back(line); }),
              0);
    SetFile("");
    EXPECT_EQ(Ask("Open", "", 0), 1);
    EXPECT_EQ(File(), "C:\\claims.wmf");
    EXPECT_EQ(Ask("Open", "", 0), 0);
    EXPECT_EQ(File(), "C:\\claims.wmf");
    EXPECT_EQ(RunScript("cancelfile now\n", driver, [](std::string_view line) { transcript->emplace_back(line); }), 1);
}

}  // namespace
}  // namespace tarvex::windows
