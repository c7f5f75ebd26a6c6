// SPDX-License-Identifier: GPL-3.0-or-later
// The control classes (controls.h): the common control and field behaviour, one class per kind,
// the factory, and what the event loop asks of the controls (control_model.h).
#include "windows/controls.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "core/picture.h"
#include "tarvex/type_descriptor.h"
#include "windows/description.h"
#include "windows/list_box.h"
#include "windows/properties.h"
#include "windows/value_text.h"

namespace tarvex::windows {

void ControlObjectDeleter::operator()(ControlObject* object) const { delete object; }
void WindowControlStateDeleter::operator()(WindowControlState* state) const { delete state; }

// ---- Hooks ----------------------------------------------------------------------------------------

namespace {

std::mutex hooks_mutex;
ControlEventHooks installed_hooks;

VrnWindowObject* LastOpenWindow() {
    std::vector<VrnWindowObject*> windows = DeclaredWindows();
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if ((*it)->open && !(*it)->IsReport())
            return *it;
    return nullptr;
}


// Virtual-key codes the controls handle themselves.
constexpr uint32_t kKeyEnter = 0x0d;
constexpr uint32_t kKeySpace = 0x20;
constexpr uint32_t kKeyPageUp = 0x21;
constexpr uint32_t kKeyPageDown = 0x22;
constexpr uint32_t kKeyEnd = 0x23;
constexpr uint32_t kKeyHome = 0x24;
constexpr uint32_t kKeyLeft = 0x25;
constexpr uint32_t kKeyUp = 0x26;
constexpr uint32_t kKeyRight = 0x27;
constexpr uint32_t kKeyDown = 0x28;
constexpr uint32_t kLeftDoubleClick = 5;

}  // namespace

// Menu and control texts mark their hot key with '&' ("&&" is a plain '&').
std::string WithoutHotKey(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '&' && i + 1 < text.size()) {
            out += text[++i];
            continue;
        }
        if (text[i] != '&')
            out += text[i];
    }
    return out;
}

ControlEventHooks SetControlEventHooks(const ControlEventHooks& hooks) {
    std::lock_guard lock(hooks_mutex);
    return std::exchange(installed_hooks, hooks);
}

const ControlEventHooks& Hooks() { return installed_hooks; }

void PostFor(VrnWindowObject& window, Control* control, int32_t event) {
    if (Hooks().post != nullptr) {
        Hooks().post(window, control, event);
        return;
    }
    ControlStateOf(window).posted.push_back({control ? control->field_number : 0, event});
}

VrnWindowObject* TargetWindow() {
    if (Hooks().target_window != nullptr)
        return Hooks().target_window();
    return LastOpenWindow();
}

std::vector<PostedControlEvent> PostedControlEvents(VrnWindowObject& window) {
    return ControlStateOf(window).posted;
}
void ClearPostedControlEvents(VrnWindowObject& window) { ControlStateOf(window).posted.clear(); }

WindowControlState& ControlStateOf(VrnWindowObject& window) {
    if (!window.control_state)
        window.control_state.reset(new WindowControlState);
    return *window.control_state;
}

// ---- PropertyObject: answers nothing of its own --------------------------------------------------

std::optional<std::string> PropertyObject::GetProperty(int32_t) { return std::nullopt; }
bool PropertyObject::SetProperty(int32_t, std::string_view) { return false; }
std::optional<std::string> PropertyObject::GetIndexProperty(int32_t, int32_t) { return std::nullopt; }
bool PropertyObject::SetIndexProperty(int32_t, int32_t, std::string_view) { return false; }
bool PropertyObject::SetQueueProperty(int32_t, QueueDecl*) { return false; }
bool PropertyObject::SetFieldProperty(int32_t, const BoundVariable&) { return false; }
bool PropertyObject::DoProperty(int32_t, int32_t) { return false; }

// ---- ControlObject --------------------------------------------------------------------------------

ControlObject::ControlObject(VrnWindowObject& window, Control& control) : w_(window), c_(control) {}

UnitScale ControlObject::Scale() const { return ControlStateOf(w_).scale; }

void ControlObject::Post(int32_t event) { PostFor(w_, &c_, event); }

void ControlObject::ShowText(const std::string& text) { Ui().SetControlText(c_.handle, text); }

void ControlObject::SetText(std::string_view text) {
    c_.text = std::string(text);
    ShowText(c_.text);
    if (flags2_ & (kAutoWidth | kAutoHeight))
        Relayout();
}

