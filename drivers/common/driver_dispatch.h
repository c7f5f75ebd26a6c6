// SPDX-License-Identifier: GPL-3.0-or-later
// What each of our drivers (KELSTORE and VARNEL on SQLite, PGSQL on PostgreSQL) does the same way
// around an operation: how many values the runtime passes after the file, the text arguments and
// results on the string stack, the key an operation names, the error posted, and the SEND
// commands every driver takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tarvex/file_decl.h"

namespace lumarex::drivers {

// The operation's error code into the runtime's error state (0 clears it).
void Post(int32_t code);
// How many values the runtime passes after the file (a key counts as one).
size_t ArgumentCount(int32_t operation);
// Pushes a copy that the string stack owns (the text outlives the call), and pops a text.
void PushText(const std::string& text);
std::string PopText();
// The text without the blanks and zero bytes around it.
std::string Trimmed(std::string_view text);
// The index of the key among the file's keys, or -1.
int KeyIndex(const FileDecl* file, const KeyDecl* key);

// SEND: "QUICKSCAN=on|off" and "Recover=n" set the option and reply with its value; the name
// alone replies with the current value; anything else replies with an empty text. Neither option
// changes how a driver reads or writes (the engines scan and recover on their own): they are
// kept for programs that set and ask for them.
struct SendOptions {
    std::string quickscan = "off";
    int64_t recover = 0;
};
std::string Send(SendOptions* options, const std::string& command);

} // namespace lumarex::drivers
