#include "codecs/hcompress_encode.h"

#include <algorithm>
#include <bit>
#include <memory>

#include "codecs/bit_writer.h"

namespace nebulite::codecs {

namespace {

constexpr uint8_t kMagic[2] = {0xdd, 0x99};
constexpr int kMaxPlanes = 64;

// The Huffman code of a 4-bit quadtree value: {bits, length}. Single set
// bits (1, 2, 4, 8) are the common case and get the 3-bit codes; the
// decoder's table in hcompress.cpp is the same code read the other way.
struct HuffmanCode {
    uint8_t bits;
    uint8_t length;
};
constexpr HuffmanCode kCodes[16] = {
    {0x3e, 6}, {0x00, 3}, {0x01, 3}, {0x08, 4}, {0x02, 3}, {0x09, 4}, {0x1a, 5}, {0x1b, 5},
    {0x03, 3}, {0x1c, 5}, {0x0a, 4}, {0x1d, 5}, {0x0b, 4}, {0x1e, 5}, {0x3f, 6}, {0x0c, 4},
};

template <typename N>
constexpr N half(N n) {
    return (n + 1) / 2;
}

// Smallest L with 2^L >= n (0 for n <= 1).
int ceilLog2(uint64_t n) { return n <= 1 ? 0 : static_cast<int>(std::bit_width(n - 1)); }

// Two's-complement products and sums: the values are bounded (see the
// header), the helpers only keep the shifts of negative values plainly
// defined.
inline int64_t times(int64_t v, int64_t factor) { return v * factor; }
inline uint64_t magnitude(int64_t v) { return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v); }

// A coefficient rounded to a multiple of the bit `mask` keeps: half up for
// positive values, and for negative ones by `negative` (0 or just below the
// half), so that both signs round alike.
inline int64_t keep(int64_t v, int64_t positive, int64_t negative, int64_t mask) {
    return (v >= 0 ? v + positive : v + negative) & mask;
}

// Moves the odd-numbered of n values `stride` apart behind the even ones.
void regroup(int64_t* a, size_t n, size_t stride, int64_t* tmp) {
    size_t t = 0;
    for (size_t i = 1; i < n; i += 2) tmp[t++] = a[i * stride];
    size_t to = 1;
    for (size_t i = 2; i < n; i += 2) a[(to++) * stride] = a[i * stride];
    for (size_t k = 0; k < t; ++k) a[(to++) * stride] = tmp[k];
}

// The forward H-transform of nx rows by ny columns, in place, level by
// level: each 2x2 block becomes its sum and three differences (halved after
// the first level), low bits dropped as the inverse expects, and the
// coefficients regrouped so that each level's sums form the next level's
// image in the top-left corner.
void forwardTransform(int64_t* a, size_t nx, size_t ny, int64_t* tmp) {
    const int levels = ceilLog2(std::max(nx, ny));
    int shift = 0;
    int64_t mask = -2, mask2 = -4;
    int64_t round = 1, round2 = 2, round2Negative = 1;
    size_t topX = nx, topY = ny;
    for (int k = 0; k < levels; ++k) {
        const bool oddX = topX % 2 != 0;
        const bool oddY = topY % 2 != 0;
        // An edge pair or corner has no partner: doubled (or quadrupled) in
        // place of the missing sum on the first level, as the inverse expects.
        const int64_t pairFactor = shift == 0 ? 2 : 1;
        const int64_t cornerFactor = shift == 0 ? 4 : 2;
        size_t i = 0;
        for (; i + 1 < topX; i += 2) {
            int64_t* r0 = a + i * ny;
            int64_t* r1 = r0 + ny;
            size_t j = 0;
            for (; j + 1 < topY; j += 2) {
                const int64_t p00 = r0[j], p01 = r0[j + 1], p10 = r1[j], p11 = r1[j + 1];
                const int64_t h0 = (p11 + p10 + p01 + p00) >> shift;
                const int64_t hx = (p11 + p10 - p01 - p00) >> shift;
                const int64_t hy = (p11 - p10 + p01 - p00) >> shift;
                const int64_t hc = (p11 - p10 - p01 + p00) >> shift;
                r1[j + 1] = hc;
                r1[j] = keep(hx, round, 0, mask);
                r0[j + 1] = keep(hy, round, 0, mask);
                r0[j] = keep(h0, round2, round2Negative, mask2);
            }
            if (oddY) {
                const int64_t h0 = times(r1[j] + r0[j], pairFactor);
                const int64_t hx = times(r1[j] - r0[j], pairFactor);
                r1[j] = keep(hx, round, 0, mask);
                r0[j] = keep(h0, round2, round2Negative, mask2);
            }
        }
        if (oddX) {
            int64_t* r0 = a + i * ny;
            size_t j = 0;
            for (; j + 1 < topY; j += 2) {
                const int64_t h0 = times(r0[j + 1] + r0[j], pairFactor);
                const int64_t hy = times(r0[j + 1] - r0[j], pairFactor);
                r0[j + 1] = keep(hy, round, 0, mask);
                r0[j] = keep(h0, round2, round2Negative, mask2);
            }
            if (oddY) r0[j] = keep(times(r0[j], cornerFactor), round2, round2Negative, mask2);
        }
        for (size_t row = 0; row < topX; ++row) regroup(a + row * ny, topY, 1, tmp);
        for (size_t column = 0; column < topY; ++column) regroup(a + column, topX, ny, tmp);
        topX = half(topX);
        topY = half(topY);
        // Later levels halve their sums, and round one bit higher each time.
        shift = 1;
        mask = mask2;
        round = round2;
        mask2 = times(mask2, 2);
        round2 = times(round2, 2);
        round2Negative = round2 - 1;
    }
}

// One quadrant of the coefficients: qx rows by qy columns from `origin`,
// rows `stride` apart.
struct Quadrant {
    const int64_t* origin;
    size_t qx;
    size_t qy;
    size_t stride;
};

// Bit `plane` of the magnitudes of each 2x2 block as a 4-bit value: 8 top
// left, 4 top right, 2 bottom left, 1 bottom right (missing ones 0).
void planeGrid(const Quadrant& q, int plane, uint8_t* grid) {
    const auto bit = [plane](int64_t v, int weight) {
        return static_cast<uint8_t>(((magnitude(v) >> plane) & 1u) << weight);
    };
    size_t k = 0;
    for (size_t i = 0; i < q.qx; i += 2) {
        const int64_t* r0 = q.origin + i * q.stride;
        const int64_t* r1 = i + 1 < q.qx ? r0 + q.stride : nullptr;
        for (size_t j = 0; j < q.qy; j += 2) {
            uint8_t v = bit(r0[j], 3);
            if (j + 1 < q.qy) v |= bit(r0[j + 1], 2);
            if (r1 != nullptr) {
                v |= bit(r1[j], 1);
                if (j + 1 < q.qy) v |= bit(r1[j + 1], 0);
            }
            grid[k++] = v;
        }
    }
}

// The next coarser grid, in place: each 2x2 block of cells becomes a 4-bit
// value of which cells are nonzero (same weights).
void coarsen(uint8_t* grid, size_t nx, size_t ny) {
    size_t k = 0;
    for (size_t i = 0; i < nx; i += 2) {
        const uint8_t* r0 = grid + i * ny;
        const uint8_t* r1 = i + 1 < nx ? r0 + ny : nullptr;
        for (size_t j = 0; j < ny; j += 2) {
            uint8_t v = static_cast<uint8_t>((r0[j] != 0) << 3);
            if (j + 1 < ny) v |= static_cast<uint8_t>((r0[j + 1] != 0) << 2);
            if (r1 != nullptr) {
                v |= static_cast<uint8_t>((r1[j] != 0) << 1);
                if (j + 1 < ny) v |= static_cast<uint8_t>(r1[j + 1] != 0);
            }
            // k never passes the first cell still to be read.
            grid[k++] = v;
        }
    }
}

// The quadtree's codes are gathered least significant bit first, grid after
// grid from the finest, and then written back to front, so that the reader
// meets the coarsest grid first and each code's bits in order. When they
// would take as many bytes as the plain nybbles, the plane is written plain.
class CodeBuffer {
public:
    CodeBuffer(uint8_t* bytes, size_t limit) : bytes_(bytes), limit_(limit) {}
    // False once the codes fill the limit.
    bool add(const uint8_t* cells, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            if (cells[i] == 0) continue;
            const HuffmanCode c = kCodes[cells[i]];
            pending_ |= static_cast<uint32_t>(c.bits) << count_;
            count_ += c.length;
            if (count_ >= 8) {
                bytes_[used_++] = static_cast<uint8_t>(pending_);
                if (used_ >= limit_) return false;
                pending_ >>= 8;
                count_ -= 8;
            }
        }
        return true;
    }
    void writeReversed(BitWriter& out) const {
        if (count_ > 0)
            out.put(pending_ & ((uint32_t{1} << count_) - 1), count_);
        else if (used_ == 0)
            out.put(kCodes[0].bits, kCodes[0].length);  // a plane with no set bit at all
        for (size_t i = used_; i-- > 0;) out.put(bytes_[i], 8);
    }

private:
    uint8_t* bytes_;
    size_t limit_;
    size_t used_ = 0;
    uint32_t pending_ = 0;
    int count_ = 0;
};

