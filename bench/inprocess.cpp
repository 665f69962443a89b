// The module alone, without the CLI's image files: Host::read of a FITS
// file into a document, and Host::save of a document into a FITS file,
// against cfitsio doing the same in the same process.
//
//   nebulite_inprocess open FILE.fits [RUNS]
//   nebulite_inprocess save ROWS COLUMNS DEPTH OUT_DIR [RUNS]
//
// Every run allocates its buffers anew on both sides: the host's document
// (and whatever the module allocates) and the peer's image are fresh memory
// each time, as in a real open. The figures separate what the module and
// the reference host cost from what the CLI's PGM/PPM code adds.
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
#include <memory>
#include <string>
#include <vector>

#include "bench/measure.h"
#include "header/fits_units.h"
#include "host/host.h"

extern "C" void ENTRYPOINT(int16_t selector, void* params, intptr_t* data, int16_t* result);

namespace {

using bench::measure;
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

// Two passes a row at a time, holding the host image and one row, as the
// module does.
void peerOpenFloat(fitsfile* f, size_t columns, size_t rows, std::vector<uint16_t>& out) {
    int status = 0, anynul = 0, s1 = 0, s2 = 0;
    double bscale = 1.0, bzero = 0.0;
    fits_read_key(f, TDOUBLE, "BSCALE", &bscale, nullptr, &s1);
    fits_read_key(f, TDOUBLE, "BZERO", &bzero, nullptr, &s2);
    if (s1 != 0 || bscale == 0.0) bscale = 1.0;
    if (s2 != 0) bzero = 0.0;
    std::vector<double> row(columns);  // float32 and float64 samples alike
    double lo = INFINITY, hi = -INFINITY;
    for (size_t r = 0; r < rows; ++r) {
        fits_read_img(f, TDOUBLE, static_cast<LONGLONG>(r * columns + 1), static_cast<LONGLONG>(columns), nullptr,
                      row.data(), &anynul, &status);
        for (double stored : row) {
            double v = physical32(stored, bscale, bzero);
            if (std::isnan(v)) continue;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    out.resize(columns * rows);
    for (size_t r = 0; r < rows; ++r) {
        fits_read_img(f, TDOUBLE, static_cast<LONGLONG>(r * columns + 1), static_cast<LONGLONG>(columns), nullptr,
                      row.data(), &anynul, &status);
        for (size_t c = 0; c < columns; ++c) out[r * columns + c] = scaleToHost(physical32(row[c], bscale, bzero), lo, hi);
    }
    if (status != 0) fail("cfitsio read failed");
}

// 16-bit images as the module's rules make them: unsigned when BZERO is 0
// or absent, (t+1)/2 of the clamped, truncated physical value.
std::vector<uint16_t> peerOpen(const char* path, int* depthOut) {
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
        peerOpenFloat(f, static_cast<size_t>(axes[0]), n / static_cast<size_t>(axes[0]), out);
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

int runOpen(const char* path, int runs) {
    size_t samples = 0;
    int depth = 0;
    Timing module = measure(runs, [&] {
        Host host(&ENTRYPOINT);
        File file = File::disk(path);
        auto outcome = host.read(file);
        if (!outcome.ok()) fail("the module could not open the file");
        Document d = host.takeDocument();
        samples = d.image.sampleCount();
        depth = d.image.depth;
    });
    int peerDepth = 0;
    Timing peer = measure(runs, [&] { peerOpen(path, &peerDepth); });
    double mib = static_cast<double>(samples) * (depth / 8) / (1 << 20);
    std::printf("open %s: %zu samples, depth %d, host size %.0f MiB\n", path, samples, depth, mib);
    std::printf("  module+host read  best %.3f s  minflt %ld  peak +%.0f MiB (%.2f x host)\n", module.best,
                module.faults, module.peakKiB / 1024.0, module.peakKiB / 1024.0 / mib);
    std::printf("  cfitsio peer      best %.3f s  minflt %ld  peak +%.0f MiB (%.2f x host)   ratio %.2f\n",
                peer.best, peer.faults, peer.peakKiB / 1024.0, peer.peakKiB / 1024.0 / mib,
                module.best / peer.best);
    return 0;
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
    if (argc >= 6 && std::strcmp(argv[1], "save") == 0)
        return runSave(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), argv[5],
                       argc > 6 ? std::atoi(argv[6]) : 3);
    std::fprintf(stderr,
                 "usage: nebulite_inprocess open FILE.fits [RUNS]\n"
                 "       nebulite_inprocess save ROWS COLUMNS DEPTH OUT_DIR [RUNS]\n");
    return 2;
}
