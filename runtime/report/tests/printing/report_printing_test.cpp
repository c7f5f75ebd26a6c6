// SPDX-License-Identifier: GPL-3.0-or-later
// Reports printed through the toolkit side's print service: into a PDF and through a real print
// queue. An outside reader of PDFs (pdftotext -bbox) finds every text where its control's AT puts
// it, and the pages printed after preview read the same as the pages printed directly.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "platform/qt/qt_printing.h"
#include "report/tests/report_test_support.h"

// The font configuration library keeps a cache for the life of the process that the leak checker
// of the sanitizer build would report; it is not ours.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace tarvex::report {
namespace {

using testing::ClaimReport;
using testing::PageQueue;

std::string Run(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    char buffer[512];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr)
        out += buffer;
    return out;
}

struct Word {
    std::string text;
    double x_min, y_min, x_max, y_max;
};

// The words pdftotext finds on each page, in reading order, with their boxes in points.
std::vector<std::vector<Word>> WordsOf(const std::string& pdf) {
    std::string html = Run("pdftotext -bbox '" + pdf + "' - 2>/dev/null");
    std::vector<std::vector<Word>> pages;
    size_t at = 0;
    while ((at = html.find("<page ", at)) != std::string::npos) {
        size_t end = html.find("</page>", at);
        std::string page = html.substr(at, end - at);
        std::vector<Word> words;
        for (size_t w = 0; (w = page.find("<word ", w)) != std::string::npos; w++) {
            Word word{};
            int text_at = 0;
            if (std::sscanf(page.c_str() + w, "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\">%n",
                            &word.x_min, &word.y_min, &word.x_max, &word.y_max, &text_at) != 4 || text_at == 0)
                continue;
            size_t text_end = page.find("</word>", w);
            word.text = page.substr(w + size_t(text_at), text_end - w - size_t(text_at));
            words.push_back(word);
        }
        pages.push_back(words);
        at = end;
    }
    return pages;
}

const Word* Find(const std::vector<Word>& words, const std::string& text, bool last = false) {
    const Word* found = nullptr;
    for (const Word& word : words)
        if (word.text == text) {
            found = &word;
            if (!last)
                break;
        }
    return found;
}

std::vector<std::string> Texts(const std::vector<Word>& words) {
    std::vector<std::string> texts;
    for (const Word& word : words)
        texts.push_back(word.text);
    return texts;
}

// Readers of a PDF differ in how tall they take a word's box, but agree on its middle: for
// Liberation Sans that lies halfway between the ascent (0.905 em) above the baseline and the
// descent (0.212 em) below it. A text placed by its top at `top` points in `size` points:
double MiddleOfTextAt(double top, double size) {
    return top + size * 0.905 - size * (0.905 - 0.212) / 2;
}
double Middle(const Word& w) {
    return (w.y_min + w.y_max) / 2;
}
// Thousandths of an inch to points.
double Points(int thousandths) {
    return thousandths * 72.0 / 1000;
}
constexpr double kTolerance = 0.02 * 72;

class ReportPrinting : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("command -v pdftotext >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
        previous_ = SetPrinting(platform::qt::MakeQtPrinting());
        folder_ = std::filesystem::temp_directory_path() / ("lum-report-print-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        if (previous_)
            SetPrinting(std::move(previous_));
        StorePrinterSettings(PrinterSettings{});
        std::filesystem::remove_all(folder_);
    }
    void PrintTo(const std::string& pdf) {
        PrinterSettings settings;
        settings.output_file = pdf;
        StorePrinterSettings(settings);
    }
    std::unique_ptr<PrintService> previous_;
    std::filesystem::path folder_;
};

// The claim of 13 lines printed directly into a PDF: three pages, each word within 0.02 inch of
// where its control's AT puts it; the same report previewed and then printed reads the same.
TEST_F(ReportPrinting, ClaimTextsLandWhereTheirControlsPutThem) {
    std::string direct = (folder_ / "direct.pdf").string();
    PrintTo(direct);
    {
        ClaimReport claim;
        Vrn$OPENwindow(claim.report);
        ASSERT_TRUE(claim.report->open);
        EXPECT_EQ(StateOf(*claim.report).device.dpi_x, 600);
        for (int n = 1; n <= 13; n++)
            claim.PrintLine(n);
        Vrn$ENDPAGE(claim.report, 0);
        Vrn$freewindow(&claim.report);
        EXPECT_EQ(LastJobOutput(), direct);
    }
    auto pages = WordsOf(direct);
    ASSERT_EQ(pages.size(), 3u);
    const char* totals[] = {"215.25", "584.25", "133.25"};
    for (int page = 1; page <= 3; page++) {
        SCOPED_TRACE("page " + std::to_string(page));
        const auto& words = pages[size_t(page - 1)];
        const Word* name = Find(words, "DOE");
        ASSERT_NE(name, nullptr) << ::testing::PrintToString(Texts(words));
        EXPECT_NEAR(name->x_min, Points(417), kTolerance);
        EXPECT_NEAR(Middle(*name), MiddleOfTextAt(Points(1792), 12), kTolerance);
        ASSERT_NE(Find(words, std::to_string(page)), nullptr);   // "Page" and its number
        const Word* total = Find(words, totals[page - 1], true);
        ASSERT_NE(total, nullptr);
        EXPECT_NEAR(total->x_max, Points(5385 + 800), kTolerance);
        EXPECT_NEAR(Middle(*total), MiddleOfTextAt(Points(9490 - 21), 12), kTolerance);
        int lines = page < 3 ? 6 : 1;
        for (int row = 0; row < lines; row++) {
            int n = (page - 1) * 6 + row + 1;
            const Word* code = Find(words, "992" + std::to_string(10 + n));
            ASSERT_NE(code, nullptr) << "line " << n;
            EXPECT_NEAR(code->x_min, Points(2802), kTolerance);
            EXPECT_NEAR(Middle(*code), MiddleOfTextAt(Points(7344 + 333 * row + 125), 12), kTolerance);
        }
    }

    // Previewed, then printed.
    std::string after = (folder_ / "after.pdf").string();
    PrintTo(after);
    ClaimReport claim;
    PageQueue queue;
    Vrn$OPENwindow(claim.report);
    BindPreviewQueue(*claim.report, &queue.decl, queue.buffer, VRN_TYPE_STRING, sizeof queue.buffer);
    for (int n = 1; n <= 13; n++)
        claim.PrintLine(n);
    Vrn$ENDPAGE(claim.report, 0);
    EXPECT_EQ(queue.Names().size(), 3u);
    EXPECT_FALSE(std::filesystem::exists(after));
    SetReportProperty(*claim.report, kPropPreview, "1");
    Vrn$freewindow(&claim.report);
    auto printed = WordsOf(after);
    ASSERT_EQ(printed.size(), 3u);
    for (size_t page = 0; page < 3; page++)
        EXPECT_EQ(Texts(printed[page]), Texts(pages[page])) << "page " << page + 1;
}