void encodeQuadrant(BitWriter& out, const Quadrant& q, int planes, uint8_t* grid, uint8_t* codes) {
    const size_t gx = half(q.qx);
    const size_t gy = half(q.qy);
    const int levels = ceilLog2(std::max(q.qx, q.qy));
    const size_t limit = (gx * gy + 1) / 2;
    for (int plane = planes - 1; plane >= 0; --plane) {
        planeGrid(q, plane, grid);
        CodeBuffer buffer(codes, limit);
        bool fits = buffer.add(grid, gx * gy);
        size_t nx = gx, ny = gy;
        for (int k = 1; fits && k < levels; ++k) {
            coarsen(grid, nx, ny);
            nx = half(nx);
            ny = half(ny);
            fits = buffer.add(grid, nx * ny);
        }
        if (fits) {
            out.put(0xf, 4);
            buffer.writeReversed(out);
        } else {
            // The plain nybbles, one per 2x2 block.
            out.put(0x0, 4);
            planeGrid(q, plane, grid);
            for (size_t k = 0; k < gx * gy; ++k) out.put(grid[k], 4);
        }
    }
}

// Where the scratch's parts start, or false when it is too small.
struct Layout {
    int64_t* work;
    int64_t* line;
    uint8_t* grid;
    uint8_t* codes;
};

