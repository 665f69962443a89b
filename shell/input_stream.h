// The FITS bytes of the file the host has open, whichever way they are
// stored: the file itself, or what a gzip file inflates to. Every reader
// (the file check, the header, the extension walk, the row sources) reads
// through one of these, so none of them knows whether the data is compressed.
//
// Positions are offsets into the FITS bytes, 64-bit. A plain file is read
// with exactly the host file calls a direct reader would make (one call per
// request, in pieces that fit the 16-bit read count); a gzip file is read in
// fixed pieces and inflated on the fly, never held whole. The stream belongs
// to one operation and frees what it holds when it goes.
#pragma once

#include <cstdint>

#include "header/header_reader.h"
#include "shell/module_memory.h"
#include "shell/plugin_state.h"

namespace nebulite {

// True when `bytes` (at least two) begin the way every gzip file begins.
bool isGzipMagic(const unsigned char* bytes, int64_t count);

class InputStream {
public:
    InputStream() = default;
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;
    ~InputStream() { close(); }

    // Rewinds the host's file and starts reading at its first byte. Whether the
    // file is gzip shows at the first read, from its first two bytes.
    void open(PluginState& state);
    // Frees what the stream holds; reading needs open again. Safe at any time.
    void close();

    // Up to `count` bytes into `out`; the number moved, short only where the
    // FITS bytes end. readErr when a read fails or the gzip data is corrupt,
    // eofErr when gzip data stops in the middle of a member, memFullErr when
    // the inflater gets no memory. Nothing happens once `result` holds an error.
    int64_t read(PluginState& state, void* out, int64_t count);
    // Exactly `count` bytes; eofErr when the FITS bytes end first.
    void readExact(PluginState& state, void* out, int64_t count);

    // Moves to `offset`. A plain file must get exactly there (readErr
    // otherwise); a gzip stream inflates forward to it, or starts over from the
    // beginning to go back. Past the end of a gzip stream the position stops at
    // the end, as reads past the end of a plain file find nothing.
    void seek(PluginState& state, int64_t offset);

    // Reads a gzip stream through to its end, so that zlib checks every
    // member's CRC and length: the rows a read used may have been whole while
    // the data was not. Does nothing for a plain file.
    void verifyToEnd(PluginState& state);

    int64_t position() const { return position_; }
    bool isGzip() const { return kind_ == Kind::gzip; }

    // The length of the FITS bytes, or -1 when it cannot be known: a plain
    // file's length; a gzip file's from its trailer (see input_stream.cpp).
    int64_t length(PluginState& state) const;
    // An offset the FITS bytes certainly end before: for a gzip file, what
    // deflate's largest ratio makes of its compressed length, so that a
    // header claiming a data unit beyond it is found out before anything
    // is inflated for it. INT64_MAX when nothing is known (and for a plain
    // file, whose reads find its end at no cost).
    int64_t reachableEnd(PluginState& state) const;

    struct Inflater;  // zlib's stream and the buffers a gzip file needs

private:
    enum class Kind : uint8_t {
        closed,     // not opened, or closed since
        undecided,  // opened, nothing read yet: the first bytes tell plain from gzip
        plain,
        gzip,
    };

    int64_t readFirst(PluginState& state, unsigned char* out, int64_t count);
    int64_t readPlain(PluginState& state, unsigned char* out, int64_t count);
    bool restartGzip(PluginState& state);

    Kind kind_ = Kind::closed;
    int64_t position_ = 0;
    Inflater* gz_ = nullptr;  // only while the stream is gzip
};

// The stream as the header reader's byte source, for the length of one
// call: failures land in the call's result, under the first-error rule.
class StreamSource final : public ByteSource {
public:
    StreamSource(PluginState& state, InputStream& input) : state_(state), input_(input) {}
    int64_t read(void* out, int64_t count) override { return input_.read(state_, out, count); }
    bool failed() const override { return state_.result != noErr; }

private:
    PluginState& state_;
    InputStream& input_;
};

}  // namespace nebulite
