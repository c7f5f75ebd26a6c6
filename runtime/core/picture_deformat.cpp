// SPDX-License-Identifier: GPL-3.0-or-later
// Deformatting: typed or formatted text read back through a compiled picture. It never fails;
// what cannot be read is skipped. The result is always text: a number's digits (with "-" when
// negative and "." at the point), a day number, a time value, or the characters of a string.
//
// Numbers are read from the characters themselves (digits, the picture's decimal character, signs),
// so a number typed without the picture's blanks and grouping reads the same as one formatted by
// it. Dates and times are walked against the template field by field: a field's digits end at its
// width or at the first other character, and the text then re-aligns with the template, so "1/5/26"
// reads through @D1 as well as " 1/05/26".
#include <string>

#include "core/char_tables.h"
#include "core/dates.h"
#include "core/picture.h"
#include "core/string_stack.h"

namespace tarvex {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsLetter(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || u >= 0xC0 || HasOtherCase(c);
}

bool SameLetter(char a, char b) { return ToUpper(a) == ToUpper(b); }

bool IsDigitField(uint8_t code) {
    return code == VRN_POS_MONTH || code == VRN_POS_DAY || code == VRN_POS_YEAR || code == VRN_POS_HOUR ||
           code == VRN_POS_MINUTE || code == VRN_POS_SECOND;
}

// The month whose name or abbreviation starts with the letters typed (their first three), or 0.
int MatchMonth(std::string_view typed) {
    if (typed.empty()) return 0;
    size_t length = typed.size() < 3 ? typed.size() : 3;
    for (bool abbreviations : {false, true}) {
        for (int month = 1; month <= 12; month++) {
            std::string_view name = abbreviations ? MonthAbbreviation(month) : MonthName(month);
            if (name.size() < length) continue;
            bool same = true;
            for (size_t i = 0; i < length && same; i++) same = SameLetter(name[i], typed[i]);
            if (same) return month;
        }
    }
    return 0;
}

// Fields read from a date or time text.
struct Fields {
    int64_t value[32] = {};
    bool present[32] = {};
    bool any = false;
};

// Walks the text against the template of a date or time picture.
Fields WalkFields(const PicDesc& picture, std::string_view text) {
    Fields fields;
    size_t i = 0;
    size_t n = text.size();
    uint32_t count = picture.PositionCount();
    uint32_t p = 0;
    while (p < count) {
        uint8_t code = picture.Position(p).code;
        uint32_t run = 1;
        bool field = IsDigitField(code) || code == VRN_POS_MONTH_NAME || code == VRN_POS_AMPM;
        if (field) {
            while (p + run < count && picture.Position(p + run).code == code) run++;
        }
        uint32_t next_code = p + run < count ? picture.Position(p + run).code : VRN_POS_LITERAL;
        bool next_is_field = p + run < count && (IsDigitField(uint8_t(next_code)) || next_code == VRN_POS_MONTH_NAME);
        if (IsDigitField(code)) {
            // Leading blanks (or a "*" fill) count as positions of the field; a field that was
            // all blanks still takes the digits that follow.
            uint32_t consumed = 0;
            while (consumed < run && i < n && (text[i] == ' ' || text[i] == '*')) {
                i++;
                consumed++;
            }
            uint32_t limit = run - consumed;
            if (limit == 0 && i < n && IsDigit(text[i])) limit = run;
            // A four-digit year typed into a two-digit year field that ends before a literal.
            if (code == VRN_POS_YEAR && run == 2 && !next_is_field) {
                size_t digits = 0;
                while (i + digits < n && IsDigit(text[i + digits])) digits++;
                if (digits == 4) limit = 4;
            }
            int64_t value = 0;
            uint32_t read = 0;
            while (read < limit && i < n && IsDigit(text[i])) {
                value = value * 10 + (text[i] - '0');
                i++;
                read++;
            }
            if (read > 0) {
                fields.value[code] = value;
                fields.present[code] = true;
                fields.any = true;
            }
        } else if (code == VRN_POS_MONTH_NAME) {
            while (i < n && text[i] == ' ') i++;
            size_t start = i;
            if (i < n && IsDigit(text[i])) {
                // A month typed as a number.
                int64_t value = 0;
                while (i < n && IsDigit(text[i]) && i - start < 2) value = value * 10 + (text[i++] - '0');
                fields.value[VRN_POS_MONTH] = value;
                fields.present[VRN_POS_MONTH] = true;
                fields.any = true;
            } else {
                while (i < n && IsLetter(text[i])) i++;
                int month = MatchMonth(text.substr(start, i - start));
                // The positions a short name left empty: blanks or a "*" fill.
                for (size_t used = i - start; used < run && i < n && (text[i] == ' ' || text[i] == '*'); used++) i++;
                if (month != 0) {
                    fields.value[VRN_POS_MONTH] = month;
                    fields.present[VRN_POS_MONTH] = true;
                    fields.any = true;
                }
            }
        } else if (code == VRN_POS_AMPM) {
            while (i < n && text[i] == ' ') i++;
            while (i < n && IsLetter(text[i])) i++;
        } else if (code != VRN_POS_IMPLIED_POINT) {
            // A literal or separator takes one character that is not a digit (a letter only when
            // no name follows).
            bool name_next = next_code == VRN_POS_MONTH_NAME || next_code == VRN_POS_AMPM;
            if (i < n && !IsDigit(text[i]) && !(name_next && IsLetter(text[i]))) i++;
        }
        p += run;
    }
    return fields;
}

}  // namespace

