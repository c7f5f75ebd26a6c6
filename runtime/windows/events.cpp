// SPDX-License-Identifier: GPL-3.0-or-later
// The ACCEPT loop, the window queues and the event functions.
//
// Every program thread has its open windows (oldest first), its target window (the one opened
// last that is still open) and a stack of loop frames, one per ACCEPT loop it runs; all of it is
// read and changed only by whoever holds the runtime lock. A pass of a loop takes the oldest event
// of its window's queue; with the queue empty it synthesizes one in accept-all mode, or else gives
// the lock up, waits for native input (or the next timer), takes the lock back and dispatches the
// input to the window it was meant for, which may queue events. Because the lock is given up only
// there, threads take turns between loop bodies and never inside one.
#include "windows/events.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <optional>
#include <thread>
#include <utility>

#include "core/frame.h"
#include "core/keystrokes.h"
#include "core/thread_instances.h"
#include "report/printer.h"
#include "tarvex/frame.h"
#include "windows/control_model.h"
#include "windows/description_format.h"
#include "windows/help.h"
#include "windows/driver.h"
#include "windows/keys.h"
#include "windows/threads.h"

namespace tarvex::windows {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t kAcceptNeedsWindow = 537;
constexpr int32_t kEventToReport = 522;
constexpr int32_t kStandardClose = 15;   // a menu item's or button's standard action
constexpr int32_t kStandardPrinterSetup = 16;
constexpr int32_t kStandardHelp = 8;

// Virtual-key codes the windows act on themselves.
constexpr uint32_t kKeyTab = 0x09, kKeyEnter = 0x0D, kKeyEscape = 0x1B, kKeySpace = 0x20,
                   kKeyPageUp = 0x21, kKeyPageDown = 0x22, kKeyEnd = 0x23, kKeyHome = 0x24, kKeyUp = 0x26,
                   kKeyDown = 0x28, kKeyF1 = 0x70;

struct LoopFrame {
    VrnWindowObject* window;          // null once the window has closed under the loop
    std::optional<Event> current;
};

struct SlotWindows {
    VrnWindowObject* target = nullptr;
    std::vector<VrnWindowObject*> open;   // oldest first
    std::vector<VrnWindowObject*> reports;   // open reports: never targets
    std::vector<LoopFrame> loops;
};

// Under the runtime lock; never destroyed, since threads may still run while the program ends.
auto& slots = *new std::array<SlotWindows, kThreadSlots>;
uint64_t openings = 0;
void (*window_watcher)(const VrnWindowObject&, bool) = nullptr;
void (*report_closer)(VrnWindowObject&) = nullptr;

SlotWindows* SlotOf(int slot) { return slot >= 0 && slot < kThreadSlots ? &slots[size_t(slot)] : nullptr; }
SlotWindows* Mine() { return SlotOf(ThisThreadSlot()); }

constexpr uint8_t Code(Kind kind) { return static_cast<uint8_t>(kind); }

bool TakesValue(const Control& c) {
    return c.kind != Code(Kind::Button) && c.kind != Code(Kind::Sheet) && c.kind != Code(Kind::Radio);
}

bool Usable(const Control& c) { return (c.flags & (kControlHidden | kControlDisabled)) == 0; }

bool IsList(const Control& c) { return c.kind == Code(Kind::List) || c.kind == Code(Kind::ListVariant); }

template <class Visit>
void EachControl(std::vector<std::unique_ptr<Control>>& controls, Visit&& visit) {
    for (auto& control : controls) {
        visit(*control);
        EachControl(control->children, visit);
    }
}

// The fields that can take the focus, in field order.
std::vector<Control*> Focusable(VrnWindowObject& w) {
    std::vector<Control*> fields;
    EachControl(w.controls, [&](Control& c) {
        if (IsField(c) && Usable(c))
            fields.push_back(&c);
    });
    return fields;
}

void Queue(VrnWindowObject& w, Event event) {
    w.events.queue.push_back(event);
    if (w.events.slot != ThisThreadSlot())
        WakeThread(w.events.slot);
}

Event MakeEvent(uint32_t number, int32_t field, int32_t data = 0) {
    return Event{number, field, LastKeyCode(), data};
}

// The focused field's edited text is complete: the control takes it into its variable and posts
// EVENT:Accepted (or EVENT:Rejected when it does not fit the picture).
void AcceptEdited(VrnWindowObject& w) {
    WindowEvents& ev = w.events;
    if (ev.edited != 0 && ev.edited == ev.focus) {
        Control* c = FindControl(w, ev.focus);
        if (c != nullptr && c->object)
            ControlCompleted(w, *c);
        else
            Queue(w, MakeEvent(kEventAccepted, ev.focus));
    }
    ev.edited = 0;
}

void MoveFocus(VrnWindowObject& w, int32_t field) {
    WindowEvents& ev = w.events;
    if (field == ev.focus)
        return;
    AcceptEdited(w);
    ev.focus = field;
    ev.selected = field;
    if (Control* c = FindControl(w, field); c != nullptr) {
        if (c->handle != 0)
            Ui().SetFocus(w.handle, c->handle);
        if (c->object)
            ControlGainedFocus(w, *c);
    }
    Queue(w, MakeEvent(kEventSelected, field));
}

bool Alerted(const VrnWindowObject& w, uint32_t code) {
    auto has = [code](const std::vector<uint32_t>& keys) {
        return std::find(keys.begin(), keys.end(), code) != keys.end();
    };
    return has(w.alert_keys) || has(w.events.alerts);
}

// The next (or previous) field that takes the focus after the focused one, wrapping round.
int32_t NeighbourField(VrnWindowObject& w, bool backwards) {
    std::vector<Control*> fields = Focusable(w);
    if (fields.empty())
        return 0;
    auto at = std::find_if(fields.begin(), fields.end(),
                           [&](Control* c) { return c->field_number == w.events.focus; });
    size_t index = at == fields.end() ? 0 : size_t(at - fields.begin());
    size_t count = fields.size();
    if (at == fields.end())
        return fields[backwards ? count - 1 : 0]->field_number;
    return fields[(index + (backwards ? count - 1 : 1)) % count]->field_number;
}

void PressControl(VrnWindowObject& w, Control& c) {
    if (IsField(c))
        MoveFocus(w, c.field_number);
    Queue(w, MakeEvent(kEventAccepted, c.field_number));
}

void KeyInput(VrnWindowObject& w, const NativeInput& in) {
    KeyDown(uint8_t(in.code), in.extended, in.scan_code, in.state);
    WindowEvents& ev = w.events;
    uint32_t code = LastKeyCode() & kKeyCodeMask;
    int32_t field = in.field != 0 ? in.field : ev.focus;
    if (Alerted(w, code)) {
        Queue(w, MakeEvent(kEventAlertKey, field));
        return;
    }
    Control* focused = field != 0 ? FindControl(w, field) : nullptr;
    uint32_t key = in.code & 0xFF;
    bool shift = (in.state & kShift) != 0, ctrl = (in.state & kCtrl) != 0;
    if (key == kKeyTab && !ctrl) {
        if (int32_t next = NeighbourField(w, shift); next != 0)
            MoveFocus(w, next);
        return;
    }
    if (key == kKeyF1 && !shift && !ctrl) {
        ShowHelp(w, field);
        return;
    }
    if (key == kKeyEscape) {
        if (w.opening != Opening::Application)
            Queue(w, MakeEvent(kEventCloseWindow, 0));
        return;
    }
    if (focused == nullptr)
        return;
    // The control's own keys first (a LIST's arrows and pages, Enter on it).
    if (focused->object && ControlKey(w, *focused, code))
        return;
    bool pressable = focused->kind == Code(Kind::Button) || focused->kind == Code(Kind::Check) ||
                     focused->kind == Code(Kind::Radio);
    if ((key == kKeyEnter && (pressable || IsList(*focused))) || (key == kKeySpace && pressable)) {
        Queue(w, MakeEvent(kEventAccepted, field));
        return;
    }
    if (key == kKeyEnter) {
        AcceptEdited(w);
        return;
    }
    if (IsList(*focused)) {
        uint32_t scroll = 0;
        switch (key) {
        case kKeyUp: scroll = kEventScrollUp; break;
        case kKeyDown: scroll = kEventScrollDown; break;
        case kKeyPageUp: scroll = kEventPageUp; break;
        case kKeyPageDown: scroll = kEventPageDown; break;
        case kKeyHome: scroll = ctrl ? uint32_t(kEventScrollTop) : 0u; break;
        case kKeyEnd: scroll = ctrl ? uint32_t(kEventScrollBottom) : 0u; break;
        default: break;
        }
        if (scroll != 0)
            Queue(w, MakeEvent(scroll, field));
    }
}

void ButtonInput(VrnWindowObject& w, const NativeInput& in) {
    auto button = static_cast<MouseButton>(std::clamp<uint32_t>(in.code, 1, 3));
    ButtonDown(button, in.double_click, in.state);
    uint32_t code = LastKeyCode() & kKeyCodeMask;
    int32_t field = in.field != 0 ? in.field : w.events.focus;
    if (Alerted(w, code)) {
        Queue(w, MakeEvent(kEventAlertKey, field));
        return;
    }
    Control* c = FindControl(w, in.field);
    if (c == nullptr || !Usable(*c))
        return;
    if (IsList(*c)) {
        MoveFocus(w, c->field_number);
        if (in.row > 0)
            ControlRowPicked(w, *c, in.row);
        if (button == MouseButton::kLeft && in.double_click)
            Queue(w, MakeEvent(kEventAccepted, c->field_number, in.row));
        else
            Queue(w, MakeEvent(kEventNewSelection, c->field_number, in.row));
        return;
    }
    if (button != MouseButton::kLeft)
        return;
    if (c->kind == Code(Kind::Button) || c->kind == Code(Kind::Check) || c->kind == Code(Kind::Radio))
        PressControl(w, *c);
    else if (IsField(*c))
        MoveFocus(w, c->field_number);
}

const MenuEntry* FindMenuIn(const MenuEntry& entry, int32_t field) {
    for (const auto& child : entry.children) {
        if (child->field_number == field)
            return child.get();
        if (const MenuEntry* found = FindMenuIn(*child, field))
            return found;
    }
    return nullptr;
}

const MenuEntry* FindMenuEntry(const VrnWindowObject& w, int32_t field) {
    return w.menubar ? FindMenuIn(*w.menubar, field) : nullptr;
}

// The window procedures: native input for window `w` becomes events in its queue.
void Dispatch(VrnWindowObject& w, const NativeInput& in) {
    WindowEvents& ev = w.events;
    switch (in.kind) {
    case InputKind::kWake: break;
    case InputKind::kTimer:
        if (ev.timer_period_ms != 0 && !ev.timer_pending) {
            ev.timer_pending = true;
            Queue(w, MakeEvent(kEventTimer, 0));
        }
        break;
    case InputKind::kClose: Queue(w, MakeEvent(kEventCloseWindow, 0)); break;
    case InputKind::kCharacter: CharacterTyped(char(in.code)); break;
    case InputKind::kText:
        if (Control* c = FindControl(w, in.field)) {
            MoveFocus(w, in.field);
            if (c->object)
                ControlTyped(w, *c, in.text);
            else
                c->text = in.text;
            ev.edited = in.field;
        }
        break;
    case InputKind::kFocus:
        if (Control* c = FindControl(w, in.field); c != nullptr && IsField(*c) && Usable(*c))
            MoveFocus(w, in.field);
        break;
    case InputKind::kCommand:
        if (in.field < 0) {
            // A menu item with the standard close action closes the window without program code.
            const MenuEntry* item = FindMenuEntry(w, in.field);
            if (item != nullptr && item->standard_action == kStandardClose)
                Queue(w, MakeEvent(kEventCloseWindow, 0));
            else if (item != nullptr && item->standard_action == kStandardPrinterSetup)
                report::PrinterDialog({}, 0);   // the chosen printer serves the reports opened later
            else if (item == nullptr || item->standard_action == 0)
                Queue(w, MakeEvent(kEventAccepted, in.field));
        } else if (Control* c = FindControl(w, in.field); c != nullptr && Usable(*c)) {
            PressControl(w, *c);
        }
        break;
    case InputKind::kListRow:
        if (Control* c = FindControl(w, in.field); c != nullptr && IsList(*c) && Usable(*c)) {
            MoveFocus(w, in.field);
            ControlRowPicked(w, *c, in.row);
            Queue(w, MakeEvent(kEventNewSelection, in.field, in.row));
        }
        break;
    case InputKind::kListColumn:
        if (Control* c = FindControl(w, in.field); c != nullptr && IsList(*c) && Usable(*c))
            ControlListColumnResized(w, *c, in.row, int32_t(in.code));
        break;
    case InputKind::kListSideways:
        if (Control* c = FindControl(w, in.field); c != nullptr && IsList(*c) && Usable(*c))
            ControlListColumnScrolled(w, *c, -1, int32_t(in.code));
        break;
    case InputKind::kListThumb:
        if (Control* c = FindControl(w, in.field); c != nullptr && IsList(*c) && Usable(*c))
            ControlThumbDragged(w, *c, int32_t(in.code));
        break;
    case InputKind::kKey: KeyInput(w, in); break;
    case InputKind::kButton: ButtonInput(w, in); break;
    }
}

VrnWindowObject* OpenWindowByHandle(SlotWindows& mine, NativeHandle handle) {
    for (VrnWindowObject* w : mine.open)
        if (w->handle == handle)
            return w;
    return nullptr;
}

std::optional<Clock::time_point> NextTimerDue(SlotWindows& mine) {
    std::optional<Clock::time_point> due;
    for (VrnWindowObject* w : mine.open)
        if (w->events.timer_period_ms != 0 && !w->events.timer_pending)
            due = due ? std::min(*due, w->events.timer_due) : w->events.timer_due;
    return due;
}

void FireDueTimers(SlotWindows& mine) {
    Clock::time_point now = Clock::now();
    for (VrnWindowObject* w : mine.open) {
        WindowEvents& ev = w->events;
        if (ev.timer_period_ms == 0 || now < ev.timer_due)
            continue;
        ev.timer_due = now + std::chrono::milliseconds(ev.timer_period_ms);
        if (!ev.timer_pending) {
            ev.timer_pending = true;
            Queue(*w, MakeEvent(kEventTimer, 0));
        }
    }
}

// A keystroke the program pressed, as the input it stands for.
NativeInput InputOfKeystroke(const Keystroke& stroke) {
    NativeInput in;
    if (stroke.key_code == 0) {
        in.kind = InputKind::kCharacter;
        in.code = uint8_t(stroke.character);
        return in;
    }
    uint32_t key = stroke.key_code & 0xFF;
    in.state = stroke.key_code & (kShift | kCtrl | kAlt);
    if (key >= 1 && key <= 7 && key != 4) {
        in.kind = InputKind::kButton;
        in.code = key > 4 ? key - 4 : key;
        in.double_click = key > 4;
    } else {
        in.kind = InputKind::kKey;
        in.code = key;
    }
    return in;
}

// Waits for the next native input of the thread and dispatches it; the lock is given up while
// waiting. Keystrokes the program pressed come first, to the loop's window.
void WaitAndDispatch(SlotWindows& mine, VrnWindowObject& loop_window) {
    if (std::optional<Keystroke> stroke = TakeKeystroke()) {
        Dispatch(loop_window, InputOfKeystroke(*stroke));
        return;
    }
    std::optional<Clock::time_point> due = NextTimerDue(mine);
    int slot = ThisThreadSlot();
    GiveUpRuntimeLock();
    std::optional<NativeInput> in = WaitInput(slot, due);
    TakeRuntimeLock();
    FireDueTimers(mine);
    if (in && in->kind != InputKind::kWake)
        if (VrnWindowObject* w = OpenWindowByHandle(mine, in->window))
            Dispatch(*w, *in);
}

std::vector<VrnWindowObject*> OpenMdiChildren() {
    std::vector<VrnWindowObject*> children;
    for (SlotWindows& s : slots)
        for (VrnWindowObject* w : s.open)
            if (w->opening == Opening::Mdi)
                children.push_back(w);
    std::sort(children.begin(), children.end(),
              [](VrnWindowObject* a, VrnWindowObject* b) { return a->events.opened < b->events.opened; });
    return children;
}

// A close was requested: false when the loop ends. The APPLICATION frame with open MDI children
// passes it on to the first child that is not closing yet and waits; it closes once they have.
bool KeepsOpenOnClose(VrnWindowObject& w) {
    if (w.opening != Opening::Application)
        return false;
    std::vector<VrnWindowObject*> children = OpenMdiChildren();
    if (children.empty())
        return false;
    w.events.close = CloseState::kClosing;
    for (VrnWindowObject* child : children) {
        if (!child->events.closedown_sent && child->events.close == CloseState::kNone) {
            child->events.closedown_sent = true;
            Queue(*child, MakeEvent(kEventCloseDown, 0));
            return true;
        }
    }
    Ui().Beep();
    return true;
}

// The body is done with the current event: its default action. False when the loop ends.
bool CompleteEvent(LoopFrame& frame, bool cycle) {
    std::optional<Event> event = std::exchange(frame.current, std::nullopt);
    SetCurrentEventKeyCode(std::nullopt);
    if (frame.window == nullptr)
        return false;
    if (!event)
        return true;
    VrnWindowObject& w = *frame.window;
    switch (event->Number()) {
    case kEventCloseWindow:
    case kEventCloseDown:
        if (!cycle) {
            w.events.close = CloseState::kRequested;
        } else if (event->Number() == kEventCloseDown) {
            w.events.closedown_sent = false;
            VrnWindowObject* frame_window = ApplicationFrame();
            if (w.opening == Opening::Mdi && frame_window != nullptr &&
                frame_window->events.close == CloseState::kClosing)
                frame_window->events.close = CloseState::kNone;
        }
        break;
    case kEventOpenFailed: return false;
    case kEventAccepted:
        // A button with the standard close action closes its window once the body has let its
        // press through; a Help button then shows the help (its own topic, else its window's).
        if (!cycle && event->field > 0)
            if (Control* c = FindControl(w, event->field); c != nullptr) {
                int32_t action = ControlDefaultAction(w, *c, kEventAccepted);
                if (action == kStandardClose)
                    Queue(w, MakeEvent(kEventCloseWindow, 0));
                else if (action == kStandardHelp)
                    ShowHelp(w, event->field);
            }
        break;
    default: break;
    }
    return true;
}

// Handlers attached to the event; true when one takes it.
bool HandlersTake(VrnWindowObject& w, const Event& event) {
    if (w.events.handlers.empty())
        return false;
    std::vector<RegisteredHandler> handlers = w.events.handlers;   // a handler may detach itself
    for (const RegisteredHandler& h : handlers)
        if (h.event == event.Number() && (h.field == 0 || h.field == event.field) && h.handler() != 0)
            return true;
    return false;
}

// Accept-all mode: the next field in field order is accepted, or stops the mode when it is
// incomplete; after the last one the window gets EVENT:Completed.
void NextAcceptAll(VrnWindowObject& w) {
    WindowEvents& ev = w.events;
    std::vector<Control*> fields = FieldOrder(w);
    std::erase_if(fields, [](Control* c) { return !TakesValue(*c); });
    if (ev.accept_next < fields.size()) {
        Control& field = *fields[ev.accept_next++];
        if (ControlIncomplete(w, field)) {
            ev.accept_all = false;
            ev.focus = 0;   // so that the focus moves there with its selection
            MoveFocus(w, field.field_number);
        } else {
            Queue(w, MakeEvent(kEventAccepted, field.field_number));
        }
        return;
    }
    ev.accept_all = false;
    Queue(w, MakeEvent(kEventCompleted, 0));
}

// Makes the next event of the frame's window current: false when the loop is over.
bool NextEvent(SlotWindows& mine, LoopFrame& frame) {
    for (;;) {
        if (frame.window == nullptr || !frame.window->open)
            return false;
        VrnWindowObject& w = *frame.window;
        WindowEvents& ev = w.events;
        if (ev.close == CloseState::kRequested && !KeepsOpenOnClose(w))
            return false;
        if (!ev.queue.empty()) {
            Event event = ev.queue.front();
            ev.queue.pop_front();
            bool posted = event.number >= kPostedEvent;
            if (!posted && event.number == kEventSelected && event.field != ev.selected)
                continue;
            if (!posted && event.number == kEventTimer) {
                ev.timer_pending = false;
                if (ev.timer_period_ms == 0)
                    continue;
            }
            frame.current = event;
            SetCurrentEventKeyCode(event.key_code);
            if (HandlersTake(w, event)) {
                if (!CompleteEvent(frame, true))
                    return false;
                continue;
            }
            return true;
        }
        if (ev.accept_all) {
            NextAcceptAll(w);
            continue;
        }
        WaitAndDispatch(mine, w);
    }
}

// Ends the innermost loop of the thread.
void PopLoop(SlotWindows& mine) {
    if (mine.loops.empty())
        return;
    if (VrnWindowObject* w = mine.loops.back().window; w != nullptr && w->events.loops > 0)
        w->events.loops--;
    mine.loops.pop_back();
    SetCurrentEventKeyCode(std::nullopt);
}

VrnWindowObject* Target() {
    SlotWindows* mine = Mine();
    return mine != nullptr ? mine->target : nullptr;
}

// The event the target window's innermost loop body is running for.
const Event* CurrentEvent() {
    SlotWindows* mine = Mine();
    if (mine == nullptr || mine->target == nullptr)
        return nullptr;
    for (auto it = mine->loops.rbegin(); it != mine->loops.rend(); ++it)
        if (it->window == mine->target)
            return it->current ? &*it->current : nullptr;
    return nullptr;
}

// The event the innermost loop over `w` on the calling thread is running for.
const Event* CurrentEventOf(VrnWindowObject& w) {
    SlotWindows* mine = Mine();
    if (mine == nullptr)
        return nullptr;
    for (auto it = mine->loops.rbegin(); it != mine->loops.rend(); ++it)
        if (it->window == &w)
            return it->current ? &*it->current : nullptr;
    return nullptr;
}

bool ModalWindowOpen() {
    VrnWindowObject* frame = ApplicationFrame();
    if (frame == nullptr || !frame->open)
        return false;
    SlotWindows* frame_slot = SlotOf(frame->events.slot);
    if (frame_slot == nullptr)
        return false;
    return std::any_of(frame_slot->open.begin(), frame_slot->open.end(),
                       [](VrnWindowObject* w) { return w->opening == Opening::Window; });
}

// Closes windows of one slot opened at or after `first` (all of them when null), newest first.
void CloseFrom(SlotWindows& s, const VrnWindowObject* first) {
    uint64_t from = first != nullptr ? first->events.opened : 0;
    while (!s.open.empty() && s.open.back()->events.opened >= from)
        TakeDown(*s.open.back());
}

const Event* CurrentEventOf(VrnWindowObject& w);

[[maybe_unused]] const bool installed = [] {
    SetModalWindowQuery(ModalWindowOpen);
    ControlEventHooks hooks;
    hooks.post = [](VrnWindowObject& w, Control* control, int32_t event) {
        Queue(w, MakeEvent(uint32_t(event), control != nullptr ? control->field_number : 0));
    };
    hooks.target_window = [] { return Target(); };
    hooks.system_modal = [] { return ModalWindowOpen(); };
    hooks.accept_all = [](VrnWindowObject& w) { return w.events.accept_all; };
    hooks.set_accept_all = [](VrnWindowObject& w, bool on) {
        w.events.accept_all = on;
        if (on)
            w.events.accept_next = 0;
    };
    hooks.current_field = [](VrnWindowObject& w) {
        const Event* event = CurrentEventOf(w);
        return event != nullptr ? event->field : 0;
    };
    SetControlEventHooks(hooks);
    SetCloseDownHook([] { CloseDownWindows(std::chrono::seconds(3)); });
    return true;
}();

}  // namespace