// A real print queue: the claim goes through CUPS to its PDF printer and comes back as a PDF of
// three pages with the texts where the layout puts them.
TEST_F(ReportPrinting, ClaimPrintsThroughARealQueue) {
    const char* queue = std::getenv("LUM_TEST_PRINTER");
    if (queue == nullptr || *queue == '\0')
        GTEST_SKIP() << "no print queue named in LUM_TEST_PRINTER (./lum test makes one when cupsd starts)";
    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    std::filesystem::path out = std::filesystem::path(home) / "PDF";
    const std::string job = "LumarexClaim" + std::to_string(getpid());
    PrinterSettings settings;
    settings.device = queue;
    StorePrinterSettings(settings);
    ClaimReport claim;
    Vrn$OPENwindow(claim.report);
    ASSERT_TRUE(claim.report->open);
    SetReportProperty(*claim.report, kPropJobName, job);
    for (int n = 1; n <= 13; n++)
        claim.PrintLine(n);
    Vrn$ENDPAGE(claim.report, 0);
    Vrn$freewindow(&claim.report);
    EXPECT_EQ(LastJobOutput(), "");   // to a printer, not a file
    std::filesystem::path printed;
    for (int tries = 0; tries < 300 && printed.empty(); tries++) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(out, error))
            if (entry.path().filename().string().find(job) != std::string::npos && entry.file_size(error) > 0)
                printed = entry.path();
        if (printed.empty())
            usleep(100000);
    }
    ASSERT_FALSE(printed.empty()) << "nothing came out of " << queue << " into " << out;
    usleep(500000);   // the printer may still be writing the file
    auto pages = WordsOf(printed.string());
    std::filesystem::remove(printed);
    ASSERT_EQ(pages.size(), 3u);
    for (int page = 1; page <= 3; page++) {
        const Word* code = Find(pages[size_t(page - 1)], "992" + std::to_string(10 + (page - 1) * 6 + 1));
        ASSERT_NE(code, nullptr) << "page " << page;
        EXPECT_NEAR(code->x_min, Points(2802), kTolerance);
        EXPECT_NEAR(Middle(*code), MiddleOfTextAt(Points(7344 + 125), 12), kTolerance);
    }
}

// A recorded page that cannot be played stops the printing with run-time error 523.
TEST_F(ReportPrinting, ADamagedRecordedPageIsARunTimeError) {
    PrintTo((folder_ / "damaged.pdf").string());
    ClaimReport claim;
    PageQueue queue;
    Vrn$OPENwindow(claim.report);
    BindPreviewQueue(*claim.report, &queue.decl, queue.buffer, VRN_TYPE_STRING, sizeof queue.buffer);
    claim.PrintLine(1);
    Vrn$ENDPAGE(claim.report, 0);
    ASSERT_EQ(queue.Names().size(), 1u);
    std::filesystem::resize_file(queue.Names()[0], 30);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT({ SetReportProperty(*claim.report, kPropPreview, "1"); std::exit(0); }, ::testing::ExitedWithCode(2), "");
}

// With no printer and no file chosen, the pages become a PDF in the documents folder, and the
// job says where.
TEST_F(ReportPrinting, WithoutAPrinterThePagesBecomeAPdfTheUserCanFind) {
    std::string path = platform::qt::DefaultPdfPath("Claim Form");
    EXPECT_NE(path.find("Claim_Form-"), std::string::npos);
    setenv("XDG_DOCUMENTS_DIR", folder_.c_str(), 1);
    std::unique_ptr<PrintJob> job = platform::qt::StartPdfJob(platform::qt::DefaultPdfPath("Claim"));
    unsetenv("XDG_DOCUMENTS_DIR");
    Recorder page;
    page.SetWindowExtent(5100, 6600);
    page.AddFont({"Arial", -100});
    page.SelectObject(0);
    page.Text(600, 600, "ALONE");
    std::string file = page.Finish({0, 0, 5100, 6600}, 600);
    ASSERT_EQ(job->AddPage(std::span(reinterpret_cast<const uint8_t*>(file.data()), file.size())), 0);
    std::string output;
    ASSERT_EQ(job->Finish(&output), 0);
    EXPECT_EQ(output, (folder_ / "Claim-1.pdf").string());
    auto pages = WordsOf(output);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_NE(Find(pages[0], "ALONE"), nullptr);
}

} // namespace
} // namespace tarvex::report
