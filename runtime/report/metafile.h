// SPDX-License-Identifier: GPL-3.0-or-later
// Report pages as placeable metafiles: the recorder that writes them and the player that reads
// them back onto a canvas.
//
// A page file is a standard placeable metafile: the 22-byte placeable header (key, bounding box,
// units per inch, checksum), the 18-byte metafile header, then records of 16-bit words, each
// "size in words (u32), function (u16), parameters", ending with the EOF record. Any outside tool
// that reads metafiles reads our pages. Coordinates are signed 16-bit logical units; the
// recorder sets an anisotropic window whose extent is the page, so one unit is one printer dot.
//
// Objects (fonts, pens, brushes) live in a table: a new object takes the lowest free slot and is
// addressed by it until deleted. The recorder and the player keep that rule alike, so a page
// replays with the same objects it was drawn with.
//
// The player trusts nothing: every record is checked against the bytes that are there before it
// is read, and a record that cannot be played (too large, cut short, parameters missing, an
// object table overflowing) stops the page with error 523.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tarvex/export.h"

namespace tarvex::report {

// A rectangle in logical units, right and bottom exclusive as the drawing calls take them.
struct Rect {
    int16_t left = 0;
    int16_t top = 0;
    int16_t right = 0;
    int16_t bottom = 0;
    bool operator==(const Rect&) const = default;
};

struct Font {
    std::string face;      // at most 31 bytes are kept
    int16_t height = 0;    // negative: the character height, positive: the cell height
    int16_t width = 0;     // 0: the face's own proportions
    int16_t escapement = 0; // tenths of a degree
    int16_t weight = 400;  // 400 normal, 700 bold
    bool italic = false;
    bool underline = false;
    bool strikeout = false;
    uint8_t charset = 0;   // 0: the program's single-byte set
    uint8_t pitch_and_family = 0;
    bool operator==(const Font&) const = default;
};

struct Pen {
    uint16_t style = 0; // 0 solid, 5 none
    int16_t width = 0;  // 0: one dot
    uint32_t color = 0; // 0x00BBGGRR
    bool operator==(const Pen&) const = default;
};

struct Brush {
    uint16_t style = 0; // 0 solid, 1 hollow, 2 hatched
    uint32_t color = 0;
    uint16_t hatch = 0;
    bool operator==(const Brush&) const = default;
};

// Text alignment flags (combined): horizontal left 0, right 2, centre 6; vertical top 0,
// bottom 8, baseline 24.
constexpr uint16_t kAlignLeft = 0;
constexpr uint16_t kAlignRight = 2;
constexpr uint16_t kAlignCenter = 6;
constexpr uint16_t kAlignTop = 0;
constexpr uint16_t kAlignBottom = 8;
constexpr uint16_t kAlignBaseline = 24;

// Text output options: the clipping rectangle applies.
constexpr uint16_t kTextClipped = 0x0004;

// Everything a page can hold, as the player hands it to whatever draws it (an image, a PDF, a
// printer, a test that writes it down). Slots are the object table's.
class Canvas {
  public:
    virtual ~Canvas() = default;
    virtual void SetWindowOrigin(int16_t x, int16_t y) = 0;
    virtual void SetWindowExtent(int16_t width, int16_t height) = 0;
    virtual void CreateFont(uint16_t slot, const Font& font) = 0;
    virtual void CreatePen(uint16_t slot, const Pen& pen) = 0;
    virtual void CreateBrush(uint16_t slot, const Brush& brush) = 0;
    virtual void SelectObject(uint16_t slot) = 0;
    virtual void DeleteObject(uint16_t slot) = 0;
    virtual void SetTextColor(uint32_t color) = 0;
    virtual void SetBackgroundMode(bool transparent) = 0;
    virtual void SetTextAlign(uint16_t align) = 0;
    // Text in the program's single-byte character set; `clip` is null when the text is not clipped.
    virtual void Text(int16_t x, int16_t y, std::string_view text, const Rect* clip) = 0;
    virtual void MoveTo(int16_t x, int16_t y) = 0;
    virtual void LineTo(int16_t x, int16_t y) = 0;
    virtual void Rectangle(const Rect& rect) = 0;
    // A device-independent bitmap (info header, colour table, bits) stretched from `source` (in
    // the bitmap's pixels) into `destination`.
    virtual void StretchBitmap(const Rect& destination, const Rect& source, std::span<const uint8_t> dib) = 0;
    virtual void SaveState() = 0;
    virtual void RestoreState() = 0;
    virtual void IntersectClip(const Rect& rect) = 0;
};

// Records drawing calls as metafile records.
class TARVEX_API Recorder {
  public:
    Recorder();
    // Logical units: the window the page's drawing uses (origin and extent).
    void SetWindowOrigin(int16_t x, int16_t y);
    void SetWindowExtent(int16_t width, int16_t height);
    // Objects: each takes the lowest free slot, which is returned.
    uint16_t AddFont(const Font& font);
    uint16_t AddPen(const Pen& pen);
    uint16_t AddBrush(const Brush& brush);
    void SelectObject(uint16_t slot);
    void DeleteObject(uint16_t slot);
    void SetTextColor(uint32_t color);
    void SetBackgroundMode(bool transparent);
    void SetTextAlign(uint16_t align);
    void Text(int16_t x, int16_t y, std::string_view text, const Rect* clip = nullptr);
    void MoveTo(int16_t x, int16_t y);
    void LineTo(int16_t x, int16_t y);
    void Rectangle(const Rect& rect);
    void StretchBitmap(const Rect& destination, const Rect& source, std::span<const uint8_t> dib);
    void SaveState();
    void RestoreState();
    void IntersectClip(const Rect& rect);