size_t gridBytes(size_t nx, size_t ny) { return half(half(nx)) * half(half(ny)); }

bool layOut(std::span<uint8_t> scratch, size_t nx, size_t ny, Layout& l) {
    const size_t words = nx * ny + half(std::max(nx, ny));
    void* start = scratch.data();
    size_t room = scratch.size();
    if (std::align(alignof(int64_t), words * sizeof(int64_t), start, room) == nullptr) return false;
    l.work = static_cast<int64_t*>(start);
    l.line = l.work + nx * ny;
    const size_t grid = gridBytes(nx, ny);
    if (room - words * sizeof(int64_t) < grid + half(grid)) return false;
    l.grid = reinterpret_cast<uint8_t*>(l.work + words);
    l.codes = l.grid + grid;
    return true;
}

bool validSize(uint32_t rows, uint32_t columns) {
    return rows >= 1 && columns >= 1 && rows <= kHcompressMaxSide && columns <= kHcompressMaxSide &&
           uint64_t{rows} * columns <= INT32_MAX;
}

template <typename T>
Encoded encode(std::span<const T> pixels, uint32_t rows, uint32_t columns, std::span<uint8_t> out,
               std::span<uint8_t> scratch) {
    if (!validSize(rows, columns) || pixels.size() != size_t{rows} * columns) return {CodecResult::unsupported, 0};
    const size_t nx = rows;
    const size_t ny = columns;
    Layout l{};
    const size_t needed = hcompressEncodeScratchBytes(rows, columns);
    if (needed == 0 || scratch.size() < needed || !layOut(scratch, nx, ny, l)) return {CodecResult::unsupported, 0};
    int64_t* a = l.work;
    for (size_t k = 0; k < pixels.size(); ++k) a[k] = static_cast<int64_t>(pixels[k]);
    forwardTransform(a, nx, ny, l.line);

    BitWriter bits(out);
    bits.put(kMagic[0], 8);
    bits.put(kMagic[1], 8);
    bits.put(rows, 32);
    bits.put(columns, 32);
    bits.put(0, 32);  // the scale: lossless
    // The sum of all pixels, the one coefficient that does not compress well.
    const auto sum = static_cast<uint64_t>(a[0]);
    bits.put(static_cast<uint32_t>(sum >> 32), 32);
    bits.put(static_cast<uint32_t>(sum), 32);
    a[0] = 0;

    // Bit planes per quadrant kind: the sums (top left), the one-way
    // differences (top right and bottom left), the cross differences.
    const size_t nx2 = half(nx), ny2 = half(ny);
    uint64_t largest[3] = {0, 0, 0};
    for (size_t i = 0; i < nx; ++i)
        for (size_t j = 0; j < ny; ++j) {
            const size_t kind = (j >= ny2 ? 1u : 0u) + (i >= nx2 ? 1u : 0u);
            largest[kind] = std::max(largest[kind], magnitude(a[i * ny + j]));
        }
    int planes[3];
    for (int q = 0; q < 3; ++q) {
        planes[q] = static_cast<int>(std::bit_width(largest[q]));
        bits.put(static_cast<uint32_t>(planes[q]), 8);
    }

    const Quadrant quadrants[4] = {
        {a, nx2, ny2, ny},
        {a + ny2, nx2, ny / 2, ny},
        {a + nx2 * ny, nx / 2, ny2, ny},
        {a + nx2 * ny + ny2, nx / 2, ny / 2, ny},
    };
    const int quadrantPlanes[4] = {planes[0], planes[1], planes[1], planes[2]};
    for (int q = 0; q < 4; ++q) {
        encodeQuadrant(bits, quadrants[q], quadrantPlanes[q], l.grid, l.codes);
        if (bits.overflowed()) return {CodecResult::truncated, 0};
    }
    bits.put(0, 4);  // the end of the planes
    bits.flush();

    // One sign bit per nonzero coefficient, 1 for negative, byte-padded.
    for (size_t k = 0; k < nx * ny; ++k)
        if (a[k] != 0) bits.put(a[k] < 0 ? 1u : 0u, 1);
    bits.flush();
    if (bits.overflowed()) return {CodecResult::truncated, 0};
    return {CodecResult::ok, bits.bytes()};
}

