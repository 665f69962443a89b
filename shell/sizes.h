// FITS layout constants, the host's limits, and checked size arithmetic.
//
// Every byte count the module derives from a file or from the host goes
// through these helpers in 64-bit arithmetic and is compared with a named
// limit before it is used for an allocation, a loop bound or an estimate.
#pragma once

#include <cstdint>
#include <optional>

namespace nebulite {

constexpr uint32_t kCardBytes = 80;
constexpr uint32_t kCardsPerBlock = 36;
constexpr uint32_t kBlockBytes = kCardBytes * kCardsPerBlock;  // 2880

// The host's byte counts (estimate, positions, sizes) are 32-bit signed.
constexpr uint64_t kMaxByteCount = INT32_MAX;
// The largest file written for a host that takes files past 2 GB: what the
// PiPL's 'fslm' says, 4096 GB.
constexpr uint64_t kMaxLargeFileBytes = uint64_t{4096} << 30;
// A primary header longer than this is taken as a damaged file rather than
// read into memory card by card: 16384 blocks is 47 MB of header text.
constexpr uint32_t kMaxHeaderBlocks = 16384;

// a x b, or nothing when the product exceeds `limit`.
constexpr std::optional<uint64_t> checkedMul(uint64_t a, uint64_t b,
                                             uint64_t limit = kMaxByteCount) {
    if (a != 0 && b > limit / a) return std::nullopt;
    if (a * b > limit) return std::nullopt;
    return a * b;
}

// a + b, or nothing when the sum exceeds `limit`.
constexpr std::optional<uint64_t> checkedAdd(uint64_t a, uint64_t b,
                                             uint64_t limit = kMaxByteCount) {
    if (a > limit || b > limit - a) return std::nullopt;
    return a + b;
}

// n raised to the next whole multiple of the block size (unchanged when it is one).
constexpr uint64_t roundUpToBlock(uint64_t n) {
    return (n + kBlockBytes - 1) / kBlockBytes * kBlockBytes;
}

static_assert(kBlockBytes == 2880);
static_assert(roundUpToBlock(0) == 0 && roundUpToBlock(1) == 2880 && roundUpToBlock(2880) == 2880);
static_assert(!checkedMul(65536, 32768).has_value());
static_assert(checkedMul(32767, 32767).value() == 1073676289);
static_assert(!checkedAdd(kMaxByteCount, 1).has_value());
static_assert(!checkedMul(uint64_t{1} << 32, uint64_t{1} << 32, UINT64_MAX).has_value());

}  // namespace nebulite