    // The complete file: placeable header for `box` at `units_per_inch`, metafile header,
    // the records so far and the EOF record. The recorder can go on recording afterwards.
    std::string Finish(const Rect& box, uint16_t units_per_inch) const;
    // The same into `out`, whose memory is reused: a recorder that records page after page keeps
    // its buffers rather than taking fresh ones for each.
    void FinishInto(const Rect& box, uint16_t units_per_inch, std::string& out) const;
    // Starts over with no records and no objects, keeping the memory.
    void Reset();
    size_t RecordBytes() const { return records_.size(); }

  private:
    void Record(uint16_t function, std::span<const int16_t> words, std::string_view bytes = {});
    uint16_t TakeSlot();

    std::string records_;
    uint32_t largest_record_ = 3; // in words; the EOF record at least
    std::vector<bool> slots_;     // the object table: true where a slot is in use
};

// Plays into a recorder, moved by an offset: a band drawn once is placed on each page it is
// printed on. The played file's objects get the recorder's own slots; its window is the page's.
class RecordingCanvas : public Canvas {
  public:
    RecordingCanvas(Recorder& recorder, int16_t dx, int16_t dy) : recorder_(recorder), dx_(dx), dy_(dy) {}
    void SetWindowOrigin(int16_t, int16_t) override {}
    void SetWindowExtent(int16_t, int16_t) override {}
    void CreateFont(uint16_t slot, const Font& font) override { Map(slot, recorder_.AddFont(font)); }
    void CreatePen(uint16_t slot, const Pen& pen) override { Map(slot, recorder_.AddPen(pen)); }
    void CreateBrush(uint16_t slot, const Brush& brush) override { Map(slot, recorder_.AddBrush(brush)); }
    void SelectObject(uint16_t slot) override;
    void DeleteObject(uint16_t slot) override;
    void SetTextColor(uint32_t color) override { recorder_.SetTextColor(color); }
    void SetBackgroundMode(bool transparent) override { recorder_.SetBackgroundMode(transparent); }
    void SetTextAlign(uint16_t align) override { recorder_.SetTextAlign(align); }
    void Text(int16_t x, int16_t y, std::string_view text, const Rect* clip) override;
    void MoveTo(int16_t x, int16_t y) override { recorder_.MoveTo(X(x), Y(y)); }
    void LineTo(int16_t x, int16_t y) override { recorder_.LineTo(X(x), Y(y)); }
    void Rectangle(const Rect& rect) override { recorder_.Rectangle(Moved(rect)); }
    void StretchBitmap(const Rect& destination, const Rect& source, std::span<const uint8_t> dib) override {
        recorder_.StretchBitmap(Moved(destination), source, dib);
    }
    void SaveState() override { recorder_.SaveState(); }
    void RestoreState() override { recorder_.RestoreState(); }
    void IntersectClip(const Rect& rect) override { recorder_.IntersectClip(Moved(rect)); }
    // Deletes the objects the played file left behind, so the page's table does not grow.
    ~RecordingCanvas() override;

  private:
    void Map(uint16_t played, uint16_t own);
    int16_t X(int16_t x) const { return int16_t(x + dx_); }
    int16_t Y(int16_t y) const { return int16_t(y + dy_); }
    Rect Moved(const Rect& r) const { return {X(r.left), Y(r.top), X(r.right), Y(r.bottom)}; }

    Recorder& recorder_;
    int16_t dx_;
    int16_t dy_;
    std::vector<int32_t> slots_; // played slot -> the recorder's (-1: none)
};

constexpr int32_t kRecordTooLarge = 523;

// The placeable header's contents.
struct PageBox {
    Rect box;
    uint16_t units_per_inch = 0;
};

// Reads the placeable header alone: false when the bytes do not begin a placeable metafile.
TARVEX_API bool ReadPageBox(std::span<const uint8_t> file, PageBox* page);

// Whether a device-independent bitmap (info header, colour table, uncompressed bits of 1, 4, 8, 24
// or 32 bits a pixel) is whole: every byte its header promises is there.
TARVEX_API bool WholeBitmap(std::span<const uint8_t> dib);

// The player is exported for the runtime's toolkit side (libtarvex_qt.so), which draws pages.
// Plays a placeable metafile onto `canvas`: 0, or 523 when the file is not a placeable metafile
// or a record cannot be played (nothing past it is played). `page` receives the header's box.
TARVEX_API int32_t Play(std::span<const uint8_t> file, Canvas& canvas, PageBox* page = nullptr);

} // namespace tarvex::report
