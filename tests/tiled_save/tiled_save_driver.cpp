// The test driver of the tile-compressed writer: writes a .fits.fz from an
// uncompressed FITS file through export/tiled (the file's primary header
// standing for the one the module's uncompressed save would write), and
// decodes a .fits.fz back through import/tiled, so that tiled_save_check.py
// can hold both against funpack, astropy, fitsverify and fpack.
//
//   tiled_save_driver write IN.fits OUT.fz [--algorithm NAME] [--tile ROWS,COLUMNS]
//       [--lossless] [--q LEVEL] [--dither 0|1|2] [--seed N|tile] [--wide] [--chunk BYTES]
//       [--fail-at K [--partial]] [--alloc-fail-at K]
//   tiled_save_driver decode IN.fz OUT.raw OUT.cards
//
// write prints one JSON object: the result, the writer's statistics, the
// planned memory bound and its parts. decode writes the data unit the
// restored image would have (big-endian samples) and the restored header's
// cards (80 bytes each, no END).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "export/tiled/plan.h"
#include "export/tiled/tiled_writer.h"
#include "header/header_keywords.h"
#include "header/header_reader.h"
#include "import/tiled/restore_header.h"
#include "import/tiled/tile_decode.h"
#include "import/tiled/tile_table.h"
#include "import/tiled/tiled_header.h"

