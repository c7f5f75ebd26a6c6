// SPDX-License-Identifier: GPL-3.0-or-later
// Compiling a picture text into a PicDesc: the picture language of every kind, the layouts of the
// date and time formats (the regional ones included), and the month and AM/PM texts.
//
// Picture language (after the "@"; a final "B" or "b" sets blank-when-zero when 2 characters
// remain without it; the kind letter may be in either case):
//   @Sn                  string of width n (1..255)
//   @N c s f w g d p s c numeric: currency "$" or "~text~" (leading or trailing), sign "-" (leading
//                        or trailing) or "(" ... ")", fill "0", "*" or "_", width 1..100, then an
//                        optional grouping character followed by the decimal character and places
//                        (".", "`" decimal comma, "v" implied point); a separator without places is
//                        the grouping character ("." ".", "`" ",", "_" blank)
//   @E w g d p           scientific: width 7..100, mantissa, places, "E", exponent sign, 3 digits
//   @D f n <y >y s       date: fill "0" "_" "*", format 1..18, year pivot, separator . - _ `
//   @T f n s             time: fill, format 1..8, separator
//   @P...P  @K...K       pattern and key-in: the closing letter repeats the opening one
#include <cctype>

#include "core/dates.h"
#include "core/environment.h"
#include "core/picture.h"
#include "platform/platform.h"

namespace tarvex {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads decimal digits at `pos`; false when there are none. Values are capped far above any
// limit, so a long run of digits cannot overflow.
bool ReadNumber(std::string_view s, size_t& pos, uint32_t& value) {
    size_t start = pos;
    value = 0;
    while (pos < s.size() && IsDigit(s[pos])) {
        value = value > 100000 ? value : value * 10 + uint32_t(s[pos] - '0');
        pos++;
    }
    return pos > start;
}

char SeparatorCharacter(char c) {
    switch (c) {
    case '_':
        return ' ';
    case '`':
        return ',';
    default:
        return c;
    }
}

char FillCharacter(char c) { return c == '_' ? ' ' : c; }

// Layouts of @D1..@D16: M month, D day, Y year digit, N month-name letter, "/" a separator
// position; other characters are literals.
struct DateLayout {
    const char* layout;
    char separator;           // the separator shown when the picture names none
    bool blank_month_tens;    // without a fill, a month's tens digit of 0 is blank
    bool blank_day_tens;
};

constexpr DateLayout kDateLayouts[16] = {
    {"MM/DD/YY", '/', true, false},
    {"MM/DD/YYYY", '/', true, false},
    {"NNN DD,YYYY", '/', false, true},
    {"NNNNNNNNNNNN DD, YYYY", '/', false, true},
    {"DD/MM/YY", '/', false, true},
    {"DD/MM/YYYY", '/', false, true},
    {"DD/NNN/YY", ' ', false, true},
    {"DD/NNN/YYYY", ' ', false, true},
    {"YY/MM/DD", '/', false, false},
    {"YYYY/MM/DD", '/', false, false},
    {"YYMMDD", '/', false, false},
    {"YYYYMMDD", '/', false, false},
    {"MM/YY", '/', false, false},
    {"MM/YYYY", '/', false, false},
    {"YY/MM", '/', false, false},
    {"YYYY/MM", '/', false, false},
};

// Layouts of @T1..@T6: H hour, M minute, S second digit, X AM/PM letter, "/" a separator.
constexpr const char* kTimeLayouts[6] = {"HH/MM", "HHMM", "HH/MMXX", "HH/MM/SS", "HHMMSS", "HH/MM/SSXX"};

const std::array<std::string, 12>* EnvironmentMonths(bool abbreviations) {
    const EnvironmentSettings& settings = Environment();
    const auto& names = abbreviations ? settings.month_abbreviations : settings.month_names;
    return names ? &*names : nullptr;
}

}  // namespace

// ---- Month names, AM/PM and the regional layouts -----------------------------------------------------

std::string_view MonthName(int month) {
    if (month < 1 || month > 12) return {};
    if (const auto* names = EnvironmentMonths(false)) return (*names)[month - 1];
    const auto& regional = platform::Regional().month_names;
    return size_t(month) <= regional.size() ? std::string_view(regional[month - 1]) : std::string_view();
}

