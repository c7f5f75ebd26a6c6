// SPDX-License-Identifier: GPL-3.0-or-later
// The control statements (tarvex/controls.h): ranges of controls hidden, dimmed, displayed,
// updated and erased; a control changed, moved, its font; controls made and destroyed at run
// time; pop-up menus; the choice of a control.
#include <algorithm>
#include <cstring>
#include <functional>

#include "core/string_stack.h"
#include "tarvex/controls.h"
#include "tarvex/frame.h"
#include "windows/controls.h"
#include "windows/description_format.h"
#include "windows/properties.h"

namespace tarvex::windows {

namespace {

void Walk(std::vector<std::unique_ptr<Control>>& controls, const std::function<void(Control&)>& visit) {
    for (auto& control : controls) {
        visit(*control);
        Walk(control->children, visit);
    }
}

// The target window when it is an open window (the statements do nothing on a report).
VrnWindowObject* TargetScreen() {
    VrnWindowObject* window = TargetWindow();
    return window != nullptr && window->open && !window->IsReport() ? window : nullptr;
}

// A range of field numbers: first 0 is every control, last 0 is first, and the two are swapped
// when first is greater.
struct FieldRange {
    int32_t first, last;
    bool all;
    FieldRange(int32_t from, int32_t to) : first(from), last(to == 0 ? from : to), all(from == 0) {
        if (first > last)
            std::swap(first, last);
    }
    bool Holds(int32_t field) const { return all || (field >= first && field <= last); }
};

// Each control of the target window whose field number lies in the range, in construction order.
void ForRange(int32_t first, int32_t last, const std::function<void(ControlObject&)>& action) {
    VrnWindowObject* window = TargetScreen();
    if (window == nullptr)
        return;
    FieldRange range(first, last);
    Walk(window->controls, [&](Control& control) {
        if (control.object && range.Holds(control.field_number))
            action(*control.object);
    });
}

ControlObject* TargetControl(int32_t field) {
    VrnWindowObject* window = TargetScreen();
    if (window == nullptr)
        return nullptr;
    Control* control = FindControl(*window, field);
    return control ? control->object.get() : nullptr;
}

int32_t HighestField(std::vector<std::unique_ptr<Control>>& controls) {
    int32_t highest = 0;
    Walk(controls, [&](Control& control) { highest = std::max(highest, control.field_number); });
    return highest;
}

// Takes the controls of the range out of the tree (their children with them).
void DestroyIn(std::vector<std::unique_ptr<Control>>& controls, const FieldRange& range, WindowControlState& state) {
    for (auto it = controls.begin(); it != controls.end();) {
        Control& control = **it;
        if (range.Holds(control.field_number)) {
            Walk(control.children, [&](Control& child) { Ui().DestroyControl(child.handle); });
            Ui().DestroyControl(control.handle);
            if (state.default_button == control.field_number)
                state.default_button = 0;
            it = controls.erase(it);
            continue;
        }
        DestroyIn(control.children, range, state);
        ++it;
    }
}

// Whether a control of `kind` may be made inside `holder` (null: the window itself). Only the
// controls that hold others take children: a GROUP or TAB anything but a RADIO or TAB, an OPTION
// its RADIOs (and what a GROUP may hold), a SHEET only its TABs; a RADIO or TAB goes nowhere else.
bool MayHold(const Control* holder, uint8_t kind) {
    bool radio = kind == uint8_t(Kind::Radio), tab = kind == uint8_t(Kind::Tab);
    if (holder == nullptr)
        return !radio && !tab;
    switch (static_cast<Kind>(holder->kind)) {
    case Kind::Sheet: return tab;
    case Kind::Option: return !tab;
    case Kind::Group: case Kind::Tab: return !radio && !tab;
    default: return false;
    }
}

// Where a control made at `position` goes among `count` siblings: position n (from 1) before the
// nth, held to the end; 0 or less at the end.
size_t PlaceAmong(size_t count, int32_t position) {
    if (position <= 0)
        return count;
    return std::min(count, size_t(position - 1));
}

// One item of a pop-up menu text.
NativePopupItem PopupItem(std::string_view text) {
    NativePopupItem item;
    if (text == "-") {
        item.separator = true;
        return item;
    }
    while (!text.empty() && (text[0] == '~' || text[0] == '+')) {
        (text[0] == '~' ? item.enabled : item.checked) = text[0] == '+';
        text.remove_prefix(1);
    }
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '&' && i + 1 < text.size())
            i++;
        else if (text[i] == '&')
            continue;
        item.text += text[i];
    }
    return item;
}

}  // namespace

}  // namespace tarvex::windows

using namespace tarvex::windows;

TARVEX_API void Vrn$HIDE(int32_t first, int32_t last) {
    ForRange(first, last, [](ControlObject& c) { c.Hide(true); });
}
TARVEX_API void Vrn$UNHIDE(int32_t first, int32_t last) {
    ForRange(first, last, [](ControlObject& c) { c.Hide(false); });
}
TARVEX_API void Vrn$DISABLE(int32_t first, int32_t last) {
    ForRange(first, last, [](ControlObject& c) { c.Dim(true); });
}
TARVEX_API void Vrn$ENABLE(int32_t first, int32_t last) {
    ForRange(first, last, [](ControlObject& c) { c.Dim(false); });
}
TARVEX_API void Vrn$DISPLAY(int32_t first, int32_t last) {
    ForRange(first, last, [](ControlObject& c) { c.Display(); });
}
TARVEX_API void Vrn$UPDATE(int32_t first, int32_t last) {
    ForRange(first, last, [](ControlObject& c) { c.Update(); });
}
TARVEX_API void Vrn$ERASE(int32_t first, int32_t last) {
    ForRange(first, last, [](ControlObject& c) { c.Erase(); });
}

