// A read's state, from ReadPrepare (or the ReadStart of a host that skips
// it) to ReadFinish: the header being kept, what its keywords say, where
// the image lies, the stream the file is read through and the tiles of a
// compressed image. See shell/operation.h for its lifetime.
#pragma once

#include <cstdint>

#include "header/header_keywords.h"
#include "options/open_options.h"
#include "options/resolve_open.h"
#include <type_traits>
#include <variant>

#include "import/row_source.h"
#include "import/tiled/tiled_rows.h"
#include "shell/input_stream.h"
#include "shell/module_memory.h"
#include "shell/operation.h"

namespace nebulite {

class ReadOperation final : public Operation {
public:
    static constexpr Kind kKind = Kind::read;
    ReadOperation() : Operation(kKind) {}

    // ---- What ReadStart learnt --------------------------------------------
    HeaderKeywords keys;         // the image header's keywords
    int64_t filePos = 0;        // bytes of header read so far
    int32_t cardsRead = 0;
    int64_t dataBytes = 0;      // bytes of the samples the host will receive from the file
    int64_t fileLength = 0;     // of the FITS bytes; 0 when unknown
    int64_t dataStart = 0;      // offset of the first byte of the image's data unit
    bool tiledDataWhole = false;  // a tiled image's table is known whole from the file's length
    int16_t planesOpened = 1;   // planes handed to the host
    uint32_t filePlanes[3] = {0, 1, 2};  // the file's plane (from 0) for each of them
    bool flipRows = false;      // the file's first row goes to the document's last
    int32_t toldRows = 0;       // the geometry the host was told
    int32_t toldColumns = 0;
    bool readReady = false;     // ReadStart described an image to read

    // ---- How it was asked to open, and how it does -------------------------
    options::OpenOptions asked;      // from the descriptor or a revert
    options::Message refusedValue;   // a descriptor value the options could not take
    bool reverting = false;          // the host handed back revertInfo of ours
    bool optionsGiven = false;       // the descriptor named at least one option
    options::ResolvedOpen resolved;  // the options measured against the file
    bool resolvedReady = false;
    int32_t floatExponent = 0;       // a 32-bit document's: document = physical x 2^-exponent

    // ---- What the read goes through ---------------------------------------
    InputStream input;
    // Where the rows come from, chosen once the image is found.
    std::variant<std::monostate, PlainRows, GzipRows, TiledRows> rowSource;
    RowSource* rows() {
        return std::visit(
            [](auto& source) -> RowSource* {
                if constexpr (std::is_same_v<std::decay_t<decltype(source)>, std::monostate>) return nullptr;
                else return &source;
            },
            rowSource);
    }

    // Why a file cannot be opened, as the user is told it: built here, in a
    // fixed buffer, so that nothing allocates or throws on the way.
    char refusal[200] = {};
};

}  // namespace nebulite
