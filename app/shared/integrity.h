// SPDX-License-Identifier: GPL-3.0-or-later
// Deleting and changing records with the relations between the files kept intact. Each runs in a
// transaction (2 seconds to frame it) over the files it touches, so that it happens completely or
// not at all:
//   - deleting a patient deletes the patient's claims, each with its service lines;
//   - deleting a claim deletes its service lines;
//   - every other delete and every change touches its own file only.
// Failures are reported with the standard messages and leave every file as it was.
#pragma once

#include <cstdint>

#include "tarvex/files.hpp"

namespace lumarex {

inline constexpr int32_t kRecordChangedElsewhere = 2;

// Deletes the file's current record (the one in its record buffer, last read). 0 on success,
// 1 on failure.
int32_t RiDeleteRecord(tarvex::FileRef file);

// Writes the file's record buffer over its current record. 0 on success, 1 on failure, or
// kRecordChangedElsewhere when another station changed the record since it was read (the file
// was WATCHed): the buffer then holds the other station's version. `quiet` reports that case
// with the shorter message that tells how to recall one's own changes.
int32_t RiUpdateRecord(tarvex::FileRef file, bool quiet = false);

} // namespace lumarex
