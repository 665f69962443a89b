// A write's state, from WritePrepare to WriteFinish: the header made ready
// for the file and what the samples are written with. See
// shell/operation.h for its lifetime.
#pragma once

#include <cstdint>

#include "export/float_samples.h"
#include "export/save_plan.h"
#include "shell/operation.h"

namespace nebulite {

class WriteOperation final : public Operation {
public:
    static constexpr Kind kKind = Kind::write;
    WriteOperation() : Operation(kKind) {}

    double bzero = 0.0;          // 32768 when 16-bit samples are stored signed
    bool isColor = false;
    int16_t planesWritten = 0;
    uint64_t bytesWritten = 0;

    SavePlan plan;               // BITPIX, scaling and row order the save writes
    options::SaveOptions plannedWith;  // the options the plan was made for

    // ---- A 32-bit document's --------------------------------------------------
    BlankRule blank;             // how undefined values are stored
    FloatWriteStats written;     // what the samples written were
    // The header's cards the data fills in once written: the range keywords,
    // and a card kept for the HISTORY of values clamped (-1: none).
    static constexpr int kMaxRangeCards = 4;
    int32_t rangeLowSlots[kMaxRangeCards] = {-1, -1, -1, -1};
    int32_t rangeHighSlots[kMaxRangeCards] = {-1, -1, -1, -1};
    int32_t historySlot = -1;
};

}  // namespace nebulite
