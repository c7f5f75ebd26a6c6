// SPDX-License-Identifier: GPL-3.0-or-later
// Controls on the headless backend: the windows of controls_windows.dsc opened with real
// variables and queues, driven through the exported statements and properties and the event
// loop's entry points (keys, typed text, completion), and checked through what the backend shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "core/string_stack.h"
#include "tarvex/controls.h"
#include "tarvex/controls.hpp"
#include "tarvex/dates.h"
#include "tarvex/decimal.h"
#include "tarvex/frame.h"
#include "tarvex/queue.hpp"
#include "tarvex/string_stack.h"
#include "tarvex/type_descriptor.h"
#include "tarvex/values.h"
#include "tarvex/windows.h"
#include "windows/control_model.h"
#include "windows/controls.h"
#include "windows/description_format.h"
#include "windows/headless_ui.h"
#include "windows/list_box.h"
#include "windows/properties.h"
#include "windows/tests/claim_rows.h"

namespace {

// A row that colours its first cell, gives it an icon, and puts its second in a tree.
#define STYLED_FIELDS(FIELD) \
    FIELD(NAME, STRING(10))  \
    FIELD(FG, LONG)          \
    FIELD(BG, LONG)          \
    FIELD(SFG, LONG)         \
    FIELD(SBG, LONG)         \
    FIELD(ICON, LONG)        \
    FIELD(CODE, STRING(5))   \
    FIELD(LEVEL, LONG)
TARVEX_RECORD(StyledRow, "STY", STYLED_FIELDS)

}  // namespace

namespace tarvex::windows {
namespace {

constexpr const char* kModule = "LUMAREX$CTLTEST";

HeadlessUi& Headless() { return *HeadlessBackend(); }

std::string GetProp(VrnWindowObject* w, int32_t field, const std::string& property, int32_t index = 0) {
    PushCopy(property);
    Vrn$GetPropS(field, index, w);
    return PopStdString();
}

void SetProp(VrnWindowObject* w, int32_t field, const std::string& property, const std::string& value,
             int32_t index = 0) {
    PushCopy(property);
    PushCopy(value);
    Vrn$SetPropS(field, index, w);
}

std::string Hex(int32_t number) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", unsigned(number));
    return text;
}

HeadlessUi::Control Shown(VrnWindowObject* w, int32_t field) {
    Control* control = FindControl(*w, field);
    EXPECT_NE(control, nullptr) << "field " << field;
    auto shown = Headless().GetControl(control ? control->handle : 0);
    EXPECT_TRUE(shown.has_value()) << "field " << field;
    return shown.value_or(HeadlessUi::Control{});
}

int32_t DayNumber(int year, int month, int day) { return Vrn$DATE(month, day, year); }

// The form window with its variables, opened; the target is the form.
// What the controls post is kept on the window for these tests to read, not handed to the event
// loop's queues.
struct PostsKept {
    ControlEventHooks previous = SetControlEventHooks({});
    PostsKept() {
        ControlEventHooks kept = previous;
        kept.post = nullptr;
        SetControlEventHooks(kept);
    }
    ~PostsKept() { SetControlEventHooks(previous); }
};

struct Form {
    PostsKept posts;
    int32_t birth = 0;
    uint8_t balance[6] = {};
    char phone[10], ssn[9], code[5], signature[1], condition[10], tab_entry[3];
    int32_t spin = 0, progress = 0, sheet = 0;
    uint8_t shown_balance[6] = {};
    VrnWindowObject* w = nullptr;