bool IsField(const Control& c) {
    switch (static_cast<Kind>(c.kind)) {
    case Kind::Entry: case Kind::Button: case Kind::Check: case Kind::Option: case Kind::Radio:
    case Kind::List: case Kind::ListVariant: case Kind::Combo: case Kind::ComboVariant: case Kind::Spin:
    case Kind::Text: case Kind::Bound11: case Kind::Sheet:
        return true;
    default: return false;
    }
}

std::vector<VrnWindowObject*> OpenWindowsOf(int slot) {
    SlotWindows* s = SlotOf(slot);
    return s != nullptr ? s->open : std::vector<VrnWindowObject*>{};
}

void SetWindowWatcher(void (*watcher)(const VrnWindowObject&, bool)) { window_watcher = watcher; }

void SetReportCloser(void (*closer)(VrnWindowObject&)) { report_closer = closer; }

void WindowOpened(VrnWindowObject& w) {
    int slot = ThisThreadSlot();
    SlotWindows* mine = SlotOf(slot);
    w.events = WindowEvents{};
    if (mine == nullptr)
        return;   // a thread that runs no program code has no window machinery
    if (w.IsReport()) {
        w.events.slot = slot;
        mine->reports.push_back(&w);
        return;
    }
    WindowEvents& ev = w.events;
    ev.slot = slot;
    ev.opened = ++openings;
    if (w.timer != 0) {
        ev.timer_period_ms = w.timer * 10;
        ev.timer_due = Clock::now() + std::chrono::milliseconds(ev.timer_period_ms);
    }
    mine->open.push_back(&w);
    mine->target = &w;
    if (w.handle != 0)
        RegisterWindowThread(w.handle, slot);
    std::vector<Control*> fields = Focusable(w);
    if (!fields.empty())
        ev.focus = ev.selected = fields.front()->field_number;
    ev.queue.push_back(MakeEvent(kEventOpenWindow, 0));
    bool script = WatchForScriptFromEnvironment();
    if (window_watcher != nullptr)
        window_watcher(w, true);
    if (script)
        StartScriptFromEnvironment();
}

