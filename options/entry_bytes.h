// A set of descriptor entries as bytes of the module's own: what the module
// keeps where only it reads it back (the revertInfo the host hands back on
// File > Revert, the record of how a document was opened, which a save
// reads). The host's descriptor format is the host's; this one is ours.
//
//   "NbOp", version (1 byte, 1), count (1 byte), then per entry:
//   key (4 bytes, big-endian), type (1 byte: ValueType), value:
//     integer  4 bytes, big-endian two's complement
//     floating 8 bytes, the IEEE double's bits, big-endian
//     boolean  1 byte, 0 or 1
//     enumerated  enum type and value, 4 bytes each
//     text     1 byte of length (at most 68), the bytes
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "options/descriptor_apply.h"

namespace nebulite::options {

// Room for every entry of the largest set: 16 entries of at most 73 bytes.
inline constexpr std::size_t kEntryBytesMax = 6 + 16 * 74;

// The bytes written into `out`, or nothing when `out` is too small.
std::optional<std::size_t> encodeEntries(std::span<const DescriptorEntry> entries, std::span<uint8_t> out);

// The entries of bytes this version wrote; nothing for anything else (a
// later version, damage): the caller then opens as if none were kept.
std::optional<DescriptorEntries> decodeEntries(std::span<const uint8_t> bytes);

}  // namespace nebulite::options
