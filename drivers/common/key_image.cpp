// SPDX-License-Identifier: GPL-3.0-or-later
// Key images for both file drivers: compiling a key against its record layout and encoding the
// key fields of a record into an order-preserving byte string (the encoding is described in
// key_image.h).
#include "common/key_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "tarvex/char_tables.h"

namespace lumarex::drivers {
namespace {

// The decimal stack holds digit positions 0..63, the lowest 32 of them fractional.
constexpr int64_t kAccumulatorPositions = 64;
constexpr int64_t kAccumulatorPlaces = 32;
// Bytes of the longest DECIMAL or PDECIMAL a key takes (far beyond the 64 digits the decimal stack
// holds).
constexpr uint32_t kMaxDecimalSize = 64;

// The encoding and the image width of one element of a field, or false for a type a key cannot
// hold (or a fixed-width type whose declared size is not its width).
bool ClassifyField(const VrnFieldDesc& field, bool digraphs, KeyFieldKind& kind, uint32_t& width) {
    uint32_t text_factor = digraphs ? 2 : 1;
    switch (field.type) {
    case VRN_TYPE_STRING:
    case VRN_TYPE_STRING_CONSTANT:
        kind = KeyFieldKind::kString;
        width = field.size * text_factor;
        return true;
    case VRN_TYPE_CSTRING:
        kind = KeyFieldKind::kCString;
        width = field.size * text_factor;
        return true;
    case VRN_TYPE_PSTRING:
        if (field.size == 0) return false;
        kind = KeyFieldKind::kPString;
        width = (field.size - 1) * text_factor;
        return true;
    case VRN_TYPE_DECIMAL:
    case VRN_TYPE_PDECIMAL:
        if (field.size == 0 || field.size > kMaxDecimalSize) return false;
        kind = field.type == VRN_TYPE_DECIMAL ? KeyFieldKind::kDecimal : KeyFieldKind::kPDecimal;
        width = field.size;
        return true;
    case VRN_TYPE_GROUP:
        kind = KeyFieldKind::kBytes;
        width = field.size;
        return true;
    default:
        break;
    }
    uint32_t natural = 0;
    switch (field.type) {
    case VRN_TYPE_BYTE:
    case VRN_TYPE_USHORT:
    case VRN_TYPE_ULONG:
        kind = KeyFieldKind::kUnsigned;
        natural = field.type == VRN_TYPE_BYTE ? 1 : field.type == VRN_TYPE_USHORT ? 2 : 4;
        width = natural;
        break;
    case VRN_TYPE_SHORT:
    case VRN_TYPE_LONG:
    case VRN_TYPE_DATE:
    case VRN_TYPE_TIME:
        kind = KeyFieldKind::kSigned;
        natural = field.type == VRN_TYPE_SHORT ? 2 : 4;
        width = natural;
        break;
    case VRN_TYPE_SREAL:
        kind = KeyFieldKind::kSreal;
        natural = 4;
        width = 4;
        break;
    case VRN_TYPE_REAL:
        kind = KeyFieldKind::kReal;
        natural = 8;
        width = 8;
        break;
    case VRN_TYPE_BFLOAT4:
        kind = KeyFieldKind::kBfloat4;
        natural = 4;
        width = 8;
        break;
    case VRN_TYPE_BFLOAT8:
        kind = KeyFieldKind::kBfloat8;
        natural = 8;
        width = 8;
        break;
    default:
        return false;
    }
    return field.size == natural;
}

uint64_t ReadUnsigned(const uint8_t* bytes, uint32_t size) {
    // Record fields are native (little-endian) values with no alignment.
    uint64_t value = 0;
    for (uint32_t i = size; i-- > 0;) value = (value << 8) | bytes[i];
    return value;
}

void AppendBigEndian(uint64_t value, uint32_t size, std::string& image) {
    for (uint32_t i = size; i-- > 0;) image.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The order-preserving image of a double: -0 as 0, every NaN as all one-bits.
void AppendDouble(double value, std::string& image) {
    uint64_t bits;
    if (std::isnan(value)) {
        bits = ~uint64_t{0};
    } else {
        if (value == 0) value = 0;   // -0 -> +0
        std::memcpy(&bits, &value, sizeof bits);
        bits = (bits >> 63) ? ~bits : bits | (uint64_t{1} << 63);
    }
    AppendBigEndian(bits, 8, image);
}

void AppendFloat(float value, std::string& image) {
    uint32_t bits;
    if (std::isnan(value)) {
        bits = ~uint32_t{0};
    } else {
        if (value == 0) value = 0;
        std::memcpy(&bits, &value, sizeof bits);
        bits = (bits >> 31) ? ~bits : bits | (uint32_t{1} << 31);
    }
    AppendBigEndian(bits, 4, image);
}

double LoadDouble(const uint8_t* bytes) {
    double value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The digits of a DECIMAL or PDECIMAL image as the decimal stack reads them, most significant
// first, into `digits` (2 * size - 1 entries); returns whether the value is negative (never for
// a value whose digits are all 0).
bool ReadDecimalDigits(const uint8_t* image, uint32_t size, uint32_t places, bool packed_sign_last,
                       uint8_t* digits) {
    uint32_t count = 2 * size - 1;
    bool negative;
    if (!packed_sign_last) {
        // Nibble 0 is the sign; digit i is nibble i + 1.
        negative = (image[0] >> 4) != 0;
        for (uint32_t i = 0; i < count; i++) {
            uint32_t nibble = i + 1;
            uint8_t byte = image[nibble / 2];
            digits[i] = (nibble & 1) ? (byte & 0xF) : (byte >> 4);
        }
    } else {
        // Digits from the first nibble; the sign is the last byte's low nibble.
        negative = (image[size - 1] & 0xF) == 0xD;
        for (uint32_t i = 0; i < count; i++) {
            uint8_t byte = image[i / 2];
            digits[i] = (i & 1) ? (byte & 0xF) : (byte >> 4);
        }
    }
    bool any = false;
    for (uint32_t i = 0; i < count; i++) {
        // Digit i has the accumulator position (32 - places) + (count - 1 - i).
        int64_t position = kAccumulatorPlaces - static_cast<int64_t>(places) + (count - 1 - i);
        if (digits[i] > 9 || position < 0 || position >= kAccumulatorPositions) digits[i] = 0;
        any = any || digits[i] != 0;
    }
    return negative && any;
}

bool DecimalIsZero(const uint8_t* image, uint32_t size, uint32_t places, bool packed_sign_last) {
    uint8_t digits[2 * kMaxDecimalSize];
    ReadDecimalDigits(image, size, places, packed_sign_last, digits);
    return std::all_of(digits, digits + 2 * size - 1, [](uint8_t d) { return d == 0; });
}

void AppendDecimal(const uint8_t* field, uint32_t size, uint32_t places, bool packed_sign_last,
                   std::string& image) {
    uint8_t digits[2 * kMaxDecimalSize];
    bool negative = ReadDecimalDigits(field, size, places, packed_sign_last, digits + 1);
    // Nibble 0: 0 for a negative value, 1 otherwise; a negative value's digits are complemented
    // so a larger magnitude sorts lower.
    digits[0] = negative ? 0 : 1;
    if (negative) {
        for (uint32_t i = 1; i < 2 * size; i++) digits[i] = static_cast<uint8_t>(9 - digits[i]);
    }
    for (uint32_t i = 0; i < size; i++) {
        image.push_back(static_cast<char>((digits[2 * i] << 4) | digits[2 * i + 1]));
    }
}

bool TextIsBlank(const uint8_t* text, uint32_t length) {
    return std::all_of(text, text + length, [](uint8_t c) { return c == ' '; });
}

// The text of a CSTRING or PSTRING element (a STRING is its whole size).
void ElementText(const KeyComponent& component, const uint8_t* element, const uint8_t*& text,
                 uint32_t& length) {
    switch (component.kind) {
    case KeyFieldKind::kCString: {
        const void* end = std::memchr(element, 0, component.size);
        text = element;
        length = end ? static_cast<uint32_t>(static_cast<const uint8_t*>(end) - element) : component.size;
        return;
    }
    case KeyFieldKind::kPString:
        text = element + 1;
        length = std::min<uint32_t>(element[0], component.size - 1);
        return;
    default:
        text = element;
        length = component.size;
        return;
    }
}

}  // namespace

KeyCollation KeyCollation::Capture() {
    KeyCollation collation{};
    std::memcpy(collation.weight, Vrw$CollationWeights(), 256);
    std::memcpy(collation.upper, Vrw$UpperCaseTable(), 256);
    collation.digraph_count = Vrw$DigraphCount();
    for (int c = 0; c < 256; c++) {
        uint8_t first = 0;
        uint8_t second = 0;
        // The blank never expands: trailing blanks must not matter.
        if (c != ' ' && Vrw$DigraphOf(static_cast<uint8_t>(c), &first, &second)) {
            collation.has_digraph[c] = true;
            collation.digraph_first[c] = first;
            collation.digraph_second[c] = second;
        }
    }
    collation.fingerprint = Vrw$CharTablesFingerprint();
    return collation;
}

std::unique_ptr<KeyImage> KeyImage::Compile(const VrnTypeDesc& type, const KeyDecl& key,
                                            std::string* problem) {
    auto fail = [problem](const char* text) {
        if (problem) *problem = text;
        return std::unique_ptr<KeyImage>();
    };
    if (key.component_count == 0 || key.components == nullptr) return fail("the key has no components");
    if (type.fields == nullptr) return fail("the record has no field descriptors");
    std::unique_ptr<KeyImage> result(new KeyImage());
    result->collation_ = KeyCollation::Capture();
    result->attributes_ = key.attributes;
    result->nocase_ = (key.attributes & VRN_KEY_NOCASE) != 0;
    bool digraphs = result->collation_.digraph_count != 0;
    uint64_t total_width = 0;
    for (uint32_t i = 0; i < key.component_count; i++) {
        int64_t number = key.components[i];
        bool descending = number < 0;
        uint64_t field_number = static_cast<uint64_t>(descending ? -number : number);
        if (field_number == 0 || field_number > type.field_count) {
            return fail("a key component names no field of the record");
        }
        const VrnFieldDesc& field = type.fields[field_number - 1];
        KeyComponent component{};
        if (!ClassifyField(field, digraphs, component.kind, component.element_width)) {
            return fail("a key component has a type a key cannot hold");
        }
        component.field_number = static_cast<uint32_t>(field_number);
        component.offset = field.offset;
        component.size = field.size;
        component.elements = field.dimension == 0 ? 1 : field.dimension;
        component.places = field.places;
        component.descending = descending;
        uint64_t end = uint64_t{field.offset} + uint64_t{field.size} * component.elements;
        if (end > type.size) return fail("a key field lies beyond the record");
        total_width += uint64_t{component.element_width} * component.elements;
        if (total_width > UINT32_MAX) return fail("the key image is too long");
        result->components_.push_back(component);
    }
    return result;
}

uint32_t KeyImage::PrefixWidth(uint32_t count) const {
    uint32_t width = 0;
    for (uint32_t i = 0; i < count && i < components_.size(); i++) {
        width += components_[i].element_width * components_[i].elements;
    }
    return width;
}

std::string KeyImage::Build(const void* record) const {
    std::string image;
    AppendImage(record, ComponentCount(), image);
    return image;
}

std::string KeyImage::BuildPrefix(const void* record, uint32_t count) const {
    std::string image;
    AppendImage(record, count, image);
    return image;
}

void KeyImage::AppendImage(const void* record, uint32_t count, std::string& image) const {
    if (record == nullptr) return;
    const auto* bytes = static_cast<const uint8_t*>(record);
    count = std::min(count, ComponentCount());
    image.reserve(image.size() + PrefixWidth(count));
    for (uint32_t i = 0; i < count; i++) AppendComponent(components_[i], bytes, image);
}

void KeyImage::AppendText(const uint8_t* text, uint32_t length, uint32_t width, std::string& image) const {
    const KeyCollation& c = collation_;
    size_t start = image.size();
    for (uint32_t i = 0; i < length; i++) {
        uint8_t ch = nocase_ ? c.upper[text[i]] : text[i];
        if (c.has_digraph[ch]) {
            image.push_back(static_cast<char>(c.weight[c.digraph_first[ch]]));
            image.push_back(static_cast<char>(c.weight[c.digraph_second[ch]]));
        } else {
            image.push_back(static_cast<char>(c.weight[ch]));
        }
    }
    // A text never outgrows its width: without digraphs it is at most the field size, with them
    // at most twice that, and the width allows for both.
    image.append(width - (image.size() - start), static_cast<char>(c.weight[static_cast<uint8_t>(' ')]));
}

void KeyImage::AppendComponent(const KeyComponent& component, const uint8_t* record,
                               std::string& image) const {
    size_t start = image.size();
    for (uint32_t e = 0; e < component.elements; e++) {
        const uint8_t* element = record + component.offset + size_t{e} * component.size;
        switch (component.kind) {
        case KeyFieldKind::kString:
        case KeyFieldKind::kCString:
        case KeyFieldKind::kPString: {
            const uint8_t* text;
            uint32_t length;
            ElementText(component, element, text, length);
            AppendText(text, length, component.element_width, image);
            break;
        }
        case KeyFieldKind::kDecimal:
        case KeyFieldKind::kPDecimal:
            AppendDecimal(element, component.size, component.places,
                          component.kind == KeyFieldKind::kPDecimal, image);
            break;
        case KeyFieldKind::kUnsigned:
            AppendBigEndian(ReadUnsigned(element, component.size), component.size, image);
            break;
        case KeyFieldKind::kSigned: {
            uint64_t sign = uint64_t{1} << (8 * component.size - 1);
            AppendBigEndian(ReadUnsigned(element, component.size) ^ sign, component.size, image);
            break;
        }
        case KeyFieldKind::kSreal: {
            float value;
            std::memcpy(&value, element, sizeof value);
            AppendFloat(value, image);
            break;
        }
        case KeyFieldKind::kReal:
            AppendDouble(LoadDouble(element), image);
            break;
        case KeyFieldKind::kBfloat4:
            AppendDouble(Vrn$bloadfloat4(element), image);
            break;
        case KeyFieldKind::kBfloat8:
            AppendDouble(Vrn$bloadfloat(element), image);
            break;
        case KeyFieldKind::kBytes:
            image.append(reinterpret_cast<const char*>(element), component.size);
            break;
        }
    }
    if (component.descending) {
        for (size_t i = start; i < image.size(); i++) image[i] = static_cast<char>(~image[i]);
    }
}

bool KeyImage::IsBlank(const void* record) const {
    if (record == nullptr) return false;
    const auto* bytes = static_cast<const uint8_t*>(record);
    for (const KeyComponent& component : components_) {
        for (uint32_t e = 0; e < component.elements; e++) {
            const uint8_t* element = bytes + component.offset + size_t{e} * component.size;
            bool blank = false;
            switch (component.kind) {
            case KeyFieldKind::kString:
            case KeyFieldKind::kCString:
            case KeyFieldKind::kPString: {
                const uint8_t* text;
                uint32_t length;
                ElementText(component, element, text, length);
                blank = TextIsBlank(text, length);
                break;
            }
            case KeyFieldKind::kDecimal:
            case KeyFieldKind::kPDecimal:
                blank = DecimalIsZero(element, component.size, component.places,
                                      component.kind == KeyFieldKind::kPDecimal);
                break;
            case KeyFieldKind::kUnsigned:
            case KeyFieldKind::kSigned:
                blank = ReadUnsigned(element, component.size) == 0;
                break;
            case KeyFieldKind::kSreal: {
                float value;
                std::memcpy(&value, element, sizeof value);
                blank = value == 0;
                break;
            }
            case KeyFieldKind::kReal:
                blank = LoadDouble(element) == 0;
                break;
            case KeyFieldKind::kBfloat4:
                blank = Vrn$bloadfloat4(element) == 0;
                break;
            case KeyFieldKind::kBfloat8:
                blank = Vrn$bloadfloat(element) == 0;
                break;
            case KeyFieldKind::kBytes:
                blank = std::all_of(element, element + component.size,
                                    [](uint8_t b) { return b == ' ' || b == 0; });
                break;
            }
            if (!blank) return false;
        }
    }
    return true;
}

bool KeyIsBlank(const void* record, const VrnTypeDesc& type, const KeyDecl& key) {
    std::unique_ptr<KeyImage> image = KeyImage::Compile(type, key);
    return image && image->IsBlank(record);
}

int32_t CompileKeys(FileDecl* file, std::vector<Key>* keys) {
    constexpr int32_t kInvalidDeclaration = 47;
    if (file->record_type == nullptr || file->record_length < file->record_type->size)
        return kInvalidDeclaration;
    if (file->key_count > 0 && file->keys == nullptr)
        return kInvalidDeclaration;
    for (uint32_t k = 0; k < file->key_count; k++) {
        KeyDecl* decl = file->keys[k];
        if (decl == nullptr)
            return kInvalidDeclaration;
        Key key;
        key.decl = decl;
        key.image = KeyImage::Compile(*file->record_type, *decl);
        if (!key.image)
            return kInvalidDeclaration;
        key.opt = (decl->attributes & VRN_KEY_OPT) != 0;
        key.unique = (decl->attributes & VRN_KEY_DUP) == 0;
        key.column = "k" + std::to_string(k + 1);
        keys->push_back(std::move(key));
    }
    return 0;
}

}  // namespace lumarex::drivers
