// SPDX-License-Identifier: GPL-3.0-or-later
// The numbers of the metafile format that the recorder writes and the player reads: record
// functions, the headers' fixed values, the constants of the records' parameters.
#pragma once

#include <cstdint>

namespace tarvex::report {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kPlaceableBytes = 22;
constexpr size_t kHeaderBytes = 18;
constexpr uint16_t kMemoryMetafile = 1;
constexpr uint16_t kMetafileVersion = 0x0300;
constexpr size_t kFaceBytes = 32;

// Record functions.
constexpr uint16_t kEof = 0x0000;
constexpr uint16_t kSaveDc = 0x001E;
constexpr uint16_t kSetBkMode = 0x0102;
constexpr uint16_t kSetMapMode = 0x0103;
constexpr uint16_t kRestoreDc = 0x0127;
constexpr uint16_t kSelectObject = 0x012D;
constexpr uint16_t kSetTextAlign = 0x012E;
constexpr uint16_t kDeleteObject = 0x01F0;
constexpr uint16_t kSetTextColor = 0x0209;
constexpr uint16_t kSetWindowOrg = 0x020B;
constexpr uint16_t kSetWindowExt = 0x020C;
constexpr uint16_t kLineTo = 0x0213;
constexpr uint16_t kMoveTo = 0x0214;
constexpr uint16_t kCreatePenIndirect = 0x02FA;
constexpr uint16_t kCreateFontIndirect = 0x02FB;
constexpr uint16_t kCreateBrushIndirect = 0x02FC;
constexpr uint16_t kIntersectClipRect = 0x0416;
constexpr uint16_t kRectangle = 0x041B;
constexpr uint16_t kExtTextOut = 0x0A32;
constexpr uint16_t kStretchDib = 0x0F43;

// Parameters.
constexpr int16_t kMapAnisotropic = 8;
constexpr uint16_t kTransparent = 1;
constexpr uint16_t kOpaque = 2;
constexpr uint32_t kSourceCopy = 0x00CC0020;
constexpr int16_t kDibRgbColors = 0;
constexpr uint16_t kTextOpaque = 0x0002;

} // namespace tarvex::report
