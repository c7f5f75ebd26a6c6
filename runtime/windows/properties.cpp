// SPDX-License-Identifier: GPL-3.0-or-later
// Properties: the names, what controls and windows answer, and the property statements
// (Vrn$GetPropS and its siblings, declared in tarvex/controls.h).
#include "windows/properties.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>

#include "core/string_stack.h"
#include "core/ufo.h"
#include "report/printer.h"
#include "report/report_engine.h"
#include "tarvex/controls.h"
#include "tarvex/frame.h"
#include "windows/controls.h"
#include "windows/list_box.h"
#include "windows/value_text.h"

namespace tarvex::windows {

namespace {

struct PropertyName {
    std::string_view name;
    int32_t number;
};

constexpr PropertyName kPropertyNames[] = {
    {"TEXT", kPropText}, {"TYPE", kPropType}, {"XPOS", 0x7C02}, {"YPOS", 0x7C03}, {"WIDTH", 0x7C04},
    {"HEIGHT", 0x7C05}, {"FONTNAME", 0x7C10}, {"FONTSIZE", 0x7C11}, {"FONTCOLOR", 0x7C12},
    {"FONTSTYLE", 0x7C13}, {"RANGELOW", kPropRangeLow}, {"RANGEHIGH", kPropRangeHigh}, {"MSG", kPropMsg},
    {"DEFAULT", kPropDefault}, {"DISABLE", kPropDisable}, {"CURSOR", kPropCursor}, {"HIDE", kPropHide},
    {"HLP", kPropHelp}, {"REQ", kPropRequired}, {"ICON", kPropIcon}, {"ICONIZE", kPropIconize},
    {"READONLY", kPropReadOnly}, {"MAXIMIZE", kPropMaximize}, {"KEY", kPropKey}, {"FORMAT", kPropFormat},
    {"SCREENVALUE", kPropValue}, {"IMM", kPropImmediate}, {"ITEMS", kPropItems}, {"SELECTED", kPropSelected},
    {"ACCEPTALL", kPropAcceptAll}, {"VSCROLLPOS", kPropVScrollPos}, {"TIP", kPropTip},
    {"VISIBLE", kPropVisible}, {"ENABLED", kPropEnabled}, {"RESIZE", kPropResizable},
    {"MAXIMIZED", kPropMaximized}, {"ICONIZED", kPropMinimized}, {"STATUSTEXT", kPropStatusText},
    {"FROM", kPropFrom}, {"SCREENTEXT", kPropScreenText}, {"FEQ", kPropFeq}, {"AUTOWIDTH", kPropAutoWidth},
    {"AUTOHEIGHT", kPropAutoHeight}, {"STRINGS", kPropWindowString}, {"ALRT", kPropAlertKey},
    {"ICONS", kPropListIcons},
};

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

int32_t PropertyNamed(std::string_view name) {
    name = Trim(name);
    for (const PropertyName& entry : kPropertyNames)
        if (SameName(entry.name, name))
            return entry.number;
    return 0;
}

int32_t PropertyNumber(std::string_view text) {
    text = Trim(text);
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || value > INT32_MAX || value < INT32_MIN)
        return 0;
    (void)end;
    return int32_t(value);
}

std::string BoolText(bool value) { return value ? "1" : ""; }

// ---- Controls -------------------------------------------------------------------------------------

std::optional<std::string> ControlObject::GetProperty(int32_t number) {
    switch (number) {
    case kPropText: return GetText();
    case kPropType: return std::to_string(c_.kind);
    case kPropFeq: return std::to_string(c_.field_number);
    case kPropMsg: return std::string(c_.message);
    case kPropDisable: return BoolText(Dimmed());
    case kPropHide: return BoolText(Hidden());
    case kPropCursor: return cursor_;
    case kPropHelp: return std::string(keyword_);
    case kPropKey: return std::string(keyword2_);
    case kPropRequired: return BoolText(c_.flags & kControlRequired);
    case kPropImmediate: return BoolText(c_.flags & kControlImmediate);
    case kPropReadOnly: return BoolText(c_.flags & kControlReadOnly);
    case kPropTip: return tip_;
    case kPropVisible: return BoolText(Visible());
    case kPropEnabled: return BoolText(Enabled());
    case kPropFontName: return font_.face;
    case kPropFontName + 1: return std::to_string(font_.points);
    case kPropFontName + 2: return std::to_string(font_.colour);
    case kPropFontStyle: return std::to_string(font_.style);
    default: break;
    }
    if (number >= kPropXPos && number <= kPropHeight)
        return std::to_string(GetPosition()[size_t(number - kPropXPos)]);
    return PropertyObject::GetProperty(number);
}

bool ControlObject::SetProperty(int32_t number, std::string_view value) {
    switch (number) {
    case kPropText: SetText(value); return true;
    case kPropMsg: c_.message = SharedText(value); return true;
    case kPropDisable: Dim(PropertyNumber(value) != 0); return true;
    case kPropHide: Hide(PropertyNumber(value) != 0); return true;
    case kPropCursor: cursor_ = std::string(value); return true;
    case kPropHelp: keyword_ = SharedText(value); return true;
    case kPropKey: keyword2_ = SharedText(value); return true;
    case kPropTip:
        // An empty text takes the tip away (harmless when there was none).
        tip_ = std::string(value);
        Ui().SetControlTip(c_.handle, tip_);
        return true;
    case kPropAutoWidth:
    case kPropAutoHeight: {
        uint32_t bit = number == kPropAutoWidth ? kAutoWidth : kAutoHeight;
        flags2_ = PropertyNumber(value) != 0 ? flags2_ | bit : flags2_ & ~bit;
        Relayout();
        return true;
    }
    case kPropFontName: case kPropFontName + 1: case kPropFontName + 2: case kPropFontStyle: {
        FontSpec font = font_;
        if (number == kPropFontName)
            font.face = std::string(value);
        else if (number == kPropFontName + 1)
            font.points = uint32_t(PropertyNumber(value));
        else if (number == kPropFontName + 2)
            font.colour = uint32_t(PropertyNumber(value));
        else
            font.style = uint32_t(PropertyNumber(value));
        SetFont(font);
        return true;
    }
    default: break;
    }
    if (number >= kPropXPos && number <= kPropHeight) {
        std::array<int32_t, 4> at = GetPosition();
        size_t i = size_t(number - kPropXPos);
        at[i] = PropertyNumber(value);
        if (i >= 2 && at[i] != kNotGiven)   // a size written as a number is fixed from now on
            flags2_ &= ~(i == 2 ? kAutoWidth : kAutoHeight);
        if (i < 2) {
            at[2] = (flags2_ & kAutoWidth) ? kNotGiven : at[2];
            at[3] = (flags2_ & kAutoHeight) ? kNotGiven : at[3];
        }
        SetPosition(at[0], at[1], at[2], at[3]);
        return true;
    }
    return PropertyObject::SetProperty(number, value);
}

std::optional<std::string> ControlObject::GetIndexProperty(int32_t number, int32_t index) {
    if (number == kPropAlertKey) {
        if (index < 0 || size_t(index) >= alert_keys_.size())
            return std::string();
        return std::to_string(alert_keys_[size_t(index)]);
    }
    return PropertyObject::GetIndexProperty(number, index);
}

namespace {
// Alert keys by index: 254 (255 as written) appends, another index replaces that key.
void SetAlertKey(std::vector<uint32_t>& keys, int32_t index, std::string_view value) {
    uint32_t key = uint32_t(PropertyNumber(value));
    if (index == kAlertAppendIndex || index < 0) {
        if (std::find(keys.begin(), keys.end(), key) == keys.end())
            keys.push_back(key);
    } else if (size_t(index) < keys.size()) {
        keys[size_t(index)] = key;
    } else if (index < kAlertAppendIndex) {
        keys.push_back(key);
    }
}
}  // namespace

bool ControlObject::SetIndexProperty(int32_t number, int32_t index, std::string_view value) {
    if (number == kPropAlertKey) {
        SetAlertKey(alert_keys_, index, value);
        return true;
    }
    return PropertyObject::SetIndexProperty(number, index, value);
}

std::optional<std::string> FieldObject::GetProperty(int32_t number) {
    if ((number == kPropScreenText || number == kPropValue) && c_.use.Bound())
        return FormatValue(ValueOf(c_.use), nullptr);
    return ControlObject::GetProperty(number);
}

bool FieldObject::SetFieldProperty(int32_t number, const BoundVariable& field) {
    if (number != kPropScreenText && number != kPropValue)
        return ControlObject::SetFieldProperty(number, field);
    // Bound only: the next DISPLAY shows the variable, the next UPDATE fills it.
    c_.use = field;
    return true;
}

// ---- Windows --------------------------------------------------------------------------------------

namespace {

class WindowProperties : public PropertyObject {
public:
    explicit WindowProperties(VrnWindowObject& w) : w_(w) {}
    bool IsScreen() const override { return !w_.IsReport(); }
    bool IsRepScreen() const override { return w_.IsReport(); }
    bool IsReport() const override { return w_.IsReport(); }
    bool IsMDI() const override { return w_.opening == Opening::Mdi; }
    bool IsFrame() const override { return w_.opening == Opening::Application; }

