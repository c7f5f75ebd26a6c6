// SPDX-License-Identifier: GPL-3.0-or-later
// POSITION texts: writing them and reading them back.
#include "common/position_text.h"

#include <cstdio>

namespace lumarex::drivers {

namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool FromHex(std::string_view text, std::string* bytes) {
    if (text.size() % 2 != 0)
        return false;
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    bytes->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        int high = value(text[i]), low = value(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        *bytes += char(high << 4 | low);
    }
    return true;
}

bool Pointer(std::string_view hex, int64_t* value) {
    std::string bytes;
    if (hex.size() != 16 || !FromHex(hex, &bytes))
        return false;
    uint64_t v = 0;
    for (unsigned char c : bytes)
        v = v << 8 | c;
    *value = int64_t(v);
    return true;
}

} // namespace

std::string FilePositionText(int64_t pointer) {
    char head[24];
    std::snprintf(head, sizeof head, "F%016llX", static_cast<unsigned long long>(pointer));
    return head;
}

std::string KeyPositionText(int key, int64_t pointer, const std::string* image) {
    char head[40];
    std::snprintf(head, sizeof head, "K%02X%016llX", unsigned(key + 1) & 0xFF, static_cast<unsigned long long>(pointer));
    return std::string(head) + (image != nullptr ? Hex(*image) : "-");
}

bool DecodePositionText(std::string text, PositionText* out) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    if (text.size() == 17 && text[0] == 'F')
        return Pointer(std::string_view(text).substr(1), &out->pointer);
    if (text.size() < 20 || text[0] != 'K')
        return false;
    std::string number;
    if (!FromHex(std::string_view(text).substr(1, 2), &number))
        return false;
    out->key = int(uint8_t(number[0])) - 1;
    if (!Pointer(std::string_view(text).substr(3, 16), &out->pointer))
        return false;
    std::string_view image = std::string_view(text).substr(19);
    if (image == "-")
        return true;
    out->has_image = true;
    return FromHex(image, &out->image);
}

} // namespace lumarex::drivers
