// SPDX-License-Identifier: GPL-3.0-or-later
// Pages drawn by Qt: text lands where the page put it (an outside reader of the PDF, pdftotext,
// finds each word at its place), shapes fill the right pixels of an image, the page faces are
// the metric-compatible ones, and a damaged page file is refused.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QGuiApplication>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <map>
#include <string>

#include <unistd.h>

#include "platform/qt/page_painter.h"

// The font configuration library keeps a cache for the life of the process that the leak checker
// of the sanitizer build would report; it is not ours.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace tarvex::platform::qt {
namespace {

// Qt's font database needs an application; the tests need no display.
void EnsureApplication() {
    static int argc = 1;
    static char name[] = "qt_tests";
    static char* argv[] = {name, nullptr};
    if (QGuiApplication::instance() == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static QGuiApplication* application = new QGuiApplication(argc, argv);
        (void)application;
    }
}

std::vector<uint8_t> Bytes(const std::string& file) {
    return {file.begin(), file.end()};
}

// A Letter page at 600 units per inch.
constexpr report::Rect kLetter{0, 0, 5100, 6600};

std::string Run(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    char buffer[512];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr)
        out += buffer;
    return out;
}

struct Word {
    double x_min, y_min, x_max, y_max;
};

// Readers of a PDF differ in how tall they take a word's box (the font's full ascent, or its
// glyphs'), but agree on its middle: for 10-point Liberation Sans that lies halfway between the
// ascent (0.905 em) above the baseline and the descent (0.212 em) below it.
double Middle(const Word& w) {
    return (w.y_min + w.y_max) / 2;
}
double OnBaseline(double baseline) {
    return baseline - 10 * (0.905 - 0.212) / 2;
}
double TopAligned(double top) {
    return OnBaseline(top + 10 * 0.905);
}

// The words pdftotext finds on each page, with their boxes in points.
std::vector<std::map<std::string, Word>> WordsOf(const std::string& pdf) {
    std::string html = Run("pdftotext -bbox '" + pdf + "' - 2>/dev/null");
    std::vector<std::map<std::string, Word>> pages;
    size_t at = 0;
    while ((at = html.find("<page ", at)) != std::string::npos) {
        size_t end = html.find("</page>", at);
        std::string page = html.substr(at, end - at);
        std::map<std::string, Word> words;
        for (size_t w = 0; (w = page.find("<word ", w)) != std::string::npos; w++) {
            Word box{};
            int text_at = 0;
            if (std::sscanf(page.c_str() + w, "<word xMin=\"%lf\" yMin=\"%lf\" xMax=\"%lf\" yMax=\"%lf\">%n",
                            &box.x_min, &box.y_min, &box.x_max, &box.y_max, &text_at) != 4 || text_at == 0)
                continue;
            size_t text_end = page.find("</word>", w);
            words[page.substr(w + size_t(text_at), text_end - w - size_t(text_at))] = box;
        }
        pages.push_back(words);
        at = end;
    }
    return pages;
}

TEST(PagePainter, TheFacesArePresentUnderTheirPageNames) {
    EnsureApplication();
    EXPECT_EQ(FaceFor("Arial"), "Liberation Sans");
    EXPECT_EQ(FaceFor("ARIAL NARROW"), "Liberation Sans Narrow");
    for (const char* face : {"Arial", "Arial Narrow"}) {
        QFont font(FaceFor(face));
        EXPECT_EQ(QFontInfo(font).family(), FaceFor(face)) << face << " is not installed";
    }
}

// Two claim-like pages with a name, an amount right-aligned and a procedure code on its baseline.
std::vector<std::vector<uint8_t>> TwoPages() {
    std::vector<std::vector<uint8_t>> pages;
    for (int number = 1; number <= 2; number++) {
        report::Recorder page;
        page.SetWindowOrigin(0, 0);
        page.SetWindowExtent(kLetter.right, kLetter.bottom);
        uint16_t font = page.AddFont({"Arial", -83}); // 10 points
        page.SelectObject(font);
        page.SetTextAlign(report::kAlignLeft | report::kAlignTop);
        page.Text(600, 1200, number == 1 ? "SMITH" : "JONES");         // 1 in, 2 in
        page.SetTextAlign(report::kAlignRight | report::kAlignTop);
        page.Text(4800, 3000, "125.00");                               // right edge at 8 in
        page.SetTextAlign(report::kAlignLeft | report::kAlignBaseline);
        page.Text(300, 6000, "99213");                                 // baseline at 10 in
        pages.push_back(Bytes(page.Finish(kLetter, 600)));
    }
    return pages;
}

