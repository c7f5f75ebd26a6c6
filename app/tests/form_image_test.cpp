// SPDX-License-Identifier: GPL-3.0-or-later
// The program's form image reaches a report: a FORM band naming the bitmap resource the claim
// reports name is drawn under each page, stretched over the whole letter sheet.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "report/tests/report_test_support.h"

namespace {

using namespace tarvex::report;
namespace support = tarvex::report::testing;

class FormImage : public support::PrintFolderTest {};

TEST_F(FormImage, TheClaimFormImageIsDrawnUnderEachPage) {
    VrnWindowObject* report = nullptr;
    Vrn$propen(&report, "LUMAREX$FORMTEST", "P1$REPORT", nullptr);
    Vrn$OPENwindow(report);
    ASSERT_TRUE(report->open);
    char names[255];
    BindPreviewQueue(*report, nullptr, names, VRN_TYPE_STRING, sizeof names);
    for (int line = 0; line < 8; line++)   // six lines a page: two pages
        Vrn$PRINTreport(report, 1);
    Vrn$ENDPAGE(report, 0);
    std::vector<std::string> pages = StateOf(*report).page_files;
    ASSERT_EQ(pages.size(), 2u);
    for (const std::string& name : pages) {
        int32_t played = -1;
        support::PageContents page = support::Contents(support::ReadFile(name), &played);
        EXPECT_EQ(played, 0);
        ASSERT_EQ(page.bitmap_places.size(), 1u) << name;
        const auto& form = page.bitmap_places[0];
        EXPECT_EQ(form.width, 1275);
        EXPECT_EQ(form.height, 1650);
        // The whole letter sheet at the headless printer's 600 dots per inch.
        EXPECT_EQ(form.destination.left, 0);
        EXPECT_EQ(form.destination.top, 0);
        EXPECT_EQ(form.destination.right, 5100);
        EXPECT_EQ(form.destination.bottom, 6600);
        EXPECT_NE(page.Find("99213"), nullptr);
    }
    Vrn$freewindow(&report);
}

}  // namespace
