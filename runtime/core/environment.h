// SPDX-License-Identifier: GPL-3.0-or-later
// The environment file (<program>.ENV): read once at start-up; it replaces the character tables
// (collation, case, digraphs), the month and AM/PM texts, and overrides message texts.
//
// File syntax
//   - One entry per line: KEY=value. Lines without "=" are ignored. "\r" before a line end is
//     dropped; a Ctrl-Z (code 26) ends the file.
//   - The key is the text before the first "="; blanks and tabs in it are ignored; it is compared
//     without regard to case. A key longer than 31 characters makes the line ignored.
//   - The value is cut to 1024 characters. In it "<digits>" (a code 0..255) stands for the
//     character with that code and "<<" for "<"; any other "<" is taken as it is. A character
//     written as "<code>" is always literal: "<32>", "<44>", "<34>" put a blank, a comma or a
//     double quote into an item without separating or quoting.
//   - The value is a list of items separated by runs of blanks, tabs and commas. An item that
//     starts with a double quote runs to the next lone double quote (the item ends there); inside
//     it "" stands for one quote, and blanks and commas are part of the item. An empty item is
//     written "". An unterminated quoted item runs to the end of the line.
//
// Keys and their values
//   VRNCOLSEQ   no items: byte order. One item WINDOWS (any case): the order of the system's
//               string comparison (the C++ library's collation of the user's locale, std::locale(""),
//               applied to each single character 1..255 through its transform, ties broken by byte
//               value; code 0 stays lowest). Otherwise the characters of all items, in the order
//               written, are the ascending order of the listed characters; every character not
//               listed keeps byte order and sorts before all listed ones (so the blank, digits and
//               punctuation stay below the letters one lists). A character listed twice counts at
//               its first place.
//   VRNCASE     items of two characters "Uu": U becomes the upper-case letter and u the lower-case
//               letter of one pair, in addition to the default pairs A-Z/a-z (a character's former
//               partner loses its case). Items of another length are ignored.
//               Example: VRNCASE=<196><228>,<214><246>
//   VRNDIGRAPH  items of three characters "cxy": the character c sorts as x followed by y. Replaces
//               the digraph table; at most 16 entries, further items and items of another length are
//               ignored. Example: VRNDIGRAPH=<223>ss
//   VRNMONTH    12 items: the month names; VRNMON 12 items: their abbreviations; VRNAMPM 2 items:
//               the AM and PM texts. With fewer items the key is ignored; extra items are ignored.
//               Stored for the date routines (EnvironmentSettings below).
//   VRNCHARSET  OEM (any case) sets the OEM character-set flag; any other value clears it.
//   VRNBUTTON, VRNLFN  accepted and stored as their item lists; nothing uses them yet.
//   VRNMSG<n>   (n decimal) overrides message n with the value's first item (empty text when the
//               value has no item). A later line for the same number replaces an earlier one.
//   Other keys are kept with their items joined by one blank, for the program and its drivers to
//   read as settings (Vrn$GetSetting): TARVEX_PGSQL="host=/run/postgresql dbname=lumarex".
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

struct EnvironmentEntry {
    std::string key;                  // upper case, blanks removed
    std::vector<std::string> items;   // decoded items of the value
};

// Parses environment-file text into entries in file order. Never fails: what cannot be read is
// skipped.
std::vector<EnvironmentEntry> ParseEnvironmentText(std::string_view text);

// What the environment file set besides the character tables.
struct EnvironmentSettings {
    std::optional<std::array<std::string, 12>> month_names;
    std::optional<std::array<std::string, 12>> month_abbreviations;
    std::optional<std::array<std::string, 2>> am_pm;
    bool oem_charset = false;
    std::optional<std::vector<std::string>> button;   // VRNBUTTON; not used yet
    std::optional<std::vector<std::string>> lfn;      // VRNLFN; not used yet
    std::map<int32_t, std::string> messages;          // VRNMSG<n>
    std::map<std::string, std::string> others;        // every other key: its items joined by a blank
};

// The settings in force. Set at start-up only; read without a lock.
const EnvironmentSettings& Environment();

// The overriding text of message `code`, or null when the environment file has none. The pointer
// stays valid until the environment is applied or reset again.
const char* FindMessageOverride(int32_t code);

// Reads the file named by platform::EnvironmentFilePath() (when there is one) and applies it.
void LoadEnvironment();
// Applies environment-file text on top of the current tables and settings.
void ApplyEnvironmentText(std::string_view text);
// Restores the built-in character tables and clears every setting (tests, the fuzz target).
void ResetEnvironment();

}  // namespace tarvex
