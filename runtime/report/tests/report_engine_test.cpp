// SPDX-License-Identifier: GPL-3.0-or-later
// The report engine on the headless printer (600 dots per inch, Letter, no printable offset):
// bands laid out into pages, page files for the preview, printing them, break groups and totals,
// paper, and the run-time errors. Pages are judged by playing them back (and by wmf2svg, an
// outside reader of metafiles).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/picture.h"
#include "platform/platform.h"
#include "report/printer.h"
#include "report/tests/report_test_support.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"

namespace tarvex::report {
namespace {

using testing::ClaimReport;
using testing::Contents;
using testing::PageContents;
using testing::PageQueue;
using testing::PageText;
using testing::ReadFile;
using testing::SetDecimal;
using testing::SetText;

class ReportTest : public testing::PrintFolderTest {
protected:
    // The page files the headless printer wrote, in page order.
    std::vector<std::string> Printed() const {
        std::vector<std::string> pages;
        if (!std::filesystem::exists(folder_))
            return pages;
        for (int n = 1;; n++) {
            bool found = false;
            for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
                std::string name = entry.path().filename().string();
                if (name.size() > 4 && name.ends_with("-" + std::to_string(n) + ".wmf") &&
                    std::count(name.begin(), name.end(), '-') == 2) {
                    pages.push_back(ReadFile(entry.path().string()));
                    found = true;
                    break;
                }
            }
            if (!found)
                return pages;
        }
    }
};

// 13 lines at six a page: three pages, in order, each with the form image, the header and the
// footer; the lines, page numbers and page totals where the layout puts them.
TEST_F(ReportTest, ClaimOfThirteenLinesPrintsThreePagesWithTheFormOnEach) {
    ClaimReport claim;
    PageQueue queue;
    Vrn$OPENwindow(claim.report);
    ASSERT_TRUE(claim.report->open);
    BindPreviewQueue(*claim.report, &queue.decl, queue.buffer, VRN_TYPE_STRING, sizeof queue.buffer);
    for (int n = 1; n <= 13; n++)
        claim.PrintLine(n);
    Vrn$ENDPAGE(claim.report, 0);
    std::vector<std::string> names = queue.Names();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(StateOf(*claim.report).page_files, names);
    const char* totals[] = {"215.25", "584.25", "133.25"};   // 10.25 x (1..6), x (7..12), x 13
    for (int page = 1; page <= 3; page++) {
        SCOPED_TRACE("page " + std::to_string(page));
        const std::string& path = names[size_t(page - 1)];
        EXPECT_EQ(std::filesystem::path(path).filename().string().substr(0, 3), "VRN");
        struct stat info {};
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        std::string file = ReadFile(path);
        PageBox box;
        ASSERT_TRUE(ReadPageBox(std::span(reinterpret_cast<const uint8_t*>(file.data()), file.size()), &box));
        EXPECT_EQ(box.units_per_inch, 600);
        EXPECT_EQ(box.box, (Rect{0, 0, 5100, 6600}));
        int32_t code = -1;
        PageContents contents = Contents(file, &code);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(contents.bitmaps, 1);                          // the form image
        ASSERT_NE(contents.Find("DOE JANE"), nullptr);            // the header
        EXPECT_EQ(contents.Find("DOE JANE")->x, 250);            // 417 thousandths
        EXPECT_EQ(contents.Find("DOE JANE")->y, 1075);           // 1792
        ASSERT_NE(contents.Find(PageText(page)), nullptr);
        const PageContents::Shown* total = contents.FindLast(totals[page - 1]);
        ASSERT_NE(total, nullptr) << ::testing::PrintToString(contents.All());
        EXPECT_EQ(total->align & kAlignRight, kAlignRight);
        EXPECT_EQ(total->x, 3231 + 480);                         // right edge: (5385 + 800) thousandths
        EXPECT_EQ(total->y, 5694 - 13);                          // 9490 - 21
        int lines = page < 3 ? 6 : 1;
        for (int row = 0; row < lines; row++) {
            int n = (page - 1) * 6 + row + 1;
            const PageContents::Shown* code_text = contents.Find("992" + std::to_string(10 + n));
            ASSERT_NE(code_text, nullptr) << "line " << n;
            EXPECT_EQ(code_text->x, 1681);                       // 2802
            EXPECT_EQ(code_text->y, 4406 + 200 * row + 75);      // 7344 + 333 a line + 125
        }
        EXPECT_EQ(contents.Find("992" + std::to_string(10 + page * 6 + 1)), nullptr);
    }
    Vrn$freewindow(&claim.report);
    for (const std::string& path : names)
        EXPECT_FALSE(std::filesystem::exists(path)) << path << " was not deleted";
}

// What a narrow box cannot hold is cut at its right edge; right and centred texts are placed by
// their visible characters; a string date in a date picture is read as the date it spells.
TEST_F(ReportTest, TextsArePlacedByTheirJustificationAndCutAtTheirBox) {
    ClaimReport claim;
    PageQueue queue;
    Vrn$OPENwindow(claim.report);
    BindPreviewQueue(*claim.report, &queue.decl, nullptr, VRN_TYPE_STRING, 0);
    claim.PrintLine(2);
    Vrn$ENDPAGE(claim.report, 0);
    ASSERT_EQ(queue.Names().size(), 1u);
    PageContents page = Contents(ReadFile(queue.Names()[0]));
    const PageContents::Shown* month = page.Find("04 1961");   // @D014_B: month first, then the year
    ASSERT_NE(month, nullptr) << ::testing::PrintToString(page.All());
    EXPECT_TRUE(month->clipped);
    EXPECT_EQ(month->clip.left, 2019);                        // 3365
    EXPECT_EQ(month->clip.right, 2019 + 120);                 // 200 wide
    const PageContents::Shown* fee = page.Find("20.50");
    ASSERT_NE(fee, nullptr);
    EXPECT_EQ(fee->x, 3100 + 480);                            // right edge of (5167, 800)
    const PageContents::Shown* mark = page.Find("Y");
    ASSERT_NE(mark, nullptr);
    EXPECT_EQ(mark->align & kAlignCenter, kAlignCenter);
    EXPECT_EQ(mark->x, 1419 + 60);                            // middle of (2365, 200)
    EXPECT_EQ(page.selected_heights[0], -100);                // Arial 12 points at 600 dots per inch
}

// Without preview the pages go to the printer as they end; after preview, printing the recorded
// pages gives the same pages byte for byte.
TEST_F(ReportTest, PrintingAfterPreviewGivesTheSamePagesAsPrintingDirectly) {
    std::vector<std::string> direct;
    {
        ClaimReport claim;
        Vrn$OPENwindow(claim.report);
        for (int n = 1; n <= 8; n++)
            claim.PrintLine(n);
        Vrn$ENDPAGE(claim.report, 0);
        Vrn$freewindow(&claim.report);
        EXPECT_EQ(LastJobOutput(), folder_.string());
        direct = Printed();
    }
    ASSERT_EQ(direct.size(), 2u);
    std::filesystem::remove_all(folder_);
    ClaimReport claim;
    PageQueue queue;
    Vrn$OPENwindow(claim.report);
    BindPreviewQueue(*claim.report, &queue.decl, queue.buffer, VRN_TYPE_STRING, sizeof queue.buffer);
    for (int n = 1; n <= 8; n++)
        claim.PrintLine(n);
    Vrn$ENDPAGE(claim.report, 0);
    EXPECT_TRUE(Printed().empty());                           // previewed, not printed
    std::string preview;
    ASSERT_TRUE(GetReportProperty(*claim.report, kPropPreview, &preview));
    EXPECT_EQ(preview, "1");
    ASSERT_TRUE(SetReportProperty(*claim.report, kPropPreview, "1"));
    Vrn$freewindow(&claim.report);
    std::vector<std::string> after = Printed();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0], direct[0]);
    EXPECT_EQ(after[1], direct[1]);
}

