// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes: the headless implementation (answers from a queue, else the default button, every
// box kept in a transcript and optionally appended to a transcript file) and the process-wide
// choice of implementation.
#include "platform/platform.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace tarvex::platform {

namespace {

struct ButtonRow {
    uint32_t button;
    const char* name;
};

// The buttons in the order the program numbers them.
constexpr ButtonRow kButtons[] = {{1, "OK"},     {2, "YES"},     {4, "NO"},      {8, "ABORT"},
                                  {16, "RETRY"}, {32, "IGNORE"}, {64, "CANCEL"}, {128, "HELP"}};

constexpr uint32_t kButtonOk = 1;

bool IsSingleButton(uint32_t button) {
    return button != 0 && (button & (button - 1)) == 0;
}

// The button a box takes when nobody answers: the requested default when the box has it, else its
// first button; a box without buttons has OK.
uint32_t DefaultButton(const MessageRequest& request) {
    uint32_t buttons = request.buttons == 0 ? kButtonOk : request.buttons;
    if (IsSingleButton(request.default_button) && (buttons & request.default_button) != 0) {
        return request.default_button;
    }
    return buttons & (~buttons + 1);
}

std::string ButtonList(uint32_t buttons) {
    std::string out;
    for (const auto& row : kButtons) {
        if ((buttons & row.button) != 0) {
            if (!out.empty()) {
                out += ' ';
            }
            out += row.name;
        }
    }
    return out;
}

void AppendToTranscriptFile(const std::string& file, const HeadlessMessageBoxes::Shown& shown) {
    std::string block = "caption: " + shown.request.caption + "\n";
    std::string_view text = shown.request.text;
    do {
        size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        block += "text: ";
        block += line;
        block += '\n';
        text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    } while (!text.empty());
    block += "buttons: " + ButtonList(shown.request.buttons == 0 ? kButtonOk : shown.request.buttons) + "\n";
    block += std::string("answer: ") + ButtonName(shown.answer) + "\n";
    if (shown.refused_answer != 0) {
        block += std::string("refused: ") + ButtonName(shown.refused_answer) + "\n";
    }
    block += '\n';
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    std::string_view rest = block;
    while (!rest.empty()) {
        ssize_t written = write(fd, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            break;
        }
        rest.remove_prefix(size_t(written));
    }
    close(fd);
}

std::mutex messages_mutex;
std::unique_ptr<MessageBoxes> messages;

MessageBoxes& CurrentLocked() {
    if (!messages) {
        messages = HeadlessMessageBoxes::FromEnvironment();
    }
    return *messages;
}

} // namespace

const char* ButtonName(uint32_t button) {
    for (const auto& row : kButtons) {
        if (row.button == button) {
            return row.name;
        }
    }
    return "?";
}

uint32_t ButtonFromName(std::string_view name) {
    for (const auto& row : kButtons) {
        std::string_view expected = row.name;
        if (expected.size() != name.size()) {
            continue;
        }
        bool same = true;
        for (size_t i = 0; i < name.size() && same; i++) {
            char c = name[i] >= 'a' && name[i] <= 'z' ? char(name[i] - 'a' + 'A') : name[i];
            same = c == expected[i];
        }
        if (same) {
            return row.button;
        }
    }
    return 0;
}

HeadlessMessageBoxes::HeadlessMessageBoxes(std::string transcript_file)
    : transcript_file_(std::move(transcript_file)) {}

std::unique_ptr<HeadlessMessageBoxes> HeadlessMessageBoxes::FromEnvironment() {
    const char* file = std::getenv("TARVEX_TRANSCRIPT");
    auto boxes = std::make_unique<HeadlessMessageBoxes>(file != nullptr ? file : "");
    if (const char* answers = std::getenv("TARVEX_ANSWERS")) {
        std::string_view list = answers;
        while (!list.empty()) {
            size_t comma = list.find(',');
            std::string_view item = list.substr(0, comma);
            while (!item.empty() && item.front() == ' ') {
                item.remove_prefix(1);
            }
            while (!item.empty() && item.back() == ' ') {
                item.remove_suffix(1);
            }
            if (uint32_t button = ButtonFromName(item)) {
                boxes->QueueAnswer(button);
            }
            list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        }
    }
    return boxes;
}

uint32_t HeadlessMessageBoxes::Show(const MessageRequest& request) {
    std::lock_guard<std::mutex> guard(mutex_);
    Shown shown{request, DefaultButton(request)};
    uint32_t buttons = request.buttons == 0 ? kButtonOk : request.buttons;
    if (!answers_.empty()) {
        uint32_t queued = answers_.front();
        answers_.pop_front();
        if (IsSingleButton(queued) && (buttons & queued) != 0) {
            shown.answer = queued;
        } else {
            shown.refused_answer = queued;
        }
    }
    transcript_.push_back(shown);
    if (!transcript_file_.empty()) {
        AppendToTranscriptFile(transcript_file_, shown);
    }
    return shown.answer;
}

void HeadlessMessageBoxes::QueueAnswer(uint32_t button) {
    std::lock_guard<std::mutex> guard(mutex_);
    answers_.push_back(button);
}

std::vector<HeadlessMessageBoxes::Shown> HeadlessMessageBoxes::Transcript() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return transcript_;
}

void HeadlessMessageBoxes::ClearTranscript() {
    std::lock_guard<std::mutex> guard(mutex_);
    transcript_.clear();
}

MessageBoxes& Messages() {
    std::lock_guard<std::mutex> guard(messages_mutex);
    return CurrentLocked();
}

std::unique_ptr<MessageBoxes> SetMessages(std::unique_ptr<MessageBoxes> boxes) {
    std::lock_guard<std::mutex> guard(messages_mutex);
    CurrentLocked();
    if (!boxes) {
        boxes = std::make_unique<HeadlessMessageBoxes>();
    }
    std::swap(messages, boxes);
    return boxes;
}

HeadlessMessageBoxes* Headless() {
    std::lock_guard<std::mutex> guard(messages_mutex);
    return dynamic_cast<HeadlessMessageBoxes*>(&CurrentLocked());
}

} // namespace tarvex::platform
