// SPDX-License-Identifier: GPL-3.0-or-later
// COMMAND() and SETCOMMAND: the command tail of the process, its parameters and flags.
#include "core/command_line.h"

#include <cstring>
#include <mutex>

#include "core/string_stack.h"
#include "platform/platform.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"

namespace tarvex {
namespace {

bool EndsParameter(char c) { return static_cast<unsigned char>(c) <= ' ' || c == ','; }

std::string_view Clip(std::string_view text) {
    size_t end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        unsigned char a = static_cast<unsigned char>(text[i]), b = static_cast<unsigned char>(prefix[i]);
        if (a >= 'a' && a <= 'z') a = static_cast<unsigned char>(a - 32);
        if (b >= 'a' && b <= 'z') b = static_cast<unsigned char>(b - 32);
        if (a != b) return false;
    }
    return true;
}

// A non-empty run of decimal digits; its value, saturated so that a huge number selects nothing.
bool ParseNumber(std::string_view text, size_t& value) {
    if (text.empty()) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        if (value < 1000000) value = value * 10 + static_cast<size_t>(c - '0');
    }
    return true;
}

std::mutex tail_mutex;
bool tail_known = false;
std::string command_tail;

std::string CurrentTail() {
    std::lock_guard lock(tail_mutex);
    if (!tail_known) {
        command_tail = ProcessCommandTail();
        tail_known = true;
    }
    return command_tail;
}

std::string PopClipped() {
    std::string text = PopStdString();
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

}  // namespace

std::vector<std::string> SplitCommandTail(std::string_view tail) {
    std::vector<std::string> parameters;
    size_t i = 0;
    const size_t n = tail.size();
    while (true) {
        while (i < n && static_cast<unsigned char>(tail[i]) <= ' ') ++i;
        if (i >= n) break;
        std::string parameter;
        bool quoted = false;
        while (i < n) {
            char c = tail[i];
            if (c == '"') {
                if (i + 1 < n && tail[i + 1] == '"') {
                    parameter += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    ++i;
                }
                continue;
            }
            if (!quoted && (EndsParameter(c) || (c == '/' && !parameter.empty()))) break;
            parameter += c;
            ++i;
        }
        if (i < n && tail[i] == ',') ++i;
        parameters.push_back(std::move(parameter));
    }
    return parameters;
}

std::string SelectFromCommand(std::string_view tail, std::string_view selector, std::string_view program) {
    selector = Clip(selector);
    if (selector.empty()) return std::string(tail);
    size_t number = 0;
    if (ParseNumber(selector, number)) {
        if (number == 0) return std::string(program);
        std::vector<std::string> parameters = SplitCommandTail(tail);
        return number <= parameters.size() ? parameters[number - 1] : std::string();
    }
    std::string flag(selector);
    bool slash = flag[0] == '/';
    if (!slash) flag += '=';
    for (const std::string& parameter : SplitCommandTail(tail)) {
        if (!StartsWithNoCase(parameter, flag)) continue;
        return slash ? parameter.substr(1) : parameter.substr(flag.size());
    }
    return std::string();
}

std::string ProcessCommandTail() { return JoinCommandArguments(platform::Arguments()); }

std::string JoinCommandArguments(const std::vector<std::string>& arguments) {
    std::string tail;
    for (const std::string& argument : arguments) {
        if (!tail.empty()) tail += ' ';
        // An empty parameter is a comma where a parameter would start ("" would read as a quote).
        if (argument.empty()) {
            tail += ',';
            continue;
        }
        bool needs_quotes = false;
        for (size_t i = 0; i < argument.size(); ++i) {
            char c = argument[i];
            if (EndsParameter(c) || c == '"' || (c == '/' && i > 0)) needs_quotes = true;
        }
        if (!needs_quotes) {
            tail += argument;
            continue;
        }
        // Leading quotes go before the opening quote: an opening quote followed by a doubled one
        // would read as a quote character first and only then open the quoted part.
        size_t i = 0;
        for (; i < argument.size() && argument[i] == '"'; ++i) tail += "\"\"";
        if (i == argument.size()) continue;
        tail += '"';
        for (; i < argument.size(); ++i) {
            if (argument[i] == '"') tail += '"';
            tail += argument[i];
        }
        tail += '"';
    }
    return tail;
}

}  // namespace tarvex

using namespace tarvex;

extern "C" {

TARVEX_API void Vrn$COMMAND(void) {
    std::string selector = PopClipped();
    std::string tail = CurrentTail();
    std::string program;
    if (Clip(selector) == "0") program = platform::WindowsFileName(platform::ExecutablePath());
    PushCopy(SelectFromCommand(tail, selector, program));
}

TARVEX_API void Vrn$SETCOMMAND(void) {
    std::string tail = PopClipped();
    std::lock_guard lock(tail_mutex);
    command_tail = std::move(tail);
    tail_known = true;
}

}  // extern "C"