    std::optional<std::string> GetProperty(int32_t number) override {
        WindowControlState& state = ControlStateOf(w_);
        switch (number) {
        case kPropText: return w_.title;
        case kPropFeq: return std::string("0");
        case kPropMsg: return std::string(w_.message);
        case kPropHelp: return std::string(w_.help);
        case kPropKey: return std::string(state.keyword2);
        case kPropIcon: return std::string(w_.icon);
        case kPropCursor: return w_.cursor_name;
        case kPropIconize: return BoolText(w_.frame_flags & 0x8000);
        case kPropMaximize: return BoolText(w_.frame_flags & 0x4000);
        case kPropAcceptAll:
            return BoolText(Hooks().accept_all ? Hooks().accept_all(w_) : state.accept_all);
        case kPropResizable: return BoolText((w_.frame_flags & 0x60) == 0x20);
        case kPropMaximized: return BoolText(Ui().WindowState(w_.handle) == NativeWindowState::Maximized);
        case kPropMinimized: return BoolText(Ui().WindowState(w_.handle) == NativeWindowState::Minimized);
        case kPropStatusText: return state.status_text;
        case kPropVScrollPos: return std::to_string(scroll_);
        default: break;
        }
        if (number >= kPropXPos && number <= kPropHeight) {
            // Where the window is now: a person may have moved or sized it.
            NativeRect r = Ui().WindowRect(w_.handle);
            int32_t pixels[4] = {r.left, r.top, r.Width(), r.Height()};
            size_t i = size_t(number - kPropXPos);
            Axis axis = i % 2 == 0 ? Axis::Horizontal : Axis::Vertical;
            int32_t one = ToPixels(1000, w_.flags & kUnitMask, axis, state.scale);
            return std::to_string(one == 0 ? pixels[i] : int32_t((int64_t(pixels[i]) * 1000 + one / 2) / one));
        }
        return std::nullopt;
    }

