// The module alone, without the CLI's image files: Host::read of a FITS
// file into a document, and Host::save of a document into a FITS file,
// against cfitsio doing the same in the same process.
//
//   nebulite_inprocess open FILE.fits [RUNS]
//   nebulite_inprocess open32 FILE.fits [RUNS]     (into a 32-bit document)
//   nebulite_inprocess save ROWS COLUMNS DEPTH OUT_DIR [RUNS]
//
// Every run allocates its buffers anew on both sides: the host's document
// (and whatever the module allocates) and the peer's image are fresh memory
// each time, as in a real open. The figures separate what the module and
// the reference host cost from what the CLI's PGM/PPM code adds.
//
// The module's runs and the peers' alternate (module, peer, module, peer,
// ...), so that a build running beside the benchmark slows both alike;
// each prints its median and its best.
//
// A tile-compressed float image has two peers: cfitsio reading it a row at
// a time in two passes (what the module does, and the other float peers
// do), and cfitsio reading the whole image at once with fits_read_img
// TFLOAT, which decodes every tile once into a float image of its own
// (twice the host's 16-bit document), then finds the range and maps it.
//
// Peak memory is what a job adds to the process: the high-water mark is
// reset before each run (/proc/self/clear_refs) and read after it, less the
// resident size the run started from.
#include <fitsio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "bench/measure.h"
#include "header/fits_units.h"
#include "host/host.h"

extern "C" void ENTRYPOINT(int16_t selector, void* params, intptr_t* data, int16_t* result);

namespace {

using bench::measure;
using bench::measureInterleaved;
using bench::Timing;
using nebulite::host::Document;
using nebulite::host::File;
using nebulite::host::Host;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "nebulite_inprocess: %s\n", what.c_str());
    std::exit(1);
}

// The module's rules for float samples without range cards: the finite
// physical values mapped from their smallest to their largest onto 0..32768.
double physical32(double stored, double bscale, double bzero) {
    if (!std::isfinite(stored)) return NAN;
    double p = static_cast<double>(stored) * bscale + bzero;
    return std::isfinite(p) ? p : NAN;
}

uint16_t scaleToHost(double v, double lo, double hi) {
    if (!(hi > lo) || std::isnan(v)) return 0;
    double x = (v - lo) / (hi - lo) * 32768.0;
    if (!(x > 0.0)) return 0;
    if (x >= 32768.0) return 32768;
    return static_cast<uint16_t>(std::floor(x + 0.5));
}

// One row as doubles, NaN for a null. A float32 image is read as floats:
// cfitsio unquantizes a tile-compressed one straight into doubles when asked
// for TDOUBLE, skipping the rounding to float32 its samples have; and
// without a null value a quantized tile's nulls come back as numbers.
void readRow(fitsfile* f, int bitpix, size_t r, std::vector<double>& row, std::vector<float>& narrow, int& status) {
    int anynul = 0;
    float nanf = NAN;
    double nand = NAN;
    const auto first = static_cast<LONGLONG>(r * row.size() + 1);
    if (bitpix == FLOAT_IMG) {
        fits_read_img(f, TFLOAT, first, static_cast<LONGLONG>(row.size()), &nanf, narrow.data(), &anynul, &status);
        std::copy(narrow.begin(), narrow.end(), row.begin());
    } else {
        fits_read_img(f, TDOUBLE, first, static_cast<LONGLONG>(row.size()), &nand, row.data(), &anynul, &status);
    }
}

