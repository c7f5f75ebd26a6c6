// SPDX-License-Identifier: GPL-3.0-or-later
// The frame's menu runs its procedures as the menu says: a started one on a thread of its own, so
// that choosing an item twice gives two windows side by side and the frame goes on; a called one
// on the frame's own thread, which takes no other choice until it returns.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "core/tests/test_support.h"
#include "procedures/procedures.h"
#include "tarvex/windows.hpp"
#include "windows/driver.h"
#include "windows/headless_ui.h"

namespace lumarex {
namespace {

using namespace std::chrono_literals;

constexpr const char* kFrame = "ORVANTIS [CMS 1500 - 02/2012]";
constexpr int32_t kInvoiceBrowser = -2, kClaimInBlankForm = -17;

// Stand-ins for the browser and the claim print, procedures of their own: each opens its window
// and stays in its loop until the clerk closes it.
void Waits(const char* structure) {
    tarvex::Window window("LUMAREX$POSTEST", structure);
    window.Open();
    for (tarvex::Accept accept; accept.Next();) {
    }
}
void Browser() { Waits("P1$SIZED"); }
void BlankFormPrint() { Waits("P1$FIXED"); }

// How many open windows have `title`.
size_t Open(const std::string& title) {
    auto* ui = tarvex::windows::HeadlessBackend();
    size_t count = 0;
    for (tarvex::windows::NativeHandle handle = 1; handle < 10000; handle++)
        if (auto window = ui->GetWindow(handle); window && window->spec.title == title)
            count++;
    return count;
}

// Waits up to two seconds for `holds`.
bool Within(const std::function<bool()>& holds) {
    for (int i = 0; i < 1000; i++) {
        if (holds())
            return true;
        std::this_thread::sleep_for(2ms);
    }
    return holds();
}

TEST(MainFrame, StartedItemsOpenSideBySideAndACalledOneHoldsTheFrameUntilItReturns) {
    tarvex::testing::TemporaryDrive drive;
    VrnProcedure browser = SetMenuProcedure(kInvoiceBrowser, Browser);
    VrnProcedure print = SetMenuProcedure(kClaimInBlankForm, BlankFormPrint);
    std::thread clerk([] {
        tarvex::windows::Driver driver(5s);
        ASSERT_TRUE(driver.WaitForWindow(kFrame)) << driver.Why();
        // Twice: two browsers, each on its own thread, open at once.
        EXPECT_TRUE(driver.Choose(kFrame, "&Account Menu|&Invoice Browser ...")) << driver.Why();
        EXPECT_TRUE(driver.Choose(kFrame, "&Account Menu|&Invoice Browser ...")) << driver.Why();
        EXPECT_TRUE(Within([] { return Open("Sized") == 2; })) << Open("Sized");
        for (size_t left : {1u, 0u}) {   // one at a time: the key goes to the first one found
            EXPECT_TRUE(driver.PressKey("Sized", 0x1B)) << driver.Why();
            EXPECT_TRUE(Within([left] { return Open("Sized") == left; })) << Open("Sized");
        }

        // The blank-form print holds the frame: a browser chosen meanwhile opens only after it.
        EXPECT_TRUE(driver.Choose(kFrame, "&Print Outstanding|&Claim in Blank Form")) << driver.Why();
        EXPECT_TRUE(driver.WaitForWindow("Fixed")) << driver.Why();
        EXPECT_TRUE(driver.Choose(kFrame, "&Account Menu|&Invoice Browser ...")) << driver.Why();
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(Open("Sized"), 0u);
        EXPECT_TRUE(driver.PressKey("Fixed", 0x1B)) << driver.Why();
        EXPECT_TRUE(driver.WaitUntilClosed("Fixed")) << driver.Why();
        EXPECT_TRUE(Within([] { return Open("Sized") == 1; }));
        EXPECT_TRUE(driver.PressKey("Sized", 0x1B)) << driver.Why();
        EXPECT_TRUE(Within([] { return Open("Sized") == 0; }));
        EXPECT_TRUE(driver.Choose(kFrame, "&Account Menu|E&xit")) << driver.Why();
    });
    MainFrame();
    clerk.join();
    SetMenuProcedure(kInvoiceBrowser, browser);
    SetMenuProcedure(kClaimInBlankForm, print);
}

}  // namespace
}  // namespace lumarex
