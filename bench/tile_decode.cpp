// Tile decoding against cfitsio, in one process on the same file:
//
//   tile_decode FILE.fz RUNS
//
// cfitsio: fits_open_file + fits_read_img of the whole image (TSHORT for
// 8/16-bit images, TFLOAT for quantized floats, TINT for 32-bit) into a
// fresh buffer. Ours: the file read into memory, the table header described
// by the tiled-header code, every tile decoded by the codecs into the same
// kind of fresh buffer (tile integers, then the image's own sample type), as
// the module's row source will. Both sides touch fresh memory every run.
// Third, the module's tile decoder (import/tiled decodeTile: the codecs and
// the per-tile work around them, the tile's big-endian samples as the row
// source places them) into one tile's buffer, reused from tile to tile as
// the module reuses its band: no whole image, so no fresh memory beyond
// the file's bytes. The runs alternate (cfitsio, codecs, decodeTile, ...),
// so that other work on the machine slows all three alike; prints the
// median and the best of RUNS and the ratios of the medians, and checks
// that the pixels agree (decodeTile's once more, outside the timing).
#include <fitsio.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "codecs/gzip_tile.h"
#include "codecs/hcompress.h"
#include "codecs/quantize.h"
#include "codecs/raw_tile.h"
#include "codecs/rice.h"
#include "header/header_reader.h"
#include "import/tiled/tile_decode.h"
#include "import/tiled/tile_table.h"
#include "import/tiled/tiled_header.h"

