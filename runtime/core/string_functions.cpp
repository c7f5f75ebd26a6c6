// SPDX-License-Identifier: GPL-3.0-or-later
// The string functions on the stack: CLIP, SUB, LEFT, RIGHT, CENTER, ALL, UPPER, LOWER, VAL, the
// character tests, concatenation, comparison, INSTRING and INLIST. Narrowing functions change an
// entry's address and length and copy nothing; functions that change characters make the entry
// private first, so a pushed variable never changes.
#include <algorithm>
#include <cstring>

#include "core/char_tables.h"
#include "core/string_stack.h"

namespace tarvex {
namespace {

constexpr uint32_t kByteSearchThreshold = 1;       // one character: a byte search
constexpr uint32_t kSkipTableNeedle = 4;           // longer substrings ...
constexpr uint32_t kSkipTableHaystack = 256;       // ... in longer strings: a skip-table search

uint32_t ClippedLength(const VrnStackEntry& entry) {
    // Eight blanks at a time first: STRING variables are mostly padding.
    constexpr uint64_t kEightBlanks = 0x2020202020202020ull;
    uint32_t length = entry.length;
    while (length >= 8) {
        uint64_t word;
        std::memcpy(&word, entry.address + length - 8, 8);
        if (word != kEightBlanks) break;
        length -= 8;
    }
    while (length > 0 && entry.address[length - 1] == ' ') length--;
    return length;
}

uint32_t LeadingBlanks(const char* text, uint32_t length) {
    uint32_t count = 0;
    while (count < length && text[count] == ' ') count++;
    return count;
}

// A negative width means the value's current length.
uint32_t Width(int32_t width, const VrnStackEntry& entry) {
    return width < 0 ? entry.length : static_cast<uint32_t>(width);
}

// Appends blanks up to `width` (a new value); false when that needs memory that is not there.
bool ExtendWithBlanks(VrnStackEntry& entry, uint32_t width) {
    if (width <= entry.length) return true;
    uint32_t old_length = entry.length;
    const char* old_text = entry.address;
    Rebuild(entry, width, [&](char* destination) {
        if (old_length) std::memcpy(destination, old_text, old_length);
        std::memset(destination + old_length, ' ', width - old_length);
    });
    return entry.length == width;
}

// The first occurrence of needle in haystack at or after `from`, or npos.
size_t FindFrom(std::string_view haystack, std::string_view needle, size_t from) {
    size_t h = haystack.size();
    size_t k = needle.size();
    if (k > h || from > h - k) return std::string_view::npos;
    if (k == kByteSearchThreshold) {
        const void* hit = std::memchr(haystack.data() + from, needle[0], h - from);
        return hit ? static_cast<size_t>(static_cast<const char*>(hit) - haystack.data()) : std::string_view::npos;
    }
    if (k > kSkipTableNeedle && h > kSkipTableHaystack) {
        // Skip-table search: shift by the distance of the window's last character from the end of
        // the needle.
        size_t skip[256];
        std::fill(std::begin(skip), std::end(skip), k);
        for (size_t i = 0; i + 1 < k; i++) skip[static_cast<uint8_t>(needle[i])] = k - 1 - i;
        size_t position = from;
        while (position <= h - k) {
            uint8_t last = static_cast<uint8_t>(haystack[position + k - 1]);
            if (last == static_cast<uint8_t>(needle[k - 1]) &&
                std::memcmp(haystack.data() + position, needle.data(), k - 1) == 0) {
                return position;
            }
            position += skip[last];
        }
        return std::string_view::npos;
    }
    for (size_t position = from; position <= h - k; position++) {
        if (haystack[position] == needle[0] && std::memcmp(haystack.data() + position, needle.data(), k) == 0) {
            return position;
        }
    }
    return std::string_view::npos;
}

// Pops two and pushes first-then-second: `front` and `back` are the entries whose characters go
// first and last.
void Concatenate(bool reversed) {
    VrnStackEntry& top = TopEntry();
    VrnStackEntry* below = EntryAt(1);
    if (!below) return;   // the missing first operand is empty: the top is the result
    const VrnStackEntry& front = reversed ? top : *below;
    const VrnStackEntry& back = reversed ? *below : top;
    uint64_t total = static_cast<uint64_t>(front.length) + back.length;
    VrnStackEntry& result = *below;
    if (total > UINT32_MAX) {
        ReleaseEntry(result);
    } else if (!reversed && IsInline(*below) &&
               static_cast<uint32_t>(below->address - below->inline_buffer) + total <= kInlineSize) {
        // The common case: a short first operand that already lies inline is extended in place.
        if (top.length) std::memcpy(below->address + below->length, top.address, top.length);
        below->length = static_cast<uint32_t>(total);
    } else {
        Rebuild(result, static_cast<uint32_t>(total), [&](char* destination) {
            if (front.length) std::memcpy(destination, front.address, front.length);
            if (back.length) std::memcpy(destination + front.length, back.address, back.length);
        });
    }
    DiscardTop();
}

int32_t CompareTopTwo(bool reversed) {
    std::string_view top = EntryText(0);
    std::string_view first = EntryText(1);
    int32_t result = reversed ? CompareStrings(top, first) : CompareStrings(first, top);
    DiscardEntries(2);
    return result;
}

// Pops a one-character value and returns its character (a blank for an empty value).
uint8_t PopCharacter() {
    std::string_view text = EntryText(0);
    uint8_t c = text.empty() ? ' ' : static_cast<uint8_t>(text[0]);
    DiscardEntries(1);
    return c;
}

}  // namespace
}  // namespace tarvex

