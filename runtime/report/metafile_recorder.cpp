// SPDX-License-Identifier: GPL-3.0-or-later
// Writing metafile records: each drawing call becomes one record of 16-bit little-endian words;
// Finish puts the placeable header and the metafile header in front and the EOF record behind.
#include <algorithm>
#include <cassert>

#include "report/metafile.h"
#include "report/metafile_records.h"

namespace tarvex::report {

namespace {

void PutWord(std::string& out, uint16_t word) {
    out += char(word & 0xFF);
    out += char(word >> 8);
}

void PutLong(std::string& out, uint32_t value) {
    PutWord(out, uint16_t(value & 0xFFFF));
    PutWord(out, uint16_t(value >> 16));
}

int16_t Low(uint32_t value) {
    return int16_t(value & 0xFFFF);
}
int16_t High(uint32_t value) {
    return int16_t(value >> 16);
}


} // namespace

Recorder::Recorder() {
    const int16_t anisotropic[] = {kMapAnisotropic};
    Record(kSetMapMode, anisotropic);
}

// Bytes (text, a bitmap) go into the record as they are, padded with a zero to whole words.
void Recorder::Record(uint16_t function, std::span<const int16_t> words, std::string_view bytes) {
    uint32_t size = uint32_t(3 + words.size() + (bytes.size() + 1) / 2);
    PutLong(records_, size);
    PutWord(records_, function);
    for (int16_t word : words)
        PutWord(records_, uint16_t(word));
    records_ += bytes;
    if (bytes.size() % 2 != 0)
        records_ += '\0';
    largest_record_ = std::max(largest_record_, size);
}

uint16_t Recorder::TakeSlot() {
    auto free = std::find(slots_.begin(), slots_.end(), false);
    if (free != slots_.end()) {
        *free = true;
        return uint16_t(free - slots_.begin());
    }
    slots_.push_back(true);
    return uint16_t(slots_.size() - 1);
}

void Recorder::SetWindowOrigin(int16_t x, int16_t y) {
    const int16_t words[] = {y, x};
    Record(kSetWindowOrg, words);
}

void Recorder::SetWindowExtent(int16_t width, int16_t height) {
    const int16_t words[] = {height, width};
    Record(kSetWindowExt, words);
}

uint16_t Recorder::AddFont(const Font& font) {
    const int16_t words[] = {font.height,
                             font.width,
                             font.escapement,
                             font.escapement, // orientation follows the escapement
                             font.weight,
                             int16_t(uint16_t(font.italic) | uint16_t(font.underline) << 8),
                             int16_t(uint16_t(font.strikeout) | uint16_t(font.charset) << 8),
                             0, // output and clip precision: the defaults
                             int16_t(uint16_t(font.pitch_and_family) << 8)};
    std::string face = font.face.substr(0, kFaceBytes - 1);
    face.resize(kFaceBytes, '\0');
    Record(kCreateFontIndirect, words, face);
    return TakeSlot();
}

uint16_t Recorder::AddPen(const Pen& pen) {
    const int16_t words[] = {int16_t(pen.style), pen.width, 0, Low(pen.color), High(pen.color)};
    Record(kCreatePenIndirect, words);
    return TakeSlot();
}

uint16_t Recorder::AddBrush(const Brush& brush) {
    const int16_t words[] = {int16_t(brush.style), Low(brush.color), High(brush.color), int16_t(brush.hatch)};
    Record(kCreateBrushIndirect, words);
    return TakeSlot();
}

void Recorder::SelectObject(uint16_t slot) {
    const int16_t words[] = {int16_t(slot)};
    Record(kSelectObject, words);
}

void Recorder::DeleteObject(uint16_t slot) {
    const int16_t words[] = {int16_t(slot)};
    Record(kDeleteObject, words);
    if (slot < slots_.size())
        slots_[slot] = false;
}

void Recorder::SetTextColor(uint32_t color) {
    const int16_t words[] = {Low(color), High(color)};
    Record(kSetTextColor, words);
}

void Recorder::SetBackgroundMode(bool transparent) {
    const int16_t words[] = {int16_t(transparent ? kTransparent : kOpaque), 0};
    Record(kSetBkMode, words);
}

void Recorder::SetTextAlign(uint16_t align) {
    const int16_t words[] = {int16_t(align), 0};
    Record(kSetTextAlign, words);
}

void Recorder::Text(int16_t x, int16_t y, std::string_view text, const Rect* clip) {
    // A record holds at most 32767 bytes of text; a report line is far shorter.
    text = text.substr(0, 0x7FFE);
    std::vector<int16_t> words = {y, x, int16_t(text.size()), int16_t(clip != nullptr ? kTextClipped : 0)};
    if (clip != nullptr)
        words.insert(words.end(), {clip->left, clip->top, clip->right, clip->bottom});
    Record(kExtTextOut, words, text);
}

void Recorder::MoveTo(int16_t x, int16_t y) {
    const int16_t words[] = {y, x};
    Record(kMoveTo, words);
}

void Recorder::LineTo(int16_t x, int16_t y) {
    const int16_t words[] = {y, x};
    Record(kLineTo, words);
}

void Recorder::Rectangle(const Rect& rect) {
    const int16_t words[] = {rect.bottom, rect.right, rect.top, rect.left};
    Record(kRectangle, words);
}

void Recorder::StretchBitmap(const Rect& destination, const Rect& source, std::span<const uint8_t> dib) {
    const int16_t words[] = {Low(kSourceCopy),
                             High(kSourceCopy),
                             kDibRgbColors,
                             int16_t(source.bottom - source.top),
                             int16_t(source.right - source.left),
                             source.top,
                             source.left,
                             int16_t(destination.bottom - destination.top),
                             int16_t(destination.right - destination.left),
                             destination.top,
                             destination.left};
    Record(kStretchDib, words, std::string_view(reinterpret_cast<const char*>(dib.data()), dib.size()));
}

void Recorder::SaveState() {
    Record(kSaveDc, {});
}

void Recorder::RestoreState() {
    const int16_t words[] = {-1};
    Record(kRestoreDc, words);
}

void Recorder::IntersectClip(const Rect& rect) {
    const int16_t words[] = {rect.bottom, rect.right, rect.top, rect.left};
    Record(kIntersectClipRect, words);
}

std::string Recorder::Finish(const Rect& box, uint16_t units_per_inch) const {
    std::string out;
    FinishInto(box, units_per_inch, out);
    return out;
}

void Recorder::Reset() {
    records_.clear();
    largest_record_ = 3;
    slots_.clear();
    const int16_t anisotropic[] = {kMapAnisotropic};
    Record(kSetMapMode, anisotropic);
}

void Recorder::FinishInto(const Rect& box, uint16_t units_per_inch, std::string& out) const {
    out.clear();
    out.reserve(kPlaceableBytes + kHeaderBytes + records_.size() + 6);
    const uint16_t placeable[10] = {uint16_t(kPlaceableKey & 0xFFFF),
                                    uint16_t(kPlaceableKey >> 16),
                                    0,
                                    uint16_t(box.left),
                                    uint16_t(box.top),
                                    uint16_t(box.right),
                                    uint16_t(box.bottom),
                                    units_per_inch,
                                    0,
                                    0};
    uint16_t checksum = 0;
    for (uint16_t word : placeable) {
        PutWord(out, word);
        checksum ^= word;
    }
    PutWord(out, checksum);
    uint32_t total_words = uint32_t((kHeaderBytes + records_.size()) / 2 + 3);
    PutWord(out, kMemoryMetafile);
    PutWord(out, kHeaderBytes / 2);
    PutWord(out, kMetafileVersion);
    PutLong(out, total_words);
    PutWord(out, uint16_t(std::max<size_t>(slots_.size(), 1)));
    PutLong(out, largest_record_);
    PutWord(out, 0);
    out += records_;
    PutLong(out, 3);
    PutWord(out, kEof);
}

// ---- Replaying into a recorder -------------------------------------------------------------------

void RecordingCanvas::Map(uint16_t played, uint16_t own) {
    if (slots_.size() <= played)
        slots_.resize(size_t(played) + 1, -1);
    slots_[played] = own;
}

void RecordingCanvas::SelectObject(uint16_t slot) {
    if (slot < slots_.size() && slots_[slot] >= 0)
        recorder_.SelectObject(uint16_t(slots_[slot]));
}

void RecordingCanvas::DeleteObject(uint16_t slot) {
    if (slot < slots_.size() && slots_[slot] >= 0) {
        recorder_.DeleteObject(uint16_t(slots_[slot]));
        slots_[slot] = -1;
    }
}

void RecordingCanvas::Text(int16_t x, int16_t y, std::string_view text, const Rect* clip) {
    Rect moved;
    if (clip != nullptr)
        moved = Moved(*clip);
    recorder_.Text(X(x), Y(y), text, clip != nullptr ? &moved : nullptr);
}

RecordingCanvas::~RecordingCanvas() {
    for (int32_t own : slots_)
        if (own >= 0)
            recorder_.DeleteObject(uint16_t(own));
}

} // namespace tarvex::report
