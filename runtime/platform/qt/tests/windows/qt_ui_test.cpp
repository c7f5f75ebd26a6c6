// SPDX-License-Identifier: GPL-3.0-or-later
// The windows on Qt (the offscreen platform): a person's typing and pressing reach the ACCEPT loop
// as on the headless backend, each control sits at the rectangle its AT gives, the keys the
// program tests arrive with their key codes, a screenshot shows the controls, and opening and
// closing a window many times leaves nothing behind.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QTest>
#include <QWidget>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/qt/qt_printing.h"
#include "platform/qt/qt_ui.h"
#include "report/printer.h"
#include "tarvex/controls.hpp"
#include "tarvex/windows.hpp"
#include "windows/driver.h"

// The font library's lifelong cache is no leak of ours, nor is what Qt keeps for the thread it
// runs on when that thread is not the main one (its thread data, kept to the process's end).
// Widgets left behind are counted by the test that opens and closes windows.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libQt6Core.so\n";
}

namespace tarvex::platform::qt {
namespace {

constexpr const char* kModule = "LUMAREX$EVENTTEST";
constexpr const char* kFormTitle = "Update Patient";
constexpr int32_t kSave = 7;

struct Form {
    char last[20], first[20], code[5];
    int queue = 0;
    tarvex::Window window{kModule, "P1$FORM", last, first, code, &queue};
    Form() { window.Open(); }
};

class QtWindows : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        previous_ = windows::SetUi(std::make_unique<QtUi>());
    }
    static void TearDownTestSuite() { windows::SetUi(std::move(previous_)); }

    // Runs on the Qt thread and waits.
    static void OnQt(const std::function<void()>& work) {
        QMetaObject::invokeMethod(qApp, work, Qt::BlockingQueuedConnection);
    }
    // The control widgets of a window by field number.
    static std::map<int, QWidget*> FieldWidgets(const char* title) {
        std::map<int, QWidget*> found;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->windowTitle() == title && top->isVisible())
                for (QWidget* child : top->findChildren<QWidget*>())
                    if (child->property("tarvexField").isValid())
                        found[child->property("tarvexField").toInt()] = child;
        return found;
    }

    static inline std::unique_ptr<windows::NativeUi> previous_;
};

TEST_F(QtWindows, APersonTypesAndSavesAndTheBodySeesWhatItSeesHeadless) {
    Form form;
    std::thread person([] {
        windows::Driver driver(std::chrono::seconds(5));
        EXPECT_TRUE(driver.Type(kFormTitle, "&Last Name:", "Smith")) << driver.Why();
        EXPECT_TRUE(driver.Press(kFormTitle, "&Save")) << driver.Why();
    });
    std::vector<std::string> seen;
    for (Accept accept; accept.Next();) {
        seen.push_back(std::to_string(EVENT()) + "/" + std::to_string(FIELD()));
        if (ACCEPTED() == kSave)
            break;
    }
    person.join();
    EXPECT_EQ(seen, (std::vector<std::string>{"515/0", "1/2", "257/4", "257/7", "1/7"}));
    QString shown;
    OnQt([&] { shown = qobject_cast<QLineEdit*>(FieldWidgets(kFormTitle)[2])->text(); });
    EXPECT_EQ(shown, "Smith");
}

TEST_F(QtWindows, EachControlSitsWhereItsAtPutsIt) {
    Form form;
    auto state = windows::HeadlessBackend()->FindWindow(kFormTitle);
    ASSERT_TRUE(state.has_value());
    std::map<int, QRect> placed;
    OnQt([&] {
        for (auto [field, widget] : FieldWidgets(kFormTitle))
            placed[field] = widget->geometry();
    });
    ASSERT_EQ(placed.size(), state->controls.size());
    for (const auto& control : state->controls) {
        QRect at = placed[control.spec.field_number];
        EXPECT_LE(std::abs(at.left() - control.spec.rect.left), 1) << control.spec.field_number;
        EXPECT_LE(std::abs(at.top() - control.spec.rect.top), 1) << control.spec.field_number;
        EXPECT_LE(std::abs(at.width() - control.spec.rect.Width()), 1) << control.spec.field_number;
        EXPECT_LE(std::abs(at.height() - control.spec.rect.Height()), 1) << control.spec.field_number;
    }
}

TEST_F(QtWindows, TheKeysTheProgramTestsArriveWithTheirCodes) {
    Form form;
    struct Key {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        uint32_t code;
    } keys[] = {
        {Qt::Key_Insert, Qt::NoModifier, 45},    {Qt::Key_F1, Qt::NoModifier, 112},
        {Qt::Key_PageUp, Qt::NoModifier, 33},    {Qt::Key_PageDown, Qt::NoModifier, 34},
        {Qt::Key_QuoteLeft, Qt::ControlModifier, 704}, {Qt::Key_Apostrophe, Qt::ControlModifier, 734},
        {Qt::Key_Escape, Qt::NoModifier, 27},
    };
    std::vector<uint32_t> seen;
    for (Accept accept; accept.Next();) {
        if (EVENT() == EVENT_OpenWindow) {
            for (const Key& key : keys)
                if (key.code != 27)
                    Vrn$ALERT(key.code, 0);
            std::thread([&keys] {
                for (const Key& key : keys)
                    OnQt([&] { QTest::keyClick(FieldWidgets(kFormTitle)[2], key.key, key.modifiers); });
            }).detach();
        }
        if (EVENT() == EVENT_AlertKey || EVENT() == EVENT_CloseWindow)
            seen.push_back(KEYCODE());
    }
    EXPECT_EQ(seen, (std::vector<uint32_t>{45, 112, 33, 34, 704, 734, 27}));
}

