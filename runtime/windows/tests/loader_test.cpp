// SPDX-License-Identifier: GPL-3.0-or-later
// The loader on the headless backend: declaring and opening windows and reports from the
// descriptions this test program carries (loader_windows.dsc), binding addresses in construction
// order, placement, the run-time errors 501, 529 and 535, and damaged or missing descriptions that
// must leave the window unopened with error 529 rather than crash.
#include <gtest/gtest.h>

#include <string>

#include "tarvex/frame.h"
#include "tarvex/resources.h"
#include "tarvex/windows.h"
#include "windows/headless_ui.h"
#include "windows/tests/dump_bytes.h"
#include "windows/window_object.h"

namespace tarvex::windows {
namespace {

constexpr const char* kModule = "LUMAREX$LOADTEST";

HeadlessUi& Headless() {
    HeadlessUi* ui = HeadlessBackend();
    EXPECT_NE(ui, nullptr);
    return *ui;
}

std::string ErrorText() {
    std::string text(Vrn$ERRSTR, sizeof Vrn$ERRSTR);
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

TEST(Loader, AListTakesItsQueueThenTheEntriesInFieldOrder) {
    int queue = 0;
    char fields[10][10];
    VrnWindowObject* w = nullptr;
    Vrn$pwopen(&w, kModule, "P1$QUICKWINDOW", &queue, fields[0], fields[1], fields[2], fields[3], fields[4],
               fields[5], fields[6], fields[7], fields[8], fields[9], nullptr);
    ASSERT_NE(w, nullptr);
    EXPECT_FALSE(w->open);                       // declared, not built
    EXPECT_EQ(w->addresses.size(), 11u);
    Vrn$OPENwindow(w);
    ASSERT_TRUE(w->open) << ErrorText();
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(_dumpbase, nullptr);               // the dump buffer is gone once the window is built

    ASSERT_EQ(w->controls.size(), 12u);
    const Control& list = *w->controls[0];
    EXPECT_EQ(list.kind, 0x0e);
    EXPECT_EQ(list.from.address, &queue);
    EXPECT_EQ(list.from.type, 0x1a);
    EXPECT_FALSE(list.use.Bound());
    EXPECT_EQ(list.format, "52R(2)|M~Invoice~L@n-7@");
    for (int i = 0; i < 10; i++) {
        const Control& entry = *w->controls[1 + i];
        EXPECT_EQ(entry.field_number, 2 + i);
        EXPECT_EQ(entry.use.address, fields[i]);
        EXPECT_EQ(entry.use.type, 0x12);
        EXPECT_EQ(entry.use.size, 10u);
        EXPECT_EQ(entry.picture, "s10");
    }
    EXPECT_EQ(w->controls[11]->standard_action, 15);

    // The window's own fields, and what the backend was asked to show.
    EXPECT_EQ(w->message, "Browse");
    EXPECT_EQ(w->help, "UpdatePAT");
    EXPECT_EQ(w->alert_keys, (std::vector<uint32_t>{0x22, 0x21}));
    EXPECT_EQ(w->native_style & (kStyleSystemMenu | kStyleMaximizeBox | kStyleThickFrame | kStyleCaption),
              uint32_t(kStyleSystemMenu | kStyleMaximizeBox | kStyleThickFrame | kStyleCaption));
    // AT(10,20,395,224) in dialog units of an 8-point font (6 x 13 pixels).
    EXPECT_EQ(w->rect, (NativeRect{15, 33, 608, 397}));
    auto shown = Headless().FindWindow("Patient Account Browser");
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(shown->spec.rect, w->rect);
    ASSERT_EQ(shown->controls.size(), 12u);
    EXPECT_EQ(shown->controls[3].spec.field_number, 4);
    // ENTRY AT(50,190,40,10): x 75, y 308.75 -> 309.
    EXPECT_EQ(shown->controls[2].spec.rect, (NativeRect{75, 309, 135, 325}));

    // The texts kept in the shared table are stored once.
    EXPECT_EQ(SharedText("UpdatePAT").data(), w->help.data());
    Vrn$freewindow(&w);
    EXPECT_EQ(w, nullptr);
    EXPECT_FALSE(Headless().FindWindow("Patient Account Browser").has_value());
}

TEST(Loader, TheFrameWordGivesTheNativeStyle) {
    constexpr uint32_t kBase = kStyleClipChildren;
    struct Case {
        uint32_t frame;
        bool title, icon;
        uint32_t style;
    } cases[] = {
        {0x1000, false, false, kBase | kStyleSystemMenu},
        {0x0800, false, false, kBase | kStyleSystemMenu | kStyleMaximizeBox},
        {0x4000, false, false, kBase | kStyleOpenMaximized},
        {0xC000, false, false, kBase | kStyleOpenMinimized},          // minimized is tested first
        {0x0020, false, false, kBase | kStyleThickFrame | kStyleCaption},
        {0x0040, true, false, kBase | kStyleDialogFrame | kStyleCaption},
        {0x0060, false, false, kBase | kStyleNoFrame},
        {0x0400, true, false, kBase},                                  // no caption despite a title
        {0x0000, false, true, kBase | kStyleSystemMenu | kStyleMinimizeBox},
        {0x5800, true, true,                                           // the application frame
         kBase | kStyleSystemMenu | kStyleMaximizeBox | kStyleMinimizeBox | kStyleOpenMaximized | kStyleCaption},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NativeStyleOf(c.frame, c.title, c.icon), c.style) << std::hex << c.frame;
}

TEST(Loader, OneAddressShortIsError501) {
    EXPECT_EXIT(
        {
            int queue = 0;
            char fields[9][10];
            VrnWindowObject* w = nullptr;
            Vrn$pwopen(&w, kModule, "P1$QUICKWINDOW", &queue, fields[0], fields[1], fields[2], fields[3],
                       fields[4], fields[5], fields[6], fields[7], fields[8], nullptr);
            Vrn$OPENwindow(w);
            std::exit(0);
        },
        ::testing::ExitedWithCode(2), "");
}

TEST(Loader, AnArrayUseIsError501) {
    EXPECT_EXIT(
        {
            char text[5];
            VrnWindowObject* w = nullptr;
            Vrn$pwopen(&w, kModule, "P1$ARRAY", text, nullptr);
            Vrn$OPENwindow(w);
            std::exit(0);
        },
        ::testing::ExitedWithCode(2), "");
}

TEST(Loader, OpeningAnOpenWindowIsError535) {
    EXPECT_EXIT(
        {
            VrnWindowObject* w = nullptr;
            Vrn$pwopen(&w, kModule, "P1$NOAT", nullptr);
            Vrn$OPENwindow(w);
            if (!w->open)
                std::exit(3);
            Vrn$OPENwindow(w);
            std::exit(0);
        },
        ::testing::ExitedWithCode(2), "");
}

TEST(Loader, ANativeCreationFailureIsError529) {
    EXPECT_EXIT(
        {
            VrnWindowObject* w = nullptr;
            Vrn$pwopen(&w, kModule, "P1$NOAT", nullptr);
            Headless().FailNextWindow();
            Vrn$OPENwindow(w);
            std::exit(0);
        },
        ::testing::ExitedWithCode(2), "");
}

// In a program that is closing down a run-time error returns: the half-built window must go.
TEST(Loader, AFailedBuildLeavesNothingBehind) {
    EXPECT_EXIT(
        {
            Wsl$CloseDown();
            size_t before = Headless().WindowCount();
            int queue = 0;
            VrnWindowObject* w = nullptr;
            Vrn$pwopen(&w, kModule, "P1$QUICKWINDOW", &queue, nullptr);
            Vrn$OPENwindow(w);
            bool ok = !w->open && w->controls.empty() && w->handle == 0 && Vrn$ERRCODE == 501 &&
                      Headless().WindowCount() == before;
            std::exit(ok ? 11 : 12);
        },
        ::testing::ExitedWithCode(11), "");
}

TEST(Loader, PlacementFollowsTheMissingValueRules) {
    struct Case {
        const char* structure;
        NativeRect rect;
    } cases[] = {
        {"P1$NOAT", {256, 192, 768, 576}},        // half the desktop, centred
        {"P1$SIZEONLY", {412, 334, 612, 434}},    // centred at its size
        {"P1$HUGE", {0, 0, 3000, 2000}},          // a negative centred position becomes 0
    };
    for (const Case& c : cases) {
        VrnWindowObject* w = nullptr;
        Vrn$pwopen(&w, kModule, c.structure, nullptr);
        Vrn$OPENwindow(w);
        ASSERT_TRUE(w->open) << c.structure << ": " << ErrorText();
        EXPECT_EQ(w->rect, c.rect) << c.structure;
        Vrn$freewindow(&w);
    }
}

TEST(Loader, ConstructionIsDepthFirstWithMenusFirst) {
    char item[1], entry[5], check[1], option[1], combo[3];
    int32_t sheet = 0, spin = 0;
    VrnWindowObject* w = nullptr;
    Vrn$pwopen(&w, kModule, "P1$NESTED", item, &sheet, entry, check, option, combo, &spin, nullptr);
    Vrn$OPENwindow(w);
    ASSERT_TRUE(w->open) << ErrorText();
    EXPECT_EQ(w->cursor, 7u);                       // every address taken
    ASSERT_TRUE(w->menubar);
    const MenuEntry& menu = *w->menubar->children.at(0);
    EXPECT_EQ(menu.field_number, -1);
    EXPECT_EQ(menu.children.at(0)->field_number, -2);
    EXPECT_EQ(menu.children.at(0)->use.address, item);

    ASSERT_EQ(w->controls.size(), 2u);              // the OLE control's hook refuses: no control
    const Control& sheet_control = *w->controls[0];
    EXPECT_EQ(sheet_control.use.address, &sheet);
    ASSERT_EQ(sheet_control.children.size(), 2u);
    const Control& one = *sheet_control.children[0];
    EXPECT_EQ(one.text, "One");
    EXPECT_EQ(one.children.at(0)->use.address, entry);
    EXPECT_EQ(one.children.at(1)->children.at(0)->use.address, check);
    const Control& two = *sheet_control.children[1];
    EXPECT_EQ(two.children.at(0)->use.address, option);
    EXPECT_EQ(two.children.at(0)->children.size(), 2u);
    EXPECT_EQ(two.children.at(1)->use.address, combo);
    EXPECT_EQ(two.children.at(1)->from_text, "Yes|No");   // a text list takes no address
    EXPECT_EQ(w->controls[1]->use.address, &spin);
    EXPECT_EQ(FindControl(*w, 6)->kind, 0x26);             // field numbers run depth first
    EXPECT_EQ(FindControl(*w, 7)->kind, 0x0b);

    auto shown = Headless().GetWindow(w->handle);
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(shown->timer_milliseconds, 10u);
    EXPECT_EQ(shown->menu.size(), 2u);
    // A TAB's controls are created inside it.
    EXPECT_EQ(shown->controls[2].spec.parent_control, one.handle);
    Vrn$freewindow(&w);
}

TEST(Loader, AReportBindsBreakValuesAndAccumulatedValues) {
    int64_t group = 0, number = 0, amount = 0, group_total = 0, group_sum = 0, page_total = 0, page_sum = 0;
    VrnWindowObject* report = nullptr;
    Vrn$propen(&report, kModule, "P1$REPORT", &group, &number, &amount, &group_total, &group_sum, &page_total,
               &page_sum, nullptr);
    Vrn$OPENwindow(report);
    ASSERT_TRUE(report->open) << ErrorText();
    EXPECT_EQ(report->handle, 0u);                 // what a report prints is the report engine's
    EXPECT_EQ(report->flags, 0x200u);
    EXPECT_EQ(report->title, "GeneralReport");
    EXPECT_EQ(report->paper_code, 1);
    EXPECT_EQ(report->cursor, 7u);
    ASSERT_EQ(report->bands.size(), 4u);
    EXPECT_EQ(report->bands[0]->kind, 0x1e);
    const Control& page_number = *report->bands[1]->controls.at(0);
    EXPECT_EQ(page_number.picture, "pPage <<<#p");
    EXPECT_EQ(page_number.computed, 6);
    EXPECT_FALSE(page_number.use.Bound());
    const Band& group_band = *report->bands[2];
    EXPECT_EQ(group_band.kind, 0x1d);
    EXPECT_EQ(group_band.break_variable.address, &group);
    ASSERT_EQ(group_band.bands.size(), 2u);
    EXPECT_EQ(group_band.bands[0]->field_number, 4);   // after the FORM's image, the page number, the group
    EXPECT_EQ(group_band.bands[0]->controls.at(1)->use.address, &amount);
    const Control& total = *group_band.bands[1]->controls.at(0);
    EXPECT_EQ(total.use.address, &group_total);
    EXPECT_EQ(total.accumulated.address, &group_sum);
    EXPECT_EQ(total.accumulated.places, 2u);
    EXPECT_EQ(total.driving_band, 4);
    EXPECT_EQ(report->bands[3]->controls.at(0)->accumulated.address, &page_sum);
    // Bands hold every kind of report control: a line, a box and constant text among them.
    ASSERT_EQ(report->bands[3]->controls.size(), 4u);
    EXPECT_EQ(report->bands[3]->controls[1]->kind, 0x05);
    EXPECT_EQ(report->bands[3]->controls[2]->kind, 0x06);
    EXPECT_EQ(report->bands[3]->controls[3]->text, "Total");
    EXPECT_EQ(report->bands[0]->controls.at(0)->text, "~CMS1500.PNG");

    // The same module holds the report's progress window.
    int32_t progress = 0;
    VrnWindowObject* window = nullptr;
    Vrn$pwopen(&window, kModule, "P1$PROGRESSWINDOW", &progress, nullptr);
    Vrn$OPENwindow(window);
    ASSERT_TRUE(window->open) << ErrorText();
    EXPECT_EQ(window->controls.at(0)->use.address, &progress);
    EXPECT_EQ(window->controls.at(1)->text, "Printing");
    EXPECT_EQ(window->native_style & kStyleDialogFrame, uint32_t(kStyleDialogFrame));
    Vrn$freewindow(&window);
    Vrn$freewindow(&report);
}

TEST(Loader, DeclaredWindowsAreListedUntilFreed) {
    size_t before = DeclaredWindows().size();
    VrnWindowObject *a = nullptr, *b = nullptr;
    Vrn$pwopen(&a, kModule, "P1$NOAT", nullptr);
    Vrn$propen(&b, kModule, "P1$REPORT", nullptr);
    auto listed = DeclaredWindows();
    ASSERT_EQ(listed.size(), before + 2);
    EXPECT_EQ(listed[before], a);
    EXPECT_EQ(listed[before + 1], b);
    Vrn$freewindow(&a);
    EXPECT_EQ(DeclaredWindows().size(), before + 1);
    Vrn$freewindow(&b);
    Vrn$freewindow(&b);                            // a cleared variable frees nothing
    EXPECT_EQ(DeclaredWindows().size(), before);
}

TEST(Loader, TheFrameAndItsMdiChildren) {
    VrnWindowObject *frame = nullptr, *second = nullptr, *child = nullptr;
    Vrn$paopen(&frame, kModule, "P1$NESTED", nullptr, nullptr);   // an empty list
    Vrn$paopen(&second, kModule, "P1$NOAT", nullptr);
    EXPECT_EQ(frame->opening, Opening::Application);
    EXPECT_EQ(second->opening, Opening::Window);    // a frame is already declared
    EXPECT_EQ(ApplicationFrame(), frame);
    // The frame's menu item needs an address the empty list does not have: the program ends.
    EXPECT_EXIT({ Vrn$OPENwindow(frame); std::exit(0); }, ::testing::ExitedWithCode(2), "");

    char item[1], entry[5], check[1], option[1], combo[3];
    int32_t sheet = 0, spin = 0;
    Vrn$freewindow(&frame);
    Vrn$paopen(&frame, kModule, "P1$NESTED", item, &sheet, entry, check, option, combo, &spin, nullptr);
    Vrn$OPENwindow(frame);
    ASSERT_TRUE(frame->open);
    Vrn$pmopen(&child, kModule, "P1$SIZEONLY", nullptr);
    Vrn$OPENwindow(child);
    ASSERT_TRUE(child->open);
    EXPECT_NE(child->native_style & kStyleMdiChild, 0u);
    auto shown = Headless().GetWindow(child->handle);
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(shown->spec.parent, frame->handle);
    // Centred in the frame's client area, in the frame's coordinates.
    EXPECT_EQ(child->rect.left, (frame->rect.Width() - 200) / 2);
    Vrn$freewindow(&child);
    Vrn$freewindow(&second);
    Vrn$freewindow(&frame);
    EXPECT_EQ(ApplicationFrame(), nullptr);
}

// A description in a table registered by the test: the dump is built by hand, then damaged.
struct DamagedModule {
    testing::DumpBytes dump;
    std::vector<uint8_t> resource;
    VrnResource entry{};
    VrnResourceTable table{};
    uint32_t window = 0;

    DamagedModule() {
        uint32_t name = dump.Text("P1$WINDOW");
        uint32_t title = dump.Text("Damaged");
        window = dump.Record(Kind::Window, 0x6d);
        dump.Put32(window + kStructName, name);
        dump.Put32(window + kStructTitle, title);
        dump.SetHead(window);
    }
    void Register() {
        std::string module = "LUMAREX$DAMAGED";
        resource.assign(module.begin(), module.end());
        resource.push_back(0);
        resource.insert(resource.end(), dump.Bytes().begin(), dump.Bytes().end());
        entry = {"DAMAGED_RSC", "DABDUMP", resource.data(), uint32_t(resource.size())};
        table = {&entry, 1};
        WslUtil$RegisterResources(&table);
    }
    ~DamagedModule() { WslUtil$UnregisterResources(&table); }
};

TEST(Loader, DamagedAndMissingDescriptionsBuildNothing) {
    struct Case {
        const char* what;
        void (*damage)(DamagedModule&);
        const char* reason;
    } cases[] = {
        {"whole", [](DamagedModule&) {}, nullptr},
        {"title past the end", [](DamagedModule& m) { m.dump.Put32(m.window + kStructTitle, 0x40000000); },
         "string past the end"},
        {"controls loop", [](DamagedModule& m) { m.dump.Put32(m.window + kStructFirstChild, m.window); },
         "a chain loops"},
        {"cut short", [](DamagedModule& m) { m.dump.CutAt(m.dump.Here() - 4); },
         "record does not fit"},
        {"structure chain loops", [](DamagedModule& m) { m.dump.Put32(m.window + kHeadNext, m.window); },
         nullptr},    // the name is found before the loop is walked
    };
    for (const Case& c : cases) {
        DamagedModule module;
        c.damage(module);
        module.Register();
        size_t windows = Headless().WindowCount();
        VrnWindowObject* w = nullptr;
        Vrn$pwopen(&w, "LUMAREX$DAMAGED", "P1$WINDOW", nullptr);
        Vrn$OPENwindow(w);
        if (c.reason == nullptr) {
            EXPECT_TRUE(w->open) << c.what;
        } else {
            EXPECT_FALSE(w->open) << c.what;
            EXPECT_EQ(Vrn$ERRCODE, 529) << c.what;
            EXPECT_NE(ErrorText().find(c.reason), std::string::npos) << c.what << ": " << ErrorText();
            EXPECT_EQ(Headless().WindowCount(), windows) << c.what;
        }
        Vrn$freewindow(&w);
    }

    VrnWindowObject* w = nullptr;
    Vrn$pwopen(&w, "LUMAREX$NOWHERE", "P1$WINDOW", nullptr);
    Vrn$OPENwindow(w);
    EXPECT_FALSE(w->open);
    EXPECT_EQ(Vrn$ERRCODE, 529);
    EXPECT_NE(ErrorText().find("no description"), std::string::npos) << ErrorText();
    Vrn$freewindow(&w);
    Vrn$pwopen(&w, kModule, "P1$NOSUCH", nullptr);
    Vrn$OPENwindow(w);
    EXPECT_FALSE(w->open);
    EXPECT_NE(ErrorText().find("no structure"), std::string::npos) << ErrorText();
    Vrn$freewindow(&w);
}

}  // namespace
}  // namespace tarvex::windows