namespace {

using namespace nebulite;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

struct Image {
    int bitpix = 0;
    std::vector<int16_t> i16;
    std::vector<int32_t> i32;
    std::vector<float> f32;
};

bool cfitsioRead(const char* path, Image& out) {
    int status = 0;
    fitsfile* f = nullptr;
    fits_open_file(&f, path, READONLY, &status);
    int hdutype = 0;
    fits_movabs_hdu(f, 2, &hdutype, &status);
    int bitpix = 0, naxis = 0;
    long axes[3] = {1, 1, 1};
    fits_get_img_param(f, 3, &bitpix, &naxis, axes, &status);
    const long n = axes[0] * axes[1] * axes[2];
    int anynul = 0;
    out.bitpix = bitpix;
    if (bitpix == 8 || bitpix == 16) {
        out.i16 = std::vector<int16_t>(static_cast<size_t>(n));
        fits_read_img(f, TSHORT, 1, n, nullptr, out.i16.data(), &anynul, &status);
    } else if (bitpix == 32) {
        out.i32 = std::vector<int32_t>(static_cast<size_t>(n));
        fits_read_img(f, TINT, 1, n, nullptr, out.i32.data(), &anynul, &status);
    } else {
        out.f32 = std::vector<float>(static_cast<size_t>(n));
        float nan = NAN;
        fits_read_img(f, TFLOAT, 1, n, &nan, out.f32.data(), &anynul, &status);
    }
    fits_close_file(f, &status);
    if (status != 0) std::fprintf(stderr, "cfitsio: status %d\n", status);
    return status == 0;
}

// The second HDU's header cards and data unit, from the file in memory,
// read by the module's header reader.
bool locateTable(const std::vector<uint8_t>& file, std::vector<char>& cards, size_t& dataStart) {
    MemorySource source(file);
    const HeaderRead primary = readHeader(source, HeaderStart::primary, [](const char*, const CardPlace&) { return true; });
    if (primary.end != HeaderEnd::complete) return false;  // the primary of an .fz has no data
    const HeaderRead table = readHeader(source, HeaderStart::extension, [&cards](const char* card, const CardPlace& place) {
        if (!place.afterEnd && !place.isEnd) cards.insert(cards.end(), card, card + kCardBytes);
        return true;
    });
    dataStart = static_cast<size_t>(source.position());
    return table.end == HeaderEnd::complete;
}

std::vector<uint8_t> readWhole(const char* path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<uint8_t> file(static_cast<size_t>(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return file;
}

// The file's table described, and where its data unit starts.
bool describe(const std::vector<uint8_t>& file, tiled::TiledImage& t, size_t& dataStart) {
    std::vector<char> cards;
    if (!locateTable(file, cards, dataStart)) return false;
    if (tiled::parseTiledHeader(cards.data(), static_cast<uint32_t>(cards.size() / kCardBytes), t) !=
        tiled::TiledHeaderError::none)
        return false;
    return dataStart + t.dataBytes <= file.size();
}

// The module's tile decoder over every tile, each into the same tile
// buffer; `check`, when given, sees every decoded tile.
template <typename Check>
bool moduleRead(const char* path, Check check) {
    const std::vector<uint8_t> file = readWhole(path);
    tiled::TiledImage t;
    size_t dataStart = 0;
    if (!describe(file, t, dataStart)) return false;
    const tiled::TileWorkspaceSize need = tiled::tileWorkspaceSize(t);
    std::vector<int64_t> wide(need.wide);
    std::vector<int32_t> ints(need.ints);
    std::vector<double> reals(need.reals);
    std::vector<uint8_t> bytes(need.bytes);
    const tiled::TileWorkspace work{wide, ints, reals, bytes};
    std::vector<uint8_t> tile(t.maxTilePixels * tiled::sampleBytes(t));
    const uint8_t* data = file.data() + dataStart;
    for (uint64_t row = 0; row < t.rows; ++row) {
        const std::span<const uint8_t> rowBytes(data + row * t.rowBytes, t.rowBytes);
        tiled::TileArrays arrays{rowBytes, {}, {}, {}};
        std::span<const uint8_t>* targets[3] = {&arrays.compressed, &arrays.gzipped, &arrays.uncompressed};
        const tiled::HeapColumn* columns[3] = {&t.compressed, &t.gzipCompressed, &t.uncompressed};
        for (int k = 0; k < 3; ++k) {
            tiled::HeapArray a;
            const tiled::DescriptorCheck c = tiled::heapArray(rowBytes, *columns[k], t.heapBytes, a);
            if (c != tiled::DescriptorCheck::ok && c != tiled::DescriptorCheck::absent) return false;
            *targets[k] = std::span<const uint8_t>(data + t.heapOffset + a.offset, a.bytes);
        }
        if (tiled::decodeTile(t, row, arrays, work, tile) != tiled::TileResult::ok) {
            std::fprintf(stderr, "decodeTile: row %llu failed\n", static_cast<unsigned long long>(row + 1));
            return false;
        }
        if (!check(t, row, tile)) return false;
    }
    return true;
}

// Whether decodeTile's tile `row` holds the peer's pixels.
bool sameAsPeer(const Image& peer, const tiled::TiledImage& t, uint64_t row, const std::vector<uint8_t>& tile) {
    int64_t start[tiled::kMaxTiledAxes], size[tiled::kMaxTiledAxes];
    const uint64_t n = tiled::tileGeometry(t, row, start, size);
    const uint64_t width = static_cast<uint64_t>(t.axes[0]);
    const uint64_t height = t.naxis > 1 ? static_cast<uint64_t>(t.axes[1]) : 1;
    const uint32_t sample = tiled::sampleBytes(t);
    const uint64_t across = static_cast<uint64_t>(size[0]);
    const uint64_t rows = t.naxis > 1 ? static_cast<uint64_t>(size[1]) : 1;
    for (uint64_t i = 0; i < n; ++i) {
        const uint64_t x = static_cast<uint64_t>(start[0]) + i % across;
        const uint64_t y = (t.naxis > 1 ? static_cast<uint64_t>(start[1]) : 0) + (i / across) % rows;
        const uint64_t z = (t.naxis > 2 ? static_cast<uint64_t>(start[2]) : 0) + i / (across * rows);
        const uint64_t at = (z * height + y) * width + x;
        uint64_t bits = 0;
        for (uint32_t b = 0; b < sample; ++b) bits = bits << 8 | tile[i * sample + b];
        if (t.bitpix == -32) {
            const float v = std::bit_cast<float>(static_cast<uint32_t>(bits));
            if (!(v == peer.f32[at] || (std::isnan(v) && std::isnan(peer.f32[at])))) return false;
        } else if (t.bitpix <= 16 && t.bitpix > 0) {
            if (static_cast<int16_t>(bits) != peer.i16[at] && static_cast<uint8_t>(bits) != peer.i16[at]) return false;
        } else if (t.bitpix == 32) {
            if (static_cast<int32_t>(bits) != peer.i32[at]) return false;
        }
    }
    return true;
}

bool oursRead(const char* path, Image& out) {
    const std::vector<uint8_t> file = readWhole(path);
    tiled::TiledImage t;
    size_t dataStart = 0;
    if (!describe(file, t, dataStart)) return false;
    uint64_t total = 1;
    for (uint32_t n = 0; n < t.naxis; ++n) total *= static_cast<uint64_t>(t.axes[n]);
    out.bitpix = t.bitpix;
    const bool floats = t.bitpix < 0;
    if (floats)
        out.f32 = std::vector<float>(total);
    else if (t.bitpix <= 16)
        out.i16 = std::vector<int16_t>(total);
    else
        out.i32 = std::vector<int32_t>(total);
    std::vector<int32_t> tile(t.maxTilePixels);
    std::vector<int64_t> wide;
    std::vector<uint8_t> scratch, inflated;
    std::vector<float> values(floats ? t.maxTilePixels : 0);
    const uint8_t* heap = file.data() + dataStart + t.heapOffset;
    int64_t start[tiled::kMaxTiledAxes], size[tiled::kMaxTiledAxes];
    for (uint64_t row = 0; row < t.rows; ++row) {
        const std::span<const uint8_t> rowBytes(file.data() + dataStart + row * t.rowBytes, t.rowBytes);
        const uint64_t n = tiled::tileGeometry(t, row, start, size);
        tiled::HeapArray a;
        if (tiled::heapArray(rowBytes, t.compressed, t.heapBytes, a) != tiled::DescriptorCheck::ok) return false;
        const std::span<const uint8_t> stream(heap + a.offset, a.bytes);
        const uint64_t width = static_cast<uint64_t>(t.axes[0]);
        const uint64_t height = t.naxis > 1 ? static_cast<uint64_t>(t.axes[1]) : 1;
        const uint64_t plane = t.naxis > 2 ? static_cast<uint64_t>(start[2]) : 0;
        const uint64_t y0 = t.naxis > 1 ? static_cast<uint64_t>(start[1]) : 0;
        const uint64_t first = (plane * height + y0) * width + static_cast<uint64_t>(start[0]);
        // Tiles of whole rows lie in the image as they are decoded: 16-bit
        // Rice tiles go straight into it, as the module's rows will take them.
        if (t.algorithm == codecs::Algorithm::rice && t.bitpix == 16 && static_cast<uint64_t>(size[0]) == width) {
            const auto r = codecs::riceDecode(stream, t.riceBytePix, t.riceBlockSize,
                                              std::span<int16_t>(out.i16.data() + first, n));
            if (r != codecs::CodecResult::ok) return false;
            continue;
        }
        const std::span<int32_t> ints(tile.data(), n);
        codecs::CodecResult r = codecs::CodecResult::unsupported;
        switch (t.algorithm) {
            case codecs::Algorithm::rice: r = codecs::riceDecode(stream, t.riceBytePix, t.riceBlockSize, ints); break;
            case codecs::Algorithm::hcompress: {
                const auto rows = static_cast<uint32_t>(t.naxis > 1 ? size[1] : 1);
                const auto cols = static_cast<uint32_t>(size[0]);
                wide.resize(n);
                scratch.resize(codecs::hcompressScratchBytes(rows, cols));
                r = codecs::hcompressDecode(stream, rows, cols, wide, scratch);
                for (uint64_t i = 0; i < n; ++i)
                    ints[i] = static_cast<int32_t>(t.bitpix == 16 ? std::clamp<int64_t>(wide[i], -32768, 32767) : wide[i]);
                break;
            }
            case codecs::Algorithm::gzip1: {
                inflated.resize(n * 4);
                const auto z = codecs::inflateTile(stream, inflated);
                r = z.result == codecs::CodecResult::ok
                        ? codecs::bigEndianToInt32(std::span<const uint8_t>(inflated.data(), z.bytes),
                                                   codecs::elementBytesOf(z.bytes, n), ints)
                        : z.result;
                break;
            }
            default: break;
        }
        if (r != codecs::CodecResult::ok) {
            std::fprintf(stderr, "row %llu: %s\n", static_cast<unsigned long long>(row + 1), codecs::codecResultName(r));
            return false;
        }
        if (floats) {
            codecs::Unquantize p;
            p.scale = tiled::scalarReal(rowBytes, t.zscaleColumn, t.zscale);
            p.zero = tiled::scalarReal(rowBytes, t.zzeroColumn, t.zzero);
            p.dither = t.quantization == tiled::Quantization::subtractive2   ? codecs::Dither::subtractive2
                       : t.quantization == tiled::Quantization::subtractive1 ? codecs::Dither::subtractive1
                                                                             : codecs::Dither::none;
            p.hasNull = t.zblankKeyword || t.zblankColumn.present;
            p.nullValue = static_cast<int32_t>(tiled::scalarInteger(rowBytes, t.zblankColumn, t.zblank));
            p.ditherSeed = t.ditherSeed;
            p.tileRow = row + 1;
            codecs::unquantize(ints, p, std::span<float>(values.data(), n));
        }
        // Into the image: the tile's rows (2-D tiling; a third axis of one plane per tile).
        const uint64_t tileRows = t.naxis > 1 ? static_cast<uint64_t>(size[1]) : 1;
        const auto across = static_cast<size_t>(size[0]);
        for (uint64_t y = 0; y < tileRows; ++y) {
            const uint64_t dst = first + y * width;
            const uint64_t src = y * across;
            if (floats)
                std::copy_n(values.data() + src, across, out.f32.data() + dst);
            else if (t.bitpix <= 16)
                std::transform(tile.data() + src, tile.data() + src + across, out.i16.data() + dst,
                               [](int32_t v) { return static_cast<int16_t>(v); });
            else
                std::copy_n(tile.data() + src, across, out.i32.data() + dst);
        }
    }
    return true;
}

}  // namespace

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE.fz RUNS\n", argv[0]);
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[2]));
    std::vector<double> peerTimes, oursTimes, moduleTimes;
    Image peer, ours;
    auto noCheck = [](const tiled::TiledImage&, uint64_t, const std::vector<uint8_t>&) { return true; };
    for (int run = 0; run < runs; ++run) {
        peer = Image{};
        ours = Image{};
        auto t0 = Clock::now();
        if (!cfitsioRead(argv[1], peer)) return 1;
        auto t1 = Clock::now();
        if (!oursRead(argv[1], ours)) {
            std::fprintf(stderr, "ours: failed on %s\n", argv[1]);
            return 1;
        }
        auto t2 = Clock::now();
        if (!moduleRead(argv[1], noCheck)) {
            std::fprintf(stderr, "decodeTile: failed on %s\n", argv[1]);
            return 1;
        }
        auto t3 = Clock::now();
        peerTimes.push_back(seconds(t0, t1));
        oursTimes.push_back(seconds(t1, t2));
        moduleTimes.push_back(seconds(t2, t3));
    }
    size_t differ = 0;
    for (size_t i = 0; i < peer.i16.size(); ++i) differ += peer.i16[i] != ours.i16[i];
    for (size_t i = 0; i < peer.i32.size(); ++i) differ += peer.i32[i] != ours.i32[i];
    for (size_t i = 0; i < peer.f32.size(); ++i)
        differ += !(peer.f32[i] == ours.f32[i] || (std::isnan(peer.f32[i]) && std::isnan(ours.f32[i])));
    const bool moduleSame =
        moduleRead(argv[1], [&](const tiled::TiledImage& t, uint64_t row, const std::vector<uint8_t>& tile) {
            return sameAsPeer(peer, t, row, tile);
        });
    const char* name = std::strrchr(argv[1], '/');
    const double peerMedian = median(peerTimes), oursMedian = median(oursTimes), moduleMedian = median(moduleTimes);
    std::printf("%-28s cfitsio %6.3f s (best %6.3f)   codecs %6.3f s (best %6.3f) ratio %.2f   "
                "decodeTile %6.3f s (best %6.3f) ratio %.2f   %s\n",
                name ? name + 1 : argv[1], peerMedian, *std::min_element(peerTimes.begin(), peerTimes.end()),
                oursMedian, *std::min_element(oursTimes.begin(), oursTimes.end()), oursMedian / peerMedian,
                moduleMedian, *std::min_element(moduleTimes.begin(), moduleTimes.end()), moduleMedian / peerMedian,
                differ == 0 && moduleSame ? "same pixels" : "PIXELS DIFFER");
    return differ == 0 && moduleSame ? 0 : 1;
}