void WindowClosing(VrnWindowObject& w) {
    SlotWindows* s = SlotOf(w.events.slot);
    if (s == nullptr)
        return;
    if (w.IsReport()) {
        std::erase(s->reports, &w);
        w.events = WindowEvents{};
        return;
    }
    std::erase(s->open, &w);
    if (s->target == &w)
        s->target = s->open.empty() ? nullptr : s->open.back();
    for (LoopFrame& frame : s->loops)
        if (frame.window == &w)
            frame.window = nullptr;
    if (w.handle != 0)
        ForgetWindowThread(w.handle);
    bool mdi = w.opening == Opening::Mdi;
    w.events = WindowEvents{};
    if (window_watcher != nullptr)
        window_watcher(w, false);
    // A frame that waits for its children to close goes on with the next one.
    if (VrnWindowObject* frame = ApplicationFrame();
        mdi && frame != nullptr && frame->events.close == CloseState::kClosing) {
        frame->events.close = CloseState::kRequested;
        WakeThread(frame->events.slot);
    }
}

void ThreadWindowsEnd(int slot) {
    SlotWindows* s = SlotOf(slot);
    if (s == nullptr)
        return;
    CloseFrom(*s, nullptr);
    while (!s->reports.empty())
        TakeDown(*s->reports.back());
    s->loops.clear();
    s->target = nullptr;
    ClearInput(slot);
}

