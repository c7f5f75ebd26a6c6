// SPDX-License-Identifier: GPL-3.0-or-later
// A band's controls onto a page recorder.
#include "report/band_painter.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "tarvex/resources.h"
#include "windows/description.h"
#include "windows/resources.h"

namespace tarvex::report {

using windows::Axis;
using windows::Band;
using windows::Control;
using windows::FieldType;
using windows::Kind;
using windows::Record;

namespace {

constexpr uint32_t kJustifyMask = 0x1c;
constexpr uint32_t kJustifyRight = 0x08;
constexpr uint32_t kJustifyDecimal = 0x0c;
constexpr uint32_t kJustifyCenter = 0x10;
constexpr uint32_t kHidden = 0x400;
constexpr uint32_t kInherit = 0xFFFFFFFF;

constexpr uint8_t Code(Kind kind) { return static_cast<uint8_t>(kind); }

FontRecord FontOf(const Record& record) {
    FontRecord font;
    if (const windows::FieldValue* value = record.Find(FieldType::Font); value != nullptr && value->present) {
        if (value->text_present)
            font.face = value->text;
        font.points = value->numbers[0];
        font.colour = value->numbers[1];
        font.style = value->numbers[2];
    }
    return font;
}

// A font record over what it inherits: each value given replaces the inherited one.
DrawStyle Inherit(const DrawStyle& base, const FontRecord& own, int32_t dpi_y) {
    DrawStyle style = base;
    if (!own.face.empty())
        style.font.face = own.face.substr(0, 31);
    if (own.points != 0)
        style.font.height = int16_t(-int32_t((int64_t(own.points) * dpi_y + 36) / 72));
    if (own.colour != kInherit)
        style.colour = own.colour;
    if (own.style != 0) {
        style.font.weight = int16_t(own.style & 0x3FF);
        style.font.italic = (own.style & 0x1000) != 0;
        style.font.underline = (own.style & 0x2000) != 0;
        style.font.strikeout = (own.style & 0x4000) != 0;
    }
    return style;
}

} // namespace

// Walks the description beside the built bands: bands in the order the loader built them,
// controls by their field numbers (unique within a report).
class StyleWalker {
public:
    StyleWalker(ReportStyles& styles, int32_t dpi_y) : styles_(styles), dpi_y_(dpi_y) {}

    void Bands(const Record& parent, const std::vector<std::unique_ptr<Band>>& bands, const DrawStyle& inherited) {
        size_t next = 0;
        for (const Record& child : parent.children) {
            if (child.spec == nullptr || child.spec->role != windows::Role::Band)
                continue;
            if (next >= bands.size() || bands[next]->kind != child.code)
                return;   // the description no longer matches what was built: keep the defaults
            const Band& band = *bands[next++];
            DrawStyle style = Inherit(inherited, FontOf(child), dpi_y_);
            styles_.bands_[&band] = style;
            if (child.code == Code(Kind::BandGroup))
                Bands(child, band.bands, inherited);
            else
                Controls(child, style);
        }
    }

private:
    void Controls(const Record& parent, const DrawStyle& band_style) {
        for (const Record& child : parent.children) {
            if (child.spec == nullptr || child.spec->role != windows::Role::Control)
                continue;
            DrawStyle style = Inherit(band_style, FontOf(child), dpi_y_);
            if (const windows::FieldValue* cell = child.Find(FieldType::Cell); cell != nullptr && cell->present)
                style.cell = {cell->numbers[0], cell->numbers[1], cell->numbers[2]};
            styles_.controls_[int32_t(child.NumberAt(0x0d))] = style;
            Controls(child, style);
        }
    }

