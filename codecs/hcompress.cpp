#include "codecs/hcompress.h"

#include <algorithm>
#include <array>
#include <memory>

#include "codecs/big_endian.h"
#include "codecs/bit_reader.h"

namespace nebulite::codecs {

namespace {

constexpr uint8_t kMagic[2] = {0xdd, 0x99};
constexpr size_t kHeaderBytes = 25;
// 64-bit coefficients carry at most 64 bit planes.
constexpr int kMaxPlanes = 64;

// The Huffman code of the quadtree's 4-bit values, looked up by the next six
// bits of the stream: {value, code length}. Single set bits (1, 2, 4, 8) are
// the common case and get the 3-bit codes.
struct HuffmanEntry {
    uint8_t value;
    uint8_t length;
};
constexpr HuffmanEntry kCodes[16] = {
    {0, 6}, {1, 3}, {2, 3}, {3, 4}, {4, 3}, {5, 4}, {6, 5}, {7, 5},
    {8, 3}, {9, 5}, {10, 4}, {11, 5}, {12, 4}, {13, 5}, {14, 6}, {15, 4},
};
constexpr uint8_t kCodeBits[16] = {0b111110, 0b000, 0b001, 0b1000, 0b010, 0b1001, 0b11010, 0b11011,
                                   0b011, 0b11100, 0b1010, 0b11101, 0b1011, 0b11110, 0b111111, 0b1100};

constexpr std::array<HuffmanEntry, 64> makeHuffmanTable() {
    std::array<HuffmanEntry, 64> table{};
    for (int v = 0; v < 16; ++v) {
        const int length = kCodes[v].length;
        const int first = kCodeBits[v] << (6 - length);
        for (int k = 0; k < (1 << (6 - length)); ++k)
            table[static_cast<size_t>(first + k)] = {static_cast<uint8_t>(v), static_cast<uint8_t>(length)};
    }
    return table;
}
constexpr std::array<HuffmanEntry, 64> kHuffman = makeHuffmanTable();
static_assert(kHuffman[0].value == 1 && kHuffman[0b111111].value == 14 && kHuffman[0b110000].value == 15);

uint8_t readHuffman(BitReader& bits) {
    if (bits.valid() < 6) bits.refill();
    const HuffmanEntry e = kHuffman[bits.peek(6)];
    bits.skip(e.length);
    return e.value;
}

constexpr size_t half(size_t n) { return (n + 1) / 2; }

// Smallest L with 2^L >= n.
int ceilLog2(size_t n) {
    int l = 0;
    while ((size_t{1} << l) < n) ++l;
    return l;
}

// One quadrant of the coefficient array: `qx` rows by `qy` columns starting
// at `origin`, rows `stride` apart.
struct Quadrant {
    int64_t* origin;
    size_t qx;
    size_t qy;
    size_t stride;
};

// Sets bit `plane` of the coefficients a grid of 4-bit values marks, each
// value covering a 2x2 block: 8 top-left, 4 top-right, 2 bottom-left,
// 1 bottom-right.
void insertPlane(const uint8_t* grid, const Quadrant& q, int plane) {
    const size_t gy = half(q.qy);
    // Whole 2x2 blocks without a test per bit; the odd last row and column after.
    const size_t fullX = q.qx & ~size_t{1};
    const size_t fullY = q.qy & ~size_t{1};
    const auto bitOf = [plane](uint32_t v, int which) {
        return static_cast<int64_t>(static_cast<uint64_t>((v >> which) & 1u) << plane);
    };
    for (size_t i = 0; i < fullX; i += 2) {
        int64_t* row0 = q.origin + i * q.stride;
        int64_t* row1 = row0 + q.stride;
        const uint8_t* g = grid + (i / 2) * gy;
        for (size_t j = 0; j < fullY; j += 2) {
            const uint32_t v = g[j / 2];
            if (v == 0) continue;
            row0[j] |= bitOf(v, 3);
            row0[j + 1] |= bitOf(v, 2);
            row1[j] |= bitOf(v, 1);
            row1[j + 1] |= bitOf(v, 0);
        }
        if (fullY < q.qy) {
            const uint32_t v = g[fullY / 2];
            row0[fullY] |= bitOf(v, 3);
            row1[fullY] |= bitOf(v, 1);
        }
    }
    if (fullX < q.qx) {
        int64_t* row0 = q.origin + fullX * q.stride;
        const uint8_t* g = grid + (fullX / 2) * gy;
        for (size_t j = 0; j < q.qy; j += 2) {
            const uint32_t v = g[j / 2];
            row0[j] |= bitOf(v, 3);
            if (j + 1 < q.qy) row0[j + 1] |= bitOf(v, 2);
        }
    }
}

// Replaces a grid of gx x gy 4-bit values by its (nx x ny) grid of flags,
// then reads a Huffman value for every set flag, last cell first.
void expandGrid(BitReader& bits, const uint8_t* from, size_t gy, uint8_t* to, size_t nx, size_t ny) {
    for (size_t i = 0; i < nx; ++i)
        for (size_t j = 0; j < ny; ++j) {
            const uint8_t v = from[(i / 2) * gy + j / 2];
            const int shift = 3 - static_cast<int>((i & 1) * 2 + (j & 1));
            to[i * ny + j] = static_cast<uint8_t>((v >> shift) & 1);
        }
    for (size_t k = nx * ny; k-- > 0;)
        if (to[k] != 0) to[k] = readHuffman(bits);
}

// A quadrant without pixels (the lower half of a one-row tile, the right
// half of a one-column one) still carries its kind's bit planes: each an
// empty direct plane or a quadtree whose root says "nothing", as cfitsio
// writes it.
CodecResult skipEmptyQuadrant(BitReader& bits, int planes) {
    for (int plane = planes - 1; plane >= 0; --plane) {
        const uint32_t format = bits.read(4);
        if (format == 0) continue;
        if (format != 0xf || readHuffman(bits) != 0) return CodecResult::corrupt;
        if (bits.overrun()) return CodecResult::truncated;
    }
    return CodecResult::ok;
}

CodecResult decodeQuadrant(BitReader& bits, const Quadrant& q, int planes, uint8_t* gridA, uint8_t* gridB) {
    if (q.qx == 0 || q.qy == 0) return skipEmptyQuadrant(bits, planes);
    const size_t gx = half(q.qx);
    const size_t gy = half(q.qy);
    const int levels = ceilLog2(std::max(q.qx, q.qy));
    for (int plane = planes - 1; plane >= 0; --plane) {
        const uint32_t format = bits.read(4);
        if (format == 0) {
            // Stored directly: one 4-bit value per 2x2 block.
            for (size_t k = 0; k < gx * gy; ++k) gridA[k] = static_cast<uint8_t>(bits.read(4));
            if (bits.overrun()) return CodecResult::truncated;
            insertPlane(gridA, q, plane);
            continue;
        }
        if (format != 0xf) return CodecResult::corrupt;
        // Quadtree: the root, then each level's set flags refined, coarse to fine.
        uint8_t* cur = gridA;
        uint8_t* next = gridB;
        cur[0] = readHuffman(bits);
        size_t cx = 1;
        size_t cy = 1;
        for (int k = 1; k < levels; ++k) {
            const int down = levels - k;
            const size_t nx = (q.qx + (size_t{1} << down) - 1) >> down;
            const size_t ny = (q.qy + (size_t{1} << down) - 1) >> down;
            expandGrid(bits, cur, cy, next, nx, ny);
            if (bits.overrun()) return CodecResult::truncated;
            std::swap(cur, next);
            cx = nx;
            cy = ny;
        }
        if (bits.overrun()) return CodecResult::truncated;
        if (cx != gx || cy != gy) {
            // One-pixel quadrants: the root itself is the plane's only value.
            if (gx * gy != 1) return CodecResult::corrupt;
        }
        insertPlane(cur, q, plane);
    }
    return CodecResult::ok;
}

// Sums wrap in two's complement: a damaged stream can set any of the 64
// bit planes, and must give wrong pixels, not undefined behaviour.
inline int64_t add(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
inline int64_t sub(int64_t a, int64_t b) {
    return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
}

// Rounds v to a multiple of the bit a mask keeps, half away from zero.
inline int64_t roundTo(int64_t v, int64_t positive, int64_t negative, int64_t mask) {
    return add(v, v >= 0 ? positive : negative) & mask;
}

// Moves v toward zero by `by` (itself 0 or one bit).
inline int64_t towardZero(int64_t v, int64_t by) { return v >= 0 ? sub(v, by) : add(v, by); }

// Interleaves n values `stride` apart: the first half goes to the even places.
void interleave(int64_t* a, size_t n, size_t stride, int64_t* tmp) {
    const size_t nhalf = half(n);
    for (size_t k = nhalf; k < n; ++k) tmp[k - nhalf] = a[k * stride];
    for (size_t k = nhalf; k-- > 1;) a[2 * k * stride] = a[k * stride];
    for (size_t k = 0; k < n - nhalf; ++k) a[(2 * k + 1) * stride] = tmp[k];
}

// The inverse H-transform, level by level from the coarsest.
void inverseTransform(int64_t* a, size_t nx, size_t ny, int64_t* tmp) {
    const int levels = ceilLog2(std::max(nx, ny));
    if (levels == 0) return;
    int64_t bit0 = int64_t{1} << (levels - 1);
    int64_t bit1 = bit0 << 1;
    const int64_t bit2 = bit0 << 2;
    int64_t mask0 = -bit0;
    int64_t mask1 = mask0 * 2;
    const int64_t mask2 = mask0 * 4;
    int64_t up0 = bit0 >> 1, down0 = up0 - 1;
    int64_t up1 = bit1 >> 1, down1 = up1 - 1;
    const int64_t up2 = bit2 >> 1, down2 = up2 - 1;
    a[0] = roundTo(a[0], up2, down2, mask2);

    size_t topX = 1, topY = 1;
    size_t restX = nx, restY = ny;
    size_t c = size_t{1} << levels;
    for (int k = levels - 1; k >= 0; --k) {
        // The active area doubles, less one where the array is odd.
        c >>= 1;
        topX <<= 1;
        topY <<= 1;
        if (restX <= c) --topX; else restX -= c;
        if (restY <= c) --topY; else restY -= c;
        int shift = 1;
        if (k == 0) {
            down0 = 0;
            shift = 2;
        }
        for (size_t i = 0; i < topX; ++i) interleave(a + i * ny, topY, 1, tmp);
        for (size_t j = 0; j < topY; ++j) interleave(a + j, topX, ny, tmp);

        const bool oddX = topX % 2 != 0;
        const bool oddY = topY % 2 != 0;
        size_t i = 0;
        for (; i + 1 < topX; i += 2) {
            int64_t* r0 = a + i * ny;
            int64_t* r1 = r0 + ny;
            size_t j = 0;
            for (; j + 1 < topY; j += 2) {
                int64_t h0 = r0[j];
                int64_t hx = roundTo(r1[j], up1, down1, mask1);
                int64_t hy = roundTo(r0[j + 1], up1, down1, mask1);
                const int64_t hc = roundTo(r1[j + 1], up0, down0, mask0);
                const int64_t low0 = hc & bit0;
                hx = towardZero(hx, low0);
                hy = towardZero(hy, low0);
                const int64_t low1 = (hc ^ hx ^ hy) & bit1;
                if (h0 >= 0)
                    h0 = add(h0, low0 - low1);
                else
                    h0 = add(h0, low0 == 0 ? low1 : low0 - low1);
                const int64_t sumX = add(h0, hx), diffX = sub(h0, hx);
                const int64_t sumY = add(hy, hc), diffY = sub(hy, hc);
                r1[j + 1] = add(sumX, sumY) >> shift;
                r1[j] = sub(sumX, sumY) >> shift;
                r0[j + 1] = add(diffX, diffY) >> shift;
                r0[j] = sub(diffX, diffY) >> shift;
            }
            if (oddY) {
                const int64_t hx = roundTo(r1[j], up1, down1, mask1);
                const int64_t h0 = towardZero(r0[j], hx & bit1);
                r1[j] = add(h0, hx) >> shift;
                r0[j] = sub(h0, hx) >> shift;
            }
        }
        if (oddX) {
            int64_t* r0 = a + i * ny;
            size_t j = 0;
            for (; j + 1 < topY; j += 2) {
                const int64_t hy = roundTo(r0[j + 1], up1, down1, mask1);
                const int64_t h0 = towardZero(r0[j], hy & bit1);
                r0[j + 1] = add(h0, hy) >> shift;
                r0[j] = sub(h0, hy) >> shift;
            }
            if (oddY) r0[j] >>= shift;
        }
        // The next level's rounding works one bit lower.
        bit1 = bit0;
        bit0 >>= 1;
        mask1 = mask0;
        mask0 >>= 1;
        up1 = up0;
        down1 = down0;
        up0 = bit0 >> 1;
        down0 = up0 - 1;
    }
}

}  // namespace

size_t hcompressScratchBytes(uint32_t rows, uint32_t columns) {
    const size_t grid = half(half(rows)) * half(half(columns));
    const size_t line = half(std::max(rows, columns));
    return 2 * grid + line * sizeof(int64_t) + alignof(int64_t);
}

CodecResult hcompressDecode(std::span<const uint8_t> in, uint32_t rows, uint32_t columns,
                            std::span<int64_t> out, std::span<uint8_t> scratch) {
    const size_t nx = rows;
    const size_t ny = columns;
    // fpack makes no tile smaller than 4 x 4, but cfitsio codes and decodes
    // any size, one row or one column too.
    if (nx < 1 || ny < 1 || out.size() != nx * ny) return CodecResult::unsupported;
    if (scratch.size() < hcompressScratchBytes(rows, columns)) return CodecResult::unsupported;
    if (in.size() < kHeaderBytes) return CodecResult::truncated;
    if (in[0] != kMagic[0] || in[1] != kMagic[1]) return CodecResult::corrupt;
    if (loadBE32(in.data() + 2) != rows || loadBE32(in.data() + 6) != columns) return CodecResult::corrupt;
    const auto scale = static_cast<int32_t>(loadBE32(in.data() + 10));
    const auto sum = static_cast<int64_t>(loadBE64(in.data() + 14));
    const int planes[3] = {in[22], in[23], in[24]};
    for (int p : planes)
        if (p > kMaxPlanes) return CodecResult::corrupt;

    // Scratch: two quadtree grids, then an aligned line of 64-bit values.
    const size_t grid = half(half(nx)) * half(half(ny));
    uint8_t* gridA = scratch.data();
    uint8_t* gridB = gridA + grid;
    void* lineStart = gridB + grid;
    size_t room = scratch.size() - 2 * grid;
    lineStart = std::align(alignof(int64_t), half(std::max(nx, ny)) * sizeof(int64_t), lineStart, room);
    if (lineStart == nullptr) return CodecResult::unsupported;
    auto* line = static_cast<int64_t*>(lineStart);

    std::fill(out.begin(), out.end(), 0);
    int64_t* a = out.data();
    const size_t nx2 = half(nx);
    const size_t ny2 = half(ny);
    BitReader bits(in.subspan(kHeaderBytes));
    const Quadrant quadrants[4] = {
        {a, nx2, ny2, ny},
        {a + ny2, nx2, ny - ny2, ny},
        {a + nx2 * ny, nx - nx2, ny2, ny},
        {a + nx2 * ny + ny2, nx - nx2, ny - ny2, ny},
    };
    const int quadrantPlanes[4] = {planes[0], planes[1], planes[1], planes[2]};
    for (int k = 0; k < 4; ++k) {
        CodecResult r = decodeQuadrant(bits, quadrants[k], quadrantPlanes[k], gridA, gridB);
        if (r != CodecResult::ok) return r;
    }
    if (bits.read(4) != 0) return CodecResult::corrupt;

    // Signs, one bit per nonzero coefficient after the planes, byte-aligned.
    bits.alignToByte();
    for (size_t k = 0; k < nx * ny; ++k) {
        if (a[k] == 0) continue;
        if (bits.read(1) != 0) a[k] = sub(0, a[k]);
        if ((k & 1023) == 0 && bits.overrun()) return CodecResult::truncated;
    }
    if (bits.overrun()) return CodecResult::truncated;

    a[0] = sum;
    if (scale > 1)
        for (int64_t& v : out) v = static_cast<int64_t>(static_cast<uint64_t>(v) * static_cast<uint64_t>(scale));
    inverseTransform(a, nx, ny, line);
    return CodecResult::ok;
}

}  // namespace nebulite::codecs
