// SPDX-License-Identifier: GPL-3.0-or-later
// What a person sees on Qt: a browse with thirty rows, a browse with a group header, icons and a
// sideways scrolling column, and a form with a sheet, each saved as a picture in the build folder
// (screenshots/) for review, and checked there: the list's header and rows hold text where the
// list is, the selected row is marked, the group header spans its columns, the icons show, the
// sheet's page shows.
#include <gtest/gtest.h>

#include <QColor>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTableWidget>
#include <QWheelEvent>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
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

namespace {

// A charge: its date with a paid or due icon, its code and amount, a long note.
#define CHARGE_ROW_FIELDS(FIELD) \
    FIELD(DATE, DATE)            \
    FIELD(ICON, LONG)            \
    FIELD(CODE, STRING(5))       \
    FIELD(AMOUNT, DECIMAL(11, 2)) \
    FIELD(NOTE, STRING(60))
TARVEX_RECORD(ChargeRow, "CHG", CHARGE_ROW_FIELDS)

}  // namespace

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

// The claim browse's list showing charges: "Charge" over the code and amount columns (the code's
// edge can be dragged), an icon before each date, and a note that scrolls sideways over 200 units.
constexpr const char* kChargeFormat =
    "50C|I~Date~@D2@[36L(2)|M~Code~@s5@60R(2)|~Amount~@n-12.2@]~Charge~|80LS(200)~Note~@s60@";

struct Charges {
    Queue<ClaimRow> rows, other;
    Queue<ChargeRow> charges;
    VrnWindowObject* w = nullptr;
    explicit Charges(const char* format = kChargeFormat) {
        for (int i = 1; i <= 20; i++) {
            charges->DATE = Vrn$DATE(3, i, 2024);
            charges->ICON = i % 3 == 0 ? 2 : 1;   // every third is due
            std::string code = "9921" + std::to_string(i % 10);
            Vrn$storestr(reinterpret_cast<char*>(&charges->CODE), sizeof charges->CODE, code.c_str(), 5);
            Vrn$DPushCString((std::to_string(i * 15) + ".50").c_str());
            Vrn$DPopDec(&charges->AMOUNT, sizeof charges->AMOUNT, 2);
            std::string note = "Office visit " + std::to_string(i) + ", established patient, follow-up in two weeks";
            Vrn$storestr(reinterpret_cast<char*>(&charges->NOTE), sizeof charges->NOTE, note.c_str(),
                         int32_t(note.size()));
            charges.Add();
        }
        Vrn$pwopen(&w, kModule, "P1$BROWSE", rows.Declaration(), other.Declaration(), nullptr);
        Vrn$OPENwindow(w);
        tarvex::Target browse(w);
        Vrn$PushLong(VRN_PROP_FROM);
        Vrn$SetPropQ(1, 0, w, charges.Declaration());
        browse[{1, VRN_PROP_FORMAT}] = format;
        browse[{1, VRN_PROP_LIST_ICONS, 1}] = "~paid.ico";
        browse[{1, VRN_PROP_LIST_ICONS, 2}] = "~due.ico";
        Vrn$DISPLAY(0, 0);
    }
    ~Charges() { Vrn$freewindow(&w); }
};

// Runs `work` on the Qt thread with the charge list's table and its group headers.
void OnChargeList(const std::function<void(QTableWidget*, std::vector<QWidget*>)>& work) {
    QMetaObject::invokeMethod(qApp, [&] {
        for (QWidget* top : QApplication::topLevelWidgets())
            for (QTableWidget* table : top->findChildren<QTableWidget*>())
                if (top->windowTitle() == "Claim Browser" && table->columnCount() == 4) {
                    std::vector<QWidget*> groups;
                    for (QWidget* group : table->parentWidget()->findChildren<QWidget*>("tarvexGroupHeader"))
                        if (group->isVisible())
                            groups.push_back(group);
                    work(table, groups);
                    return;
                }
        ADD_FAILURE() << "no charge list";
    }, Qt::BlockingQueuedConnection);
}

