// A write's state, from WritePrepare to WriteFinish: the header made ready
// for the file and what the samples are written with. See
// shell/operation.h for its lifetime.
#pragma once

#include <cstdint>

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
};

}  // namespace nebulite
