#include "cli/mosaic_info.h"

#include <string_view>

#include "header/header_keywords.h"
#include "options/cfa_pattern.h"

namespace nebulite::cli {

namespace {

std::string rowOrderText(RowOrderKeyword order) {
    switch (order) {
        case RowOrderKeyword::topDown: return "TOP-DOWN";
        case RowOrderKeyword::bottomUp: return "BOTTOM-UP";
        case RowOrderKeyword::other: return "other";
        case RowOrderKeyword::absent: break;
    }
    return "";
}

}  // namespace

MosaicInfo mosaicInfo(const std::vector<std::string>& cards) {
    HeaderKeywords keys;
    for (const std::string& card : cards)
        if (card.size() == 80) noteKeyword(card.data(), keys);
    MosaicInfo info;
    info.hasBayerpat = keys.bayerPatternSeen;
    info.bayerpat = keys.bayerPattern;
    std::string_view named = keys.bayerPattern;
    while (!named.empty() && named.front() == ' ') named.remove_prefix(1);
    const options::CfaPattern pattern = options::cfaPatternNamed(named);
    if (pattern != options::CfaPattern::none) info.pattern = options::cfaPatternName(pattern);
    info.xOffset = keys.xBayerOffset;
    info.yOffset = keys.yBayerOffset;
    info.rowOrder = rowOrderText(keys.rowOrder);
    const uint8_t doubts = options::mosaicDoubts(keys.bayerPattern, keys.bayerPatternSeen, keys.xBayerOffset,
                                                 keys.yBayerOffset, keys.rowOrder == RowOrderKeyword::other);
    info.doubts = std::string(options::mosaicDoubtText(doubts, keys.xBayerOffset, keys.yBayerOffset).view());

    // As the options resolve it: a pattern, and one plane to make colour of
    // (a cube that still names a pattern was demosaiced already).
    const int64_t planes = keys.naxis >= 3 ? keys.naxis3() : 1;
    if (pattern == options::CfaPattern::none) {
        info.autoSays = info.hasBayerpat ? "opens grey: BAYERPAT names no Bayer pattern"
                                         : "opens grey: the header names no colour-filter pattern";
    } else if (planes != 1) {
        info.autoSays = "opens the planes as they are: a cube of " + std::to_string(planes) + " planes";
    } else {
        const uint64_t rows = keys.naxis2() > 0 ? static_cast<uint64_t>(keys.naxis2()) : 0;
        const options::CfaPattern first = options::patternAtFirstStoredPixel(
            pattern, keys.xBayerOffset, keys.yBayerOffset, keys.rowOrder == RowOrderKeyword::bottomUp, rows);
        info.autoDemosaics = true;
        info.firstPixel = options::cfaPatternName(first);
        info.autoSays = "demosaics it, " + info.firstPixel + " at the first stored pixel";
    }
    return info;
}

}  // namespace nebulite::cli
