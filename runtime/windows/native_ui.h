// SPDX-License-Identifier: GPL-3.0-or-later
// NativeUi: the seam between the runtime's own window, control and menu model and whatever shows
// it to a person. The runtime builds its objects and asks the backend for native windows,
// controls, menus and timers through this interface and never sees a toolkit. Two backends fill
// it: headless (windows exist as state; tests and scripted runs) and, later, Qt.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tarvex/export.h"

namespace tarvex::windows {

using NativeHandle = uint64_t;   // 0: none

struct NativeRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool operator==(const NativeRect&) const = default;
};

// Native window style bits (the backend maps them to its own).
constexpr uint32_t kStyleCaption = 0x0001;
constexpr uint32_t kStyleSystemMenu = 0x0002;
constexpr uint32_t kStyleMinimizeBox = 0x0004;
constexpr uint32_t kStyleMaximizeBox = 0x0008;
constexpr uint32_t kStyleThickFrame = 0x0010;     // resizable
constexpr uint32_t kStyleDialogFrame = 0x0020;    // double border
constexpr uint32_t kStyleNoFrame = 0x0040;
constexpr uint32_t kStyleOpenMaximized = 0x0080;
constexpr uint32_t kStyleOpenMinimized = 0x0100;
constexpr uint32_t kStyleClipChildren = 0x0200;
constexpr uint32_t kStyleMdiChild = 0x0400;

struct FontSpec {
    std::string face;          // empty: the system font
    uint32_t points = 0;       // 0: the system size
    uint32_t colour = 0xFFFFFFFF;
    uint32_t style = 0;
};

// What the dialog unit needs of a font: its average character width and its height, in pixels.
struct FontMetrics {
    int32_t average_width = 0;
    int32_t height = 0;
};

struct NativeWindowSpec {
    std::string title;
    uint32_t style = 0;
    NativeHandle parent = 0;     // 0: the desktop
    NativeRect rect;             // in the parent's coordinates
    std::string icon;            // the icon name as the description gives it
    FontSpec font;
};

struct NativeControlSpec {
    uint8_t kind = 0;            // the description's kind code
    int32_t field_number = 0;
    std::string text;
    NativeRect rect;             // in the window's client coordinates
    uint32_t flags = 0;          // the description's control flags
    NativeHandle parent_control = 0;   // a GROUP, OPTION, SHEET or TAB holding it; 0: the window
    // Its place among the controls of its parent, from 1 (a tab made at run time may come before
    // the others); 0: after them all, as a description's controls are made.
    int32_t position = 0;
};

struct NativeMenuSpec {
    uint8_t kind = 0;            // MENU or ITEM
    int32_t field_number = 0;
    std::string text;
    bool separator = false;
    NativeHandle parent_menu = 0;      // 0: the menubar
    std::string message;               // shown in the status bar while the item is highlighted
};

// A colour as 0x00BBGGRR; kNoNativeColour leaves the backend's own.
constexpr uint32_t kNoNativeColour = 0xFFFFFFFF;

// One column of a LIST as the backend lays it out, in pixels from the row's left edge. A row may
// take several lines ('/' in the format): `line` is the column's. Justification codes, for the
// data in bits 0-1 and for the header in bits 2-3: 0 left, 1 right, 2 centre, 3 decimal.
struct NativeListColumn {
    int32_t left = 0, right = 0;   // right < left: a column of no width, not shown
    int32_t line = 0;
    uint8_t justification = 0;
    int32_t data_indent = 0, header_indent = 0;
    bool right_border = false, bottom_border = false;
    // A person may drag the right edge; the backend hands the new width in as input, and the
    // list lays its columns out again (ControlListColumnResized, control_model.h).
    bool resizable = false;
    // The contents scroll sideways over an area this wide (0: they do not); drawn from `scroll`.
    int32_t scroll_width = 0;
    int32_t scroll = 0;
    int32_t group = -1;            // index into NativeListView::groups, or -1
    bool operator==(const NativeListColumn&) const = default;
};

// A header over several columns, drawn above their own headers from left to right.
struct NativeListGroup {
    int32_t left = 0, right = 0;
    std::string header;
    uint8_t justification = 0;     // the header's, as a column's data code (0 left ... 3 decimal)
    bool right_border = false, bottom_border = false;
    bool operator==(const NativeListGroup&) const = default;
};