std::string_view MonthAbbreviation(int month) {
    if (month < 1 || month > 12) return {};
    if (const auto* names = EnvironmentMonths(true)) return (*names)[month - 1];
    const auto& regional = platform::Regional().month_abbreviations;
    return size_t(month) <= regional.size() ? std::string_view(regional[month - 1]) : std::string_view();
}

std::string_view AmText() {
    const auto& am_pm = Environment().am_pm;
    return am_pm ? std::string_view((*am_pm)[0]) : std::string_view(platform::Regional().am);
}

std::string_view PmText() {
    const auto& am_pm = Environment().am_pm;
    return am_pm ? std::string_view((*am_pm)[1]) : std::string_view(platform::Regional().pm);
}

RegionalLayouts LayoutsFor(std::string_view date_order, char date_separator, char time_separator) {
    // A quote in a pattern starts quoted text, so a quote separator is written as a quoted quote.
    std::string ds = date_separator == '\'' ? std::string("''") : std::string(1, date_separator);
    std::string ts = time_separator == '\'' ? std::string("''") : std::string(1, time_separator);
    RegionalLayouts layouts;
    if (!date_order.empty() && date_order[0] == 'D') {
        layouts.short_date = "dd" + ds + "MM" + ds + "yy";
        layouts.long_date = "dddd', 'dd' 'MMMM' 'yyyy";
    } else if (!date_order.empty() && date_order[0] == 'Y') {
        layouts.short_date = "yy" + ds + "MM" + ds + "dd";
        layouts.long_date = "yyyy' 'MMMM' 'dd";
    } else {
        layouts.short_date = "MM" + ds + "dd" + ds + "yy";
        layouts.long_date = "ddd', 'MMMM' 'dd', 'yyyy";
    }
    // Month-first regions read the clock in twelve hours without a leading zero; the others in
    // twenty-four with one.
    if (!date_order.empty() && date_order[0] != 'M') {
        layouts.short_time = "HH" + ts + "mm";
        layouts.long_time = "HH" + ts + "mm" + ts + "ss";
    } else {
        layouts.short_time = "h" + ts + "mmtt";
        layouts.long_time = "h" + ts + "mm" + ts + "sstt";
    }
    return layouts;
}

const RegionalLayouts& CurrentRegionalLayouts() {
    static const RegionalLayouts layouts = [] {
        const platform::RegionalSettings& regional = platform::Regional();
        return LayoutsFor(regional.date_order, regional.date_separator, regional.time_separator);
    }();
    return layouts;
}

// ---- The compiler ----------------------------------------------------------------------------------------

class PictureCompiler {
public:
    PictureCompiler(PicDesc& d, const RegionalLayouts& layouts) : d_(d), layouts_(layouts) {}

    bool Compile(std::string_view body) {
        switch (std::toupper(static_cast<unsigned char>(body[0]))) {
        case 'S':
            return CompileString(body);
        case 'N':
            return CompileNumeric(body);
        case 'E':
            return CompileScientific(body);
        case 'D':
            return CompileDate(body);
        case 'T':
            return CompileTime(body);
        case 'P':
            return CompilePattern(body, false);
        case 'K':
            return CompilePattern(body, true);
        default:
            return false;
        }
    }

private:
    bool Add(char c, uint8_t code) {
        if (d_.position_count_ >= kPicturePositions) return false;
        d_.positions_[d_.position_count_++] = VrnPicPosition{c, code};
        return true;
    }

    // Width = positions that show a character.
    bool Finish() {
        uint32_t width = 0;
        for (uint32_t i = 0; i < d_.position_count_; i++) {
            if (d_.positions_[i].code != VRN_POS_IMPLIED_POINT) width++;
        }
        if (width == 0 || width > kMaxPictureWidth) return false;
        d_.width_ = width;
        uint32_t count = d_.position_count_;
        uint32_t point = count, exponent = count;
        for (uint32_t i = 0; i < count; i++) {
            uint8_t code = d_.positions_[i].code;
            if ((code == VRN_POS_POINT || code == VRN_POS_IMPLIED_POINT) && point == count) point = i;
            if (code == VRN_POS_EXPONENT_SIGN && exponent == count) exponent = i;
        }
        if (point > exponent) point = exponent;
        uint32_t lead = 0;
        while (lead < point && (d_.positions_[lead].code == VRN_POS_SIGN || d_.positions_[lead].code == VRN_POS_CURRENCY)) {
            lead++;
        }
        d_.point_index_ = uint8_t(point);
        d_.exponent_index_ = uint8_t(exponent);
        d_.lead_end_ = uint8_t(lead);
        return true;
    }

