// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the page-file player: arbitrary bytes are played onto a canvas that reads every byte it
// is handed (texts, bitmaps, fonts' faces), so a span reaching past the file is caught by the
// sanitizer. The seeds are recorded pages.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "report/metafile.h"

namespace {

using namespace tarvex::report;

class TouchingCanvas : public Canvas {
  public:
    uint32_t sum = 0;
    void Touch(std::span<const uint8_t> bytes) {
        for (uint8_t b : bytes)
            sum += b;
    }
    void SetWindowOrigin(int16_t, int16_t) override {}
    void SetWindowExtent(int16_t, int16_t) override {}
    void CreateFont(uint16_t, const Font& font) override {
        Touch({reinterpret_cast<const uint8_t*>(font.face.data()), font.face.size()});
    }
    void CreatePen(uint16_t, const Pen&) override {}
    void CreateBrush(uint16_t, const Brush&) override {}
    void SelectObject(uint16_t) override {}
    void DeleteObject(uint16_t) override {}
    void SetTextColor(uint32_t) override {}
    void SetBackgroundMode(bool) override {}
    void SetTextAlign(uint16_t) override {}
    void Text(int16_t, int16_t, std::string_view text, const Rect*) override {
        Touch({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
    }
    void MoveTo(int16_t, int16_t) override {}
    void LineTo(int16_t, int16_t) override {}
    void Rectangle(const Rect&) override {}
    void StretchBitmap(const Rect&, const Rect&, std::span<const uint8_t> dib) override { Touch(dib); }
    void SaveState() override {}
    void RestoreState() override {}
    void IntersectClip(const Rect&) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TouchingCanvas canvas;
    int32_t code = Play({data, size}, canvas);
    if (code != 0 && code != kRecordTooLarge)
        __builtin_trap();
    return 0;
}
