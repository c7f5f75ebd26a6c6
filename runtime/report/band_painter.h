// SPDX-License-Identifier: GPL-3.0-or-later
// Drawing a band's controls onto a page: STRINGs through their pictures (or the text a computed
// value gives them), constant texts, lines, boxes and images, each at its AT position converted
// from the report's unit to printer dots. Texts are placed by their justification (left at x,
// right at x + width, centred in the width) with their tops at y, and cut off at the control's
// right edge as a form's narrow boxes require.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "report/metafile.h"
#include "windows/placement.h"
#include "windows/window_object.h"

namespace tarvex::report {

// What a control or band draws with, resolved from its own font record and those it inherits.
struct DrawStyle {
    Font font;                    // height in dots (negative: the character height)
    uint32_t colour = 0;          // text colour 0x00BBGGRR
    std::array<uint32_t, 3> cell{0, 0xFFFFFFFF, 0xFFFFFFFF};  // a box's frame and fill colours
};

// A font record's values; zeros and 0xFFFFFFFF inherit.
struct FontRecord {
    std::string face;
    uint32_t points = 0;
    uint32_t colour = 0xFFFFFFFF;
    uint32_t style = 0;
};

// The drawing attributes of a report's bands and controls. The loader keeps none of them, so
// they are read again from the report's description when it opens.
class ReportStyles {
public:
    // Reads the description of `report` (its module and structure); false when it cannot be found.
    bool Load(const VrnWindowObject& report, int32_t dpi_y);
    const DrawStyle& Of(const windows::Control& control) const;
    const DrawStyle& Of(const windows::Band& band) const;
    const DrawStyle& Report() const { return report_; }

private:
    DrawStyle report_;
    std::unordered_map<const windows::Band*, DrawStyle> bands_;
    std::unordered_map<int32_t, DrawStyle> controls_;   // by field number
    friend class StyleWalker;
};

// Images by name, loaded once per report: a bitmap resource of the program ("~NAME.BMP") or a
// file; a Windows bitmap file or a bare device-independent bitmap. Anything else draws nothing.
class ImageCache {
public:
    struct Image {
        std::vector<uint8_t> dib;
        int32_t width = 0;
        int32_t height = 0;
        bool Valid() const { return width > 0; }
    };
    const Image& Find(const std::string& name);

private:
    std::map<std::string, Image> images_;
};

// A whole device-independent bitmap (WholeBitmap) that a page can carry; gives its size in pixels.
bool CheckDib(std::span<const uint8_t> dib, int32_t* width, int32_t* height);

// A band's height in dots from its controls (for a band whose AT gives none).
int32_t BandContentHeight(const windows::Band& band, const windows::UnitScale& scale, uint32_t unit_bits);

class BandPainter {
public:
    // `text_of` gives a STRING's shown text (its picture applied, or its computed value).
    BandPainter(Recorder& page, const windows::UnitScale& scale, uint32_t unit_bits, const ReportStyles& styles,
                ImageCache& images, std::function<std::string(const windows::Control&)> text_of)
        : page_(page), scale_(scale), unit_(unit_bits), styles_(styles), images_(images), text_of_(std::move(text_of)) {}

    // Draws the band's controls with the band's top left corner at (x, y) in dots.
    void Draw(const windows::Band& band, int32_t x, int32_t y);

private:
    int32_t Dots(int32_t value, windows::Axis axis) const;
    void DrawText(const windows::Control& control, const DrawStyle& style, int32_t x, int32_t y, int32_t width,
                  int32_t height, const std::string& text);
    uint16_t FontSlot(const Font& font);

    Recorder& page_;
    windows::UnitScale scale_;
    uint32_t unit_;
    const ReportStyles& styles_;
    ImageCache& images_;
    std::function<std::string(const windows::Control&)> text_of_;
    std::vector<std::pair<Font, uint16_t>> fonts_;
};

} // namespace tarvex::report
