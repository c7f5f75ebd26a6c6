// SPDX-License-Identifier: GPL-3.0-or-later
// The schema table of the description format: per kind code, each field with its offset, type and
// its attribute name in the text form. Gaps between named fields are bytes no description uses;
// the tools write them as zero and the loader never reads them.
#include "windows/description_format.h"

#include <algorithm>
#include <array>

namespace tarvex::windows {

namespace {

using F = FieldType;

// Unit 0x300 is points on a report and plain pixels on a window.
constexpr FlagName kReportUnitFlags[] = {
    {"MM", kUnitMask, 0x100}, {"THOUS", kUnitMask, 0x200}, {"POINTS", kUnitMask, 0x300},
    {"PREVIEW", kReportPreview, kReportPreview}};
constexpr FlagName kWindowUnitFlags[] = {
    {"MM", kUnitMask, 0x100}, {"THOUS", kUnitMask, 0x200}, {"PIXEL", kUnitMask, 0x300}};
constexpr FlagName kFrameFlags[] = {
    {"SYSTEM", kFrameSystemMenu, kFrameSystemMenu},
    {"MAX", kFrameMaximizeBox, kFrameMaximizeBox},
    {"MAXIMIZE", kFrameOpenMaximized, kFrameOpenMaximized},
    {"ICONIZE", kFrameOpenMinimized, kFrameOpenMinimized},
    {"RESIZE", kFrameBorderMask, kFrameResizable},
    {"DOUBLE", kFrameBorderMask, kFrameDouble},
    {"NOFRAME", kFrameBorderMask, kFrameNone},
    {"NOCAPTION", kFrameNoCaption, kFrameNoCaption}};
constexpr FlagName kControlFlags[] = {
    {"LEFT", kJustifyMask, 0x04}, {"RIGHT", kJustifyMask, 0x08},
    {"DECIMAL", kJustifyMask, 0x0c}, {"CENTER", kJustifyMask, 0x10},
    {"DISABLE", kControlDisabled, kControlDisabled}, {"HIDE", kControlHidden, kControlHidden},
    {"REQ", 0x01, 0x01}, {"IMM", 0x02, 0x02}, {"READONLY", 0x800, 0x800}};
constexpr FlagName kItemFlags[] = {{"SEPARATOR", kItemSeparator, kItemSeparator}};
constexpr FlagName kButtonFlags[] = {{"DEFAULT", 0x01, 0x01}};
constexpr FlagName kSheetFlags[] = {
    {"UP", 0x60, 0x20}, {"DOWN", 0x60, 0x40}, {"UPSIDEDOWN", 0x60, 0x60}};
constexpr FlagName kBandFlags[] = {{"KEEPPRIOR", kBandKeepWithPrior, kBandKeepWithPrior},
                                   {"KEEPNEXT", kBandKeepWithNext, kBandKeepWithNext},
                                   {"BAREPAGE", kBandBarePage, kBandBarePage}};
constexpr FlagName kNoFlags[] = {{"", 0, 0}};

// The head's two words, as every record has them.
#define HEAD(table) FieldSpec{F::Flags, kHeadFlags, "FLAGS", table}, FieldSpec{F::Hex, kHeadFlags2, "FLAGS2"}

constexpr FieldSpec kWindowFields[] = {
    HEAD(kWindowUnitFlags),
    {F::Text, kStructName, "LABEL"},
    {F::Text, kStructTitle, "TITLE"},
    {F::At, kStructAt, "AT"},
    {F::Font, kStructFont, "FONT"},
    {F::Name, kWindowIcon, "ICON"},
    {F::Name, kWindowImage2, "IMAGE2"},
    {F::Name, kWindowCursor, "CURSOR"},
    {F::Text, kWindowMessage, "MSG"},
    {F::Text, kWindowHelp, "HLP"},
    {F::Alerts, kWindowAlerts, "ALRT"},
    {F::Flags, kWindowFlags2, "STYLE", kFrameFlags},
    {F::Number, kWindowTimer, "TIMER"},
    {F::Wallpaper, kWindowWallpaper, "WALLPAPER"},
    {F::Menubar, kWindowMenubar, "MENUBAR"},
    {F::Children, kStructFirstChild, ""},
};
constexpr FieldSpec kReportFields[] = {
    HEAD(kReportUnitFlags),
    {F::Text, kStructName, "LABEL"},
    {F::Text, kStructTitle, "JOB"},
    {F::At, kStructAt, "AT"},
    {F::Font, kStructFont, "FONT"},
    {F::Paper, kReportPaper, "PAPER"},
    {F::Children, kStructFirstChild, ""},
};
constexpr FieldSpec kBandFields[] = {
    HEAD(kBandFlags),
    {F::FieldNo, 0x0d, "FEQ"},
    {F::At, 0x1d, "AT"},
    {F::Font, 0x19, "FONT"},
    {F::Children, 0x15, ""},
};
constexpr FieldSpec kBandGroupFields[] = {
    HEAD(kNoFlags),
    {F::FieldNo, 0x0d, "FEQ"},
    {F::Use, 0x1d, "USE"},
    {F::Children, 0x19, ""},
};

// Control families: 1 no bound variable, 2 a bound variable, 3 a bound variable and a list format.
#define FAMILY1 HEAD(kControlFlags), FieldSpec{F::FieldNo, 0x0d, "FEQ"}, FieldSpec{F::At, 0x15, "AT"}
#define FAMILY2 HEAD(kControlFlags), FieldSpec{F::FieldNo, 0x0d, "FEQ"}, FieldSpec{F::At, 0x19, "AT"}, \
                FieldSpec{F::Use, 0x15, "USE"}
#define FAMILY3 HEAD(kControlFlags), FieldSpec{F::FieldNo, 0x0d, "FEQ"}, FieldSpec{F::At, 0x1d, "AT"}, \
                FieldSpec{F::Use, 0x15, "USE"}, FieldSpec{F::Text, 0x19, "FORMAT"}

constexpr FieldSpec kStringVarFields[] = {
    FAMILY2,
    {F::Picture, 0x2d, "PICTURE"},
    {F::Font, 0x31, "FONT"},
    {F::Byte, 0x35, "COMPUTE"},
    {F::Number, 0x36, "TALLY"},
    {F::Use, 0x3a, "ACCUM"},
    {F::BandRefs, 0x46, "RESET"},
};
constexpr FieldSpec kStringTextFields[] = {FAMILY1, {F::Text, 0x29, "TEXT"}};
constexpr FieldSpec kImageFields[] = {FAMILY1, {F::Name, 0x25, "FILE"}};
constexpr FieldSpec kGraphic04Fields[] = {FAMILY1, {F::Cell, 0x2d, "ATTR"}};
constexpr FieldSpec kLineFields[] = {FAMILY1};
constexpr FieldSpec kBoxFields[] = {FAMILY1, {F::Cell, 0x25, "COLOR"}};
constexpr FieldSpec kEntryFields[] = {FAMILY2, {F::Picture, 0x49, "PICTURE"}};
constexpr FieldSpec kButtonFields[] = {
    FAMILY1,
    {F::Text, 0x45, "TEXT"},
    {F::Name, 0x49, "ICON"},
    {F::Number, 0x51, "STD"},
    {F::Flags, 0x55, "BFLAGS", kButtonFlags, 1},
    {F::Word, 0x56, "DELAY"},
    {F::Word, 0x58, "REPEAT"},
};
constexpr FieldSpec kPromptFields[] = {FAMILY1, {F::Text, 0x29, "TEXT"}};
constexpr FieldSpec kOptionFields[] = {FAMILY2, {F::Text, 0x49, "TEXT"}, {F::Children, 0x4d, ""}};
constexpr FieldSpec kCheckFields[] = {
    FAMILY2, {F::Text, 0x49, "TEXT"}, {F::Text, 0x55, "TRUEVALUE"}, {F::Text, 0x59, "FALSEVALUE"}};
constexpr FieldSpec kGroupFields[] = {FAMILY1, {F::Text, 0x45, "TEXT"}, {F::Children, 0x49, ""}};
constexpr FieldSpec kListFields[] = {FAMILY3, {F::Text, 0x2d, "MSG"}, {F::From, 0x54, "FROM"}};
constexpr FieldSpec kComboFields[] = {
    FAMILY3, {F::Text, 0x2d, "MSG"}, {F::From, 0x54, "FROM"},
    {F::Hex, 0x64, "WORD64"}, {F::Hex, 0x6d, "WORD6D"}, {F::Hex, 0x71, "WORD71"}};
constexpr FieldSpec kSpinFields[] = {FAMILY2, {F::Picture, 0x49, "PICTURE"}};
constexpr FieldSpec kBound11Fields[] = {FAMILY2, {F::Hex, 0x51, "WORD51"}};
constexpr FieldSpec kTextFields[] = {
    FAMILY2, {F::Hex, 0x4d, "WORD4D"}, {F::Hex, 0x51, "WORD51"}, {F::Hex, 0x55, "WORD55"},
    {F::Hex, 0x59, "WORD59"}};
constexpr FieldSpec kRadioFields[] = {FAMILY1, {F::Text, 0x45, "TEXT"}};
constexpr FieldSpec kOleFields[] = {FAMILY1};
constexpr FieldSpec kProgressFields[] = {FAMILY2, {F::Range, 0x2d, "RANGE"}, {F::Range, 0x35, "RANGE2"}};
constexpr FieldSpec kSheetFields[] = {
    FAMILY2,
    {F::Number, 0x57, "TABWIDTH"},
    {F::Flags, 0x5b, "SHEETSTYLE", kSheetFlags, 1},
    {F::Children, 0x4d, ""},
};
constexpr FieldSpec kTabFields[] = {FAMILY1, {F::Text, 0x32, "TEXT"}, {F::Children, 0x3a, ""}};

constexpr FieldSpec kMenubarFields[] = {HEAD(kNoFlags), {F::Children, 0x0d, ""}};
// The standard action of a menu entry (+0x21) sits where a BUTTON's would if menus had one; the
// frame's "Printer Setup" and "Exit" items need it and no other field of a menu record fits.
#define MENU_ENTRY                                                                                 \
    HEAD(kItemFlags), FieldSpec{F::FieldNo, 0x0d, "FEQ"}, FieldSpec{F::Text, 0x19, "TEXT"},         \
        FieldSpec{F::Use, 0x15, "USE"}, FieldSpec{F::Text, 0x1d, "MSG"},                            \
        FieldSpec{F::Number, 0x21, "STD"}, FieldSpec{F::Cell, 0x31, "ATTR"}
constexpr FieldSpec kMenuFields[] = {MENU_ENTRY, {F::Children, 0x35, ""}};
constexpr FieldSpec kItemFields[] = {MENU_ENTRY};

// Index of the positional field (the value written KEYWORD(value)) in each list above.
constexpr int8_t kNoPositional = -1;

constexpr KindSpec kKinds[] = {
    {Kind::StringVar, "STRING", Role::Control, 0x4a, Numbering::Positive, 5, kStringVarFields},
    {Kind::StringText, "STRING", Role::Control, 0x2d, Numbering::Positive, 4, kStringTextFields},
    {Kind::Image, "IMAGE", Role::Control, 0x29, Numbering::Positive, 4, kImageFields},
    {Kind::Graphic04, "", Role::Control, 0x31, Numbering::Positive, kNoPositional, kGraphic04Fields},
    {Kind::Line, "LINE", Role::Control, 0x25, Numbering::Positive, kNoPositional, kLineFields},
    {Kind::Box, "BOX", Role::Control, 0x29, Numbering::Positive, kNoPositional, kBoxFields},
    {Kind::Graphic07, "", Role::Control, 0x29, Numbering::Positive, kNoPositional, kBoxFields},
    {Kind::Entry, "ENTRY", Role::Control, 0x4d, Numbering::Positive, 5, kEntryFields},
    {Kind::Button, "BUTTON", Role::Control, 0x5a, Numbering::Positive, 4, kButtonFields},
    {Kind::Prompt, "PROMPT", Role::Control, 0x2d, Numbering::Positive, 4, kPromptFields},
    {Kind::Option, "OPTION", Role::Control, 0x51, Numbering::Positive, 5, kOptionFields},
    {Kind::Check, "CHECK", Role::Control, 0x5d, Numbering::Positive, 5, kCheckFields},
    {Kind::Group, "GROUP", Role::Control, 0x4d, Numbering::Positive, 4, kGroupFields},
    {Kind::List, "LIST", Role::Control, 0x58, Numbering::Positive, kNoPositional, kListFields},
    {Kind::Combo, "COMBO", Role::Control, 0x75, Numbering::Positive, kNoPositional, kComboFields},
    {Kind::Spin, "SPIN", Role::Control, 0x4d, Numbering::Positive, 5, kSpinFields},
    {Kind::Bound11, "", Role::Control, 0x55, Numbering::Positive, kNoPositional, kBound11Fields},
    {Kind::Text, "TEXT", Role::Control, 0x5d, Numbering::Positive, kNoPositional, kTextFields},
    {Kind::Menu, "MENU", Role::Menu, 0x39, Numbering::Negative, 3, kMenuFields},
    {Kind::Item, "ITEM", Role::Menu, 0x35, Numbering::Negative, 3, kItemFields},
    {Kind::Radio, "RADIO", Role::Control, 0x49, Numbering::Positive, 4, kRadioFields},
    {Kind::Menubar, "MENUBAR", Role::Menu, 0x11, Numbering::None, kNoPositional, kMenubarFields},
    {Kind::Window, "WINDOW", Role::Structure, 0x6d, Numbering::None, 3, kWindowFields, true},
    {Kind::Report, "REPORT", Role::Structure, 0x31, Numbering::None, 3, kReportFields, true},
    {Kind::Header, "HEADER", Role::Band, 0x2d, Numbering::Zero, kNoPositional, kBandFields},
    {Kind::Footer, "FOOTER", Role::Band, 0x2d, Numbering::Zero, kNoPositional, kBandFields},
    {Kind::BandGroup, "BREAK", Role::Band, 0x21, Numbering::Positive, kNoPositional, kBandGroupFields},
    {Kind::Form, "FORM", Role::Band, 0x2d, Numbering::Zero, kNoPositional, kBandFields},
    {Kind::Detail, "DETAIL", Role::Band, 0x2d, Numbering::Positive, kNoPositional, kBandFields},
    {Kind::Ole, "", Role::Control, 0x25, Numbering::Positive, kNoPositional, kOleFields},
    {Kind::ListVariant, "", Role::Control, 0x58, Numbering::Positive, kNoPositional, kListFields},
    {Kind::ComboVariant, "", Role::Control, 0x75, Numbering::Positive, kNoPositional, kComboFields},
    {Kind::Progress, "PROGRESS", Role::Control, 0x3d, Numbering::Positive, kNoPositional, kProgressFields},
    {Kind::Sheet, "SHEET", Role::Control, 0x5c, Numbering::Positive, kNoPositional, kSheetFields},
    {Kind::Tab, "TAB", Role::Control, 0x3e, Numbering::Positive, 4, kTabFields},
    {Kind::Graphic27, "", Role::Control, 0x29, Numbering::Positive, kNoPositional, kBoxFields},
};

// Every field must lie inside its record; checked once here so the readers can rely on it.
constexpr uint32_t FieldWidth(const FieldSpec& field) {
    switch (field.type) {
    case F::Flags: return field.width;
    case F::Byte: return 1;
    case F::Word: return 2;
    case F::At: return 16;
    case F::Range: return 8;
    default: return 4;
    }
}
constexpr bool FieldsFit() {
    for (const KindSpec& kind : kKinds) {
        for (const FieldSpec& field : kind.fields)
            if (field.offset + FieldWidth(field) > kind.size)
                return false;
        if (kind.positional >= int(kind.fields.size()))
            return false;
    }
    return true;
}
static_assert(FieldsFit(), "a field of the schema lies outside its record");

}  // namespace

const KindSpec* FindKind(uint8_t code) {
    for (const KindSpec& kind : kKinds)
        if (static_cast<uint8_t>(kind.kind) == code)
            return &kind;
    return nullptr;
}

std::span<const KindSpec> AllKinds() { return kKinds; }

const FieldSpec* FindField(const KindSpec& kind, FieldType type) {
    auto it = std::find_if(kind.fields.begin(), kind.fields.end(),
                           [type](const FieldSpec& field) { return field.type == type; });
    return it == kind.fields.end() ? nullptr : &*it;
}

}  // namespace tarvex::windows
