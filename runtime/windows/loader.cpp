// SPDX-License-Identifier: GPL-3.0-or-later
// Declaring windows and reports, and building them from their descriptions.
//
// Declaring (Vrn$pwopen and its siblings) records the module and structure names and a copy of
// the address list. Opening finds the module's description among the resources, copies the dump
// into the dump buffer, decodes the named structure (every offset checked), then builds: the
// window's fields, its menubar, the native window at its placed rectangle, its timer and its
// controls depth first, each control taking its bound addresses from the list in construction
// order. A description that is missing or damaged builds nothing and leaves error 529 with the
// reason; the run-time errors 501, 529 and 535 end the program as run-time errors do (when they
// return, in a program that is closing down, the half-built window is taken down again).
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <unordered_set>

#include "report/report_engine.h"
#include "tarvex/frame.h"
#include "tarvex/windows.h"
#include "windows/controls.h"
#include "windows/description.h"
#include "windows/events.h"
#include "windows/placement.h"
#include "windows/resources.h"
#include "windows/window_object.h"

TARVEX_API unsigned char* _dumpbase = nullptr;

namespace tarvex::windows {

namespace {

std::mutex declared_mutex;
std::vector<VrnWindowObject*> declared;

constexpr uint8_t Code(Kind kind) { return static_cast<uint8_t>(kind); }

// Kinds the control factory makes a control of; any other code (a band inside a window) yields none.
bool HasControlClass(uint8_t code) {
    switch (static_cast<Kind>(code)) {
    case Kind::Prompt: case Kind::StringText: case Kind::Text: case Kind::StringVar: case Kind::Button:
    case Kind::Check: case Kind::Option: case Kind::Radio: case Kind::Group: case Kind::Entry:
    case Kind::Line: case Kind::Box: case Kind::Graphic07: case Kind::Graphic27: case Kind::Spin:
    case Kind::List: case Kind::ListVariant: case Kind::Image: case Kind::Combo: case Kind::ComboVariant:
    case Kind::Bound11: case Kind::Graphic04: case Kind::Progress: case Kind::Sheet: case Kind::Tab:
        return true;
    // Embedded component controls are built by a hook; none is installed, so the hook refuses.
    case Kind::Ole:
    default: return false;
    }
}

// A damaged or missing description: nothing is built, and error 529 says why in ERROR().
void ReportUnopened(const std::string& reason) {
    Vrn$seterror(529);
    std::string text = "Unable to open WINDOW (" + reason + ")";
    std::memset(Vrn$ERRSTR, ' ', sizeof Vrn$ERRSTR);
    std::memcpy(Vrn$ERRSTR, text.data(), std::min(text.size(), sizeof Vrn$ERRSTR));
}

FontSpec FontOf(const FieldValue* value) {
    FontSpec font;
    if (value != nullptr && value->present) {
        font.face = value->text;
        font.points = value->numbers[0];
        font.colour = value->numbers[1];
        font.style = value->numbers[2];
    }
    return font;
}

std::array<int32_t, 4> AtOf(const Record& record) {
    std::array<int32_t, 4> at{};
    if (const FieldValue* value = record.Find(FieldType::At))
        for (int i = 0; i < 4; i++)
            at[i] = int32_t(value->numbers[i]);
    return at;
}

// The value of the kind's text field (the one written KEYWORD('text')), or empty.
std::string PositionalText(const Record& record) {
    if (record.spec == nullptr || record.spec->positional < 0)
        return {};
    const FieldValue& value = record.values[record.spec->positional];
    return value.present ? value.text : std::string();
}

const FieldValue* Named(const Record& record, std::string_view name) {
    if (record.spec == nullptr)
        return nullptr;
    for (size_t i = 0; i < record.spec->fields.size(); i++)
        if (record.spec->fields[i].name == name)
            return &record.values[i];
    return nullptr;
}

class Builder {
public:
    explicit Builder(VrnWindowObject& window) : w_(window) {}