void CloseDownWindows(std::chrono::milliseconds patience) {
    int me = ThisThreadSlot();
    if (SlotWindows* mine = SlotOf(me))
        CloseFrom(*mine, nullptr);
    for (SlotWindows& s : slots)
        for (VrnWindowObject* w : s.open)
            Queue(*w, MakeEvent(kEventCloseDown, 0));
    if (RunningThreads() > 0) {
        bool held = HoldsRuntimeLock();
        GiveUpRuntimeLock();
        Clock::time_point until = Clock::now() + patience;
        while (RunningThreads() > 0 && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (held)
            TakeRuntimeLock();
    }
    // A script driving the program runs its last steps (the windows' closing) before the end.
    {
        bool held = HoldsRuntimeLock();
        if (held)
            GiveUpRuntimeLock();
        WaitForScriptEnd();
        if (held)
            TakeRuntimeLock();
    }
    // Once no thread shows a window any more, the backend may stop.
    if (RunningThreads() == 0)
        Ui().Shutdown();
}

}  // namespace tarvex::windows

using namespace tarvex::windows;

TARVEX_API int32_t Vrn$StartEventLoop(void) {
    SlotWindows* mine = Mine();
    VrnWindowObject* w = mine != nullptr ? mine->target : nullptr;
    if (w == nullptr || !w->open) {
        Vrn$rterr(kAcceptNeedsWindow, nullptr);
        return 1;
    }
    mine->loops.push_back(LoopFrame{w, std::nullopt});
    w->events.loops++;
    if (NextEvent(*mine, mine->loops.back()))
        return 0;
    PopLoop(*mine);
    return 1;
}

