// SPDX-License-Identifier: GPL-3.0-or-later
// Regional settings from the locale the environment names (LC_ALL, then LC_TIME or LC_NUMERIC,
// then LANG). The process locale itself is never changed: number texts throughout the runtime
// rely on the "C" locale, so the named locale is opened as a separate locale object and queried.
// Names the runtime cannot hold as single-byte text (outside Latin-1) keep the English defaults.
#include "platform/platform.h"
#include "platform/platform_internal.h"

#include <clocale>
#include <cstdlib>
#include <langinfo.h>
#include <locale.h>

namespace tarvex::platform {

namespace {

const char* const kMonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};
const char* const kMonthAbbreviations[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The locale name for one category, as setlocale(category, "") would choose it.
std::string LocaleName(const char* category_variable) {
    for (const char* variable : {"LC_ALL", category_variable, "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return "C";
}

// The text as single-byte Latin-1, converted from UTF-8 when the locale uses it; nullopt when a
// character does not fit.
std::optional<std::string> SingleByte(std::string_view text, bool utf8) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += char(c);
        } else if (!utf8) {
            out += char(c);
        } else if ((c & 0xE0) == 0xC0 && i + 1 < text.size() &&
                   (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
            unsigned code = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
            if (code < 0xA0 || code > 0xFF) {
                return std::nullopt;
            }
            out += char(code);
            i++;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

// A separator character: the locale's when it is one byte, a blank for a wider blank (some locales
// group thousands with a narrow no-break space), else the default.
char Separator(std::string_view text, char fallback) {
    if (text.size() == 1) {
        return text[0];
    }
    if (text == "\xC2\xA0" || text == "\xE2\x80\xAF" || text == "\xE2\x80\x89") {
        return ' ';
    }
    return fallback;
}

} // namespace

// The order of day, month and year in a strftime date format ("%m/%d/%y" -> "MDY") and the first
// literal character between fields; false when the format does not name all three.
bool DateOrderFromFormat(std::string_view format, std::string* order, char* separator) {
    std::string found;
    char first_literal = 0;
    for (size_t i = 0; i < format.size(); i++) {
        if (format[i] != '%') {
            if (!found.empty() && first_literal == 0 && found.size() < 3) {
                first_literal = format[i];
            }
            continue;
        }
        if (++i >= format.size()) {
            break;
        }
        // Skip flags and width ("%-d", "%Ey", "%Od").
        while (i < format.size() &&
               (format[i] == '-' || format[i] == '_' || format[i] == '0' || format[i] == '^' ||
                format[i] == '#' || format[i] == 'E' || format[i] == 'O')) {
            i++;
        }
        if (i >= format.size()) {
            break;
        }
        char letter = 0;
        switch (format[i]) {
        case 'd':
        case 'e':
            letter = 'D';
            break;
        case 'm':
        case 'b':
        case 'B':
        case 'h':
            letter = 'M';
            break;
        case 'y':
        case 'Y':
        case 'C':
        case 'G':
        case 'g':
            letter = 'Y';
            break;
        case 'D':
            return DateOrderFromFormat("%m/%d/%y", order, separator);
        case 'F':
            return DateOrderFromFormat("%Y-%m-%d", order, separator);
        default:
            break;
        }
        if (letter != 0 && found.find(letter) == std::string::npos) {
            found += letter;
        }
    }
    if (found.size() != 3) {
        return false;
    }
    *order = found;
    if (first_literal != 0) {
        *separator = first_literal;
    }
    return true;
}

namespace {

char TimeSeparator(std::string_view format, char fallback) {
    if (format.find("%T") != std::string_view::npos || format.find("%R") != std::string_view::npos) {
        return ':';
    }
    size_t first = format.find('%');
    if (first == std::string_view::npos) {
        return fallback;
    }
    for (size_t i = first + 2; i < format.size(); i++) {
        if (format[i] == '%') {
            break;
        }
        if (format[i] != ' ') {
            return format[i];
        }
    }
    return fallback;
}

} // namespace

RegionalSettings RegionalFromLocales(const std::string& time_name, const std::string& numeric_name) {
    RegionalSettings settings;
    settings.month_names.assign(kMonthNames, kMonthNames + 12);
    settings.month_abbreviations.assign(kMonthAbbreviations, kMonthAbbreviations + 12);

    locale_t time_locale = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, time_name.c_str(), locale_t(0));
    if (time_locale != locale_t(0)) {
        bool utf8 = std::string_view(nl_langinfo_l(CODESET, time_locale)) == "UTF-8";
        std::vector<std::string> names, abbreviations;
        for (int i = 0; i < 12; i++) {
            auto name = SingleByte(nl_langinfo_l(nl_item(MON_1 + i), time_locale), utf8);
            auto abbreviation = SingleByte(nl_langinfo_l(nl_item(ABMON_1 + i), time_locale), utf8);
            if (name && !name->empty()) {
                names.push_back(*name);
            }
            if (abbreviation && !abbreviation->empty()) {
                abbreviations.push_back(*abbreviation);
            }
        }
        if (names.size() == 12) {
            settings.month_names = names;
        }
        if (abbreviations.size() == 12) {
            settings.month_abbreviations = abbreviations;
        }
        auto am = SingleByte(nl_langinfo_l(AM_STR, time_locale), utf8);
        auto pm = SingleByte(nl_langinfo_l(PM_STR, time_locale), utf8);
        if (am && pm && !am->empty() && !pm->empty()) {
            settings.am = *am;
            settings.pm = *pm;
        }
        std::string order = settings.date_order;
        char separator = settings.date_separator;
        if (DateOrderFromFormat(nl_langinfo_l(D_FMT, time_locale), &order, &separator)) {
            settings.date_order = order;
            settings.date_separator = separator;
        }
        settings.time_separator = TimeSeparator(nl_langinfo_l(T_FMT, time_locale), settings.time_separator);
        freelocale(time_locale);
    }

    locale_t numeric_locale = newlocale(LC_NUMERIC_MASK, numeric_name.c_str(), locale_t(0));
    if (numeric_locale != locale_t(0)) {
        std::string_view point = nl_langinfo_l(RADIXCHAR, numeric_locale);
        std::string_view thousands = nl_langinfo_l(THOUSEP, numeric_locale);
        settings.decimal_point = Separator(point, settings.decimal_point);
        settings.thousands_separator = Separator(thousands, settings.thousands_separator);
        freelocale(numeric_locale);
    }
    // A locale that groups and marks decimals with the same character would make numbers
    // unreadable; keep the defaults then.
    if (settings.decimal_point == settings.thousands_separator) {
        settings.decimal_point = '.';
        settings.thousands_separator = ',';
    }
    return settings;
}

const RegionalSettings& Regional() {
    static const RegionalSettings settings =
        RegionalFromLocales(LocaleName("LC_TIME"), LocaleName("LC_NUMERIC"));
    return settings;
}

} // namespace tarvex::platform
