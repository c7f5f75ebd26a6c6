// SPDX-License-Identifier: GPL-3.0-or-later
// The windows on Qt (the offscreen platform): a person's typing and pressing reach the ACCEPT loop
// as on the headless backend, each control sits at the rectangle its AT gives, the keys the
// program tests arrive with their key codes, a screenshot shows the controls, and opening and
// closing a window many times leaves nothing behind.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QTest>
#include <QToolButton>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/qt/qt_printing.h"
#include "platform/qt/qt_ui.h"
#include "report/printer.h"
#include "tarvex/controls.h"
#include "tarvex/controls.hpp"
#include "tarvex/decimal.h"
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

// Program text is single-byte: a stored "Ren\xE9" shows as "René", a typed "José" is stored as
// "Jos\xE9", and a character the set has no byte for is left out rather than stored as UTF-8.
TEST_F(QtWindows, AccentedLettersShowAndAreStoredInTheProgramsOwnCharacterSet) {
    Form form;
    std::memset(form.last, ' ', sizeof form.last);
    std::memset(form.first, ' ', sizeof form.first);
    std::memcpy(form.first, "Ren\xE9", 4);
    Vrn$DISPLAY(4, 4);   // the first name alone: the form's list has no real queue
    std::thread person([] {
        windows::Driver driver(std::chrono::seconds(5));
        OnQt([] {
            auto* last = qobject_cast<QLineEdit*>(FieldWidgets(kFormTitle)[2]);
            ASSERT_NE(last, nullptr);
            last->setFocus();
            // Typed as a keyboard with those letters sends them: as the keys' text.
            for (QChar letter : QString::fromUtf8("Jos\u00E9\u03A9")) {
                QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(letter));
                QApplication::sendEvent(last, &press);
            }
        });
        EXPECT_TRUE(driver.Press(kFormTitle, "&Save")) << driver.Why();
    });
    for (Accept accept; accept.Next();)
        if (ACCEPTED() == kSave)
            break;
    person.join();
    EXPECT_EQ(std::string(form.last, 5), "Jos\xE9 ");
    QString shown;
    OnQt([&] { shown = qobject_cast<QLineEdit*>(FieldWidgets(kFormTitle)[4])->text(); });
    EXPECT_EQ(shown, QString::fromUtf8("Ren\u00E9"));
}

