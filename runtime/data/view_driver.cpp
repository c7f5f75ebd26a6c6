// SPDX-License-Identifier: GPL-3.0-or-later
// VIEWDRIVER: the runtime's driver for views. It hands a view to the primary file's driver when
// that driver runs views itself (QUERY_VIEW answers a driver function); otherwise it runs the
// view with the generic engine, one instance per view declaration and thread.
//
// Text arguments and results follow the exported file operations: the value of SET_PROPERTY and
// the position of RESET and REGET are popped; NAME, POSITION and GET_PROPERTY push their text
// (empty on failure). Property numbers come as the operation's argument.
#include <algorithm>
#include <cstring>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "data/file_operations.h"
#include "core/string_stack.h"
#include "data/view_engine.h"
#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"
#include "tarvex/views.h"

namespace tarvex::view {

namespace {

constexpr int32_t kFileNotOpen = 37;
constexpr int32_t kInvalidDeclaration = 47;
constexpr int32_t kUnsupported = 80;
constexpr int32_t kUnknownError = 81;

struct Instances {
    std::mutex mutex;
    std::vector<std::unique_ptr<ViewInstance>> list;
};
Instances& AllInstances() {
    static Instances instances;
    return instances;
}
thread_local ViewInstance* last_used = nullptr;

ViewInstance* Find(ViewDecl* decl) {
    if (last_used != nullptr && last_used->decl == decl)
        return last_used;
    Instances& all = AllInstances();
    std::lock_guard lock(all.mutex);
    std::thread::id self = std::this_thread::get_id();
    for (auto& instance : all.list) {
        if (instance->decl == decl && instance->thread == self) {
            last_used = instance.get();
            return last_used;
        }
    }
    return nullptr;
}

ViewInstance* Create(ViewDecl* decl) {
    auto instance = std::make_unique<ViewInstance>();
    instance->decl = decl;
    instance->thread = std::this_thread::get_id();
    if (!DecodeStructure(*instance))
        return nullptr;
    instance->filter_text = decl->filter != nullptr ? decl->filter : "";
    instance->order_text = decl->order != nullptr ? decl->order : "";
    ReadTraceSettings(instance->trace);
    Instances& all = AllInstances();
    std::lock_guard lock(all.mutex);
    all.list.push_back(std::move(instance));
    last_used = all.list.back().get();
    return last_used;
}

void Destroy(ViewInstance* view) {
    if (last_used == view)
        last_used = nullptr;
    Instances& all = AllInstances();
    std::lock_guard lock(all.mutex);
    auto found = std::find_if(all.list.begin(), all.list.end(), [&](auto& item) { return item.get() == view; });
    if (found != all.list.end())
        all.list.erase(found);
}

bool IsReading(int32_t operation) {
    switch (operation) {
    case VRN_OP_NEXT:
    case VRN_OP_PREVIOUS:
    case VRN_OP_POSITION_FILE:
    case VRN_OP_REGET_FILE:
    case VRN_OP_RESET_FILE:
    case VRN_OP_GET_FILE_POINTER:
    case VRN_OP_RECORDS_FILE:
    case VRN_OP_SKIP:
        return true;
    default:
        return false;
    }
}

int32_t EnsurePlan(ViewInstance& view) {
    if (view.plan_ready && !view.rebuild)
        return 0;
    if (!ParseFilter(view, view.filter_text) || !ParseOrder(view, view.order_text))
        return Vrn$ERRCODE != 0 ? Vrn$ERRCODE : 800;
    BuildPlan(view);
    view.rebuild = false;
    return 0;
}

// INVIEW to every open component file not yet marked as in a view; ENDVIEW to the same files
// afterwards. A driver without them answers 80, which does not count. The list of files entered
// lives in the instance, so a read allocates nothing for it.
void EnterFiles(ViewInstance& view) {
    std::vector<FileDecl*>& entered = view.entered;
    entered.clear();
    for (Level& level : view.levels) {
        FileDecl* file = level.file;
        if (file->driver_instance == nullptr || (file->driver_instance->state & VRN_STATE_IN_VIEW) != 0 ||
            std::find(entered.begin(), entered.end(), file) != entered.end() ||
            std::find(view.without_inview.begin(), view.without_inview.end(), file) != view.without_inview.end())
            continue;
        CallFileDriver(VRN_OP_INVIEW, file);
        // A driver that does not know INVIEW is not asked again while the view stays open.
        if (Vrn$ERRCODE == kUnsupported)
            view.without_inview.push_back(file);
        else
            entered.push_back(file);
    }
    Vrn$clearerror();
}

void LeaveFiles(const ViewInstance& view) {
    for (FileDecl* file : view.entered)
        CallFileDriver(VRN_OP_ENDVIEW, file);
}

// SETview: the current values of the first `count` ORDER items.
void CaptureOrderValues(ViewInstance& view, int32_t count) {
    view.set_view_values.clear();
    count = std::clamp<int32_t>(count, 0, int32_t(view.order.size()));
    Level& primary = view.levels[0];
    for (int32_t i = 0; i < count; i++) {
        if (view.order_by_key) {
            int32_t component = primary.scan_key->components[i];
            const VrnFieldDesc& field = primary.file->record_type->fields[std::abs(component) - 1];
            const uint8_t* at = static_cast<const uint8_t*>(primary.file->record) + field.offset;
            view.set_view_values.emplace_back(at, at + field.size);
        } else {
            Vrn$EvalS(view.order[size_t(i)].expression.get());
            std::string text = PopStdString();
            view.set_view_values.emplace_back(text.begin(), text.end());
        }
    }
    view.set_view = true;
    view.reposition = false;
}

struct Outcome {
    int32_t code = 0;
    intptr_t result = 0;
    std::string text;
};

Outcome Read(ViewInstance& view, int32_t operation, const intptr_t* arguments, const std::string& text,
             bool external) {
    Outcome out;
    Level& primary = view.levels[0];
    if (external) {
        Restart(view);
        view.reposition = false;
        view.set_view = false;
        primary.place = Place::kExternal;
    } else if (view.started && view.operations_at_entry - view.operations_after > 1) {
        // Something besides this call's own dispatch reached a driver since the last call.
        out.code = RestorePlace(view);
        if (out.code != 0)
            return out;
    }
    bool moving = operation == VRN_OP_NEXT || operation == VRN_OP_PREVIOUS || operation == VRN_OP_SKIP;
    Direction direction = view.direction;
    if (operation == VRN_OP_NEXT)
        direction = Direction::kForward;
    else if (operation == VRN_OP_PREVIOUS)
        direction = Direction::kBackward;
    else if (operation == VRN_OP_SKIP)
        direction = int32_t(arguments[0]) < 0 ? Direction::kBackward : Direction::kForward;
    if (moving) {
        view.direction = direction;
        if (view.set_view) {
            view.set_view = false;
            StartAtValues(view, view.set_view_values);
        }
        if (view.reposition) {
            out.code = ApplyReposition(view);
            if (out.code != 0)
                return out;
        }
    }
    switch (operation) {
    case VRN_OP_NEXT:
    case VRN_OP_PREVIOUS:
        if (view.watch)
            CallFileDriver(VRN_OP_WATCH, primary.file);
        view.watch = false;
        out.code = Fetch(view, direction);
        break;
    case VRN_OP_SKIP: {
        int32_t count = int32_t(arguments[0]);
        for (int32_t i = 0; i < std::abs(count) && out.code == 0; i++)
            out.code = Fetch(view, direction);
        break;
    }
    case VRN_OP_GET_FILE_POINTER: {
        ViewEngineScope scope;
        Restart(view);
        CallFileDriver(VRN_OP_GET_FILE_POINTER, primary.file, {arguments[0]});
        out.code = Vrn$ERRCODE;
        if (out.code == 0) {
            primary.place = Place::kRow;
            out.code = DescendFrom(view, 1, Direction::kForward);
            view.started = out.code == 0;
        }
        break;
    }
    case VRN_OP_RECORDS_FILE: {
        std::vector<Place> places;
        for (Level& level : view.levels)
            places.push_back(level.place);
        bool started = view.started;
        SavePlace(view);
        out.result = CountRows(view);
        for (size_t i = 0; i < places.size(); i++)
            view.levels[i].place = places[i];
        view.started = started;
        out.code = RestorePlace(view);
        break;
    }
    case VRN_OP_POSITION_FILE:
        out.text = ViewPosition(view);
        out.code = 0;
        break;
    case VRN_OP_RESET_FILE: {
        std::vector<std::string> parts;
        if (!SplitPosition(text, view.levels.size(), parts)) {
            out.code = kUnknownError;
            break;
        }
        if (view.flush) {
            // After FLUSH the row is read again and the plan rebuilt before positioning.
            out.code = RegetRow(view, text);
            if (out.code != 0)
                break;
            view.rebuild = true;
            out.code = EnsurePlan(view);
            if (out.code != 0)
                break;
        }
        Restart(view);
        view.reposition_parts = std::move(parts);
        view.reposition = true;
        view.set_view = false;
        break;
    }
    case VRN_OP_REGET_FILE:
        if (view.watch)
            CallFileDriver(VRN_OP_WATCH, primary.file);
        view.watch = false;
        out.code = RegetRow(view, text);
        break;
    default:
        out.code = kUnsupported;
        break;
    }
    return out;
}

std::string OrderItemText(const ViewInstance& view, size_t index) {
    if (index == 0 || index > view.order.size())
        return std::string();
    return view.order[index - 1].text;
}

Outcome Perform(ViewInstance& view, int32_t operation, const intptr_t* arguments, const std::string& text) {
    Outcome out;
    FileDecl* primary = Primary(view);
    // A SET on the primary file done by the program starts the view there.
    bool external = false;
    if ((operation == VRN_OP_NEXT || operation == VRN_OP_PREVIOUS) && (view.state & VRN_STATE_OPEN) != 0 &&
        (view.state & VRN_STATE_SEQUENCE) == 0 && primary->driver_instance != nullptr &&
        (primary->driver_instance->state & VRN_STATE_SEQUENCE_START) != 0 &&
        ExternalPositioningCount(primary) != view.primary_positionings) {
        _drv_update_any_state(nullptr, VRN_OP_SET_FILE, &view.state, &view.operation_flags, 0, 0);
        view.rebuild = true;
        external = true;
    }
    out.code = _drv_check_any_state(nullptr, operation, view.state, &view.operation_flags, text.data(),
                                    uint32_t(text.size()));
    if (out.code == -1)
        out.code = kUnsupported;
    if (out.code != 0)
        return out;
    switch (operation) {
    case VRN_OP_OPEN:
        if (primary->driver_instance == nullptr) {
            out.code = kFileNotOpen;
            break;
        }
        view.rebuild = true;
        view.started = false;
        break;
    case VRN_OP_SET_VIEW:
    case VRN_OP_RESET_VIEW_FILE:
        out.code = EnsurePlan(view);
        if (out.code != 0)
            break;
        if (operation == VRN_OP_SET_VIEW) {
            CaptureOrderValues(view, int32_t(arguments[0]));
        } else {
            ViewEngineScope scope;
            std::string position = ComponentPosition(view.levels[0]);
            out.code = Vrn$ERRCODE;
            if (out.code == 0) {
                Restart(view);
                view.reposition_parts = {position};
                view.reposition = true;
                view.set_view = false;
            }
        }
        break;
    case VRN_OP_WATCH:
        view.watch = true;
        break;
    case VRN_OP_FLUSH:
        view.flush = true;
        break;
    case VRN_OP_DELETE:
    case VRN_OP_PUT:
    case VRN_OP_HOLD:
    case VRN_OP_RELEASE:
        CallFileDriver(operation, primary);
        out.code = Vrn$ERRCODE;
        break;
    case VRN_OP_HOLD_SECONDS:
        CallFileDriver(operation, primary, {arguments[0]});
        out.code = Vrn$ERRCODE;
        break;
    case VRN_OP_SET_PROPERTY:
        switch (int32_t(arguments[0]) & 0xFFFF) {
        case VRN_VIEW_PROP_FILTER:
            view.filter_text = text;
            view.rebuild = true;
            break;
        case VRN_VIEW_PROP_ORDER:
            view.order_text = text;
            view.rebuild = true;
            break;
        case VRN_VIEW_PROP_TRACE_FILES:
            view.trace.into_files = std::atoi(text.c_str()) != 0;
            break;
        default:
            break;
        }
        break;
    case VRN_OP_GET_PROPERTY: {
        uint32_t property = uint32_t(arguments[0]) & 0xFFFF;
        size_t index = uint32_t(arguments[0]) >> 16;
        if (property == VRN_VIEW_PROP_FILTER) {
            out.text = view.filter_text;
        } else if (property == VRN_VIEW_PROP_ORDER) {
            if (index == 0) {
                out.text = view.order_text;
            } else {
                if (EnsurePlan(view) == 0)
                    out.text = OrderItemText(view, index);
                Vrn$clearerror();
            }
        } else if (property == VRN_VIEW_PROP_FILES) {
            out.text = std::to_string(view.levels.size());
        } else if (property == VRN_VIEW_PROP_FILE) {
            if (index >= 1 && index <= view.levels.size())
                out.text = std::to_string(reinterpret_cast<uintptr_t>(view.levels[index - 1].file));
        } else if (property == VRN_VIEW_PROP_TRACE_FILES) {
            out.text = view.trace.into_files ? "1" : "0";
        }
        break;
    }
    default:
        if (!IsReading(operation)) {
            out.code = kUnsupported;
            break;
        }
        out.code = EnsurePlan(view);
        if (out.code != 0)
            break;
        {
            ViewEngineScope scope;
            EnterFiles(view);
            out = Read(view, operation, arguments, text, external);
            LeaveFiles(view);
        }
        break;
    }
    return out;
}

} // namespace

} // namespace tarvex::view