void ControlObject::Hide(bool hidden) {
    c_.flags = hidden ? (c_.flags | kControlHidden) : (c_.flags & ~kControlHidden);
    Ui().SetControlVisible(c_.handle, Visible());
    // The children show only while every parent shows.
    for (auto& child : c_.children)
        if (child->object)
            child->object->Hide(child->object->Hidden());
}

void ControlObject::Dim(bool dimmed) {
    c_.flags = dimmed ? (c_.flags | kControlDisabled) : (c_.flags & ~kControlDisabled);
    Ui().SetControlEnabled(c_.handle, Enabled());
    for (auto& child : c_.children)
        if (child->object)
            child->object->Dim(child->object->Dimmed());
}

bool ControlObject::Visible() const {
    for (const Control* c = &c_; c != nullptr; c = c->parent)
        if (c->flags & kControlHidden)
            return false;
    return true;
}

bool ControlObject::Enabled() const {
    for (const Control* c = &c_; c != nullptr; c = c->parent)
        if (c->flags & kControlDisabled)
            return false;
    return true;
}

int32_t ControlObject::DefaultWidth() const {
    FontMetrics metrics = Ui().Measure(font_);
    size_t shown = 0;
    for (char ch : c_.text)
        shown += ch != '&';
    return int32_t(shown) * metrics.average_width + 8;
}

int32_t ControlObject::DefaultHeight() const {
    FontMetrics metrics = Ui().Measure(font_);
    return metrics.height + 4;
}

void ControlObject::Relayout() {
    uint32_t unit = w_.flags & kUnitMask;
    UnitScale scale = Scale();
    NativeRect rect = PlaceControl(c_.at, unit, scale);
    if ((flags2_ & kAutoWidth) || c_.at[2] == kNotGiven)
        rect.right = rect.left + DefaultWidth();
    if ((flags2_ & kAutoHeight) || c_.at[3] == kNotGiven)
        rect.bottom = rect.top + DefaultHeight();
    c_.rect = rect;
    Ui().SetControlRect(c_.handle, rect);
}

void ControlObject::SetPosition(int32_t x, int32_t y, int32_t width, int32_t height) {
    std::array<int32_t, 4> values{x, y, width, height};
    for (int i = 0; i < 4; i++)
        c_.at[i] = values[i];
    flags2_ = width == kNotGiven ? flags2_ | kAutoWidth : flags2_ & ~kAutoWidth;
    flags2_ = height == kNotGiven ? flags2_ | kAutoHeight : flags2_ & ~kAutoHeight;
    Relayout();
}

std::array<int32_t, 4> ControlObject::GetPosition() const {
    // Values not given (automatic sizes) are read back from the pixels the control has.
    std::array<int32_t, 4> at = c_.at;
    uint32_t unit = w_.flags & kUnitMask;
    UnitScale scale = Scale();
    int32_t pixels[4] = {c_.rect.left, c_.rect.top, c_.rect.Width(), c_.rect.Height()};
    for (int i = 0; i < 4; i++) {
        bool automatic = (i == 2 && (flags2_ & kAutoWidth)) || (i == 3 && (flags2_ & kAutoHeight));
        if (at[i] != kNotGiven && !automatic)
            continue;
        Axis axis = (i % 2 == 0) ? Axis::Horizontal : Axis::Vertical;
        int32_t one = ToPixels(1000, unit, axis, scale);
        at[i] = one == 0 ? pixels[i] : int32_t((int64_t(pixels[i]) * 1000 + one / 2) / one);
    }
    return at;
}

void ControlObject::SetFont(const FontSpec& font) {
    font_ = font;
    Ui().SetControlFont(c_.handle, font_);
    if (flags2_ & (kAutoWidth | kAutoHeight))
        Relayout();
}

// ---- FieldObject ----------------------------------------------------------------------------------

StoredValue ValueOf(const BoundVariable& variable) {
    uint32_t size = variable.size;
    // A bound decimal's descriptor counts digits; its storage holds two to a byte and the sign.
    if (variable.type == VRN_TYPE_DECIMAL || variable.type == VRN_TYPE_PDECIMAL)
        size = variable.size / 2 + 1;
    return {variable.address, variable.type, size, variable.places};
}

bool FieldObject::Incomplete() {
    if (!(c_.flags & kControlRequired))
        return false;
    if (c_.use.Bound())
        return ValueEmpty(ValueOf(c_.use));
    return c_.text.find_first_not_of(' ') == std::string::npos;
}

