// SPDX-License-Identifier: GPL-3.0-or-later
// What the report tests share: the claim-shaped report of report_tests.dsc with its variables, a
// queue of page-file names, and a canvas that writes down what a page holds.
#pragma once

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "core/picture.h"
#include "report/metafile.h"
#include "report/printer.h"
#include "report/report_engine.h"
#include "tarvex/decimal.h"
#include "tarvex/queue.h"
#include "tarvex/reports.h"
#include "tarvex/windows.h"
#include "windows/window_object.h"

namespace tarvex::report::testing {

constexpr const char* kModule = "LUMAREX$REPTEST";

inline void SetText(char* field, size_t size, const std::string& text) {
    std::memset(field, ' ', size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

// DECIMAL(digits, places) variables are digits / 2 + 1 bytes.
inline void SetDecimal(void* field, uint32_t bytes, uint32_t places, const char* value) {
    Vrn$DPushCString(value);
    Vrn$DPopDec(field, bytes, places);
}

// Every test prints into a folder of its own (the headless printer's), starting from the default
// printer settings.
class PrintFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("lum-report-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        setenv("TARVEX_PRINT_FOLDER", folder_.c_str(), 1);
        StorePrinterSettings(PrinterSettings{});
    }
    void TearDown() override {
        StorePrinterSettings(PrinterSettings{});
        std::filesystem::remove_all(folder_);
        unsetenv("TARVEX_PRINT_FOLDER");
    }
    std::filesystem::path folder_;
};

// A queue of page-file names: one STRING(255).
struct PageQueue {
    char buffer[255];
    VrnFieldDesc field{"PQ:NAME", nullptr, 0, 255, 1, 0, VRN_TYPE_STRING, 0};
    VrnTypeDesc type{"Pages", "PQ", 255, 1, &field};
    QueueDecl decl{buffer, &type, nullptr, 255};
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (int32_t i = 1; i <= Vrn$RECORDSqueue(&decl); i++) {
            Vrn$GETqueueptr(&decl, i);
            std::string name(buffer, sizeof buffer);
            names.push_back(name.substr(0, name.find_last_not_of(' ') + 1));
        }
        return names;
    }
    ~PageQueue() { Vrn$FREEqueue(&decl); }
};

// The claim-shaped report: a patient name and a date in the header, a procedure code, a fee and
// an emergency mark per line, the page's total of the fees in the footer.
struct ClaimReport {
    char name[28];
    char birth[8];
    char code[7];
    uint8_t fee[5];        // DECIMAL(9,2)
    char emergency[2];
    uint8_t total[6];      // DECIMAL(11,2)
    VrnWindowObject* report = nullptr;

    // `preview`: the queue the report is declared with, after its bound variables.
    explicit ClaimReport(QueueDecl* preview = nullptr) {
        SetText(name, sizeof name, "DOE JANE");
        SetText(birth, sizeof birth, "19610427");
        SetText(code, sizeof code, "");
        SetText(emergency, sizeof emergency, "");
        SetDecimal(fee, sizeof fee, 2, "0");
        SetDecimal(total, sizeof total, 2, "0");
        Vrn$propen(&report, kModule, "P1$CLAIM", name, birth, code, fee, emergency, total, fee, preview, nullptr);
    }
    ~ClaimReport() { Vrn$freewindow(&report); }
    // Line n: code 9921n (as text), fee n x 10.25.
    void PrintLine(int n) {
        SetText(code, sizeof code, "992" + std::to_string(10 + n));
        std::string amount = std::to_string(n * 1025 / 100) + "." + std::to_string(n * 1025 % 100 / 10) +
                             std::to_string(n * 1025 % 10);
        SetDecimal(fee, sizeof fee, 2, amount.c_str());
        SetText(emergency, sizeof emergency, n % 2 == 0 ? "Y" : "");
        Vrn$PRINTreport(report, 15);
    }
};

// The page number as the page-number picture shows it.
inline std::string PageText(int page) {
    std::string text = FormatLong("pPage <<<#p", page);
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// What a page holds, as the player hands it out.
struct PageContents : Canvas {
    struct Shown {
        int x, y;
        uint16_t align;
        std::string text;
        bool clipped;
        Rect clip;
    };
    std::vector<Shown> texts;
    int bitmaps = 0;
    struct Bitmap {
        Rect destination;
        int32_t width = 0, height = 0;   // as the bitmap's header gives them
    };
    std::vector<Bitmap> bitmap_places;
    int lines = 0;
    int rectangles = 0;
    int16_t origin_x = 0, origin_y = 0, extent_x = 0, extent_y = 0;
    uint16_t align = 0;
    int font_height = 0;
    std::vector<int> selected_heights;
    std::vector<Font> fonts_by_slot = std::vector<Font>(64);

    void SetWindowOrigin(int16_t x, int16_t y) override { origin_x = x, origin_y = y; }
    void SetWindowExtent(int16_t w, int16_t h) override { extent_x = w, extent_y = h; }
    void CreateFont(uint16_t slot, const Font& f) override {
        if (slot < fonts_by_slot.size())
            fonts_by_slot[slot] = f;
    }
    void CreatePen(uint16_t, const Pen&) override {}
    void CreateBrush(uint16_t, const Brush&) override {}
    void SelectObject(uint16_t slot) override {
        if (slot < fonts_by_slot.size() && !fonts_by_slot[slot].face.empty())
            font_height = fonts_by_slot[slot].height;
    }
    void DeleteObject(uint16_t slot) override {
        if (slot < fonts_by_slot.size())
            fonts_by_slot[slot] = Font{};
    }
    void SetTextColor(uint32_t) override {}
    void SetBackgroundMode(bool) override {}
    void SetTextAlign(uint16_t a) override { align = a; }
    void Text(int16_t x, int16_t y, std::string_view text, const Rect* clip) override {
        texts.push_back({x, y, align, std::string(text), clip != nullptr, clip != nullptr ? *clip : Rect{}});
        selected_heights.push_back(font_height);
    }
    void MoveTo(int16_t, int16_t) override {}
    void LineTo(int16_t, int16_t) override { lines++; }
    void Rectangle(const Rect&) override { rectangles++; }
    void StretchBitmap(const Rect& destination, const Rect&, std::span<const uint8_t> dib) override {
        bitmaps++;
        Bitmap placed{destination};
        if (dib.size() >= 12) {
            std::memcpy(&placed.width, dib.data() + 4, 4);
            std::memcpy(&placed.height, dib.data() + 8, 4);
        }
        bitmap_places.push_back(placed);
    }
    void SaveState() override {}
    void RestoreState() override {}
    void IntersectClip(const Rect&) override {}

    const Shown* Find(const std::string& text) const {
        for (const Shown& t : texts)
            if (t.text == text)
                return &t;
        return nullptr;
    }
    // The last text drawn with these characters (a footer is drawn after the lines).
    const Shown* FindLast(const std::string& text) const {
        for (auto t = texts.rbegin(); t != texts.rend(); ++t)
            if (t->text == text)
                return &*t;
        return nullptr;
    }
    std::vector<std::string> All() const {
        std::vector<std::string> all;
        for (const Shown& t : texts)
            all.push_back(t.text);
        return all;
    }
};

inline PageContents Contents(const std::string& file, int32_t* code = nullptr) {
    PageContents page;
    int32_t result = Play(std::span(reinterpret_cast<const uint8_t*>(file.data()), file.size()), page);
    if (code != nullptr)
        *code = result;
    return page;
}

} // namespace tarvex::report::testing
