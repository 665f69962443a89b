// The keywords that fix an image's geometry and sample encoding, gathered
// from its header card by card into typed values. Pure: the header reader,
// the extension walk and the tools all fill one of these the same way.
#pragma once

#include <cstdint>

namespace nebulite {

struct ImageKeywords {
    // BITPIX, NAXIS, NAXIS1 and NAXIS2 cards met; the reader resets it when
    // it has acted on a complete set.
    int32_t sizeCardsSeen = 0;
    bool bitpixSeen = false;
    bool naxisSeen = false;
    bool naxis1Seen = false;
    bool naxis2Seen = false;
    int64_t bitpix = 0;
    int64_t naxis = 0;
    int64_t naxis1 = 0;
    int64_t naxis2 = 0;
    int64_t naxis3 = 1;
    double bzero = 0.0;
    double bscale = 1.0;
    bool blankSeen = false;
    int64_t blank = 0;
    // The display range: DATAMIN/DATAMAX and their relatives.
    double rangeLow = 0.0;
    double rangeHigh = 0.0;
    bool rangeIsOffset = false;  // rangeHigh is an offset from rangeLow
    bool rangeSeen = false;
    bool endSeen = false;     // END
    bool identified = false;  // a NEBULITE card: the header has been handled already

    // |BITPIX| in bits, kept within 16 bits (anything that large is refused).
    int16_t fileBits() const;
    int16_t fileSampleBytes() const { return static_cast<int16_t>(fileBits() / 8); }
    // The host's depth for these samples: 8, or 16 for everything wider.
    int16_t hostDepth() const { return fileBits() > 16 ? int16_t{16} : fileBits(); }
    int16_t hostSampleBytes() const { return static_cast<int16_t>(hostDepth() / 8); }
    bool isFloat() const { return bitpix < 0; }
    bool isCube() const { return naxis == 3; }
};

// Applies the effect of the card's keyword, when the table has a row for it.
// Keywords are compared whole, so NAXIS never matches NAXIS1.
void noteImageKeyword(const char* card, ImageKeywords& keys);

}  // namespace nebulite