    bool BuildWindow(const Record& record) {
        w_.flags = record.flags;
        w_.frame_flags = uint32_t(record.NumberAt(kWindowFlags2));
        w_.title = std::string(record.TextAt(kStructTitle));
        w_.message = SharedText(record.TextAt(kWindowMessage));
        w_.help = SharedText(record.TextAt(kWindowHelp));
        w_.icon = SharedText(record.TextAt(kWindowIcon));
        w_.image2 = SharedText(record.TextAt(kWindowImage2));
        w_.cursor_name = std::string(record.TextAt(kWindowCursor));
        if (const FieldValue* alerts = record.Find(FieldType::Alerts))
            w_.alert_keys = alerts->list;
        if (const FieldValue* wallpaper = record.Find(FieldType::Wallpaper); wallpaper && wallpaper->present) {
            w_.wallpaper_colour = wallpaper->numbers[0];
            w_.wallpaper_image = wallpaper->text;
        }
        w_.timer = uint32_t(record.NumberAt(kWindowTimer));
        w_.at = AtOf(record);
        font_ = FontOf(record.Find(FieldType::Font));

        // The menubar binds its checkable items first, in menu order.
        if (!record.menubar.empty()) {
            w_.menubar = std::make_unique<MenuEntry>();
            w_.menubar->kind = Code(Kind::Menubar);
            for (const Record& entry : record.menubar.front().children)
                if (!BuildMenu(entry, *w_.menubar))
                    return false;
        }

        w_.native_style = NativeStyleOf(w_.frame_flags, !w_.title.empty(), !w_.icon.empty());
        NativeUi& ui = Ui();
        NativeRect parent = ui.DesktopRect();
        NativeHandle parent_handle = 0;
        VrnWindowObject* frame = ApplicationFrame();
        if (frame != nullptr && frame != &w_ && frame->open) {
            parent_handle = frame->handle;
            if (w_.opening == Opening::Mdi) {
                w_.native_style |= kStyleMdiChild;
                parent = {0, 0, frame->rect.Width(), frame->rect.Height()};
            } else {
                parent = frame->rect;
            }
        }
        scale_.font = ui.Measure(font_);
        scale_.dpi_x = ui.DotsPerInchX();
        scale_.dpi_y = ui.DotsPerInchY();
        scale_.report = false;
        // The window's own units convert with this scale too (its position properties), controls
        // or none.
        ControlStateOf(w_).scale = scale_;
        w_.rect = PlaceWindow(w_.at, w_.flags, scale_, parent);

        NativeWindowSpec spec{w_.title, w_.native_style, parent_handle, w_.rect, std::string(w_.icon), font_};
        w_.handle = ui.CreateWindow(spec);
        if (w_.handle == 0) {
            Vrn$rterr(529, nullptr);
            return false;
        }
        w_.rect = ui.WindowRect(w_.handle);
        if (w_.timer != 0) {
            w_.timer_id = 1;
            ui.StartTimer(w_.handle, w_.timer_id, w_.timer * 10);
        }
        if (w_.menubar)
            CreateMenus(*w_.menubar, 0);
        for (const Record& child : record.children)
            if (!BuildControl(child, 0, w_.controls))
                return false;
        ui.WindowBuilt(w_.handle);
        return true;
    }

    bool BuildReport(const Record& record) {
        w_.flags = record.flags & (kUnitMask | kReportPreview);   // the preview queue is the engine's
        w_.title = std::string(record.TextAt(kStructTitle));
        w_.at = AtOf(record);
        if (const FieldValue* paper = record.Find(FieldType::Paper); paper && paper->present) {
            w_.paper_code = uint16_t(paper->numbers[0]);
            w_.paper_width = uint16_t(paper->numbers[1]);
            w_.paper_length = uint16_t(paper->numbers[2]);
        }
        for (const Record& band : record.children)
            if (!BuildBand(band, w_.bands))
                return false;
        return true;
    }

private:
    // Hands out the next address for a descriptor: 501 when the list has run out or the
    // descriptor names an array.
    bool Take(const FieldValue* descriptor, BoundVariable& out) {
        if (descriptor == nullptr || !descriptor->present)
            return true;
        if (descriptor->numbers[0] == kUseArray || w_.cursor >= w_.addresses.size()) {
            Vrn$rterr(501, nullptr);
            return false;
        }
        out = {w_.addresses[w_.cursor++], uint8_t(descriptor->numbers[0]), descriptor->numbers[1],
               descriptor->numbers[2]};
        return true;
    }

