// SPDX-License-Identifier: GPL-3.0-or-later
// Storing strings into variables: the copy rules between values and the STRING (blank-padded),
// CSTRING (zero-terminated) and PSTRING (length-prefixed) forms, CLEAR's fills, and the heap string
// pairs that programs receive from PopTemp and loadstr.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/char_tables.h"
#include "core/string_stack.h"
#include "platform/platform.h"

namespace tarvex {
namespace {

// A PSTRING's length byte counts at most 255 characters, whatever the declared size.
constexpr uint32_t kMaxPStringLength = 255;

}  // namespace

void StoreString(char* destination, uint32_t size, const char* source, uint32_t length) {
    if (!destination || size == 0) return;
    uint32_t count = source ? std::min(size, length) : 0;
    if (count) std::memmove(destination, source, count);
    std::memset(destination + count, ' ', size - count);
}

void StoreCString(char* destination, uint32_t size, const char* source, uint32_t length) {
    if (!destination || size == 0) return;
    uint32_t count = source ? std::min(size - 1, length) : 0;
    if (count) std::memmove(destination, source, count);
    destination[count] = '\0';
}

void StorePString(unsigned char* destination, uint32_t size, const char* source, uint32_t length) {
    if (!destination || size == 0) return;
    uint32_t count = source ? std::min({size - 1, length, kMaxPStringLength}) : 0;
    if (count) std::memmove(destination + 1, source, count);
    destination[0] = static_cast<unsigned char>(count);
}

}  // namespace tarvex

using namespace tarvex;

extern "C" {

TARVEX_API void Vrn$storestr(char* destination, uint32_t size, const char* source, int32_t length) {
    if (!destination) return;
    if (!source) {
        // CLEAR: blank (0), lowest (negative) or highest (positive).
        int fill = length == 0 ? ' ' : length < 0 ? 0x00 : 0xFF;
        std::memset(destination, fill, size);
        return;
    }
    StoreString(destination, size, source, length > 0 ? static_cast<uint32_t>(length) : 0);
}

TARVEX_API void Vrn$storecstr(char* destination, uint32_t size, const char* source, int32_t length) {
    if (!destination || size == 0) return;
    if (!source) {
        uint32_t count = length > 0 ? size - 1 : 0;
        std::memset(destination, 0xFF, count);
        destination[count] = '\0';
        return;
    }
    StoreCString(destination, size, source, length > 0 ? static_cast<uint32_t>(length) : 0);
}

TARVEX_API void Vrn$storepstr(unsigned char* destination, uint32_t size, const char* source, int32_t length) {
    if (!destination || size == 0) return;
    if (!source) {
        uint32_t count = length == 0 ? 0 : std::min(size - 1, kMaxPStringLength);
        std::memset(destination + 1, length < 0 ? 0x00 : 0xFF, count);
        destination[0] = static_cast<unsigned char>(count);
        return;
    }
    StorePString(destination, size, source, length > 0 ? static_cast<uint32_t>(length) : 0);
}

TARVEX_API void Vrn$clearstr(char* destination, uint32_t size) {
    if (destination) std::memset(destination, ' ', size);
}

TARVEX_API void Vrn$duplicate(void* array, uint32_t element_size, uint32_t element_count) {
    if (!array || element_size == 0 || element_count < 2) return;
    auto* bytes = static_cast<char*>(array);
    // Doubling copies: each round copies everything filled so far.
    size_t total = static_cast<size_t>(element_size) * element_count;
    size_t filled = element_size;
    while (filled < total) {
        size_t chunk = std::min(filled, total - filled);
        std::memcpy(bytes + filled, bytes, chunk);
        filled += chunk;
    }
}

TARVEX_API void Vrn$loadstr(VrnStringPair* pair, const char* source, uint32_t length) {
    if (!pair) return;
    pair->address = nullptr;
    pair->length = 0;
    if (!source || length == 0) return;
    auto* block = static_cast<char*>(platform::AllocateMemory(length));
    if (!block) return;
    std::memcpy(block, source, length);
    pair->address = block;
    pair->length = length;
}

TARVEX_API void Vrn$freestr(VrnStringPair* pair) {
    if (!pair) return;
    std::free(pair->address);
    pair->address = nullptr;
    pair->length = 0;
}

TARVEX_API void Vrn$clipstr(char* text) {
    if (!text) return;
    size_t length = std::strlen(text);
    while (length > 0 && text[length - 1] == ' ') text[--length] = '\0';
}

TARVEX_API int32_t Vrn$comparestr(const char* first, uint32_t first_length, const char* second,
                                  uint32_t second_length) {
    return CompareStrings(first ? first : "", first ? first_length : 0, second ? second : "",
                          second ? second_length : 0);
}

}  // extern "C"
