// SPDX-License-Identifier: GPL-3.0-or-later
// The picture descriptor `PicDesc`: a picture text compiled once into a template of positions, then
// used for every value formatted or read back with it. Compiling lives in picture.cpp, formatting
// in picture_format.cpp, deformatting in picture_deformat.cpp, and the exported operations with
// the per-thread cache of compiled pictures in picture_stack.cpp.
//
// A PicDesc is a plain value (no heap, trivially copyable) that keeps its own copy of the text, so
// a cache slot or a caller's variable holds everything it needs.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "tarvex/pictures.h"

namespace tarvex {

enum class PictureKind : uint8_t { Numeric = 0, Scientific, Date, Time, Pattern, String, KeyIn };
enum class ValueClass : uint8_t { Text = 0, Integer, Floating, Decimal };

constexpr uint32_t kPicturePositions = VRN_PICTURE_POSITIONS;
constexpr uint32_t kPictureTextLimit = VRN_PICTURE_TEXT_LIMIT;
constexpr uint32_t kMaxPictureWidth = 255;

// The regional layouts behind @D17, @D18, @T7 and @T8, in the notation of the system's regional
// settings: d/dd day, ddd/dddd weekday, M/MM month, MMM/MMMM month name, y/yy/yyyy year, h/hh
// hour (H/HH on a 24-hour clock), m/mm minute, s/ss second, tt AM/PM, text in single quotes.
struct RegionalLayouts {
    std::string short_date;   // sShortDate
    std::string long_date;    // sLongDate
    std::string short_time;   // hours and minutes
    std::string long_time;    // hours, minutes and seconds
};
// Built once from platform::Regional(): the order and separator of the locale's short date, its
// time separator, and a 12-hour clock without a leading zero for month-first locales (24-hour with
// a leading zero otherwise).
const RegionalLayouts& CurrentRegionalLayouts();
RegionalLayouts LayoutsFor(std::string_view date_order, char date_separator, char time_separator);

// The month names and AM/PM texts in force: the environment file's when it set them, else the
// regional settings'.
std::string_view MonthName(int month);           // 1..12
std::string_view MonthAbbreviation(int month);   // 1..12
std::string_view AmText();
std::string_view PmText();

// What PicDesc::Count reports.
struct PictureCounts {
    uint32_t integer_digits = 0;    // digit positions before the point
    uint32_t fraction_digits = 0;   // digit positions after the point
    uint32_t grouping = 0;
    uint32_t date = 0;              // month, day, year and month-name positions
    uint32_t time = 0;              // hour, minute, second and AM/PM positions
    uint32_t exponent = 0;          // exponent sign and digits
};

class PicDesc {
public:
    // Compiles `text` (with or without the leading "@"); an invalid text leaves the cleared
    // descriptor. Init(nullptr) gives the string picture of width 255. `layouts` supplies @D17,
    // @D18, @T7 and @T8 (the current regional layouts when null).
    void Init(const char* text, const RegionalLayouts* layouts = nullptr);
    void Init(std::string_view text, const RegionalLayouts* layouts = nullptr);
    void Clear();

    bool IsValid() const { return width_ != 0; }
    PictureKind Kind() const { return kind_; }
    ValueClass Values() const { return value_class_; }
    bool BlankWhenZero() const { return blank_when_zero_; }
    uint32_t Width() const { return width_; }
    int YearPivot() const { return year_pivot_; }
    int Number() const { return number_; }
    uint32_t PositionCount() const { return position_count_; }
    const VrnPicPosition& Position(uint32_t index) const { return positions_[index]; }
    std::string_view Text() const { return std::string_view(text_, text_length_); }
    uint32_t Places() const { return places_; }
    uint32_t Header() const;
    PictureCounts Count() const;
    // The C descriptor; `text` is the pointer it records.
    void ToDescriptor(VrnPicDesc* descriptor, const char* text) const;