    bool CompileString(std::string_view s) {
        size_t pos = 1;
        uint32_t width = 0;
        if (!ReadNumber(s, pos, width) || pos != s.size() || width < 1 || width > kMaxPictureWidth) return false;
        d_.kind_ = PictureKind::String;
        d_.value_class_ = ValueClass::Text;
        d_.width_ = width;
        return true;
    }

    // "$" or "~text~" at pos.
    static bool ReadCurrency(std::string_view s, size_t& pos, std::string_view& currency, bool& found) {
        found = false;
        if (pos >= s.size()) return true;
        if (s[pos] == '$') {
            currency = "$";
            pos++;
            found = true;
        } else if (s[pos] == '~') {
            size_t end = s.find('~', pos + 1);
            if (end == std::string_view::npos) return false;
            currency = s.substr(pos + 1, end - pos - 1);
            pos = end + 1;
            found = true;
        }
        return true;
    }

    struct PointSpec {
        char grouping = 0;    // explicit grouping character, 0 when none
        char decimal = 0;     // '.', ',' or 'v'; 0 when no places
        uint32_t places = 0;
    };

    // After the width: [g] d p, or a lone separator (the grouping character).
    static bool ReadPointSpec(std::string_view s, size_t& pos, PointSpec& spec) {
        auto is_group = [](char c) { return c == '.' || c == '`' || c == '_'; };
        auto is_decimal = [](char c) { return c == '.' || c == '`' || c == 'v' || c == 'V'; };
        auto decimal_of = [](char c) { return c == '`' ? ',' : (c == '.' ? '.' : 'v'); };
        if (pos >= s.size()) return true;
        char c1 = s[pos];
        char c2 = pos + 1 < s.size() ? s[pos + 1] : 0;
        if (is_group(c1) && is_decimal(c2)) {
            spec.grouping = SeparatorCharacter(c1);
            spec.decimal = decimal_of(c2);
            pos += 2;
        } else if (is_decimal(c1) && (IsDigit(c2) || c1 == 'v' || c1 == 'V')) {
            spec.decimal = decimal_of(c1);
            pos++;
        } else if (is_group(c1)) {
            spec.grouping = SeparatorCharacter(c1);
            pos++;
            return true;
        } else {
            return true;
        }
        uint32_t places = 0;
        if (ReadNumber(s, pos, places) && places > 100) return false;
        spec.places = places;
        if (places == 0) spec.decimal = 0;
        return true;
    }

