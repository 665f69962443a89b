// Opening a one-shot-colour frame in colour, in one process: the module and
// the reference host demosaicing a 16-bit mosaic (both methods) beside the
// module opening the same scene stored as three planes (the same RGB
// document, nothing demosaiced), and beside a peer that reads the mosaic
// with cfitsio and demosaics it with OpenCV: bilinear on the 16-bit samples,
// and VNG, which OpenCV offers for 8-bit samples only.
//
//   nebulite_demosaic_open MOSAIC.fits PLANES.fits [RUNS]
//
// MOSAIC.fits: a 2-D 16-bit image with BAYERPAT = 'RGGB' (no offsets,
// top-down); PLANES.fits: its scene as a 3-plane 16-bit cube. Every run
// allocates its document or its images anew. Each job shows its best wall
// time and its least processor time (every thread of the process: OpenCV
// may spread its work over the threads it names), both against the
// three-plane open; on a shared machine the processor times are the steadier
// comparison. Peak memory is what a job adds to the process, shown against
// the 16-bit RGB document.
#include <fitsio.h>

#include <cstdio>
#include <cstdlib>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "bench/measure.h"
#include "cli/option_descriptors.h"
#include "host/host.h"

extern "C" void ENTRYPOINT(int16_t selector, void* params, intptr_t* data, int16_t* result);

namespace {

using bench::measure;
using bench::Timing;
using nebulite::host::File;
using nebulite::host::Host;
namespace options = nebulite::options;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "nebulite_demosaic_open: %s\n", what.c_str());
    std::exit(1);
}

// The module's open, with the options an action would play (none: an
// interactive open with nothing chosen). Returns the document's planes.
int moduleOpen(const char* path, const options::OpenOptions* asked) {
    Host host(&ENTRYPOINT);
    host.setup().script.present = asked != nullptr;
    if (asked != nullptr) host.setup().script.descriptor = nebulite::cli::openDescriptor(*asked);
    host.setup().script.playInfo = plugInDialogSilent;
    File file = File::disk(path);
    if (!host.read(file).ok()) fail(std::string("the module could not open ") + path);
    return host.takeDocument().image.planes;
}

// The mosaic's physical values (BZERO 32768 gives 0..65535) into a 16-bit
// matrix, as a program demosaicing with OpenCV reads it.
cv::Mat peerRead(const char* path) {
    fitsfile* f = nullptr;
    int status = 0, bitpix = 0, naxis = 0, anynul = 0;
    long axes[2] = {0, 0};
    if (fits_open_image(&f, path, READONLY, &status)) fail("cfitsio cannot open the mosaic");
    fits_get_img_param(f, 2, &bitpix, &naxis, axes, &status);
    cv::Mat raw(static_cast<int>(axes[1]), static_cast<int>(axes[0]), CV_16UC1);
    fits_read_img(f, TUSHORT, 1, static_cast<LONGLONG>(axes[0]) * axes[1], nullptr, raw.ptr<uint16_t>(), &anynul,
                  &status);
    fits_close_file(f, &status);
    if (status != 0) fail("cfitsio could not read the mosaic");
    return raw;
}

// OpenCV names a layout by its second row's second and third pixels: RGGB
// is its BG (tests/oracle/mosaic_check.py finds this by trying all four).
int peerBilinear(const char* path) {
    cv::Mat rgb;
    cv::cvtColor(peerRead(path), rgb, cv::COLOR_BayerBG2RGB);
    return rgb.channels();
}

int peerVng(const char* path) {
    cv::Mat bytes, rgb;
    peerRead(path).convertTo(bytes, CV_8U, 1.0 / 257.0);
    cv::cvtColor(bytes, rgb, cv::COLOR_BayerBG2RGB_VNG);
    return rgb.channels();
}

void row(const char* what, const Timing& t, double documentMiB, const Timing& reference) {
    std::printf("  %-36s best %6.3f s (cpu %6.3f s)  peak +%4.0f MiB (%.2f x document)  %.2f x three-plane open (cpu %.2f)\n",
                what, t.best, t.bestCpu, t.peakKiB / 1024.0, t.peakKiB / 1024.0 / documentMiB,
                t.best / reference.best, t.bestCpu / reference.bestCpu);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: nebulite_demosaic_open MOSAIC.fits PLANES.fits [RUNS]\n");
        return 2;
    }
    const char* mosaic = argv[1];
    const char* planes = argv[2];
    const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
    const cv::Mat probe = peerRead(mosaic);
    const double documentMiB = 3.0 * probe.cols * probe.rows * 2 / (1 << 20);

    int channels = 0;
    const Timing plain = measure(runs, [&] { channels = moduleOpen(planes, nullptr); });
    if (channels != 3) fail("the three-plane file did not open as RGB");
    options::OpenOptions asked;
    asked.debayer = options::Debayer::automatic;
    asked.demosaic = options::Demosaic::bilinear;
    const Timing bilinear = measure(runs, [&] { channels = moduleOpen(mosaic, &asked); });
    if (channels != 3) fail("the mosaic did not open in colour");
    asked.demosaic = options::Demosaic::quality;
    const Timing quality = measure(runs, [&] { channels = moduleOpen(mosaic, &asked); });
    const Timing cvBilinear = measure(runs, [&] { channels = peerBilinear(mosaic); });
    const Timing cvVng = measure(runs, [&] { channels = peerVng(mosaic); });

    std::printf("demosaic %s: %d x %d, 16-bit RGB document %.0f MiB, best of %d (OpenCV: %d threads)\n", mosaic,
                probe.cols, probe.rows, documentMiB, runs, cv::getNumThreads());
    row("module+host three-plane open", plain, documentMiB, plain);
    row("module+host mosaic, bilinear", bilinear, documentMiB, plain);
    row("module+host mosaic, quality", quality, documentMiB, plain);
    row("cfitsio + OpenCV bilinear (16-bit)", cvBilinear, documentMiB, plain);
    row("cfitsio + OpenCV VNG (8-bit)", cvVng, documentMiB, plain);
    std::printf("  bilinear / three-plane open %.2f, cpu %.2f (goal <= 1.5); quality / OpenCV VNG %.2f, cpu %.2f (goal <= 1.0)\n",
                bilinear.best / plain.best, bilinear.bestCpu / plain.bestCpu, quality.best / cvVng.best,
                quality.bestCpu / cvVng.bestCpu);
    std::printf("  peak memory / RGB document: bilinear %.2f, quality %.2f (goal <= 1.10)\n",
                bilinear.peakKiB / 1024.0 / documentMiB, quality.peakKiB / 1024.0 / documentMiB);
    return 0;
}