    bool BuildMenu(const Record& record, MenuEntry& parent) {
        if (record.code != Code(Kind::Menu) && record.code != Code(Kind::Item))
            return true;
        auto entry = std::make_unique<MenuEntry>();
        entry->kind = record.code;
        entry->field_number = int32_t(record.NumberAt(0x0d));
        entry->flags = record.flags;
        entry->text = PositionalText(record);
        entry->message = SharedText(record.TextAt(0x1d));
        entry->standard_action = int32_t(record.NumberAt(0x21));
        if (!Take(record.Find(FieldType::Use), entry->use))
            return false;
        MenuEntry& added = *parent.children.emplace_back(std::move(entry));
        for (const Record& child : record.children)
            if (!BuildMenu(child, added))
                return false;
        return true;
    }

    void CreateMenus(MenuEntry& entry, NativeHandle parent) {
        for (auto& child : entry.children) {
            NativeMenuSpec spec{child->kind, child->field_number, child->text,
                                (child->flags & kItemSeparator) != 0, parent, std::string(child->message)};
            child->handle = Ui().CreateMenuEntry(w_.handle, spec);
            CreateMenus(*child, child->handle);
        }
    }

    bool BuildControl(const Record& record, NativeHandle parent, std::vector<std::unique_ptr<Control>>& out) {
        if (record.spec == nullptr || record.spec->role != Role::Control || !HasControlClass(record.code))
            return true;
        auto control = std::make_unique<Control>();
        Control& c = *control;
        c.kind = record.code;
        c.field_number = int32_t(record.NumberAt(0x0d));
        c.flags = record.flags;
        c.at = AtOf(record);
        if (const FieldValue* picture = record.Find(FieldType::Picture); picture && picture->present)
            c.picture = picture->text;
        else
            c.text = PositionalText(record);
        if (const FieldValue* format = Named(record, "FORMAT"); format && format->present)
            c.format = format->text;
        if (const FieldValue* message = Named(record, "MSG"); message && message->present)
            c.message = SharedText(message->text);
        if (const FieldValue* action = Named(record, "STD"))
            c.standard_action = int32_t(action->number);
        if (!Take(record.Find(FieldType::Use), c.use))
            return false;
        // A FROM list of texts is bound to nothing; any other FROM (a queue) takes an address.
        if (const FieldValue* from = record.Find(FieldType::From); from && from->present) {
            if (from->numbers[0] == kUseText)
                c.from_text = from->text;
            else if (!Take(from, c.from))
                return false;
        }
        if (record.code == Code(Kind::StringVar)) {
            c.computed = uint8_t(record.NumberAt(0x35));
            c.driving_band = int32_t(record.NumberAt(0x36));
            if (!Take(Named(record, "ACCUM"), c.accumulated))
                return false;
            if (const FieldValue* refs = record.Find(FieldType::BandRefs))
                for (uint32_t band : refs->list)
                    c.band_references.push_back(int32_t(band));
        }
        if (w_.handle != 0) {
            c.rect = PlaceControl(c.at, w_.flags, scale_);
            NativeControlSpec spec{c.kind, c.field_number, c.text.empty() ? c.picture : c.text, c.rect,
                                   c.flags, parent};
            c.handle = Ui().CreateControl(w_.handle, spec);
        }
        Control& added = *out.emplace_back(std::move(control));
        added.parent = parent_control_;
        if (w_.handle != 0)
            AttachControlObject(w_, added, &record, scale_);
        Control* outer = parent_control_;
        parent_control_ = &added;
        bool built = true;
        for (const Record& child : record.children)
            if (built && !BuildControl(child, added.handle, added.children))
                built = false;
        parent_control_ = outer;
        return built;
    }

    bool BuildBand(const Record& record, std::vector<std::unique_ptr<Band>>& out) {
        if (record.spec == nullptr || record.spec->role != Role::Band)
            return true;
        auto band = std::make_unique<Band>();
        band->kind = record.code;
        band->field_number = int32_t(record.NumberAt(0x0d));
        band->flags = record.flags;
        band->at = AtOf(record);
        Band& added = *out.emplace_back(std::move(band));
        if (record.code == Code(Kind::BandGroup)) {
            if (!Take(record.Find(FieldType::Use), added.break_variable))
                return false;
            for (const Record& child : record.children)
                if (!BuildBand(child, added.bands))
                    return false;
            return true;
        }
        for (const Record& child : record.children)
            if (!BuildControl(child, 0, added.controls))
                return false;
        return true;
    }

