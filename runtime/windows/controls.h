// SPDX-License-Identifier: GPL-3.0-or-later
// The live control objects: three levels, each a base of the next.
//
//   PropertyObject   anything whose attributes are read and written by property number: windows,
//                    controls, the printer object and the system object
//   ControlObject    one control of a window: text, position, font, hidden and dimmed states,
//                    message, tooltip, keyword strings, alert keys, automatic size
//   FieldObject      a control that takes the focus (and, most of them, has a bound variable):
//                    display, update, change, erase, choice, incomplete
//
// One class per control kind sits under these (controls.cpp); the factory picks it by kind code.
// Each object works on its `Control` record (the loader's) and keeps there what others read, so
// the report engine and the event loop see the same record.
//
// The operations of a field, in the order a field's table of operations holds them (C++ virtuals
// need not follow it): settext, gettext, DoNamedProperty, SetProperty, SetIndexProperty,
// SetNamedProperty, SetVarProperty, SetFieldProperty, SetQueueProperty, SetClassProperty,
// GetProperty, GetIndexProperty, GetNamedProperty, SetPosition, GetPosition, SetFont, GetFont,
// hide, IsField, IsRepScreen, IsScreen, IsMDI, IsFrame, IsReport, getmetatarget, checkusechanged,
// destructor, -, select, choice, usechanged, checkqueuechanged, incomplete, findincomplete, dim,
// dimchild, hidechild, resize, copyfeq, redraw, update, getdeepesthelp, active, preselect,
// preselectchild, (text operation), TranslateAccel, createcopy, setup, AdjustForBorder,
// UnAdjustForBorder, attach3d, GetPrintRect, drawgraphic, findgraphic, -, MouseHook,
// SetDefaultWidth, SetDefaultHeight, getvalue, print, mappalette, displayed, redraw (a
// rectangle), onwindowresize, enableSTD, getcolorbrush, then per-kind operations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tarvex/queue.h"
#include "windows/control_model.h"
#include "windows/placement.h"
#include "windows/value_text.h"
#include "windows/window_object.h"

namespace tarvex::windows {

struct Record;
class ListBox;

// Control flags beyond the justification, dimmed and hidden bits.
constexpr uint32_t kControlRequired = 0x01;    // a field that must not be left empty
constexpr uint32_t kControlImmediate = 0x02;   // a LIST whose program pages the queue itself
constexpr uint32_t kControlReadOnly = 0x800;
// Second word.
constexpr uint32_t kAutoWidth = 0x10;
constexpr uint32_t kAutoHeight = 0x20;

class PropertyObject {
public:
    virtual ~PropertyObject() = default;
    virtual bool IsScreen() const { return false; }
    virtual bool IsRepScreen() const { return false; }
    virtual bool IsMDI() const { return false; }
    virtual bool IsFrame() const { return false; }
    virtual bool IsReport() const { return false; }
    virtual bool IsField() const { return false; }

    // A numeric property (below 0x7D00, the index already folded into the number): the value, or
    // nothing when no class answers it.
    virtual std::optional<std::string> GetProperty(int32_t number);
    // False when no class knows the property (nothing changes).
    virtual bool SetProperty(int32_t number, std::string_view value);
    // Properties from 0x7D00 up, with the index counted from 0.
    virtual std::optional<std::string> GetIndexProperty(int32_t number, int32_t index);
    virtual bool SetIndexProperty(int32_t number, int32_t index, std::string_view value);
    virtual bool SetQueueProperty(int32_t number, QueueDecl* queue);
    virtual bool SetFieldProperty(int32_t number, const BoundVariable& field);
    virtual bool DoProperty(int32_t number, int32_t index);
};

class ControlObject : public PropertyObject {
public:
    ControlObject(VrnWindowObject& window, Control& control);

    Control& Record() { return c_; }
    VrnWindowObject& Window() { return w_; }