// How one visible cell is drawn, beyond its text: the colours its column fixes or its row's queue
// fields give (foreground and background, and the two used while the row is selected), the
// number of its icon among the list's icons (from 1; 0: none), and its level in a tree column (0: not a tree
// column; a negative level is a contracted branch).
struct NativeListCell {
    uint32_t foreground = kNoNativeColour, background = kNoNativeColour;
    uint32_t selected_foreground = kNoNativeColour, selected_background = kNoNativeColour;
    int32_t icon = 0;
    int32_t tree_level = 0;
    bool operator==(const NativeListCell&) const = default;
};

// What a LIST shows: its header texts, the visible page (each row its cells, through the column
// pictures), the number of the page's first row, the selected row (0: none), the thumb (0..100)
// and the number of rows behind the list. With them, the layout: the columns, the group headers,
// the header band's height in pixels, and for each row of the page one NativeListCell per column.
struct NativeListView {
    std::vector<std::string> headers;
    std::vector<std::vector<std::string>> rows;
    int32_t first_row = 1;
    int32_t selected = 0;
    int32_t thumb = 0;
    int32_t records = 0;
    // The scroll bar does something: the queue holds more than a page, or the program pages
    // its rows itself (the queue then holds only the page shown).
    bool scrolls = false;
    std::vector<NativeListColumn> columns;
    std::vector<NativeListGroup> groups;
    int32_t header_height = 0;
    // Pixels kept below the rows for one bar that scrolls every S column sideways (0: no bar).
    int32_t sideways_bar = 0;
    std::vector<std::vector<NativeListCell>> cells;
    // The list's icons, named as a description names an icon ('~PAID.ICO'): a cell's icon n
    // shows icons[n - 1]; an empty name or a number past them shows none.
    std::vector<std::string> icons;
    bool operator==(const NativeListView&) const = default;
};

// One entry of a pop-up menu.
struct NativePopupItem {
    std::string text;             // without the marks of the menu text
    bool enabled = true;
    bool checked = false;
    bool separator = false;
    bool operator==(const NativePopupItem&) const = default;
};

// A window's show state.
enum class NativeWindowState : uint8_t { Normal, Maximized, Minimized };

// What a file dialog asks for. Paths are Linux paths.
struct NativeFileDialogSpec {
    std::string title;            // empty: the backend's own title
    // Pairs of a description and its patterns, all separated by '|'; a pair's patterns are
    // separated by ';' ("Page files|*.wmf;*.emf|All files (*.*)|*.*"). Empty: every file.
    std::string filter;
    std::string initial;          // a file or a folder to start from; empty: the current folder
    bool save = false;            // a name to write to (it need not exist), else a file to read
    std::string default_suffix;   // added to a name typed without one ("pdf"); empty: none
    bool operator==(const NativeFileDialogSpec&) const = default;
};

class TARVEX_API NativeUi {
public:
    virtual ~NativeUi() = default;
    // The screen's rectangle (the parent of a window with no owner) and its dots per inch.
    virtual NativeRect DesktopRect() = 0;
    virtual int32_t DotsPerInchX() = 0;
    virtual int32_t DotsPerInchY() = 0;
    virtual FontMetrics Measure(const FontSpec& font) = 0;
    // Creates a native window; 0 when it cannot.
    virtual NativeHandle CreateWindow(const NativeWindowSpec& spec) = 0;
    virtual void DestroyWindow(NativeHandle window) = 0;
    // The window's rectangle as created, in its parent's coordinates.
    virtual NativeRect WindowRect(NativeHandle window) = 0;
    virtual NativeHandle CreateControl(NativeHandle window, const NativeControlSpec& spec) = 0;
    virtual NativeHandle CreateMenuEntry(NativeHandle window, const NativeMenuSpec& spec) = 0;
    virtual void StartTimer(NativeHandle window, int32_t id, uint32_t milliseconds) = 0;
    // The window has its menus and controls: a backend that holds a new window back until then
    // (to lay it out and paint it once) shows it now.
    virtual void WindowBuilt(NativeHandle /*window*/) {}