    VrnWindowObject& w_;
    FontSpec font_;
    UnitScale scale_;
    Control* parent_control_ = nullptr;
};

}  // namespace

// Takes the native window down and forgets everything built from the description. A report's
// job is finished first (its last page printed, its temporary page files deleted).
void TakeDown(VrnWindowObject& w) {
    if (w.open)
        WindowClosing(w);
    if (w.IsReport())
        report::CloseReport(w);
    if (w.handle != 0)
        Ui().DestroyWindow(w.handle);
    w.handle = 0;
    w.open = false;
    w.menubar.reset();
    w.controls.clear();
    w.bands.clear();
    w.control_state.reset();
    w.alert_keys.clear();
    w.timer = 0;
    w.timer_id = 0;
    w.message = w.help = w.icon = w.image2 = {};
    w.cursor_name.clear();
    w.wallpaper_colour = 0xFFFFFFFF;
    w.wallpaper_image.clear();
    w.at = {kNotGiven, kNotGiven, kNotGiven, kNotGiven};
}

namespace {

void Declare(Opening opening, VrnWindowObject** variable, const char* module, const char* structure,
             va_list list) {
    std::vector<void*> addresses;
    for (void* address = va_arg(list, void*); address != nullptr; address = va_arg(list, void*))
        addresses.push_back(address);
    DeclareWindow(opening, variable, module, structure, addresses);
}

// An RAII dump buffer: the dump at offset 2, byte 0 set to 0, exported as _dumpbase while it lives.
class DumpBuffer {
public:
    explicit DumpBuffer(std::span<const uint8_t> dump) : buffer_(new uint8_t[dump.size() + kDumpBase]) {
        buffer_[0] = 0;
        std::memcpy(buffer_.get() + kDumpBase, dump.data(), dump.size());
        size_ = dump.size();
        _dumpbase = buffer_.get();
    }
    ~DumpBuffer() { _dumpbase = nullptr; }
    std::span<const uint8_t> Dump() const { return {buffer_.get() + kDumpBase, size_}; }

private:
    std::unique_ptr<uint8_t[]> buffer_;
    size_t size_ = 0;
};

}  // namespace

VrnWindowObject* DeclareWindow(Opening opening, VrnWindowObject** variable, std::string_view module,
                               std::string_view structure, std::span<void* const> addresses) {
    auto window = std::make_unique<VrnWindowObject>();
    if (opening == Opening::Application && ApplicationFrame() != nullptr)
        opening = Opening::Window;
    window->opening = opening;
    window->module = module;
    window->structure = structure;
    window->addresses.assign(addresses.begin(), addresses.end());
    VrnWindowObject* object = window.release();
    {
        std::lock_guard lock(declared_mutex);
        declared.push_back(object);
    }
    if (variable != nullptr)
        *variable = object;
    return object;
}

uint32_t NativeStyleOf(uint32_t frame, bool has_title, bool has_icon) {
    uint32_t style = kStyleClipChildren;
    if (frame & kFrameSystemMenu)
        style |= kStyleSystemMenu;
    if (frame & kFrameMaximizeBox)
        style |= kStyleSystemMenu | kStyleMaximizeBox;
    if (frame & kFrameOpenMinimized)
        style |= kStyleOpenMinimized;
    else if (frame & kFrameOpenMaximized)
        style |= kStyleOpenMaximized;
    switch (frame & kFrameBorderMask) {
    case kFrameResizable: style |= kStyleThickFrame | kStyleCaption; break;
    case kFrameDouble: style |= kStyleDialogFrame; break;
    case kFrameNone: style |= kStyleNoFrame; break;
    default: break;
    }
    if (has_icon)
        style |= kStyleSystemMenu | kStyleMinimizeBox;
    if (has_title && !(frame & kFrameNoCaption))
        style |= kStyleCaption;
    return style;
}

std::string_view SharedText(std::string_view text) {
    static std::mutex mutex;
    static auto* texts = new std::unordered_set<std::string>;
    if (text.empty())
        return {};
    std::lock_guard lock(mutex);
    return *texts->emplace(text).first;
}

std::vector<VrnWindowObject*> DeclaredWindows() {
    std::lock_guard lock(declared_mutex);
    return declared;
}

VrnWindowObject* ApplicationFrame() {
    std::lock_guard lock(declared_mutex);
    for (VrnWindowObject* window : declared)
        if (window->opening == Opening::Application)
            return window;
    return nullptr;
}

namespace {
Control* FindIn(std::vector<std::unique_ptr<Control>>& controls, int32_t field_number) {
    for (auto& control : controls) {
        if (control->field_number == field_number)
            return control.get();
        if (Control* found = FindIn(control->children, field_number))
            return found;
    }
    return nullptr;
}
Control* FindInBands(std::vector<std::unique_ptr<Band>>& bands, int32_t field_number) {
    for (auto& band : bands) {
        if (Control* found = FindIn(band->controls, field_number))
            return found;
        if (Control* found = FindInBands(band->bands, field_number))
            return found;
    }
    return nullptr;
}
}  // namespace

Control* FindControl(VrnWindowObject& window, int32_t field_number) {
    if (Control* found = FindIn(window.controls, field_number))
        return found;
    return FindInBands(window.bands, field_number);
}

}  // namespace tarvex::windows

