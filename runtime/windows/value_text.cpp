// SPDX-License-Identifier: GPL-3.0-or-later
// Values shown and read back through pictures (value_text.h).
#include "windows/value_text.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "core/string_stack.h"
#include "core/ufo.h"
#include "tarvex/decimal.h"
#include "tarvex/type_descriptor.h"

namespace tarvex::windows {

namespace {

std::unique_ptr<Ufo> UfoOf(const StoredValue& value) {
    if (value.address == nullptr)
        return nullptr;
    uint32_t natural = Vrn$TypeSize(value.type);
    return std::unique_ptr<Ufo>(NewMemoryUfo(value.address, value.type, value.places, natural ? natural : value.size));
}

bool IsText(uint8_t type) {
    return type == VRN_TYPE_STRING || type == VRN_TYPE_CSTRING || type == VRN_TYPE_PSTRING ||
           type == VRN_TYPE_GROUP || type == VRN_TYPE_STRING_CONSTANT;
}

// The characters of a string value, without the blanks that pad it.
std::string_view TextOf(const StoredValue& value) {
    const char* bytes = static_cast<const char*>(value.address);
    size_t length = value.size;
    if (value.type == VRN_TYPE_CSTRING)
        length = strnlen(bytes, value.size);
    else if (value.type == VRN_TYPE_PSTRING && value.size > 0)
        return {bytes + 1, std::min<size_t>(uint8_t(bytes[0]), value.size - 1)};
    return {bytes, length};
}

// Digit groups of a text, as numbers.
std::vector<int64_t> DigitGroups(std::string_view text) {
    std::vector<int64_t> groups;
    for (size_t i = 0; i < text.size();) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) {
            i++;
            continue;
        }
        int64_t n = 0;
        for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); i++)
            n = std::min<int64_t>(n * 10 + (text[i] - '0'), 1000000000);
        groups.push_back(n);
    }
    return groups;
}

bool LiteralOfPicture(const PicDesc& picture, char c) {
    for (uint32_t i = 0; i < picture.PositionCount(); i++) {
        const VrnPicPosition& position = picture.Position(i);
        if (position.character == c && position.code != VRN_POS_DIGIT && position.code != VRN_POS_DIGIT_BLANK)
            return true;
    }
    return false;
}

}  // namespace

