// SPDX-License-Identifier: GPL-3.0-or-later
// A checked reader over a description dump. A dump is input and may be damaged, so every read
// names a buffer offset and is checked against the buffer first: a read that does not fit, a
// string without its NUL or an offset before the dump records the first such fault and yields 0
// (or nothing); the caller checks Failed() once per record instead of after every field. Values
// are assembled from little-endian bytes, never by casting the buffer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarvex::windows {

class DumpReader {
public:
    // `dump` is the dump itself; buffer offset 2 is its first byte.
    explicit DumpReader(std::span<const uint8_t> dump) : dump_(dump) {}

    // True when `size` bytes at buffer offset `offset` lie inside the dump.
    bool Fits(uint32_t offset, uint64_t size) const;
    // One past the last buffer offset of the dump.
    uint64_t End() const;

    uint8_t U8(uint32_t offset);
    uint16_t U16(uint32_t offset);
    uint32_t U32(uint32_t offset);
    int32_t I32(uint32_t offset) { return static_cast<int32_t>(U32(offset)); }
    // The NUL-terminated text at `offset`; nullopt (and a fault) when the NUL is not inside the dump.
    std::optional<std::string_view> String(uint32_t offset);
    // `size` raw bytes at `offset`; empty (and a fault) when they do not fit.
    std::span<const uint8_t> Bytes(uint32_t offset, uint32_t size);

    // Records a fault found by the caller (a loop, an unknown kind); the first fault is kept.
    void Fail(uint32_t offset, std::string_view what);
    bool Failed() const { return !error_.empty(); }
    // "offset 0x1A2: string without its NUL"; empty while nothing failed.
    const std::string& Error() const { return error_; }

private:
    const uint8_t* At(uint32_t offset, uint64_t size, std::string_view what);

    std::span<const uint8_t> dump_;
    std::string error_;
};

}  // namespace tarvex::windows