TARVEX_API void Vrn$CHANGE(int32_t field) {
    std::string value = tarvex::PopStdString();
    if (ControlObject* control = TargetControl(field))
        control->Change(value);
}

TARVEX_API void Vrn$SETPOSITION(int32_t field, int32_t x, int32_t y, int32_t width, int32_t height) {
    ControlObject* control = TargetControl(field);
    if (control == nullptr)
        return;
    std::array<int32_t, 4> at = control->GetPosition();
    std::array<int32_t, 4> given{x, y, width, height};
    for (size_t i = 0; i < 4; i++)
        if (given[i] != kNotGiven)
            at[i] = given[i];
    control->SetPosition(at[0], at[1], at[2], at[3]);
}

TARVEX_API void Vrn$GETPOSITION(int32_t field, int32_t* x, int32_t* y, int32_t* width, int32_t* height) {
    ControlObject* control = TargetControl(field);
    std::array<int32_t, 4> at{};
    if (control != nullptr)
        at = control->GetPosition();
    int32_t* out[4] = {x, y, width, height};
    for (size_t i = 0; i < 4; i++)
        if (out[i] != nullptr)
            *out[i] = at[i];
}

TARVEX_API void Vrn$SETFONT(int32_t field, const char* face, int32_t size, uint32_t colour, int32_t style) {
    ControlObject* control = TargetControl(field);
    if (control == nullptr)
        return;
    FontSpec font = control->GetFont();
    if (face != nullptr)
        font.face = face;
    if (size > 0)
        font.points = uint32_t(size);
    if (colour != 0xFFFFFFFF)
        font.colour = colour;
    if (style != 0)
        font.style = uint32_t(style);
    control->SetFont(font);
}

TARVEX_API void Vrn$GETFONT(int32_t field, char* face, uint32_t face_size, int32_t* size, uint32_t* colour,
                            int32_t* style) {
    ControlObject* control = TargetControl(field);
    FontSpec font = control ? control->GetFont() : FontSpec{};
    if (face != nullptr && face_size > 0) {
        size_t n = std::min<size_t>(font.face.size(), face_size - 1);
        std::memcpy(face, font.face.data(), n);
        face[n] = '\0';
    }
    if (size)
        *size = int32_t(font.points);
    if (colour)
        *colour = font.colour;
    if (style)
        *style = int32_t(font.style);
}

TARVEX_API int32_t Vrn$CREATE(int32_t field, int32_t kind, int32_t parent, int32_t position) {
    if (Hooks().system_modal != nullptr && Hooks().system_modal()) {
        Vrn$rterr(541, nullptr);
        return 0;
    }
    VrnWindowObject* window = TargetScreen();
    if (window == nullptr || kind <= 0 || kind > 0xFF || field < 0)
        return 0;
    const KindSpec* spec = FindKind(uint8_t(kind));
    if (spec == nullptr || spec->role != Role::Control)
        return 0;
    if (field == 0)
        field = HighestField(window->controls) + 1;
    if (field <= 0 || FindControl(*window, field) != nullptr)   // past the numbers, or taken
        return 0;
    Control* holder = parent != 0 ? FindControl(*window, parent) : nullptr;
    if ((parent != 0 && holder == nullptr) || !MayHold(holder, uint8_t(kind)))
        return 0;
    std::vector<std::unique_ptr<Control>>& siblings = holder ? holder->children : window->controls;
    size_t place = PlaceAmong(siblings.size(), position);

    auto control = std::make_unique<Control>();
    control->kind = uint8_t(kind);
    control->field_number = field;
    control->flags = kControlHidden;
    // It starts at its parent's corner (the window's for none), its size from its contents.
    std::array<int32_t, 4> corner{0, 0, 0, 0};
    if (holder != nullptr && holder->object)
        corner = holder->object->GetPosition();
    control->at = {corner[0], corner[1], kNotGiven, kNotGiven};
    control->parent = holder;
    NativeControlSpec native{control->kind, field, "", {}, control->flags, holder ? holder->handle : 0,
                             position > 0 && place < siblings.size() ? int32_t(place + 1) : 0};
    control->handle = Ui().CreateControl(window->handle, native);
    if (control->handle == 0)
        return 0;
    Control& added = **siblings.insert(siblings.begin() + std::ptrdiff_t(place), std::move(control));
    AttachControlObject(*window, added, nullptr, ControlStateOf(*window).scale);
    if (added.object)
        added.object->Relayout();
    return field;
}

TARVEX_API void Vrn$DESTROY(int32_t first, int32_t last) {
    if (VrnWindowObject* window = TargetScreen())
        DestroyIn(window->controls, FieldRange(first, last), ControlStateOf(*window));
}

TARVEX_API int32_t Vrn$POPUP(void) {
    std::string text = tarvex::PopStdString();
    std::vector<NativePopupItem> items;
    for (size_t start = 0; start <= text.size();) {
        size_t bar = text.find('|', start);
        std::string_view part = std::string_view(text).substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (!part.empty())
            items.push_back(PopupItem(part));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    VrnWindowObject* window = TargetWindow();
    if (items.empty() || window == nullptr)
        return 0;
    return Ui().PopupMenu(window->handle, items);
}

TARVEX_API int32_t Vrn$CHOICE(int32_t field) {
    VrnWindowObject* window = TargetWindow();
    if (window == nullptr || !window->open)
        return 0;
    if (field == 0 && Hooks().current_field != nullptr)
        field = Hooks().current_field(*window);
    Control* control = FindControl(*window, field);
    return control && control->object ? control->object->Choice() : 0;
}
