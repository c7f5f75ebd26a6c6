// SPDX-License-Identifier: GPL-3.0-or-later
// Reports driven through the statements a program uses: the property statements on a report and
// on the printer object, a preview queue given with the report's declaration, and the page
// layout's band flags (bands kept together, a band that starts a page without its decoration).
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/string_stack.h"
#include "report/printer.h"
#include "report/tests/report_test_support.h"
#include "tarvex/controls.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"
#include "tarvex/values.h"

namespace tarvex::report {
namespace {

using testing::ClaimReport;
using testing::Contents;
using testing::PageContents;
using testing::PageQueue;
using testing::ReadFile;

std::string GetProp(VrnWindowObject* target, const char* property) {
    Vrn$PushCString(property);
    Vrn$GetPropS(0, 0, target);
    std::string value = PopStdString();
    return value.substr(0, value.find_last_not_of(' ') + 1);
}

void SetProp(VrnWindowObject* target, const char* property, const char* value) {
    Vrn$PushCString(property);
    Vrn$PushCString(value);
    Vrn$SetPropS(0, 0, target);
}

// A variable given to SetPropF.
void SetPropField(VrnWindowObject* target, const char* property, void* address, int32_t type, uint32_t size) {
    Ufo* variable = Vrn$Mem2Ufo(address, type, 0, size, 0);
    Vrn$PushCString(property);
    Vrn$SetPropF(0, 0, target, variable);
    Vrn$FreeUfo(variable);
}

class ReportStatements : public testing::PrintFolderTest {
protected:
    size_t PrintedCount() const {
        if (!std::filesystem::exists(folder_))
            return 0;
        return size_t(std::distance(std::filesystem::directory_iterator(folder_), {}));
    }
};

// The preview queue bound through SetPropQ, the preview state, job name and page number read and
// written through the property statements, and the recorded pages printed by setting 0x7C54.
TEST_F(ReportStatements, ThePropertyStatementsReachTheReport) {
    ClaimReport claim;
    PageQueue queue;
    Vrn$OPENwindow(claim.report);
    EXPECT_EQ(GetProp(claim.report, "0x7C54"), "0");
    EXPECT_EQ(GetProp(claim.report, "0x7C00"), "ClaimForm");
    EXPECT_EQ(GetProp(claim.report, "TEXT"), "ClaimForm");
    Vrn$PushCString("0x7C53");
    Vrn$SetPropQ(0, 0, claim.report, &queue.decl);
    EXPECT_EQ(GetProp(claim.report, "0x7C54"), "1");
    SetProp(claim.report, "0x7C00", "Claims of May");
    EXPECT_EQ(StateOf(*claim.report).job, "Claims of May");
    SetProp(claim.report, "0x7A42", "5");
    EXPECT_EQ(GetProp(claim.report, "0x7A42"), "5");
    for (int n = 1; n <= 7; n++)
        claim.PrintLine(n);
    Vrn$ENDPAGE(claim.report, 0);
    EXPECT_EQ(GetProp(claim.report, "0x7A42"), "7");
    std::vector<std::string> names = queue.Names();
    ASSERT_EQ(names.size(), 2u);
    PageContents first = Contents(ReadFile(names[0]));
    EXPECT_NE(first.Find(testing::PageText(5)), nullptr);   // the page number as set
    EXPECT_EQ(PrintedCount(), 0u);
    SetProp(claim.report, "0x7C54", "1");
    EXPECT_EQ(GetProp(claim.report, "0x7C54"), "0");
    Vrn$freewindow(&claim.report);
    EXPECT_EQ(PrintedCount(), 2u);
    EXPECT_NE(LastJobOutput().find(folder_.string()), std::string::npos);
}

// Target -1 is the printer object: its settings serve the reports opened afterwards; a report's
// own printer properties change that report's settings alone.
TEST_F(ReportStatements, ThePrinterObjectSetsUpTheReportsOpenedAfterwards) {
    SetProp(VRN_TARGET_PRINTER, "0x7B04", "2");   // landscape
    SetProp(VRN_TARGET_PRINTER, "0x7B05", "3");
    SetProp(VRN_TARGET_PRINTER, "0x7B04", "7");   // no such orientation: unchanged
    EXPECT_EQ(GetProp(VRN_TARGET_PRINTER, "0x7B04"), "2");
    EXPECT_EQ(GetProp(VRN_TARGET_PRINTER, "0x7B05"), "3");
    EXPECT_EQ(StoredPrinterSettings().copies, 3);
    ClaimReport claim;
    Vrn$OPENwindow(claim.report);
    ReportState state = StateOf(*claim.report);
    EXPECT_EQ(state.settings.orientation, 2);
    EXPECT_GT(state.device.width, state.device.height);
    SetProp(claim.report, "0x7B05", "1");
    EXPECT_EQ(GetProp(claim.report, "0x7B05"), "1");
    EXPECT_EQ(GetProp(VRN_TARGET_PRINTER, "0x7B05"), "3");
    EXPECT_EQ(GetProp(VRN_TARGET_PRINTER, "0x7C54"), "");   // not a printer property
}

// A report described for preview takes its page queue from the declaration, after the addresses
// its bands bind, and opens with preview on; SetPropF then chooses the queue's field that receives
// the names. A report not described so ignores an address left over, and prints.
TEST_F(ReportStatements, AQueueInTheDeclarationSwitchesPreviewOn) {
    struct {
        char tag[4];
        char name[200];
    } record;
    VrnFieldDesc fields[] = {{"PQ:TAG", nullptr, 0, 4, 1, 0, VRN_TYPE_STRING, 0},
                             {"PQ:NAME", nullptr, 4, 200, 1, 0, VRN_TYPE_CSTRING, 0}};
    VrnTypeDesc type{"Pages", "PQ", sizeof record, 2, fields};
    QueueDecl queue{&record, &type, nullptr, sizeof record};
    std::memcpy(record.tag, "PAGE", 4);
    int32_t number = 0, page_total = 0, total = 0;
    VrnWindowObject* report = nullptr;
    Vrn$propen(&report, testing::kModule, "P1$KEEP", &number, &page_total, &number, &total, &number, &queue,
               nullptr);
    Vrn$OPENwindow(report);
    ASSERT_TRUE(report->open);
    EXPECT_TRUE(StateOf(*report).preview);
    SetPropField(report, "0x7C53", record.name, VRN_TYPE_CSTRING, sizeof record.name);
    for (number = 1; number <= 4; number++)   // three a page
        Vrn$PRINTreport(report, 1);
    Vrn$ENDPAGE(report, 0);
    EXPECT_EQ(PrintedCount(), 0u);
    ASSERT_EQ(Vrn$RECORDSqueue(&queue), 2);
    std::vector<std::string> files = StateOf(*report).page_files;
    for (int32_t i = 1; i <= 2; i++) {
        Vrn$GETqueueptr(&queue, i);
        EXPECT_EQ(std::string(record.name), files[size_t(i - 1)]);   // zero-ended: a CSTRING
        EXPECT_EQ(std::string(record.tag, 4), "PAGE");
    }
    Vrn$freewindow(&report);
    Vrn$FREEqueue(&queue);

    ClaimReport claim(&queue);
    Vrn$OPENwindow(claim.report);
    EXPECT_FALSE(StateOf(*claim.report).preview);
    claim.PrintLine(1);
    Vrn$freewindow(&claim.report);
    EXPECT_EQ(PrintedCount(), 1u);
    EXPECT_EQ(Vrn$RECORDSqueue(&queue), 0);
    Vrn$FREEqueue(&queue);
}

// A report described for preview whose declaration lacks the queue is a program error, as any
// bound variable missing from the list.
TEST(ReportStatementsDeathTest, APreviewReportDeclaredWithoutItsQueueIsARunTimeError) {
    int32_t number = 0, page_total = 0, total = 0;
    EXPECT_EXIT(
        {
            VrnWindowObject* report = nullptr;
            Vrn$propen(&report, testing::kModule, "P1$KEEP", &number, &page_total, &number, &total, &number,
                       nullptr);
            Vrn$OPENwindow(report);
            std::exit(0);
        },
        ::testing::ExitedWithCode(2), "");
}

// A variable outside any known queue still turns preview on and holds the last page's name; a
// variable that is no text is refused.
TEST_F(ReportStatements, APreviewFieldOutsideAQueueHoldsTheLastName) {
    ClaimReport claim;
    Vrn$OPENwindow(claim.report);
    int32_t number = 0;
    SetPropField(claim.report, "0x7C53", &number, VRN_TYPE_LONG, sizeof number);
    EXPECT_FALSE(StateOf(*claim.report).preview);
    char name[255];
    SetPropField(claim.report, "0x7C53", name, VRN_TYPE_STRING, sizeof name);
    EXPECT_TRUE(StateOf(*claim.report).preview);
    for (int n = 1; n <= 7; n++)
        claim.PrintLine(n);
    Vrn$ENDPAGE(claim.report, 0);
    std::vector<std::string> files = StateOf(*claim.report).page_files;
    ASSERT_EQ(files.size(), 2u);
    std::string held(name, sizeof name);
    EXPECT_EQ(held.substr(0, held.find_last_not_of(' ') + 1), files[1]);
    EXPECT_EQ(number, 0);
    EXPECT_EQ(PrintedCount(), 0u);
}

std::string program_folder;
// A provider as a program's procedure: the name on the string stack, and a stray text under it
// left behind.
void NameFromProgram(int32_t page) {
    static std::string name;
    name = program_folder + "/claim" + std::to_string(page) + ".wmf";
    Vrn$PushCString("left over");
    Vrn$PushString(name.data(), uint32_t(name.size()));
}

std::string AddressText(const void* address) {
    return std::to_string(reinterpret_cast<uintptr_t>(address));
}

// The page-name provider given by its address: a procedure of the program names the pages; an
// address that is no code (data, the heap, nothing, a negative number, a text) is refused with
// 387 and the pages get temporary names, never a call into it; 0 goes back to temporary names.
TEST_F(ReportStatements, APageNameProviderMustBeCode) {
    std::filesystem::create_directories(folder_);
    program_folder = folder_.string();
    ClaimReport claim;
    PageQueue queue;
    Vrn$OPENwindow(claim.report);
    Vrn$PushCString("0x7C53");
    Vrn$SetPropQ(0, 0, claim.report, &queue.decl);

    Vrn$clearerror();
    SetProp(claim.report, "0x7A0C", AddressText(reinterpret_cast<const void*>(&NameFromProgram)).c_str());
    EXPECT_EQ(Vrn$ERRCODE, 0);
    uint32_t depth = StackDepth();
    claim.PrintLine(1);
    Vrn$ENDPAGE(claim.report, 1);
    EXPECT_EQ(StackDepth(), depth);
    ASSERT_EQ(queue.Names(), std::vector<std::string>{folder_.string() + "/claim1.wmf"});

    int data = 0;
    auto heap = std::make_unique<char[]>(64);
    for (std::string bad : {AddressText(&data), AddressText(heap.get()), std::string("1"), std::string("-4096"),
                            std::string("provider")}) {
        SetProp(claim.report, "0x7A0C", AddressText(reinterpret_cast<const void*>(&NameFromProgram)).c_str());
        Vrn$clearerror();
        SetProp(claim.report, "0x7A0C", bad.c_str());
        EXPECT_EQ(Vrn$ERRCODE, 387) << bad;
        claim.PrintLine(2);
        Vrn$ENDPAGE(claim.report, 1);
        std::string name = queue.Names().back();
        EXPECT_EQ(std::filesystem::path(name).parent_path(), std::filesystem::temp_directory_path()) << bad;
        EXPECT_EQ(std::filesystem::path(name).filename().string().substr(0, 3), "VRN") << bad;
    }
    SetProp(claim.report, "0x7A0C", AddressText(reinterpret_cast<const void*>(&NameFromProgram)).c_str());
    Vrn$clearerror();
    SetProp(claim.report, "0x7A0C", "0");
    EXPECT_EQ(Vrn$ERRCODE, 0);
    claim.PrintLine(3);
    Vrn$ENDPAGE(claim.report, 1);
    EXPECT_EQ(std::filesystem::path(queue.Names().back()).filename().string().substr(0, 3), "VRN");
    EXPECT_EQ(queue.Names().size(), 7u);
}

// ---- Band flags ------------------------------------------------------------------------------------

// P1$KEEP: a detail area of three 1000-high rows. Band 1 shows a number and is totalled per page
// (first footer value) and over the report (second); band 2 is a heading kept with the next band,
// band 3 a band kept with the one before, band 4 a band that starts a bare page.
class KeptBands : public ReportStatements {
protected:
    void SetUp() override {
        ReportStatements::SetUp();
        Vrn$propen(&report_, testing::kModule, "P1$KEEP", &number_, &page_total_, &number_, &total_, &number_,
                   &queue_.decl, nullptr);
        Vrn$OPENwindow(report_);
        ASSERT_TRUE(report_->open);
    }
    void TearDown() override {
        Vrn$freewindow(&report_);
        ReportStatements::TearDown();
    }
    void Print(int32_t band, int32_t number = 0) {
        number_ = number;
        Vrn$PRINTreport(report_, band);
    }
    // Each page's texts, the footer's two totals last.
    std::vector<std::vector<std::string>> Pages() {
        Vrn$ENDPAGE(report_, 0);
        std::vector<std::vector<std::string>> pages;
        for (const std::string& name : queue_.Names())
            pages.push_back(Contents(ReadFile(name)).All());
        return pages;
    }
    using Texts = std::vector<std::string>;

