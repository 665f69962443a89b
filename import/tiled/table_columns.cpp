#include "import/tiled/table_columns.h"

#include "header/fits_units.h"

namespace nebulite::tiled {

namespace {

// A repeat count beyond any real table: the row width must fit NAXIS1 anyway.
constexpr uint64_t kMaxRepeat = uint64_t{1} << 40;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

uint32_t elementBytes(char t) {
    switch (t) {
        case 'L': case 'B': case 'A': return 1;
        case 'I': return 2;
        case 'J': case 'E': return 4;
        case 'K': case 'D': case 'C': case 'P': return 8;
        case 'M': case 'Q': return 16;
        default: return 0;
    }
}

std::optional<ColumnFormat> parseColumnFormat(std::string_view tform) {
    size_t i = 0;
    while (i < tform.size() && tform[i] == ' ') ++i;
    ColumnFormat f;
    if (i < tform.size() && isDigit(tform[i])) {
        f.repeat = 0;
        while (i < tform.size() && isDigit(tform[i])) {
            f.repeat = f.repeat * 10 + static_cast<uint64_t>(tform[i++] - '0');
            if (f.repeat > kMaxRepeat) return std::nullopt;
        }
    }
    if (i >= tform.size()) return std::nullopt;
    f.type = tform[i++];
    if (f.type == 'X') {
        f.rowBytes = (f.repeat + 7) / 8;
        return f;
    }
    const uint32_t bytes = elementBytes(f.type);
    if (bytes == 0) return std::nullopt;
    f.rowBytes = f.repeat * bytes;
    if (f.isHeap()) {
        // A descriptor column holds one descriptor (or none).
        if (f.repeat > 1 || i >= tform.size()) return std::nullopt;
        f.heapType = tform[i++];
        if (f.heapType == 'P' || f.heapType == 'Q' || f.heapType == 'X' || elementBytes(f.heapType) == 0)
            return std::nullopt;
        if (i < tform.size() && tform[i] == '(') {
            ++i;
            if (i >= tform.size() || !isDigit(tform[i])) return std::nullopt;
            while (i < tform.size() && isDigit(tform[i])) {
                f.maxElements = f.maxElements * 10 + static_cast<uint64_t>(tform[i++] - '0');
                if (f.maxElements > kMaxRepeat) return std::nullopt;
            }
            if (i >= tform.size() || tform[i] != ')') return std::nullopt;
            ++i;
        }
    }
    // Anything after the format is free text by convention (e.g. A's "16A8");
    // the width is settled.
    return f;
}

}  // namespace nebulite::tiled
