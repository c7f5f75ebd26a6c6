// SPDX-License-Identifier: GPL-3.0-or-later
// The per-thread string stack: its creation and end, the block cache behind owned entries, the
// pushes and pops of strings, StackHeap, Rotate and the C++ access of the runtime. The string
// functions are in string_functions.cpp, numbers in string_numbers.cpp, the storage routines in
// string_storage.cpp.
#include "core/string_stack.h"

#include <algorithm>
#include <cstdlib>

#include "core/thread_state.h"

namespace tarvex {

constinit thread_local StackState* current_stack __attribute__((tls_model("initial-exec"))) = nullptr;

namespace {

// Blocks larger than this go straight back to the heap.
constexpr uint32_t kLargestCachedBlock = 4096;

// Moves an entry between slots; an inline entry's address moves with its buffer.
void MoveEntry(VrnStackEntry& destination, const VrnStackEntry& source) {
    destination.kind = source.kind;
    destination.length = source.length;
    if (IsInline(source)) {
        std::memcpy(destination.inline_buffer, source.inline_buffer, kInlineSize);
        destination.address = destination.inline_buffer + (source.address - source.inline_buffer);
    } else {
        destination.address = source.address;
    }
}

// A new slot on top, or null when the stack is full.
VrnStackEntry* NewTop(StackState& stack) {
    if (stack.depth >= kStackDepth) return nullptr;
    return &stack.entries[stack.depth++];
}

void PushReference(const char* address, uint32_t length) {
    VrnStackEntry* entry = NewTop(Stack());
    if (!entry) return;
    entry->kind = VRN_ENTRY_REFERENCE;
    entry->address = const_cast<char*>(address);
    entry->length = address ? length : 0;
}

}  // namespace

// ---- The stack of a thread -------------------------------------------------------------------------

StackState::~StackState() {
    for (uint32_t i = 0; i < depth; i++) {
        if (IsOwned(entries[i])) std::free(entries[i].address);
    }
    depth = 0;
    for (uint32_t i = 0; i < cached; i++) std::free(cache[i].block);
    cached = 0;
}

StackState& CreateStack() { return MakeThreadObject(current_stack); }

// ---- Blocks -------------------------------------------------------------------------------------------

char* AllocateBlock(uint32_t size) {
    if (size == 0) return nullptr;
    StackState& stack = Stack();
    // The smallest cached block that is large enough.
    uint32_t best = stack.cached;
    for (uint32_t i = 0; i < stack.cached; i++) {
        if (stack.cache[i].size >= size && (best == stack.cached || stack.cache[i].size < stack.cache[best].size)) {
            best = i;
        }
    }
    if (best != stack.cached) {
        char* block = stack.cache[best].block;
        stack.cache[best] = stack.cache[--stack.cached];
        return block;
    }
    return static_cast<char*>(platform::AllocateMemory(size));
}

void ReleaseBlock(char* block, uint32_t known_size) {
    if (!block) return;
    if (known_size == 0 || known_size > kLargestCachedBlock) {
        std::free(block);
        return;
    }
    StackState& stack = Stack();
    if (stack.cached < kCachedBlocks) {
        stack.cache[stack.cached++] = CachedBlock{block, known_size};
        return;
    }
    // Full: the new block replaces the smallest cached one when it is larger.
    uint32_t smallest = 0;
    for (uint32_t i = 1; i < kCachedBlocks; i++) {
        if (stack.cache[i].size < stack.cache[smallest].size) smallest = i;
    }
    if (stack.cache[smallest].size < known_size) {
        std::swap(block, stack.cache[smallest].block);
        stack.cache[smallest].size = known_size;
    }
    std::free(block);
}

// ---- Entries ------------------------------------------------------------------------------------------

void MakePrivate(VrnStackEntry& entry) {
    if (entry.kind != VRN_ENTRY_REFERENCE) return;
    if (entry.length <= kInlineSize) {
        if (entry.length) std::memcpy(entry.inline_buffer, entry.address, entry.length);
        entry.kind = VRN_ENTRY_INLINE;
        entry.address = entry.inline_buffer;
        return;
    }
    char* block = AllocateBlock(entry.length);
    if (!block) {
        ReleaseEntry(entry);
        return;
    }
    std::memcpy(block, entry.address, entry.length);
    entry.kind = VRN_ENTRY_OWNED;
    entry.address = block;
}

void Narrow(VrnStackEntry& entry, uint32_t offset, uint32_t count) {
    if (count == 0) {
        entry.length = 0;
        return;
    }
    if (IsOwned(entry) && offset != 0) {
        std::memmove(entry.address, entry.address + offset, count);
    } else {
        entry.address += offset;
    }
    entry.length = count;
}

// ---- C++ access ---------------------------------------------------------------------------------------

uint32_t StackDepth() { return Stack().depth; }

std::string_view EntryText(uint32_t below_top) {
    const VrnStackEntry* entry = EntryAt(below_top);
    return entry ? Text(*entry) : std::string_view();
}

std::string PopStdString() {
    std::string text(EntryText(0));
    DiscardTop();
    return text;
}

void PushCopy(std::string_view text) {
    char* destination = PushReserve(static_cast<uint32_t>(text.size()));
    if (destination && !text.empty()) std::memcpy(destination, text.data(), text.size());
}

char* PushReserve(uint32_t length) {
    StackState& stack = Stack();
    if (stack.depth >= kStackDepth) return nullptr;
    char* block = nullptr;
    if (length > kInlineSize) {
        block = AllocateBlock(length);
        if (!block) {
            // Out of memory: the value is empty, but it is pushed, so the stack stays balanced.
            PushReference(nullptr, 0);
            return nullptr;
        }
    }
    VrnStackEntry* entry = NewTop(stack);
    entry->length = length;
    if (block) {
        entry->kind = VRN_ENTRY_OWNED;
        entry->address = block;
    } else {
        entry->kind = VRN_ENTRY_INLINE;
        entry->address = entry->inline_buffer;
    }
    return entry->address;
}

void DiscardEntries(uint32_t count) {
    StackState& stack = Stack();
    while (count-- > 0 && stack.depth > 0) ReleaseEntry(stack.entries[--stack.depth]);
}

}  // namespace tarvex

