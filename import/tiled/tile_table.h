// One row of the compressed table: where each tile column's array lies in
// the heap, checked against the heap's size, and the row's scalar values.
#pragma once

#include <cstdint>
#include <span>

#include "import/tiled/tiled_header.h"

namespace nebulite::tiled {

// A heap array: `bytes` bytes from `offset`, counted from the heap's start.
struct HeapArray {
    uint64_t offset = 0;
    uint64_t bytes = 0;
};

enum class DescriptorCheck : uint8_t {
    ok,
    absent,      // the column is not in the table
    negative,    // a negative count or offset
    beyondHeap,  // the array does not lie within the heap
};

// The array `column` points at in `row` (NAXIS1 bytes of the main table).
// A count of 0 is an empty array (`ok`, 0 bytes) whatever its offset.
DescriptorCheck heapArray(std::span<const uint8_t> row, const HeapColumn& column, uint64_t heapBytes,
                          HeapArray& array);

// The row's value of a scalar column (ZSCALE, ZZERO, ZBLANK), big-endian as
// stored. Columns not in the table give `fallback`.
double scalarReal(std::span<const uint8_t> row, const ScalarColumn& column, double fallback);
int64_t scalarInteger(std::span<const uint8_t> row, const ScalarColumn& column, int64_t fallback);

}  // namespace nebulite::tiled