    Form() {
        std::memset(phone, ' ', sizeof phone);
        std::memset(ssn, ' ', sizeof ssn);
        std::memset(code, ' ', sizeof code);
        std::memset(signature, ' ', sizeof signature);
        std::memset(condition, ' ', sizeof condition);
        std::memset(tab_entry, ' ', sizeof tab_entry);
        Vrn$pwopen(&w, kModule, "P1$FORM", &birth, balance, phone, ssn, code, signature, condition, &spin, &progress,
                   shown_balance, &sheet, tab_entry, nullptr);
        Vrn$OPENwindow(w);
        EXPECT_TRUE(w->open);
    }
    ~Form() { Vrn$freewindow(&w); }
};

void SetBalance(uint8_t* bytes, const char* text) {
    Vrn$DPushCString(text);
    Vrn$DPopDec(bytes, 6, 2);
}

std::string BalanceText(const uint8_t* bytes) {
    Vrn$DPushDec(bytes, 6, 2);
    Vrn$DStack2Stack();
    return PopStdString();
}

// ---- Properties ----------------------------------------------------------------------------------

TEST(Properties, AnIndexBelow7D00CountsFromTheNumber) {
    Form f;
    // 0x7C02 with index 3 is the width (0x7C04).
    EXPECT_EQ(GetProp(f.w, 2, Hex(0x7C02), 3), GetProp(f.w, 2, Hex(0x7C04)));
    EXPECT_EQ(GetProp(f.w, 2, Hex(0x7C04)), "40");
    EXPECT_EQ(GetProp(f.w, 2, "width"), "40");                  // by name, case ignored
    EXPECT_EQ(GetProp(f.w, 2, Hex(0x7C02), 2), "4");             // y
    EXPECT_EQ(GetProp(f.w, 2, std::to_string(0x7C01)), "8");    // decimal text: the kind code
}

TEST(Properties, UnknownNumbersReadEmptyAndWriteNothing) {
    Form f;
    SetProp(f.w, 2, "0x7B00", "xyz");
    EXPECT_EQ(GetProp(f.w, 2, "0x7B00"), "");
    EXPECT_EQ(GetProp(f.w, 2, "NOSUCHNAME"), "");
    EXPECT_EQ(GetProp(f.w, 99, Hex(kPropText)), "");            // no control 99
    EXPECT_EQ(GetProp(f.w, 0, "0x7C8F"), "");                  // a window has no selection
    EXPECT_EQ(GetProp(VRN_TARGET_PRINTER, 0, Hex(kPropText)), "");
    EXPECT_EQ(GetProp(VRN_TARGET_SYSTEM, 0, Hex(kPropText)), "");
    auto* stranger = reinterpret_cast<VrnWindowObject*>(uintptr_t(0x1234));
    EXPECT_EQ(GetProp(stranger, 1, Hex(kPropText)), "");        // not a window of ours: nothing
}

TEST(Properties, TargetZeroIsTheCurrentWindowAndFieldZeroTheWindowItself) {
    Form f;
    EXPECT_EQ(GetProp(VRN_TARGET_CURRENT, 0, Hex(kPropText)), "Patient Form");
    SetProp(VRN_TARGET_CURRENT, 0, Hex(kPropText), "Patient Form (changed)");
    EXPECT_EQ(Headless().GetWindow(f.w->handle)->spec.title, "Patient Form (changed)");
    EXPECT_EQ(GetProp(f.w, 1, Hex(kPropText)), "&Birth date:");
}

TEST(Properties, AWindowThatIsNotOpenIsError536) {
    EXPECT_EXIT(
        {
            VrnWindowObject* w = nullptr;
            Vrn$pwopen(&w, kModule, "P1$FORM", nullptr);
            PushCopy(Hex(kPropText));
            Vrn$GetPropS(1, 0, w);
            std::exit(0);
        },
        ::testing::ExitedWithCode(2), "");
}

TEST(Properties, DisablingAndHidingShowOnTheBackendAndReadBack) {
    Form f;
    SetProp(f.w, 2, Hex(kPropDisable), "1");
    EXPECT_EQ(GetProp(f.w, 2, Hex(kPropDisable)), "1");
    EXPECT_FALSE(Shown(f.w, 2).enabled);
    SetProp(f.w, 2, Hex(kPropDisable), "0");
    EXPECT_TRUE(Shown(f.w, 2).enabled);
    SetProp(f.w, 3, Hex(kPropHide), "1");
    EXPECT_FALSE(Shown(f.w, 3).visible);
    EXPECT_EQ(GetProp(f.w, 3, Hex(kPropVisible)), "");
    // A hidden SHEET hides what its tabs hold; the entry's own flag stays clear.
    SetProp(f.w, 14, Hex(kPropHide), "1");
    EXPECT_FALSE(Shown(f.w, 16).visible);
    EXPECT_EQ(GetProp(f.w, 16, Hex(kPropHide)), "");
    EXPECT_EQ(GetProp(f.w, 16, Hex(kPropVisible)), "");
    SetProp(f.w, 14, Hex(kPropHide), "0");
    EXPECT_TRUE(Shown(f.w, 16).visible);
}

TEST(Properties, TooltipsComeAndGoAndAnEmptyTipOnNoTipIsHarmless) {
    Form f;
    SetProp(f.w, 2, Hex(kPropTip), "");
    EXPECT_EQ(Shown(f.w, 2).tip, "");
    SetProp(f.w, 2, Hex(kPropTip), "Save record and add another");
    EXPECT_EQ(Shown(f.w, 2).tip, "Save record and add another");
    EXPECT_EQ(GetProp(f.w, 2, "TIP"), "Save record and add another");
    SetProp(f.w, 2, Hex(kPropTip), "");
    EXPECT_EQ(Shown(f.w, 2).tip, "");
}

TEST(Properties, TheDefaultButtonMarkMovesAndTheDescriptionSetsIt) {
    Form f;
    Control* save = FindControl(*f.w, 18);
    Control* cancel = FindControl(*f.w, 19);
    ASSERT_TRUE(save && cancel);
    EXPECT_EQ(GetProp(f.w, 18, Hex(kPropDefault)), "1");
    EXPECT_EQ(Headless().GetWindow(f.w->handle)->default_button, save->handle);
    SetProp(f.w, 19, Hex(kPropDefault), "1");
    EXPECT_EQ(GetProp(f.w, 18, Hex(kPropDefault)), "");
    EXPECT_EQ(GetProp(f.w, 19, Hex(kPropDefault)), "1");
    EXPECT_EQ(Headless().GetWindow(f.w->handle)->default_button, cancel->handle);
}

TEST(Properties, AlertKeysAppendAtIndex255) {
    Form f;
    SetProp(f.w, 2, Hex(kPropAlertKey), "5", 255);
    SetProp(f.w, 2, Hex(kPropAlertKey), "734", 255);
    SetProp(f.w, 2, Hex(kPropAlertKey), "5", 255);   // already there
    EXPECT_EQ(GetProp(f.w, 2, Hex(kPropAlertKey), 1), "5");
    EXPECT_EQ(GetProp(f.w, 2, Hex(kPropAlertKey), 2), "734");
    EXPECT_EQ(GetProp(f.w, 2, Hex(kPropAlertKey), 3), "");
    EXPECT_EQ(ObjectOf(*FindControl(*f.w, 2))->AlertKeys().size(), 2u);
}

TEST(Properties, TheWindowKeepsStringsAndItsFrameState) {
    Form f;
    SetProp(f.w, 0, Hex(kPropWindowString), "first", 1);
    SetProp(f.w, 0, Hex(kPropWindowString), "third", 3);
    EXPECT_EQ(GetProp(f.w, 0, Hex(kPropWindowString), 1), "first");
    EXPECT_EQ(GetProp(f.w, 0, Hex(kPropWindowString), 2), "");
    EXPECT_EQ(GetProp(f.w, 0, Hex(kPropWindowString), 3), "third");
    EXPECT_EQ(GetProp(f.w, 0, Hex(kPropMaximized)), "");
    SetProp(f.w, 0, Hex(kPropMaximized), "1");
    EXPECT_EQ(GetProp(f.w, 0, Hex(kPropMaximized)), "1");
    SetProp(f.w, 0, Hex(kPropMaximized), "0");   // un-maximise before the position is saved
    EXPECT_EQ(Headless().GetWindow(f.w->handle)->state, NativeWindowState::Normal);
    SetProp(f.w, 0, Hex(kPropStatusText), "Ready");
    EXPECT_EQ(Headless().GetWindow(f.w->handle)->status_text, "Ready");
    SetProp(f.w, 0, Hex(kPropAcceptAll), "1");
    EXPECT_EQ(GetProp(f.w, 0, Hex(kPropAcceptAll)), "1");
}

TEST(Properties, AutomaticWidthFollowsTheText) {
    Form f;
    SetProp(f.w, 1, Hex(0x7C04), std::to_string(int32_t(0x80000000)));
    // "&Birth date:" shows 11 characters of 6 pixels, plus 8: 74 pixels.
    Control* prompt = FindControl(*f.w, 1);
    EXPECT_EQ(prompt->rect.Width(), 74);
    EXPECT_EQ(Shown(f.w, 1).spec.rect.Width(), 74);
    SetProp(f.w, 1, Hex(kPropText), "Date:");
    EXPECT_EQ(prompt->rect.Width(), 5 * 6 + 8);
    SetProp(f.w, 1, Hex(0x7C04), "40");   // fixed again: 40 dialog units
    EXPECT_EQ(prompt->rect.Width(), 60);
    SetProp(f.w, 1, Hex(kPropText), "A much longer prompt");
    EXPECT_EQ(prompt->rect.Width(), 60);
}

// ---- Statements -----------------------------------------------------------------------------------

TEST(Statements, RangesSwapAndZeroMeansAll) {
    Form f;
    Vrn$DISABLE(5, 2);
    for (int32_t field = 1; field <= 8; field++)
        EXPECT_EQ(Shown(f.w, field).enabled, field < 2 || field > 5) << field;
    Vrn$ENABLE(0, 0);
    for (int32_t field = 1; field <= 19; field++)
        EXPECT_TRUE(Shown(f.w, field).enabled) << field;
    Vrn$HIDE(4, 0);   // last 0: just 4
    EXPECT_FALSE(Shown(f.w, 4).visible);
    EXPECT_TRUE(Shown(f.w, 5).visible);
    Vrn$UNHIDE(4, 4);
    EXPECT_TRUE(Shown(f.w, 4).visible);
}

TEST(Statements, DisplayUpdateRoundTripsThroughThePictures) {
    Form f;
    f.birth = DayNumber(2024, 3, 4);
    SetBalance(f.balance, "-1234.5");
    std::memcpy(f.phone, "5551234567", 10);
    std::memcpy(f.ssn, "123456789", 9);
    std::memcpy(f.code, "AB1  ", 5);
    std::memcpy(f.signature, "Y", 1);
    std::memcpy(f.condition, "Injury    ", 10);
    f.spin = 7;
    f.progress = 20;
    SetBalance(f.shown_balance, "99.9");
    f.sheet = 2;
    Vrn$DISPLAY(0, 0);
    EXPECT_EQ(Shown(f.w, 2).text, " 3/04/2024");
    EXPECT_EQ(Shown(f.w, 3).text, "     -1,234.50");
    EXPECT_EQ(Shown(f.w, 4).text, "(555)123-4567");
    EXPECT_EQ(Shown(f.w, 5).text, "123-45-6789");
    EXPECT_EQ(Shown(f.w, 6).text, "AB1  ");
    EXPECT_EQ(Shown(f.w, 7).value, 1);           // checked: "Y"
    EXPECT_EQ(Shown(f.w, 8).value, 2);           // "Injury" is the second radio
    EXPECT_EQ(Shown(f.w, 11).text, "  7");
    EXPECT_EQ(Shown(f.w, 12).value, 20);
    EXPECT_EQ(Shown(f.w, 13).text, "         99.90");   // a STRING showing a variable
    EXPECT_EQ(Shown(f.w, 14).value, 2);          // the second tab
    EXPECT_EQ(Vrn$CHOICE(8), 2);
    EXPECT_EQ(Vrn$CHOICE(14), 2);
    EXPECT_EQ(Vrn$CHOICE(7), 1);

    // Clear the variables, then UPDATE puts back what the controls show.
    f.birth = 0;
    SetBalance(f.balance, "0");
    std::memset(f.phone, ' ', 10);
    std::memset(f.ssn, ' ', 9);
    std::memcpy(f.signature, "N", 1);
    std::memset(f.condition, ' ', 10);
    Vrn$UPDATE(0, 0);
    EXPECT_EQ(f.birth, DayNumber(2024, 3, 4));
    EXPECT_EQ(BalanceText(f.balance), "-1234.5");
    EXPECT_EQ(std::string(f.phone, 10), "5551234567");
    EXPECT_EQ(std::string(f.ssn, 9), "123456789");
    EXPECT_EQ(std::string(f.signature, 1), "Y");
    EXPECT_EQ(std::string(f.condition, 10), "Injury    ");
}

TEST(Statements, ADisplayOnAReportDoesNothing) {
    char text[10];
    std::memcpy(text, "unchanged ", 10);
    VrnWindowObject* report = nullptr;
    Vrn$propen(&report, kModule, "P1$REPORT", text, nullptr);
    Vrn$OPENwindow(report);
    ASSERT_TRUE(report->open);
    ControlEventHooks hooks;
    static VrnWindowObject* target;
    target = report;
    hooks.target_window = [] { return target; };
    ControlEventHooks previous = SetControlEventHooks(hooks);
    Vrn$DISPLAY(0, 0);
    Vrn$ERASE(0, 0);
    SetControlEventHooks(previous);
    EXPECT_EQ(std::string(text, 10), "unchanged ");
    EXPECT_EQ(report->bands[0]->controls[0]->object, nullptr);   // report controls have no live object
    Vrn$freewindow(&report);
}

TEST(Statements, ChangeAndEraseSetTheControlAndItsVariable) {
    Form f;
    PushCopy("12/25/2023");
    Vrn$CHANGE(2);
    EXPECT_EQ(f.birth, DayNumber(2023, 12, 25));
    EXPECT_EQ(Shown(f.w, 2).text, "12/25/2023");
    PushCopy("42.5");
    Vrn$CHANGE(3);
    EXPECT_EQ(BalanceText(f.balance), "42.5");
    Vrn$ERASE(2, 3);
    EXPECT_EQ(f.birth, 0);
    EXPECT_EQ(BalanceText(f.balance), "0");
    EXPECT_EQ(Shown(f.w, 2).text, "");
    PushCopy("Y");
    Vrn$CHANGE(7);
    EXPECT_EQ(Shown(f.w, 7).value, 1);
    PushCopy("nothing");
    Vrn$CHANGE(99);   // no control 99: nothing happens
}

TEST(Statements, PositionAndFontInTheWindowUnit) {
    Form f;
    Vrn$SETPOSITION(2, 60, int32_t(0x80000000), 50, int32_t(0x80000000));
    int32_t x = 0, y = 0, width = 0, height = 0;
    Vrn$GETPOSITION(2, &x, &y, &width, &height);
    EXPECT_EQ(x, 60);
    EXPECT_EQ(y, 4);
    EXPECT_EQ(width, 50);
    EXPECT_EQ(height, 10);
    // In pixels through the window font's dialog unit (headless: 1.5 px across, 1.625 down, so
    // {90, 7, 165, 23}; on a real backend through its own measure of the font), within a pixel.
    FontMetrics font = ControlStateOf(*f.w).scale.font;
    NativeRect placed = Shown(f.w, 2).spec.rect;
    EXPECT_NEAR(placed.left, 60 * font.average_width / 4.0, 1);
    EXPECT_NEAR(placed.top, 4 * font.height / 8.0, 1);
    EXPECT_NEAR(placed.Width(), 50 * font.average_width / 4.0, 1);
    EXPECT_NEAR(placed.Height(), 10 * font.height / 8.0, 1);
    if (font.average_width == 6 && font.height == 13) {
        EXPECT_EQ(placed, (NativeRect{90, 7, 165, 23}));
    }
    Vrn$SETFONT(2, "Arial", 10, 0xFF, 700);
    char face[20];
    int32_t size = 0, style = 0;
    uint32_t colour = 0;
    Vrn$GETFONT(2, face, sizeof face, &size, &colour, &style);
    EXPECT_STREQ(face, "Arial");
    EXPECT_EQ(size, 10);
    EXPECT_EQ(colour, 0xFFu);
    EXPECT_EQ(style, 700);
    EXPECT_EQ(GetProp(f.w, 2, Hex(kPropFontName + 1)), "10");
}

TEST(Statements, CreateIsHiddenUntilShownAndDestroyTakesItAway) {
    Form f;
    int32_t field = Vrn$CREATE(0, 0x0a, 0, 0);
    EXPECT_EQ(field, 20);
    EXPECT_FALSE(Shown(f.w, field).visible);
    SetProp(f.w, field, Hex(kPropText), "New prompt");
    Vrn$UNHIDE(field, field);
    EXPECT_TRUE(Shown(f.w, field).visible);
    EXPECT_EQ(Shown(f.w, field).text, "New prompt");
    EXPECT_EQ(Vrn$CREATE(field, 0x0a, 0, 0), 0);   // the number is taken
    EXPECT_EQ(Vrn$CREATE(0, 0x19, 0, 0), 0);       // a WINDOW is no control
    size_t before = Headless().GetWindow(f.w->handle)->controls.size();
    Vrn$DESTROY(17, 14);                        // the SHEET with its tabs and their entry
    EXPECT_EQ(FindControl(*f.w, 14), nullptr);
    EXPECT_EQ(FindControl(*f.w, 16), nullptr);
    EXPECT_NE(FindControl(*f.w, 13), nullptr);
    EXPECT_EQ(Headless().GetWindow(f.w->handle)->controls.size(), before - 4);
}

TEST(Statements, CreateWhileModalIsError541) {
    EXPECT_EXIT(
        {
            Form f;
            ControlEventHooks hooks;
            hooks.system_modal = [] { return true; };
            SetControlEventHooks(hooks);
            Vrn$CREATE(0, 0x0a, 0, 0);
            std::exit(0);
        },
        ::testing::ExitedWithCode(2), "");
}

TEST(Statements, CreatePlacesTheControlInItsParentAtItsPosition) {
    Form f;
    constexpr int32_t kOption = 8, kSheet = 14, kTabOne = 15, kEntry = 16;
    // A third radio, after the others: the option's variable finds it by its text.
    int32_t radio = Vrn$CREATE(0, int32_t(Kind::Radio), kOption, 0);
    EXPECT_EQ(radio, 20);
    SetProp(f.w, radio, Hex(kPropText), "&Other");
    PushCopy("Other");
    Vrn$CHANGE(kOption);
    EXPECT_EQ(Shown(f.w, kOption).value, 3);
    EXPECT_EQ(Shown(f.w, radio).spec.parent_control, FindControl(*f.w, kOption)->handle);
    EXPECT_EQ(GetProp(f.w, radio, Hex(kPropXPos)), "50");   // at its parent's corner
    EXPECT_EQ(GetProp(f.w, radio, Hex(kPropXPos + 1)), "88");
    EXPECT_FALSE(Shown(f.w, radio).visible);

    // A tab made at position 1 is the sheet's first tab.
    int32_t tab = Vrn$CREATE(30, int32_t(Kind::Tab), kSheet, 1);
    EXPECT_EQ(tab, 30);
    const auto& tabs = FindControl(*f.w, kSheet)->children;
    ASSERT_EQ(tabs.size(), 3u);
    EXPECT_EQ(tabs[0]->field_number, 30);
    EXPECT_EQ(tabs[1]->field_number, kTabOne);
    EXPECT_EQ(Shown(f.w, tab).spec.position, 1);
    // A place past the last is the last; 0 is after them all.
    EXPECT_EQ(Vrn$CREATE(0, int32_t(Kind::Prompt), kTabOne, 9), 31);
    EXPECT_EQ(FindControl(*f.w, kTabOne)->children.back()->field_number, 31);
    EXPECT_EQ(Shown(f.w, 31).spec.position, 0);
    EXPECT_EQ(Vrn$CREATE(0, int32_t(Kind::Entry), kTabOne, 1), 32);
    EXPECT_EQ(FindControl(*f.w, kTabOne)->children.front()->field_number, 32);
    EXPECT_EQ(FindControl(*f.w, kTabOne)->children[1]->field_number, kEntry);

    // What cannot hold the kind, or names nothing, makes nothing.
    size_t before = Headless().GetWindow(f.w->handle)->controls.size();
    EXPECT_EQ(Vrn$CREATE(0, int32_t(Kind::Radio), 0, 0), 0);              // a radio outside an option
    EXPECT_EQ(Vrn$CREATE(0, int32_t(Kind::Tab), kOption, 0), 0);          // a tab outside a sheet
    EXPECT_EQ(Vrn$CREATE(0, int32_t(Kind::Entry), kSheet, 0), 0);         // a sheet holds only tabs
    EXPECT_EQ(Vrn$CREATE(0, int32_t(Kind::Entry), kEntry, 0), 0);         // an entry holds nothing
    EXPECT_EQ(Vrn$CREATE(0, int32_t(Kind::Entry), 99, 0), 0);             // no control 99
    EXPECT_EQ(Vrn$CREATE(-3, int32_t(Kind::Entry), 0, 0), 0);             // a menu item's kind of number
    EXPECT_EQ(Vrn$CREATE(0, int32_t(Kind::Menu), 0, 0), 0);
    EXPECT_EQ(Headless().GetWindow(f.w->handle)->controls.size(), before);
    // Destroying the option takes the radio made in it.
    Vrn$DESTROY(kOption, kOption);
    EXPECT_EQ(FindControl(*f.w, radio), nullptr);
}

TEST(Properties, TheSystemObjectKeepsTheCursorOfEveryWindow) {
    Form f;
    const std::string wait("\xFF\x01\x8B\x7F", 4);   // a stock cursor, as a description names one
    // The program saves the cursor into a padded variable, shows the wait cursor, puts it back.
    std::string saved = GetProp(VRN_TARGET_SYSTEM, 0, Hex(kPropCursor));
    EXPECT_EQ(saved, "");
    saved.resize(20, ' ');
    SetProp(VRN_TARGET_SYSTEM, 0, Hex(kPropCursor), wait);
    EXPECT_EQ(Headless().ApplicationCursor(), wait);
    EXPECT_EQ(GetProp(VRN_TARGET_SYSTEM, 0, "cursor"), wait);
    EXPECT_EQ(GetProp(f.w, 0, Hex(kPropCursor)), "");   // the window's own is not touched
    SetProp(VRN_TARGET_SYSTEM, 0, Hex(kPropCursor), saved);
    EXPECT_EQ(Headless().ApplicationCursor(), "");
    EXPECT_EQ(GetProp(VRN_TARGET_SYSTEM, 0, Hex(kPropCursor)), "");
    // Its other numbers read empty and write nothing; its field number does not matter.
    SetProp(VRN_TARGET_SYSTEM, 0, Hex(kPropText), "Title");
    EXPECT_EQ(GetProp(VRN_TARGET_SYSTEM, 0, Hex(kPropText)), "");
}

TEST(Statements, PopupMenusAsTheBrowsesWriteThem) {
    Form f;
    Headless().SetNextPopupChoice(2);
    PushCopy("&Add|~&Change|~&Delete|-|~&Select");
    EXPECT_EQ(Vrn$POPUP(), 0);   // Change is disabled
    auto items = Headless().GetWindow(f.w->handle)->last_popup;
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0], (NativePopupItem{"Add", true, false, false}));
    EXPECT_EQ(items[1], (NativePopupItem{"Change", false, false, false}));
    EXPECT_TRUE(items[3].separator);
    EXPECT_EQ(items[4], (NativePopupItem{"Select", false, false, false}));
    Headless().SetNextPopupChoice(4);
    PushCopy("&Add|&Change|&Delete|-|&Select");
    EXPECT_EQ(Vrn$POPUP(), 4);   // the separator is not counted
}

