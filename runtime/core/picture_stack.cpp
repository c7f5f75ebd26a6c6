// SPDX-License-Identifier: GPL-3.0-or-later
// The exported picture operations and the value-stack forms that format and deformat through
// pictures. Picture texts are compiled once per thread: a small direct-mapped cache keyed by the
// text holds the compiled descriptors, so the hot path takes no lock and allocates nothing.
#include <cstring>

#include "core/decimal.h"
#include "core/picture.h"
#include "core/string_numbers.h"
#include "core/string_stack.h"
#include "core/thread_state.h"
#include "tarvex/decimal.h"
#include "tarvex/pictures.h"
#include "tarvex/string_stack.h"

namespace tarvex {

namespace {

constexpr uint32_t kCacheSlots = 64;
// Picture texts that come off the string stack are cut to this length; values to be deformatted
// to the next.
constexpr uint32_t kStackPictureLimit = 99;
constexpr uint32_t kDeformatLimit = 254;

struct PictureCache {
    PicDesc slots[kCacheSlots];
    bool used[kCacheSlots];
    // The C text of the latest lookup and its slot: compiled code passes the same constant picture
    // text again and again, which is then recognised without hashing it.
    const char* last_text;
    uint32_t last_slot;
};


uint32_t Hash(std::string_view text) {
    uint32_t hash = 2166136261u;
    for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash ^ (hash >> 16);
}

const PicDesc& NullPicture() {
    static const PicDesc picture = [] {
        PicDesc p;
        p.Init(static_cast<const char*>(nullptr));
        return p;
    }();
    return picture;
}

// The value on the string stack read for a picture: numbers as decimals, dates and times as LONGs,
// text as it is. Pushes the formatted text padded to the picture's width.
void PushFormatted(const PicDesc& picture, std::string_view value) {
    char* destination = PushReserve(picture.Width());
    if (destination != nullptr) picture.StoreText(destination, picture.Width(), value);
}

std::string PictureFromStack() {
    std::string picture = PopStdString();
    if (picture.size() > kStackPictureLimit) picture.resize(kStackPictureLimit);
    return picture;
}

std::string ValueFromStack() {
    std::string value = PopStdString();
    if (value.size() > kDeformatLimit) value.resize(kDeformatLimit);
    return value;
}

// The slot of the text's compiled picture, compiled first when the slot holds another.
uint32_t CachedSlot(PictureCache& cache, std::string_view text) {
    uint32_t slot = Hash(text) & (kCacheSlots - 1);
    PicDesc& picture = cache.slots[slot];
    if (!cache.used[slot] || picture.Text() != text) {
        picture.Init(text);
        cache.used[slot] = true;
    }
    return slot;
}

// Whether the C text is exactly `text` (it may be shorter: the comparison stops at its end).
bool SameText(const char* c_text, std::string_view text) {
    for (size_t i = 0; i < text.size(); i++) {
        if (c_text[i] != text[i]) return false;
    }
    return c_text[text.size()] == '\0';
}

}  // namespace

const PicDesc& CachedPicture(std::string_view text) {
    PictureCache& cache = PerThread<PictureCache>();
    return cache.slots[CachedSlot(cache, text)];
}

const PicDesc& CachedPicture(const char* text) {
    if (text == nullptr) return NullPicture();
    PictureCache& cache = PerThread<PictureCache>();
    const PicDesc& last = cache.slots[cache.last_slot];
    if (text == cache.last_text && cache.used[cache.last_slot] && SameText(text, last.Text())) return last;
    // Only the first characters can matter: a longer text is invalid whatever follows.
    size_t length = 0;
    while (length < kPictureTextLimit + 2 && text[length] != '\0') length++;
    uint32_t slot = CachedSlot(cache, std::string_view(text, length));
    cache.last_text = text;
    cache.last_slot = slot;
    return cache.slots[slot];
}

std::string FormatLong(std::string_view picture, int32_t value) {
    const PicDesc& p = CachedPicture(picture);
    std::string text(p.Width(), ' ');
    p.StoreLong(text.data(), p.Width(), value);
    return text;
}

std::string FormatText(std::string_view picture, std::string_view value) {
    const PicDesc& p = CachedPicture(picture);
    std::string text(p.Width(), ' ');
    p.StoreText(text.data(), p.Width(), value);
    return text;
}

std::string Deformat(std::string_view picture, std::string_view text) {
    return CachedPicture(picture).DeformatPict(text.data(), text.size());
}

}  // namespace tarvex