    bool CompileNumeric(std::string_view s) {
        size_t pos = 1;
        std::string_view lead_currency, trail_currency;
        bool has_lead_currency = false, has_trail_currency = false;
        char lead_sign = 0, trail_sign = 0, fill = 0;
        uint32_t width = 0;
        PointSpec spec;
        if (!ReadCurrency(s, pos, lead_currency, has_lead_currency)) return false;
        if (pos < s.size() && (s[pos] == '-' || s[pos] == '(')) lead_sign = s[pos++];
        if (pos < s.size() && (s[pos] == '0' || s[pos] == '*' || s[pos] == '_')) fill = s[pos++];
        if (!ReadNumber(s, pos, width) || width < 1 || width > 100) return false;
        if (!ReadPointSpec(s, pos, spec)) return false;
        if (pos < s.size() && (s[pos] == '-' || s[pos] == ')')) {
            if (s[pos] == '-' && lead_sign != 0) return false;
            if (s[pos] == ')' && lead_sign != '(') return false;
            trail_sign = s[pos++];
        }
        if (lead_sign == '(' && trail_sign != ')') return false;
        if (!ReadCurrency(s, pos, trail_currency, has_trail_currency)) return false;
        if (has_lead_currency && has_trail_currency) return false;
        if (pos != s.size()) return false;

        bool implied = spec.decimal == 'v';
        char point = implied ? 0 : spec.decimal;
        char grouping = spec.grouping;
        if (grouping == 0 && fill == 0) grouping = point == ',' ? '.' : ',';
        char fill_char = fill == '0' ? '0' : (fill == '*' ? '*' : ' ');

        uint32_t fixed = uint32_t(lead_currency.size() + trail_currency.size()) + (lead_sign ? 1 : 0) +
                         (trail_sign ? 1 : 0) + spec.places + (spec.places > 0 && !implied ? 1 : 0) + 1;
        if (fixed > width) return false;
        uint32_t remaining = width - fixed;

        // Built from the right, then reversed.
        VrnPicPosition reversed[kPicturePositions];
        uint32_t n = 0;
        auto push = [&](char c, uint8_t code) {
            if (n < kPicturePositions) reversed[n++] = VrnPicPosition{c, code};
        };
        for (size_t i = trail_currency.size(); i-- > 0;) push(trail_currency[i], VRN_POS_CURRENCY);
        if (trail_sign) push(trail_sign, VRN_POS_SIGN);
        for (uint32_t i = 0; i < spec.places; i++) push('0', VRN_POS_DIGIT);
        if (spec.places > 0) push(implied ? '\0' : point, implied ? VRN_POS_IMPLIED_POINT : VRN_POS_POINT);
        if (implied && fill_char == ' ') {
            push(' ', VRN_POS_DIGIT_BLANK);
        } else {
            push(implied ? fill_char : '0', VRN_POS_DIGIT);
        }
        uint32_t integer_positions = 1;
        for (uint32_t k = 2; k < remaining + 2; k++) {
            if (grouping != 0 && k % 4 == 0) {
                push(grouping, VRN_POS_GROUPING);
            } else if (fill_char == ' ') {
                push(' ', VRN_POS_DIGIT_BLANK);
                integer_positions++;
            } else {
                push(fill_char, VRN_POS_DIGIT);
                integer_positions++;
            }
        }
        if (lead_sign) push(lead_sign, VRN_POS_SIGN);
        for (size_t i = lead_currency.size(); i-- > 0;) push(lead_currency[i], VRN_POS_CURRENCY);
        for (uint32_t i = 0; i < n; i++) {
            if (!Add(reversed[n - 1 - i].character, reversed[n - 1 - i].code)) return false;
        }
        d_.kind_ = PictureKind::Numeric;
        d_.value_class_ = ValueClass::Decimal;
        d_.integer_positions_ = integer_positions;
        d_.places_ = spec.places;
        d_.point_ = point;
        d_.implied_point_ = implied && spec.places > 0;
        d_.fill_ = fill_char;
        return Finish();
    }

    bool CompileScientific(std::string_view s) {
        size_t pos = 1;
        uint32_t width = 0;
        PointSpec spec;
        if (!ReadNumber(s, pos, width) || width < 7 || width > 100) return false;
        if (!ReadPointSpec(s, pos, spec) || pos != s.size()) return false;
        bool implied = spec.decimal == 'v';
        char point = implied ? 0 : spec.decimal;
        char grouping = spec.grouping ? spec.grouping : (point == ',' ? '.' : ',');
        uint32_t fixed = 1 + 5 + spec.places + (spec.places > 0 && !implied ? 1 : 0);
        if (fixed >= width) return false;
        uint32_t mantissa = width - fixed;
        // Grouping only when it leaves at least four digits.
        if (mantissa < 5) grouping = 0;
        VrnPicPosition integer_part[100];
        uint32_t n = 0;
        uint32_t integer_positions = 0;
        for (uint32_t k = 1; k <= mantissa; k++) {
            if (grouping != 0 && k % 4 == 0) {
                integer_part[n++] = VrnPicPosition{grouping, VRN_POS_GROUPING};
            } else {
                integer_part[n++] = k == 1 ? VrnPicPosition{'0', VRN_POS_DIGIT} : VrnPicPosition{' ', VRN_POS_DIGIT_BLANK};
                integer_positions++;
            }
        }
        bool ok = Add('-', VRN_POS_SIGN);
        for (uint32_t i = n; i-- > 0;) ok = ok && Add(integer_part[i].character, integer_part[i].code);
        if (spec.places > 0) ok = ok && Add(implied ? '\0' : point, implied ? VRN_POS_IMPLIED_POINT : VRN_POS_POINT);
        for (uint32_t i = 0; i < spec.places; i++) ok = ok && Add('0', VRN_POS_DIGIT);
        ok = ok && Add('E', VRN_POS_LITERAL) && Add('+', VRN_POS_EXPONENT_SIGN);
        for (int i = 0; i < 3; i++) ok = ok && Add('0', VRN_POS_DIGIT);
        if (!ok) return false;
        d_.kind_ = PictureKind::Scientific;
        d_.value_class_ = ValueClass::Floating;
        d_.integer_positions_ = integer_positions;
        d_.places_ = spec.places;
        d_.point_ = point;
        d_.implied_point_ = implied && spec.places > 0;
        d_.fill_ = ' ';
        return Finish();
    }