// ---- Typing, completing, required fields ----------------------------------------------------------

TEST(Fields, TypedTextIsReadBackOnlyWhenItFitsThePicture) {
    Form f;
    Control& birth = *FindControl(*f.w, 2);
    ControlTyped(*f.w, birth, "3/4/24");
    EXPECT_EQ(f.birth, 0);   // not before it is completed
    EXPECT_TRUE(ControlCompleted(*f.w, birth));
    EXPECT_EQ(f.birth, DayNumber(2024, 3, 4));
    EXPECT_EQ(Shown(f.w, 2).text, " 3/04/2024");

    for (const char* bad : {"13/45/24", "hello", "3/4/24x", "1/1/99999999999999999999"}) {
        ControlTyped(*f.w, birth, bad);
        EXPECT_FALSE(ControlCompleted(*f.w, birth)) << bad;
        EXPECT_EQ(f.birth, DayNumber(2024, 3, 4)) << bad;
        EXPECT_EQ(Shown(f.w, 2).text, " 3/04/2024") << bad;   // shown again as it was
    }
    Control& money = *FindControl(*f.w, 3);
    ControlTyped(*f.w, money, "1,234.56");
    EXPECT_TRUE(ControlCompleted(*f.w, money));
    EXPECT_EQ(BalanceText(f.balance), "1234.56");
    ControlTyped(*f.w, money, "12a");
    EXPECT_FALSE(ControlCompleted(*f.w, money));
    ControlTyped(*f.w, money, "123456789012345");   // more digits than the picture holds
    EXPECT_FALSE(ControlCompleted(*f.w, money));
    EXPECT_EQ(BalanceText(f.balance), "1234.56");
    Control& phone = *FindControl(*f.w, 4);
    ControlTyped(*f.w, phone, "(555)987-6543");
    EXPECT_TRUE(ControlCompleted(*f.w, phone));
    EXPECT_EQ(std::string(f.phone, 10), "5559876543");

    std::vector<PostedControlEvent> expected = {{2, 1}, {2, 26}, {2, 26}, {2, 26}, {2, 26}, {3, 1}, {3, 26}, {3, 26}, {4, 1}};
    EXPECT_EQ(PostedControlEvents(*f.w), expected);
}

