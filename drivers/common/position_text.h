// SPDX-License-Identifier: GPL-3.0-or-later
// The POSITION texts every driver gives and takes back: "F" and the record pointer for a file
// position, or "K", the key's number, the record pointer and the record's key image ("-" for a
// record the OPT key leaves out), all in hexadecimal. With the image, RESET finds the place in
// the key's order even after the record itself moved or went.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumarex::drivers {

struct PositionText {
    int key = -1; // from 0; -1 for a file position
    int64_t pointer = 0;
    bool has_image = false;
    std::string image;
};

std::string FilePositionText(int64_t pointer);
// `image` null: the record has no image under the key.
std::string KeyPositionText(int key, int64_t pointer, const std::string* image);
// False for a text that is no position (blanks and NULs at its end are passed over).
bool DecodePositionText(std::string text, PositionText* out);

} // namespace lumarex::drivers
