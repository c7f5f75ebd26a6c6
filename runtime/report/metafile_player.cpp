// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a placeable metafile back and playing its records onto a canvas. The file may come from
// anywhere (a page file on disk can be damaged or replaced), so each read is checked against the
// bytes that are there: a record is played only when all of it, and all its parameters, are.
#include <algorithm>
#include <cstring>
#include <vector>

#include "report/metafile.h"
#include "report/metafile_records.h"

namespace tarvex::report {

namespace {

// The largest record played: a stretched bitmap of a whole page at 600 dots per inch in 24-bit
// colour is about 100 MB; anything beyond is not a page of ours.
constexpr uint64_t kMostRecordBytes = 128u << 20;
// A page file's object table: far more than a report page uses, few enough to keep a hostile
// header from making the player reserve memory it does not need.
constexpr uint32_t kMostObjects = 4096;

class Reader {
  public:
    explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    size_t Size() const { return bytes_.size(); }
    bool Has(size_t at, size_t count) const { return at <= bytes_.size() && count <= bytes_.size() - at; }
    uint16_t Word(size_t at) const { return uint16_t(bytes_[at] | bytes_[at + 1] << 8); }
    uint32_t Long(size_t at) const { return uint32_t(Word(at)) | uint32_t(Word(at + 2)) << 16; }
    std::span<const uint8_t> Bytes(size_t at, size_t count) const { return bytes_.subspan(at, count); }

  private:
    std::span<const uint8_t> bytes_;
};

// One record's parameters: words read from the record's own bytes only.
class Params {
  public:
    Params(const Reader& file, size_t at, size_t bytes) : file_(file), at_(at), bytes_(bytes) {}
    size_t Words() const { return bytes_ / 2; }
    bool Enough(size_t words) const { return words <= Words(); }
    int16_t S(size_t index) const { return int16_t(file_.Word(at_ + index * 2)); }
    uint16_t U(size_t index) const { return file_.Word(at_ + index * 2); }
    uint32_t L(size_t index) const { return uint32_t(U(index)) | uint32_t(U(index + 1)) << 16; }
    std::span<const uint8_t> BytesFrom(size_t index) const {
        return file_.Bytes(at_ + index * 2, bytes_ - index * 2);
    }

  private:
    const Reader& file_;
    size_t at_;
    size_t bytes_;
};

class Player {
  public:
    Player(Canvas& canvas, uint32_t object_count) : canvas_(canvas), slots_(object_count, false) {}

    // Plays one record; false when it cannot be played.
    bool Play(uint16_t function, const Params& p) {
        switch (function) {
        case kSetMapMode:
        case kSetBkMode:
        case kSetTextAlign:
        case kSelectObject:
        case kDeleteObject:
        case kRestoreDc:
            if (!p.Enough(1))
                return false;
            break;
        default:
            break;
        }
        switch (function) {
        case kSetMapMode:
            return true; // every page is drawn in the anisotropic mode its window sets
        case kSetWindowOrg:
            if (!p.Enough(2))
                return false;
            canvas_.SetWindowOrigin(p.S(1), p.S(0));
            return true;
        case kSetWindowExt:
            if (!p.Enough(2))
                return false;
            canvas_.SetWindowExtent(p.S(1), p.S(0));
            return true;
        case kSetBkMode:
            canvas_.SetBackgroundMode(p.U(0) == kTransparent);
            return true;
        case kSetTextAlign:
            canvas_.SetTextAlign(p.U(0));
            return true;
        case kSetTextColor:
            if (!p.Enough(2))
                return false;
            canvas_.SetTextColor(p.L(0));
            return true;
        case kCreateFontIndirect: {
            if (!p.Enough(9))
                return false;
            Font font;
            font.height = p.S(0);
            font.width = p.S(1);
            font.escapement = p.S(2);
            font.weight = p.S(4);
            font.italic = (p.U(5) & 0xFF) != 0;
            font.underline = (p.U(5) >> 8) != 0;
            font.strikeout = (p.U(6) & 0xFF) != 0;
            font.charset = uint8_t(p.U(6) >> 8);
            font.pitch_and_family = uint8_t(p.U(8) >> 8);
            std::span<const uint8_t> face = p.BytesFrom(9);
            face = face.first(std::min<size_t>(face.size(), kFaceBytes));
            size_t length = 0;
            while (length < face.size() && face[length] != 0)
                length++;
            font.face.assign(reinterpret_cast<const char*>(face.data()), length);
            int32_t slot = TakeSlot();
            if (slot < 0)
                return false;
            canvas_.CreateFont(uint16_t(slot), font);
            return true;
        }
        case kCreatePenIndirect: {
            if (!p.Enough(5))
                return false;
            int32_t slot = TakeSlot();
            if (slot < 0)
                return false;
            canvas_.CreatePen(uint16_t(slot), Pen{p.U(0), p.S(1), p.L(3)});
            return true;
        }
        case kCreateBrushIndirect: {
            if (!p.Enough(4))
                return false;
            int32_t slot = TakeSlot();
            if (slot < 0)
                return false;
            canvas_.CreateBrush(uint16_t(slot), Brush{p.U(0), p.L(1), p.U(3)});
            return true;
        }
        case kSelectObject:
            // A slot that holds nothing is passed over, as a device does.
            if (p.U(0) < slots_.size() && slots_[p.U(0)])
                canvas_.SelectObject(p.U(0));
            return true;
        case kDeleteObject:
            if (p.U(0) < slots_.size() && slots_[p.U(0)]) {
                slots_[p.U(0)] = false;
                canvas_.DeleteObject(p.U(0));
            }
            return true;
        case kExtTextOut: {
            if (!p.Enough(4))
                return false;
            int16_t length = p.S(2);
            uint16_t options = p.U(3);
            size_t text_at = 4;
            Rect clip;
            bool has_rect = (options & (kTextClipped | kTextOpaque)) != 0;
            if (has_rect) {
                if (!p.Enough(8))
                    return false;
                clip = {p.S(4), p.S(5), p.S(6), p.S(7)};
                text_at = 8;
            }
            if (length < 0 || !p.Enough(text_at + (size_t(length) + 1) / 2))
                return false;
            std::span<const uint8_t> text = p.BytesFrom(text_at).first(size_t(length));
            canvas_.Text(p.S(1), p.S(0), std::string_view(reinterpret_cast<const char*>(text.data()), text.size()),
                         (options & kTextClipped) != 0 ? &clip : nullptr);
            return true;
        }
        case kMoveTo:
        case kLineTo:
            if (!p.Enough(2))
                return false;
            if (function == kMoveTo)
                canvas_.MoveTo(p.S(1), p.S(0));
            else
                canvas_.LineTo(p.S(1), p.S(0));
            return true;
        case kRectangle:
        case kIntersectClipRect: {
            if (!p.Enough(4))
                return false;
            Rect rect{p.S(3), p.S(2), p.S(1), p.S(0)};
            if (function == kRectangle)
                canvas_.Rectangle(rect);
            else
                canvas_.IntersectClip(rect);
            return true;
        }
        case kStretchDib: {
            if (!p.Enough(11))
                return false;
            std::span<const uint8_t> dib = p.BytesFrom(11);
            if (!WholeBitmap(dib))
                return false;
            Rect source{p.S(6), p.S(5), int16_t(p.S(6) + p.S(4)), int16_t(p.S(5) + p.S(3))};
            Rect destination{p.S(10), p.S(9), int16_t(p.S(10) + p.S(8)), int16_t(p.S(9) + p.S(7))};
            canvas_.StretchBitmap(destination, source, dib);
            return true;
        }
        case kSaveDc:
            canvas_.SaveState();
            return true;
        case kRestoreDc:
            canvas_.RestoreState();
            return true;
        default:
            return true; // a record the pages never hold is passed over
        }
    }

