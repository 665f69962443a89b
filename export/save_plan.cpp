#include "export/save_plan.h"

#include "header/header_keywords.h"

namespace nebulite {

namespace {

bool knownBitpix(int64_t b) { return b == 8 || b == 16 || b == 32 || b == 64 || b == -32 || b == -64; }

}  // namespace

SavePlan planSave(int16_t depth, const CardBuffer& header, bool headerKept, const std::optional<OpenRecord>& opened,
                  const options::SaveOptions& options) {
    SavePlan plan;
    plan.depth = depth;
    plan.bitpix = depth;
    plan.flipRows = opened && opened->flipped;
    // A new document (no header of its own) may go out turned over; one
    // opened from FITS goes back the way it came.
    if (!headerKept && !opened && options.orientation == options::Orientation::sky) {
        plan.flipRows = true;
        plan.newBottomUp = true;
    }
    if (opened) {
        plan.stretch = opened->used.mapping;
        plan.demosaiced = opened->used.debayer != options::Debayer::off;
        plan.demosaic = opened->used.demosaic;
    }
    if (depth != 32) return plan;
    plan.bitpix = -32;
    if (!opened || !opened->floats) return plan;
    plan.floatExponent = opened->floatExponent;
    if (options.floatBitpix == options::FloatBitpix::minus32 || !headerKept) return plan;
    // The header's own encoding, as the open read it.
    HeaderKeywords keys;
    for (uint32_t i = 0; i * kCardBytes < header.keptBytes(); ++i) {
        const char* card = header.cardAt(i);
        noteKeyword(card, keys);
        if (keys.endSeen) break;
    }
    if (!keys.bitpixSeen || !knownBitpix(keys.bitpix)) return plan;
    plan.bitpix = static_cast<int16_t>(keys.bitpix);
    plan.keepScaling = true;
    plan.bzero = keys.bzero;
    plan.bscale = keys.bscale == 0.0 ? 1.0 : keys.bscale;
    return plan;
}

}  // namespace nebulite
