// SPDX-License-Identifier: GPL-3.0-or-later
// The program's form image reaches a report: a FORM band naming the bitmap resource the claim
// reports name is drawn under each page, stretched over the whole letter sheet.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/platform.h"
#include "report/metafile.h"
#include "report/printer.h"
#include "report/report_engine.h"
#include "tarvex/reports.h"
#include "tarvex/windows.h"
#include "windows/window_object.h"

namespace {

using namespace tarvex::report;

// Writes down the bitmaps a page stretches, and where.
struct Bitmaps : Canvas {
    struct Drawn {
        Rect destination;
        int32_t width, height;
    };
    std::vector<Drawn> drawn;
    void SetWindowOrigin(int16_t, int16_t) override {}
    void SetWindowExtent(int16_t, int16_t) override {}
    void CreateFont(uint16_t, const Font&) override {}
    void CreatePen(uint16_t, const Pen&) override {}
    void CreateBrush(uint16_t, const Brush&) override {}
    void SelectObject(uint16_t) override {}
    void DeleteObject(uint16_t) override {}
    void SetTextColor(uint32_t) override {}
    void SetBackgroundMode(bool) override {}
    void SetTextAlign(uint16_t) override {}
    void Text(int16_t, int16_t, std::string_view, const Rect*) override {}
    void MoveTo(int16_t, int16_t) override {}
    void LineTo(int16_t, int16_t) override {}
    void Rectangle(const Rect&) override {}
    void StretchBitmap(const Rect& destination, const Rect&, std::span<const uint8_t> dib) override {
        int32_t width = 0, height = 0;
        if (dib.size() >= 12) {
            std::memcpy(&width, dib.data() + 4, 4);
            std::memcpy(&height, dib.data() + 8, 4);
        }
        drawn.push_back({destination, width, height});
    }
    void SaveState() override {}
    void RestoreState() override {}
    void IntersectClip(const Rect&) override {}
};

TEST(FormImage, TheClaimFormImageIsDrawnUnderEachPage) {
    std::filesystem::path folder = std::filesystem::temp_directory_path() / ("lum-form-" + std::to_string(getpid()));
    setenv("TARVEX_PRINT_FOLDER", folder.c_str(), 1);
    StorePrinterSettings(PrinterSettings{});
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
        std::optional<std::string> file = tarvex::platform::ReadWholeFile(name);
        ASSERT_TRUE(file.has_value());
        Bitmaps page;
        ASSERT_EQ(Play(std::span(reinterpret_cast<const uint8_t*>(file->data()), file->size()), page), 0);
        ASSERT_EQ(page.drawn.size(), 1u) << name;
        EXPECT_EQ(page.drawn[0].width, 1275);
        EXPECT_EQ(page.drawn[0].height, 1650);
        // The whole letter sheet at the headless printer's 600 dots per inch.
        EXPECT_EQ(page.drawn[0].destination.left, 0);
        EXPECT_EQ(page.drawn[0].destination.top, 0);
        EXPECT_EQ(page.drawn[0].destination.right, 5100);
        EXPECT_EQ(page.drawn[0].destination.bottom, 6600);
    }
    Vrn$freewindow(&report);
    std::filesystem::remove_all(folder);
    unsetenv("TARVEX_PRINT_FOLDER");
}

}  // namespace