TARVEX_API int32_t Vrn$EndEventLoop(int32_t cycle) {
    SlotWindows* mine = Mine();
    if (mine == nullptr || mine->loops.empty())
        return 1;
    LoopFrame& frame = mine->loops.back();
    if (CompleteEvent(frame, cycle != 0) && NextEvent(*mine, mine->loops.back()))
        return 0;
    PopLoop(*mine);
    return 1;
}

TARVEX_API void Vrn$EndEventLoops(int32_t count) {
    SlotWindows* mine = Mine();
    for (int32_t i = 0; mine != nullptr && i < count && !mine->loops.empty(); i++)
        PopLoop(*mine);
}

TARVEX_API int32_t Vrn$EVENT(void) {
    const Event* event = CurrentEvent();
    return event != nullptr ? int32_t(event->Number()) : 0;
}

TARVEX_API int32_t Vrn$FIELD(void) {
    const Event* event = CurrentEvent();
    if (event == nullptr || event->field == 0)
        return 0;
    if (event->field < 0 || event->number >= kPostedEvent)
        return event->field;   // a menu item, or a field a POST named
    Control* c = FindControl(*Target(), event->field);
    return c != nullptr && IsField(*c) ? event->field : 0;
}

TARVEX_API int32_t Vrn$ACCEPTED(void) {
    const Event* event = CurrentEvent();
    return event != nullptr && event->Number() == kEventAccepted ? Vrn$FIELD() : 0;
}