namespace {

using namespace nebulite;
using namespace nebulite::tiledsave;

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

[[noreturn]] void die(const std::string& message) {
    std::fprintf(stderr, "tiled_save_driver: %s\n", message.c_str());
    std::exit(2);
}

// A header's cards up to END, and where its data unit starts.
struct Hdu {
    std::vector<char> cards;  // END included
    uint64_t dataStart = 0;
    HeaderKeywords keys;
};

Hdu readHdu(const std::vector<uint8_t>& file, uint64_t offset, HeaderStart start) {
    Hdu h;
    MemorySource source(file, offset);
    const HeaderRead r = readHeader(source, start, [&](const char* card, const CardPlace& place) {
        if (!place.afterEnd) {
            h.cards.insert(h.cards.end(), card, card + kCardBytes);
            noteKeyword(card, h.keys);
        }
        return true;
    });
    if (r.end != HeaderEnd::complete) die("no complete header");
    h.dataStart = source.position();
    return h;
}

// A file that fails its k-th write (after writing half of it, with --partial).
class FileSink final : public ByteSink {
public:
    FileSink(const std::string& path, uint64_t failAt, bool partial) : failAt_(failAt), partial_(partial) {
        f_ = std::fopen(path.c_str(), "w+b");
        if (f_ == nullptr) die("cannot write " + path);
    }
    ~FileSink() { std::fclose(f_); }
    bool write(std::span<const uint8_t> bytes) override {
        ++writes_;
        if (writes_ == failAt_) {
            if (partial_) std::fwrite(bytes.data(), 1, bytes.size() / 2, f_);
            return false;
        }
        return std::fwrite(bytes.data(), 1, bytes.size(), f_) == bytes.size();
    }
    bool seek(uint64_t position) override {
        std::fflush(f_);
        std::fseek(f_, 0, SEEK_END);
        if (static_cast<uint64_t>(std::ftell(f_)) < position) return false;
        return std::fseek(f_, static_cast<long>(position), SEEK_SET) == 0;
    }

private:
    std::FILE* f_;
    uint64_t writes_ = 0;
    uint64_t failAt_;
    bool partial_;
};

// malloc, failing at the k-th request.
class Memory final : public WriterMemory {
public:
    explicit Memory(uint64_t failAt) : failAt_(failAt) {}
    void* allocate(size_t bytes) override {
        if (++calls_ == failAt_) return nullptr;
        return std::malloc(bytes);
    }
    void release(void* block) override { std::free(block); }
    uint64_t calls() const { return calls_; }

private:
    uint64_t failAt_;
    uint64_t calls_ = 0;
};

codecs::Algorithm algorithmOf(const std::string& name) {
    if (name == "NOCOMPRESS") return codecs::Algorithm::none;
    return codecs::algorithmNamed(name);
}

int write(int argc, char** argv) {
    if (argc < 4) die("write IN OUT [options]");
    const std::vector<uint8_t> file = readFile(argv[2]);
    const Hdu image = readHdu(file, 0, HeaderStart::primary);
    SaveParams p;
    p.bitpix = static_cast<int32_t>(image.keys.bitpix);
    p.naxis = static_cast<uint32_t>(image.keys.naxis);
    p.width = static_cast<uint64_t>(image.keys.naxis1());
    p.height = static_cast<uint64_t>(image.keys.naxis2());
    p.planes = static_cast<uint64_t>(image.keys.naxis3());
    uint64_t chunk = 0, failAt = 0, allocFailAt = 0;
    bool partial = false;
    for (int i = 4; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) die("missing value after " + a);
            return argv[++i];
        };
        if (a == "--algorithm") {
            p.algorithm = algorithmOf(next());
        } else if (a == "--tile") {
            const std::string v = next();
            p.tileRows = std::stoull(v.substr(0, v.find(',')));
            p.tileColumns = std::stoull(v.substr(v.find(',') + 1));
        } else if (a == "--lossless") {
            p.floats = FloatStorage::lossless;
        } else if (a == "--q") {
            p.quantizeLevel = std::stof(next());
        } else if (a == "--dither") {
            const int d = std::stoi(next());
            p.dither = d == 0 ? codecs::Dither::none : d == 1 ? codecs::Dither::subtractive1 : codecs::Dither::subtractive2;
        } else if (a == "--seed") {
            const std::string v = next();
            p.ditherSeed = v == "tile" ? kSeedFromFirstTile : std::stoi(v);
        } else if (a == "--wide") {
            p.descriptors = DescriptorWidth::always64;
        } else if (a == "--chunk") {
            chunk = std::stoull(next());
        } else if (a == "--fail-at") {
            failAt = std::stoull(next());
        } else if (a == "--partial") {
            partial = true;
        } else if (a == "--alloc-fail-at") {
            allocFailAt = std::stoull(next());
        } else {
            die("unknown option " + a);
        }
    }
    const std::span<const char> cards(image.cards.data(), image.cards.size());
    const Plan plan = planSave(p, cards);
    if (plan.error != SaveError::none) {
        std::printf("{\"result\": \"%s\", \"stage\": \"plan\"}\n", saveErrorName(plan.error));
        return 1;
    }
    const Layout& L = plan.layout;
    if (image.dataStart + L.dataBytes > file.size()) die("the data unit is cut short");
    FileSink sink(argv[3], failAt, partial);
    Memory memory(allocFailAt);
    TiledWriter writer(L, cards, sink, memory);
    SaveError e = writer.begin();
    const uint8_t* data = file.data() + image.dataStart;
    uint64_t done = 0;
    const uint64_t step = chunk == 0 ? L.rowBytes : chunk;
    while (e == SaveError::none && done < L.dataBytes) {
        const uint64_t n = std::min(step, L.dataBytes - done);
        e = writer.add({data + done, static_cast<size_t>(n)});
        done += n;
    }
    if (e == SaveError::none) e = writer.finish();
    const WriterStats s = writer.stats();
    const WorkSizes& w = L.work;
    std::printf(
        "{\"result\": \"%s\", \"heapBytes\": %llu, \"fileBytes\": %llu, \"declinedTiles\": %llu, \"anyNull\": %s, "
        "\"ditherSeed\": %d, \"writes\": %llu, \"peakBytes\": %llu, \"allocations\": %llu, \"tiles\": %llu, "
        "\"tileRows\": %llu, \"tileColumns\": %llu, \"wide\": %s, \"cardsLeft\": %llu, "
        "\"work\": {\"band\": %llu, \"pixels\": %llu, \"ints\": %llu, \"scratch\": %llu, \"output\": %llu, "
        "\"table\": %llu, \"deflate\": %llu, \"total\": %llu}, \"dataBytes\": %llu}\n",
        saveErrorName(e), (unsigned long long)s.heapBytes, (unsigned long long)s.fileBytes,
        (unsigned long long)s.declinedTiles, s.anyNull ? "true" : "false", s.ditherSeed,
        (unsigned long long)s.writes, (unsigned long long)s.peakBytes, (unsigned long long)memory.calls(),
        (unsigned long long)L.grid.count, (unsigned long long)L.grid.tileRows,
        (unsigned long long)L.grid.tileColumns, L.table.wide ? "true" : "false",
        (unsigned long long)plan.cards.left, (unsigned long long)w.band, (unsigned long long)w.pixels,
        (unsigned long long)w.ints, (unsigned long long)w.scratch, (unsigned long long)w.output,
        (unsigned long long)w.table, (unsigned long long)w.deflate, (unsigned long long)w.total,
        (unsigned long long)L.dataBytes);
    return e == SaveError::none ? 0 : 1;
}