using namespace tarvex;

extern "C" {

// ---- Pushes -------------------------------------------------------------------------------------------

TARVEX_API void Vrn$PushString(const char* address, uint32_t length) { PushReference(address, length); }

TARVEX_API void Vrn$PushTemp(char* address, uint32_t length) {
    VrnStackEntry* entry = NewTop(Stack());
    if (!entry) {
        std::free(address);   // the stack took the block over: it must not leak
        return;
    }
    entry->kind = VRN_ENTRY_OWNED;
    entry->address = address;
    entry->length = address ? length : 0;
}

TARVEX_API void Vrn$PushCString(const char* text) {
    PushCopy(text ? std::string_view(text) : std::string_view());
}

TARVEX_API void Vrn$PushNull(void) { PushReference(nullptr, 0); }

TARVEX_API void Vrn$PushBool(int32_t value) {
    static const char one = '1';
    // A reference to a constant: nothing can change it, so it needs no copy.
    PushReference(value ? &one : nullptr, value ? 1 : 0);
}

// ---- Pops ---------------------------------------------------------------------------------------------

TARVEX_API void Vrn$PopString(char* destination, uint32_t size) {
    std::string_view text = EntryText(0);
    StoreString(destination, size, text.data(), static_cast<uint32_t>(text.size()));
    DiscardTop();
}

TARVEX_API void Vrn$PopCString(char* destination, uint32_t size) {
    std::string_view text = EntryText(0);
    StoreCString(destination, size, text.data(), static_cast<uint32_t>(text.size()));
    DiscardTop();
}

TARVEX_API void Vrn$PopPString(unsigned char* destination, uint32_t size) {
    std::string_view text = EntryText(0);
    StorePString(destination, size, text.data(), static_cast<uint32_t>(text.size()));
    DiscardTop();
}

TARVEX_API void Vrn$PopTemp(VrnStringPair* pair) {
    VrnStackEntry* entry = EntryAt(0);
    if (!pair) {
        DiscardTop();
        return;
    }
    if (entry && IsOwned(*entry)) {
        // The block is passed on unchanged; the entry gives it up.
        pair->address = entry->address;
        pair->length = pair->address ? entry->length : 0;
        entry->kind = VRN_ENTRY_REFERENCE;
        DiscardTop();
        return;
    }
    std::string_view text = entry ? Text(*entry) : std::string_view();
    // One zero byte more than the characters, so the receiver also gets a terminated string.
    auto* block = static_cast<char*>(platform::AllocateMemory(text.size() + 1));
    if (block) {
        std::memset(block, 0, text.size() + 1);
        if (!text.empty()) std::memcpy(block, text.data(), text.size());
    }
    pair->address = block;
    pair->length = block ? static_cast<uint32_t>(text.size()) : 0;
    DiscardTop();
}

TARVEX_API void Vrn$STACKpop(void) { DiscardTop(); }

TARVEX_API uint32_t Vrn$StackLen(void) {
    uint32_t length = static_cast<uint32_t>(EntryText(0).size());
    DiscardTop();
    return length;
}

TARVEX_API uint32_t Vrn$StackLen2(void) { return static_cast<uint32_t>(EntryText(0).size()); }

// ---- Stack operations -----------------------------------------------------------------------------------

TARVEX_API void Vrn$StackHeap(void) { MakePrivate(TopEntry()); }

TARVEX_API void Vrn$StackRotate(int32_t depth) {
    StackState& stack = Stack();
    if (depth <= 0 || static_cast<uint32_t>(depth) >= stack.depth) return;
    uint32_t top = stack.depth - 1;
    uint32_t from = top - static_cast<uint32_t>(depth);
    VrnStackEntry moving;
    MoveEntry(moving, stack.entries[from]);
    for (uint32_t i = from; i < top; i++) MoveEntry(stack.entries[i], stack.entries[i + 1]);
    MoveEntry(stack.entries[top], moving);
}

TARVEX_API uint32_t Vrw$StackDepth(void) { return Stack().depth; }

}  // extern "C"