TEST(Screens, AGroupHeaderSpansItsColumnsAndIconsShowBeforeTheDates) {
    Charges c;
    QImage picture = Screenshot("Claim Browser", "charge_groups.png");
    ASSERT_FALSE(picture.isNull());
    auto shown = HeadlessBackend()->FindWindow("Claim Browser");
    ASSERT_TRUE(shown.has_value());
    const HeadlessUi::Control& list = shown->controls.front();
    // The code and amount columns: 36 and 60 units, each with its border line.
    int32_t average = ControlStateOf(*c.w).scale.font.average_width;
    auto pixels = [average](int units) { return (units * 2 * average + 4) / 8; };
    int code_left = pixels(50) + 1, charge_width = pixels(36) + 1 + pixels(60) + 1;
    ASSERT_EQ(list.list.groups.size(), 1u);
    EXPECT_EQ(list.list.groups[0].left, code_left);
    EXPECT_EQ(list.list.groups[0].right - list.list.groups[0].left, charge_width);
    OnChargeList([&](QTableWidget* table, std::vector<QWidget*> groups) {
        ASSERT_EQ(groups.size(), 1u);
        QWidget* charge = groups[0];
        EXPECT_EQ(charge->property("tarvexHeader").toString(), "Charge");
        QHeaderView* header = table->horizontalHeader();
        // Over the code and amount columns' headers, to the pixel, and right on top of them.
        QPoint at = charge->mapTo(table->window(), QPoint(0, 0));
        QPoint code = header->mapTo(table->window(), QPoint(header->sectionViewportPosition(1), 0));
        EXPECT_EQ(at.x(), code.x());
        EXPECT_EQ(charge->width(), charge_width);
        EXPECT_EQ(at.y() + charge->height(), code.y());
        // A person drags the code column's edge 30 pixels on: the group header follows it.
        header->resizeSection(1, header->sectionSize(1) + 30);
        EXPECT_EQ(charge->width(), charge_width + 30);
        EXPECT_EQ(charge->mapTo(table->window(), QPoint(0, 0)).x(), code.x());
    });
    // The header band holds the group's text; the third row's date shows the due icon (red) and
    // the second's the paid one (green), at the left of the date column.
    NativeRect r = list.spec.rect;
    int line = list.list.header_height / 2;
    EXPECT_GT(Colours(picture, {r.left + code_left + 4, r.top + 2, r.left + code_left + charge_width - 4,
                                r.top + line}).size(), 2u) << "no group header text";
    auto icon_colours = [&](int row) {
        int top = r.top + 1 + list.list.header_height + (row - 1) * line;
        return Colours(picture, {r.left + 1, top, r.left + line + 2, top + line});
    };
    auto has = [](const std::set<QRgb>& colours, QColor wanted) {
        for (QRgb colour : colours)
            if (std::abs(qRed(colour) - wanted.red()) < 8 && std::abs(qGreen(colour) - wanted.green()) < 8 &&
                std::abs(qBlue(colour) - wanted.blue()) < 8)
                return true;
        return false;
    };
    EXPECT_TRUE(has(icon_colours(3), QColor(200, 40, 40))) << "no due icon";
    EXPECT_TRUE(has(icon_colours(2), QColor(30, 140, 60))) << "no paid icon";
    EXPECT_FALSE(has(icon_colours(3), QColor(30, 140, 60))) << "the paid icon on a due row";
}