    // Fill, format number and the rest common to dates and times.
    struct DateTimeSpec {
        char fill = 0;
        uint32_t number = 0;
        int pivot = kDefaultYearPivot;
        char separator = 0;
    };

    static bool ReadDateTimeSpec(std::string_view s, bool date, DateTimeSpec& spec) {
        size_t pos = 1;
        if (pos < s.size() && (s[pos] == '0' || s[pos] == '_' || s[pos] == '*')) spec.fill = s[pos++];
        if (!ReadNumber(s, pos, spec.number)) return false;
        if (date && pos < s.size() && (s[pos] == '<' || s[pos] == '>')) {
            bool before = s[pos++] == '<';
            uint32_t y = 0;
            if (!ReadNumber(s, pos, y)) y = kDefaultYearPivot;   // "<" alone: 80; ">" alone: 99 - 80
            if (y > 99) return false;
            spec.pivot = before ? int(y) : 99 - int(y);
        }
        if (pos < s.size() && (s[pos] == '.' || s[pos] == '-' || s[pos] == '_' || s[pos] == '`')) {
            spec.separator = SeparatorCharacter(s[pos++]);
        }
        return pos == s.size();
    }

    // Which fields show a tens digit of 0 as a blank when the picture gives no fill.
    struct BlankTens {
        bool month = false, day = false, hour = false;
    };

    // Adds the positions of a layout (letters as in kDateLayouts / kTimeLayouts).
    bool AddLayout(std::string_view layout, char separator, const DateTimeSpec& spec, bool date, BlankTens blank) {
        for (size_t i = 0; i < layout.size(); i++) {
            char c = layout[i];
            if (c == '/') {
                if (!Add(spec.separator ? spec.separator : separator, VRN_POS_SEPARATOR)) return false;
                continue;
            }
            uint8_t code = VRN_POS_LITERAL;
            if (date) {
                code = c == 'M' ? VRN_POS_MONTH : c == 'D' ? VRN_POS_DAY : c == 'Y' ? VRN_POS_YEAR
                     : c == 'N' ? VRN_POS_MONTH_NAME : VRN_POS_LITERAL;
            } else {
                code = c == 'H' ? VRN_POS_HOUR : c == 'M' ? VRN_POS_MINUTE : c == 'S' ? VRN_POS_SECOND
                     : c == 'X' ? VRN_POS_AMPM : VRN_POS_LITERAL;
            }
            char shown;
            if (code == VRN_POS_LITERAL) {
                shown = c;
            } else if (code == VRN_POS_AMPM) {
                shown = 'X';
            } else if (code == VRN_POS_MONTH_NAME) {
                // Positions beyond the name show a "*" or "_" fill, or nothing ("0" fills digits only).
                shown = spec.fill && spec.fill != '0' ? FillCharacter(spec.fill) : '\0';
            } else if (spec.fill) {
                shown = FillCharacter(spec.fill);
            } else {
                bool tens = i == 0 || layout[i - 1] != c;
                bool blank_tens = (code == VRN_POS_MONTH && blank.month) || (code == VRN_POS_DAY && blank.day) ||
                                  (code == VRN_POS_HOUR && blank.hour);
                shown = tens && blank_tens ? ' ' : '0';
            }
            if (!Add(shown, code)) return false;
        }
        return true;
    }