    VrnWindowObject* report_ = nullptr;
    int32_t number_ = 0, page_total_ = 0, total_ = 0;
    PageQueue queue_;
};

TEST_F(KeptBands, AHeadingKeptWithTheNextBandMovesWithIt) {
    Print(1, 1);
    Print(1, 2);
    Print(2);
    Print(3);
    auto pages = Pages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0], (Texts{"HEADER", "1", "2", "3", "3"}));
    EXPECT_EQ(pages[1], (Texts{"HEADER", "HEADING", "KEPT", "0", "3"}));
}

// The moved band's value leaves the ended page's total and counts on the next page.
TEST_F(KeptBands, ABandKeptWithThePriorTakesItAlongAndItsTotal) {
    Print(1, 1);
    Print(1, 2);
    Print(1, 4);
    Print(3);
    auto pages = Pages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0], (Texts{"HEADER", "1", "2", "3", "3"}));
    EXPECT_EQ(pages[1], (Texts{"HEADER", "4", "KEPT", "4", "7"}));
}

// A chain that began its page stays: moving it would gain nothing. A chain of two moves whole.
TEST_F(KeptBands, AChainThatFillsThePageStaysAndALongerChainMovesWhole) {
    Print(2);
    Print(2);
    Print(2);
    Print(3);
    Print(1, 5);
    Print(2);
    Print(2);
    Print(3);
    auto pages = Pages();
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0], (Texts{"HEADER", "HEADING", "HEADING", "HEADING", "0", "0"}));
    EXPECT_EQ(pages[1], (Texts{"HEADER", "KEPT", "5", "5", "5"}));
    EXPECT_EQ(pages[2], (Texts{"HEADER", "HEADING", "HEADING", "KEPT", "0", "5"}));
}

