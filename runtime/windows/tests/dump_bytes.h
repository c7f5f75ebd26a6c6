// SPDX-License-Identifier: GPL-3.0-or-later
// Writing little dumps by hand in tests: bytes appended in order, offsets as the loader sees them
// (buffer offsets, the dump starting at 2), and patching of forward references.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "windows/description_format.h"

namespace tarvex::windows::testing {

class DumpBytes {
public:
    DumpBytes() { U32(0); }   // the head: offset of the first structure
    // The buffer offset the next byte will have.
    uint32_t Here() const { return uint32_t(bytes_.size()) + kDumpBase; }
    uint32_t U8(uint8_t v) { uint32_t at = Here(); bytes_.push_back(v); return at; }
    uint32_t U16(uint16_t v) { uint32_t at = U8(uint8_t(v)); U8(uint8_t(v >> 8)); return at; }
    uint32_t U32(uint32_t v) { uint32_t at = U16(uint16_t(v)); U16(uint16_t(v >> 16)); return at; }
    uint32_t Text(std::string_view text) {
        uint32_t at = Here();
        for (char c : text)
            bytes_.push_back(uint8_t(c));
        U8(0);
        return at;
    }
    // A zeroed record of `size` bytes with its kind code; returns its offset.
    uint32_t Record(Kind kind, uint32_t size) {
        uint32_t at = Here();
        bytes_.resize(bytes_.size() + size, 0);
        bytes_[at - kDumpBase] = static_cast<uint8_t>(kind);
        return at;
    }
    void Put32(uint32_t offset, uint32_t v) {
        for (int i = 0; i < 4; i++)
            bytes_[offset - kDumpBase + i] = uint8_t(v >> (8 * i));
    }
    void Put8(uint32_t offset, uint8_t v) { bytes_[offset - kDumpBase] = v; }
    void SetHead(uint32_t first) { Put32(kDumpBase, first); }
    // Drops the bytes from buffer offset `end` on: a dump cut short.
    void CutAt(uint32_t end) {
        if (end - kDumpBase < bytes_.size())
            bytes_.erase(bytes_.begin() + (end - kDumpBase), bytes_.end());
    }
    std::vector<uint8_t>& Bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

}  // namespace tarvex::windows::testing