TARVEX_API int32_t Vrn$SELECTED(void) {
    const Event* event = CurrentEvent();
    return event != nullptr && event->Number() == kEventSelected ? Vrn$FIELD() : 0;
}

TARVEX_API int32_t Vrn$FOCUS(void) {
    VrnWindowObject* w = Target();
    return w != nullptr ? w->events.focus : 0;
}

namespace {
int32_t FieldBound(bool highest) {
    VrnWindowObject* w = Target();
    if (w == nullptr)
        return 0;
    std::optional<int32_t> bound;
    EachControl(w->controls, [&](Control& c) {
        if (c.field_number > 0)
            bound = !bound ? c.field_number : highest ? std::max(*bound, c.field_number)
                                                      : std::min(*bound, c.field_number);
    });
    return bound.value_or(0);
}
}  // namespace

TARVEX_API int32_t Vrn$FIRSTFIELD(void) { return FieldBound(false); }
TARVEX_API int32_t Vrn$LASTFIELD(void) { return FieldBound(true); }

TARVEX_API void Vrn$POST(int32_t event, int32_t field, int32_t thread) {
    int slot = thread == 0 ? ThisThreadSlot() : thread - 1;
    SlotWindows* s = SlotOf(slot);
    VrnWindowObject* w = s != nullptr ? s->target : nullptr;
    if (w == nullptr || !w->open || event <= 0)
        return;
    // A field that is not the window's but a control of one of the thread's reports.
    if (field != 0 && FindControl(*w, field) == nullptr &&
        std::any_of(s->reports.begin(), s->reports.end(),
                    [field](VrnWindowObject* report) { return FindControl(*report, field) != nullptr; })) {
        Vrn$rterr(kEventToReport, nullptr);
        return;
    }
    Queue(*w, MakeEvent(uint32_t(event) + kPostedEvent, field));
}