TEST(Fields, TypedTextStopsAtThePicturesWidth) {
    Form f;
    // The backend is told each entry's limit: the picture's width.
    EXPECT_EQ(Shown(f.w, 2).entry_limit, 10);   // @D2
    EXPECT_EQ(Shown(f.w, 3).entry_limit, 14);   // @n-14.2
    EXPECT_EQ(Shown(f.w, 4).entry_limit, 13);   // (###)###-####
    EXPECT_EQ(Shown(f.w, 6).entry_limit, 5);    // @s5
    // Whatever arrives past the limit is dropped, after the blanks that pad a value.
    Control& code = *FindControl(*f.w, 6);
    ControlTyped(*f.w, code, "ABCDEFGH");
    EXPECT_EQ(code.text, "ABCDE");
    ControlTyped(*f.w, code, "XY            ");
    EXPECT_EQ(code.text, "XY");
    // A number's padding does not count: digits typed after "    0.00" go in.
    Control& money = *FindControl(*f.w, 3);
    ControlTyped(*f.w, money, "            12.25");
    EXPECT_EQ(money.text, "12.25");
    EXPECT_TRUE(ControlCompleted(*f.w, money));
    EXPECT_EQ(BalanceText(f.balance), "12.25");
    ControlTyped(*f.w, code, "ABC  ");   // within the limit: as typed
    EXPECT_EQ(code.text, "ABC  ");
    EXPECT_TRUE(ControlCompleted(*f.w, code));
    EXPECT_EQ(std::string(f.code, 5), "ABC  ");
    // The digits typed past the pattern's places never arrive, so the number is taken.
    Control& phone = *FindControl(*f.w, 4);
    ControlTyped(*f.w, phone, "(555)987-65439999");
    EXPECT_EQ(Shown(f.w, 4).text, "(555)987-6543");
    EXPECT_TRUE(ControlCompleted(*f.w, phone));
    EXPECT_EQ(std::string(f.phone, 10), "5559876543");
}

