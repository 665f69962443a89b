// What one header's keywords say, gathered card by card into typed values
// by one keyword table: the HDU's kind and structure (XTENSION, BITPIX,
// NAXIS, NAXISn, PCOUNT, GCOUNT, ZIMAGE, EXTNAME, EXTVER), and how its
// image's samples are encoded and shown (BZERO, BSCALE, BLANK, the display
// range). Pure: the module's reads, the extension walk and the tools all
// fill one of these the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace nebulite {

// FITS allows axes NAXIS1 to NAXIS999.
constexpr int32_t kMaxAxes = 999;

// ROWORDER's value: the row a capture program wrote first.
enum class RowOrderKeyword : uint8_t { absent, topDown, bottomUp, other };

// What a header's first card (or XTENSION's value) says it is.
enum class HduType : uint8_t { unknown, primary, image, binaryTable, asciiTable, other };

struct HeaderKeywords {
    HduType type = HduType::unknown;
    // BITPIX, NAXIS, NAXIS1 and NAXIS2 cards met; the reader resets it when
    // it has acted on a complete set.
    int32_t sizeCardsSeen = 0;
    bool bitpixSeen = false;
    bool naxisSeen = false;
    int64_t bitpix = 0;
    int64_t naxis = 0;
    int64_t axes[kMaxAxes] = {};     // NAXISn's value, 0 until its card is met
    bool axisSeen[kMaxAxes] = {};
    int64_t pcount = 0;
    int64_t gcount = 1;
    bool zimage = false;             // ZIMAGE = T: an image stored as a binary table
    char extname[72] = {};           // EXTNAME's value, NUL-terminated
    int64_t extver = 1;              // EXTVER (1 when absent, as the convention has it)
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
    // How capture programs say which way the rows run and what colour
    // filter each pixel had: ROWORDER, BAYERPAT (as written, NUL-terminated),
    // XBAYROFF, YBAYROFF.
    RowOrderKeyword rowOrder = RowOrderKeyword::absent;
    char bayerPattern[72] = {};
    bool bayerPatternSeen = false;  // BAYERPAT is there, whatever its value
    int64_t xBayerOffset = 0;
    int64_t yBayerOffset = 0;

    bool axisKnown(int32_t n) const { return n >= 1 && n <= kMaxAxes && axisSeen[n - 1]; }
    // NAXISn's value; `fallback` when its card was not met.
    int64_t axis(int32_t n, int64_t fallback = 0) const { return axisKnown(n) ? axes[n - 1] : fallback; }
    bool naxis1Seen() const { return axisKnown(1); }
    bool naxis2Seen() const { return axisKnown(2); }
    int64_t naxis1() const { return axis(1); }
    int64_t naxis2() const { return axis(2); }
    // A cube's planes: 1 when NAXIS3 is not there.
    int64_t naxis3() const { return axis(3, 1); }
    std::string_view extensionName() const { return extname; }

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
void noteKeyword(const char* card, HeaderKeywords& keys);

// Bytes in the data unit of a header of these values, axes[0..naxis-1]
// (a negative axis is unknown): |BITPIX| / 8 x GCOUNT x (PCOUNT + NAXIS1 x
// ... x NAXISn), with no axis product when NAXIS is 0. Nothing when a value
// is out of range or the size does not fit 63 bits.
std::optional<uint64_t> dataUnitBytes(int64_t bitpix, int64_t naxis, const int64_t* axes, int64_t pcount,
                                      int64_t gcount);
// The same for a header's keywords: nothing also when a card is missing.
std::optional<uint64_t> dataUnitBytes(const HeaderKeywords& keys);

}  // namespace nebulite