TARVEX_API void Vrn$SELECT(int32_t field, int32_t, int32_t) {
    VrnWindowObject* w = Target();
    if (w == nullptr || !w->open)
        return;
    WindowEvents& ev = w->events;
    if (field == 0) {
        ev.accept_all = true;
        ev.accept_next = 0;
        return;
    }
    const Event* current = CurrentEvent();
    if (ev.accept_all && current != nullptr && current->field == field)
        return;
    ev.accept_all = false;
    Control* c = FindControl(*w, field);
    if (c == nullptr || !IsField(*c))
        return;
    ev.focus = 0;   // selecting the focused field selects it again
    MoveFocus(*w, field);
}

TARVEX_API void Vrn$ALERT(uint32_t first, uint32_t last) {
    VrnWindowObject* w = Target();
    if (w == nullptr)
        return;
    std::vector<uint32_t>& alerts = w->events.alerts;
    if (first == 0 && last == 0) {
        alerts.clear();
        return;
    }
    first &= kKeyCodeMask;
    last = last == 0 ? first : std::min<uint32_t>(last & kKeyCodeMask, kKeyCodeMask);
    for (uint32_t key = first; key <= last; key++)
        if (std::find(alerts.begin(), alerts.end(), key) == alerts.end())
            alerts.push_back(key);
}