    // ---- Formatting: each writes the formatted text into `destination` of `width` bytes, padded
    // with blanks (a month name shorter than its positions leaves the rest blank), and returns the
    // length of the formatted text before padding (at most `width`).
    uint32_t StoreLong(char* destination, uint32_t width, int32_t value) const;
    // Pops the decimal stack.
    uint32_t StoreDec(char* destination, uint32_t width) const;
    uint32_t StoreReal(char* destination, uint32_t width, double value) const;
    // A text value: @S and @K take it as it is; numeric pictures read it as a number, date and
    // time pictures as a LONG.
    uint32_t StoreText(char* destination, uint32_t width, std::string_view value) const;
    // The common formatter of numbers: `digits` holds decimal digits, the first `integer_digits`
    // of them before the point. Date and time pictures take the digits as their integer value.
    uint32_t FormatPict(char* destination, uint32_t width, uint32_t integer_digits, std::string_view digits,
                        bool negative) const;

    // ---- Deformatting: never fails; the result is text (a number's digits with "-" when
    // negative, a day number, a time value, or the text of @S and @K pictures).
    std::string DeformatPict(const char* text, size_t length) const;
    std::string DeformatPict(std::string_view text) const { return DeformatPict(text.data(), text.size()); }
    // Deformats and pushes the result on the string stack.
    void PushDeformatted(std::string_view text) const;

private:
    friend class PictureCompiler;
    uint32_t FormatNumber(char* out, uint32_t integer_digits, std::string_view digits, bool negative) const;
    // Whether the template is a plain number's: blank fill, at most a leading "-", digits and
    // grouping before the point and only digits after it. FormatPlainNumber formats those.
    bool PlainNumber() const;
    uint32_t FormatPlainNumber(char* out, const char* work, uint32_t integer_digits, uint32_t places,
                               bool negative) const;
    uint32_t FormatScientific(char* out, uint32_t integer_digits, std::string_view digits, bool negative) const;
    uint32_t FormatDate(char* out, int64_t day_number) const;
    uint32_t FormatTime(char* out, int64_t time_value) const;
    uint32_t FormatKeyIn(char* out, std::string_view value) const;
    uint32_t FormatString(char* out, std::string_view value) const;
    uint32_t FormatInteger(char* out, int64_t value) const;
    std::string DeformatNumber(std::string_view text) const;
    std::string DeformatPattern(std::string_view text) const;
    std::string DeformatDate(std::string_view text) const;
    std::string DeformatTime(std::string_view text) const;
    std::string DeformatKeyIn(std::string_view text) const;

    PictureKind kind_ = PictureKind::Numeric;
    ValueClass value_class_ = ValueClass::Text;
    bool blank_when_zero_ = false;
    uint8_t year_pivot_ = 0;
    uint8_t number_ = 0;
    uint32_t width_ = 0;
    uint32_t position_count_ = 0;
    // Numeric: digit positions before and after the point; the point and grouping characters.
    uint32_t integer_positions_ = 0;
    uint32_t places_ = 0;
    char point_ = 0;          // shown decimal character, 0 when none or implied
    bool implied_point_ = false;
    char fill_ = ' ';         // fill of the leading integer positions: '0', '*' or ' '
    bool month_name_upper_ = false;
    // Where a number's template splits: the point (or the end), the exponent sign (or the end),
    // and the end of the leading sign and currency positions.
    uint8_t point_index_ = 0;
    uint8_t exponent_index_ = 0;
    uint8_t lead_end_ = 0;
    bool plain_number_ = false;
    VrnPicPosition positions_[kPicturePositions] = {};
    uint8_t text_length_ = 0;
    char text_[kPictureTextLimit + 2] = {};
};

// Formats with an uncompiled picture text into a std::string padded to the picture's width.
std::string FormatLong(std::string_view picture, int32_t value);
std::string FormatText(std::string_view picture, std::string_view value);
std::string Deformat(std::string_view picture, std::string_view text);

// The compiled descriptor of a picture text from this thread's cache (compiled on first use).
// The reference stays valid until the next lookup on the same thread.
const PicDesc& CachedPicture(const char* text);
const PicDesc& CachedPicture(std::string_view text);

}  // namespace tarvex