TEST(Fields, ARequiredFieldIsIncompleteUntilItHasAValue) {
    Form f;
    Control& code = *FindControl(*f.w, 6);
    EXPECT_TRUE(ControlIncomplete(*f.w, code));
    EXPECT_FALSE(ControlIncomplete(*f.w, *FindControl(*f.w, 5)));   // not required
    EXPECT_EQ(GetProp(f.w, 6, Hex(kPropRequired)), "1");
    std::memcpy(f.code, "X    ", 5);
    EXPECT_FALSE(ControlIncomplete(*f.w, code));
}

TEST(Fields, FieldOrderLeavesOutWhatCannotTakeTheFocus) {
    Form f;
    std::vector<int32_t> order;
    for (Control* c : FieldOrder(*f.w))
        order.push_back(c->field_number);
    EXPECT_EQ(order, (std::vector<int32_t>{2, 3, 4, 5, 6, 7, 8, 11, 14, 16, 18, 19}));
    Vrn$DISABLE(3, 4);
    Vrn$HIDE(14, 14);   // the sheet, and its entry with it
    order.clear();
    for (Control* c : FieldOrder(*f.w))
        order.push_back(c->field_number);
    EXPECT_EQ(order, (std::vector<int32_t>{2, 5, 6, 7, 8, 11, 18, 19}));
    EXPECT_EQ(FieldOrder(*f.w, false).size(), 12u);
}

