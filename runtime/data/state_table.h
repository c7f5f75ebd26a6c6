// SPDX-License-Identifier: GPL-3.0-or-later
// The table of file operations: for each operation code 0..93 its label, the kinds of its
// arguments, and its row of the state table (which file states it needs, refuses, enters and
// leaves). The state services of tarvex/files.h and the operation tracing read it.
#pragma once

#include <cstdint>
#include <span>

namespace tarvex {

// Argument kinds of an operation, as tracing prints them.
enum class ArgKind : uint8_t {
    kNone,
    kKey,     // a KeyDecl (printed as its label)
    kInteger, // pointer, length, count, seconds, access mode, property or blob number
    kValue,   // an opaque value (printed as a number)
};

struct OperationRow {
    const char* label;
    uint32_t op_class; // bits added to the operation-flags word on success
    uint32_t requires_bits;
    uint32_t refuses;
    uint32_t sets;
    uint32_t clears;
    uint32_t clears_on_failure;
    ArgKind args[4];
};

constexpr int32_t kLastOperation = 93;

// The whole table, indexed by operation code.
std::span<const OperationRow> OperationTable();
// The row of a code, or null for a code outside 0..93.
const OperationRow* FindOperation(int32_t operation);

} // namespace tarvex