TEST_F(QtWindows, AClickMovesTheRuntimesFocusAndTheProgramsCursorShows) {
    Form form;
    std::vector<int32_t> selected;
    for (Accept accept; accept.Next();) {
        if (EVENT() == EVENT_OpenWindow)
            std::thread([] {
                // A click into the third entry: the runtime leaves the first and selects it. A
                // person clicks into a window once it is on the screen and active.
                bool active = false;
                for (int tries = 0; tries < 500 && !active; ++tries) {
                    OnQt([&] { active = FieldWidgets(kFormTitle)[4]->isActiveWindow(); });
                    if (!active)
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
                OnQt([] { QTest::mouseClick(FieldWidgets(kFormTitle)[4], Qt::LeftButton); });
            }).detach();
        if (EVENT() == EVENT_Selected) {
            selected.push_back(FIELD());
            if (FIELD() == 4)
                break;
        }
    }
    EXPECT_EQ(selected.back(), 4);
    EXPECT_EQ(FOCUS(), 4);
    // The program's wait cursor (the system's cursor 32514), and back to the arrow.
    tarvex::Target window(form.window.Object());
    window[{0, VRN_PROP_CURSOR}] = std::string_view("\xFF\x01\x03\x7F", 4);
    Qt::CursorShape shape = Qt::ArrowCursor;
    OnQt([&] { shape = FieldWidgets(kFormTitle)[2]->window()->cursor().shape(); });
    EXPECT_EQ(shape, Qt::WaitCursor);
    window[{0, VRN_PROP_CURSOR}] = "";
    OnQt([&] { shape = FieldWidgets(kFormTitle)[2]->window()->cursor().shape(); });
    EXPECT_EQ(shape, Qt::ArrowCursor);
}

TEST_F(QtWindows, AScreenshotShowsTheControls) {
    Form form;
    std::string path = (std::filesystem::path(::testing::TempDir()) / "form.png").string();
    windows::Driver driver(std::chrono::seconds(5));
    ASSERT_TRUE(driver.Type(kFormTitle, "#2", "Smith")) << driver.Why();
    ASSERT_TRUE(driver.Screenshot(kFormTitle, path)) << driver.Why();
    QImage picture(QString::fromStdString(path));
    ASSERT_FALSE(picture.isNull());
    // The Save button's place holds more than one colour (its frame and its text).
    auto state = windows::HeadlessBackend()->FindWindow(kFormTitle);
    QRect save;
    OnQt([&] { save = FieldWidgets(kFormTitle)[kSave]->geometry(); });
    QPoint offset;
    OnQt([&] {
        QWidget* button = FieldWidgets(kFormTitle)[kSave];
        offset = button->mapTo(button->window(), QPoint(0, 0));
    });
    std::set<QRgb> colours;
    for (int y = offset.y(); y < offset.y() + save.height(); y++)
        for (int x = offset.x(); x < offset.x() + save.width(); x++)
            colours.insert(picture.pixel(x, y));
    EXPECT_GT(colours.size(), 2u);
}

TEST_F(QtWindows, OpeningAndClosingAWindowManyTimesLeavesNothing) {
    int before = 0, after = 0;
    OnQt([&] { before = QApplication::allWidgets().size(); });
    for (int i = 0; i < 1000; i++) {
        Form form;
        POST(EVENT_CloseWindow);
        for (Accept accept; accept.Next();) {
        }
    }
    OnQt([&] {
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        after = QApplication::allWidgets().size();
    });
    EXPECT_EQ(after, before);
    EXPECT_EQ(windows::HeadlessBackend()->WindowCount(), 0u);
}

// Qt's print dialog over the stored settings, on Qt's thread: titled as the program asks and
// showing the settings' orientation and file; cancelled it changes nothing, accepted it keeps
// what it shows (a custom paper of Letter's size comes back as Letter).
TEST_F(QtWindows, ThePrintDialogIsQtsOwnOverTheStoredSettings) {
    auto previous = report::SetPrinting(MakeQtPrinting(true));
    std::filesystem::path file = std::filesystem::temp_directory_path() /
                                 ("lum-dialog-" + std::to_string(getpid()) + ".pdf");
    std::filesystem::remove(file);
    report::PrinterSettings stored;
    stored.orientation = 2;
    stored.paper = report::kPaperCustom;
    stored.paper_width = 2159;
    stored.paper_length = 2794;
    stored.output_file = file.string();
    report::StorePrinterSettings(stored);
    for (bool accept : {false, true}) {
        QString title;
        bool landscape = false;
        QString output;
        std::thread person([&] {
            QPrintDialog* dialog = nullptr;
            for (int i = 0; i < 500 && dialog == nullptr; i++) {
                OnQt([&] { dialog = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget()); });
                if (dialog == nullptr)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (dialog == nullptr)
                return;
            OnQt([&] {
                title = dialog->windowTitle();
                landscape = dialog->printer()->pageLayout().orientation() == QPageLayout::Landscape;
                output = dialog->printer()->outputFileName();
                dialog->done(accept ? QDialog::Accepted : QDialog::Rejected);
            });
        });
        bool chosen = report::PrinterDialog("Print the claims", 0);
        person.join();
        EXPECT_EQ(title, "Print the claims");
        EXPECT_TRUE(landscape);
        EXPECT_EQ(output.toStdString(), file.string());
        EXPECT_EQ(chosen, accept);
        report::PrinterSettings now = report::StoredPrinterSettings();
        EXPECT_EQ(now.orientation, 2);
        EXPECT_EQ(now.output_file, file.string()) << now.device;
        EXPECT_EQ(now.paper, accept ? report::kPaperLetter : report::kPaperCustom);
    }
    report::StorePrinterSettings(report::PrinterSettings{});
    report::SetPrinting(std::move(previous));
}

}  // namespace
}  // namespace tarvex::platform::qt
