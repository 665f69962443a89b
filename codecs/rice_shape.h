// The per-BYTEPIX constants of the Rice coder, shared by its decoder and
// encoder: the width of a block's FS field, the largest FS a coded block may
// use (the code after it marks a block of raw mapped differences), and the
// width of one raw difference.
#pragma once

namespace nebulite::codecs {

struct RiceShape {
    int fsBits;
    int fsMax;
    int rawBits;
};

constexpr RiceShape riceShapeFor(int bytePix) {
    switch (bytePix) {
        case 1: return {3, 6, 8};
        case 2: return {4, 14, 16};
        default: return {5, 25, 32};
    }
}

}  // namespace nebulite::codecs