TEST_F(QtWindows, KeysTypedPastAnEntrysPictureAreNotTaken) {
    char phone[10];
    std::memset(phone, ' ', sizeof phone);
    uint8_t amount[4] = {};
    tarvex::Window window{kModule, "P1$PHONE", phone, amount};
    window.Open();
    Vrn$DISPLAY(0, 0);
    std::thread person([this] {
        windows::Driver driver(std::chrono::seconds(5));
        ASSERT_TRUE(driver.WaitForWindow("Phone Number"));
        // Key by key into the line: the two digits past "(###)###-####" do not go in.
        OnQt([] {
            auto* entry = qobject_cast<QLineEdit*>(FieldWidgets("Phone Number")[2]);
            ASSERT_NE(entry, nullptr);
            entry->selectAll();   // over the blank number's "(000)000-0000"
            QTest::keyClicks(entry, "(555)987-654321");
            EXPECT_EQ(entry->text(), "(555)987-6543");
            // The blanks that pad "   0.00" do not count: the person types over "0.00" and gets
            // eight characters in an entry of seven places, the digits all taken.
            auto* money = qobject_cast<QLineEdit*>(FieldWidgets("Phone Number")[3]);
            ASSERT_NE(money, nullptr);
            ASSERT_EQ(money->text(), "   0.00");
            money->setSelection(3, 4);
            QTest::keyClicks(money, "12.50");
            EXPECT_EQ(money->text(), "   12.50");
            QTest::keyClick(money, Qt::Key_Tab);
        });
        EXPECT_TRUE(driver.Press("Phone Number", "&Save")) << driver.Why();
    });
    for (Accept accept; accept.Next();)
        if (ACCEPTED() == 4)
            break;
    person.join();
    EXPECT_EQ(std::string(phone, 10), "5559876543");
    Vrn$DPushDec(amount, 4, 2);
    Vrn$DStack2Stack();
    EXPECT_EQ(tarvex::files_detail::PopText(), "12.5");
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
    // The windows of the tests before go first: their closing may still be queued.
    OnQt([&] {
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        before = QApplication::allWidgets().size();
    });
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

// Waits (up to five seconds) for a modal dialog of that class to be the active one.
template <class Dialog>
Dialog* WaitForModal() {
    for (int i = 0; i < 500; i++) {
        Dialog* dialog = nullptr;
        QMetaObject::invokeMethod(
            qApp, [&] { dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget()); },
            Qt::BlockingQueuedConnection);
        if (dialog != nullptr)
            return dialog;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return nullptr;
}

// FILEDIALOG on Qt with a person to answer: Qt's dialog, titled and filtered as the program asks
// (the description shown as written, "*.*" meaning every file), saving with the program's file to
// start from; cancelled it keeps the program's text, accepted it gives the file back as the
// program names files.
TEST_F(QtWindows, TheFileDialogIsQtsOwnWithTheProgramsTitleAndFilter) {
    auto* ui = dynamic_cast<QtUi*>(&windows::Ui());
    ASSERT_NE(ui, nullptr);
    ui->SetPersonAnswers(true);
    std::filesystem::path folder = std::filesystem::temp_directory_path() / ("lum-files-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::string chosen_path = (folder / "claims.pdf").string();
    char file[255];
    auto set_file = [&](const std::string& text) {
        std::memset(file, ' ', sizeof file);
        std::memcpy(file, text.data(), text.size());
    };
    // The program's names for files outside its drives: under Z:, the root.
    auto program_name = [](const std::filesystem::path& path) {
        std::string name = "Z:" + path.string();
        std::replace(name.begin(), name.end(), '/', '\\');
        return name;
    };
    std::string start = program_name(folder / "start.pdf");
    for (bool accept : {false, true}) {
        set_file(start);
        QString title, directory, name;
        QStringList filters;
        bool saving = false, hides_details = false;
        std::thread person([&] {
            auto* dialog = WaitForModal<QFileDialog>();
            if (dialog == nullptr)
                return;
            OnQt([&] {
                title = dialog->windowTitle();
                filters = dialog->nameFilters();
                saving = dialog->acceptMode() == QFileDialog::AcceptSave;
                hides_details = dialog->testOption(QFileDialog::HideNameFilterDetails);
                directory = dialog->directory().absolutePath();
                name = dialog->selectedFiles().value(0);
                if (!accept) {
                    dialog->reject();
                    return;
                }
                // The person types the name and saves.
                dialog->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(chosen_path));
                static_cast<QDialog*>(dialog)->accept();
            });
        });
        Vrn$PushCString("Save the claims");
        Vrn$PushCString("Claims|*.pdf|All files (*.*)|*.*");
        int32_t answer = Vrn$FILEDIALOG(file, sizeof file, VRN_FILEDIALOG_SAVE);
        person.join();
        EXPECT_EQ(title, "Save the claims");
        EXPECT_EQ(filters, (QStringList{"Claims (*.pdf)", "All files (*.*) (*)"}));
        EXPECT_TRUE(saving);
        EXPECT_TRUE(hides_details);
        EXPECT_EQ(directory.toStdString(), folder.string());
        EXPECT_EQ(name.toStdString(), (folder / "start.pdf").string());
        EXPECT_EQ(answer, accept ? 1 : 0);
        std::string text(file, sizeof file);
        text.erase(text.find_last_not_of(' ') + 1);
        EXPECT_EQ(text, accept ? program_name(chosen_path) : start);
    }
    ui->SetPersonAnswers(false);
    std::filesystem::remove_all(folder);
}

// The print dialog's print-to-file choice asks through the runtime's file dialog: titled "Print To
// File..." with every file offered, a name typed without a suffix becomes a PDF, and the file
// chosen is the one the settings print to.
TEST_F(QtWindows, ThePrintDialogsFileChoiceAsksWithItsOwnTitleAndFilter) {
    auto previous = report::SetPrinting(MakeQtPrinting(true));
    std::filesystem::path folder = std::filesystem::temp_directory_path() / ("lum-tofile-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    report::PrinterSettings stored;
    stored.output_file = (folder / "first.pdf").string();
    report::StorePrinterSettings(stored);
    QString title, file_shown;
    QStringList filters;
    std::thread person([&] {
        auto* print = WaitForModal<QPrintDialog>();
        if (print == nullptr)
            return;
        // The person picks the file choice and presses its browse button.
        QMetaObject::invokeMethod(
            qApp,
            [print] {
                auto* printers = print->findChild<QComboBox*>("printers");
                printers->setCurrentIndex(printers->count() - 1);
                print->findChild<QToolButton*>("fileBrowser")->click();
            },
            Qt::QueuedConnection);
        auto* files = WaitForModal<QFileDialog>();
        if (files == nullptr) {
            OnQt([&] { print->done(QDialog::Rejected); });
            return;
        }
        OnQt([&] {
            title = files->windowTitle();
            filters = files->nameFilters();
            files->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString((folder / "claims").string()));
            static_cast<QDialog*>(files)->accept();
        });
        WaitForModal<QPrintDialog>();
        OnQt([&] {
            file_shown = print->findChild<QLineEdit*>("filename")->text();
            static_cast<QDialog*>(print)->accept();   // the Print button
        });
    });
    bool chosen = report::PrinterDialog("", 0);
    person.join();
    EXPECT_EQ(title, "Print To File...");
    EXPECT_EQ(filters, QStringList{"All files (*.*) (*)"});
    EXPECT_EQ(file_shown.toStdString(), (folder / "claims.pdf").string());
    EXPECT_TRUE(chosen);
    EXPECT_EQ(report::StoredPrinterSettings().output_file, (folder / "claims.pdf").string());
    report::StorePrinterSettings(report::PrinterSettings{});
    report::SetPrinting(std::move(previous));
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tarvex::platform::qt