    bool SetProperty(int32_t number, std::string_view value) override {
        WindowControlState& state = ControlStateOf(w_);
        switch (number) {
        case kPropText:
            w_.title = std::string(value);
            Ui().SetWindowTitle(w_.handle, w_.title);
            return true;
        case kPropMsg: w_.message = SharedText(value); return true;
        case kPropHelp: w_.help = SharedText(value); return true;
        case kPropKey: state.keyword2 = SharedText(value); return true;
        case kPropIcon: w_.icon = SharedText(value); return true;
        case kPropCursor:
            w_.cursor_name = std::string(value);
            Ui().SetWindowCursor(w_.handle, w_.cursor_name);
            return true;
        case kPropAcceptAll:
            if (Hooks().set_accept_all)
                Hooks().set_accept_all(w_, PropertyNumber(value) != 0);
            else
                state.accept_all = PropertyNumber(value) != 0;
            return true;
        case kPropMaximized:
        case kPropMinimized: {
            bool on = PropertyNumber(value) != 0;
            NativeWindowState target = number == kPropMaximized ? NativeWindowState::Maximized : NativeWindowState::Minimized;
            if (on)
                Ui().SetWindowState(w_.handle, target);
            else if (Ui().WindowState(w_.handle) == target)
                Ui().SetWindowState(w_.handle, NativeWindowState::Normal);
            return true;
        }
        case kPropStatusText:
            state.status_text = std::string(value);
            Ui().SetStatusText(w_.handle, state.status_text);
            return true;
        case kPropVScrollPos: scroll_ = PropertyNumber(value); return true;
        default: break;
        }
        if (number >= kPropXPos && number <= kPropHeight) {
            size_t i = size_t(number - kPropXPos);
            Axis axis = i % 2 == 0 ? Axis::Horizontal : Axis::Vertical;
            int32_t pixels = ToPixels(PropertyNumber(value), w_.flags & kUnitMask, axis, state.scale);
            NativeRect& r = w_.rect;
            r = Ui().WindowRect(w_.handle);
            if (i == 0) { int32_t width = r.Width(); r.left = pixels; r.right = pixels + width; }
            if (i == 1) { int32_t height = r.Height(); r.top = pixels; r.bottom = pixels + height; }
            if (i == 2) r.right = r.left + pixels;
            if (i == 3) r.bottom = r.top + pixels;
            Ui().SetWindowRect(w_.handle, r);
            return true;
        }
        return false;
    }