bool FieldObject::Completed() {
    Post(kEventAccepted);
    return true;
}

namespace {


std::string_view TrimBlanks(std::string_view text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

// ---- Kinds without a variable ---------------------------------------------------------------------

// PROMPT, constant STRING, RADIO, GROUP, TAB, IMAGE and the graphics: text, position, font, states.
class PlainControl : public ControlObject {
public:
    using ControlObject::ControlObject;
};

class GraphicControl : public ControlObject {
public:
    using ControlObject::ControlObject;
    int32_t DefaultWidth() const override { return 1; }
    int32_t DefaultHeight() const override { return 1; }
};

class ImageControl : public ControlObject {
public:
    ImageControl(VrnWindowObject& w, Control& c, std::string image) : ControlObject(w, c), image_(std::move(image)) {}
    std::optional<std::string> GetProperty(int32_t number) override {
        if (number == kPropIcon)
            return image_;
        return ControlObject::GetProperty(number);
    }
    bool SetProperty(int32_t number, std::string_view value) override {
        if (number != kPropIcon)
            return ControlObject::SetProperty(number, value);
        image_ = std::string(value);
        ShowText(image_);
        return true;
    }

private:
    std::string image_;
};

// ---- A variable shown through a picture -----------------------------------------------------------

// A STRING showing a variable: the variable formatted through the picture.
class StringVarControl : public ControlObject {
public:
    StringVarControl(VrnWindowObject& w, Control& c) : ControlObject(w, c) { picture_.Init(std::string_view(c.picture)); }
    void Display() override {
        if (!c_.use.Bound())
            return;
        c_.text = FormatValue(ValueOf(c_.use), c_.picture.empty() ? nullptr : &picture_);
        ShowText(c_.text);
    }
    int32_t DefaultWidth() const override {
        FontMetrics metrics = Ui().Measure(font_);
        return int32_t(picture_.IsValid() ? picture_.Width() : c_.text.size()) * metrics.average_width + 4;
    }

protected:
    PicDesc picture_;
};

// ENTRY, SPIN, TEXT: the variable through the picture; typed text is read back when completed.
class EntryControl : public FieldObject {
public:
    EntryControl(VrnWindowObject& w, Control& c) : FieldObject(w, c) {
        picture_.Init(std::string_view(c.picture));
        // The backend stops the person at the picture's width; Typed holds whatever arrives to it.
        if (Picture() != nullptr)
            Ui().SetEntryLimit(c.handle, TypedTextLimit(picture_));
    }

    void Display() override {
        if (!c_.use.Bound())
            return;
        c_.text = FormatValue(ValueOf(c_.use), Picture());
        ShowText(c_.text);
        typed_ = false;
    }
    void Update() override {
        if (c_.use.Bound() && Fits(c_.text))
            StoreValueText(ValueOf(c_.use), Picture(), c_.text);
    }
    void Change(std::string_view value) override {
        if (!c_.use.Bound()) {
            SetText(value);
            return;
        }
        StoreValueText(ValueOf(c_.use), Picture(), value);
        Display();
    }
    void Erase() override {
        if (c_.use.Bound())
            ClearValue(ValueOf(c_.use));
        c_.text.clear();
        ShowText(c_.text);
    }
    void Typed(std::string_view text) override {
        c_.text = std::string(Picture() ? LimitTypedText(text, TypedTextLimit(picture_)) : text);
        ShowText(c_.text);
        typed_ = true;
    }
    bool Completed() override {
        if (!Fits(c_.text)) {
            Display();   // the variable keeps its value and shows it again
            Post(kEventRejected);
            return false;
        }
        if (c_.use.Bound() && typed_) {
            StoreValueText(ValueOf(c_.use), Picture(), c_.text);
            Display();
        }
        Post(kEventAccepted);
        return true;
    }
    int32_t DefaultWidth() const override {
        FontMetrics metrics = Ui().Measure(font_);
        return int32_t(picture_.IsValid() ? picture_.Width() : 10) * metrics.average_width + 8;
    }
    std::optional<std::string> GetProperty(int32_t number) override {
        if (number == kPropScreenText)
            return c_.text;
        return FieldObject::GetProperty(number);
    }

protected:
    const PicDesc* Picture() const { return c_.picture.empty() ? nullptr : &picture_; }
    bool Fits(std::string_view text) const { return !Picture() || TextFitsPicture(picture_, text); }

    PicDesc picture_;
    bool typed_ = false;
};

// SPIN: an entry with a range; the arrow keys step the value within it.
class SpinControl : public EntryControl {
public:
    using EntryControl::EntryControl;
    std::optional<std::string> GetProperty(int32_t number) override {
        if (number == kPropRangeLow)
            return std::to_string(low_);
        if (number == kPropRangeHigh)
            return std::to_string(high_);
        return EntryControl::GetProperty(number);
    }
    bool SetProperty(int32_t number, std::string_view value) override {
        if (number != kPropRangeLow && number != kPropRangeHigh)
            return EntryControl::SetProperty(number, value);
        (number == kPropRangeLow ? low_ : high_) = PropertyNumber(value);
        Ui().SetControlRange(c_.handle, low_, high_);
        return true;
    }
    bool Key(uint32_t key) override {
        if ((key != kKeyUp && key != kKeyDown) || !c_.use.Bound())
            return false;
        int32_t current = PropertyNumber(FormatValue(ValueOf(c_.use), nullptr));
        int32_t next = std::clamp(current + (key == kKeyUp ? 1 : -1), std::min(low_, high_), std::max(low_, high_));
        StoreValueText(ValueOf(c_.use), nullptr, std::to_string(next));
        Display();
        Ui().SetControlValue(c_.handle, next);
        Post(kEventNewSelection);
        return true;
    }

private:
    int32_t low_ = 0, high_ = 100;
};

// ---- Buttons and choices ----------------------------------------------------------------------------

class ButtonControl : public FieldObject {
public:
    ButtonControl(VrnWindowObject& w, Control& c, std::string icon) : FieldObject(w, c), icon_(std::move(icon)) {}
    std::optional<std::string> GetProperty(int32_t number) override {
        if (number == kPropDefault)
            return std::string(ControlStateOf(w_).default_button == c_.field_number ? "1" : "");
        if (number == kPropIcon)
            return icon_;
        return FieldObject::GetProperty(number);
    }
    bool SetProperty(int32_t number, std::string_view value) override {
        if (number == kPropDefault) {
            MakeDefault(PropertyNumber(value) != 0);
            return true;
        }
        if (number == kPropIcon) {
            icon_ = std::string(value);
            return true;
        }
        return FieldObject::SetProperty(number, value);
    }
    void MakeDefault(bool on) {
        WindowControlState& state = ControlStateOf(w_);
        if (on)
            state.default_button = c_.field_number;
        else if (state.default_button == c_.field_number)
            state.default_button = 0;
        Ui().SetDefaultButton(w_.handle, state.default_button == c_.field_number ? c_.handle : 0);
    }
    bool Key(uint32_t key) override {
        if (key != kKeyEnter && key != kKeySpace)
            return false;
        Post(kEventAccepted);
        return true;
    }

private:
    std::string icon_;
};

// CHECK: the variable holds the checked or the clear value ("Y"/"N"), or is non-zero / zero.
class CheckControl : public FieldObject {
public:
    CheckControl(VrnWindowObject& w, Control& c, std::string on, std::string off)
        : FieldObject(w, c), on_(std::move(on)), off_(std::move(off)) {}
    void Display() override {
        if (!c_.use.Bound())
            return;
        std::string value = FormatValue(ValueOf(c_.use), nullptr);
        checked_ = on_.empty() && off_.empty() ? !ValueEmpty(ValueOf(c_.use)) && value != "0"
                                               : TrimBlanks(value) == TrimBlanks(on_);
        Ui().SetControlValue(c_.handle, checked_ ? 1 : 0);
    }
    void Update() override {
        if (!c_.use.Bound())
            return;
        bool flags = on_.empty() && off_.empty();
        StoreValueText(ValueOf(c_.use), nullptr, flags ? std::string(checked_ ? "1" : "0") : checked_ ? on_ : off_);
    }
    void Change(std::string_view value) override {
        if (c_.use.Bound()) {
            StoreValueText(ValueOf(c_.use), nullptr, value);
            Display();
        }
    }
    void Erase() override {
        if (c_.use.Bound())
            ClearValue(ValueOf(c_.use));
        checked_ = false;
        Ui().SetControlValue(c_.handle, 0);
    }
    int32_t Choice() const override { return checked_ ? 1 : 0; }
    bool Key(uint32_t key) override {
        if (key != kKeySpace)
            return false;
        checked_ = !checked_;
        Ui().SetControlValue(c_.handle, checked_ ? 1 : 0);
        Update();
        Post(kEventAccepted);
        return true;
    }

private:
    std::string on_, off_;
    bool checked_ = false;
};

// A field whose value is a choice among its children (OPTION, SHEET), read and set as 0x7C8F.
class ChoiceField : public FieldObject {
public:
    using FieldObject::FieldObject;
    int32_t Choice() const override { return choice_; }
    // The user (or the program, through the property) picks child n.
    virtual void Choose(int32_t n) = 0;
    std::optional<std::string> GetProperty(int32_t number) override {
        if (number == kPropSelected)
            return std::to_string(choice_);
        return FieldObject::GetProperty(number);
    }
    bool SetProperty(int32_t number, std::string_view value) override {
        if (number != kPropSelected)
            return FieldObject::SetProperty(number, value);
        Choose(PropertyNumber(value));
        return true;
    }

protected:
    int32_t choice_ = 0;
};

// OPTION: its RADIOs; the variable holds the chosen radio's text (without the hot-key mark).
class OptionControl : public ChoiceField {
public:
    using ChoiceField::ChoiceField;
    std::vector<Control*> Radios() const {
        std::vector<Control*> radios;
        for (auto& child : c_.children)
            if (child->kind == uint8_t(Kind::Radio))
                radios.push_back(child.get());
        return radios;
    }
    void Display() override {
        if (!c_.use.Bound())
            return;
        std::string value(TrimBlanks(FormatValue(ValueOf(c_.use), nullptr)));
        choice_ = 0;
        std::vector<Control*> radios = Radios();
        for (size_t i = 0; i < radios.size(); i++)
            if (TrimBlanks(WithoutHotKey(radios[i]->text)) == value)
                choice_ = int32_t(i + 1);
        Ui().SetControlValue(c_.handle, choice_);
    }
    void Update() override {
        std::vector<Control*> radios = Radios();
        if (c_.use.Bound() && choice_ >= 1 && size_t(choice_) <= radios.size())
            StoreValueText(ValueOf(c_.use), nullptr, WithoutHotKey(radios[size_t(choice_ - 1)]->text));
    }
    void Change(std::string_view value) override {
        if (!c_.use.Bound())
            return;
        StoreValueText(ValueOf(c_.use), nullptr, value);
        Display();
    }
    void Erase() override {
        if (c_.use.Bound())
            ClearValue(ValueOf(c_.use));
        choice_ = 0;
        Ui().SetControlValue(c_.handle, 0);
    }
    void Choose(int32_t n) override {
        if (n < 1 || size_t(n) > Radios().size())
            return;
        choice_ = n;
        Ui().SetControlValue(c_.handle, choice_);
        Update();
        Post(kEventAccepted);
    }
};

// SHEET: its TABs; the variable (a number) holds the chosen tab.
class SheetControl : public ChoiceField {
public:
    SheetControl(VrnWindowObject& w, Control& c) : ChoiceField(w, c) { choice_ = 1; }
    int32_t Tabs() const {
        return int32_t(std::count_if(c_.children.begin(), c_.children.end(),
                                     [](const auto& child) { return child->kind == uint8_t(Kind::Tab); }));
    }
    void Display() override {
        if (!c_.use.Bound())
            return;
        Select(PropertyNumber(FormatValue(ValueOf(c_.use), nullptr)), false);
    }
    void Update() override {
        if (c_.use.Bound())
            StoreValueText(ValueOf(c_.use), nullptr, std::to_string(choice_));
    }
    void Change(std::string_view value) override {
        Select(PropertyNumber(value), false);
        Update();
    }
    void Erase() override { Select(1, false); }
    void Choose(int32_t n) override { Select(n, true); }
    void Select(int32_t tab, bool post) {
        if (Tabs() == 0)
            return;
        tab = std::clamp(tab, 1, Tabs());
        bool changed = tab != choice_;
        choice_ = tab;
        Ui().SetControlValue(c_.handle, choice_);
        if (post && changed) {
            Update();
            Post(kEventNewSelection);
        }
    }
};

// PROGRESS: the variable's value within the range.
class ProgressControl : public ControlObject {
public:
    ProgressControl(VrnWindowObject& w, Control& c, int32_t low, int32_t high) : ControlObject(w, c), low_(low), high_(high) {}
    void Display() override {
        if (!c_.use.Bound())
            return;
        position_ = std::clamp(PropertyNumber(FormatValue(ValueOf(c_.use), nullptr)), std::min(low_, high_),
                               std::max(low_, high_));
        Ui().SetControlValue(c_.handle, position_);
    }
    std::optional<std::string> GetProperty(int32_t number) override {
        if (number == kPropRangeLow)
            return std::to_string(low_);
        if (number == kPropRangeHigh)
            return std::to_string(high_);
        if (number == kPropValue || number == kPropScreenText)
            return std::to_string(position_);
        return ControlObject::GetProperty(number);
    }
    bool SetProperty(int32_t number, std::string_view value) override {
        if (number != kPropRangeLow && number != kPropRangeHigh)
            return ControlObject::SetProperty(number, value);
        (number == kPropRangeLow ? low_ : high_) = PropertyNumber(value);
        Ui().SetControlRange(c_.handle, low_, high_);
        return true;
    }

private:
    int32_t low_, high_;
    int32_t position_ = 0;
};

// ---- LIST ------------------------------------------------------------------------------------------

class ListControl : public FieldObject {
public:
    ListControl(VrnWindowObject& w, Control& c) : FieldObject(w, c) {
        FontMetrics metrics = Ui().Measure(font_);
        average_ = ControlStateOf(w).scale.font.average_width;
        if (average_ == 0)
            average_ = metrics.average_width;
        line_height_ = ControlStateOf(w).scale.font.height;
        if (line_height_ == 0)
            line_height_ = metrics.height;
        list_.SetFormat(c.format, average_);
        if (c.from.Bound() && c.from.type == kUseQueue)
            list_.SetQueue(static_cast<QueueDecl*>(c.from.address));
        list_.SetGeometry(c.rect.Height(), line_height_);
    }
    ListBox& List() { return list_; }

    // Shows the page as it stands.
    void Show() {
        NativeListView view = list_.View();
        view.scrolls = view.scrolls || (c_.flags & kControlImmediate) != 0;
        Ui().SetListView(c_.handle, view);
    }

    bool ResizeColumn(int32_t column, int32_t pixels) {
        if (column < 0 || !list_.ResizeColumn(size_t(column), pixels))
            return false;
        c_.format = list_.FormatText();
        Show();
        return true;
    }
    bool ScrollColumn(int32_t column, int32_t offset) {
        if (column < 0 ? !list_.ScrollColumns(offset) : !list_.ScrollColumn(size_t(column), offset))
            return false;
        Show();
        return true;
    }
    void Display() override {
        if (c_.use.Bound() && list_.Records() > 0)
            list_.Select(PropertyNumber(FormatValue(ValueOf(c_.use), nullptr)));
        Show();
    }
    void Update() override {
        if (c_.use.Bound())
            StoreValueText(ValueOf(c_.use), nullptr, std::to_string(list_.Selected()));
    }
    void Erase() override {
        list_.Select(1);
        Show();
    }
    int32_t Choice() const override { return list_.Selected(); }

    // Selects a row as the user or the program does: shown, and NewSelection when it moved.
    void SelectRow(int32_t row) {
        if (list_.Select(row))
            Post(kEventNewSelection);
        Show();
    }

    bool Key(uint32_t key) override {
        uint32_t plain = key & 0xFF;
        if (key == kLeftDoubleClick || plain == kKeyEnter) {
            Post(kEventAccepted);
            return true;
        }
        if (c_.flags & kControlImmediate)
            return ImmediateKey(key, plain);
        int32_t page = list_.PageRows();
        int32_t selected = list_.Selected();
        switch (plain) {
        case kKeyUp: SelectRow(selected - 1); return true;
        case kKeyDown: SelectRow(selected + 1); return true;
        case kKeyPageUp: list_.ScrollTo(list_.Top() - page); SelectRow(selected - page); return true;
        case kKeyPageDown: list_.ScrollTo(list_.Top() + page); SelectRow(selected + page); return true;
        case kKeyHome: SelectRow(1); return true;
        case kKeyEnd: SelectRow(list_.Records()); return true;
        case kKeyLeft: return ScrollColumns(-average_);
        case kKeyRight: return ScrollColumns(average_);
        default: break;
        }
        return false;
    }

    std::optional<std::string> GetProperty(int32_t number) override {
        switch (number) {
        case kPropSelected: return std::to_string(list_.Selected());
        case kPropItems: return std::to_string(list_.PageRows());
        case kPropVScrollPos: return std::to_string(list_.Thumb());
        case kPropFormat: return list_.FormatText();
        case kPropValue: return std::to_string(list_.Selected());
        case kPropFrom: return list_.Queue() ? std::to_string(list_.Records()) : std::string();
        default: return FieldObject::GetProperty(number);
        }
    }
    bool SetProperty(int32_t number, std::string_view value) override {
        switch (number) {
        case kPropSelected: SelectRow(PropertyNumber(value)); return true;
        case kPropVScrollPos: list_.SetThumb(PropertyNumber(value)); Show(); return true;
        case kPropFormat:
            c_.format = std::string(value);
            list_.SetFormat(c_.format, average_);
            list_.SetGeometry(c_.rect.Height(), line_height_);
            Show();
            return true;
        case kPropHeight:
            if (!FieldObject::SetProperty(number, value))
                return false;
            list_.SetGeometry(c_.rect.Height(), line_height_);
            Show();
            return true;
        default: return FieldObject::SetProperty(number, value);
        }
    }
    // The icons by index (counted from 0 here: the program's index 1 is icon 1).
    std::optional<std::string> GetIndexProperty(int32_t number, int32_t index) override {
        if (number != kPropListIcons)
            return FieldObject::GetIndexProperty(number, index);
        return list_.Icon(index + 1);
    }
    bool SetIndexProperty(int32_t number, int32_t index, std::string_view value) override {
        if (number != kPropListIcons)
            return FieldObject::SetIndexProperty(number, index, value);
        if (!list_.SetIcon(index + 1, value))
            return false;
        Show();
        return true;
    }
    bool SetQueueProperty(int32_t number, QueueDecl* queue) override {
        if (number != kPropFrom)
            return FieldObject::SetQueueProperty(number, queue);
        list_.SetQueue(queue);
        Show();
        return true;
    }

private:
    // Left and Right scroll the contents of every S column by a character; false when there is none.
    bool ScrollColumns(int32_t by) {
        bool any = false;
        for (size_t i = 0; i < list_.Format().columns.size(); i++)
            any = list_.ScrollColumn(i, list_.ColumnScroll(i) + by) || any;
        if (any)
            Show();
        return any;
    }

    // A list whose program pages the queue: the keys become the scroll events, the program moves.
    bool ImmediateKey(uint32_t key, uint32_t plain) {
        bool ctrl = (key & 0x200) != 0;
        switch (plain) {
        case kKeyUp: Post(kEventScrollUp); return true;
        case kKeyDown: Post(kEventScrollDown); return true;
        case kKeyPageUp: Post(ctrl ? kEventScrollTop : kEventPageUp); return true;
        case kKeyPageDown: Post(ctrl ? kEventScrollBottom : kEventPageDown); return true;
        case kKeyHome: Post(kEventScrollTop); return true;
        case kKeyEnd: Post(kEventScrollBottom); return true;
        default: break;
        }
        // A printable key starts a locate.
        if (key < 0x100 && ((plain >= '0' && plain <= '9') || (plain >= 'A' && plain <= 'Z'))) {
            Post(kEventLocate);
            return true;
        }
        return false;
    }

    ListBox list_;
    int32_t average_ = 6;
    int32_t line_height_ = 13;
};

}  // namespace

// ---- The factory ------------------------------------------------------------------------------------

void AttachControlObject(VrnWindowObject& window, Control& control, const Record* record, const UnitScale& scale) {
    WindowControlState& state = ControlStateOf(window);
    state.scale = scale;
    std::unique_ptr<ControlObject> object;
    auto text_at = [record](uint32_t offset) { return record ? std::string(record->TextAt(offset)) : std::string(); };
    switch (static_cast<Kind>(control.kind)) {
    case Kind::StringVar:
        object = std::make_unique<StringVarControl>(window, control);
        break;
    case Kind::Entry: case Kind::Text: case Kind::Bound11:
        object = std::make_unique<EntryControl>(window, control);
        break;
    case Kind::Spin:
        object = std::make_unique<SpinControl>(window, control);
        break;
    case Kind::Button: {
        auto button = std::make_unique<ButtonControl>(window, control, text_at(0x49));
        if (record && (record->NumberAt(0x55) & 1))
            button->MakeDefault(true);
        object = std::move(button);
        break;
    }
    case Kind::Check:
        object = std::make_unique<CheckControl>(window, control, text_at(0x55), text_at(0x59));
        break;
    case Kind::Option:
        object = std::make_unique<OptionControl>(window, control);
        break;
    case Kind::Sheet:
        object = std::make_unique<SheetControl>(window, control);
        break;
    case Kind::List: case Kind::ListVariant: case Kind::Combo: case Kind::ComboVariant:
        object = std::make_unique<ListControl>(window, control);
        break;
    case Kind::Progress: {
        int32_t low = 0, high = 100;
        if (const FieldValue* range = record ? record->Find(FieldType::Range) : nullptr; range && range->present) {
            low = int32_t(range->numbers[0]);
            high = int32_t(range->numbers[1]);
        }
        object = std::make_unique<ProgressControl>(window, control, low, high);
        break;
    }
    case Kind::Image:
        object = std::make_unique<ImageControl>(window, control, text_at(0x25));
        break;
    case Kind::Line: case Kind::Box: case Kind::Graphic07: case Kind::Graphic27: case Kind::Graphic04:
        object = std::make_unique<GraphicControl>(window, control);
        break;
    case Kind::Prompt: case Kind::StringText: case Kind::Radio: case Kind::Group: case Kind::Tab:
        object = std::make_unique<PlainControl>(window, control);
        break;
    default:
        return;
    }
    control.object.reset(object.release());
}

ControlObject* ObjectOf(Control& control) { return control.object.get(); }

ListBox* ListOf(Control& control) {
    auto* list = dynamic_cast<ListControl*>(control.object.get());
    return list ? &list->List() : nullptr;
}

void RefreshList(Control& control) {
    if (auto* list = dynamic_cast<ListControl*>(control.object.get()))
        list->Show();
}

// ---- What the event loop asks -------------------------------------------------------------------

bool ControlIncomplete(VrnWindowObject&, Control& control) {
    return control.object != nullptr && control.object->Incomplete();
}

namespace {
void CollectFields(std::vector<std::unique_ptr<Control>>& controls, std::vector<Control*>& out, bool usable_only) {
    for (auto& control : controls) {
        ControlObject* object = control->object.get();
        if (object != nullptr && object->IsField() && (!usable_only || (object->Visible() && object->Enabled())))
            out.push_back(control.get());
        CollectFields(control->children, out, usable_only);
    }
}
}  // namespace

std::vector<Control*> FieldOrder(VrnWindowObject& window, bool usable_only) {
    std::vector<Control*> fields;
    CollectFields(window.controls, fields, usable_only);
    std::stable_sort(fields.begin(), fields.end(),
                     [](const Control* a, const Control* b) { return a->field_number < b->field_number; });
    return fields;
}

bool ControlKey(VrnWindowObject&, Control& control, uint32_t key_code) {
    return control.object != nullptr && control.object->Key(key_code & 0x7FF);
}

void ControlThumbDragged(VrnWindowObject& window, Control& control, int32_t position) {
    if (control.object == nullptr)
        return;
    control.object->SetProperty(kPropVScrollPos, std::to_string(std::clamp(position, 0, 100)));
    PostFor(window, &control, kEventScrollDrag);
}

void ControlTyped(VrnWindowObject&, Control& control, std::string_view text) {
    if (control.object != nullptr)
        control.object->Typed(text);
}

bool ControlCompleted(VrnWindowObject&, Control& control) {
    return control.object == nullptr || control.object->Completed();
}

void ControlGainedFocus(VrnWindowObject& window, Control& control) {
    std::string text(control.message.empty() ? window.message : control.message);
    VrnWindowObject* frame = ApplicationFrame();
    VrnWindowObject& shows = frame != nullptr && frame->open ? *frame : window;
    ControlStateOf(shows).status_text = text;
    Ui().SetStatusText(shows.handle, text);
}

int32_t ControlDefaultAction(VrnWindowObject&, Control& control, int32_t event) {
    if (event != kEventAccepted || control.kind != uint8_t(Kind::Button))
        return 0;
    return control.standard_action;
}

bool ControlRowPicked(VrnWindowObject&, Control& control, int32_t row) {
    auto* list = dynamic_cast<ListControl*>(control.object.get());
    if (list == nullptr)
        return false;
    list->List().Select(row);
    list->Show();
    return true;
}

bool ControlListColumnResized(VrnWindowObject&, Control& control, int32_t column, int32_t pixels) {
    auto* list = dynamic_cast<ListControl*>(control.object.get());
    return list != nullptr && list->ResizeColumn(column, pixels);
}

bool ControlListColumnScrolled(VrnWindowObject&, Control& control, int32_t column, int32_t offset) {
    auto* list = dynamic_cast<ListControl*>(control.object.get());
    return list != nullptr && list->ScrollColumn(column, offset);
}

// The OPTION's radio n and the SHEET's tab n, as a person picks them.
void PickChoice(Control& control, int32_t n) {
    if (auto* field = dynamic_cast<ChoiceField*>(control.object.get()))
        field->Choose(n);
}

}  // namespace tarvex::windows