// Two passes a row at a time, holding the host image and one row, as the
// module does.
void peerOpenFloat(fitsfile* f, int bitpix, size_t columns, size_t rows, std::vector<uint16_t>& out) {
    int status = 0, s1 = 0, s2 = 0;
    double bscale = 1.0, bzero = 0.0;
    fits_read_key(f, TDOUBLE, "BSCALE", &bscale, nullptr, &s1);
    fits_read_key(f, TDOUBLE, "BZERO", &bzero, nullptr, &s2);
    if (s1 != 0 || bscale == 0.0) bscale = 1.0;
    if (s2 != 0) bzero = 0.0;
    std::vector<double> row(columns);  // float32 and float64 samples alike
    std::vector<float> narrow(columns);
    double lo = INFINITY, hi = -INFINITY;
    for (size_t r = 0; r < rows; ++r) {
        readRow(f, bitpix, r, row, narrow, status);
        for (double stored : row) {
            double v = physical32(stored, bscale, bzero);
            if (std::isnan(v)) continue;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    out.resize(columns * rows);
    for (size_t r = 0; r < rows; ++r) {
        readRow(f, bitpix, r, row, narrow, status);
        for (size_t c = 0; c < columns; ++c) out[r * columns + c] = scaleToHost(physical32(row[c], bscale, bzero), lo, hi);
    }
    if (status != 0) fail("cfitsio read failed");
}

// The whole image at once, as a cfitsio program that can afford the memory
// reads a tile-compressed one: fits_read_img TFLOAT decodes every tile once
// into a float image of its own, then the range and the mapping run over it.
void peerOpenFloatWhole(fitsfile* f, size_t columns, size_t rows, std::vector<uint16_t>& out) {
    int status = 0, anynul = 0, s1 = 0, s2 = 0;
    double bscale = 1.0, bzero = 0.0;
    fits_read_key(f, TDOUBLE, "BSCALE", &bscale, nullptr, &s1);
    fits_read_key(f, TDOUBLE, "BZERO", &bzero, nullptr, &s2);
    if (s1 != 0 || bscale == 0.0) bscale = 1.0;
    if (s2 != 0) bzero = 0.0;
    const size_t n = columns * rows;
    std::unique_ptr<float[]> image(new float[n]);
    float nan = NAN;
    fits_read_img(f, TFLOAT, 1, static_cast<LONGLONG>(n), &nan, image.get(), &anynul, &status);
    if (status != 0) fail("cfitsio read failed");
    double lo = INFINITY, hi = -INFINITY;
    for (size_t i = 0; i < n; ++i) {
        double v = physical32(image[i], bscale, bzero);
        if (std::isnan(v)) continue;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    out.resize(n);
    for (size_t i = 0; i < n; ++i) out[i] = scaleToHost(physical32(image[i], bscale, bzero), lo, hi);
}

// 16-bit images as the module's rules make them: unsigned when BZERO is 0
// or absent, (t+1)/2 of the clamped, truncated physical value.
// `whole`: a float image read at once (peerOpenFloatWhole) rather than in
// two passes of rows.
std::vector<uint16_t> peerOpen(const char* path, int* depthOut, bool whole = false) {
    fitsfile* f = nullptr;
    int status = 0, bitpix = 0, naxis = 0, anynul = 0;
    long axes[3] = {1, 1, 1};
    if (fits_open_image(&f, path, READONLY, &status)) fail("cfitsio cannot open the file");
    fits_get_img_param(f, 3, &bitpix, &naxis, axes, &status);
    size_t n = static_cast<size_t>(axes[0]) * static_cast<size_t>(axes[1]) *
               (naxis == 3 && axes[2] >= 3 ? 3u : 1u);
    std::vector<uint16_t> out;
    fits_set_bscale(f, 1.0, 0.0, &status);
    if (bitpix == 8) {
        // The host keeps bytes; a byte vector would be the fair buffer, so
        // read into a byte buffer of the same size as the module's.
        std::unique_ptr<unsigned char[]> bytes(new unsigned char[n]);
        fits_read_img(f, TBYTE, 1, static_cast<LONGLONG>(n), nullptr, bytes.get(), &anynul, &status);
        out.assign(1, bytes[n - 1]);  // keep the read from being optimised away
        *depthOut = 8;
    } else if (bitpix == 16) {
        double bscale = 1.0, bzero = 0.0;
        int s1 = 0, s2 = 0;
        fits_read_key(f, TDOUBLE, "BSCALE", &bscale, nullptr, &s1);
        fits_read_key(f, TDOUBLE, "BZERO", &bzero, nullptr, &s2);
        if (s1 != 0 || bscale == 0.0) bscale = 1.0;
        if (s2 != 0) bzero = 0.0;
        static uint16_t table[65536];
        for (uint32_t raw = 0; raw < 65536; ++raw) {
            double s = bzero == 0.0 ? raw : static_cast<double>(static_cast<int16_t>(static_cast<uint16_t>(raw)));
            double v = s * bscale + bzero;
            if (!(v >= 0.0)) v = 0.0;
            if (v > 65535.0) v = 65535.0;
            table[raw] = static_cast<uint16_t>((static_cast<uint32_t>(v) + 1) / 2);
        }
        out.resize(n);  // zeroed, as the host's document is
        fits_read_img(f, TSHORT, 1, static_cast<LONGLONG>(n), nullptr, out.data(), &anynul, &status);
        for (auto& v : out) v = table[v];
        *depthOut = 16;
    } else if (bitpix == FLOAT_IMG || bitpix == DOUBLE_IMG) {
        if (whole)
            peerOpenFloatWhole(f, static_cast<size_t>(axes[0]), n / static_cast<size_t>(axes[0]), out);
        else
            peerOpenFloat(f, bitpix, static_cast<size_t>(axes[0]), n / static_cast<size_t>(axes[0]), out);
        *depthOut = 16;
    } else {
        fail("the in-process peer reads BITPIX 8, 16, -32 and -64 only");
    }
    if (status != 0) fail("cfitsio read failed");
    fits_close_file(f, &status);
    return out;
}

void peerSave(const Document& d, const std::string& path) {
    fitsfile* f = nullptr;
    int status = 0;
    const auto& im = d.image;
    long axes[3] = {im.columns, im.rows, 3};
    std::string bang = "!" + path;
    fits_create_file(&f, bang.c_str(), &status);
    fits_create_img(f, im.depth == 16 ? USHORT_IMG : BYTE_IMG, im.planes == 3 ? 3 : 2, axes, &status);
    auto n = static_cast<LONGLONG>(im.sampleCount());
    if (im.depth == 16) {
        std::vector<uint16_t> physical(im.wide.size());
        for (size_t i = 0; i < physical.size(); ++i)
            physical[i] = static_cast<uint16_t>(std::min<uint32_t>(2u * im.wide[i], 65535u));
        fits_write_img(f, TUSHORT, 1, n, physical.data(), &status);
    } else {
        fits_write_img(f, TBYTE, 1, n, const_cast<uint8_t*>(im.narrow.data()), &status);
    }
    fits_close_file(f, &status);
    if (status != 0) fail("cfitsio write failed");
}

// The least a format module can do through the host's interface: the host
// copies each row into the module's buffer, and the module writes the
// buffer (here 64 FITS blocks at a time, as the block writer does, with
// the same 2880-byte header first). No FITS code and no host; what the
// module saves above this is its own cost, what cfitsio saves below it is
// the copy it never makes, writing from the caller's image in one call.
void floorSave(const Document& d, const std::string& path) {
    const auto& im = d.image;
    const size_t row = static_cast<size_t>(im.columns) * (im.depth / 8);
    const uint8_t* samples = im.depth == 16 ? reinterpret_cast<const uint8_t*>(im.wide.data()) : im.narrow.data();
    constexpr size_t kBuffer = 64 * nebulite::kBlockBytes;
    std::vector<uint8_t> buffer(kBuffer + row);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) fail("cannot create " + path);
    std::setvbuf(f, nullptr, _IONBF, 0);
    std::vector<uint8_t> header(nebulite::kBlockBytes, ' ');
    bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
    size_t filled = 0;
    for (size_t r = 0; ok && r < static_cast<size_t>(im.rows) * im.planes; ++r) {
        std::memcpy(buffer.data() + filled, samples + r * row, row);
        filled += row;
        if (filled >= kBuffer) {
            ok = std::fwrite(buffer.data(), 1, kBuffer, f) == kBuffer;
            filled -= kBuffer;
            std::memmove(buffer.data(), buffer.data() + kBuffer, filled);
        }
    }
    if (ok && filled > 0) ok = std::fwrite(buffer.data(), 1, filled, f) == filled;
    if (std::fclose(f) != 0 || !ok) fail("the floor's write failed");
}

// A tile-compressed float image: the one a whole-image peer reads too.
bool compressedFloat(const char* path) {
    fitsfile* f = nullptr;
    int status = 0, bitpix = 0, compressed = 0;
    if (fits_open_image(&f, path, READONLY, &status)) return false;
    fits_get_img_type(f, &bitpix, &status);
    compressed = fits_is_compressed_image(f, &status);
    fits_close_file(f, &status);
    return status == 0 && compressed != 0 && bitpix < 0;
}

void printTiming(const char* name, const Timing& t, double mib, const Timing* against) {
    std::printf("  %-26s median %.3f s  best %.3f s  minflt %ld  peak +%.0f MiB (%.2f x host)", name, t.median(),
                t.best, t.faults, t.peakKiB / 1024.0, t.peakKiB / 1024.0 / mib);
    if (against != nullptr)
        std::printf("   module/this: median %.2f best %.2f", against->median() / t.median(), against->best / t.best);
    std::printf("\n");
}

int runOpen(const char* path, int runs) {
    size_t samples = 0;
    int depth = 0;
    auto module = [&] {
        Host host(&ENTRYPOINT);
        File file = File::disk(path);
        auto outcome = host.read(file);
        if (!outcome.ok()) fail("the module could not open the file");
        Document d = host.takeDocument();
        samples = d.image.sampleCount();
        depth = d.image.depth;
    };
    int peerDepth = 0;
    auto peer = [&] { peerOpen(path, &peerDepth); };
    auto whole = [&] { peerOpen(path, &peerDepth, true); };
    const bool withWhole = compressedFloat(path);
    std::array<Timing, 3> t;
    if (withWhole) {
        t = measureInterleaved(runs, module, peer, whole);
    } else {
        auto two = measureInterleaved(runs, module, peer);
        t[0] = two[0];
        t[1] = two[1];
    }
    // Outside the timing: the peers' samples must be the module's (float
    // images, which the peers map by the same rules; the others' peers keep
    // only what the timing needs).
    const char* check = "";
    if (withWhole || peerDepth == 16) {
        Host host(&ENTRYPOINT);
        File file = File::disk(path);
        if (!host.read(file).ok()) fail("the module could not open the file");
        const Document d = host.takeDocument();
        std::vector<uint16_t> rows = peerOpen(path, &peerDepth);
        bool same = rows.size() != d.image.wide.size() || rows == d.image.wide;
        if (withWhole) same = same && peerOpen(path, &peerDepth, true) == d.image.wide;
        check = rows.size() != d.image.wide.size() ? ", peer samples not kept"
                : same                               ? ", same samples"
                                                     : ", SAMPLES DIFFER";
    }
    double mib = static_cast<double>(samples) * (depth / 8) / (1 << 20);
    std::printf("open %s: %zu samples, depth %d, host size %.0f MiB, %d interleaved runs, fresh buffers%s\n", path,
                samples, depth, mib, runs, check);
    printTiming("module+host read", t[0], mib, nullptr);
    printTiming("cfitsio peer", t[1], mib, &t[0]);
    if (withWhole) printTiming("cfitsio whole, TFLOAT", t[2], mib, &t[0]);
    return 0;
}

// Into a 32-bit document: the module with the depth option at 32 (played as
// a recorded action plays it, no dialog) against a cfitsio program that
// reads the whole image as floats (fits_read_img TFLOAT, NaN for the nulls
// of compressed tiles) into the very buffer it keeps as the document, then
// takes the values by the module's power of two (the smallest at or above
// the largest finite |value|, never below 1), NaN and infinities 0. The
// peer's buffer is not zeroed first, the host's document is. Float32 images
// without BSCALE and BZERO, whose physical values are their own.
std::unique_ptr<float[]> peerOpen32(const char* path, size_t& count) {
    fitsfile* f = nullptr;
    int status = 0, bitpix = 0, naxis = 0, anynul = 0;
    long axes[3] = {1, 1, 1};
    if (fits_open_image(&f, path, READONLY, &status)) fail("cfitsio cannot open the file");
    fits_get_img_param(f, 3, &bitpix, &naxis, axes, &status);
    double bscale = 1.0, bzero = 0.0;
    int s1 = 0, s2 = 0;
    fits_read_key(f, TDOUBLE, "BSCALE", &bscale, nullptr, &s1);
    fits_read_key(f, TDOUBLE, "BZERO", &bzero, nullptr, &s2);
    if (bitpix != FLOAT_IMG || (s1 == 0 && bscale != 1.0) || (s2 == 0 && bzero != 0.0))
        fail("the 32-bit document peer reads float32 images without BSCALE and BZERO only");
    count = static_cast<size_t>(axes[0]) * static_cast<size_t>(axes[1]) * (naxis == 3 && axes[2] >= 3 ? 3u : 1u);
    std::unique_ptr<float[]> image(new float[count]);
    float nan = NAN;
    const int compressed = fits_is_compressed_image(f, &status);
    fits_read_img(f, TFLOAT, 1, static_cast<LONGLONG>(count), compressed ? &nan : nullptr, image.get(), &anynul,
                  &status);
    fits_close_file(f, &status);
    if (status != 0) fail("cfitsio read failed");
    float top = 0.0f;
    for (size_t i = 0; i < count; ++i) {
        const float a = std::fabs(image[i]);
        if (a > top && a <= std::numeric_limits<float>::max()) top = a;
    }
    int exponent = 0;
    if (top > 1.0f) {
        const double mantissa = std::frexp(static_cast<double>(top), &exponent);
        if (mantissa == 0.5) --exponent;
    }
    const float scale = std::ldexp(1.0f, -exponent);
    for (size_t i = 0; i < count; ++i) image[i] = std::isfinite(image[i]) ? image[i] * scale : 0.0f;
    return image;
}

nebulite::host::Setup depth32() {
    using nebulite::host::DescriptorItem;
    using nebulite::host::fourCharCode;
    nebulite::host::Setup setup;
    setup.script.present = true;
    setup.script.playInfo = plugInDialogSilent;
    setup.script.descriptor.items = {
        DescriptorItem::ofEnumerated(fourCharCode("nbDp"), fourCharCode("nbTD"), fourCharCode("nb32"))};
    return setup;
}

int runOpen32(const char* path, int runs) {
    size_t samples = 0;
    auto module = [&] {
        Host host(&ENTRYPOINT, depth32());
        File file = File::disk(path);
        if (!host.read(file).ok()) fail("the module could not open the file at depth 32");
        Document d = host.takeDocument();
        if (d.image.depth != 32) fail("the module opened the file at depth " + std::to_string(d.image.depth));
        samples = d.image.sampleCount();
    };
    size_t count = 0;
    auto peer = [&] { peerOpen32(path, count); };
    auto t = measureInterleaved(runs, module, peer);
    // Outside the timing: the peer's floats must be the module's, bit for bit.
    Host host(&ENTRYPOINT, depth32());
    File file = File::disk(path);
    if (!host.read(file).ok()) fail("the module could not open the file at depth 32");
    const Document d = host.takeDocument();
    std::unique_ptr<float[]> theirs = peerOpen32(path, count);
    const bool same = count == d.image.real.size() &&
                      std::memcmp(theirs.get(), d.image.real.data(), count * sizeof(float)) == 0;
    const double mib = static_cast<double>(samples) * 4 / (1 << 20);
    std::printf("open %s into a 32-bit document: %zu samples, host size %.0f MiB, %d interleaved runs, fresh "
                "buffers, %s\n",
                path, samples, mib, runs, same ? "same floats" : "FLOATS DIFFER");
    printTiming("module+host read", t[0], mib, nullptr);
    printTiming("cfitsio whole, TFLOAT", t[1], mib, &t[0]);
    return same ? 0 : 1;
}

int runSave(int rows, int columns, int depth, const std::string& dir, int runs) {
    Document d;
    d.image.rows = rows;
    d.image.columns = columns;
    d.image.planes = 1;
    d.image.depth = static_cast<int16_t>(depth);
    d.image.mode = depth == 16 ? plugInModeGray16 : plugInModeGrayScale;
    d.image.allocate();
    for (size_t i = 0; i < d.image.sampleCount(); ++i) {
        if (depth == 16)
            d.image.wide[i] = static_cast<uint16_t>((i * 2654435761u >> 7) % 32769);
        else
            d.image.narrow[i] = static_cast<uint8_t>(i * 2654435761u >> 11);
    }
    std::string mine = dir + "/inprocess-module.fits", theirs = dir + "/inprocess-peer.fits";
    // Both write a new file each time: an old one is removed (and its
    // pages dropped) before the clock starts, and the page cache is given
    // the same amount of dirty data on both sides.
    Timing module = measure(
        runs,
        [&] {
            Host host(&ENTRYPOINT);
            File file = File::disk(mine);
            if (!host.save(d, file).ok()) fail("the module could not save");
        },
        [&] { std::remove(mine.c_str()); });
    Timing peer = measure(runs, [&] { peerSave(d, theirs); }, [&] { std::remove(theirs.c_str()); });
    const std::string bare = dir + "/inprocess-floor.fits";
    Timing floor = measure(runs, [&] { floorSave(d, bare); }, [&] { std::remove(bare.c_str()); });
    std::remove(bare.c_str());
    std::printf("save %dx%d depth %d: host size %.0f MiB\n", columns, rows, depth,
                static_cast<double>(d.image.sampleCount()) * (depth / 8) / (1 << 20));
    std::printf("  module+host save  best %.3f s  minflt %ld\n", module.best, module.faults);
    std::printf("  cfitsio peer      best %.3f s  minflt %ld   ratio %.2f\n", peer.best, peer.faults,
                module.best / peer.best);
    std::printf("  floor: row copies + buffered writes, no module  best %.3f s   ratio to cfitsio %.2f\n",
                floor.best, floor.best / peer.best);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "open") == 0)
        return runOpen(argv[2], argc > 3 ? std::atoi(argv[3]) : 3);
    if (argc >= 3 && std::strcmp(argv[1], "open32") == 0)
        return runOpen32(argv[2], argc > 3 ? std::atoi(argv[3]) : 3);
    if (argc >= 6 && std::strcmp(argv[1], "save") == 0)
        return runSave(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), argv[5],
                       argc > 6 ? std::atoi(argv[6]) : 3);
    std::fprintf(stderr,
                 "usage: nebulite_inprocess open FILE.fits [RUNS]\n"
                 "       nebulite_inprocess open32 FILE.fits [RUNS]\n"
                 "       nebulite_inprocess save ROWS COLUMNS DEPTH OUT_DIR [RUNS]\n");
    return 2;
}
