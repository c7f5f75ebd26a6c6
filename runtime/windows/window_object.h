// SPDX-License-Identifier: GPL-3.0-or-later
// The objects the loader builds from a description: the window (or report) object with its
// menubar, its controls and, for a report, its bands. Each keeps what it needs of its record, so
// the dump buffer can go once the window is built. Bound variables are the program's addresses
// paired with the record's USE descriptor.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tarvex/resources.h"
#include "tarvex/windows.h"
#include "windows/native_ui.h"
#include "windows/window_events.h"

namespace tarvex::windows {

class ControlObject;
struct WindowControlState;
// The live objects are defined with the controls; these free them where they are complete.
struct ControlObjectDeleter {
    void operator()(ControlObject* object) const;
};
struct WindowControlStateDeleter {
    void operator()(WindowControlState* state) const;
};

// A program variable bound to a control: its address and the descriptor of its type.
struct BoundVariable {
    void* address = nullptr;
    uint8_t type = 0;             // value-type code; 0x1a a queue
    uint32_t size = 0;
    uint32_t places = 0;
    bool Bound() const { return address != nullptr; }
};

// One control of a window or of a report band.
struct Control {
    uint8_t kind = 0;
    int32_t field_number = 0;
    uint32_t flags = 0;
    std::array<int32_t, 4> at{};          // as the description gives it (0x80000000: not given)
    NativeRect rect;                      // in pixels, for controls of a window
    std::string text;                     // its text, as shown
    std::string picture;                  // without the '@'
    std::string format;                   // a LIST's format string
    std::string_view message;             // status-bar text, in the shared text table
    BoundVariable use;
    BoundVariable from;                   // a LIST's queue
    std::string from_text;                // a text FROM list
    uint8_t computed = 0;                 // report STRING: kind of computed value
    int32_t driving_band = 0;
    BoundVariable accumulated;
    std::vector<int32_t> band_references;
    int32_t standard_action = 0;          // BUTTON
    NativeHandle handle = 0;
    std::vector<std::unique_ptr<Control>> children;
    // The live control object (controls.h): what the control does; null in report bands.
    std::unique_ptr<ControlObject, ControlObjectDeleter> object;
    Control* parent = nullptr;            // the GROUP, OPTION, SHEET or TAB holding it
};

struct MenuEntry {
    uint8_t kind = 0;                     // MENU or ITEM (or the MENUBAR at the root)
    int32_t field_number = 0;
    uint32_t flags = 0;
    std::string text;
    std::string_view message;
    int32_t standard_action = 0;
    BoundVariable use;
    NativeHandle handle = 0;
    std::vector<std::unique_ptr<MenuEntry>> children;
};

struct Band {
    uint8_t kind = 0;
    int32_t field_number = 0;
    uint32_t flags = 0;
    std::array<int32_t, 4> at{};
    BoundVariable break_variable;         // a band group's
    std::vector<std::unique_ptr<Control>> controls;
    std::vector<std::unique_ptr<Band>> bands;   // a band group's own bands
};

enum class Opening : uint8_t { Window, Mdi, Application, Report };

}  // namespace tarvex::windows

// The window object behind the program's window variable.
struct VrnWindowObject {
    tarvex::windows::Opening opening = tarvex::windows::Opening::Window;
    std::string module;
    std::string structure;
    std::vector<void*> addresses;         // the bound addresses, without the null that ended them
    size_t cursor = 0;                    // the next address to hand out

    bool open = false;
    tarvex::windows::NativeHandle handle = 0;
    const VrnResourceTable* resource_module = nullptr;   // where the description came from

    uint32_t flags = 0;                   // flags 1 (a report keeps only the unit bits)
    uint32_t frame_flags = 0;             // flags 2
    uint32_t native_style = 0;
    std::array<int32_t, 4> at{};
    tarvex::windows::NativeRect rect;
    std::string title;                    // a report's job name
    std::string_view message;             // shared texts
    std::string_view help;
    std::string_view icon;
    std::string_view image2;
    std::string cursor_name;
    std::vector<uint32_t> alert_keys;
    uint32_t timer = 0;                   // hundredths of a second
    int32_t timer_id = 0;
    uint32_t wallpaper_colour = 0xFFFFFFFF;
    std::string wallpaper_image;
    uint16_t paper_code = 0, paper_width = 0, paper_length = 0;
    std::unique_ptr<tarvex::windows::MenuEntry> menubar;
    std::vector<std::unique_ptr<tarvex::windows::Control>> controls;
    std::vector<std::unique_ptr<tarvex::windows::Band>> bands;
    tarvex::windows::WindowEvents events;
    // What the controls keep for the window (controls.h); made on first use.
    std::unique_ptr<tarvex::windows::WindowControlState, tarvex::windows::WindowControlStateDeleter> control_state;

    bool IsReport() const { return opening == tarvex::windows::Opening::Report; }
};

namespace tarvex::windows {

// Declares a window as Vrn$pwopen and its siblings do, with the addresses as a list (no null at
// its end): C++ callers and the benchmarks bind long lists this way.
VrnWindowObject* DeclareWindow(Opening opening, VrnWindowObject** variable, std::string_view module,
                               std::string_view structure, std::span<void* const> addresses);

// The native style of a window from its flags 2 (the frame word), its title and its icon.
uint32_t NativeStyleOf(uint32_t frame_flags, bool has_title, bool has_icon);

// Equal texts are stored once for the life of the process (messages, help keywords, image names).
std::string_view SharedText(std::string_view text);

// The declared window objects, in declaration order.
std::vector<VrnWindowObject*> DeclaredWindows();
// The APPLICATION frame while one is open, else null.
VrnWindowObject* ApplicationFrame();

// Takes the window's native window and controls down and forgets what was built from its
// description; the object stays declared.
void TakeDown(VrnWindowObject& window);

// Finds a control by field number, depth first.
Control* FindControl(VrnWindowObject& window, int32_t field_number);

}  // namespace tarvex::windows