    bool CompileDate(std::string_view s) {
        DateTimeSpec spec;
        if (!ReadDateTimeSpec(s, true, spec) || spec.number < 1 || spec.number > 18) return false;
        bool ok;
        if (spec.number <= 16) {
            const DateLayout& layout = kDateLayouts[spec.number - 1];
            ok = AddLayout(layout.layout, layout.separator, spec, true,
                           BlankTens{layout.blank_month_tens, layout.blank_day_tens, false});
            d_.month_name_upper_ = spec.number == 3 || spec.number == 7 || spec.number == 8;
        } else if (spec.number == 17) {
            ok = CompileShortDate(layouts_.short_date, spec);
        } else {
            ok = CompileRegionalPattern(layouts_.long_date, spec, true);
        }
        if (!ok) return false;
        d_.kind_ = PictureKind::Date;
        d_.value_class_ = ValueClass::Integer;
        d_.number_ = uint8_t(spec.number);
        d_.year_pivot_ = uint8_t(spec.pivot);
        return Finish();
    }

    // sShortDate: the first letter gives the order (d: day, month, year; y: year, month, day; any
    // other: month, day, year); the separator is the character after the first field; "dd" and
    // "MM" are zero-filled (else a tens digit of 0 is blank); "yyyy" gives four year digits.
    bool CompileShortDate(std::string_view pattern, const DateTimeSpec& spec) {
        if (pattern.empty()) pattern = "MM/dd/yy";
        auto run_of = [&](char letter) {
            size_t at = pattern.find(letter);
            size_t length = 0;
            while (at != std::string_view::npos && at + length < pattern.size() && pattern[at + length] == letter) length++;
            return length;
        };
        size_t first_run = 1;
        while (first_run < pattern.size() && pattern[first_run] == pattern[0]) first_run++;
        char separator = first_run < pattern.size() ? pattern[first_run] : '/';
        if (separator == '\'') separator = first_run + 1 < pattern.size() ? pattern[first_run + 1] : '/';
        bool day_zero = run_of('d') >= 2;
        bool month_zero = run_of('M') >= 2;
        std::string year = run_of('y') >= 4 ? "YYYY" : "YY";
        std::string layout;
        if (pattern[0] == 'd') {
            layout = "DD/MM/" + year;
        } else if (pattern[0] == 'y') {
            layout = year + "/MM/DD";
        } else {
            layout = "MM/DD/" + year;
        }
        return AddLayout(layout, separator, spec, true, BlankTens{!month_zero, !day_zero, false});
    }

    // sLongDate, sTime-style patterns: d/dd day, M/MM month, MMM/MMMM month name, y/yy/yyyy year,
    // h/hh/H/HH hour, m/mm minute, s/ss second, t/tt AM/PM, quoted text and other characters as
    // literals. The template has no weekday position: a ddd or dddd is dropped together with the
    // literal text that joins it to the next field.
    bool CompileRegionalPattern(std::string_view pattern, const DateTimeSpec& spec, bool date) {
        bool dropping = false;   // after a weekday: literals are dropped until the next field
        uint32_t fields = 0;
        size_t i = 0;
        while (i < pattern.size()) {
            char c = pattern[i];
            if (c == '\'') {
                size_t end = i + 1;
                std::string literal;
                while (end < pattern.size()) {
                    if (pattern[end] == '\'') {
                        if (end + 1 < pattern.size() && pattern[end + 1] == '\'') {
                            literal += '\'';
                            end += 2;
                            continue;
                        }
                        break;
                    }
                    literal += pattern[end++];
                }
                i = end + 1;
                if (!dropping) {
                    for (char l : literal) {
                        if (!Add(l, VRN_POS_LITERAL)) return false;
                    }
                }
                continue;
            }
            size_t run = 1;
            while (i + run < pattern.size() && pattern[i + run] == c) run++;
            i += run;
            std::string layout;
            BlankTens blank;
            if (date && c == 'd') {
                if (run >= 3) {
                    dropping = true;
                    continue;
                }
                layout = "DD";
                blank.day = run == 1;
            } else if (date && c == 'M') {
                if (run >= 3) {
                    layout = std::string(run == 3 ? 3 : 12, 'N');
                } else {
                    layout = "MM";
                    blank.month = run == 1;
                }
            } else if (date && c == 'y') {
                layout = run >= 3 ? "YYYY" : "YY";
            } else if (!date && (c == 'h' || c == 'H')) {
                layout = "HH";
                blank.hour = run == 1;
            } else if (!date && c == 'm') {
                layout = "MM";
            } else if (!date && c == 's') {
                layout = "SS";
            } else if (!date && c == 't') {
                layout = run == 1 ? "X" : "XX";
            } else if (c == 'g') {
                continue;   // era: not shown
            } else {
                if (!dropping) {
                    for (size_t k = 0; k < run; k++) {
                        bool separator = !date && c == CurrentSeparator();
                        if (!Add(separator ? (spec.separator ? spec.separator : c) : c,
                                 separator ? VRN_POS_SEPARATOR : VRN_POS_LITERAL)) {
                            return false;
                        }
                    }
                }
                continue;
            }
            dropping = false;
            fields++;
            if (!AddLayout(layout, '/', spec, date, blank)) return false;
        }
        // A weekday at the end leaves the literals before it hanging: drop them.
        while (d_.position_count_ > 0 && d_.positions_[d_.position_count_ - 1].code == VRN_POS_LITERAL &&
               dropping) {
            d_.position_count_--;
        }
        return fields > 0;
    }