// A DETAIL band as high as the detail area: one band a page, each page with its decorations; the
// footer's STRING bound to nothing shows the page number through its picture.
TEST_F(ReportTest, ABandAsHighAsTheDetailAreaPrintsOneAPage) {
    int32_t number = 0;
    VrnWindowObject* report = nullptr;
    Vrn$propen(&report, testing::kModule, "P1$FULL", &number, nullptr);
    Vrn$OPENwindow(report);
    for (number = 1; number <= 3; number++)
        Vrn$PRINTreport(report, 5);
    Vrn$ENDPAGE(report, 0);
    Vrn$freewindow(&report);
    std::vector<std::string> pages = Printed();
    ASSERT_EQ(pages.size(), 3u);
    for (size_t i = 0; i < pages.size(); i++) {
        PageContents page = Contents(pages[i]);
        EXPECT_EQ(page.All(),
                  (std::vector<std::string>{"FORM", "HEADER", std::to_string(i + 1), "FOOTER", PageText(int(i) + 1)}));
        EXPECT_EQ(page.Find(std::to_string(i + 1))->y, 600);   // the top of the detail area
    }
}

TEST_F(ReportTest, ACustomPaperCellSetsItsSizeInTenthsOfAMillimetre) {
    VrnWindowObject* report = nullptr;
    Vrn$propen(&report, testing::kModule, "P1$CUSTOM", nullptr);
    Vrn$OPENwindow(report);
    ReportState state = StateOf(*report);
    EXPECT_EQ(state.settings.paper, kPaperCustom);
    EXPECT_EQ(state.settings.paper_width, 2159);
    EXPECT_EQ(state.settings.paper_length, 2794);
    EXPECT_EQ(state.device.width, 5100);
    Vrn$freewindow(&report);
}

