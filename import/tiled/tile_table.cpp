#include "import/tiled/tile_table.h"

#include <bit>

#include "codecs/big_endian.h"
#include "header/fits_units.h"

namespace nebulite::tiled {

using codecs::loadBE16;
using codecs::loadBE32;
using codecs::loadBE64;

DescriptorCheck heapArray(std::span<const uint8_t> row, const HeapColumn& column, uint64_t heapBytes,
                          HeapArray& array) {
    array = {};
    if (!column.present) return DescriptorCheck::absent;
    const uint64_t width = column.wide ? 16 : 8;
    if (column.rowOffset > row.size() || row.size() - column.rowOffset < width) return DescriptorCheck::beyondHeap;
    const uint8_t* d = row.data() + column.rowOffset;
    int64_t count = 0;
    int64_t offset = 0;
    if (column.wide) {
        count = static_cast<int64_t>(loadBE64(d));
        offset = static_cast<int64_t>(loadBE64(d + 8));
    } else {
        count = static_cast<int32_t>(loadBE32(d));
        offset = static_cast<int32_t>(loadBE32(d + 4));
    }
    if (count < 0 || offset < 0) return DescriptorCheck::negative;
    if (count == 0) return DescriptorCheck::ok;
    const auto bytes = checkedMul(static_cast<uint64_t>(count), column.elementBytes, heapBytes);
    if (!bytes) return DescriptorCheck::beyondHeap;
    if (static_cast<uint64_t>(offset) > heapBytes - *bytes) return DescriptorCheck::beyondHeap;
    array = {static_cast<uint64_t>(offset), *bytes};
    return DescriptorCheck::ok;
}

namespace {

bool readable(std::span<const uint8_t> row, const ScalarColumn& column, uint64_t bytes) {
    return column.present && column.rowOffset <= row.size() && row.size() - column.rowOffset >= bytes;
}

}  // namespace

double scalarReal(std::span<const uint8_t> row, const ScalarColumn& column, double fallback) {
    switch (column.type) {
        case 'D':
            if (!readable(row, column, 8)) return fallback;
            return std::bit_cast<double>(loadBE64(row.data() + column.rowOffset));
        case 'E':
            if (!readable(row, column, 4)) return fallback;
            return std::bit_cast<float>(loadBE32(row.data() + column.rowOffset));
        default:
            return static_cast<double>(scalarInteger(row, column, static_cast<int64_t>(fallback)));
    }
}

int64_t scalarInteger(std::span<const uint8_t> row, const ScalarColumn& column, int64_t fallback) {
    const uint64_t bytes = column.type == 'B' ? 1 : column.type == 'I' ? 2 : column.type == 'J' ? 4 : 8;
    if (!readable(row, column, bytes)) return fallback;
    const uint8_t* p = row.data() + column.rowOffset;
    switch (column.type) {
        case 'B': return int64_t{*p};
        case 'I': return int64_t{static_cast<int16_t>(loadBE16(p))};
        case 'J': return int64_t{static_cast<int32_t>(loadBE32(p))};
        case 'K': return static_cast<int64_t>(loadBE64(p));
        default: return fallback;
    }
}

}  // namespace nebulite::tiled
