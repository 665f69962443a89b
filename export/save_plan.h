// What a save writes for the document in the host's record: BITPIX, the
// scaling of the stored samples, which way the rows go. 8- and 16-bit
// documents write as they always have; a 32-bit document opened from FITS
// goes back to its file's BITPIX, BZERO and BSCALE (its values divided by
// the power of two they were opened with), anything else to BITPIX -32.
#pragma once

#include <cstdint>
#include <optional>

#include "document/open_record.h"
#include "header/card_buffer.h"
#include "options/save_options.h"

namespace nebulite {

struct SavePlan {
    int16_t depth = 8;            // the document's: 8, 16 or 32
    int16_t bitpix = 8;           // BITPIX written
    bool keepScaling = false;     // the kept header's BZERO and BSCALE stay, and the samples follow them
    double bzero = 0.0;           // a 32-bit document's stored = (value x 2^exponent - bzero) / bscale
    double bscale = 1.0;
    int32_t floatExponent = 0;
    bool flipRows = false;        // the document's last row is the file's first
    bool newBottomUp = false;     // a new document saved sky: its header says ROWORDER = 'BOTTOM-UP'
    // What the open did that the saved header tells of (HISTORY cards):
    // the stretch and its points, the demosaic and its method.
    options::MappingChoice stretch;
    bool demosaiced = false;
    options::Demosaic demosaic = options::Demosaic::bilinear;
};

// `header`: the kept header (held when the document kept one), before it is
// brought up to date; `opened`: how the document was opened, if known.
SavePlan planSave(int16_t depth, const CardBuffer& header, bool headerKept, const std::optional<OpenRecord>& opened,
                  const options::SaveOptions& options);

// Bytes of one stored sample.
constexpr uint32_t storedSampleBytes(int16_t bitpix) {
    return static_cast<uint32_t>(bitpix < 0 ? -bitpix : bitpix) / 8;
}

}  // namespace nebulite
