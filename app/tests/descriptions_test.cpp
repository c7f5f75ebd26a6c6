// SPDX-License-Identifier: GPL-3.0-or-later
// The program's descriptions as the program carries them: the main frame with its menus, their
// texts (trailing blanks and '|' kept), messages and standard actions, and the two confirmation
// windows of the backup and reload, each opened on the headless backend; and the images.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tarvex/resources.h"
#include "tarvex/windows.h"
#include "windows/headless_ui.h"
#include "windows/window_object.h"

namespace {

using tarvex::windows::HeadlessBackend;
using tarvex::windows::MenuEntry;

TEST(Descriptions, TheMainFrame) {
    VrnWindowObject* frame = nullptr;
    Vrn$paopen(&frame, "LUMAREX$main", "P1$APPFRAME", nullptr);
    Vrn$OPENwindow(frame);
    ASSERT_TRUE(frame->open);
    EXPECT_EQ(frame->title, "ORVANTIS [CMS 1500 - 02/2012]");
    EXPECT_EQ(frame->frame_flags, 0x5800u);
    EXPECT_EQ(frame->icon, "~LUMAREX.ICO");
    EXPECT_TRUE(frame->controls.empty());
    ASSERT_TRUE(frame->menubar);

    struct Item {
        const char* text;
        const char* message;
        int32_t action;
    };
    struct Menu {
        const char* text;
        const char* message;
        std::vector<Item> items;
    };
    const std::vector<Menu> menus = {
        {"   &Account Menu    |", "Open and Close file ",
         {{"&Invoice Browser ...", "Open Invoice Account Browser ...", 0},
          {"&Payment Browser ...", "Open Invoice Payment Browser", 0},
          {"&Printer Setup ...", "Do a Printer Setup ...", 16},
          {"E&xit", "Exit this application", 15}}},
        {"&Account Status    |", "View Account Status",
         {{"&Current Account Status ...", "Current Account Outstanding Status.", 0},
          {"&Cuurent Carrier Status", "Current Account Carrier Status.", 0}}},
        {"&Managers    |", "",
         {{"Provider Manager", "Add, Change or Delete a Provider Record.", 0},
          {"Patient Manager", "Add, Change or Delete a Patient Record.", 0},
          {"CPT/HCPCS Procedure Code Manager", "Add, Change or Delete a CPT/HCPCS Record.", 0},
          {"ICD-M Diagnostic Code Manager", "Add, Change or Delete a ICD-M Record.", 0},
          {"Insurance or Program name Manager", "Add, Change or Delete a Insurance or Program Record.", 0}}},
        {"&Print Outstanding    |", "Make a Print",
         {{"&Account Statement ......", "Print Account Statement", 0},
          {"&Claim in Blank Form", "Print Claim in Blank Form", 0},
          {"&Claim in CMS 1500 Form", "Print Claim in CMS 1500 Form", 0}}},
        {"&Backup/Reload Utilities    |", "",
         {{"Backup files", "Make backup copy of all files", 0},
          {"Reload backup files", "Reload all backup files", 0}}},
        {"&Booklet     |", "", {{"Open LUMbooklet.pdf icon desktop shortcut ...", "", 0}}},
    };
    const auto& built = frame->menubar->children;
    ASSERT_EQ(built.size(), menus.size());
    int32_t number = 0;
    for (size_t m = 0; m < menus.size(); m++) {
        const MenuEntry& menu = *built[m];
        EXPECT_EQ(menu.text, menus[m].text);
        EXPECT_EQ(menu.message, menus[m].message) << menus[m].text;
        EXPECT_EQ(menu.field_number, --number);
        ASSERT_EQ(menu.children.size(), menus[m].items.size()) << menus[m].text;
        for (size_t i = 0; i < menu.children.size(); i++) {
            const MenuEntry& item = *menu.children[i];
            EXPECT_EQ(item.text, menus[m].items[i].text);
            EXPECT_EQ(item.message, menus[m].items[i].message) << item.text;
            EXPECT_EQ(item.standard_action, menus[m].items[i].action) << item.text;
            EXPECT_EQ(item.field_number, --number);
        }
    }
    auto shown = HeadlessBackend()->GetWindow(frame->handle);
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(shown->menu.size(), 6u + 17u);   // six menus, seventeen items
    Vrn$freewindow(&frame);
}

struct Confirmation {
    const char* module;
    const char* title;
    std::vector<std::string> lines;
};

TEST(Descriptions, TheBackupAndReloadConfirmations) {
    const Confirmation windows[] = {
        {"LUMAREX$CONDIR~1", "Confirm Backup",
         {"You've selected to backup the data files.", "Select OK to confirm your request."}},
        {"LUMAREX$CONFIR~1", "Confirm Reload",
         {"You've selected to load the backup files", "to the data directory.",
          "Select OK to confirm your request.", "Warning:", "If confirmed, it will reload the backup data to",
          "the data directory"}},
    };
    for (const Confirmation& expected : windows) {
        VrnWindowObject* window = nullptr;
        Vrn$pwopen(&window, expected.module, "P1$WINDOW", nullptr);
        Vrn$OPENwindow(window);
        ASSERT_TRUE(window->open) << expected.module;
        auto shown = HeadlessBackend()->FindWindow(expected.title);
        ASSERT_TRUE(shown.has_value()) << expected.title;
        EXPECT_EQ(shown->spec.font.face, "Arial");
        std::vector<std::string> lines, buttons;
        bool picture = false;
        for (const auto& control : shown->controls) {
            if (control.spec.kind == 0x02)
                lines.push_back(control.spec.text);
            else if (control.spec.kind == 0x09)
                buttons.push_back(control.spec.text);
            else if (control.spec.kind == 0x03)
                picture = true;
        }
        EXPECT_TRUE(picture) << expected.title;
        EXPECT_EQ(lines, expected.lines) << expected.title;
        EXPECT_EQ(buttons, (std::vector<std::string>{"&Cancel", "&OK"})) << expected.title;
        Vrn$freewindow(&window);
    }
}

TEST(Descriptions, TheImagesAreResources) {
    uint32_t size = 0;
    const void* icon = WslUtil$LoadNamedResource("~LUMAREX.ICO", "ICON", &size);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(size, 1150u);
    // The form image as the claim reports name it: a Windows bitmap of the letter page.
    const void* form = WslUtil$LoadNamedResource("~CMS-1500.BMP", "BITMAP", &size);
    ASSERT_NE(form, nullptr);
    ASSERT_GT(size, 54u);
    const auto* bytes = static_cast<const uint8_t*>(form);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 2), "BM");
    int32_t width = 0, height = 0;
    std::memcpy(&width, bytes + 18, 4);
    std::memcpy(&height, bytes + 22, 4);
    EXPECT_EQ(width, 1275);
    EXPECT_EQ(height, 1650);
    EXPECT_EQ(WslUtil$LoadNamedResource("~cms1500.png", "BITMAP", &size), nullptr);
    WslUtil$FreeResourcePtr(form);
    WslUtil$FreeResourcePtr(icon);
}

}  // namespace