using tarvex::CachedPicture;
using tarvex::PicDesc;

TARVEX_API int32_t Vrn$pictureisvalid(const char* picture) { return CachedPicture(picture).IsValid() ? 1 : 0; }

TARVEX_API int32_t Vrn$getpicturewidth(const char* picture) { return int32_t(CachedPicture(picture).Width()); }

TARVEX_API int32_t Vrn$storepict(VrnPicDesc* descriptor, const char* picture) {
    const PicDesc& p = CachedPicture(picture);
    if (descriptor != nullptr) p.ToDescriptor(descriptor, picture);
    if (!p.IsValid()) return 0;
    if (p.Kind() == tarvex::PictureKind::String) return 2;
    return int32_t(2 * p.Width() + 2);
}

TARVEX_API void Vrn$checkpict(const char* picture, uint32_t* destination) {
    uint32_t header = CachedPicture(picture).Header();
    if (destination != nullptr) *destination = header;
}

TARVEX_API void Vrn$pictstorelong(char* destination, uint32_t width, const char* picture, int32_t value) {
    CachedPicture(picture).StoreLong(destination, width, value);
}

TARVEX_API void Vrn$pictstorereal(char* destination, uint32_t width, const char* picture, double value) {
    CachedPicture(picture).StoreReal(destination, width, value);
}

TARVEX_API int32_t Vrn$pictloadlong(const char* text, uint32_t length, const char* picture) {
    std::string value = CachedPicture(picture).DeformatPict(text, text ? length : 0);
    return tarvex::TextToLong(value);
}

TARVEX_API double Vrn$pictloadreal(const char* text, uint32_t length, const char* picture) {
    std::string value = CachedPicture(picture).DeformatPict(text, text ? length : 0);
    return tarvex::ScanReal(value).value;
}

TARVEX_API void Vrn$StackFORMAT(const char* picture) {
    std::string value = tarvex::PopStdString();
    tarvex::PushFormatted(CachedPicture(picture), value);
}

TARVEX_API void Vrn$StackFORMAT2(void) {
    std::string value = tarvex::PopStdString();
    std::string picture = tarvex::PictureFromStack();
    tarvex::PushFormatted(CachedPicture(std::string_view(picture)), value);
}

TARVEX_API void Vrn$StackDEFORMAT(const char* picture) {
    std::string value = tarvex::ValueFromStack();
    CachedPicture(picture).PushDeformatted(value);
}

TARVEX_API void Vrn$StackDEFORMAT2(void) {
    std::string value = tarvex::ValueFromStack();
    std::string picture = tarvex::PictureFromStack();
    CachedPicture(std::string_view(picture)).PushDeformatted(value);
}

TARVEX_API void Vrn$PushPictLong(int32_t value, const char* picture) {
    const PicDesc& p = CachedPicture(picture);
    char* destination = tarvex::PushReserve(p.Width());
    if (destination != nullptr) p.StoreLong(destination, p.Width(), value);
}

TARVEX_API void Vrn$PushPictDec(const char* picture) {
    const PicDesc& p = CachedPicture(picture);
    char* destination = tarvex::PushReserve(p.Width());
    if (destination != nullptr) {
        p.StoreDec(destination, p.Width());
    } else {
        Vrn$DPopLong();   // the operand is consumed even when the string stack is full
    }
}

TARVEX_API void Vrn$PushPictReal(double value, const char* picture) {
    const PicDesc& p = CachedPicture(picture);
    char* destination = tarvex::PushReserve(p.Width());
    if (destination != nullptr) p.StoreReal(destination, p.Width(), value);
}

TARVEX_API int32_t Vrn$PopPictLong(const char* picture) {
    std::string value = tarvex::PopStdString();
    return tarvex::TextToLong(CachedPicture(picture).DeformatPict(value.data(), value.size()));
}

TARVEX_API double Vrn$PopPictReal(const char* picture) {
    std::string value = tarvex::PopStdString();
    std::string number = CachedPicture(picture).DeformatPict(value.data(), value.size());
    return tarvex::ScanReal(number).value;
}

TARVEX_API void Vrn$DPopPict(char* destination, uint32_t size, const char* picture) {
    CachedPicture(picture).StoreDec(destination, size);
}

TARVEX_API void Vrn$DPushStringStackP(const char* picture) {
    std::string value = tarvex::PopStdString();
    std::string number = CachedPicture(picture).DeformatPict(value.data(), value.size());
    Vrn$DPushStringP(number.data(), uint32_t(number.size()));
}