using namespace tarvex;
using namespace tarvex::view;

TARVEX_API intptr_t VIEWDRIVER(int32_t operation, FileDecl* file, const intptr_t* arguments) {
    auto* decl = reinterpret_cast<ViewDecl*>(file);
    ViewInstance* instance = decl != nullptr ? Find(decl) : nullptr;
    if (instance != nullptr && instance->delegate != nullptr) {
        // Another thread's CLOSE of the same declaration put VIEWDRIVER back; this thread's view
        // stays with the driver that runs it.
        decl->driver = instance->delegate;
        return instance->delegate(operation, file, arguments);
    }
    if (decl != nullptr && instance == nullptr && decl->components != nullptr && decl->components[0] != nullptr) {
        // A primary driver that runs views itself receives this and every later operation.
        auto* primary = static_cast<FileDecl*>(decl->components[0]);
        intptr_t function = 0;
        if (primary->driver != nullptr) {
            ViewEngineScope scope;
            function = CallFileDriver(VRN_OP_QUERY_VIEW, primary);
        }
        Vrn$clearerror();
        if (function != 0) {
            decl->driver = reinterpret_cast<VrnDriverEntry>(function);
            return decl->driver(operation, file, arguments);
        }
    }
    return VIEWENGINE(operation, file, arguments);
}

