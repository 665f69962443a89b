#include "shell/geometry.h"

#include "header/fits_units.h"

namespace nebulite {

namespace {

int16_t narrow(int32_t value) {
    if (value > kMaxNarrowDimension) return static_cast<int16_t>(kMaxNarrowDimension);
    if (value < -kMaxNarrowDimension) return static_cast<int16_t>(-kMaxNarrowDimension);
    return static_cast<int16_t>(value);
}

}  // namespace

void agreeOnCoordinates(FormatRecord& record) {
    record.PluginUsing32BitCoordinates = record.HostSupports32BitCoordinates != 0 ? 1 : 0;
}

bool usesWideCoordinates(const FormatRecord& record) {
    return record.HostSupports32BitCoordinates != 0 && record.PluginUsing32BitCoordinates != 0;
}

int64_t maxDimension(const FormatRecord& record) {
    return usesWideCoordinates(record) ? kMaxWideDimension : kMaxNarrowDimension;
}

uint64_t maxImageBytes(const FormatRecord& record) {
    return usesWideCoordinates(record) ? UINT64_MAX : kMaxByteCount;
}

uint64_t maxFileBytes(const FormatRecord& record) {
    return usesWideCoordinates(record) ? kMaxLargeFileBytes : kMaxByteCount;
}

ImageSize imageSizeOf(const FormatRecord& record) {
    if (usesWideCoordinates(record)) return {record.imageSize32.v, record.imageSize32.h};
    return {record.imageSize.v, record.imageSize.h};
}

void setImageSize(FormatRecord& record, ImageSize size) {
    record.imageSize.v = narrow(size.rows);
    record.imageSize.h = narrow(size.columns);
    if (usesWideCoordinates(record)) {
        record.imageSize32.v = size.rows;
        record.imageSize32.h = size.columns;
    }
}

void setRowRect(FormatRecord& record, int32_t row, int32_t columns) {
    // The 16-bit rectangle says as much as it can even where the host reads
    // the 32-bit one.
    record.theRect = Rect{narrow(row), 0, narrow(row + 1), narrow(columns)};
    if (usesWideCoordinates(record)) record.theRect32 = VRect{row, 0, row + 1, columns};
}

}  // namespace nebulite
