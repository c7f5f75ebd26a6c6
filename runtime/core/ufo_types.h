// SPDX-License-Identifier: GPL-3.0-or-later
// Value types inside the runtime: CLEAR of one value and the geometry of a described field, shared
// by CLEAR, the queues and the dynamic values.
#pragma once

#include <cstdint>

#include "tarvex/type_descriptor.h"

namespace tarvex {

// Sets one value of the type to its empty (0), highest (> 0) or lowest (< 0) value; `size` is the
// declared width of strings and decimals.
void ClearValue(void* address, uint8_t type, uint32_t size, uint8_t places, int32_t value);

// Width of one element (the declared size, else the type's natural width) and element count.
uint32_t FieldWidth(const VrnFieldDesc& field);
uint32_t FieldDimension(const VrnFieldDesc& field);
// True when the field (all its elements) lies inside the described record.
bool FieldFits(const VrnTypeDesc& type, const VrnFieldDesc& field);

}  // namespace tarvex
