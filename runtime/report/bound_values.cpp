// SPDX-License-Identifier: GPL-3.0-or-later
// Bound variables through the runtime's own value classes: each variable becomes a Ufo on the
// program's memory for the moment it is read or written, and values travel on the value stacks.
#include "report/bound_values.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "core/picture.h"
#include "core/string_stack.h"
#include "core/ufo.h"
#include "tarvex/decimal.h"

namespace tarvex::report {

namespace {

// The storage width the descriptor's size stands for: decimals count digits, not bytes.
uint32_t StorageSize(const windows::BoundVariable& variable) {
    if (variable.type == VRN_TYPE_DECIMAL || variable.type == VRN_TYPE_PDECIMAL)
        return variable.size / 2 + 1;
    return variable.size;
}

std::unique_ptr<Ufo> UfoOf(const windows::BoundVariable& variable) {
    if (!variable.Bound())
        return nullptr;
    return std::unique_ptr<Ufo>(NewMemoryUfo(variable.address, variable.type, variable.places, StorageSize(variable)));
}

bool IsTextPicture(const PicDesc& picture) {
    return picture.Kind() == PictureKind::String || picture.Kind() == PictureKind::KeyIn;
}

bool IsDateOrTime(const PicDesc& picture) {
    return picture.Kind() == PictureKind::Date || picture.Kind() == PictureKind::Time;
}

} // namespace

std::string FormatDecimal(const DecimalAccumulator& value, std::string_view picture_text) {
    char text[kDecimalTextSize];
    DecimalToText(value, text);
    const PicDesc& picture = CachedPicture(picture_text);
    if (!picture.IsValid() || IsTextPicture(picture))
        return text;
    std::string out(picture.Width(), ' ');
    Vrn$DPushCString(text);
    picture.StoreDec(out.data(), uint32_t(out.size()));
    return out;
}

std::string FormatBound(const windows::BoundVariable& variable, std::string_view picture_text) {
    std::unique_ptr<Ufo> value = UfoOf(variable);
    const PicDesc& picture = CachedPicture(picture_text);
    if (!value || !picture.IsValid())
        return {};
    std::string out(picture.Width(), ' ');
    if (IsStringType(value->Type())) {
        value->Push();
        std::string text = PopStdString();
        if (IsDateOrTime(picture)) {
            // Dates kept as text hold eight digits, year first: read them back as that date.
            size_t first = text.find_first_not_of(' ');
            std::string digits = first == std::string::npos ? std::string() : text.substr(first);
            digits.erase(digits.find_last_not_of(' ') + 1);
            bool eight_digits = digits.size() == 8 && std::all_of(digits.begin(), digits.end(), [](char c) {
                                    return std::isdigit(static_cast<unsigned char>(c)) != 0;
                                });
            if (picture.Kind() == PictureKind::Date && eight_digits)
                text = CachedPicture("@D12").DeformatPict(digits);
            picture.StoreText(out.data(), uint32_t(out.size()), text);
            return out;
        }
        picture.StoreText(out.data(), uint32_t(out.size()), text);
        return out;
    }
    if (IsDateOrTime(picture)) {
        picture.StoreLong(out.data(), uint32_t(out.size()), value->Long());
        return out;
    }
    if (IsTextPicture(picture)) {
        value->Push();
        picture.StoreText(out.data(), uint32_t(out.size()), PopStdString());
        return out;
    }
    value->DPush();
    picture.StoreDec(out.data(), uint32_t(out.size()));
    return out;
}

std::string ValueText(const windows::BoundVariable& variable) {
    std::unique_ptr<Ufo> value = UfoOf(variable);
    if (!value)
        return {};
    value->Push();
    return PopStdString();
}

DecimalAccumulator DecimalOf(const windows::BoundVariable& variable) {
    std::unique_ptr<Ufo> value = UfoOf(variable);
    if (!value)
        return {};
    value->DPush();
    return PopDecimal();
}

void StoreDecimalInto(const windows::BoundVariable& variable, const DecimalAccumulator& number) {
    std::unique_ptr<Ufo> value = UfoOf(variable);
    if (!value)
        return;
    char text[kDecimalTextSize];
    DecimalToText(number, text);
    Vrn$DPushCString(text);
    value->DPop();
}

} // namespace tarvex::report