int magnitudeBits(int bytePix) {
    switch (bytePix) {
        case 1: return 8;
        case 2: return 15;
        case 4: return 31;
        default: return 0;
    }
}

}  // namespace

size_t hcompressEncodeScratchBytes(uint32_t rows, uint32_t columns) {
    if (!validSize(rows, columns)) return 0;
    // In 64 bits: a 32-bit host cannot address the scratch of the largest tiles.
    const uint64_t nx = rows, ny = columns;
    const uint64_t grid = half(half(nx)) * half(half(ny));
    const uint64_t bytes = (nx * ny + half(std::max(nx, ny))) * sizeof(int64_t) + grid + half(grid) + alignof(int64_t);
    return bytes > SIZE_MAX ? 0 : static_cast<size_t>(bytes);
}

Encoded hcompressEncode(std::span<const uint8_t> pixels, uint32_t rows, uint32_t columns, std::span<uint8_t> out,
                        std::span<uint8_t> scratch) {
    return encode(pixels, rows, columns, out, scratch);
}
Encoded hcompressEncode(std::span<const int16_t> pixels, uint32_t rows, uint32_t columns, std::span<uint8_t> out,
                        std::span<uint8_t> scratch) {
    return encode(pixels, rows, columns, out, scratch);
}
Encoded hcompressEncode(std::span<const int32_t> pixels, uint32_t rows, uint32_t columns, std::span<uint8_t> out,
                        std::span<uint8_t> scratch) {
    return encode(pixels, rows, columns, out, scratch);
}

uint64_t hcompressMaxEncodedBytes(uint32_t rows, uint32_t columns, int bytePix) {
    const int b = magnitudeBits(bytePix);
    if (b == 0 || !validSize(rows, columns)) return 0;
    const uint64_t nx = rows, ny = columns;
    const int levels = ceilLog2(std::max(nx, ny));
    const uint64_t planes = static_cast<uint64_t>(std::min(kMaxPlanes, b + levels + 2));
    const uint64_t nx2 = half(nx), ny2 = half(ny);
    const uint64_t quadrantRows[4] = {nx2, nx2, nx / 2, nx / 2};
    const uint64_t quadrantColumns[4] = {ny2, ny / 2, ny2, ny / 2};
    uint64_t bits = 4 + 7;  // the end code and the padding
    for (int q = 0; q < 4; ++q) {
        const uint64_t cells = half(quadrantRows[q]) * half(quadrantColumns[q]);
        bits += planes * (4 * cells + 11);
    }
    constexpr uint64_t kHeaderBytes = 25;
    return kHeaderBytes + (bits + 7) / 8 + (nx * ny + 7) / 8;
}

}  // namespace nebulite::codecs
