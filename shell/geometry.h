// The image's size and the rectangle of the rows moving between module and
// host, in whichever fields the host and the module agreed on: the 16-bit
// imageSize and theRect of every host, or, where the host offers them and
// the module takes them, the 32-bit imageSize32 and theRect32 of hosts that
// open images wider or taller than 32767. Nothing else in the module reads
// or writes those fields.
#pragma once

#include <cstdint>

#include "platform/host_sdk.h"

namespace nebulite {

// The 16-bit fields' limit, and the largest side the 32-bit ones take: the
// editor's own largest document.
constexpr int64_t kMaxNarrowDimension = 32767;
constexpr int64_t kMaxWideDimension = 300000;
// The largest file written for a host that takes files past 2 GB: what the
// PiPL's 'fslm' says, 4096 GB.
constexpr uint64_t kMaxLargeFileBytes = uint64_t{4096} << 30;

// Takes the 32-bit fields when the host offers them (every selector but
// About, whose record is another one).
void agreeOnCoordinates(FormatRecord& record);
bool usesWideCoordinates(const FormatRecord& record);

// The largest number of rows or columns the agreed fields can carry.
int64_t maxDimension(const FormatRecord& record);
// The largest image (read) and file (write) in bytes: 2 GB for a host of
// 16-bit geometry, as such hosts count bytes in 32 bits; a host that offers
// 32-bit geometry is one that also takes files past 2 GB.
uint64_t maxImageBytes(const FormatRecord& record);
uint64_t maxFileBytes(const FormatRecord& record);

struct ImageSize {
    int32_t rows = 0;
    int32_t columns = 0;
};
ImageSize imageSizeOf(const FormatRecord& record);
// Both sets of fields, the 16-bit ones clamped: a host reads one set.
void setImageSize(FormatRecord& record, ImageSize size);

// Row `row`, all `columns` columns of it.
void setRowRect(FormatRecord& record, int32_t row, int32_t columns);

}  // namespace nebulite