using namespace tarvex;

extern "C" {

// ---- The top entry --------------------------------------------------------------------------------------

TARVEX_API void Vrn$StackCLIP(void) {
    VrnStackEntry& entry = TopEntry();
    entry.length = ClippedLength(entry);
}

// Start 0 is taken as start 1, for every kind of entry.
TARVEX_API void Vrn$StackSUB(int32_t start, int32_t length) {
    VrnStackEntry& entry = TopEntry();
    int64_t total = entry.length;
    int64_t offset = 0;
    if (start < 0) offset = std::max<int64_t>(0, total + start);
    if (start > 0) offset = std::min<int64_t>(start - 1, total);
    uint32_t count = static_cast<uint32_t>(total - offset);
    // The length compares without sign: a negative length takes the rest.
    count = std::min(count, static_cast<uint32_t>(length));
    Narrow(entry, static_cast<uint32_t>(offset), count);
}

TARVEX_API void Vrn$StackLEFT(int32_t width) {
    VrnStackEntry& entry = TopEntry();
    uint32_t w = Width(width, entry);
    uint32_t lead = LeadingBlanks(entry.address, entry.length);
    Narrow(entry, lead, entry.length - lead);
    if (entry.length < w) {
        ExtendWithBlanks(entry, w);
    } else {
        entry.length = w;
    }
}

TARVEX_API void Vrn$StackRIGHT(int32_t width) {
    VrnStackEntry& entry = TopEntry();
    uint32_t w = Width(width, entry);
    if (!ExtendWithBlanks(entry, w)) return;
    uint32_t clipped = ClippedLength(entry);
    if (clipped < w) {
        // Make private with the full length: the shifted text needs all w characters.
        MakePrivate(entry);
        if (entry.length < w) return;   // out of memory: the value became empty
        uint32_t shift = w - clipped;
        std::memmove(entry.address + shift, entry.address, clipped);
        std::memset(entry.address, ' ', shift);
        entry.length = w;
    } else {
        Narrow(entry, clipped - w, w);
    }
}

TARVEX_API void Vrn$StackCENTER(int32_t width) {
    VrnStackEntry& entry = TopEntry();
    uint32_t w = Width(width, entry);
    if (!ExtendWithBlanks(entry, w)) return;
    uint32_t clipped = ClippedLength(entry);
    uint32_t lead = LeadingBlanks(entry.address, clipped);
    uint32_t text_length = clipped - lead;
    if (text_length < w) {
        // An odd pad puts the extra blank on the left.
        uint32_t pad = w - text_length;
        uint32_t left = (pad + 1) / 2;
        MakePrivate(entry);
        if (entry.length < w) return;
        std::memmove(entry.address + left, entry.address + lead, text_length);
        std::memset(entry.address, ' ', left);
        std::memset(entry.address + left + text_length, ' ', pad - left);
        entry.length = w;
    } else {
        uint32_t dropped = (text_length - w + 1) / 2;
        Narrow(entry, lead + dropped, w);
    }
}

// ALL of an empty value gives blanks.
TARVEX_API void Vrn$StackALL(int32_t length) {
    VrnStackEntry& entry = TopEntry();
    uint32_t m = length > 0 ? static_cast<uint32_t>(length) : 0;
    uint32_t k = entry.length;
    const char* source = entry.address;
    Rebuild(entry, m, [&](char* destination) {
        if (k == 0) {
            std::memset(destination, ' ', m);
        } else if (k == 1) {
            std::memset(destination, source[0], m);
        } else {
            for (uint32_t i = 0; i < m; i += k) std::memcpy(destination + i, source, std::min(k, m - i));
        }
    });
}

TARVEX_API void Vrn$StackUPPER(void) {
    VrnStackEntry& entry = TopEntry();
    MakePrivate(entry);
    for (uint32_t i = 0; i < entry.length; i++) entry.address[i] = ToUpper(entry.address[i]);
}

TARVEX_API void Vrn$StackLOWER(void) {
    VrnStackEntry& entry = TopEntry();
    MakePrivate(entry);
    for (uint32_t i = 0; i < entry.length; i++) entry.address[i] = ToLower(entry.address[i]);
}

TARVEX_API int32_t Vrn$StackVAL(void) { return PopCharacter(); }

TARVEX_API int32_t Vrn$StackCompareN(void) {
    std::string_view text = EntryText(0);
    int32_t result = text.find_first_not_of(' ') != std::string_view::npos ? 1 : 0;
    DiscardEntries(1);
    return result;
}

TARVEX_API int32_t Vrn$IsAlpha(void) { return HasOtherCase(static_cast<char>(PopCharacter())) ? 1 : 0; }
TARVEX_API int32_t Vrn$IsUpper(void) { return IsUpperChar(static_cast<char>(PopCharacter())) ? 1 : 0; }
TARVEX_API int32_t Vrn$IsLower(void) { return IsLowerChar(static_cast<char>(PopCharacter())) ? 1 : 0; }

// ---- Several entries ----------------------------------------------------------------------------------------

TARVEX_API void Vrn$StackConcat(void) { Concatenate(false); }
TARVEX_API void Vrn$StackConcatR(void) { Concatenate(true); }

TARVEX_API int32_t Vrn$StackCompare(void) { return CompareTopTwo(false); }
TARVEX_API int32_t Vrn$StackCompareR(void) { return CompareTopTwo(true); }

// A negative step or start finds nothing.
TARVEX_API int32_t Vrn$StackINSTRING(int32_t step, int32_t start) {
    std::string_view needle = EntryText(0);
    std::string_view haystack = EntryText(1);
    int32_t result = 0;
    size_t k = needle.size();
    size_t h = haystack.size();
    if (k != 0 && start > 0 && step >= 0 && h >= k) {
        size_t t = step == 0 ? k : static_cast<size_t>(step);
        size_t first = static_cast<size_t>(start) - 1;
        if (t == 1) {
            size_t found = FindFrom(haystack, needle, first);
            if (found != std::string_view::npos) result = static_cast<int32_t>(found + 1);
        } else {
            for (size_t offset = first; offset <= h - k; offset += t) {
                if (std::memcmp(haystack.data() + offset, needle.data(), k) == 0) {
                    result = static_cast<int32_t>(offset / t + 1);
                    break;
                }
            }
        }
    }
    DiscardEntries(2);
    return result;
}

TARVEX_API int32_t Vrn$StackINLIST(int32_t count) {
    uint32_t n = count > 0 ? static_cast<uint32_t>(count) : 0;
    n = std::min(n, kStackDepth);
    std::string_view value = EntryText(0);
    int32_t result = 0;
    for (uint32_t i = 1; i <= n; i++) {
        if (CompareStrings(value, EntryText(i)) == 0) {
            result = static_cast<int32_t>(i);
            break;
        }
    }
    DiscardEntries(n + 1);
    return result;
}

}  // extern "C"
