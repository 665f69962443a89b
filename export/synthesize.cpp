#include "export/synthesize.h"

#include <cstring>

#include "export/write_layout.h"
#include "header/card_buffer.h"
#include "header/card_text.h"
#include "header/identification.h"
#include "shell/geometry.h"

namespace nebulite {

namespace {

// Keyword, value indicator and a value whose last character is in column 30.
void putValueCard(char* card, const char* keyword, std::string_view value) {
    std::memcpy(card, keyword, 8);
    std::memcpy(card + 8, "= ", 2);
    putRightAligned(card, value, 30);
}

void putIntegerCard(char* card, const char* keyword, int64_t value) {
    char digits[24];
    putValueCard(card, keyword, decimalText(value, digits));
}

}  // namespace

void synthesizeHeader(PluginState& state, WriteOperation& write) {
    const FormatRecord& record = *state.formatRecord;
    int16_t planes = planesToWrite(record.imageMode, record.planes);
    write.isColor = planes > 1;
    write.planesWritten = planes;
    // Whatever non-header cards were there, the block starts clean.
    char* text = write.header.text();
    std::memset(text, ' ', kBlockBytes);
    uint32_t slot = 0;
    auto next = [&]() { return text + kCardBytes * slot++; };
    putValueCard(next(), "SIMPLE  ", "T");
    // A 32-bit document without a header of its own is IEEE floats.
    putIntegerCard(next(), "BITPIX  ", record.depth == 32 ? -32 : record.depth);
    putIntegerCard(next(), "NAXIS   ", write.isColor ? 3 : 2);
    const ImageSize size = imageSizeOf(record);
    putIntegerCard(next(), "NAXIS1  ", size.columns);
    putIntegerCard(next(), "NAXIS2  ", size.rows);
    if (write.isColor) putIntegerCard(next(), "NAXIS3  ", planes);
    bool wide = record.depth == 16;
    putValueCard(next(), "BZERO   ", wide ? "32768.0" : "0.0");
    write.bzero = wide ? 32768.0 : 0.0;
    putValueCard(next(), "BSCALE  ", "1.0");
    // A new document saved the way FITS images are drawn, first row at the
    // bottom: capture programs and viewers read which way from ROWORDER.
    if (write.plan.newBottomUp) setCardText(next(), "ROWORDER= 'BOTTOM-UP'");
    makeIdentificationCard(next(), IdentificationForm::synthesized);
    std::memcpy(next(), "END", 3);
}

}  // namespace nebulite