TEST(Fields, ChecksOptionsSpinsAndButtonsAnswerTheirKeys) {
    Form f;
    Control& check = *FindControl(*f.w, 7);
    EXPECT_TRUE(ControlKey(*f.w, check, 0x20));
    EXPECT_EQ(std::string(f.signature, 1), "Y");
    EXPECT_TRUE(ControlKey(*f.w, check, 0x20));
    EXPECT_EQ(std::string(f.signature, 1), "N");
    PickChoice(*FindControl(*f.w, 8), 1);
    EXPECT_EQ(std::string(f.condition, 10), "Illness   ");
    SetProp(f.w, 11, Hex(kPropRangeHigh), "8");
    f.spin = 7;
    Control& spin = *FindControl(*f.w, 11);
    ControlKey(*f.w, spin, 0x26);
    ControlKey(*f.w, spin, 0x26);
    EXPECT_EQ(f.spin, 8);                        // held at the range's top
    EXPECT_EQ(Shown(f.w, 11).text, "  8");
    Control& cancel = *FindControl(*f.w, 19);
    EXPECT_TRUE(ControlKey(*f.w, cancel, 0x0d));
    EXPECT_EQ(PostedControlEvents(*f.w).back(), (PostedControlEvent{19, 1}));
    EXPECT_EQ(ControlDefaultAction(*f.w, cancel, 1), 0);
}

TEST(Fields, TheFocusedControlsMessageGoesToTheStatusBar) {
    Form f;
    SetProp(f.w, 2, Hex(kPropMsg), "Enter the date of birth");
    ControlGainedFocus(*f.w, *FindControl(*f.w, 2));
    EXPECT_EQ(Headless().GetWindow(f.w->handle)->status_text, "Enter the date of birth");
    EXPECT_EQ(GetProp(f.w, 0, Hex(kPropStatusText)), "Enter the date of birth");
    SetProp(f.w, 0, Hex(kPropMsg), "Patient form");
    ControlGainedFocus(*f.w, *FindControl(*f.w, 3));   // no message of its own: the window's
    EXPECT_EQ(Headless().GetWindow(f.w->handle)->status_text, "Patient form");
}

// ---- A browse-shaped window -----------------------------------------------------------------------

struct Browse {
    PostsKept posts;
    Queue<ClaimRow> rows;
    Queue<ClaimRow> other;
    VrnWindowObject* w = nullptr;

    explicit Browse(int count) {
        AddClaimRows(rows, count);
        Vrn$pwopen(&w, kModule, "P1$BROWSE", rows.Declaration(), other.Declaration(), nullptr);
        Vrn$OPENwindow(w);
        EXPECT_TRUE(w->open);
        Vrn$DISPLAY(0, 0);
    }
    ~Browse() { Vrn$freewindow(&w); }
    NativeListView View(int32_t field = 1) { return Shown(w, field).list; }
};

TEST(Lists, APageOfRowsThroughTheColumnPictures) {
    Browse b(30);
    // 108 dialog units high: 176 pixels, one header line of 13, rows of 13: 12 rows.
    EXPECT_EQ(GetProp(b.w, 1, Hex(kPropItems)), "12");
    NativeListView view = b.View();
    EXPECT_EQ(view.headers, (std::vector<std::string>{"Date", "Authorization signed by:", "Balance"}));
    EXPECT_EQ(view.records, 30);
    ASSERT_EQ(view.rows.size(), 12u);
    EXPECT_EQ(view.rows[0], (std::vector<std::string>{" 1/02/2024", "Signer 1", "          1.05"}));
    EXPECT_EQ(view.rows[11][1], "Signer 12");
    EXPECT_EQ(view.selected, 1);
    EXPECT_EQ(GetProp(b.w, 1, Hex(kPropSelected)), "1");
    EXPECT_TRUE(view.scrolls);
    // A page's worth of rows leaves the scroll bar nothing to do; one more gives it work.
    Browse twelve(12);
    EXPECT_FALSE(twelve.View().scrolls);
    Browse thirteen(13);
    EXPECT_TRUE(thirteen.View().scrolls);
}

TEST(Lists, SelectingByPropertyScrollsTheRowIntoView) {
    Browse b(30);
    SetProp(b.w, 1, Hex(kPropSelected), "25");
    NativeListView view = b.View();
    EXPECT_EQ(view.selected, 25);
    EXPECT_EQ(view.first_row, 14);
    EXPECT_EQ(view.rows.back()[1], "Signer 25");
    EXPECT_EQ(GetProp(b.w, 1, Hex(kPropSelected)), "25");
    EXPECT_EQ(Vrn$CHOICE(1), 25);
    SetProp(b.w, 1, Hex(kPropSelected), "99");   // held to the last row
    EXPECT_EQ(b.View().selected, 30);
    SetProp(b.w, 1, Hex(kPropSelected), "1");
    EXPECT_EQ(b.View().first_row, 1);
    EXPECT_EQ(PostedControlEvents(*b.w),
              (std::vector<PostedControlEvent>{{1, 2}, {1, 2}, {1, 2}}));   // NewSelection each time
    SetProp(b.w, 1, Hex(kPropSelected), "1");                               // no move, no event
    EXPECT_EQ(PostedControlEvents(*b.w).size(), 3u);
}

TEST(Lists, KeysMoveTheSelectionAndPage) {
    Browse b(30);
    Control& list = *FindControl(*b.w, 1);
    ControlKey(*b.w, list, 0x28);   // down
    EXPECT_EQ(b.View().selected, 2);
    ControlKey(*b.w, list, 0x22);   // page down
    EXPECT_EQ(b.View().selected, 14);
    EXPECT_EQ(b.View().first_row, 13);
    ControlKey(*b.w, list, 0x22);
    EXPECT_EQ(b.View().selected, 26);
    EXPECT_EQ(b.View().first_row, 19);   // the last page stays full
    ControlKey(*b.w, list, 0x22);
    EXPECT_EQ(b.View().selected, 30);
    ControlKey(*b.w, list, 0x24);   // home
    EXPECT_EQ(b.View().selected, 1);
    EXPECT_EQ(b.View().first_row, 1);
    ControlKey(*b.w, list, 0x23);   // end
    EXPECT_EQ(b.View().rows.back()[1], "Signer 30");
    ClearPostedControlEvents(*b.w);
    ControlKey(*b.w, list, 5);      // a left double-click accepts
    EXPECT_EQ(PostedControlEvents(*b.w), (std::vector<PostedControlEvent>{{1, 1}}));
    EXPECT_EQ(ControlDefaultAction(*b.w, *FindControl(*b.w, 4), 1), 15);   // Close's standard action
    EXPECT_EQ(ControlDefaultAction(*b.w, *FindControl(*b.w, 4), 2), 0);
}

