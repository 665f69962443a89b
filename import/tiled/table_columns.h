// The binary table's column formats (TFORMn): how wide each column is in a
// row, and for heap columns (P and Q descriptors) what their arrays hold.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace nebulite::tiled {

struct ColumnFormat {
    uint64_t repeat = 1;
    char type = 0;            // L X B I J K A E D C M, or P / Q for heap columns
    char heapType = 0;        // for P and Q: the array's element type
    uint64_t maxElements = 0; // for P and Q: the (max) given, 0 when absent
    uint64_t rowBytes = 0;    // bytes the column takes in each row

    bool isHeap() const { return type == 'P' || type == 'Q'; }
};

// Bytes of one element of type `t` (X counts bits: 0 here), 0 for an unknown type.
uint32_t elementBytes(char t);

// Parses a TFORMn value such as "1PB(4120)", "1D", "16A", "1QE". Nothing for
// text that is not a column format, or a heap column repeated more than once.
std::optional<ColumnFormat> parseColumnFormat(std::string_view tform);

}  // namespace nebulite::tiled