// Two levels of groups: at each break the inner footer (and the outer one when the provider
// changes) prints before the new headers, innermost closed first, outermost opened first; each
// group's totals start again with the group, the page footer's run over the report.
TEST_F(ReportTest, BreakGroupsPrintTheirFootersAndHeadersAtEachBreak) {
    char provider[3], patient[5];
    uint8_t amount[6], patient_total[6], provider_total[6], page_total[6];
    int32_t count = 0;
    VrnWindowObject* report = nullptr;
    Vrn$propen(&report, testing::kModule, "P1$GROUPS", provider, provider, patient, patient, amount, patient_total,
               amount, provider_total, amount, &count, page_total, amount, nullptr);
    Vrn$OPENwindow(report);
    ASSERT_TRUE(report->open);
    struct Line {
        const char* provider;
        const char* patient;
        const char* amount;
    };
    const Line lines[] = {{"001", "A", "1.00"}, {"001", "A", "2.00"}, {"001", "B", "4.00"}, {"002", "B", "8.00"}};
    for (const Line& line : lines) {
        SetText(provider, sizeof provider, line.provider);
        SetText(patient, sizeof patient, line.patient);
        SetDecimal(amount, sizeof amount, 2, line.amount);
        Vrn$PRINTreport(report, 22);
    }
    Vrn$PRINTreport(report, 20);   // a group's number is not a DETAIL band: nothing
    Vrn$ENDPAGE(report, 0);
    Vrn$freewindow(&report);
    std::vector<std::string> pages = Printed();
    ASSERT_EQ(pages.size(), 1u);
    std::vector<std::string> texts = Contents(pages[0]).All();
    std::vector<std::string> expected = {
        PageText(1),
        "PROVIDER", "001", "PATIENT", "A", "1.00", "2.00", "PATIENT TOTAL", "3.00",
        "PATIENT", "B", "4.00", "PATIENT TOTAL", "4.00",
        "PROVIDER TOTAL", "7.00", "3",
        "PROVIDER", "002", "PATIENT", "B", "8.00", "PATIENT TOTAL", "8.00",
        "PROVIDER TOTAL", "8.00", "1",
        "15.00"};
    EXPECT_EQ(texts, expected);
}

// The page footer's total holds the lines of its own page: the line that starts the next page is
// not in it.
TEST_F(ReportTest, APageTotalDoesNotCountTheLineThatStartsTheNextPage) {
    ClaimReport claim;
    Vrn$OPENwindow(claim.report);
    for (int n = 1; n <= 7; n++)
        claim.PrintLine(n);
    Vrn$ENDPAGE(claim.report, 0);
    Vrn$freewindow(&claim.report);
    std::vector<std::string> pages = Printed();
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_NE(Contents(pages[0]).Find("215.25"), nullptr) << ::testing::PrintToString(Contents(pages[0]).All());
    EXPECT_NE(Contents(pages[1]).Find("71.75"), nullptr);
}

std::string provided_folder;
// The string stack refers to the pushed text, so it lives on after the call, as a program's does.
void ProvideName(int32_t page) {
    static std::string name;
    name = provided_folder + "/page" + std::to_string(page) + ".wmf";
    Vrn$PushString(name.data(), uint32_t(name.size()));
}