TEST(Lists, AnImmediateListLeavesScrollingToItsProgram) {
    Browse b(0);
    Control& list = *FindControl(*b.w, 2);
    for (uint32_t key : {0x26u, 0x28u, 0x21u, 0x22u, 0x24u, 0x23u, 0x222u, uint32_t('S')})
        EXPECT_TRUE(ControlKey(*b.w, list, key));
    EXPECT_EQ(PostedControlEvents(*b.w), (std::vector<PostedControlEvent>{
                                             {2, 3}, {2, 4}, {2, 5}, {2, 6}, {2, 7}, {2, 8}, {2, 8}, {2, 9}}));
    // The queue is bound by property, the thumb is the program's.
    b.other->DATE = 5;
    b.other.Add();
    PushCopy(Hex(kPropFrom));
    Vrn$SetPropQ(2, 0, b.w, b.other.Declaration());
    EXPECT_EQ(b.View(2).records, 1);
    // One row in its queue, yet its scroll bar pages the program's file: it scrolls.
    EXPECT_TRUE(b.View(2).scrolls);
    SetProp(b.w, 2, Hex(kPropVScrollPos), "40");
    EXPECT_EQ(GetProp(b.w, 2, Hex(kPropVScrollPos)), "40");
    EXPECT_EQ(b.View(2).thumb, 40);
}

TEST(Lists, ValuesAndFieldsByProperty) {
    Browse b(30);
    Ufo* row = Vrn$Long2Ufo(17);
    PushCopy(Hex(kPropSelected));
    Vrn$SetPropV(1, 0, b.w, row);   // a LIST's selected row from a LONG
    Vrn$FreeUfo(row);
    EXPECT_EQ(b.View().selected, 17);
    EXPECT_EQ(GetProp(b.w, 1, "items"), "12");
    // A variable bound by property: the list's choice goes into it on UPDATE.
    int32_t chosen = 0;
    Ufo* variable = Vrn$Mem2Ufo(&chosen, VRN_TYPE_LONG, 0, 4, 0);
    PushCopy(Hex(kPropValue));
    Vrn$SetPropF(1, 0, b.w, variable);
    Vrn$FreeUfo(variable);
    Vrn$UPDATE(1, 1);
    EXPECT_EQ(chosen, 17);
    chosen = 3;
    Vrn$DISPLAY(1, 1);
    EXPECT_EQ(b.View().selected, 3);
    PushCopy(Hex(kPropSelected));
    Vrn$DoProp(1, 0, b.w);   // no action property: nothing happens
    EXPECT_EQ(b.View().selected, 3);
}

TEST(Lists, CellsCarryTheirColoursIconsAndTreeLevels) {
    Browse b(0);
    Queue<StyledRow> styled;
    auto add = [&](const char* name, int32_t fg, int32_t bg, int32_t sfg, int32_t sbg, int32_t icon, int32_t level) {
        Vrn$storestr(reinterpret_cast<char*>(&styled->NAME), sizeof styled->NAME, name, int32_t(std::strlen(name)));
        styled->FG = fg;
        styled->BG = bg;
        styled->SFG = sfg;
        styled->SBG = sbg;
        styled->ICON = icon;
        Vrn$storestr(reinterpret_cast<char*>(&styled->CODE), sizeof styled->CODE, "A1", 2);
        styled->LEVEL = level;
        styled.Add();
    };
    add("Red", 0x0000FF, -1, 0, -1, 3, 2);   // -1: no colour, the column's own shows
    add("Plain", -1, -1, -1, -1, 0, -1);
    PushCopy(Hex(kPropFrom));
    Vrn$SetPropQ(1, 0, b.w, styled.Declaration());
    SetProp(b.w, 1, Hex(kPropFormat), "40L*E(1,2,3,4)I~Name~30LT(L)~Code~");
    NativeListView view = b.View();
    ASSERT_EQ(view.rows.size(), 2u);
    EXPECT_EQ(view.rows[0], (std::vector<std::string>{"Red", "A1"}));
    ASSERT_EQ(view.cells.size(), 2u);
    ASSERT_EQ(view.cells[0].size(), 2u);
    EXPECT_EQ(view.cells[0][0], (NativeListCell{0x0000FF, 2, 0, 4, 3, 0}));   // black (0) is a colour
    EXPECT_EQ(view.cells[0][1], (NativeListCell{kNoNativeColour, kNoNativeColour, kNoNativeColour,
                                                kNoNativeColour, 0, 2}));
    EXPECT_EQ(view.cells[1][0], (NativeListCell{1, 2, 3, 4, 0, 0}));
    EXPECT_EQ(view.cells[1][1].tree_level, -1);   // a contracted branch
    // The layout comes with them: 40 units are 60 pixels, then 45.
    ASSERT_EQ(view.columns.size(), 2u);
    EXPECT_EQ(view.columns[0].left, 0);
    EXPECT_EQ(view.columns[0].right, 60);
    EXPECT_EQ(view.columns[1].right, 105);
    EXPECT_EQ(view.header_height, ControlStateOf(*b.w).scale.font.height);   // one line (headless: 13)
    // The program changes a row's colour: the next display shows it.
    Vrn$GETqueueptr(styled.Declaration(), 2);
    styled->BG = 0x00FF00;
    Vrn$PUTqueue(styled.Declaration());
    Vrn$DISPLAY(1, 1);
    EXPECT_EQ(b.View().cells[1][0].background, 0x00FF00u);
}

TEST(Lists, TheListNamesItsIconsByIndex) {
    Browse b(3);
    // Index 2 first: icon 1 stays unnamed until set; the backend gets the names with the page.
    SetProp(b.w, 1, Hex(kPropListIcons), "~due.ico", 2);
    SetProp(b.w, 1, "ICONS", "~paid.ico", 1);
    EXPECT_EQ(b.View().icons, (std::vector<std::string>{"~paid.ico", "~due.ico"}));
    EXPECT_EQ(GetProp(b.w, 1, Hex(kPropListIcons), 2), "~due.ico");
    EXPECT_EQ(GetProp(b.w, 1, Hex(kPropListIcons), 3), "");   // past the names: none
    // No index, an index past the most a list names, one that would wrap (the asan build checks
    // that nothing overflows on the way): nothing kept.
    SetProp(b.w, 1, Hex(kPropListIcons), "~x.ico", 0);
    SetProp(b.w, 1, Hex(kPropListIcons), "~x.ico", kMaxListIcons + 1);
    SetProp(b.w, 1, Hex(kPropListIcons), "~x.ico", INT32_MIN);
    SetProp(b.w, 1, Hex(kPropListIcons), "~x.ico", INT32_MAX);
    EXPECT_EQ(b.View().icons.size(), 2u);
    // A property below 0x7D00 counted past the numbers by a huge index reads nothing.
    EXPECT_EQ(GetProp(b.w, 1, Hex(kPropFormat), INT32_MAX), "");
}