    ReportStyles& styles_;
    int32_t dpi_y_;
};

bool ReportStyles::Load(const VrnWindowObject& report, int32_t dpi_y) {
    report_ = DrawStyle{};
    report_.font.face = "Arial";
    report_.font.height = int16_t(-int32_t((int64_t(10) * dpi_y + 36) / 72));
    bands_.clear();
    controls_.clear();
    windows::FoundResource found = windows::FindModuleDescriptions(report.module);
    std::string_view embedded;
    std::span<const uint8_t> dump;
    if (found.module == nullptr || !windows::SplitResource(found.bytes, embedded, dump))
        return false;
    Record record;
    std::string error;
    if (!windows::DecodeStructure(dump, report.structure, record, error))
        return false;
    report_ = Inherit(report_, FontOf(record), dpi_y);
    StyleWalker(*this, dpi_y).Bands(record, report.bands, report_);
    return true;
}

const DrawStyle& ReportStyles::Of(const Control& control) const {
    auto found = controls_.find(control.field_number);
    return found != controls_.end() ? found->second : report_;
}

const DrawStyle& ReportStyles::Of(const Band& band) const {
    auto found = bands_.find(&band);
    return found != bands_.end() ? found->second : report_;
}

bool CheckDib(std::span<const uint8_t> dib, int32_t* width, int32_t* height) {
    if (!WholeBitmap(dib))
        return false;
    auto u32 = [&](size_t at) { return uint32_t(dib[at] | dib[at + 1] << 8 | dib[at + 2] << 16 | uint32_t(dib[at + 3]) << 24); };
    int64_t w = int32_t(u32(4));
    int64_t h = int32_t(u32(8));
    h = h < 0 ? -h : h;
    // The source rectangle of a page's bitmap record is 16-bit.
    if (w > 32767 || h > 32767)
        return false;
    *width = int32_t(w);
    *height = int32_t(h);
    return true;
}

const ImageCache::Image& ImageCache::Find(const std::string& name) {
    auto found = images_.find(name);
    if (found != images_.end())
        return found->second;
    Image& image = images_[name];
    std::vector<uint8_t> bytes;
    uint32_t size = 0;
    if (const void* resource = WslUtil$LoadNamedResource(name.c_str(), "BITMAP", &size); resource != nullptr) {
        const auto* first = static_cast<const uint8_t*>(resource);
        bytes.assign(first, first + size);
        WslUtil$FreeResourcePtr(resource);
    } else if (!name.empty() && name[0] != '~') {
        std::string path = platform::ResolveFileName(name);
        if (auto contents = path.empty() ? std::nullopt : platform::ReadWholeFile(path))
            bytes.assign(contents->begin(), contents->end());
    }
    // A bitmap file carries the bitmap after its 14-byte file header.
    size_t start = bytes.size() >= 14 && bytes[0] == 'B' && bytes[1] == 'M' ? 14 : 0;
    std::span<const uint8_t> dib(bytes.data() + start, bytes.size() - start);
    if (CheckDib(dib, &image.width, &image.height))
        image.dib.assign(dib.begin(), dib.end());
    else
        image.width = image.height = 0;
    return image;
}

int32_t BandPainter::Dots(int32_t value, Axis axis) const {
    return windows::ToPixels(value, unit_, axis, scale_);
}

int32_t BandContentHeight(const Band& band, const windows::UnitScale& scale, uint32_t unit_bits) {
    int32_t bottom = 0;
    for (const auto& control : band.controls) {
        int32_t y = windows::ToPixels(control->at[1], unit_bits, Axis::Vertical, scale);
        int32_t h = windows::ToPixels(control->at[3], unit_bits, Axis::Vertical, scale);
        bottom = std::max(bottom, y + h);
    }
    return bottom;
}

uint16_t BandPainter::FontSlot(const Font& font) {
    for (const auto& [known, slot] : fonts_)
        if (known == font)
            return slot;
    uint16_t slot = page_.AddFont(font);
    fonts_.emplace_back(font, slot);
    return slot;
}

void BandPainter::DrawText(const Control& control, const DrawStyle& style, int32_t x, int32_t y, int32_t width,
                           int32_t height, const std::string& text) {
    size_t end = text.find_last_not_of(' ');
    if (end == std::string::npos)
        return;
    std::string_view shown(text.data(), end + 1);
    uint32_t justify = control.flags & kJustifyMask;
    uint16_t align = kAlignLeft;
    int32_t at = x;
    if (justify == kJustifyRight || justify == kJustifyDecimal || justify == kJustifyCenter) {
        // Right and centred texts are placed by their visible characters.
        shown.remove_prefix(std::min(shown.find_first_not_of(' '), shown.size()));
        align = justify == kJustifyCenter ? kAlignCenter : kAlignRight;
        at = justify == kJustifyCenter ? x + width / 2 : x + width;
    }
    page_.SelectObject(FontSlot(style.font));
    page_.SetTextColor(style.colour == kInherit ? 0 : style.colour);
    page_.SetTextAlign(uint16_t(align | kAlignTop));
    if (width > 0) {
        // Cut at the control's sides; downwards the text keeps at least its own height.
        int32_t character = style.font.height < 0 ? -style.font.height : style.font.height;
        Rect clip{int16_t(x), int16_t(y), int16_t(x + width), int16_t(y + std::max(height, character * 3 / 2))};
        page_.Text(int16_t(at), int16_t(y), shown, &clip);
    } else {
        page_.Text(int16_t(at), int16_t(y), shown);
    }
}

void BandPainter::Draw(const Band& band, int32_t origin_x, int32_t origin_y) {
    for (const auto& owned : band.controls) {
        const Control& control = *owned;
        if ((control.flags & kHidden) != 0)
            continue;
        auto value = [&](int index) { return control.at[size_t(index)] == windows::kNotGiven ? 0 : control.at[size_t(index)]; };
        int32_t x = origin_x + Dots(value(0), Axis::Horizontal);
        int32_t y = origin_y + Dots(value(1), Axis::Vertical);
        int32_t width = Dots(value(2), Axis::Horizontal);
        int32_t height = Dots(value(3), Axis::Vertical);
        const DrawStyle& style = styles_.Of(control);
        switch (static_cast<Kind>(control.kind)) {
        case Kind::StringVar:
            DrawText(control, style, x, y, width, height, text_of_(control));
            break;
        case Kind::StringText:
            DrawText(control, style, x, y, width, height, control.text);
            break;
        case Kind::Line: {
            int32_t pen_width = std::max(1, scale_.dpi_x / 150);
            uint16_t pen = page_.AddPen({0, int16_t(pen_width), 0});
            page_.SelectObject(pen);
            page_.MoveTo(int16_t(x), int16_t(y));
            page_.LineTo(int16_t(x + width), int16_t(y + height));
            page_.DeleteObject(pen);
            break;
        }
        case Kind::Box:
        case Kind::Graphic07: {
            uint32_t frame = style.cell[0];
            uint32_t fill = style.cell[1];
            uint16_t pen = page_.AddPen(frame == kInherit ? Pen{5, 0, 0} : Pen{0, int16_t(std::max(1, scale_.dpi_x / 150)), frame});
            uint16_t brush = page_.AddBrush(fill == kInherit ? Brush{1, 0, 0} : Brush{0, fill, 0});
            page_.SelectObject(pen);
            page_.SelectObject(brush);
            page_.Rectangle({int16_t(x), int16_t(y), int16_t(x + width), int16_t(y + height)});
            page_.DeleteObject(brush);
            page_.DeleteObject(pen);
            break;
        }
        case Kind::Image: {
            const ImageCache::Image& image = images_.Find(control.text);
            if (!image.Valid())
                break;
            if (width == 0)
                width = image.width;
            if (height == 0)
                height = image.height;
            page_.StretchBitmap({int16_t(x), int16_t(y), int16_t(x + width), int16_t(y + height)},
                                {0, 0, int16_t(image.width), int16_t(image.height)}, image.dib);
            break;
        }
        default:
            break;   // other kinds have nothing to print
        }
    }
    for (const auto& [font, slot] : fonts_)
        page_.DeleteObject(slot);
    fonts_.clear();
}

} // namespace tarvex::report
