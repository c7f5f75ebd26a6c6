// SPDX-License-Identifier: GPL-3.0-or-later
// The driver (driver.h) and the scripts that use it.
#include "windows/driver.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tarvex/frame.h"
#include "windows/control_model.h"
#include "windows/description_format.h"
#include "windows/events.h"
#include "windows/value_text.h"

namespace tarvex::windows {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kKeyTab = 0x09;

bool IsNumbered(std::string_view control) { return control.size() > 1 && control[0] == '#'; }

uint8_t Code(Kind kind) { return static_cast<uint8_t>(kind); }

}  // namespace

std::string Driver::Plain(std::string_view text) {
    std::string plain = WithoutHotKey(text);
    size_t first = plain.find_first_not_of(" |");
    size_t last = plain.find_last_not_of(" |");
    return first == std::string::npos ? std::string() : plain.substr(first, last - first + 1);
}

bool Driver::Fail(std::string why) {
    why_ = std::move(why);
    return false;
}

std::optional<HeadlessUi::Window> Driver::Window(std::string_view title) {
    HeadlessUi* ui = HeadlessBackend();
    if (ui == nullptr) {
        Fail("the headless backend is not in use");
        return std::nullopt;
    }
    Clock::time_point until = Clock::now() + timeout_;
    for (;;) {
        if (auto window = ui->FindWindow(std::string(title)); window && WindowThread(window->handle) >= 0)
            return window;
        if (Clock::now() >= until)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Fail("no window \"" + std::string(title) + "\" within " + std::to_string(timeout_.count()) + " ms");
    return std::nullopt;
}

const HeadlessUi::Control* Driver::Find(const HeadlessUi::Window& window, std::string_view control) {
    if (IsNumbered(control)) {
        int32_t field = std::atoi(std::string(control.substr(1)).c_str());
        for (const auto& c : window.controls)
            if (c.spec.field_number == field)
                return &c;
    } else {
        std::string wanted = Plain(control);
        for (size_t i = 0; i < window.controls.size(); i++) {
            const auto& c = window.controls[i];
            if (Plain(c.text) != wanted)
                continue;
            if (c.spec.kind != Code(Kind::Prompt) && c.spec.kind != Code(Kind::StringText))
                return &c;
            // A label names the field after it.
            for (size_t j = i + 1; j < window.controls.size(); j++) {
                const auto& next = window.controls[j];
                if (next.spec.kind != Code(Kind::Prompt) && next.spec.kind != Code(Kind::StringText))
                    return &next;
            }
        }
    }
    Fail("no control \"" + std::string(control) + "\" in \"" + window.spec.title + "\"");
    return nullptr;
}

bool Driver::Post(const HeadlessUi::Window& window, NativeInput input) {
    input.window = window.handle;
    if (!PostInput(input))
        return Fail("the window \"" + window.spec.title + "\" closed");
    return true;
}

bool Driver::WaitForWindow(std::string_view title) { return Window(title).has_value(); }

bool Driver::WaitUntilClosed(std::string_view title) {
    HeadlessUi* ui = HeadlessBackend();
    Clock::time_point until = Clock::now() + timeout_;
    while (ui != nullptr && ui->FindWindow(std::string(title))) {
        if (Clock::now() >= until)
            return Fail("the window \"" + std::string(title) + "\" stayed open");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool Driver::Type(std::string_view title, std::string_view control, std::string_view text) {
    auto window = Window(title);
    const HeadlessUi::Control* c = window ? Find(*window, control) : nullptr;
    if (c == nullptr)
        return false;
    // The person's keys stop at the entry's limit, as a real line stops them.
    std::string typed_text(LimitTypedText(text, c->entry_limit));
    HeadlessBackend()->SetControlText(c->handle, typed_text);
    NativeInput typed{.kind = InputKind::kText, .field = c->spec.field_number, .text = typed_text};
    NativeInput tab{.kind = InputKind::kKey, .field = c->spec.field_number, .code = kKeyTab};
    return Post(*window, typed) && Post(*window, tab);
}

bool Driver::Press(std::string_view title, std::string_view button) {
    auto window = Window(title);
    const HeadlessUi::Control* c = window ? Find(*window, button) : nullptr;
    if (c == nullptr)
        return false;
    return Post(*window, {.kind = InputKind::kCommand, .field = c->spec.field_number});
}

bool Driver::Choose(std::string_view title, std::string_view menu_path) {
    auto window = Window(title);
    if (!window)
        return false;
    NativeHandle parent = 0;
    const HeadlessUi::MenuEntry* found = nullptr;
    std::string_view rest = menu_path;
    while (!rest.empty()) {
        size_t bar = rest.find('|');
        std::string wanted = Plain(rest.substr(0, bar));
        rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
        found = nullptr;
        for (const auto& entry : window->menu)
            if (entry.spec.parent_menu == parent && !entry.spec.separator && Plain(entry.spec.text) == wanted)
                found = &entry;
        if (found == nullptr)
            return Fail("no menu item \"" + std::string(menu_path) + "\" in \"" + window->spec.title + "\"");
        parent = found->handle;
    }
    if (found == nullptr)
        return Fail("an empty menu path");
    return Post(*window, {.kind = InputKind::kCommand, .field = found->spec.field_number});
}

bool Driver::PickRow(std::string_view title, std::string_view list, int32_t row, bool double_click) {
    auto window = Window(title);
    const HeadlessUi::Control* c = window ? Find(*window, list) : nullptr;
    if (c == nullptr)
        return false;
    NativeInput pick{.kind = double_click ? InputKind::kButton : InputKind::kListRow,
                     .field = c->spec.field_number, .code = 1, .double_click = double_click, .row = row};
    return Post(*window, pick);
}

bool Driver::Click(std::string_view title, std::string_view control, uint32_t button, bool double_click) {
    auto window = Window(title);
    const HeadlessUi::Control* c = window ? Find(*window, control) : nullptr;
    if (c == nullptr)
        return false;
    return Post(*window, {.kind = InputKind::kButton, .field = c->spec.field_number, .code = button,
                          .double_click = double_click});
}

bool Driver::Focus(std::string_view title, std::string_view control) {
    auto window = Window(title);
    const HeadlessUi::Control* c = window ? Find(*window, control) : nullptr;
    if (c == nullptr)
        return false;
    return Post(*window, {.kind = InputKind::kFocus, .field = c->spec.field_number});
}

bool Driver::PressKey(std::string_view title, uint32_t key_code) {
    auto window = Window(title);
    if (!window)
        return false;
    return Post(*window, {.kind = InputKind::kKey, .code = key_code & 0xFF,
                          .state = key_code & 0x700, .extended = (key_code & 0x800) != 0});
}

bool Driver::CloseBox(std::string_view title) {
    auto window = Window(title);
    return window && Post(*window, {.kind = InputKind::kClose});
}

bool Driver::Timer(std::string_view title) {
    auto window = Window(title);
    return window && Post(*window, {.kind = InputKind::kTimer, .code = 1});
}

bool Driver::Screenshot(std::string_view title, const std::string& path) {
    auto window = Window(title);
    if (!window)
        return false;
    std::string why;
    return Ui().Screenshot(window->handle, path, why) || Fail(why);
}

std::optional<std::string> Driver::Shown(std::string_view title, std::string_view control) {
    auto window = Window(title);
    const HeadlessUi::Control* c = window ? Find(*window, control) : nullptr;
    if (c == nullptr)
        return std::nullopt;
    return c->text;
}

std::optional<NativeListView> Driver::ShownList(std::string_view title, std::string_view list) {
    auto window = Window(title);
    const HeadlessUi::Control* c = window ? Find(*window, list) : nullptr;
    if (c == nullptr)
        return std::nullopt;
    return c->list;
}

bool Driver::WaitForList(std::string_view title, std::string_view list,
                         const std::function<bool(const NativeListView&, std::string&)>& check) {
    Clock::time_point until = Clock::now() + timeout_;
    for (;;) {
        std::optional<NativeListView> view = ShownList(title, list);
        if (!view)
            return false;
        std::string seen;
        if (check(*view, seen))
            return true;
        if (Clock::now() >= until)
            return Fail("\"" + std::string(list) + "\" in \"" + std::string(title) + "\" " + seen);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool Driver::WaitForRow(std::string_view title, std::string_view list, int32_t row, std::string_view cells) {
    return WaitForList(title, list, [&](const NativeListView& view, std::string& seen) {
        int64_t index = int64_t(row) - view.first_row;
        if (index < 0 || index >= int64_t(view.rows.size())) {
            seen = "shows rows " + std::to_string(view.first_row) + " to " +
                   std::to_string(view.first_row + int32_t(view.rows.size()) - 1) + ", not " + std::to_string(row);
            return false;
        }
        std::string shown;
        for (size_t i = 0; i < view.rows[size_t(index)].size(); i++)
            shown += (i > 0 ? "|" : "") + Plain(view.rows[size_t(index)][i]);
        seen = "shows \"" + shown + "\" in row " + std::to_string(row);
        return shown == cells;
    });
}

bool Driver::WaitForSelected(std::string_view title, std::string_view list, int32_t row) {
    return WaitForList(title, list, [&](const NativeListView& view, std::string& seen) {
        seen = "has row " + std::to_string(view.selected) + " selected, not " + std::to_string(row);
        return view.selected == row;
    });
}

bool Driver::WaitForMessage(std::string_view text) {
    Clock::time_point until = Clock::now() + timeout_;
    for (;;) {
        if (platform::HeadlessMessageBoxes* boxes = platform::Headless())
            for (const auto& shown : boxes->Transcript())
                if (shown.request.text.find(text) != std::string::npos)
                    return true;
        if (Clock::now() >= until)
            return Fail("no message box said \"" + std::string(text) + "\"");
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void Driver::Answer(uint32_t button) {
    if (platform::HeadlessMessageBoxes* boxes = platform::Headless())
        boxes->QueueAnswer(button);
}

void Driver::AnswerFile(std::optional<std::string> path) {
    if (HeadlessUi* ui = HeadlessBackend())
        ui->QueueFileAnswer(std::move(path));
}

// ---- Scripts --------------------------------------------------------------------------------------

namespace {

// Splits a script line into words: a double-quoted word may hold blanks ("" stands for a quote).
std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t') {
            i++;
            continue;
        }
        std::string word;
        if (line[i] == '"') {
            for (i++; i < line.size(); i++) {
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        word += '"';
                        i++;
                    } else {
                        i++;
                        break;
                    }
                } else {
                    word += line[i];
                }
            }
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t')
                word += line[i++];
        }
        words.push_back(std::move(word));
    }
    return words;
}

// A key by name or number: "Esc", "Enter", "F1", "Ctrl+Enter", "45", "0x2D".
std::optional<uint32_t> KeyCode(std::string_view name) {
    static const std::pair<const char*, uint32_t> kNames[] = {
        {"tab", 0x09}, {"enter", 0x0D}, {"esc", 0x1B}, {"space", 0x20}, {"pgup", 0x21}, {"pgdn", 0x22},
        {"end", 0x23}, {"home", 0x24}, {"left", 0x25}, {"up", 0x26}, {"right", 0x27}, {"down", 0x28},
        {"insert", 0x2D | 0x800}, {"delete", 0x2E | 0x800},
    };
    uint32_t state = 0;
    std::string rest(name);
    for (auto [prefix, bit] : {std::pair{"shift+", 0x100u}, std::pair{"ctrl+", 0x200u}, std::pair{"alt+", 0x400u}}) {
        std::string lower;
        for (char ch : rest.substr(0, std::string_view(prefix).size()))
            lower += char(std::tolower(static_cast<unsigned char>(ch)));
        if (lower == prefix) {
            state |= bit;
            rest = rest.substr(lower.size());
        }
    }
    std::string lower;
    for (char ch : rest)
        lower += char(std::tolower(static_cast<unsigned char>(ch)));
    for (auto [key, code] : kNames)
        if (lower == key)
            return code | state;
    if (lower.size() >= 2 && lower[0] == 'f' && std::isdigit(static_cast<unsigned char>(lower[1]))) {
        int n = std::atoi(lower.c_str() + 1);
        if (n >= 1 && n <= 24)
            return uint32_t(0x6F + n) | state;
    }
    if (lower.size() == 1 && std::isalnum(static_cast<unsigned char>(lower[0])))
        return uint32_t(std::toupper(static_cast<unsigned char>(lower[0]))) | state;
    char* end = nullptr;
    unsigned long number = std::strtoul(lower.c_str(), &end, 0);
    if (!lower.empty() && end != nullptr && *end == '\0' && number <= 0xFFFF)
        return uint32_t(number) | state;
    return std::nullopt;
}

bool ExpectWords(const std::vector<std::string>& words, size_t count, std::string& why) {
    if (words.size() == count)
        return true;
    why = "expected " + std::to_string(count - 1) + " argument(s), found " + std::to_string(words.size() - 1);
    return false;
}

// Runs one step; false with `why` when it fails.
bool Step(const std::vector<std::string>& w, Driver& driver, std::string& why) {
    const std::string& verb = w[0];
    auto failed = [&] {
        why = driver.Why();
        return false;
    };
    if (verb == "timeout") {
        if (!ExpectWords(w, 2, why))
            return false;
        driver.SetTimeout(std::chrono::milliseconds(std::atoi(w[1].c_str())));
        return true;
    }
    if (verb == "wait")
        return ExpectWords(w, 2, why) && (driver.WaitForWindow(w[1]) || failed());
    if (verb == "closed")
        return ExpectWords(w, 2, why) && (driver.WaitUntilClosed(w[1]) || failed());
    if (verb == "type")
        return ExpectWords(w, 4, why) && (driver.Type(w[1], w[2], w[3]) || failed());
    if (verb == "press")
        return ExpectWords(w, 3, why) && (driver.Press(w[1], w[2]) || failed());
    if (verb == "choose")
        return ExpectWords(w, 3, why) && (driver.Choose(w[1], w[2]) || failed());
    if (verb == "focus")
        return ExpectWords(w, 3, why) && (driver.Focus(w[1], w[2]) || failed());
    if (verb == "close")
        return ExpectWords(w, 2, why) && (driver.CloseBox(w[1]) || failed());
    if (verb == "pick" || verb == "doubleclick") {
        if (!ExpectWords(w, 4, why))
            return false;
        return driver.PickRow(w[1], w[2], std::atoi(w[3].c_str()), verb == "doubleclick") || failed();
    }
    if (verb == "screenshot")
        return ExpectWords(w, 3, why) && (driver.Screenshot(w[1], w[2]) || failed());
    if (verb == "rightclick")
        return ExpectWords(w, 3, why) && (driver.Click(w[1], w[2], 2) || failed());
    if (verb == "key") {
        if (!ExpectWords(w, 3, why))
            return false;
        std::optional<uint32_t> code = KeyCode(w[2]);
        if (!code) {
            why = "no key \"" + w[2] + "\"";
            return false;
        }
        return driver.PressKey(w[1], *code) || failed();
    }
    if (verb == "answer") {
        if (!ExpectWords(w, 2, why))
            return false;
        uint32_t button = platform::ButtonFromName(w[1]);
        if (button == 0) {
            why = "no button \"" + w[1] + "\"";
            return false;
        }
        driver.Answer(button);
        return true;
    }
    if (verb == "file") {
        if (!ExpectWords(w, 2, why))
            return false;
        driver.AnswerFile(w[1]);
        return true;
    }
    if (verb == "cancelfile") {
        if (!ExpectWords(w, 1, why))
            return false;
        driver.AnswerFile(std::nullopt);
        return true;
    }
    if (verb == "expect") {
        if (!ExpectWords(w, 4, why))
            return false;
        std::optional<std::string> shown = driver.Shown(w[1], w[2]);
        if (!shown)
            return failed();
        if (Driver::Plain(*shown) != Driver::Plain(w[3])) {
            why = "\"" + w[2] + "\" shows \"" + *shown + "\", not \"" + w[3] + "\"";
            return false;
        }
        return true;
    }
    if (verb == "row") {
        if (!ExpectWords(w, 5, why))
            return false;
        return driver.WaitForRow(w[1], w[2], std::atoi(w[3].c_str()), w[4]) || failed();
    }
    if (verb == "selected") {
        if (!ExpectWords(w, 4, why))
            return false;
        return driver.WaitForSelected(w[1], w[2], std::atoi(w[3].c_str())) || failed();
    }
    if (verb == "message") {
        if (!ExpectWords(w, 2, why))
            return false;
        if (driver.WaitForMessage(w[1]))
            return true;
        return failed();
    }
    why = "unknown step \"" + verb + "\"";
    return false;
}

std::string TranscriptPath() {
    const char* path = std::getenv("TARVEX_TRANSCRIPT");
    return path != nullptr ? path : "";
}

void WriteTranscript(std::string_view line) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::string text = std::string(line) + "\n";
    if (std::string path = TranscriptPath(); !path.empty())
        platform::AppendToFile(path, text);
    else
        std::fwrite(text.data(), 1, text.size(), stderr);
}

void WatchWindows(const VrnWindowObject& window, bool opened) {
    WriteTranscript(std::string(opened ? "opened: " : "closed: ") + window.title);
}

}  // namespace

int RunScript(std::string_view script, Driver& driver, void (*write)(std::string_view)) {
    int number = 0;
    std::istringstream lines{std::string(script)};
    std::string line;
    while (std::getline(lines, line)) {
        number++;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> words = Words(line);
        if (words.empty() || words[0][0] == '#')
            continue;
        std::string why;
        if (!Step(words, driver, why)) {
            write("step " + std::to_string(number) + ": " + line + ": FAILED: " + why);
            return number;
        }
        write("step " + std::to_string(number) + ": " + line + ": ok");
    }
    write("script done");
    return 0;
}

bool WatchForScriptFromEnvironment() {
    static std::atomic<bool> watching{false};
    const char* path = std::getenv("TARVEX_SCRIPT");
    if (path == nullptr || *path == '\0' || watching.exchange(true))
        return false;
    SetWindowWatcher(WatchWindows);
    return true;
}

namespace {
// The script started from the environment, until it has run its last step.
std::mutex script_mutex;
std::condition_variable script_ended;
bool script_running = false;
}  // namespace

void WaitForScriptEnd() {
    std::unique_lock lock(script_mutex);
    script_ended.wait(lock, [] { return !script_running; });
}

void StartScriptFromEnvironment() {
    const char* path = std::getenv("TARVEX_SCRIPT");
    if (path == nullptr)
        return;
    std::string file = path;
    {
        std::lock_guard lock(script_mutex);
        script_running = true;
    }
    std::thread([file] {
        struct Ended {
            ~Ended() {
                std::lock_guard lock(script_mutex);
                script_running = false;
                script_ended.notify_all();
            }
        } ended;
        std::optional<std::string> text = platform::ReadWholeFile(file);
        if (!text) {
            WriteTranscript("script " + file + ": cannot be read");
            platform::ExitProcess(3);
        }
        Driver driver;
        if (RunScript(*text, driver, WriteTranscript) != 0)
            platform::ExitProcess(3);
    }).detach();
}

}  // namespace tarvex::windows
