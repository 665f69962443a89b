// The FITS bytes of the file the host has open, whichever way they are
// stored: the file itself, or what a gzip file inflates to. Every reader
// (the file check, the header, the extension walk, the pixel roads) reads
// through here, so none of them knows whether the data is compressed.
//
// Positions are offsets into the FITS bytes, 64-bit. A plain file is read
// with exactly the host file calls a direct reader would make (one call per
// request, in pieces that fit the 16-bit read count); a gzip file is read in
// fixed pieces and inflated on the fly, never held whole.
#pragma once

#include <cstdint>

#include "shell/plugin_state.h"

namespace nebulite {

// Rewinds the host's file and starts reading at its first byte. Whether the
// file is gzip shows at the first read, from its first two bytes.
void inputOpen(PluginState& state);
// Frees what the stream holds; reading needs inputOpen again. Safe at any time.
void inputClose();

// Up to `count` bytes into `out`; the number moved, short only where the
// FITS bytes end. readErr when a read fails or the gzip data is corrupt,
// eofErr when gzip data stops in the middle of a member, memFullErr when
// the inflater gets no memory. Nothing happens once `result` holds an error.
int64_t inputRead(PluginState& state, void* out, int64_t count);
// Exactly `count` bytes; eofErr when the FITS bytes end first.
void inputReadExact(PluginState& state, void* out, int64_t count);

// Moves to `offset`. A plain file must get exactly there (readErr
// otherwise); a gzip stream inflates forward to it, or starts over from the
// beginning to go back. Past the end of a gzip stream the position stops at
// the end, as reads past the end of a plain file find nothing.
void inputSeek(PluginState& state, int64_t offset);

// Reads a gzip stream through to its end, so that zlib checks every
// member's CRC and length: the rows a read used may have been whole while
// the data was not. Does nothing for a plain file.
void inputVerifyToEnd(PluginState& state);

int64_t inputPosition();
bool inputIsGzip();
// The largest offset the stream can position to.
int64_t inputMaxOffset();

// The length of the FITS bytes, or -1 when it cannot be known: a plain
// file's length; a gzip file's from its trailer (see input_stream.cpp).
int64_t inputLength(PluginState& state);

// True when `bytes` (at least two) begin the way every gzip file begins.
bool isGzipMagic(const unsigned char* bytes, int64_t count);

}  // namespace nebulite