TEST(Screens, ASidewaysWheelScrollsTheNoteColumnAsRightAndLeftDo) {
    Charges c;
    int32_t average = ControlStateOf(*c.w).scale.font.average_width;
    for (tarvex::Accept accept; accept.Next();)
        if (tarvex::EVENT() == tarvex::EVENT_OpenWindow)
            std::thread([] {
                // Two notches to the right on a tilting wheel and one with Shift held: three
                // characters on; then a fine wheel's half notch, which moves nothing yet.
                OnChargeList([](QTableWidget* table, std::vector<QWidget*>) {
                    QPointF at(table->viewport()->width() - 5, 5);
                    auto turn = [&](QPoint delta, Qt::KeyboardModifiers keys) {
                        QWheelEvent wheel(at, table->viewport()->mapToGlobal(at), QPoint(), delta, Qt::NoButton,
                                          keys, Qt::NoScrollPhase, false);
                        QApplication::sendEvent(table->viewport(), &wheel);
                    };
                    turn({-120, 0}, Qt::NoModifier);
                    turn({-120, 0}, Qt::NoModifier);
                    turn({0, -120}, Qt::ShiftModifier);
                    turn({-60, 0}, Qt::NoModifier);
                });
                Driver driver(std::chrono::seconds(5));
                for (int i = 0; i < 500; i++) {
                    auto view = driver.ShownList("Claim Browser", "#1");
                    if (view && view->columns.size() == 4 && view->columns[3].scroll != 0)
                        break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                Screenshot("Claim Browser", "charge_note_scrolled.png");
                driver.CloseBox("Claim Browser");
            }).detach();
    NativeListView view = HeadlessBackend()->FindWindow("Claim Browser")->controls.front().list;
    ASSERT_EQ(view.columns.size(), 4u);
    EXPECT_EQ(view.columns[3].scroll, 3 * average);
    EXPECT_EQ(view.columns[0].scroll, 0);   // the others do not scroll
}

// The bar below the charge list's rows, found on the Qt thread: the list's horizontal scroll bar.
QScrollBar* SidewaysBar(QTableWidget* table) {
    for (QScrollBar* bar : table->parentWidget()->findChildren<QScrollBar*>(Qt::FindDirectChildrenOnly))
        if (bar->orientation() == Qt::Horizontal)
            return bar;
    return nullptr;
}

TEST(Screens, TheBarBelowTheRowsScrollsTheNoteColumnAndFollowsTheKeys) {
    Charges c;
    std::atomic<int> bar_after_key = -1;
    for (tarvex::Accept accept; accept.Next();)
        if (tarvex::EVENT() == tarvex::EVENT_OpenWindow)
            std::thread([&bar_after_key] {
                Driver driver(std::chrono::seconds(5));
                auto note_scroll = [&driver] {
                    auto view = driver.ShownList("Claim Browser", "#1");
                    return view && view->columns.size() == 4 ? view->columns[3].scroll : -1;
                };
                // The bar sits right under the rows, as high as the room the list keeps for it,
                // and a person pages it once to the right.
                OnChargeList([](QTableWidget* table, std::vector<QWidget*>) {
                    QScrollBar* bar = SidewaysBar(table);
                    ASSERT_NE(bar, nullptr);
                    EXPECT_TRUE(bar->isVisible());
                    EXPECT_EQ(bar->y(), table->geometry().bottom() + 1);
                    EXPECT_EQ(bar->width(), table->width());
                    bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
                });
                for (int i = 0; i < 500 && note_scroll() <= 0; i++)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                Screenshot("Claim Browser", "charge_note_bar.png");
                // Left moves the note back a character: the bar shows where the column is.
                int before = note_scroll();
                driver.PressKey("Claim Browser", 0x25);
                for (int i = 0; i < 500 && note_scroll() == before; i++)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                int after = note_scroll();
                for (int i = 0; i < 500; i++) {
                    OnChargeList([&](QTableWidget* table, std::vector<QWidget*>) {
                        if (QScrollBar* bar = SidewaysBar(table))
                            bar_after_key = bar->value();
                    });
                    if (bar_after_key == after)
                        break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                driver.CloseBox("Claim Browser");
            }).detach();
    NativeListView view = HeadlessBackend()->FindWindow("Claim Browser")->controls.front().list;
    ASSERT_EQ(view.columns.size(), 4u);
    int32_t average = ControlStateOf(*c.w).scale.font.average_width;
    // A page is the note column's width; Left took a character off it.
    const NativeListColumn& note = view.columns[3];
    EXPECT_GT(view.sideways_bar, 0);
    EXPECT_EQ(note.scroll, note.right - note.left - average);
    EXPECT_EQ(bar_after_key.load(), note.scroll);
    EXPECT_EQ(view.columns[0].scroll, 0);
}

// Each charge on two lines: its date, code and amount, and below them its note.
constexpr const char* kTwoLineFormat =
    "50C|I~Date~@D2@36L(2)|~Code~@s5@60R(2)|~Amount~@n-12.2@/146L(2)~Note~@s60@";

TEST(Screens, ARowOnTwoLinesShowsItsNoteBelowItsDate) {
    Charges c(kTwoLineFormat);
    QImage picture = Screenshot("Claim Browser", "charge_two_lines.png");
    ASSERT_FALSE(picture.isNull());
    auto shown = HeadlessBackend()->FindWindow("Claim Browser");
    ASSERT_TRUE(shown.has_value());
    const HeadlessUi::Control& list = shown->controls.front();
    ASSERT_EQ(list.list.columns.size(), 4u);
    EXPECT_EQ(list.list.columns[3].line, 1);
    EXPECT_EQ(list.list.columns[3].left, 0);
    // The page holds the rows that fit two lines each.
    int line = ControlStateOf(*c.w).scale.font.height;
    int rows = (list.spec.rect.Height() - list.list.header_height) / (2 * line);
    ASSERT_EQ(int(list.list.rows.size()), rows);
    int table_top = 0;
    OnChargeList([&](QTableWidget* table, std::vector<QWidget*>) {
        // The note is no column of its own: it is drawn in the rows' second lines, and every
        // row of the page is in the table's view.
        EXPECT_TRUE(table->isColumnHidden(3));
        EXPECT_EQ(table->rowCount(), rows);
        EXPECT_LE(table->rowViewportPosition(rows - 1) + table->rowHeight(rows - 1), table->viewport()->height());
        EXPECT_EQ(table->rowHeight(0) % 2, 0);
        table_top = table->viewport()->mapTo(table->parentWidget(), QPoint(0, 0)).y();
        line = table->rowHeight(0) / 2;
    });
    NativeRect r = list.spec.rect;
    table_top += r.top;
    auto second_line = [&](int row) {
        int top = table_top + (row - 1) * 2 * line + line;
        return NativeRect{r.left + 3, top + 1, r.left + list.list.columns[3].right - 4, top + line - 1};
    };
    EXPECT_GT(Colours(picture, second_line(2)).size(), 2u) << "no note under the second charge";
    // The selected first row is marked over both its lines: the colour of the blank left of its
    // amount is the colour most of its note's line shows, and not the second row's.
    auto most = [&](const NativeRect& area) {
        std::map<QRgb, int> counts;
        for (int y = area.top; y < area.bottom; y++)
            for (int x = area.left; x < area.right; x++)
                counts[picture.pixel(x, y)]++;
        return std::max_element(counts.begin(), counts.end(),
                                [](auto& a, auto& b) { return a.second < b.second; })->first;
    };
    QRgb marked = picture.pixel(r.left + list.list.columns[2].left + 3, table_top + line / 2);
    EXPECT_EQ(most(second_line(1)), marked);
    EXPECT_NE(most(second_line(2)), marked);

    // A click on the third row's second line, right of the columns of its first, picks the row.
    for (tarvex::Accept accept; accept.Next();)
        if (tarvex::EVENT() == tarvex::EVENT_OpenWindow)
            std::thread([] {
                OnChargeList([](QTableWidget* table, std::vector<QWidget*>) {
                    int right = table->columnViewportPosition(2) + table->columnWidth(2);
                    ASSERT_LT(right + 10, table->viewport()->width());
                    QPoint at(right + 5, table->rowViewportPosition(2) + table->rowHeight(2) * 3 / 4);
                    QMouseEvent press(QEvent::MouseButtonPress, at, table->viewport()->mapToGlobal(at),
                                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
                    QApplication::sendEvent(table->viewport(), &press);
                });
                Driver driver(std::chrono::seconds(5));
                for (int i = 0; i < 500; i++) {
                    auto view = driver.ShownList("Claim Browser", "#1");
                    if (view && view->selected == 3)
                        break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
                driver.CloseBox("Claim Browser");
            }).detach();
    EXPECT_EQ(HeadlessBackend()->FindWindow("Claim Browser")->controls.front().list.selected, 3);
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
