// SPDX-License-Identifier: GPL-3.0-or-later
// The checked little-endian reader of description dumps (see dump_reader.h).
#include "windows/dump_reader.h"

#include <cstdio>
#include <cstring>

#include "windows/description_format.h"

namespace tarvex::windows {

bool DumpReader::Fits(uint32_t offset, uint64_t size) const {
    return offset >= kDumpBase && uint64_t(offset) - kDumpBase + size <= dump_.size();
}

uint64_t DumpReader::End() const { return kDumpBase + uint64_t(dump_.size()); }

void DumpReader::Fail(uint32_t offset, std::string_view what) {
    if (!error_.empty())
        return;
    char where[32];
    std::snprintf(where, sizeof where, "offset 0x%X: ", offset);
    error_ = where;
    error_ += what;
}

const uint8_t* DumpReader::At(uint32_t offset, uint64_t size, std::string_view what) {
    if (Fits(offset, size))
        return dump_.data() + (offset - kDumpBase);
    Fail(offset, what);
    return nullptr;
}

uint8_t DumpReader::U8(uint32_t offset) {
    const uint8_t* p = At(offset, 1, "past the end");
    return p ? p[0] : 0;
}

uint16_t DumpReader::U16(uint32_t offset) {
    const uint8_t* p = At(offset, 2, "past the end");
    return p ? uint16_t(p[0] | p[1] << 8) : 0;
}

uint32_t DumpReader::U32(uint32_t offset) {
    const uint8_t* p = At(offset, 4, "past the end");
    return p ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24 : 0;
}

std::optional<std::string_view> DumpReader::String(uint32_t offset) {
    if (!Fits(offset, 1)) {
        Fail(offset, "string past the end");
        return std::nullopt;
    }
    const uint8_t* start = dump_.data() + (offset - kDumpBase);
    size_t room = dump_.size() - (offset - kDumpBase);
    const void* nul = std::memchr(start, 0, room);
    if (nul == nullptr) {
        Fail(offset, "string without its NUL");
        return std::nullopt;
    }
    return std::string_view(reinterpret_cast<const char*>(start),
                            static_cast<const uint8_t*>(nul) - start);
}

std::span<const uint8_t> DumpReader::Bytes(uint32_t offset, uint32_t size) {
    const uint8_t* p = At(offset, size, "cell does not fit");
    return p ? std::span<const uint8_t>(p, size) : std::span<const uint8_t>();
}

}  // namespace tarvex::windows
