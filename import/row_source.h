// Where the pixel roads get the rows of the image's data unit: one
// interface, three kinds. The roads ask for bytes, go back to the first row
// and ask whether what they read was whole; they never ask which kind they
// read from (libtiff's codec hook is the model).
//
//   PlainRows   the data unit as the file holds it
//   GzipRows    the same inside a gzip stream, whose length can lie and
//               whose checks pass only at its end
//   TiledRows   a tile-compressed image's tiles, decoded band by band
//               (import/tiled/tiled_rows.h)
#pragma once

#include <cstdint>
#include <span>

#include "import/sample_conversion.h"
#include "shell/input_stream.h"
#include "shell/plugin_state.h"

namespace nebulite {

// What the file's length says about the bytes a read needs.
enum class DataExtent {
    unknown,   // the length could not be found
    whole,     // every byte from the data start to the last row read is there
    cutShort,  // the file ends before that
};

DataExtent dataExtent(int64_t fileLength, int64_t dataStart, int64_t dataBytes);

class RowSource {
public:
    RowSource() = default;
    RowSource(const RowSource&) = delete;
    RowSource& operator=(const RowSource&) = delete;
    virtual ~RowSource() = default;

    // What a file of `fileLength` bytes (0: unknown) holds of the rows.
    virtual DataExtent extent(int64_t fileLength) const = 0;
    // Ready for the first row. `whole`: the file's length already showed
    // every byte the rows need.
    virtual void begin(PluginState& state, bool whole) = 0;
    // The next `count` bytes of the data unit, as the uncompressed file
    // would hold them; eofErr when they are not there.
    virtual void read(PluginState& state, unsigned char* out, int64_t count) = 0;
    // Back to the first row, for another pass.
    virtual void restart(PluginState& state) = 0;
    // To the first row of the file's plane `plane` (from 0). Where the reads
    // already stand there (planes taken in their order), nothing moves.
    virtual void seekPlane(PluginState& state, uint32_t plane) = 0;
    // Whether the bytes read so far are the file's, as far as it can tell:
    // a gzip stream is read to its end, where zlib's checks are.
    virtual void verify(PluginState& state) = 0;

    // For a first pass that wants only the range: widens `range` by the
    // defined physical values (`rules`) of the file's planes `planes` (from
    // 0), when the source can find them for less than reading the rows. It
    // reads what the rows would and fails (in `state`) where they would;
    // the caller restarts afterwards, as after a pass over the rows. False,
    // nothing read, when it cannot: the caller reads the rows. (A tiled
    // image's quantized tiles give their range without being unquantized.)
    virtual bool physicalRange(PluginState&, const WideRules&, std::span<const uint32_t>, WideRange&) {
        return false;
    }
};

class PlainRows : public RowSource {
public:
    // The rows of a data unit at `dataStart` whose planes take `planeBytes`
    // each; the reads need its first `dataBytes`.
    PlainRows(InputStream& input, int64_t dataStart, int64_t dataBytes, int64_t planeBytes)
        : input_(input), dataStart_(dataStart), dataBytes_(dataBytes), planeBytes_(planeBytes) {}
    DataExtent extent(int64_t fileLength) const override;
    void begin(PluginState& state, bool whole) override;
    void read(PluginState& state, unsigned char* out, int64_t count) override;
    void restart(PluginState& state) override;
    void seekPlane(PluginState& state, uint32_t plane) override;
    void verify(PluginState&) override {}

protected:
    InputStream& input_;
    int64_t dataStart_;
    int64_t dataBytes_;
    int64_t planeBytes_;
};

class GzipRows final : public PlainRows {
public:
    // `reachableEnd`: what the stream can inflate to at most
    // (InputStream::reachableEnd).
    GzipRows(InputStream& input, int64_t dataStart, int64_t dataBytes, int64_t planeBytes, int64_t reachableEnd)
        : PlainRows(input, dataStart, dataBytes, planeBytes), reachableEnd_(reachableEnd) {}
    // A gzip trailer gives the length of its own member only, modulo 4 GiB:
    // too short a length there may be a file of several members or a huge
    // one, so it says nothing, and the roads that find a cut file by reading
    // it apply. Rows beyond what the file can inflate to are cut for certain.
    DataExtent extent(int64_t fileLength) const override;
    // Restarting inflates again from the file's start.
    void verify(PluginState& state) override { input_.verifyToEnd(state); }

private:
    int64_t reachableEnd_;
};

// The extent of a gzip stream's data unit: `plain` is what the length says
// (see GzipRows::extent).
DataExtent gzipExtent(DataExtent plain, int64_t dataStart, int64_t dataBytes, int64_t reachableEnd);

}  // namespace nebulite
