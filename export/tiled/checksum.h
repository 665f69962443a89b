// CHECKSUM and DATASUM, as fpack writes them into every HDU: DATASUM is the
// 32-bit ones'-complement sum of the data unit's big-endian words, CHECKSUM
// sixteen characters chosen so that the whole HDU (header and data) sums to
// minus zero, which readers (fitsverify, astropy, cfitsio) check.
//
// The data unit is written out of order (the table's rows after the heap),
// so the sum takes each piece with its offset: a byte counts in the place
// it has within its 4-byte word.
#pragma once

#include <cstdint>
#include <span>

namespace nebulite::tiledsave {

class OnesSum {
public:
    // Adds `bytes` that stand at `offset` within the summed unit.
    void add(std::span<const uint8_t> bytes, uint64_t offset);
    // Adds another sum (ones'-complement addition).
    void add(uint32_t other);
    uint32_t value() const;

private:
    uint64_t sum_ = 0;
};

// The CHECKSUM text for an HDU whose header (with CHECKSUM = '0000000000000000')
// and data together sum to `sum`: the complement of the sum spelled in
// sixteen characters from '0' to 'r' avoiding punctuation, which adds the
// complement back when the header is summed again.
void checksumText(uint32_t sum, char (&text)[16]);

}  // namespace nebulite::tiledsave
