#include "ui/image_list.h"

namespace nebulite::ui {

bool isListedImage(const options::HduFacts& hdu) {
    bool image = hdu.kind == options::HduKind::image || hdu.kind == options::HduKind::compressedImage;
    return image && hdu.naxis >= 2;
}

uint32_t listedImageCount(const options::FileFacts& file) {
    uint32_t n = 0;
    for (const options::HduFacts& hdu : file.hdus)
        if (isListedImage(hdu)) ++n;
    return n;
}

std::optional<uint32_t> hduOfRow(const options::FileFacts& file, int32_t row) {
    if (row < 0) return std::nullopt;
    int32_t at = 0;
    for (std::size_t i = 0; i < file.hdus.size(); ++i) {
        if (!isListedImage(file.hdus[i])) continue;
        if (at == row) return static_cast<uint32_t>(i);
        ++at;
    }
    return std::nullopt;
}

int32_t rowOfHdu(const options::FileFacts& file, uint32_t hdu) {
    if (hdu >= file.hdus.size() || !isListedImage(file.hdus[hdu])) return -1;
    int32_t row = 0;
    for (uint32_t i = 0; i < hdu; ++i)
        if (isListedImage(file.hdus[i])) ++row;
    return row;
}

RowText imageRowText(const options::FileFacts& file, std::span<const CompressionName> compression, uint32_t hdu) {
    RowText row;
    if (hdu >= file.hdus.size()) return row;
    const options::HduFacts& facts = file.hdus[hdu];
    row.appendUnsigned(hdu).append("\t");
    if (facts.hasExtname) {
        row.appendPrintable(facts.extname.view());
        if (facts.extver != 1) row.append(",").appendInteger(facts.extver);
    } else if (hdu == 0) {
        row.append("(primary)");
    }
    row.append("\t").appendUnsigned(facts.naxis1).append(" x ").appendUnsigned(facts.naxis2);
    if (facts.naxis >= 3) row.append(" x ").appendUnsigned(facts.naxis3);
    row.append("\t").appendInteger(facts.bitpix).append("\t");
    if (hdu < compression.size() && !compression[hdu].empty())
        row.appendPrintable(compression[hdu].view());
    else
        row.append(facts.kind == options::HduKind::compressedImage ? "tiled" : "none");
    return row;
}

}  // namespace nebulite::ui
