// SPDX-License-Identifier: GPL-3.0-or-later
// Numbers on the string stack: PushLong, PushReal, PopLong, PopReal and NUMERIC, with the text
// conversions they share.
#include "core/string_numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "core/decimal.h"
#include "core/string_stack.h"

namespace tarvex {
namespace {

// The longest text PopReal and NUMERIC look at, after trailing blanks are removed.
constexpr size_t kRealTextLimit = 39;
constexpr size_t kLongTextLimit = 99;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view ClipBlanks(std::string_view text) {
    size_t end = text.size();
    while (end > 0 && text[end - 1] == ' ') end--;
    return text.substr(0, end);
}

}  // namespace

int32_t TextToLong(std::string_view text) {
    return TextToLong(text.data(), std::min(text.size(), kLongTextLimit));
}

RealScan ScanReal(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) i++;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    size_t number_start = i;
    size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) i++, digits++;
    if (i < text.size() && text[i] == '.') {
        i++;
        while (i < text.size() && IsDigit(text[i])) i++, digits++;
    }
    if (digits == 0) return RealScan{0.0, 0};
    bool negative_exponent = false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '-' || text[j] == '+')) negative_exponent = text[j++] == '-';
        if (j < text.size() && IsDigit(text[j])) {
            while (j < text.size() && IsDigit(text[j])) j++;
            i = j;
        }
    }
    // from_chars takes no sign and needs a digit before the point.
    std::string number = text[number_start] == '.' ? "0" : "";
    number.append(text.substr(number_start, i - number_start));
    double value = 0.0;
    auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        value = negative_exponent ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return RealScan{negative ? -value : value, i};
}

size_t FormatReal(double value, char* out) {
    if (value == 0.0) value = 0.0;   // no "-0"
    auto result = std::to_chars(out, out + 32, value, std::chars_format::general, 14);
    size_t length = static_cast<size_t>(result.ptr - out);
    if (length > 1 && out[length - 1] == '.') length--;
    return length;
}

}  // namespace tarvex

using namespace tarvex;

extern "C" {

TARVEX_API void Vrn$PushLong(int32_t value) {
    char text[16];
    auto result = std::to_chars(text, text + sizeof text, value);
    PushCopy(std::string_view(text, static_cast<size_t>(result.ptr - text)));
}

TARVEX_API void Vrn$PushReal(double value) {
    char text[32];
    PushCopy(std::string_view(text, FormatReal(value, text)));
}

TARVEX_API int32_t Vrn$PopLong(void) {
    int32_t value = TextToLong(EntryText(0));
    DiscardEntries(1);
    return value;
}

TARVEX_API double Vrn$PopReal(void) {
    std::string_view text = ClipBlanks(EntryText(0));
    double value = ScanReal(text.substr(0, std::min(text.size(), kRealTextLimit))).value;
    DiscardEntries(1);
    return value;
}

TARVEX_API int32_t Vrn$StackNUMERIC(void) {
    std::string_view text = ClipBlanks(EntryText(0));
    text = text.substr(0, std::min(text.size(), kRealTextLimit));
    int32_t numeric = ScanReal(text).consumed == text.size() ? 1 : 0;
    DiscardEntries(1);
    return numeric;
}

}  // extern "C"
