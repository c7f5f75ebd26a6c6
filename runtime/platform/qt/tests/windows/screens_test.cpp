// SPDX-License-Identifier: GPL-3.0-or-later
// What a person sees on Qt: a browse with thirty rows and a form with a sheet, each saved as a
// picture in the build folder (screenshots/) for review, and checked there: the list's header and
// rows hold text where the list is, the selected row is marked, the sheet's page shows.
#include <gtest/gtest.h>

#include <QColor>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QTableWidget>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "tarvex/controls.h"
#include "tarvex/controls.hpp"
#include "tarvex/dates.h"
#include "tarvex/decimal.h"
#include "tarvex/frame.h"
#include "tarvex/queue.hpp"
#include "tarvex/string_stack.h"
#include "tarvex/type_descriptor.h"
#include "tarvex/windows.hpp"
#include "windows/controls.h"
#include "windows/driver.h"
#include "windows/headless_ui.h"
#include "windows/tests/claim_rows.h"

namespace tarvex::windows {
namespace {

constexpr const char* kModule = "LUMAREX$CTLTEST";

std::string ScreenshotPath(const std::string& name) {
    std::filesystem::path folder = std::filesystem::current_path() / "screenshots";
    std::filesystem::create_directories(folder);
    return (folder / name).string();
}

// The colours within a rectangle of the picture.
std::set<QRgb> Colours(const QImage& picture, const NativeRect& r) {
    std::set<QRgb> seen;
    for (int y = std::max(0, r.top); y < std::min(picture.height(), r.bottom); y++)
        for (int x = std::max(0, r.left); x < std::min(picture.width(), r.right); x++)
            seen.insert(picture.pixel(x, y));
    return seen;
}

QImage Screenshot(const char* title, const std::string& name) {
    Driver driver(std::chrono::seconds(5));
    std::string path = ScreenshotPath(name);
    EXPECT_TRUE(driver.Screenshot(title, path)) << driver.Why();
    return QImage(QString::fromStdString(path));
}

TEST(Screens, ABrowseShowsItsHeadersAndRowsAndMarksTheSelection) {
    Queue<ClaimRow> rows;
    Queue<ClaimRow> other;
    AddClaimRows(rows, 30);
    VrnWindowObject* w = nullptr;
    Vrn$pwopen(&w, kModule, "P1$BROWSE", rows.Declaration(), other.Declaration(), nullptr);
    Vrn$OPENwindow(w);
    Vrn$DISPLAY(0, 0);
    QImage picture = Screenshot("Claim Browser", "claim_browser.png");
    ASSERT_FALSE(picture.isNull());
    auto shown = HeadlessBackend()->FindWindow("Claim Browser");
    ASSERT_TRUE(shown.has_value());
    const HeadlessUi::Control& list = shown->controls.front();
    ASSERT_EQ(list.list.rows.size(), 12u);
    // The list's page: the header line, then twelve rows of the same height.
    int line = list.spec.rect.Height() / 13;
    NativeRect r = list.spec.rect;
    NativeRect header{r.left + 2, r.top + 2, r.right - 20, r.top + line};
    NativeRect first{r.left + 2, r.top + line + 2, r.right - 20, r.top + 2 * line};
    NativeRect last{r.left + 2, r.top + 12 * line + 2, r.right - 20, r.top + 13 * line - 1};
    EXPECT_GT(Colours(picture, header).size(), 2u) << "no header text";
    EXPECT_GT(Colours(picture, first).size(), 2u) << "no first row";
    EXPECT_GT(Colours(picture, last).size(), 2u) << "no last row";
    // The selected first row is marked: its background is not the second row's.
    QRgb selected = picture.pixel(r.left + 4, r.top + line + line / 2);
    QRgb plain = picture.pixel(r.left + 4, r.top + 2 * line + line / 2);
    EXPECT_NE(selected, plain);
    Vrn$freewindow(&w);
}

TEST(Screens, APersonWidensAColumnTheFormatLetsThemSize) {
    Queue<ClaimRow> rows;
    Queue<ClaimRow> other;
    rows->DATE = Vrn$DATE(1, 2, 2024);
    rows.Add();
    VrnWindowObject* w = nullptr;
    Vrn$pwopen(&w, kModule, "P1$BROWSE", rows.Declaration(), other.Declaration(), nullptr);
    Vrn$OPENwindow(w);
    tarvex::Target browse(w);
    browse[{1, VRN_PROP_FORMAT}] = "80LM~Date~@D2@|40L~Signed by~@s32@";
    for (tarvex::Accept accept; accept.Next();)
        if (tarvex::EVENT() == tarvex::EVENT_OpenWindow)
            std::thread([] {
                // The person drags the first column's edge to 150 pixels, then closes the window.
                QMetaObject::invokeMethod(qApp, [] {
                    for (QWidget* top : QApplication::topLevelWidgets())
                        for (QTableWidget* table : top->findChildren<QTableWidget*>())
                            if (top->windowTitle() == "Claim Browser" && table->columnCount() == 2)
                                table->horizontalHeader()->resizeSection(0, 150);
                }, Qt::BlockingQueuedConnection);
                Driver driver(std::chrono::seconds(5));
                driver.CloseBox("Claim Browser");
            }).detach();
    // The format the program reads back holds the new width in dialog units.
    int32_t average = ControlStateOf(*w).scale.font.average_width;
    std::string format = browse[{1, VRN_PROP_FORMAT}];
    int32_t units = std::atoi(format.substr(0, format.find('L')).c_str());
    EXPECT_NEAR(units * average / 4.0, 150, average / 4.0 + 1) << format;   // was 80 units
    EXPECT_NE(format.find("M~Date~"), std::string::npos) << format;
    Vrn$freewindow(&w);
}

TEST(Screens, AFormShowsItsSheetAndItsValues) {
    int32_t birth = Vrn$DATE(12, 25, 2023), spin = 3, progress = 25, sheet = 1;
    uint8_t balance[6] = {}, shown_balance[6] = {};
    char phone[10], ssn[9], code[5], signature[1] = {'Y'}, condition[10], tab_entry[3];
    std::memcpy(phone, "3125550100", 10);
    std::memcpy(ssn, "123456789", 9);
    std::memcpy(code, "A1   ", 5);
    std::memset(condition, ' ', sizeof condition);
    std::memcpy(tab_entry, "XYZ", 3);
    VrnWindowObject* w = nullptr;
    Vrn$pwopen(&w, kModule, "P1$FORM", &birth, balance, phone, ssn, code, signature, condition, &spin, &progress,
               shown_balance, &sheet, tab_entry, nullptr);
    Vrn$OPENwindow(w);
    Vrn$DISPLAY(0, 0);
    QImage picture = Screenshot("Patient Form", "patient_form.png");
    ASSERT_FALSE(picture.isNull());
    auto shown = HeadlessBackend()->FindWindow("Patient Form");
    ASSERT_TRUE(shown.has_value());
    for (const HeadlessUi::Control& control : shown->controls) {
        if (!control.visible || control.spec.rect.Width() < 8)
            continue;
        NativeRect inside{control.spec.rect.left + 2, control.spec.rect.top + 2, control.spec.rect.right - 2,
                          control.spec.rect.bottom - 2};
        EXPECT_GT(Colours(picture, inside).size(), 1u) << "field " << control.spec.field_number << " is blank";
    }
    Vrn$freewindow(&w);
}

}  // namespace
}  // namespace tarvex::windows
