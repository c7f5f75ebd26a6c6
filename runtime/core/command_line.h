// SPDX-License-Identifier: GPL-3.0-or-later
// The command line as COMMAND() reads it: a command tail split into parameters, and the selector
// rules that pick the whole tail, the program's name, the n-th parameter or a flag's value.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

// Splits a command tail into its parameters. A parameter runs until a character at or below blank
// or a comma, outside double quotes; a "/" also ends it once it has characters (so /A/B are two).
// A double quote toggles quoting and is not kept; two double quotes stand for one. One comma after
// a parameter is skipped.
std::vector<std::string> SplitCommandTail(std::string_view tail);

// What COMMAND(selector) yields for a tail and the program's full file name. The selector is
// clipped: empty gives the whole tail, "0" the program's name, a number n the n-th parameter;
// anything else is a flag: "/X" finds a parameter starting with "/X" and yields it without its
// "/", "X" finds one starting with "X=" and yields what follows the "=". Matching ignores case.
// Nothing found gives an empty string.
std::string SelectFromCommand(std::string_view tail, std::string_view selector, std::string_view program);

// Arguments joined with blanks into a command tail, each quoted where its characters would
// otherwise split it, so that SplitCommandTail gives the arguments back.
std::string JoinCommandArguments(const std::vector<std::string>& arguments);

// The command tail of this process, from its arguments after the program's name.
std::string ProcessCommandTail();

}  // namespace tarvex