// Each text where its alignment puts it, within 0.02 inch, on the page it was printed on.
TEST(PagePainter, PdfTextLandsWhereThePagePutIt) {
    EnsureApplication();
    if (std::system("command -v pdftotext >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    std::vector<std::vector<uint8_t>> pages = TwoPages();
    std::filesystem::path pdf = std::filesystem::temp_directory_path() / "lum-page-painter.pdf";
    ASSERT_EQ(PagesToPdf(pages, pdf.string()), 0);
    auto found = WordsOf(pdf.string());
    std::filesystem::remove(pdf);
    ASSERT_EQ(found.size(), 2u);
    const double tolerance = 0.02 * 72;
    for (int number = 1; number <= 2; number++) {
        SCOPED_TRACE("page " + std::to_string(number));
        const auto& words = found[size_t(number - 1)];
        const char* name = number == 1 ? "SMITH" : "JONES";
        ASSERT_TRUE(words.count(name) && words.count("125.00") && words.count("99213"));
        EXPECT_NEAR(words.at(name).x_min, 72, tolerance);
        EXPECT_NEAR(Middle(words.at(name)), TopAligned(144), tolerance);
        EXPECT_NEAR(words.at("125.00").x_max, 576, tolerance);
        EXPECT_NEAR(Middle(words.at("125.00")), TopAligned(360), tolerance);
        EXPECT_NEAR(words.at("99213").x_min, 36, tolerance);
        EXPECT_NEAR(Middle(words.at("99213")), OnBaseline(720), tolerance);
    }
}

TEST(PagePainter, ImagePixelsFollowThePage) {
    EnsureApplication();
    report::Recorder page;
    page.SetWindowOrigin(0, 0);
    page.SetWindowExtent(kLetter.right, kLetter.bottom);
    uint16_t brush = page.AddBrush({0, 0x000000FF, 0}); // red
    uint16_t pen = page.AddPen({5, 0, 0});              // no outline
    page.SelectObject(brush);
    page.SelectObject(pen);
    page.Rectangle({600, 600, 1200, 900}); // 1 to 2 in across, 1 to 1.5 in down
    QImage image;
    ASSERT_EQ(PageImage(Bytes(page.Finish(kLetter, 600)), 100, &image), 0);
    EXPECT_EQ(image.size(), QSize(850, 1100));
    EXPECT_EQ(QColor(image.pixel(150, 125)), QColor(255, 0, 0));   // inside
    EXPECT_EQ(QColor(image.pixel(95, 125)), QColor(Qt::white));    // left of it
    EXPECT_EQ(QColor(image.pixel(150, 155)), QColor(Qt::white));   // below it
}

// A real print queue: the pages go through CUPS to its PDF printer and come back as a PDF with
// both pages, each word where the page put it.
TEST(PagePainter, PrintsThroughARealQueue) {
    EnsureApplication();
    const char* queue = std::getenv("LUM_TEST_PRINTER");
    if (queue == nullptr || *queue == '\0')
        GTEST_SKIP() << "no print queue named in LUM_TEST_PRINTER (./lum test makes one when cupsd starts)";
    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    std::filesystem::path out = std::filesystem::path(home) / "PDF";
    const std::string job = "LumarexTest" + std::to_string(getpid());
    ASSERT_EQ(PagesToPrinter(TwoPages(), queue, job), 0);
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
    usleep(500000); // the printer may still be writing the file
    auto found = WordsOf(printed.string());
    std::filesystem::remove(printed);
    ASSERT_EQ(found.size(), 2u);
    const double tolerance = 0.02 * 72;
    ASSERT_TRUE(found[0].count("SMITH") && found[1].count("JONES") && found[1].count("125.00"));
    EXPECT_NEAR(found[0].at("SMITH").x_min, 72, tolerance);
    EXPECT_NEAR(Middle(found[0].at("SMITH")), TopAligned(144), tolerance);
    EXPECT_NEAR(found[1].at("125.00").x_max, 576, tolerance);
    EXPECT_NEAR(Middle(found[1].at("99213")), OnBaseline(720), tolerance);
}

TEST(PagePainter, AMissingPrinterOrADamagedPageSendsNothing) {
    EnsureApplication();
    EXPECT_EQ(PagesToPrinter(TwoPages(), "NoSuchQueueAnywhere", "x"), 524);
    std::vector<std::vector<uint8_t>> pages = TwoPages();
    pages[1].resize(30);
    EXPECT_EQ(PagesToPrinter(pages, "NoSuchQueueAnywhere", "x"), report::kRecordTooLarge);
}

TEST(PagePainter, DamagedPagesAreRefused) {
    EnsureApplication();
    report::Recorder page;
    page.Text(0, 0, "cut short");
    std::vector<uint8_t> file = Bytes(page.Finish(kLetter, 600));
    file.resize(file.size() - 4);
    QImage image;
    EXPECT_EQ(PageImage(file, 50, &image), report::kRecordTooLarge);
    EXPECT_EQ(PagesToPdf({file}, (std::filesystem::temp_directory_path() / "lum-damaged.pdf").string()),
              report::kRecordTooLarge);
    std::filesystem::remove(std::filesystem::temp_directory_path() / "lum-damaged.pdf");
}

} // namespace
} // namespace tarvex::platform::qt