std::string_view Trimmed(std::string_view text) {
    size_t end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

std::string FormatValue(const StoredValue& value, const PicDesc* picture) {
    if (value.address == nullptr)
        return {};
    bool pictured = picture != nullptr && picture->IsValid();
    if (!pictured) {
        if (IsText(value.type))
            return std::string(Trimmed(TextOf(value)));
        std::unique_ptr<Ufo> ufo = UfoOf(value);
        if (!ufo)
            return {};
        ufo->Push();
        return PopStdString();
    }
    std::string out(picture->Width(), ' ');
    if (IsText(value.type)) {
        picture->StoreText(out.data(), uint32_t(out.size()), TextOf(value));
    } else if (value.type == VRN_TYPE_DECIMAL || value.type == VRN_TYPE_PDECIMAL) {
        if (value.type == VRN_TYPE_DECIMAL)
            Vrn$DPushDec(value.address, value.size, value.places);
        else
            Vrn$DPushPdec(value.address, value.size, value.places);
        picture->StoreDec(out.data(), uint32_t(out.size()));
    } else if (Vrn$TypeClass(value.type) == VRN_CLASS_INTEGER) {
        std::unique_ptr<Ufo> ufo = UfoOf(value);
        picture->StoreLong(out.data(), uint32_t(out.size()), ufo ? ufo->Long() : 0);
    } else {
        std::unique_ptr<Ufo> ufo = UfoOf(value);
        picture->StoreReal(out.data(), uint32_t(out.size()), ufo ? ufo->Real() : 0.0);
    }
    return out;
}

int32_t TypedTextLimit(const PicDesc& picture) { return picture.IsValid() ? int32_t(picture.Width()) : 0; }

std::string_view TypedCharacters(std::string_view text) {
    text = Trimmed(text);
    size_t first = text.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

std::string_view LimitTypedText(std::string_view text, int32_t limit) {
    if (limit <= 0 || text.size() <= size_t(limit))
        return text;
    text = TypedCharacters(text);
    return text.substr(0, std::min(text.size(), size_t(limit)));
}

bool TextFitsPicture(const PicDesc& picture, std::string_view text) {
    if (!picture.IsValid())
        return true;
    std::string_view typed = TypedCharacters(text);
    if (typed.empty())
        return true;
    switch (picture.Kind()) {
    case PictureKind::String:
    case PictureKind::KeyIn:
        return true;
    case PictureKind::Date: {
        std::string day = picture.DeformatPict(typed);
        int64_t number = 0;
        auto [end, error] = std::from_chars(day.data(), day.data() + day.size(), number);
        if (error != std::errc() || end != day.data() + day.size() || number <= 0 || number > INT32_MAX)
            return false;
        // Typed numbers must come back as typed: "13/45/24" would otherwise roll over into a date.
        bool month_names = false;
        for (uint32_t i = 0; i < picture.PositionCount(); i++)
            month_names |= picture.Position(i).code == VRN_POS_MONTH_NAME;
        if (month_names)
            return true;
        for (char c : typed)
            if (!std::isdigit(static_cast<unsigned char>(c)) && c != ' ' && c != '/' && c != '-' && c != '.' &&
                c != ',' && !LiteralOfPicture(picture, c))
                return false;
        std::string shown(picture.Width(), ' ');
        picture.StoreLong(shown.data(), uint32_t(shown.size()), int32_t(number));
        std::vector<int64_t> a = DigitGroups(typed), b = DigitGroups(shown);
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); i++)
            if (a[i] != b[i] && !(a[i] >= 100 && a[i] % 100 == b[i]) && !(b[i] >= 100 && b[i] % 100 == a[i]))
                return false;
        return true;
    }
    case PictureKind::Time:
        return picture.DeformatPict(typed) != "-1";
    case PictureKind::Numeric:
    case PictureKind::Scientific:
    case PictureKind::Pattern: {
        size_t digits = 0, point_seen = 0, integer_digits = 0;
        // The picture's decimal point ('.' unless it shows another) ends the integer digits; it is
        // looked for before the picture's literals, which include it.
        char point = '.';
        for (uint32_t i = 0; i < picture.PositionCount(); i++)
            if (picture.Position(i).code == VRN_POS_POINT)
                point = picture.Position(i).character;
        for (char c : typed) {
            if (std::isdigit(static_cast<unsigned char>(c))) {
                digits++;
                if (!point_seen)
                    integer_digits++;
                continue;
            }
            if (c == point && picture.Kind() != PictureKind::Pattern) {
                point_seen++;
                continue;
            }
            if (c == ' ' || c == '-' || c == '+' || c == '(' || c == ')' || LiteralOfPicture(picture, c))
                continue;
            if ((c == 'e' || c == 'E') && picture.Kind() == PictureKind::Scientific)
                continue;
            return false;
        }
        if (point_seen > 1)
            return false;
        PictureCounts counts = picture.Count();
        if (picture.Kind() == PictureKind::Pattern)
            return digits <= counts.integer_digits + counts.fraction_digits;
        if (picture.Kind() == PictureKind::Numeric)
            return integer_digits <= counts.integer_digits;
        return true;
    }
    }
    return true;
}

void StoreValueText(const StoredValue& value, const PicDesc* picture, std::string_view text) {
    std::unique_ptr<Ufo> ufo = UfoOf(value);
    if (!ufo)
        return;
    // A string picture's text is the value itself: deformatting it would keep only the characters
    // of a number ("Jones" would become "e").
    if (picture != nullptr && picture->IsValid() && picture->Kind() != PictureKind::String)
        PushCopy(picture->DeformatPict(text));
    else
        PushCopy(text);
    ufo->Pop();
}

int32_t ValueLong(const StoredValue& value) {
    if (value.address == nullptr)
        return 0;
    // The integer kinds a queue's colour, icon and tree fields are read straight, as they are
    // read for every shown row.
    switch (value.type) {
    case VRN_TYPE_BYTE: return *static_cast<const uint8_t*>(value.address);
    case VRN_TYPE_SHORT: { int16_t v; std::memcpy(&v, value.address, sizeof v); return v; }
    case VRN_TYPE_USHORT: { uint16_t v; std::memcpy(&v, value.address, sizeof v); return v; }
    case VRN_TYPE_LONG:
    case VRN_TYPE_ULONG: { int32_t v; std::memcpy(&v, value.address, sizeof v); return v; }
    default: break;
    }
    std::unique_ptr<Ufo> ufo = UfoOf(value);
    return ufo ? ufo->Long() : 0;
}

bool ValueEmpty(const StoredValue& value) {
    if (value.address == nullptr)
        return true;
    if (IsText(value.type))
        return Trimmed(TextOf(value)).empty();
    std::unique_ptr<Ufo> ufo = UfoOf(value);
    return !ufo || ufo->Cleared();
}

void ClearValue(const StoredValue& value) {
    if (std::unique_ptr<Ufo> ufo = UfoOf(value))
        ufo->Clear(0);
}

}  // namespace tarvex::windows
