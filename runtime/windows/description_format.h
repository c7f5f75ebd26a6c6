// SPDX-License-Identifier: GPL-3.0-or-later
// The DABDUMP byte format of window and report descriptions: every record layout, as data.
//
// A dump is loaded into a buffer at buffer offset 2; every reference inside it is a 32-bit
// little-endian offset from the start of that buffer, 0 meaning none. Buffer offset 2 holds the
// offset of the first top-level structure. Records are byte-packed. A record's strings and small
// sub-records come before it; it points forwards only to its next sibling and its first child.
//
// Divisions: the common record head; kind codes; the cells (font, USE descriptor, paper, colour,
// wallpaper, alert-key and band-reference chains, stock icon names); flag names; the schema table
// that lists, per kind, each field with its offset and type. The decoder, the loader and the
// description tools all read the layouts from this one table, never by casting the buffer.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tarvex::windows {

// Offsets into the dump buffer are from its start; the dump itself starts here.
constexpr uint32_t kDumpBase = 2;
constexpr int32_t kNotGiven = INT32_MIN;   // 0x80000000 in an AT value: the value is not given

// ---- Common record head ---------------------------------------------------------------------
constexpr uint32_t kHeadKind = 0x00;     // u8
constexpr uint32_t kHeadNext = 0x01;     // u32 offset of the next sibling, 0 ends the chain
constexpr uint32_t kHeadFlags = 0x05;    // u32 attribute flags
constexpr uint32_t kHeadFlags2 = 0x09;   // u32 second attribute word
constexpr uint32_t kHeadSize = 0x0d;

// ---- Kind codes -----------------------------------------------------------------------------
enum class Kind : uint8_t {
    StringVar = 0x01, StringText = 0x02, Image = 0x03, Graphic04 = 0x04, Line = 0x05, Box = 0x06,
    Graphic07 = 0x07, Entry = 0x08, Button = 0x09, Prompt = 0x0a, Option = 0x0b, Check = 0x0c,
    Group = 0x0d, List = 0x0e, Combo = 0x0f, Spin = 0x10, Bound11 = 0x11, Text = 0x12,
    Menu = 0x13, Item = 0x14, Radio = 0x15, Menubar = 0x16, Window = 0x19, Report = 0x1a,
    Header = 0x1b, Footer = 0x1c, BandGroup = 0x1d, Form = 0x1e, Detail = 0x1f, Ole = 0x20,
    ListVariant = 0x21, ComboVariant = 0x22, Progress = 0x23, Sheet = 0x25, Tab = 0x26,
    Graphic27 = 0x27,
};

// ---- Window fields that the loader reads by name --------------------------------------------
constexpr uint32_t kStructAt = 0x0d;          // WINDOW, REPORT: 4 x i32
constexpr uint32_t kStructFirstChild = 0x1d;
constexpr uint32_t kStructName = 0x21;
constexpr uint32_t kStructFont = 0x25;
constexpr uint32_t kStructTitle = 0x29;       // REPORT: the job name
constexpr uint32_t kReportPaper = 0x2d;
constexpr uint32_t kWindowIcon = 0x39;
constexpr uint32_t kWindowMessage = 0x3d;
constexpr uint32_t kWindowHelp = 0x45;
constexpr uint32_t kWindowAlerts = 0x4d;
constexpr uint32_t kWindowFlags2 = 0x51;
constexpr uint32_t kWindowCursor = 0x55;
constexpr uint32_t kWindowTimer = 0x59;
constexpr uint32_t kWindowMenubar = 0x5d;
constexpr uint32_t kWindowImage2 = 0x65;
constexpr uint32_t kWindowWallpaper = 0x69;

constexpr uint32_t kUnitMask = 0x300;         // flags 1 of a WINDOW or REPORT
// A REPORT that binds its preview queue: the address after those its bands take.
constexpr uint32_t kReportPreview = 0x400;
enum class Unit : uint32_t { DialogUnits = 0x000, Millimetres = 0x100, Thousandths = 0x200, Points = 0x300 };

// Window flags 2 (+0x51): the frame and system-menu attributes.
constexpr uint32_t kFrameSystemMenu = 0x1000;
constexpr uint32_t kFrameMaximizeBox = 0x0800;
constexpr uint32_t kFrameOpenMaximized = 0x4000;
constexpr uint32_t kFrameOpenMinimized = 0x8000;
constexpr uint32_t kFrameBorderMask = 0x0060;
constexpr uint32_t kFrameResizable = 0x0020;
constexpr uint32_t kFrameDouble = 0x0040;
constexpr uint32_t kFrameNone = 0x0060;
constexpr uint32_t kFrameNoCaption = 0x0400;

// Control flags (+0x05 of a control).
constexpr uint32_t kJustifyMask = 0x1c;
constexpr uint32_t kControlDisabled = 0x40;
constexpr uint32_t kControlHidden = 0x400;
constexpr uint32_t kItemSeparator = 0x10;     // on an ITEM