TARVEX_API void Vrn$REGISTEREVENT(int32_t event, VrnEventHandler handler, int32_t field) {
    VrnWindowObject* w = Target();
    if (w == nullptr || handler == nullptr || event <= 0)
        return;
    w->events.handlers.push_back({uint32_t(event), field, handler});
}

TARVEX_API void Vrn$UNREGISTEREVENT(int32_t event, VrnEventHandler handler, int32_t field) {
    VrnWindowObject* w = Target();
    if (w == nullptr)
        return;
    std::erase_if(w->events.handlers, [&](const RegisteredHandler& h) {
        return h.event == uint32_t(event) && h.handler == handler && h.field == field;
    });
}

TARVEX_API void Vrn$CLOSEwindow(VrnWindowObject* window) {
    if (window == nullptr || !window->open)
        return;
    if (window->IsReport()) {
        if (report_closer != nullptr)
            report_closer(*window);
        else
            TakeDown(*window);
        return;
    }
    if (SlotWindows* s = SlotOf(window->events.slot))
        CloseFrom(*s, window);
    else
        TakeDown(*window);
}

TARVEX_API void Vrn$YIELD(void) {
    SlotWindows* mine = Mine();
    if (mine == nullptr)
        return;
    int slot = ThisThreadSlot();
    while (std::optional<NativeInput> in = TakeInputOfKind(slot, InputKind::kTimer))
        if (VrnWindowObject* w = OpenWindowByHandle(*mine, in->window))
            Dispatch(*w, *in);
    FireDueTimers(*mine);
}

TARVEX_API void Wsl$DoEvent(int32_t) {
    SlotWindows* mine = Mine();
    if (mine == nullptr || mine->target == nullptr)
        return;
    int slot = ThisThreadSlot();
    GiveUpRuntimeLock();
    std::optional<NativeInput> in = WaitInput(slot, Clock::now() + std::chrono::milliseconds(1));
    TakeRuntimeLock();
    FireDueTimers(*mine);
    if (in && in->kind != InputKind::kWake)
        if (VrnWindowObject* w = OpenWindowByHandle(*mine, in->window))
            Dispatch(*w, *in);
}

TARVEX_API VrnWindowObject* Wsl$GetTargetWindow(void) { return Target(); }