  private:
    int32_t TakeSlot() {
        auto free = std::find(slots_.begin(), slots_.end(), false);
        if (free == slots_.end())
            return -1; // the header promised fewer objects
        *free = true;
        return int32_t(free - slots_.begin());
    }

    Canvas& canvas_;
    std::vector<bool> slots_;
};

} // namespace

bool ReadPageBox(std::span<const uint8_t> bytes, PageBox* page) {
    Reader file(bytes);
    if (!file.Has(0, kPlaceableBytes + kHeaderBytes) || file.Long(0) != kPlaceableKey)
        return false;
    uint16_t checksum = 0;
    for (size_t i = 0; i < 10; i++)
        checksum ^= file.Word(i * 2);
    if (checksum != file.Word(20))
        return false;
    if (page != nullptr) {
        page->box = {int16_t(file.Word(6)), int16_t(file.Word(8)), int16_t(file.Word(10)), int16_t(file.Word(12))};
        page->units_per_inch = file.Word(14);
    }
    return true;
}

int32_t Play(std::span<const uint8_t> bytes, Canvas& canvas, PageBox* page) {
    Reader file(bytes);
    if (!ReadPageBox(bytes, page))
        return kRecordTooLarge;
    const size_t header = kPlaceableBytes;
    if (file.Word(header + 2) != kHeaderBytes / 2)
        return kRecordTooLarge;
    uint32_t object_count = file.Word(header + 10);
    if (object_count > kMostObjects)
        return kRecordTooLarge;
    Player player(canvas, object_count);
    size_t at = header + kHeaderBytes;
    while (file.Has(at, 6)) {
        uint64_t size = uint64_t(file.Long(at)) * 2;
        uint16_t function = file.Word(at + 4);
        if (size < 6 || size > kMostRecordBytes || !file.Has(at, size_t(size)))
            return kRecordTooLarge;
        if (function == kEof)
            return 0;
        if (!player.Play(function, Params(file, at + 6, size_t(size) - 6)))
            return kRecordTooLarge;
        at += size_t(size);
    }
    return kRecordTooLarge; // the file ends without its EOF record
}

bool WholeBitmap(std::span<const uint8_t> dib) {
    if (dib.size() < 40)
        return false;
    auto word = [&](size_t at) { return uint32_t(dib[at] | dib[at + 1] << 8); };
    auto dword = [&](size_t at) { return word(at) | word(at + 2) << 16; };
    uint32_t header = dword(0);
    int64_t width = int32_t(dword(4));
    int64_t height = int32_t(dword(8));
    uint32_t bit_count = word(14);
    uint32_t compression = dword(16);
    uint32_t colours_used = dword(32);
    if (header < 40 || header > dib.size() || width <= 0 || height == 0 || compression != 0)
        return false;
    if (bit_count != 1 && bit_count != 4 && bit_count != 8 && bit_count != 24 && bit_count != 32)
        return false;
    uint64_t colours = colours_used != 0 ? colours_used : (bit_count <= 8 ? 1u << bit_count : 0);
    if (bit_count <= 8 && colours > (1u << bit_count))
        return false;
    uint64_t stride = (uint64_t(width) * bit_count + 31) / 32 * 4;
    uint64_t rows = uint64_t(height < 0 ? -height : height);
    uint64_t needed = header + colours * 4 + stride * rows;
    return needed <= dib.size();
}

} // namespace tarvex::report
