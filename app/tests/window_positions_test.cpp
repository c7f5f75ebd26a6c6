// SPDX-License-Identifier: GPL-3.0-or-later
// Window positions kept in LUMTRI~1.INI: saved at close unless minimised, restored at open by the
// rules for resizable and fixed windows, zero and missing keys, and the maximised state, for a
// test window of each kind and for the program's own frame, which opens maximised.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app_test_support.h"
#include "shared/window_positions.h"
#include "tarvex/controls.hpp"
#include "tarvex/program.hpp"
#include "tarvex/windows.hpp"

namespace lumarex {
namespace {

namespace fs = std::filesystem;

class WindowPositions : public testing::DataDriveTest {
  protected:
    static std::string Ini() {
        std::ifstream in(kPositionsFile);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static void Put(const char* section, const char* key, const char* value) {
        tarvex::PUTINI(section, key, value, kPositionsFile);
    }
    // x, y, width, height as the program reads them.
    static std::string Place(const tarvex::Window& w) {
        return w[{0, VRN_PROP_X_POS}].Text() + "," + w[{0, VRN_PROP_Y_POS}].Text() + "," +
               w[{0, VRN_PROP_WIDTH}].Text() + "," + w[{0, VRN_PROP_HEIGHT}].Text();
    }
    static bool Maximised(const tarvex::Window& w) { return w[{0, VRN_PROP_MAXIMIZED}].Number() != 0; }
};

TEST_F(WindowPositions, AResizableWindowGoesBackWhereItWasLeftAndAFixedOneKeepsItsSize) {
    {
        tarvex::Window sized("LUMAREX$POSTEST", "P1$SIZED");
        sized.Open();
        RestoreWindowPosition(sized.Object(), "Sized");   // no file yet: as the description says
        EXPECT_EQ(Place(sized), "10,10,200,100");
        EXPECT_FALSE(Maximised(sized));
        sized[{0, VRN_PROP_X_POS}] = 30;
        sized[{0, VRN_PROP_Y_POS}] = 40;
        sized[{0, VRN_PROP_WIDTH}] = 220;
        sized[{0, VRN_PROP_HEIGHT}] = 90;
        SaveWindowPosition(sized.Object(), "Sized");
    }
    std::string ini = Ini();
    EXPECT_NE(ini.find("[Sized]"), std::string::npos) << ini;
    for (const char* line : {"Maximize=No", "XPosit=30", "YPosit=40", "Width=220", "Height=90"})
        EXPECT_NE(ini.find(line), std::string::npos) << line << " in " << ini;
    {
        tarvex::Window sized("LUMAREX$POSTEST", "P1$SIZED");
        sized.Open();
        RestoreWindowPosition(sized.Object(), "Sized");
        EXPECT_EQ(Place(sized), "30,40,220,90");
    }
    // A window that cannot be sized is only moved.
    Put("Fixed", "XPosit", "25");
    Put("Fixed", "YPosit", "35");
    Put("Fixed", "Width", "300");
    Put("Fixed", "Height", "300");
    tarvex::Window fixed("LUMAREX$POSTEST", "P1$FIXED");
    fixed.Open();
    RestoreWindowPosition(fixed.Object(), "Fixed");
    EXPECT_EQ(Place(fixed), "25,35,120,60");
}

TEST_F(WindowPositions, ZeroOrMissingKeysLeaveTheWindowWhereItsDescriptionPutsIt) {
    struct Case {
        const char *x, *y, *width, *height, *place;
    } cases[] = {
        {"0", "40", "220", "90", "10,10,200,100"},    // no x: nothing is read
        {"30", "0", "220", "90", "10,10,200,100"},    // no y: not moved
        {"30", "40", "0", "90", "10,10,200,100"},     // a resizable window needs its size
        {"30", "40", "220", "", "10,10,200,100"},
        {"30", "40", "220", "90", "30,40,220,90"},
    };
    for (const Case& c : cases) {
        fs::remove(kPositionsFile);
        Put("Sized", "XPosit", c.x);
        Put("Sized", "YPosit", c.y);
        Put("Sized", "Width", c.width);
        Put("Sized", "Height", c.height);
        Put("Sized", "Maximize", "Yes");
        tarvex::Window sized("LUMAREX$POSTEST", "P1$SIZED");
        sized.Open();
        RestoreWindowPosition(sized.Object(), "Sized");
        EXPECT_EQ(Place(sized), c.place) << c.x << " " << c.y << " " << c.width << " " << c.height;
        // Maximize is read whenever x is there.
        EXPECT_EQ(Maximised(sized), std::string(c.x) != "0") << c.x;
    }
}

TEST_F(WindowPositions, AMaximisedWindowIsSavedWithItsRestoredPlaceAndAMinimisedOneWritesNothing) {
    {
        tarvex::Window sized("LUMAREX$POSTEST", "P1$SIZED");
        sized.Open();
        sized[{0, VRN_PROP_X_POS}] = 50;
        sized[{0, VRN_PROP_MAXIMIZED}] = 1;
        ASSERT_TRUE(Maximised(sized));
        SaveWindowPosition(sized.Object(), "Sized");
        EXPECT_FALSE(Maximised(sized));   // restored before its place is taken
    }
    std::string ini = Ini();
    EXPECT_NE(ini.find("Maximize=Yes"), std::string::npos) << ini;
    EXPECT_NE(ini.find("XPosit=50"), std::string::npos) << ini;
    {
        tarvex::Window sized("LUMAREX$POSTEST", "P1$SIZED");
        sized.Open();
        RestoreWindowPosition(sized.Object(), "Sized");
        EXPECT_TRUE(Maximised(sized));
        sized[{0, VRN_PROP_MINIMIZED}] = 1;
        sized[{0, VRN_PROP_X_POS}] = 70;
        SaveWindowPosition(sized.Object(), "Sized");
    }
    EXPECT_EQ(Ini(), ini);   // a minimised window changed nothing
}

TEST_F(WindowPositions, TheFrameOpensMaximisedUnlessItWasLeftRestoredWhereItWasLeft) {
    {
        tarvex::Window frame(tarvex::Window::As::kApplication, "LUMAREX$main", "P1$APPFRAME");
        frame.Open();
        RestoreWindowPosition(frame.Object(), "Main");
        EXPECT_TRUE(Maximised(frame));   // the description's own opening
        SaveWindowPosition(frame.Object(), "Main");
    }
    EXPECT_NE(Ini().find("Maximize=Yes"), std::string::npos) << Ini();
    Put("Main", "Maximize", "No");
    Put("Main", "XPosit", "12");
    Put("Main", "YPosit", "14");
    Put("Main", "Width", "300");
    Put("Main", "Height", "200");
    tarvex::Window frame(tarvex::Window::As::kApplication, "LUMAREX$main", "P1$APPFRAME");
    frame.Open();
    int32_t width = frame[{0, VRN_PROP_WIDTH}].Number();
    RestoreWindowPosition(frame.Object(), "Main");
    EXPECT_FALSE(Maximised(frame));
    EXPECT_EQ((frame[{0, VRN_PROP_X_POS}].Number()), 12);
    EXPECT_EQ((frame[{0, VRN_PROP_Y_POS}].Number()), 14);
    EXPECT_EQ((frame[{0, VRN_PROP_WIDTH}].Number()), width);   // the frame cannot be sized: only moved
}

}  // namespace
}  // namespace lumarex