    // What the controls show. A backend that cannot show something leaves it.
    virtual void DestroyControl(NativeHandle /*control*/) {}
    virtual void SetControlText(NativeHandle /*control*/, const std::string& /*text*/) {}
    virtual void SetControlVisible(NativeHandle /*control*/, bool /*visible*/) {}
    virtual void SetControlEnabled(NativeHandle /*control*/, bool /*enabled*/) {}
    virtual void SetControlRect(NativeHandle /*control*/, const NativeRect& /*rect*/) {}
    virtual void SetControlFont(NativeHandle /*control*/, const FontSpec& /*font*/) {}
    // The state of a CHECK (0, 1), the chosen RADIO of an OPTION or TAB of a SHEET (1-based), the
    // position of a PROGRESS or SPIN.
    virtual void SetControlValue(NativeHandle /*control*/, int32_t /*value*/) {}
    virtual void SetControlRange(NativeHandle /*control*/, int32_t /*low*/, int32_t /*high*/) {}
    virtual void SetControlTip(NativeHandle /*control*/, const std::string& /*tip*/) {}
    // The most characters a person may type into an ENTRY (0: no limit).
    virtual void SetEntryLimit(NativeHandle /*control*/, int32_t /*characters*/) {}
    virtual void SetDefaultButton(NativeHandle /*window*/, NativeHandle /*button*/) {}
    virtual void SetListView(NativeHandle /*control*/, const NativeListView& /*view*/) {}
    virtual void SetWindowTitle(NativeHandle /*window*/, const std::string& /*title*/) {}
    virtual void SetWindowRect(NativeHandle /*window*/, const NativeRect& /*rect*/) {}
    virtual void SetWindowState(NativeHandle /*window*/, NativeWindowState /*state*/) {}
    virtual NativeWindowState WindowState(NativeHandle /*window*/) { return NativeWindowState::Normal; }
    // The cursor shown over every window of the program (the wait cursor while it is busy), named
    // as a description names a cursor (a stock code 0xFF 0x01 n, or a resource name); empty: each
    // window shows its own again.
    virtual void SetApplicationCursor(const std::string& /*cursor*/) {}
    // The text of the frame's status bar.
    virtual void SetStatusText(NativeHandle /*window*/, const std::string& /*text*/) {}
    // The mouse pointer over the window, named as the program names it (a stock cursor
    // "\xFF\x01" + u16 n for the system's cursor n-1); empty: the standard arrow.
    virtual void SetWindowCursor(NativeHandle /*window*/, const std::string& /*name*/) {}
    // Shows a pop-up menu at the mouse and returns the chosen item (1-based, separators counted
    // out), 0 when none.
    virtual int32_t PopupMenu(NativeHandle /*window*/, const std::vector<NativePopupItem>& /*items*/) { return 0; }
    // Shows a file dialog over the window (0: over none) and returns the chosen file, or nothing
    // when the person cancels. A backend that cannot ask anybody cancels.
    virtual std::optional<std::string> FileDialog(NativeHandle /*window*/, const NativeFileDialogSpec& /*spec*/) {
        return std::nullopt;
    }
    // Gives a control the keyboard focus (the runtime decides where the focus goes).
    virtual void SetFocus(NativeHandle /*window*/, NativeHandle /*control*/) {}
    // The default beep (a request the runtime refuses).
    virtual void Beep() {}
    // The program is ending: whatever the backend runs of its own stops (its windows are gone).
    virtual void Shutdown() {}
    // Shows the help file (a Linux path; HTML, one anchor per topic) at the topic `keyword` (the
    // beginning when blank), beside `window`. False when the file cannot be shown.
    virtual bool ShowHelp(NativeHandle /*window*/, const std::string& /*file*/, const std::string& /*keyword*/) {
        return false;
    }
    // Saves a picture of the window as a PNG file; false (with the reason) when it cannot.
    virtual bool Screenshot(NativeHandle /*window*/, const std::string& /*path*/, std::string& why) {
        why = "this backend shows nothing";
        return false;
    }
};

// The backend in use (headless unless another was installed).
// On first use: $TARVEX_UI names it (headless or qt); with neither, qt when a display is there
// (DISPLAY or WAYLAND_DISPLAY) and the program is not a test. The Qt backend lives in
// libtarvex_qt.so beside the runtime and is loaded only then; when it cannot be, headless.
TARVEX_API NativeUi& Ui();
// Installs a backend; returns the previous one.
TARVEX_API std::unique_ptr<NativeUi> SetUi(std::unique_ptr<NativeUi> ui);

}  // namespace tarvex::windows