// A provider names the page files; they are the program's and stay after closing.
TEST_F(ReportTest, AProviderNamesThePageFiles) {
    std::filesystem::create_directories(folder_);
    provided_folder = folder_.string();
    ClaimReport claim;
    PageQueue queue;
    Vrn$OPENwindow(claim.report);
    BindPreviewQueue(*claim.report, &queue.decl, queue.buffer, VRN_TYPE_STRING, sizeof queue.buffer);
    SetPageNameProvider(*claim.report, ProvideName);
    ASSERT_TRUE(SetReportProperty(*claim.report, kPropPageNumber, "4"));
    claim.PrintLine(1);
    Vrn$ENDPAGE(claim.report, 0);
    std::string page;
    ASSERT_TRUE(GetReportProperty(*claim.report, kPropPageNumber, &page));
    EXPECT_EQ(page, "5");
    Vrn$freewindow(&claim.report);
    ASSERT_EQ(queue.Names(), std::vector<std::string>{folder_.string() + "/page4.wmf"});
    std::string file = ReadFile(queue.Names()[0]);
    EXPECT_NE(Contents(file).Find(PageText(4)), nullptr);
}

// A cancelled job prints nothing more, and nothing of it reaches the printer.
TEST_F(ReportTest, ACancelledJobIgnoresFurtherPrinting) {
    ClaimReport claim;
    Vrn$OPENwindow(claim.report);
    for (int n = 1; n <= 7; n++)
        claim.PrintLine(n);
    CancelReport(*claim.report);
    claim.PrintLine(8);
    Vrn$ENDPAGE(claim.report, 0);
    EXPECT_TRUE(StateOf(*claim.report).cancelled);
    Vrn$freewindow(&claim.report);
    EXPECT_TRUE(Printed().empty());
}

TEST_F(ReportTest, JobNameAndPrinterSettingsAreProperties) {
    // The printer object's paper serves the reports opened afterwards (this one's paper cell
    // then gives its own size).
    ASSERT_TRUE(SetPrinterObjectProperty(kPropOrientation, "2"));
    EXPECT_FALSE(SetPrinterObjectProperty(0x7C00, "x"));
    VrnWindowObject* full = nullptr;
    int32_t number = 0;
    Vrn$propen(&full, testing::kModule, "P1$FULL", &number, nullptr);
    Vrn$OPENwindow(full);
    EXPECT_EQ(StateOf(*full).device.width, 6600);   // Letter across
    Vrn$freewindow(&full);
    StorePrinterSettings(PrinterSettings{});
    ClaimReport claim;
    Vrn$OPENwindow(claim.report);
    std::string value;
    ASSERT_TRUE(GetReportProperty(*claim.report, kPropJobName, &value));
    EXPECT_EQ(value, "ClaimForm");
    ASSERT_TRUE(SetReportProperty(*claim.report, kPropJobName, "Claim 42"));
    ASSERT_TRUE(SetReportProperty(*claim.report, kPropCopies, "2"));
    ASSERT_TRUE(GetReportProperty(*claim.report, kPropCopies, &value));
    EXPECT_EQ(value, "2");
    EXPECT_FALSE(SetReportProperty(*claim.report, 0x7C01, "1"));   // not a report's
    claim.PrintLine(1);
    Vrn$freewindow(&claim.report);
    EXPECT_EQ(std::filesystem::path(LastJobOutput()), folder_);
    EXPECT_TRUE(std::filesystem::exists(folder_ / "Claim_42-1-1.wmf"));
}

// The print dialog answers through the message interface: OK keeps the settings for the reports
// opened afterwards, Cancel keeps nothing.
TEST_F(ReportTest, ThePrintDialogKeepsTheChosenSettings) {
    platform::HeadlessMessageBoxes* boxes = platform::Headless();
    ASSERT_NE(boxes, nullptr);
    PrinterSettings chosen;
    chosen.copies = 3;
    StorePrinterSettings(chosen);
    boxes->QueueAnswer(VRN_BUTTON_CANCEL);
    Vrn$PushString("Print claims", 12);
    EXPECT_EQ(Vrn$PRINTERDIALOG(0), 0);
    boxes->QueueAnswer(VRN_BUTTON_OK);
    Vrn$PushString("", 0);
    EXPECT_EQ(Vrn$PRINTERDIALOG(0), 1);
    auto shown = boxes->Transcript();
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown[shown.size() - 2].request.caption, "Print claims");
    EXPECT_EQ(shown.back().request.caption, "Print");
    ClaimReport claim;
    Vrn$OPENwindow(claim.report);
    EXPECT_EQ(StateOf(*claim.report).settings.copies, 3);
}