std::string PicDesc::DeformatNumber(std::string_view text) const {
    // The decimal character: the picture's; without places the usual one that is not the grouping.
    char grouping = 0;
    for (uint32_t i = 0; i < position_count_; i++) {
        if (positions_[i].code == VRN_POS_GROUPING) {
            grouping = positions_[i].character;
            break;
        }
    }
    char point = point_;
    if (point == 0 && !implied_point_) point = grouping == '.' ? ',' : '.';
    std::string digits, exponent;
    bool negative = false, point_seen = false, in_exponent = false, exponent_negative = false;
    for (char c : text) {
        if (IsDigit(c)) {
            (in_exponent ? exponent : digits) += c;
        } else if (!in_exponent && c == point && !point_seen) {
            digits += '.';
            point_seen = true;
        } else if (kind_ == PictureKind::Scientific && (c == 'E' || c == 'e') && !in_exponent) {
            in_exponent = true;
        } else if (in_exponent && exponent.empty() && (c == '+' || c == '-')) {
            exponent_negative = c == '-';
        } else if (c == '-' || c == '(') {
            negative = true;
        } else if (c == '+') {
            negative = false;
        }
    }
    if (implied_point_ && places_ > 0) {
        // The last `places` digits are the fraction.
        if (digits.size() <= places_) digits.insert(0, places_ + 1 - digits.size(), '0');
        digits.insert(digits.size() - places_, 1, '.');
        point_seen = true;
    }
    bool has_digit = digits.find_first_of("0123456789") != std::string::npos;
    if (!has_digit) return std::string();
    std::string result = negative ? "-" : "";
    result += digits;
    if (in_exponent && !exponent.empty()) {
        // The decimal reader takes an exponent only after a point.
        if (!point_seen) result += '.';
        result += 'e';
        if (exponent_negative) result += '-';
        result += exponent;
    }
    return result;
}

std::string PicDesc::DeformatPattern(std::string_view text) const {
    // Text laid out like the template (its literals where the template has them) is read position
    // by position; anything else gives up its digits in order.
    bool aligned = true;
    for (uint32_t i = 0; i < text.size() && aligned; i++) {
        if (i >= position_count_) {
            aligned = text[i] == ' ';
        } else if (positions_[i].code == VRN_POS_LITERAL) {
            aligned = text[i] == positions_[i].character;
        }
    }
    std::string digits;
    if (aligned) {
        for (uint32_t i = 0; i < position_count_; i++) {
            uint8_t code = positions_[i].code;
            if (code != VRN_POS_DIGIT && code != VRN_POS_DIGIT_BLANK) continue;
            char c = i < text.size() ? text[i] : ' ';
            if (IsDigit(c)) {
                digits += c;
            } else if (c == ' ' && code == VRN_POS_DIGIT_BLANK) {
                digits += '0';
            }
        }
    } else {
        for (char c : text) {
            if (IsDigit(c)) digits += c;
        }
    }
    return digits;
}