// A band flagged so starts its page without FORM and HEADER; printed within a page it changes
// nothing.
TEST_F(KeptBands, ABandThatStartsAPageLeavesItBare) {
    Print(4);
    Print(1, 1);
    Vrn$ENDPAGE(report_, 0);
    Print(1, 2);
    Print(4);
    auto pages = Pages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0], (Texts{"TITLE", "1", "1", "1"}));
    EXPECT_EQ(pages[1], (Texts{"HEADER", "2", "TITLE", "2", "3"}));
}

// P1$ROWS: a detail area 3000 high (1800 dots at 600 per inch, from 600). Full-width lines 1000
// high; a TALL band 4000 wide and 2000 high; a SHORT band as wide, 500 high and kept with the
// next band, so a band printed beside it shares its row; a full-width band kept with the prior.
class KeptRows : public ReportStatements {
protected:
    void SetUp() override {
        ReportStatements::SetUp();
        Vrn$propen(&report_, testing::kModule, "P1$ROWS", &queue_.decl, nullptr);
        Vrn$OPENwindow(report_);
        ASSERT_TRUE(report_->open);
    }
    void TearDown() override {
        Vrn$freewindow(&report_);
        ReportStatements::TearDown();
    }
    std::vector<PageContents> Pages() {
        Vrn$ENDPAGE(report_, 0);
        std::vector<PageContents> pages;
        for (const std::string& name : queue_.Names())
            pages.push_back(Contents(ReadFile(name)));
        return pages;
    }
    using Texts = std::vector<std::string>;

