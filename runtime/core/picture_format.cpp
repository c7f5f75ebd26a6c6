// SPDX-License-Identifier: GPL-3.0-or-later
// Formatting: a value through a compiled picture into text. Numbers of every kind arrive as a
// string of decimal digits with a count of integer digits (FormatPict); dates and times as their
// integer value; strings as text.
//
// Numbers: leading zero integer digits are dropped, the digits are rounded half away from zero to
// the picture's places, right-aligned in the integer positions and left-aligned in the places; a
// number too large shows "#" in every digit position. A leading sign and currency float right to
// stand directly before the first digit shown.
#include <cstring>
#include <string>

#include "core/char_tables.h"
#include "core/dates.h"
#include "core/decimal.h"
#include "core/picture.h"
#include "core/string_numbers.h"
#include "tarvex/decimal.h"
#include "tarvex/string_stack.h"

namespace tarvex {

namespace {

constexpr uint32_t kMaxDigits = 200;   // digits FormatPict looks at; more integer digits overflow any picture

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsDigitPosition(uint8_t code) { return code == VRN_POS_DIGIT || code == VRN_POS_DIGIT_BLANK; }

// Copies the formatted text into the destination and pads it with blanks to `width`.
uint32_t Deliver(char* destination, uint32_t width, const char* text, uint32_t length) {
    if (length > width) length = width;
    if (destination == nullptr) return 0;
    std::memcpy(destination, text, length);
    if (width > length) std::memset(destination + length, ' ', width - length);
    return length;
}

// Integer value of a digit string (saturating far outside every day number and time value).
int64_t DigitsValue(std::string_view digits, uint32_t integer_digits) {
    int64_t value = 0;
    for (uint32_t i = 0; i < integer_digits && i < digits.size(); i++) {
        if (!IsDigit(digits[i])) continue;
        value = value > 100000000000LL ? value : value * 10 + (digits[i] - '0');
    }
    return value;
}

}  // namespace

// ---- Numbers -------------------------------------------------------------------------------------------

uint32_t PicDesc::FormatNumber(char* out, uint32_t integer_digits, std::string_view digits, bool negative) const {
    // Integer digits without leading zeros, then the places, rounded.
    if (integer_digits > digits.size()) integer_digits = uint32_t(digits.size());
    const char* d = digits.data();
    uint32_t int_start = 0;
    while (int_start < integer_digits && d[int_start] == '0') int_start++;
    uint32_t n_int = integer_digits - int_start;
    uint32_t fraction_length = uint32_t(digits.size()) - integer_digits;
    uint32_t places = kind_ == PictureKind::Pattern ? 0 : places_;
    bool overflow = n_int > kMaxDigits;
    char work_buffer[kMaxDigits + 104];
    char* work = work_buffer + 1;   // work_buffer[0] takes a carry out of the first digit
    uint32_t n = 0;
    if (!overflow) {
        for (uint32_t i = 0; i < n_int; i++) work[n++] = IsDigit(d[int_start + i]) ? d[int_start + i] : '0';
        for (uint32_t i = 0; i < places; i++) {
            char c = i < fraction_length ? d[integer_digits + i] : '0';
            work[n++] = IsDigit(c) ? c : '0';
        }
        char next = fraction_length > places ? d[integer_digits + places] : '0';
        if (next >= '5' && next <= '9') {
            uint32_t i = n;
            while (i > 0 && work[i - 1] == '9') work[--i] = '0';
            if (i > 0) {
                work[i - 1]++;
            } else {
                *--work = '1';
                n++;
                n_int++;
            }
        }
    }
    bool zero = !overflow;
    for (uint32_t i = 0; i < n && zero; i++) zero = work[i] == '0';
    if (zero) negative = false;
    if (zero && blank_when_zero_) {
        std::memset(out, ' ', width_);
        return width_;
    }
    if (n_int > integer_positions_) overflow = true;
    if (plain_number_ && !overflow) return FormatPlainNumber(out, work, n_int, places, negative);

    // The point splits the template; for a pattern every digit position is an integer position.
    uint32_t point_index = point_index_;
    uint32_t exponent_index = exponent_index_;

    // Positions map one to one to characters unless an implied point hides one: then the text is
    // composed from a copy at the end.
    char composed[kPicturePositions];
    char* shown = implied_point_ ? composed : out;
    for (uint32_t i = 0; i < position_count_; i++) shown[i] = positions_[i].character;
    char empty = fill_ == '*' ? '*' : ' ';

    // Integer positions, right to left.
    uint32_t k = 0;   // integer digits placed so far, from the right
    for (uint32_t i = point_index; i-- > 0;) {
        uint8_t code = positions_[i].code;
        if (IsDigitPosition(code)) {
            if (overflow) {
                shown[i] = '#';
            } else if (k < n_int) {
                shown[i] = work[n_int - 1 - k];
            } else {
                shown[i] = code == VRN_POS_DIGIT ? positions_[i].character : ' ';
            }
            k++;
        } else if (code == VRN_POS_GROUPING) {
            // A digit stands to the left: one of the value's, a "#" of an overflow, or a shown
            // leading zero of a "0" fill.
            bool digit_left = !overflow && k < n_int;
            if (!digit_left && (overflow || fill_ == '0')) {
                for (uint32_t j = i; j-- > 0 && !digit_left;) digit_left = IsDigitPosition(positions_[j].code);
            }
            shown[i] = digit_left ? positions_[i].character : empty;
        }
    }
    // Places, left to right.
    uint32_t f = 0;
    for (uint32_t i = point_index + 1; i < exponent_index; i++) {
        if (!IsDigitPosition(positions_[i].code)) continue;
        shown[i] = overflow ? '#' : (f < places ? work[n_int + f] : '0');
        f++;
    }
    // Signs: shown only for a negative value.
    if (!negative) {
        for (uint32_t i = 0; i < exponent_index; i++) {
            if (positions_[i].code == VRN_POS_SIGN) shown[i] = ' ';
        }
    }
    // A leading sign and currency float to stand directly before the first digit shown.
    uint32_t lead_end = lead_end_;
    if (lead_end > 0) {
        uint32_t first = point_index;
        for (uint32_t i = lead_end; i < point_index; i++) {
            if (IsDigit(shown[i]) || shown[i] == '#') {
                first = i;
                break;
            }
        }
        char floating[kPicturePositions];
        uint32_t count = 0;
        for (uint32_t i = 0; i < lead_end; i++) {
            if (shown[i] != ' ') floating[count++] = shown[i];
            shown[i] = empty;
        }
        for (uint32_t i = lead_end; i < first; i++) {
            if (!IsDigit(shown[i])) shown[i] = empty;
        }
        // The lead positions always leave room: there were at least `count` of them before `first`.
        for (uint32_t c = 0; c < count; c++) shown[first - count + c] = floating[c];
    }
    if (!implied_point_) return position_count_;
    // Compose; the implied point shows nothing.
    uint32_t length = 0;
    for (uint32_t i = 0; i < position_count_; i++) {
        if (positions_[i].code == VRN_POS_IMPLIED_POINT) continue;
        out[length++] = shown[i];
    }
    return length;
}

bool PicDesc::PlainNumber() const {
    uint32_t point = point_index_;
    if (kind_ != PictureKind::Numeric || implied_point_ || fill_ != ' ' || exponent_index_ != position_count_ ||
        lead_end_ > 1 || point <= lead_end_) {
        return false;
    }
    if (lead_end_ == 1 && (positions_[0].code != VRN_POS_SIGN || positions_[0].character != '-')) return false;
    for (uint32_t i = lead_end_; i + 1 < point; i++) {
        if (positions_[i].code != VRN_POS_DIGIT_BLANK && positions_[i].code != VRN_POS_GROUPING) return false;
    }
    if (positions_[point - 1].code != VRN_POS_DIGIT) return false;   // the units position
    if (point < position_count_ && positions_[point].code != VRN_POS_POINT) return false;
    for (uint32_t i = point + 1; i < position_count_; i++) {
        if (positions_[i].code != VRN_POS_DIGIT) return false;
    }
    return true;
}

// What FormatNumber's general steps give for a plain number that fits: blanks, then the digits
// right-aligned before the point with the grouping characters between them, the units position's
// own character for a zero integer part, the places after the point, and a "-" directly before
// the first digit of a negative value.
uint32_t PicDesc::FormatPlainNumber(char* out, const char* work, uint32_t integer_digits, uint32_t places,
                                    bool negative) const {
    uint32_t point = point_index_;
    std::memset(out, ' ', position_count_);
    if (point < position_count_) {
        out[point] = positions_[point].character;
        for (uint32_t i = point + 1, f = 0; i < position_count_; i++, f++) {
            out[i] = f < places ? work[integer_digits + f] : '0';
        }
    }
    uint32_t i = point;
    for (uint32_t k = 0; k < integer_digits;) {
        --i;
        out[i] = positions_[i].code == VRN_POS_GROUPING ? positions_[i].character : work[integer_digits - 1 - k++];
    }
    if (integer_digits == 0) {
        --i;
        out[i] = positions_[i].character;
    }
    if (negative && lead_end_ == 1) out[i - 1] = '-';
    return position_count_;
}

uint32_t PicDesc::FormatScientific(char* out, uint32_t integer_digits, std::string_view digits, bool negative) const {
    if (integer_digits > digits.size()) integer_digits = uint32_t(digits.size());
    size_t lead = 0;
    while (lead < digits.size() && !(digits[lead] >= '1' && digits[lead] <= '9')) lead++;
    if (lead == digits.size()) {
        if (blank_when_zero_) {
            std::memset(out, ' ', width_);
            return width_;
        }
        // The mantissa 0 and the exponent's own "+000".
        return FormatNumber(out, 1, "0", false);
    }
    uint32_t m = integer_positions_;
    int64_t exponent = int64_t(integer_digits) - 1 - int64_t(lead) - (int64_t(m) - 1);
    // Significant digits, rounded to m + places digits.
    char sig[kMaxDigits + 2];
    uint32_t keep = m + places_;
    uint32_t n = 0;
    for (size_t i = lead; i < digits.size() && n < keep && n < kMaxDigits; i++) sig[n++] = IsDigit(digits[i]) ? digits[i] : '0';
    while (n < keep && n < kMaxDigits) sig[n++] = '0';
    size_t next = lead + keep;
    if (next < digits.size() && digits[next] >= '5' && digits[next] <= '9') {
        bool carry = true;
        for (uint32_t i = n; i-- > 0 && carry;) {
            if (sig[i] == '9') {
                sig[i] = '0';
            } else {
                sig[i]++;
                carry = false;
            }
        }
        if (carry) {
            // 9.99 became 10.00: one more power of ten, the same digits.
            std::memmove(sig + 1, sig, n - 1);
            sig[0] = '1';
            exponent++;
        }
    }
    uint32_t length = FormatNumber(out, m, std::string_view(sig, n), negative);
    // The exponent sign and digits follow the code-21 position.
    uint32_t shown_index = 0;
    for (uint32_t i = 0; i < position_count_; i++) {
        if (positions_[i].code == VRN_POS_IMPLIED_POINT) continue;
        if (positions_[i].code == VRN_POS_EXPONENT_SIGN) {
            out[shown_index] = exponent < 0 ? '-' : '+';
            int64_t magnitude = exponent < 0 ? -exponent : exponent;
            for (uint32_t d = 3; d >= 1; d--) {
                if (shown_index + d < length) {
                    out[shown_index + d] = magnitude > 999 ? '#' : char('0' + magnitude % 10);
                    magnitude /= 10;
                }
            }
            break;
        }
        shown_index++;
    }
    return length;
}

uint32_t PicDesc::FormatPict(char* destination, uint32_t width, uint32_t integer_digits, std::string_view digits,
                             bool negative) const {
    char out[kMaxPictureWidth + 1];
    uint32_t length = 0;
    switch (kind_) {
    case PictureKind::Numeric:
    case PictureKind::Pattern:
        if (IsValid()) length = FormatNumber(out, integer_digits, digits, negative);
        break;
    case PictureKind::Scientific:
        length = FormatScientific(out, integer_digits, digits, negative);
        break;
    case PictureKind::Date:
    case PictureKind::Time: {
        int64_t value = DigitsValue(digits, integer_digits);
        length = kind_ == PictureKind::Date ? FormatDate(out, negative ? -value : value)
                                            : FormatTime(out, negative ? -value : value);
        break;
    }
    case PictureKind::String:
    case PictureKind::KeyIn: {
        std::string text = negative ? "-" : "";
        text.append(digits.substr(0, integer_digits));
        if (digits.size() > integer_digits) {
            text += '.';
            text.append(digits.substr(integer_digits));
        }
        length = kind_ == PictureKind::String ? FormatString(out, text) : FormatKeyIn(out, text);
        break;
    }
    }
    return Deliver(destination, width, out, length);
}

// ---- Dates and times -----------------------------------------------------------------------------------

uint32_t PicDesc::FormatDate(char* out, int64_t day_number) const {
    if (day_number == 0 && blank_when_zero_) {
        std::memset(out, ' ', width_);
        return width_;
    }
    CivilDate date{0, 0, 0};
    bool valid = day_number >= kFirstDay && day_number <= kLastDay &&
                 SplitDayNumber(static_cast<int32_t>(day_number), &date);
    uint32_t length = 0;
    uint32_t i = 0;
    while (i < position_count_) {
        uint8_t code = positions_[i].code;
        uint32_t run = 1;
        while (i + run < position_count_ && positions_[i + run].code == code) run++;
        if (code == VRN_POS_MONTH || code == VRN_POS_DAY || code == VRN_POS_YEAR) {
            // Never negative (0 for an invalid date), so unsigned arithmetic serves.
            uint32_t value = uint32_t(code == VRN_POS_MONTH ? date.month : code == VRN_POS_DAY ? date.day : date.year);
            char digits[16];
            for (uint32_t d = run; d-- > 0;) {
                digits[d] = char('0' + value % 10);
                value /= 10;
            }
            bool leading = true;
            for (uint32_t d = 0; d < run; d++) {
                if (!valid) {
                    out[length++] = ' ';
                    continue;
                }
                leading = leading && digits[d] == '0' && d + 1 < run;
                out[length++] = leading ? positions_[i + d].character : digits[d];
            }
        } else if (code == VRN_POS_MONTH_NAME) {
            std::string_view name = run <= 3 ? MonthAbbreviation(date.month) : MonthName(date.month);
            for (uint32_t d = 0; d < run; d++) {
                if (!valid) {
                    out[length++] = ' ';
                } else if (d < name.size()) {
                    out[length++] = month_name_upper_ ? ToUpper(name[d]) : name[d];
                } else if (positions_[i + d].character != '\0') {
                    out[length++] = positions_[i + d].character;
                }
            }
        } else {
            for (uint32_t d = 0; d < run; d++) out[length++] = positions_[i + d].character;
        }
        i += run;
    }
    return length;
}

uint32_t PicDesc::FormatTime(char* out, int64_t time_value) const {
    if (time_value == 0 && blank_when_zero_) {
        std::memset(out, ' ', width_);
        return width_;
    }
    TimeOfDay time{0, 0, 0, 0};
    bool valid = time_value >= 1 && time_value <= kLastTime && SplitTimeValue(static_cast<int32_t>(time_value), &time);
    bool twelve_hour = false;
    for (uint32_t i = 0; i < position_count_; i++) twelve_hour = twelve_hour || positions_[i].code == VRN_POS_AMPM;
    bool pm = time.hours >= 12;
    int hours = time.hours;
    if (twelve_hour) hours = hours > 12 ? hours - 12 : (hours == 0 ? 12 : hours);
    std::string_view ampm = pm ? PmText() : AmText();
    uint32_t length = 0;
    uint32_t i = 0;
    while (i < position_count_) {
        uint8_t code = positions_[i].code;
        uint32_t run = 1;
        while (i + run < position_count_ && positions_[i + run].code == code) run++;
        if (code == VRN_POS_HOUR || code == VRN_POS_MINUTE || code == VRN_POS_SECOND) {
            uint32_t value = uint32_t(code == VRN_POS_HOUR ? hours : code == VRN_POS_MINUTE ? time.minutes : time.seconds);
            char digits[16];
            for (uint32_t d = run; d-- > 0;) {
                digits[d] = char('0' + value % 10);
                value /= 10;
            }
            bool leading = true;
            for (uint32_t d = 0; d < run; d++) {
                if (!valid) {
                    out[length++] = ' ';
                    continue;
                }
                leading = leading && digits[d] == '0' && d + 1 < run;
                out[length++] = leading ? positions_[i + d].character : digits[d];
            }
        } else if (code == VRN_POS_AMPM) {
            for (uint32_t d = 0; d < run; d++) out[length++] = valid && d < ampm.size() ? ampm[d] : ' ';
        } else {
            for (uint32_t d = 0; d < run; d++) out[length++] = positions_[i + d].character;
        }
        i += run;
    }
    return length;
}

// ---- Text ------------------------------------------------------------------------------------------------

uint32_t PicDesc::FormatString(char* out, std::string_view value) const {
    uint32_t length = value.size() < width_ ? uint32_t(value.size()) : width_;
    if (length) std::memcpy(out, value.data(), length);
    return length;
}

// Key-in: the value's characters fill the entry positions left to right; literals are shown.
uint32_t PicDesc::FormatKeyIn(char* out, std::string_view value) const {
    size_t next = 0;
    uint32_t length = 0;
    for (uint32_t i = 0; i < position_count_; i++) {
        uint8_t code = positions_[i].code;
        if (code == VRN_POS_LITERAL) {
            out[length++] = positions_[i].character;
        } else {
            out[length++] = next < value.size() ? value[next++] : ' ';
        }
    }
    return length;
}

uint32_t PicDesc::FormatInteger(char* out, int64_t value) const {
    char digits[24];
    bool negative = value < 0;
    uint64_t magnitude = negative ? uint64_t(0) - uint64_t(value) : uint64_t(value);
    uint32_t n = 0;
    do {
        digits[sizeof digits - 1 - n++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    return FormatPict(out, kMaxPictureWidth, n, std::string_view(digits + sizeof digits - n, n), negative);
}

// ---- Store routines -----------------------------------------------------------------------------------------

namespace {

// Formats a decimal held as a packed image through a numeric picture.
// The places a number is taken with before formatting: the picture's (at most the accumulator's
// 32), all 32 for scientific pictures, which round after normalising.
uint32_t ImagePlaces(const PicDesc& picture) {
    if (picture.Kind() == PictureKind::Scientific) return kDecimalPlaces;
    if (picture.Kind() == PictureKind::Pattern) return 0;
    return picture.Places() < uint32_t(kDecimalPlaces) ? picture.Places() : uint32_t(kDecimalPlaces);
}

uint32_t FormatAccumulator(const PicDesc& picture, char* destination, uint32_t width, const DecimalAccumulator& value) {
    uint32_t places = ImagePlaces(picture);
    char digits[kDecimalPositions];
    bool negative = false;
    uint32_t count = RoundedDigits(value, places, digits, negative);
    return picture.FormatPict(destination, width, count - places, std::string_view(digits, count), negative);
}

// The top of the decimal stack, popped.
uint32_t FormatStackTop(const PicDesc& picture, char* destination, uint32_t width) {
    uint32_t places = ImagePlaces(picture);
    char digits[kDecimalPositions];
    bool negative = false;
    uint32_t count = PopRoundedDigits(places, digits, negative);
    return picture.FormatPict(destination, width, count - places, std::string_view(digits, count), negative);
}

int32_t RealToLong(double value) {
    if (!(value == value)) return 0;
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(value);
}

}  // namespace

uint32_t PicDesc::StoreLong(char* destination, uint32_t width, int32_t value) const {
    char out[kMaxPictureWidth + 1];
    uint32_t length = 0;
    switch (kind_) {
    case PictureKind::Date:
        length = FormatDate(out, value);
        break;
    case PictureKind::Time:
        length = FormatTime(out, value);
        break;
    case PictureKind::String:
    case PictureKind::KeyIn: {
        std::string text = std::to_string(value);
        length = kind_ == PictureKind::String ? FormatString(out, text) : FormatKeyIn(out, text);
        break;
    }
    default:
        length = FormatInteger(out, value);
        break;
    }
    return Deliver(destination, width, out, length);
}

uint32_t PicDesc::StoreDec(char* destination, uint32_t width) const {
    switch (kind_) {
    case PictureKind::Date:
    case PictureKind::Time:
        return StoreLong(destination, width, Vrn$DPopLong());
    case PictureKind::String:
    case PictureKind::KeyIn: {
        Vrn$DStack2Stack();
        VrnStringPair pair{nullptr, 0};
        Vrn$PopTemp(&pair);
        uint32_t length = StoreText(destination, width, std::string_view(pair.address ? pair.address : "", pair.length));
        Vrn$freestr(&pair);
        return length;
    }
    default:
        return FormatStackTop(*this, destination, width);
    }
}

uint32_t PicDesc::StoreReal(char* destination, uint32_t width, double value) const {
    switch (kind_) {
    case PictureKind::Date:
    case PictureKind::Time:
        return StoreLong(destination, width, RealToLong(value));
    case PictureKind::String:
    case PictureKind::KeyIn: {
        char text[32];
        size_t length = FormatReal(value, text);
        return StoreText(destination, width, std::string_view(text, length));
    }
    default:
        return FormatAccumulator(*this, destination, width, FromDouble(value));
    }
}

uint32_t PicDesc::StoreText(char* destination, uint32_t width, std::string_view value) const {
    char out[kMaxPictureWidth + 1];
    switch (kind_) {
    case PictureKind::String:
        return Deliver(destination, width, out, FormatString(out, value));
    case PictureKind::KeyIn:
        return Deliver(destination, width, out, FormatKeyIn(out, value));
    case PictureKind::Date:
    case PictureKind::Time:
        return StoreLong(destination, width, TextToLong(value));
    default:
        return FormatAccumulator(*this, destination, width, TextToDecimal(value.data(), value.size()));
    }
}

}  // namespace tarvex