    std::optional<std::string> GetIndexProperty(int32_t number, int32_t index) override {
        WindowControlState& state = ControlStateOf(w_);
        if (number == kPropWindowString)
            return index >= 0 && size_t(index) < state.strings.size() ? state.strings[size_t(index)] : std::string();
        if (number == kPropAlertKey)
            return index >= 0 && size_t(index) < w_.alert_keys.size() ? std::to_string(w_.alert_keys[size_t(index)])
                                                                      : std::string();
        return std::nullopt;
    }

    bool SetIndexProperty(int32_t number, int32_t index, std::string_view value) override {
        WindowControlState& state = ControlStateOf(w_);
        if (number == kPropWindowString) {
            size_t slot = index < 0 ? 0 : size_t(index);
            if (slot > 1024)   // a few strings, not a store for everything
                return false;
            if (state.strings.size() <= slot)
                state.strings.resize(slot + 1);
            state.strings[slot] = std::string(value);
            return true;
        }
        if (number == kPropAlertKey) {
            SetAlertKey(w_.alert_keys, index, value);
            return true;
        }
        return false;
    }

private:
    VrnWindowObject& w_;
    int32_t scroll_ = 0;
};

// ---- Reports and the printer -------------------------------------------------------------------

// A report answers its own properties (preview, page number, job name, its printer settings)
// through the report engine, and a window's for the rest.
class ReportProperties final : public WindowProperties {
public:
    explicit ReportProperties(VrnWindowObject& report) : WindowProperties(report), report_(report) {}

    std::optional<std::string> GetProperty(int32_t number) override {
        std::string value;
        if (report::GetReportProperty(report_, number, &value))
            return value;
        return WindowProperties::GetProperty(number);
    }
    bool SetProperty(int32_t number, std::string_view value) override {
        return report::SetReportProperty(report_, number, value) || WindowProperties::SetProperty(number, value);
    }
    bool SetFieldProperty(int32_t number, const BoundVariable& field) override {
        if (number != report::kPropPreviewQueue)
            return WindowProperties::SetFieldProperty(number, field);
        report::BindPreviewField(report_, field.address, field.type, field.size);
        return true;
    }
    bool SetQueueProperty(int32_t number, QueueDecl* queue) override {
        if (number != report::kPropPreviewQueue || queue == nullptr)
            return WindowProperties::SetQueueProperty(number, queue);
        report::BindPreviewQueue(report_, queue, nullptr, VRN_TYPE_STRING, 0);
        return true;
    }

private:
    VrnWindowObject& report_;
};

// The printer object: the printer settings that reports opened from now on start from.
class PrinterProperties final : public PropertyObject {
public:
    std::optional<std::string> GetProperty(int32_t number) override {
        std::string value;
        if (report::GetPrinterObjectProperty(number, &value))
            return value;
        return PropertyObject::GetProperty(number);
    }
    bool SetProperty(int32_t number, std::string_view value) override {
        return report::SetPrinterObjectProperty(number, value) || PropertyObject::SetProperty(number, value);
    }
};

}  // namespace

std::unique_ptr<PropertyObject> WindowPropertiesOf(VrnWindowObject& window) {
    if (window.IsReport())
        return std::make_unique<ReportProperties>(window);
    return std::make_unique<WindowProperties>(window);
}

PropertyObject& PrinterObject() {
    static PrinterProperties printer;   // made on first use
    return printer;
}

// ---- Resolution -----------------------------------------------------------------------------------

namespace {

// The window a target argument names: the current target for 0; null when there is none or the
// pointer is not one of the runtime's windows.
VrnWindowObject* WindowOf(VrnWindowObject* target) {
    if (target == nullptr)
        return TargetWindow();
    std::vector<VrnWindowObject*> windows = DeclaredWindows();
    return std::find(windows.begin(), windows.end(), target) != windows.end() ? target : nullptr;
}

// Where a property statement goes: the object (owned here for a window's own properties).
struct Resolved {
    PropertyObject* object = nullptr;
    std::unique_ptr<PropertyObject> owned;
    int32_t number = 0;
    int32_t index = -1;   // for numbers from 0x7D00 up
};

bool Resolve(int32_t field, int32_t index, VrnWindowObject* target, std::string_view property, Resolved& out) {
    int32_t number = PropertyNumber(property);
    if (number < kFirstNumericProperty)
        number = PropertyNamed(property);
    if (number < kFirstNumericProperty)
        return false;
    // In 64 bits: a stray index must not wrap a number round into another property.
    if (number < kPropIndexed) {
        if (index > 0) {
            int64_t counted = int64_t(number) + index - 1;
            if (counted > INT32_MAX)
                return false;
            number = int32_t(counted);
        }
    } else {
        out.index = index > 0 ? index - 1 : -1;
    }
    out.number = number;

    if (target == VRN_TARGET_PRINTER) {
        out.object = &PrinterObject();
        return true;
    }
    if (target == VRN_TARGET_SYSTEM) {
        out.object = &SystemObject();
        return true;
    }
    VrnWindowObject* window = WindowOf(target);
    if (window == nullptr)
        return false;
    if (!window->open) {
        Vrn$rterr(536, nullptr);
        return false;
    }
    // The runtime lock is held by whoever runs program code, so a window owned by the frame's
    // thread is safe to reach from here: its thread waits for input while we hold the lock.
    if (field == 0) {
        out.owned = WindowPropertiesOf(*window);
        out.object = out.owned.get();
        return true;
    }
    Control* control = FindControl(*window, field);
    if (control == nullptr || !control->object)
        return false;
    out.object = control->object.get();
    return true;
}

std::optional<std::string> Get(Resolved& r) {
    return r.number >= kPropIndexed ? r.object->GetIndexProperty(r.number, r.index) : r.object->GetProperty(r.number);
}

void Set(Resolved& r, std::string_view value) {
    if (r.number >= kPropIndexed)
        r.object->SetIndexProperty(r.number, r.index, value);
    else
        r.object->SetProperty(r.number, value);
}

}  // namespace

}  // namespace tarvex::windows