// Band flags (+0x05 of a HEADER, FOOTER, FORM or DETAIL) that the page layout reads: a band kept on
// one page with the band printed before it, or with the band printed after it; a band that starts
// a page without its FORM and HEADER.
constexpr uint32_t kBandKeepWithPrior = 0x01;
constexpr uint32_t kBandKeepWithNext = 0x02;
constexpr uint32_t kBandBarePage = 0x04;

// ---- Cells ----------------------------------------------------------------------------------
// Font record: u32 face offset (0 inherit), u32 points (0 inherit), u32 colour 0x00BBGGRR
// (0xFFFFFFFF inherit), u32 style (weight in the low bits).
constexpr uint32_t kFontSize = 16;
constexpr uint32_t kColourInherit = 0xFFFFFFFF;
// USE descriptor: u8 value-type code, u32 size, u32 places.
constexpr uint32_t kUseSize = 9;
constexpr uint8_t kUseArray = 0x18;           // refused by the loader (error 501)
constexpr uint8_t kUseField = 0x19;
constexpr uint8_t kUseQueue = 0x1a;
constexpr uint8_t kUseText = 0x12;            // in a FROM descriptor: a text list, bound to nothing
// Paper cell: u8 0x2E, 4 bytes 0, u16 paper code (1 Letter, 256 custom), u16 width, u16 length.
// The width and length are u16s at +7 and +9, so the cell takes 11 bytes.
constexpr uint32_t kPaperSize = 11;
constexpr uint8_t kPaperMark = 0x2e;
// Colour and attribute cells: three u32s.
constexpr uint32_t kCellSize = 12;
// Wallpaper cell: u32 colour (0xFFFFFFFF none), u32 offset of the image file name.
constexpr uint32_t kWallpaperSize = 8;
// Alert-key and band-reference chains: cells {u32 value, u32 offset of the next cell}.
constexpr uint32_t kChainCellSize = 8;
// An icon, cursor or image name that starts with 0xFF is a two-byte code and a u16 number:
// 0xFF 0x01 n picks the system's stock icon or cursor n-1, 0xFF 0x02 n the runtime's own.
constexpr uint8_t kStockMark = 0xFF;
constexpr uint8_t kStockSystem = 0x01;
constexpr uint8_t kStockRuntime = 0x02;
constexpr uint32_t kStockNameSize = 4;

// ---- Flag names -----------------------------------------------------------------------------
// A name stands for `value` within `mask`; names of one table never share a bit unless they share
// the mask (alternatives such as the justifications).
struct FlagName {
    std::string_view name;
    uint32_t mask;
    uint32_t value;
};

// ---- The schema -----------------------------------------------------------------------------
enum class FieldType : uint8_t {
    Flags,       // u32 (or u8 when width is 1) read through a flag-name table
    Number,      // i32
    Hex,         // u32, shown in hexadecimal
    Byte,        // u8
    Word,        // u16
    FieldNo,     // i32 field number, counted depth first by the tools when not given
    Text,        // offset of a NUL-terminated string
    Picture,     // offset of a picture text without its '@'
    Name,        // offset of an icon, cursor or image name (a string or a stock code)
    Font,        // offset of a font record
    Use,         // offset of a USE descriptor (binds an address)
    From,        // offset of a FROM descriptor (a queue binds an address, a text list none)
    At,          // 4 x i32 inline
    Range,       // 2 x i32 inline
    Alerts,      // offset of an alert-key chain
    BandRefs,    // offset of a chain of band field numbers
    Paper,       // offset of a paper cell
    Cell,        // offset of a colour or attribute cell
    Wallpaper,   // offset of a wallpaper cell
    Menubar,     // offset of the MENUBAR record
    Children,    // offset of the first child record
};

struct FieldSpec {
    FieldType type;
    uint32_t offset;
    std::string_view name;                 // the attribute's name in the text form
    std::span<const FlagName> flags = {};  // FieldType::Flags only
    uint8_t width = 4;                     // FieldType::Flags: 4 or 1 bytes
};

// How a record's field number is counted when the text does not give it.
enum class Numbering : uint8_t { None, Positive, Negative, Zero };

enum class Role : uint8_t { Structure, Band, Control, Menu };

struct KindSpec {
    Kind kind;
    std::string_view keyword;        // empty: written CONTROL(code)
    Role role;
    uint32_t size;                   // bytes of the record, head included
    Numbering numbering;
    int8_t positional;               // index into fields of the value written KEYWORD(value), or -1
    std::span<const FieldSpec> fields;
    // The label of a structure (its name field) is written before the keyword.
    bool labelled = false;
};

// The schema of a kind code; null for a code no record has.
const KindSpec* FindKind(uint8_t code);
// Every kind, in code order.
std::span<const KindSpec> AllKinds();
// The field of a kind with the given type (the first one), or null.
const FieldSpec* FindField(const KindSpec& kind, FieldType type);

}  // namespace tarvex::windows