int decode(int argc, char** argv) {
    if (argc != 5) die("decode IN OUT.raw OUT.cards");
    const std::vector<uint8_t> file = readFile(argv[2]);
    const Hdu primary = readHdu(file, 0, HeaderStart::primary);
    const Hdu table = readHdu(file, primary.dataStart, HeaderStart::extension);
    tiled::TiledImage image;
    const uint32_t count = static_cast<uint32_t>(table.cards.size() / kCardBytes) - 1;
    if (auto err = tiled::parseTiledHeader(table.cards.data(), count, image); err != tiled::TiledHeaderError::none)
        die(std::string("table header: ") + tiled::tiledHeaderErrorName(err));
    std::vector<char> restored((count + 4) * size_t{kCardBytes});
    const int64_t n = tiled::restoreImageHeader(table.cards.data(), count, restored.data(), count + 4);
    if (n < 0) die("restore");
    std::ofstream(argv[4], std::ios::binary).write(restored.data(), n * int64_t{kCardBytes});

    if (table.dataStart + image.dataBytes > file.size()) die("table cut short");
    const uint8_t* unit = file.data() + table.dataStart;
    const std::span<const uint8_t> heap(unit + image.heapOffset, image.heapBytes);
    const tiled::TileWorkspaceSize ws = tiled::tileWorkspaceSize(image);
    std::vector<int64_t> wide(ws.wide);
    std::vector<int32_t> ints(ws.ints);
    std::vector<double> reals(ws.reals);
    std::vector<uint8_t> bytes(ws.bytes);
    const tiled::TileWorkspace work{wide, ints, reals, bytes, {}};
    const uint32_t sample = tiled::sampleBytes(image);
    uint64_t pixels = 1;
    for (uint32_t a = 0; a < image.naxis; ++a) pixels *= static_cast<uint64_t>(image.axes[a]);
    std::vector<uint8_t> out(pixels * sample);
    std::vector<uint8_t> tile(image.maxTilePixels * sample);
    for (uint64_t row = 0; row < image.rows; ++row) {
        const std::span<const uint8_t> r(unit + row * image.rowBytes, image.rowBytes);
        auto array = [&](const tiled::HeapColumn& c) -> std::span<const uint8_t> {
            tiled::HeapArray a;
            if (tiled::heapArray(r, c, image.heapBytes, a) != tiled::DescriptorCheck::ok) return {};
            return heap.subspan(a.offset, a.bytes);
        };
        const tiled::TileArrays arrays{r, array(image.compressed), array(image.gzipCompressed),
                                       array(image.uncompressed)};
        if (auto res = tiled::decodeTile(image, row, arrays, work, tile); res != tiled::TileResult::ok)
            die("tile " + std::to_string(row) + " failed");
        int64_t start[tiled::kMaxTiledAxes], size[tiled::kMaxTiledAxes];
        tiled::tileGeometry(image, row, start, size);
        // Place the tile's rows (axes beyond the second: one plane deep).
        const uint64_t w = static_cast<uint64_t>(image.axes[0]);
        const uint64_t h = image.naxis > 1 ? static_cast<uint64_t>(image.axes[1]) : 1;
        const uint64_t plane = image.naxis > 2 ? static_cast<uint64_t>(start[2]) : 0;
        const uint64_t rows = image.naxis > 1 ? static_cast<uint64_t>(size[1]) : 1;
        const uint64_t y0 = image.naxis > 1 ? static_cast<uint64_t>(start[1]) : 0;
        for (uint64_t y = 0; y < rows; ++y)
            std::memcpy(out.data() + ((plane * h + y0 + y) * w + static_cast<uint64_t>(start[0])) * sample,
                        tile.data() + y * static_cast<uint64_t>(size[0]) * sample,
                        static_cast<size_t>(size[0]) * sample);
    }
    std::ofstream(argv[3], std::ios::binary).write(reinterpret_cast<const char*>(out.data()),
                                                   static_cast<std::streamsize>(out.size()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "write") == 0) return write(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "decode") == 0) return decode(argc, argv);
    die("write|decode ...");
}
