// SPDX-License-Identifier: GPL-3.0-or-later
// Page files: what the recorder writes, byte for byte where the format fixes it, what the player
// reads back, how it refuses damaged files, and an outside reader of metafiles as the judge.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "report/metafile.h"

namespace tarvex::report {
namespace {

// Writes down every call, one line each, so a page reads as its drawing.
class LoggingCanvas : public Canvas {
  public:
    std::vector<std::string> lines;

    void Log(const std::string& line) { lines.push_back(line); }
    static std::string R(const Rect& r) {
        return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
               std::to_string(r.bottom);
    }
    void SetWindowOrigin(int16_t x, int16_t y) override { Log("origin " + P(x, y)); }
    void SetWindowExtent(int16_t w, int16_t h) override { Log("extent " + P(w, h)); }
    void CreateFont(uint16_t slot, const Font& f) override {
        Log("font " + std::to_string(slot) + " " + f.face + " " + std::to_string(f.height) + " w" +
            std::to_string(f.weight) + (f.italic ? " italic" : "") + (f.underline ? " underline" : ""));
    }
    void CreatePen(uint16_t slot, const Pen& p) override {
        Log("pen " + std::to_string(slot) + " " + std::to_string(p.style) + " " + std::to_string(p.width) + " " +
            Hex(p.color));
    }
    void CreateBrush(uint16_t slot, const Brush& b) override {
        Log("brush " + std::to_string(slot) + " " + std::to_string(b.style) + " " + Hex(b.color));
    }
    void SelectObject(uint16_t slot) override { Log("select " + std::to_string(slot)); }
    void DeleteObject(uint16_t slot) override { Log("delete " + std::to_string(slot)); }
    void SetTextColor(uint32_t color) override { Log("text colour " + Hex(color)); }
    void SetBackgroundMode(bool transparent) override { Log(transparent ? "transparent" : "opaque"); }
    void SetTextAlign(uint16_t align) override { Log("align " + std::to_string(align)); }
    void Text(int16_t x, int16_t y, std::string_view text, const Rect* clip) override {
        Log("text " + P(x, y) + " '" + std::string(text) + "'" + (clip ? " clip " + R(*clip) : ""));
    }
    void MoveTo(int16_t x, int16_t y) override { Log("move " + P(x, y)); }
    void LineTo(int16_t x, int16_t y) override { Log("line " + P(x, y)); }
    void Rectangle(const Rect& r) override { Log("rectangle " + R(r)); }
    void StretchBitmap(const Rect& d, const Rect& s, std::span<const uint8_t> dib) override {
        Log("bitmap " + R(d) + " from " + R(s) + " " + std::to_string(dib.size()) + " bytes");
    }
    void SaveState() override { Log("save"); }
    void RestoreState() override { Log("restore"); }
    void IntersectClip(const Rect& r) override { Log("clip " + R(r)); }