TARVEX_API intptr_t VIEWENGINE(int32_t operation, FileDecl* file, const intptr_t* arguments) {
    uint64_t operations_at_entry = FileOperationCount();
    Vrn$clearerror();
    auto* decl = reinterpret_cast<ViewDecl*>(file);
    std::string text;
    ViewInstance* view = decl != nullptr ? Find(decl) : nullptr;
    if (OperationTakesText(operation))
        text = PopStdString();
    if (decl == nullptr || view == nullptr) {
        bool creates = decl != nullptr && (operation == VRN_OP_OPEN || operation == VRN_OP_SET_PROPERTY ||
                                            operation == VRN_OP_GET_PROPERTY);
        if (creates) {
            view = Create(decl);
            // Made for a driver that runs the view (its view function hands the engine the view's
            // operations): the thread's later operations go to that function even after another
            // thread's CLOSE put VIEWDRIVER back in the shared declaration.
            if (view != nullptr && decl->driver != VIEWDRIVER && decl->driver != VIEWENGINE)
                view->delegate = decl->driver;
        }
        if (view == nullptr) {
            if (OperationGivesText(operation))
                Vrn$PushString("", 0);
            Vrn$seterror(creates ? kInvalidDeclaration : kFileNotOpen);
            return 0;
        }
    }
    // The clock is read only for the trace: it costs as much as a row of a scan.
    auto start = view->trace.on ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point();
    view->operations_at_entry = operations_at_entry;
    if (operation == VRN_OP_CLOSE) {
        int32_t code = _drv_check_any_state(nullptr, operation, view->state, &view->operation_flags, nullptr, 0);
        if (code == -1)
            code = kUnsupported;
        TraceOperation(*view, operation, nullptr, code, 0.0);
        TraceClose(*view);
        Destroy(view);
        decl->driver = VIEWDRIVER;
        if (code != 0)
            Vrn$seterror(code);
        return 0;
    }
    Outcome out = Perform(*view, operation, arguments, text);
    if (out.code != 0)
        Vrn$seterror(out.code);
    else
        Vrn$clearerror();
    _drv_update_any_state(nullptr, operation, &view->state, &view->operation_flags, out.code, 0);
    if (operation == VRN_OP_OPEN && out.code == 0) {
        uint32_t primary_state = Primary(*view)->driver_instance->state;
        view->state |= primary_state & (VRN_STATE_WRITABLE | VRN_STATE_EXCLUSIVE);
    }
    if (IsReading(operation) && view->plan_ready)
        SavePlace(*view);
    view->operations_after = FileOperationCount();
    // A SET the program did on the primary file before OPEN starts the view there, one done after
    // the view's last read restarts it.
    if (operation == VRN_OP_OPEN)
        view->primary_positionings = UINT64_MAX;
    else if (IsReading(operation) || operation == VRN_OP_SET_VIEW || operation == VRN_OP_RESET_VIEW_FILE)
        view->primary_positionings = ExternalPositioningCount(Primary(*view));
    if (view->trace.on) {
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        TraceOperation(*view, operation, text.empty() ? nullptr : text.c_str(), out.code, seconds);
    }
    if (OperationGivesText(operation))
        PushCopy(out.code == 0 ? out.text : std::string());
    return out.result;
}

TARVEX_API int32_t VIEWBOUNDS(FileDecl* file, KeyDecl* key, void* record) {
    auto* decl = reinterpret_cast<ViewDecl*>(file);
    ViewInstance* view = decl != nullptr ? Find(decl) : nullptr;
    if (view == nullptr || key == nullptr || record == nullptr)
        return 0;
    int32_t error = Vrn$ERRCODE;
    int32_t fixed = 0;
    if (EnsurePlan(*view) == 0 && !view->levels.empty() && key->file == view->levels[0].file) {
        Level level;
        level.file = view->levels[0].file;
        level.scan_key = key;
        BoundByFilter(*view, level);
        TakeBoundImages(*view, level);
        for (const Bound& bound : level.bounds)
            std::memcpy(static_cast<uint8_t*>(record) + bound.field->offset, bound.image.data(), bound.image.size());
        fixed = int32_t(level.bounds.size());
    }
    if (error != 0)
        Vrn$seterror(error);
    else
        Vrn$clearerror();
    return fixed;
}