    char CurrentSeparator() const { return time_separator_; }

    bool CompileTime(std::string_view s) {
        DateTimeSpec spec;
        if (!ReadDateTimeSpec(s, false, spec) || spec.number < 1 || spec.number > 8) return false;
        bool ok;
        if (spec.number <= 6) {
            ok = AddLayout(kTimeLayouts[spec.number - 1], ':', spec, false, BlankTens{false, false, true});
        } else {
            std::string_view pattern = spec.number == 7 ? layouts_.short_time : layouts_.long_time;
            // The separator is the first character after the hours.
            time_separator_ = ':';
            size_t after_hours = pattern.find_first_not_of("hH");
            if (after_hours != std::string_view::npos && after_hours > 0) time_separator_ = pattern[after_hours];
            ok = CompileRegionalPattern(pattern, spec, false);
        }
        if (!ok) return false;
        d_.kind_ = PictureKind::Time;
        d_.value_class_ = ValueClass::Integer;
        d_.number_ = uint8_t(spec.number);
        return Finish();
    }

    // @P...P and @K...K: the closing letter (same case as the opening one) ends the picture.
    bool CompilePattern(std::string_view s, bool keyin) {
        char letter = s[0];
        size_t i = 1;
        bool closed = false;
        while (i < s.size()) {
            char c = s[i];
            if (keyin && c == '\\') {
                if (i + 1 >= s.size()) return false;
                if (!Add(s[i + 1], VRN_POS_LITERAL)) return false;
                i += 2;
                continue;
            }
            if (c == letter) {
                closed = true;
                i++;
                break;
            }
            uint8_t code = VRN_POS_LITERAL;
            char shown = c;
            if (c == '#') {
                code = VRN_POS_DIGIT;
                shown = '0';
            } else if (c == '<') {
                code = VRN_POS_DIGIT_BLANK;
                shown = ' ';
            } else if (keyin) {
                switch (c) {
                case '@':
                    code = VRN_POS_KEY_ANY;
                    break;
                case '^':
                    code = VRN_POS_KEY_UPPER;
                    break;
                case '_':
                    code = VRN_POS_KEY_LOWER;
                    break;
                case '?':
                    code = VRN_POS_KEY_ALPHA;
                    break;
                case '|':
                    code = VRN_POS_KEY_BAR;
                    break;
                default:
                    break;
                }
                if (code != VRN_POS_LITERAL) shown = ' ';
            }
            if (!Add(shown, code)) return false;
            i++;
        }
        if (!closed || i != s.size() || d_.position_count_ == 0) return false;
        uint32_t digits = 0;
        for (uint32_t k = 0; k < d_.position_count_; k++) {
            uint8_t code = d_.positions_[k].code;
            if (code == VRN_POS_DIGIT || code == VRN_POS_DIGIT_BLANK) digits++;
        }
        d_.kind_ = keyin ? PictureKind::KeyIn : PictureKind::Pattern;
        d_.value_class_ = keyin ? ValueClass::Text : ValueClass::Decimal;
        d_.integer_positions_ = digits;
        d_.fill_ = ' ';
        return Finish();
    }