    virtual void SetText(std::string_view text);
    virtual std::string GetText() const { return c_.text; }
    // Position and size in the window's unit; kNotGiven for a width or height makes it automatic.
    void SetPosition(int32_t x, int32_t y, int32_t width, int32_t height);
    std::array<int32_t, 4> GetPosition() const;
    void SetFont(const FontSpec& font);
    const FontSpec& GetFont() const { return font_; }
    virtual void Hide(bool hidden);
    virtual void Dim(bool dimmed);
    bool Hidden() const { return (c_.flags & kControlHidden) != 0; }
    bool Dimmed() const { return (c_.flags & kControlDisabled) != 0; }
    // Visible / enabled, the parents considered.
    bool Visible() const;
    bool Enabled() const;

    // Copying between the bound variable and what the control shows. Controls without a variable
    // do nothing.
    virtual void Display() {}
    virtual void Update() {}
    virtual void Change(std::string_view) {}
    virtual void Erase() {}
    virtual int32_t Choice() const { return 0; }
    virtual bool Incomplete() { return false; }
    virtual bool Key(uint32_t) { return false; }
    virtual void Typed(std::string_view) {}
    virtual bool Completed() { return true; }

    // Automatic sizes from the contents, in pixels.
    virtual int32_t DefaultWidth() const;
    virtual int32_t DefaultHeight() const;
    // Lays the control out again (automatic dimensions recomputed) and shows the new rectangle.
    void Relayout();

    std::optional<std::string> GetProperty(int32_t number) override;
    bool SetProperty(int32_t number, std::string_view value) override;
    std::optional<std::string> GetIndexProperty(int32_t number, int32_t index) override;
    bool SetIndexProperty(int32_t number, int32_t index, std::string_view value) override;

    const std::string& Tip() const { return tip_; }
    std::string_view Message() const { return c_.message; }
    const std::vector<uint32_t>& AlertKeys() const { return alert_keys_; }

protected:
    // Posts an event for this control through the event loop's hook.
    void Post(int32_t event);
    UnitScale Scale() const;
    void ShowText(const std::string& text);

    VrnWindowObject& w_;
    Control& c_;
    FontSpec font_;
    uint32_t flags2_ = 0;
    std::string tip_;
    std::string_view keyword_, keyword2_;
    std::vector<uint32_t> alert_keys_;
    std::string cursor_;
};

class FieldObject : public ControlObject {
public:
    using ControlObject::ControlObject;
    bool IsField() const override { return true; }
    std::optional<std::string> GetProperty(int32_t number) override;
    bool SetFieldProperty(int32_t number, const BoundVariable& field) override;
    bool Incomplete() override;
    bool Completed() override;
};

// The factory: the object for a control built from its record (null for a kind without a class).
void AttachControlObject(VrnWindowObject& window, Control& control, const Record* record, const UnitScale& scale);

// A bound variable as a stored value (a decimal's digits turned into its bytes).
StoredValue ValueOf(const BoundVariable& variable);

// The object of a control, or null.
ControlObject* ObjectOf(Control& control);
// The list model of a LIST (or COMBO), else null.
ListBox* ListOf(Control& control);
// Shows a LIST's page as it stands (after the program changed its queue).
void RefreshList(Control& control);
// Picks radio n of an OPTION or tab n of a SHEET, as a person does.
void PickChoice(Control& control, int32_t n);

// The window-level state the controls keep: the scale its controls were placed with, its
// default button, its strings, its tooltips, the events posted while no loop listens.
struct WindowControlState {
    UnitScale scale;
    int32_t default_button = 0;
    std::vector<std::string> strings;    // 0x7D01, by index
    std::vector<PostedControlEvent> posted;
    bool accept_all = false;
    std::string status_text;
    std::string_view keyword2;
    std::string_view help;
};

WindowControlState& ControlStateOf(VrnWindowObject& window);

// The object behind field 0 of a window: its own properties.
std::unique_ptr<PropertyObject> WindowPropertiesOf(VrnWindowObject& window);
// The printer (-1) and system (-4) objects (the system object in system_object.cpp).
PropertyObject& PrinterObject();
PropertyObject& SystemObject();

// The hooks the event loop installed (the defaults until it does).
const ControlEventHooks& Hooks();
void PostFor(VrnWindowObject& window, Control* control, int32_t event);
VrnWindowObject* TargetWindow();

}  // namespace tarvex::windows