using namespace tarvex::windows;

TARVEX_API void Vrn$GetPropS(int32_t field, int32_t index, VrnWindowObject* target) {
    std::string property = tarvex::PopStdString();
    Resolved r;
    std::optional<std::string> value;
    if (Resolve(field, index, target, property, r))
        value = Get(r);
    tarvex::PushCopy(value.value_or(std::string()));
}

TARVEX_API void Vrn$SetPropS(int32_t field, int32_t index, VrnWindowObject* target) {
    std::string value = tarvex::PopStdString();
    std::string property = tarvex::PopStdString();
    Resolved r;
    if (Resolve(field, index, target, property, r))
        Set(r, value);
}

TARVEX_API void Vrn$SetPropV(int32_t field, int32_t index, VrnWindowObject* target, Ufo* value) {
    std::string property = tarvex::PopStdString();
    Resolved r;
    if (value == nullptr || !Resolve(field, index, target, property, r))
        return;
    value->Push();
    Set(r, tarvex::PopStdString());
}

TARVEX_API void Vrn$SetPropF(int32_t field, int32_t index, VrnWindowObject* target, Ufo* variable) {
    std::string property = tarvex::PopStdString();
    Resolved r;
    if (variable == nullptr || !Resolve(field, index, target, property, r))
        return;
    BoundVariable bound{variable->Address(), uint8_t(variable->Type()), variable->Size(),
                        uint32_t(dynamic_cast<tarvex::VarUfo*>(variable) ? dynamic_cast<tarvex::VarUfo*>(variable)->Places() : 0)};
    r.object->SetFieldProperty(r.number, bound);
}

TARVEX_API void Vrn$SetPropQ(int32_t field, int32_t index, VrnWindowObject* target, QueueDecl* queue) {
    std::string property = tarvex::PopStdString();
    Resolved r;
    if (Resolve(field, index, target, property, r))
        r.object->SetQueueProperty(r.number, queue);
}

TARVEX_API void Vrn$DoProp(int32_t field, int32_t index, VrnWindowObject* target) {
    std::string property = tarvex::PopStdString();
    Resolved r;
    if (Resolve(field, index, target, property, r))
        r.object->DoProperty(r.number, r.index);
}