std::string PicDesc::DeformatDate(std::string_view text) const {
    Fields fields = WalkFields(*this, text);
    if (!fields.any) return "0";
    int64_t month = fields.value[VRN_POS_MONTH];
    int64_t day = fields.present[VRN_POS_DAY] ? fields.value[VRN_POS_DAY] : (number_ >= 13 && number_ <= 16 ? 1 : 0);
    int64_t year = fields.value[VRN_POS_YEAR];
    if (year >= 0 && year < 100) year = WidenYear(int32_t(year), year_pivot_);
    return std::to_string(NormalisedDayNumber(month, day, year));
}

std::string PicDesc::DeformatTime(std::string_view text) const {
    Fields fields = WalkFields(*this, text);
    int64_t hours = fields.value[VRN_POS_HOUR];
    int64_t minutes = fields.value[VRN_POS_MINUTE];
    int64_t seconds = fields.value[VRN_POS_SECOND];
    // The first letter of the text decides AM or PM.
    std::string_view am = AmText(), pm = PmText();
    for (char c : text) {
        if (!IsLetter(c)) continue;
        if (!pm.empty() && SameLetter(c, pm[0])) {
            if (hours != 12) hours += 12;
        } else if (!am.empty() && SameLetter(c, am[0])) {
            if (hours == 12) hours = 0;
        }
        break;
    }
    if (hours >= 24 || minutes >= 60 || seconds >= 60) return "-1";
    if (hours == 0 && minutes == 0 && seconds == 0) return "0";
    return std::to_string(hours * 360000 + minutes * 6000 + seconds * 100 + 1);
}

std::string PicDesc::DeformatKeyIn(std::string_view text) const {
    std::string value;
    for (uint32_t i = 0; i < position_count_ && i < text.size(); i++) {
        if (positions_[i].code != VRN_POS_LITERAL) value += text[i];
    }
    return value;
}

// Only the characters of a number remain: digits, the first ".", the first "e" or "E", a "-" first
// or directly after the "e", a "+" directly after the "e".
static std::string DeformatString(std::string_view text) {
    std::string value;
    bool point = false, exponent = false;
    for (char c : text) {
        char last = value.empty() ? '\0' : value.back();
        if (IsDigit(c)) {
            value += c;
        } else if (c == '.' && !point) {
            value += c;
            point = true;
        } else if ((c == 'e' || c == 'E') && !exponent) {
            value += c;
            exponent = true;
        } else if (c == '-' && (value.empty() || last == 'e' || last == 'E')) {
            value += c;
        } else if (c == '+' && (last == 'e' || last == 'E')) {
            value += c;
        }
    }
    return value;
}

std::string PicDesc::DeformatPict(const char* text, size_t length) const {
    std::string_view view = text != nullptr ? std::string_view(text, length) : std::string_view();
    if (!IsValid()) return std::string();
    switch (kind_) {
    case PictureKind::Numeric:
    case PictureKind::Scientific:
        return DeformatNumber(view);
    case PictureKind::Pattern:
        return DeformatPattern(view);
    case PictureKind::Date:
        return DeformatDate(view);
    case PictureKind::Time:
        return DeformatTime(view);
    case PictureKind::KeyIn:
        return DeformatKeyIn(view);
    case PictureKind::String:
        return DeformatString(view.substr(0, width_));
    }
    return std::string();
}

void PicDesc::PushDeformatted(std::string_view text) const { PushCopy(DeformatPict(text.data(), text.size())); }

}  // namespace tarvex
