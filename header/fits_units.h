// FITS layout constants and the block arithmetic built on them, with the
// checked size arithmetic every count derived from a file goes through.
//
// Every byte count the module derives from a file or from the host goes
// through these helpers in 64-bit arithmetic and is compared with a named
// limit before it is used for an allocation, a loop bound or an estimate.
// The 2880-byte block rules live here and in the rest of header/ only.
#pragma once

#include <cstdint>
#include <optional>

namespace nebulite {

constexpr uint32_t kCardBytes = 80;
constexpr uint32_t kCardsPerBlock = 36;
constexpr uint32_t kBlockBytes = kCardBytes * kCardsPerBlock;  // 2880

// The host's byte counts (estimate, positions, sizes) are 32-bit signed.
constexpr uint64_t kMaxByteCount = INT32_MAX;
// A primary header longer than this is taken as a damaged file rather than
// read into memory card by card: 16384 blocks is 47 MB of header text.
constexpr uint32_t kMaxHeaderBlocks = 16384;
constexpr uint64_t kMaxHeaderCards = uint64_t{kMaxHeaderBlocks} * kCardsPerBlock;
constexpr uint64_t kMaxHeaderBytes = uint64_t{kMaxHeaderBlocks} * kBlockBytes;

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
// The zero bytes (or blank cards' bytes) that take `n` bytes to a whole block.
constexpr uint64_t blockFill(uint64_t n) { return roundUpToBlock(n) - n; }
// True when `n` bytes end exactly on a block boundary.
constexpr bool atBlockBoundary(uint64_t n) { return n % kBlockBytes == 0; }
// Blocks that `n` bytes take.
constexpr uint64_t blocksFor(uint64_t n) { return roundUpToBlock(n) / kBlockBytes; }
// The bytes of `cards` cards, and of those cards in whole blocks.
constexpr uint64_t cardBytes(uint64_t cards) { return cards * kCardBytes; }
constexpr uint64_t blockedCardBytes(uint64_t cards) { return roundUpToBlock(cards * kCardBytes); }
// True when card `index` (from 0) is the last of its block.
constexpr bool lastCardOfBlock(uint64_t index) { return (index + 1) % kCardsPerBlock == 0; }

// The header of a file of `fileLength` bytes (0: unknown) whose data unit
// holds `dataBytes`: what the file holds beyond the data in whole blocks, at
// least one block, at most the largest whole number of blocks a 32-bit
// count takes. An estimate made before the header has been read to its end.
constexpr uint64_t headerBytesBeside(int64_t fileLength, uint64_t dataBytes) {
    int64_t header = fileLength - static_cast<int64_t>(roundUpToBlock(dataBytes));
    if (header <= 0) header = kBlockBytes;
    const uint64_t length = roundUpToBlock(static_cast<uint64_t>(header));
    return length > kMaxByteCount ? kMaxByteCount / kBlockBytes * kBlockBytes : length;
}

// Where the next header starts after a data unit of `dataBytes` from
// `dataStart`, or nothing past `limit`.
constexpr std::optional<uint64_t> nextHeaderOffset(uint64_t dataStart, uint64_t dataBytes, uint64_t limit) {
    return checkedAdd(dataStart, roundUpToBlock(dataBytes), limit);
}

static_assert(kBlockBytes == 2880);
static_assert(headerBytesBeside(0, 100) == 2880 && headerBytesBeside(3 * 2880 + 10, 2000) == 3 * 2880);
static_assert(roundUpToBlock(0) == 0 && roundUpToBlock(1) == 2880 && roundUpToBlock(2880) == 2880);
static_assert(blockFill(2881) == 2879 && blockFill(5760) == 0 && blocksFor(2881) == 2);
static_assert(!checkedMul(65536, 32768).has_value());
static_assert(checkedMul(32767, 32767).value() == 1073676289);
static_assert(!checkedAdd(kMaxByteCount, 1).has_value());
static_assert(!checkedMul(uint64_t{1} << 32, uint64_t{1} << 32, UINT64_MAX).has_value());

}  // namespace nebulite