    PicDesc& d_;
    const RegionalLayouts& layouts_;
    char time_separator_ = ':';
};

// ---- PicDesc ------------------------------------------------------------------------------------------------

void PicDesc::Clear() { *this = PicDesc(); }

void PicDesc::Init(const char* text, const RegionalLayouts* layouts) {
    if (text == nullptr) {
        Clear();
        kind_ = PictureKind::String;
        value_class_ = ValueClass::Text;
        width_ = kMaxPictureWidth;
        return;
    }
    Init(std::string_view(text), layouts);
}

void PicDesc::Init(std::string_view text, const RegionalLayouts* layouts) {
    Clear();
    text_length_ = uint8_t(text.size() < kPictureTextLimit + 1 ? text.size() : kPictureTextLimit + 1);
    for (uint32_t i = 0; i < text_length_; i++) text_[i] = text[i];
    std::string_view body = text;
    if (!body.empty() && body[0] == '@') body.remove_prefix(1);
    if (body.empty() || body.size() > kPictureTextLimit) {
        Clear();
        return;
    }
    bool blank = false;
    if (body.size() >= 3 && (body.back() == 'B' || body.back() == 'b')) {
        blank = true;
        body.remove_suffix(1);
    }
    PictureCompiler compiler(*this, layouts ? *layouts : CurrentRegionalLayouts());
    if (!compiler.Compile(body)) {
        uint8_t length = text_length_;
        char saved[sizeof text_];
        for (uint32_t i = 0; i < sizeof text_; i++) saved[i] = text_[i];
        Clear();
        // An invalid descriptor still names the text it came from.
        text_length_ = length;
        for (uint32_t i = 0; i < sizeof text_; i++) text_[i] = saved[i];
        return;
    }
    blank_when_zero_ = blank;
    plain_number_ = PlainNumber();
}

uint32_t PicDesc::Header() const {
    if (!IsValid()) return 0;
    return uint32_t(kind_) | uint32_t(value_class_) << 3 | uint32_t(blank_when_zero_ ? 1 : 0) << 6 | (width_ & 0xFF) << 8;
}

PictureCounts PicDesc::Count() const {
    PictureCounts counts;
    bool after_point = false, exponent = false;
    for (uint32_t i = 0; i < position_count_; i++) {
        switch (positions_[i].code) {
        case VRN_POS_DIGIT:
        case VRN_POS_DIGIT_BLANK:
            if (exponent) {
                counts.exponent++;
            } else if (after_point) {
                counts.fraction_digits++;
            } else {
                counts.integer_digits++;
            }
            break;
        case VRN_POS_POINT:
        case VRN_POS_IMPLIED_POINT:
            after_point = true;
            break;
        case VRN_POS_GROUPING:
            counts.grouping++;
            break;
        case VRN_POS_MONTH:
        case VRN_POS_DAY:
        case VRN_POS_YEAR:
        case VRN_POS_MONTH_NAME:
            counts.date++;
            break;
        case VRN_POS_HOUR:
        case VRN_POS_MINUTE:
        case VRN_POS_SECOND:
        case VRN_POS_AMPM:
            counts.time++;
            break;
        case VRN_POS_EXPONENT_SIGN:
            counts.exponent++;
            exponent = true;
            break;
        default:
            break;
        }
    }
    return counts;
}

void PicDesc::ToDescriptor(VrnPicDesc* descriptor, const char* text) const {
    *descriptor = VrnPicDesc{};
    descriptor->header = Header();
    descriptor->year_pivot = year_pivot_;
    descriptor->number = number_;
    descriptor->position_count = uint8_t(position_count_);
    for (uint32_t i = 0; i < position_count_; i++) descriptor->positions[i] = positions_[i];
    descriptor->text = text;
}

}  // namespace tarvex
