#include "import/hdu_facts.h"

#include <string_view>

namespace nebulite {

namespace {

using options::HduKind;

HduKind kindOf(const HeaderKeywords& keys) {
    switch (keys.type) {
        case HduType::primary:
        case HduType::image: return HduKind::image;
        case HduType::binaryTable: return keys.zimage ? HduKind::compressedImage : HduKind::binaryTable;
        case HduType::asciiTable: return HduKind::asciiTable;
        case HduType::unknown:
        case HduType::other: break;
    }
    return HduKind::other;
}

options::RowOrder rowOrderOf(RowOrderKeyword order) {
    switch (order) {
        case RowOrderKeyword::topDown: return options::RowOrder::topDown;
        case RowOrderKeyword::bottomUp: return options::RowOrder::bottomUp;
        case RowOrderKeyword::absent:
        case RowOrderKeyword::other: break;
    }
    return options::RowOrder::unknown;
}

uint64_t axisOrZero(int64_t value) { return value < 0 ? 0 : static_cast<uint64_t>(value); }

int16_t bitpixOf(int64_t bitpix) {
    return bitpix < INT16_MIN || bitpix > INT16_MAX ? int16_t{0} : static_cast<int16_t>(bitpix);
}

void colourFilter(const HeaderKeywords& keys, options::HduFacts& facts) {
    // Blanks before the name are as insignificant as those after it.
    std::string_view named = keys.bayerPattern;
    while (!named.empty() && named.front() == ' ') named.remove_prefix(1);
    facts.bayer = options::cfaPatternNamed(named);
    facts.xBayerOffset = keys.xBayerOffset;
    facts.yBayerOffset = keys.yBayerOffset;
    facts.mosaicDoubts = options::mosaicDoubts(keys.bayerPattern, keys.bayerPatternSeen, keys.xBayerOffset,
                                               keys.yBayerOffset, keys.rowOrder == RowOrderKeyword::other);
}

void nameAndColour(const HeaderKeywords& keys, options::HduFacts& facts) {
    const std::string_view name = keys.extensionName();
    facts.hasExtname = !name.empty();
    facts.extname = options::ExtName(name);
    facts.extver = keys.extver < INT32_MIN || keys.extver > INT32_MAX ? 0 : static_cast<int32_t>(keys.extver);
    facts.rowOrder = rowOrderOf(keys.rowOrder);
    colourFilter(keys, facts);
}

}  // namespace

options::HduFacts hduFactsOf(const HeaderKeywords& keys) {
    options::HduFacts facts;
    facts.kind = kindOf(keys);
    nameAndColour(keys, facts);
    facts.bitpix = bitpixOf(keys.bitpix);
    facts.naxis = keys.naxis < 0 || keys.naxis > kMaxAxes ? uint16_t{0} : static_cast<uint16_t>(keys.naxis);
    facts.naxis1 = axisOrZero(keys.naxis1());
    facts.naxis2 = axisOrZero(keys.naxis2());
    // Planes are a cube's third axis; an image of more axes opens as its
    // first plane, as it always has.
    facts.naxis3 = keys.naxis == 3 ? axisOrZero(keys.naxis3()) : 1;
    return facts;
}

options::HduFacts compressedHduFacts(const HeaderKeywords& table, const tiled::TiledImage& image) {
    options::HduFacts facts;
    facts.kind = HduKind::compressedImage;
    nameAndColour(table, facts);
    facts.bitpix = static_cast<int16_t>(image.bitpix);
    facts.naxis = static_cast<uint16_t>(image.naxis);
    facts.naxis1 = image.naxis > 0 ? static_cast<uint64_t>(image.axes[0]) : 0;
    facts.naxis2 = image.naxis > 1 ? static_cast<uint64_t>(image.axes[1]) : 0;
    facts.naxis3 = image.naxis == 3 ? static_cast<uint64_t>(image.axes[2]) : 1;
    return facts;
}

}  // namespace nebulite