TEST_F(ReportTest, PrintAndEndPageOnAWindowAreRunTimeErrors) {
    VrnWindowObject* window = nullptr;
    Vrn$pwopen(&window, testing::kModule, "P1$WINDOW", nullptr);
    EXPECT_EXIT({ Vrn$PRINTreport(window, 1); std::exit(0); }, ::testing::ExitedWithCode(2), "");
    EXPECT_EXIT({ Vrn$ENDPAGE(window, 0); std::exit(0); }, ::testing::ExitedWithCode(2), "");
    Vrn$freewindow(&window);
}

TEST_F(ReportTest, OpeningAnOpenReportIsARunTimeError) {
    ClaimReport claim;
    Vrn$OPENwindow(claim.report);
    ASSERT_TRUE(claim.report->open);
    EXPECT_EXIT({ Vrn$OPENwindow(claim.report); std::exit(0); }, ::testing::ExitedWithCode(2), "");
}

// A report not open prints nothing and ending a page with nothing on it makes no page.
TEST_F(ReportTest, NothingIsPrintedOutsideAnOpenReport) {
    ClaimReport claim;
    claim.PrintLine(1);
    Vrn$ENDPAGE(claim.report, 0);
    Vrn$OPENwindow(claim.report);
    Vrn$ENDPAGE(claim.report, 0);
    Vrn$freewindow(&claim.report);
    EXPECT_TRUE(Printed().empty());
}

// The texts of an SVG's text elements, their entities read.
std::vector<std::string> SvgTexts(const std::string& svg) {
    std::vector<std::string> texts;
    for (size_t at = 0; (at = svg.find("<text", at)) != std::string::npos;) {
        size_t start = svg.find('>', at);
        size_t end = svg.find("</text>", start);
        if (start == std::string::npos || end == std::string::npos)
            break;
        std::string raw = svg.substr(start + 1, end - start - 1), text;
        for (size_t i = 0; i < raw.size(); i++) {
            bool entity = false;
            for (auto [name, ch] : {std::pair{"&amp;", '&'}, std::pair{"&lt;", '<'}, std::pair{"&gt;", '>'},
                                    std::pair{"&quot;", '"'}, std::pair{"&apos;", '\''}})
                if (raw.compare(i, std::strlen(name), name) == 0) {
                    text += ch;
                    i += std::strlen(name) - 1;
                    entity = true;
                    break;
                }
            if (!entity)
                text += raw[i];
        }
        texts.push_back(text);
        at = end;
    }
    return texts;
}

// The outside reader converts every page file, and finds the texts printed on it.
TEST_F(ReportTest, AnOutsideReaderReadsThePageFiles) {
    if (std::system("command -v wmf2svg >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "wmf2svg (libwmf-bin) is not installed";
    ClaimReport claim;
    PageQueue queue;
    Vrn$OPENwindow(claim.report);
    BindPreviewQueue(*claim.report, &queue.decl, queue.buffer, VRN_TYPE_STRING, sizeof queue.buffer);
    for (int n = 1; n <= 7; n++)
        claim.PrintLine(n);
    Vrn$ENDPAGE(claim.report, 0);
    std::filesystem::create_directories(folder_);
    int page = 0;
    for (const std::string& path : queue.Names()) {
        page++;
        std::string svg = (folder_ / ("page" + std::to_string(page) + ".svg")).string();
        std::string command = "wmf2svg -o '" + svg + "' '" + path + "' 2>&1";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        std::string messages;
        char buffer[256];
        while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr)
            messages += buffer;
        int status = pclose(pipe.release());
        EXPECT_EQ(status, 0) << messages;
        // The texts the reader finds, in the order it finds them, are the texts printed.
        std::vector<std::string> printed = Contents(ReadFile(path)).All();
        EXPECT_NE(std::find(printed.begin(), printed.end(), PageText(page)), printed.end());
        EXPECT_NE(std::find(printed.begin(), printed.end(), page == 1 ? "99211" : "99217"), printed.end());
        EXPECT_EQ(SvgTexts(ReadFile(svg)), printed) << "page " << page;
    }
    EXPECT_EQ(page, 2);
}

} // namespace
} // namespace tarvex::report
