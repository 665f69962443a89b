// The module-level variables of one read or one write. They live in the
// library's own memory and outlast the selector calls of that operation.
#pragma once

#include <cstdint>

namespace nebulite {

struct FitsSession {
    // ---- The header text (header/) ---------------------------------------
    char* cardBuffer = nullptr;    // header text in whole blocks; null when none
    uint32_t cardBufferSize = 0;   // its size in bytes, a whole number of blocks
    int32_t cardPos = 0;           // slot of the next card appendCard stores
    int32_t headerBlocks = 0;      // blocks of the header read or kept
    bool endSeen = false;          // the END card has been read
    bool idCardPresent = false;    // a NEBULITE card is in the header

    // ---- Reading (import/) ------------------------------------------------
    int64_t filePos = 0;           // bytes of header read so far
    int32_t cardsRead = 0;
    int32_t keyCardsSeen = 0;      // BITPIX, NAXIS, NAXIS1, NAXIS2 met since the last estimate
    int16_t fileBitpix = 0;        // |BITPIX|
    int16_t fileSampleBytes = 0;
    int16_t hostDepth = 0;
    int16_t hostSampleBytes = 0;
    bool bitpixNegative = false;   // floating-point samples
    bool isColor = false;
    double bzero = 0.0;
    double bscale = 1.0;
    double rangeLow = 0.0;
    double rangeHigh = 0.0;
    bool rangeIsOffset = false;    // rangeHigh is an offset from rangeLow
    bool rangeKeywordSeen = false;
    int64_t dataBytes = 0;         // bytes of the samples the host will receive from the file
    int64_t fileLength = 0;
    int64_t dataStart = 0;     // file offset of the first byte of the image's data unit
    bool tiledDataWhole = false;   // a tiled image's table is known whole from the file's length

    // What the size keywords said, for the checks before the host is told.
    bool bitpixSeen = false;
    bool naxisSeen = false;
    bool naxis1Seen = false;
    bool naxis2Seen = false;
    int64_t bitpixValue = 0;
    int64_t naxisValue = 0;
    int64_t naxis1Value = 0;
    int64_t naxis2Value = 0;
    int64_t naxis3Value = 1;
    bool blankSeen = false;
    int64_t blankValue = 0;
    int16_t planesOpened = 1;      // planes handed to the host
    int32_t toldRows = 0;          // the geometry the host was told
    int32_t toldColumns = 0;
    bool readReady = false;        // ReadStart described an image to read

    // Samples kept between the two passes of a wide-sample read.
    void* sampleStore = nullptr;
    uint64_t sampleCursor = 0;     // index of the next sample in the store
    void* rowBlock = nullptr;      // one file row of wide samples

    // ---- Writing (export/) ------------------------------------------------
    uint64_t bytesWritten = 0;
    int16_t planesWritten = 0;
};

extern FitsSession session;

}  // namespace nebulite