    VrnWindowObject* report_ = nullptr;
    PageQueue queue_;
};

// A band beside another must fit the height left as well as the width: one taller than what is
// left ends the page, and takes along the band kept with it, the two side by side again on top.
TEST_F(KeptRows, ABandBesideAnotherThatIsTooTallForTheRestOfThePageMovesWithItsChain) {
    Vrn$PRINTreport(report_, 1);
    Vrn$PRINTreport(report_, 1);
    Vrn$PRINTreport(report_, 3);   // fits the last 1000
    Vrn$PRINTreport(report_, 2);   // beside it, 2000 high: does not fit
    std::vector<PageContents> pages = Pages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].All(), (Texts{"LINE", "LINE"}));
    ASSERT_EQ(pages[1].All(), (Texts{"SHORT", "TALL"}));
    EXPECT_EQ(pages[1].Find("SHORT")->y, 600);
    EXPECT_EQ(pages[1].Find("SHORT")->x, 60);
    EXPECT_EQ(pages[1].Find("TALL")->y, 600);
    EXPECT_EQ(pages[1].Find("TALL")->x, 2460);
}

// A kept band in a row with a taller band takes the row's height: moved to the next page without
// the taller band, the band kept with it still follows a row's height below it.
TEST_F(KeptRows, AKeptBandTakesItsRowsHeightWhenItMoves) {
    Vrn$PRINTreport(report_, 1);
    Vrn$PRINTreport(report_, 2);   // row 1000..3000: TALL ...
    Vrn$PRINTreport(report_, 3);   // ... and SHORT beside it, kept with the next band
    Vrn$PRINTreport(report_, 4);   // no room below the row: SHORT goes along
    std::vector<PageContents> pages = Pages();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].All(), (Texts{"LINE", "TALL"}));
    ASSERT_EQ(pages[1].All(), (Texts{"SHORT", "BELOW"}));
    EXPECT_EQ(pages[1].Find("SHORT")->y, 600);
    EXPECT_EQ(pages[1].Find("SHORT")->x, 60);
    EXPECT_EQ(pages[1].Find("BELOW")->y, 600 + 1200);
}

// On one page nothing moves: the band after a row starts below its tallest band.
TEST_F(KeptRows, ABandAfterARowStartsBelowItsTallestBand) {
    Vrn$PRINTreport(report_, 3);
    Vrn$PRINTreport(report_, 2);
    Vrn$PRINTreport(report_, 4);   // 2000 + 1000: fits exactly
    std::vector<PageContents> pages = Pages();
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages[0].All(), (Texts{"SHORT", "TALL", "BELOW"}));
    EXPECT_EQ(pages[0].Find("BELOW")->y, 600 + 1200);
}

} // namespace
} // namespace tarvex::report