using namespace tarvex::windows;

#define DECLARE_WITH(opening)                                                 \
    va_list addresses;                                                        \
    va_start(addresses, structure);                                           \
    Declare(opening, window, module ? module : "", structure ? structure : "", addresses); \
    va_end(addresses)

TARVEX_API void Vrn$pwopen(VrnWindowObject** window, const char* module, const char* structure, ...) {
    DECLARE_WITH(Opening::Window);
}
TARVEX_API void Vrn$pmopen(VrnWindowObject** window, const char* module, const char* structure, ...) {
    DECLARE_WITH(Opening::Mdi);
}
TARVEX_API void Vrn$paopen(VrnWindowObject** window, const char* module, const char* structure, ...) {
    DECLARE_WITH(Opening::Application);
}
TARVEX_API void Vrn$propen(VrnWindowObject** window, const char* module, const char* structure, ...) {
    DECLARE_WITH(Opening::Report);
}

TARVEX_API void Vrn$OPENwindow(VrnWindowObject* window) {
    if (window == nullptr)
        return;
    if (window->open) {
        Vrn$rterr(window->IsReport() ? 525 : 535, nullptr);
        return;
    }
    FoundResource found = FindModuleDescriptions(window->module);
    if (found.module == nullptr) {
        ReportUnopened("no description of this module");
        return;
    }
    std::string_view embedded;
    std::span<const uint8_t> dump;
    SplitResource(found.bytes, embedded, dump);
    Record record;
    std::string error;
    {
        DumpBuffer buffer(dump);
        if (!DecodeStructure(buffer.Dump(), window->structure, record, error)) {
            ReportUnopened(error.empty() ? "no structure of this name" : error);
            return;
        }
    }
    bool report = record.code == static_cast<uint8_t>(Kind::Report);
    if (report != window->IsReport()) {
        ReportUnopened(report ? "a REPORT opened as a window" : "a WINDOW opened as a report");
        return;
    }
    TakeDown(*window);
    window->resource_module = found.module;
    window->cursor = 0;
    Builder builder(*window);
    bool built = report ? builder.BuildReport(record) && tarvex::report::OpenReport(*window) : builder.BuildWindow(record);
    if (!built) {
        TakeDown(*window);
        return;
    }
    window->open = true;
    Vrn$clearerror();
    WindowOpened(*window);
}

TARVEX_API void Vrn$freewindow(VrnWindowObject** variable) {
    if (variable == nullptr || *variable == nullptr)
        return;
    VrnWindowObject* window = *variable;
    {
        std::lock_guard lock(declared_mutex);
        auto it = std::find(declared.begin(), declared.end(), window);
        if (it == declared.end())
            return;   // not a window of ours (or freed already): nothing to free
        declared.erase(it);
    }
    TakeDown(*window);
    delete window;
    *variable = nullptr;
}
