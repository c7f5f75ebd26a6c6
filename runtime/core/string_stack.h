// SPDX-License-Identifier: GPL-3.0-or-later
// The string stack inside the runtime: the per-thread stack of VrnStackEntry, the entry helpers the
// string operations share, and C++ access for the other runtime parts (pictures, dates, the
// evaluator) that push and pop strings.
//
// Rules every operation keeps:
//   - kind 0 (reference) points at storage the pusher owns; kind 1 (owned) is a std::malloc block
//     whose address is always the block's start, so it stays freeable (narrowing an owned value
//     moves its characters inside the block); kind 2 (inline) points into the entry's own buffer,
//     so moving an entry to another slot moves its address with it (MoveEntry).
//   - A push on a full stack (32 entries) is ignored; an owned block that cannot be pushed is
//     freed, so nothing leaks.
//   - An operation on the top entry of an empty stack works on an empty string placed there; a
//     pop of an empty stack yields an empty string; an operation on several entries counts the
//     missing ones as empty strings. No operation crashes on an unbalanced stack.
//   - A failed heap allocation yields an empty value (null, 0) and sets no error code.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "tarvex/string_stack.h"

namespace tarvex {

constexpr uint32_t kInlineSize = VRN_ENTRY_INLINE_SIZE;
constexpr uint32_t kStackDepth = VRN_STRING_STACK_DEPTH;

// ---- C++ access for the runtime -----------------------------------------------------------------

uint32_t StackDepth();
// The characters of the entry `below_top` places under the top (0 = the top); empty when missing.
std::string_view EntryText(uint32_t below_top = 0);
// Pops the top entry as a std::string (empty when the stack is empty).
std::string PopStdString();
// Pushes a private copy (inline up to 20 characters, else an owned block).
void PushCopy(std::string_view text);
// Pushes a new private entry of `length` characters and returns where to write them. Null when
// the stack is full (nothing pushed) or memory runs out (an empty value pushed in its place).
// The characters start undefined.
char* PushReserve(uint32_t length);
// Discards up to `count` entries from the top.
void DiscardEntries(uint32_t count);

// ---- Entry helpers shared by the string operations ------------------------------------------------

inline bool IsOwned(const VrnStackEntry& entry) { return (entry.kind & VRN_ENTRY_OWNED) != 0; }
inline bool IsInline(const VrnStackEntry& entry) { return (entry.kind & VRN_ENTRY_INLINE) != 0; }
inline std::string_view Text(const VrnStackEntry& entry) {
    return entry.length ? std::string_view(entry.address, entry.length) : std::string_view();
}

// One thread's stack, with a few released heap blocks kept for reuse: a statement whose result is
// longer than an inline entry then does not pay for malloc and free each time.
constexpr uint32_t kCachedBlocks = 4;
struct CachedBlock {
    char* block;
    uint32_t size;
};
struct StackState {
    VrnStackEntry entries[kStackDepth];
    uint32_t depth;
    CachedBlock cache[kCachedBlocks];
    uint32_t cached;
    ~StackState();   // frees what the thread leaves behind
};

// The calling thread's stack, made on its first string operation (core/thread_state.h). The
// pointer is the only static thread-local storage the stack takes, so the library still loads
// late; its initial-exec model makes reaching the stack one load, not a call into the dynamic
// linker.
extern thread_local constinit StackState* current_stack __attribute__((tls_model("initial-exec")));
StackState& CreateStack();
inline StackState& Stack() {
    StackState* stack = current_stack;
    return __builtin_expect(stack != nullptr, 1) ? *stack : CreateStack();
}

// The top entry; an empty reference is pushed first when the stack is empty.
inline VrnStackEntry& TopEntry() {
    StackState& stack = Stack();
    if (stack.depth == 0) {
        VrnStackEntry& entry = stack.entries[stack.depth++];
        entry.kind = VRN_ENTRY_REFERENCE;
        entry.address = nullptr;
        entry.length = 0;
    }
    return stack.entries[stack.depth - 1];
}
// The entry `below_top` places under the top, or null when the stack is not that deep.
inline VrnStackEntry* EntryAt(uint32_t below_top) {
    StackState& stack = Stack();
    return below_top < stack.depth ? &stack.entries[stack.depth - 1 - below_top] : nullptr;
}

// Heap blocks handed to owned entries. Returns null on failure or for 0 bytes.
char* AllocateBlock(uint32_t size);
// Takes back an owned entry's block; `known_size` is a size the block has at least.
void ReleaseBlock(char* block, uint32_t known_size);

// Frees what the entry owns and makes it an empty reference.
inline void ReleaseEntry(VrnStackEntry& entry) {
    if (IsOwned(entry)) ReleaseBlock(entry.address, entry.length);
    entry.kind = VRN_ENTRY_REFERENCE;
    entry.address = nullptr;
    entry.length = 0;
}
// Discards the top entry, if any.
inline void DiscardTop() {
    StackState& stack = Stack();
    if (stack.depth > 0) ReleaseEntry(stack.entries[--stack.depth]);
}
// Makes the entry private: a reference of up to 20 characters is copied inline, a longer one into
// an owned block (an empty value when that fails). Owned and inline entries stay as they are.
void MakePrivate(VrnStackEntry& entry);
// Keeps `count` characters starting at `offset` without allocating.
void Narrow(VrnStackEntry& entry, uint32_t offset, uint32_t count);

// Replaces the entry's value with `length` new characters written by fill(destination); fill may
// read the entry's old characters. Results of up to 20 characters go inline; a longer result
// needs a block, and when that fails the entry becomes empty.
template <class Fill>
void Rebuild(VrnStackEntry& entry, uint32_t length, Fill fill) {
    if (length <= kInlineSize) {
        char scratch[kInlineSize];
        fill(scratch);
        ReleaseEntry(entry);
        if (length) std::memcpy(entry.inline_buffer, scratch, length);
        entry.kind = VRN_ENTRY_INLINE;
        entry.address = entry.inline_buffer;
        entry.length = length;
        return;
    }
    char* block = AllocateBlock(length);
    if (block) fill(block);
    ReleaseEntry(entry);
    if (!block) return;
    entry.kind = VRN_ENTRY_OWNED;
    entry.address = block;
    entry.length = length;
}

// ---- Storage routines (the Vrn$store* operations without the C linkage) -----------------------------
// Sources may overlap the destination (a variable popped into itself).
void StoreString(char* destination, uint32_t size, const char* source, uint32_t length);
void StoreCString(char* destination, uint32_t size, const char* source, uint32_t length);
void StorePString(unsigned char* destination, uint32_t size, const char* source, uint32_t length);

}  // namespace tarvex