TEST(Lists, APersonResizesAnMColumnAndScrollsAnSColumn) {
    Browse b(30);
    Control& list = *FindControl(*b.w, 1);
    // H(20): a header band of 33 pixels and a line of 13 for the sideways bar (the S column's
    // 150 pixels are wider than its 120) leave 130 of the 176 for rows: 10 rows of 13.
    SetProp(b.w, 1, Hex(kPropFormat), "80LMS(100)#2#~Name~40LH(20)#1#~Date~@D2@");
    EXPECT_EQ(GetProp(b.w, 1, Hex(kPropItems)), "10");
    EXPECT_EQ(b.View().rows.size(), 10u);
    EXPECT_EQ(b.View().sideways_bar, ControlStateOf(*b.w).scale.font.height);   // headless: 13
    EXPECT_NEAR(b.View().header_height, 20 * ControlStateOf(*b.w).scale.font.height / 8.0, 1);   // headless: 33
    EXPECT_TRUE(b.View().columns[0].resizable);
    EXPECT_EQ(b.View().columns[0].scroll_width, 150);

    EXPECT_TRUE(ControlListColumnResized(*b.w, list, 0, 90));
    EXPECT_EQ(b.View().columns[1].left, 90);
    EXPECT_EQ(GetProp(b.w, 1, Hex(kPropFormat)), "60LMS(100)#2#~Name~40LH(20)#1#~Date~@D2@");
    EXPECT_FALSE(ControlListColumnResized(*b.w, list, 1, 90));   // no M
    EXPECT_FALSE(ControlListColumnResized(*b.w, *FindControl(*b.w, 3), 0, 90));   // no list

    // Right and Left scroll the S column a character at a time, within its 150 - 90 pixels.
    for (int i = 0; i < 12; i++)
        EXPECT_TRUE(ControlKey(*b.w, list, 0x27));
    EXPECT_EQ(b.View().columns[0].scroll, 60);
    ControlKey(*b.w, list, 0x25);
    EXPECT_EQ(b.View().columns[0].scroll, 54);
    EXPECT_TRUE(ControlListColumnScrolled(*b.w, list, 0, -20));
    EXPECT_EQ(b.View().columns[0].scroll, 0);
    EXPECT_FALSE(ControlListColumnScrolled(*b.w, list, 1, 10));   // no S
    // The sideways bar scrolls every S column at once, each held to its own area.
    EXPECT_TRUE(ControlListColumnScrolled(*b.w, list, -1, 500));
    EXPECT_EQ(b.View().columns[0].scroll, 60);
    EXPECT_EQ(b.View().columns[1].scroll, 0);
    // Widened past its area, the column needs no bar: its line goes back to the rows.
    EXPECT_TRUE(ControlListColumnResized(*b.w, list, 0, 160));
    EXPECT_EQ(b.View().sideways_bar, 0);
    EXPECT_EQ(b.View().columns[0].scroll, 0);
    EXPECT_EQ(GetProp(b.w, 1, Hex(kPropItems)), "11");
    EXPECT_FALSE(ControlListColumnScrolled(*b.w, *FindControl(*b.w, 3), -1, 10));   // no list
    // A list without S columns leaves Left and Right to the window.
    SetProp(b.w, 1, Hex(kPropFormat), "80L");
    EXPECT_FALSE(ControlKey(*b.w, list, 0x27));
}

TEST(Lists, AnyHeightGivesAPageOfAtLeastOneRow) {
    ListBox list;
    list.SetFormat("20L~A~", 6);
    list.SetGeometry(INT32_MIN + 1, 13);   // a damaged description's height
    EXPECT_EQ(list.PageRows(), 1);
    list.SetGeometry(INT32_MAX, 1);
    EXPECT_EQ(list.PageRows(), VRN_QUEUE_MAX_ENTRIES);
    list.SetGeometry(13 * 11, 13);         // a header line and ten rows
    EXPECT_EQ(list.PageRows(), 10);
}

TEST(Lists, AnEmptyQueueShowsNoRowsAndNoSelection) {
    Browse b(0);
    EXPECT_TRUE(b.View().rows.empty());
    EXPECT_EQ(b.View().selected, 0);
    EXPECT_EQ(GetProp(b.w, 1, Hex(kPropSelected)), "0");
    SetProp(b.w, 1, Hex(kPropSelected), "3");
    EXPECT_EQ(b.View().selected, 0);
}

TEST(Lists, SettingTheFormatParsesItAgain) {
    Browse b(3);
    SetProp(b.w, 1, Hex(kPropFormat), "60L#2#~Signed~@s10@");
    NativeListView view = b.View();
    EXPECT_EQ(view.headers, (std::vector<std::string>{"Signed"}));
    EXPECT_EQ(view.rows[0], (std::vector<std::string>{"Signer 1"}));
    EXPECT_EQ(GetProp(b.w, 1, "FORMAT"), "60L#2#~Signed~@s10@");
    EXPECT_EQ(ListOf(*FindControl(*b.w, 1))->Format().columns[0].queue_field, 2);
}

TEST(Lists, TheListFollowsItsQueueWhenTheProgramChangesIt) {
    Browse b(5);
    SetProp(b.w, 1, Hex(kPropSelected), "5");
    Vrn$GETqueueptr(b.rows.Declaration(), 5);
    Vrn$DELETEqueue(b.rows.Declaration());
    Vrn$DISPLAY(1, 1);
    EXPECT_EQ(b.View().records, 4);
    EXPECT_EQ(b.View().selected, 4);
    EXPECT_EQ(b.View().rows.size(), 4u);
}

}  // namespace
}  // namespace tarvex::windows

// ---- The C++ layer ----------------------------------------------------------------------------------

namespace tarvex::windows {
namespace {

TEST(CppLayer, PropertiesStatementsAndAQueueOfRecords) {
    Browse b(0);
    tarvex::Target window(b.w);
    window[{3, VRN_PROP_TEXT}] = "&Pick";
    EXPECT_EQ(std::string(window[{3, VRN_PROP_TEXT}]), "&Pick");
    EXPECT_EQ((window[{3, VRN_PROP_X_POS, 3}].Number()), 40);   // the width, through the index
    tarvex::DISABLE(3, 4);
    EXPECT_FALSE(Shown(b.w, 4).enabled);
    tarvex::ENABLE(3, 4);
    EXPECT_TRUE(Shown(b.w, 4).enabled);
    Queue<ClaimRow> rows;
    for (int i = 0; i < 3; i++) {
        rows->DATE = DayNumber(2024, 2, i + 1);
        rows.Add();
    }
    tarvex::SetFrom(b.w, 1, rows);
    window[{1, VRN_PROP_SELECTED}] = 3;
    EXPECT_EQ(tarvex::CHOICE(1), 3);
    EXPECT_EQ(Shown(b.w, 1).list.rows[2][0], " 2/03/2024");
    tarvex::HIDE(1);
    EXPECT_FALSE(Shown(b.w, 1).visible);
}

}  // namespace
}  // namespace tarvex::windows