  private:
    static std::string P(int a, int b) { return std::to_string(a) + "," + std::to_string(b); }
    static std::string Hex(uint32_t v) {
        char text[16];
        std::snprintf(text, sizeof text, "%06X", v);
        return text;
    }
};

std::span<const uint8_t> Bytes(const std::string& file) {
    return {reinterpret_cast<const uint8_t*>(file.data()), file.size()};
}

// A 2 x 2 bitmap of 24-bit colour: info header and two padded rows.
std::vector<uint8_t> SmallBitmap() {
    std::vector<uint8_t> dib(40 + 2 * 8, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; i++)
            dib[at + i] = uint8_t(v >> (8 * i));
    };
    put32(0, 40);
    put32(4, 2);
    put32(8, 2);
    dib[12] = 1;  // planes
    dib[14] = 24; // bits per pixel
    for (size_t i = 40; i < dib.size(); i++)
        dib[i] = uint8_t(i * 7);
    return dib;
}

// A claim-like page: the window, a font, a boxed and a clipped text, a line, a bitmap.
std::string SamplePage(const std::vector<uint8_t>& dib) {
    Recorder page;
    page.SetWindowOrigin(0, 0);
    page.SetWindowExtent(5100, 6600);
    uint16_t font = page.AddFont({"Arial", -42, 0, 0, 700, false, true, false, 0, 0});
    uint16_t pen = page.AddPen({0, 3, 0x000000FF});
    page.SelectObject(font);
    page.SelectObject(pen);
    page.SetBackgroundMode(true);
    page.SetTextAlign(kAlignLeft | kAlignTop);
    page.SetTextColor(0x00112233);
    page.Text(300, 450, "SMITH, JOHN Q");
    Rect clip{100, 200, 900, 260};
    page.Text(120, 210, "125.00", &clip);
    page.MoveTo(0, 1000);
    page.LineTo(5100, 1000);
    page.Rectangle({10, 20, 30, 40});
    page.StretchBitmap({0, 0, 5100, 6600}, {0, 0, 2, 2}, dib);
    page.SaveState();
    page.IntersectClip({1, 2, 3, 4});
    page.RestoreState();
    page.DeleteObject(font);
    return page.Finish({0, 0, 5100, 6600}, 600);
}

TEST(Metafile, RecordedPagePlaysBackCallForCall) {
    std::vector<uint8_t> dib = SmallBitmap();
    std::string file = SamplePage(dib);
    LoggingCanvas canvas;
    PageBox box;
    ASSERT_EQ(Play(Bytes(file), canvas, &box), 0);
    EXPECT_EQ(box.box, (Rect{0, 0, 5100, 6600}));
    EXPECT_EQ(box.units_per_inch, 600);
    const std::vector<std::string> expected = {
        "origin 0,0",
        "extent 5100,6600",
        "font 0 Arial -42 w700 underline",
        "pen 1 0 3 0000FF",
        "select 0",
        "select 1",
        "transparent",
        "align 0",
        "text colour 112233",
        "text 300,450 'SMITH, JOHN Q'",
        "text 120,210 '125.00' clip 100,200,900,260",
        "move 0,1000",
        "line 5100,1000",
        "rectangle 10,20,30,40",
        "bitmap 0,0,5100,6600 from 0,0,2,2 56 bytes",
        "save",
        "clip 1,2,3,4",
        "restore",
        "delete 0",
    };
    EXPECT_EQ(canvas.lines, expected);
}

TEST(Metafile, HeadersAreTheStandardOnes) {
    Recorder page;
    page.Text(1, 2, "odd"); // three bytes, padded to four
    std::string file = page.Finish({0, 0, 8500, 11000}, 1000);
    auto word = [&](size_t at) { return unsigned(uint8_t(file[at]) | uint8_t(file[at + 1]) << 8); };
    auto dword = [&](size_t at) { return word(at) | word(at + 2) << 16; };
    EXPECT_EQ(dword(0), 0x9AC6CDD7u);
    EXPECT_EQ(word(4), 0u);                               // handle
    EXPECT_EQ(word(10), 8500u);                           // right
    EXPECT_EQ(word(12), 11000u);                          // bottom
    EXPECT_EQ(word(14), 1000u);                           // units per inch
    unsigned checksum = 0;
    for (size_t i = 0; i < 10; i++)
        checksum ^= word(i * 2);
    EXPECT_EQ(word(20), checksum);
    EXPECT_EQ(word(22), 1u);      // a memory metafile
    EXPECT_EQ(word(24), 9u);      // header of nine words
    EXPECT_EQ(word(26), 0x300u);  // version
    EXPECT_EQ(dword(28) * 2, file.size() - 22); // the size in words, headers and EOF included
    // SETMAPMODE (4 words), EXTTEXTOUT (3 + 4 + 2 words), EOF (3 words).
    EXPECT_EQ(file.size(), 22u + 18u + 8u + 18u + 6u);
    EXPECT_EQ(dword(34), 9u);     // the largest record
    EXPECT_EQ(file.substr(file.size() - 6), std::string("\x03\0\0\0\0\0", 6));
}

// Objects take the lowest free slot, in the recorder and in the player alike.
TEST(Metafile, ObjectSlotsAreReused) {
    Recorder page;
    EXPECT_EQ(page.AddPen({}), 0);
    EXPECT_EQ(page.AddBrush({}), 1);
    EXPECT_EQ(page.AddPen({}), 2);
    page.DeleteObject(1);
    EXPECT_EQ(page.AddFont({"Arial"}), 1);
    LoggingCanvas canvas;
    std::string file = page.Finish({0, 0, 10, 10}, 96);
    ASSERT_EQ(Play(Bytes(file), canvas), 0);
    EXPECT_EQ(canvas.lines.back(), "font 1 Arial 0 w400");
}

// A band drawn once is placed on a page: moved by its offset, its objects in the page's own slots
// and deleted after it, so a page of many bands keeps a small table.
TEST(Metafile, BandsReplayIntoAPageMovedAndWithTheirOwnSlots) {
    Recorder band;
    uint16_t font = band.AddFont({"Arial Narrow", -30});
    band.SelectObject(font);
    Rect clip{0, 0, 500, 40};
    band.Text(10, 5, "99213", &clip);
    std::string band_file = band.Finish({0, 0, 500, 40}, 600);

    Recorder page;
    uint16_t page_font = page.AddFont({"Arial", -42});
    for (int16_t row = 0; row < 3; row++) {
        RecordingCanvas place(page, 100, int16_t(1000 + row * 40));
        ASSERT_EQ(Play(Bytes(band_file), place), 0);
    }
    page.SelectObject(page_font);
    LoggingCanvas canvas;
    ASSERT_EQ(Play(Bytes(page.Finish({0, 0, 5100, 6600}, 600)), canvas), 0);
    const std::vector<std::string> expected = {
        "font 0 Arial -42 w400",
        "font 1 Arial Narrow -30 w400", "select 1", "text 110,1005 '99213' clip 100,1000,600,1040", "delete 1",
        "font 1 Arial Narrow -30 w400", "select 1", "text 110,1045 '99213' clip 100,1040,600,1080", "delete 1",
        "font 1 Arial Narrow -30 w400", "select 1", "text 110,1085 '99213' clip 100,1080,600,1120", "delete 1",
        "select 0",
    };
    EXPECT_EQ(canvas.lines, expected);
}

// A damaged page file is refused with 523 wherever it is cut or spoiled, and never read past.
TEST(Metafile, DamagedFilesGive523) {
    std::vector<uint8_t> dib = SmallBitmap();
    const std::string file = SamplePage(dib);
    for (size_t length = 0; length < file.size(); length++) {
        std::vector<uint8_t> cut(file.begin(), file.begin() + std::ptrdiff_t(length)); // exact size for ASan
        LoggingCanvas canvas;
        EXPECT_EQ(Play(cut, canvas), kRecordTooLarge) << length;
    }
    struct Case {
        const char* what;
        size_t at;
        std::string bytes;
    } cases[] = {
        {"key", 0, "\x01"},
        {"checksum", 20, "\x55\x55"},
        {"header size", 24, std::string("\x08\x00", 2)},
        {"record size zero", 40, std::string("\x00\x00\x00\x00", 4)},
        {"record past the end", 40, std::string("\xFF\xFF\x00\x00", 4)},
        {"record of a gigabyte", 40, std::string("\x00\x00\x00\x20", 4)},
        {"object table of none", 32, std::string("\x00\x00", 2)},
    };
    for (const Case& c : cases) {
        std::string spoiled = file;
        spoiled.replace(c.at, c.bytes.size(), c.bytes);
        LoggingCanvas canvas;
        EXPECT_EQ(Play(Bytes(spoiled), canvas), kRecordTooLarge) << c.what;
    }
    // A bitmap whose bits are not all there, and a text longer than its record.
    std::vector<uint8_t> short_dib = dib;
    short_dib[8] = 200; // 200 rows claimed, two given
    Recorder page;
    page.StretchBitmap({0, 0, 10, 10}, {0, 0, 2, 2}, short_dib);
    LoggingCanvas canvas;
    EXPECT_EQ(Play(Bytes(page.Finish({0, 0, 10, 10}, 96)), canvas), kRecordTooLarge);
    EXPECT_TRUE(canvas.lines.empty());
    Recorder text_page;
    text_page.Text(0, 0, "four");
    std::string text_file = text_page.Finish({0, 0, 10, 10}, 96);
    text_file[22 + 18 + 8 + 6 + 4] = 100; // the text's length, far past its record
    EXPECT_EQ(Play(Bytes(text_file), canvas), kRecordTooLarge);
}

// The outside judge: a metafile reader of another make converts our page and finds its texts.
TEST(Metafile, AnOutsideReaderConvertsThePage) {
    if (std::system("command -v wmf2svg >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "wmf2svg (libwmf-bin) is not installed";
    std::vector<uint8_t> dib = SmallBitmap();
    const std::string file = SamplePage(dib);
    std::filesystem::path folder = std::filesystem::temp_directory_path() / "lum-metafile-test";
    std::filesystem::create_directories(folder);
    std::filesystem::path page = folder / "page.wmf";
    std::ofstream(page, std::ios::binary) << file;
    std::string command = "wmf2svg -o '" + (folder / "page.svg").string() + "' '" + page.string() + "' 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string messages;
    char buffer[256];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr)
        messages += buffer;
    int status = pclose(pipe.release());
    EXPECT_EQ(status, 0) << messages;
    std::stringstream svg;
    svg << std::ifstream(folder / "page.svg").rdbuf();
    EXPECT_NE(svg.str().find("SMITH, JOHN Q"), std::string::npos);
    EXPECT_NE(svg.str().find("125.00"), std::string::npos);
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace tarvex::report
