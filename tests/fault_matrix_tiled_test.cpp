// The fault matrix over tile-compressed files: fpack's output of every road
// opens to exactly the samples of funpack's output of it (plain and gzip'd),
// and a tiled read that fails in any way (memory, reads, a damaged table)
// ends in an error with nothing left behind, never in another image.
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "fault_matrix_support.h"

using namespace fault_matrix;

namespace {

namespace fs = std::filesystem;

bool toolsPresent() { return std::system("command -v fpack >/dev/null 2>&1 && command -v funpack >/dev/null 2>&1") == 0; }

std::vector<uint8_t> fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// fpack's output for `plain` under `options`, and funpack's of that.
struct Packed {
    std::vector<uint8_t> fz;
    std::vector<uint8_t> unpacked;
};

std::optional<Packed> fpacked(const std::vector<uint8_t>& plain, const std::string& options) {
    std::string dir = (fs::temp_directory_path() / "nebulite-fz-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) return std::nullopt;
    const fs::path d = dir;
    {
        std::ofstream out(d / "plain.fits", std::ios::binary);
        out.write(reinterpret_cast<const char*>(plain.data()), static_cast<std::streamsize>(plain.size()));
    }
    const std::string command = "cd " + dir + " && fpack " + options +
                                " -O packed.fz plain.fits >/dev/null 2>&1 && funpack -O unpacked.fits packed.fz "
                                ">/dev/null 2>&1";
    std::optional<Packed> p;
    if (std::system(command.c_str()) == 0) p = Packed{fileBytes(d / "packed.fz"), fileBytes(d / "unpacked.fits")};
    std::error_code ignored;
    fs::remove_all(d, ignored);
    return p;
}

std::vector<uint8_t> gzipped(const std::vector<uint8_t>& bytes) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(bytes.size())) + 64);
    z.next_in = const_cast<Bytef*>(bytes.data());
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// The algorithms' different roads through the row source: row tiles, 2-D
// tiles narrower than the image (placed tile by tile), the byte-shuffled
// gzip and tiles stored as they are. Floats in tiles this small are lossless
// (-q 0): fpack stores tiles too small to quantize in GZIP_COMPRESSED_DATA,
// and funpack 4.2 puts such tiles of a 2-D tiling in the wrong place
// (astropy and this reader agree on the right one).
const char* const kPackings[] = {"-r", "-g2 -q 0 -t 2,3", "-d", "-g -t 5,3"};

// Where the table's data starts and how wide its rows are, from the
// second header's cards.
struct Table {
    size_t dataStart = 0;
    size_t rowBytes = 0;
    size_t rows = 0;
};

Table tableOf(const std::vector<uint8_t>& fz) {
    Table t;
    for (size_t at = 2880; at + 80 <= fz.size(); at += 80) {
        const std::string card(fz.begin() + static_cast<std::ptrdiff_t>(at), fz.begin() + static_cast<std::ptrdiff_t>(at + 80));
        if (card.compare(0, 8, "NAXIS1  ") == 0) t.rowBytes = std::stoul(card.substr(10, 20));
        if (card.compare(0, 8, "NAXIS2  ") == 0) t.rows = std::stoul(card.substr(10, 20));
        if (card.compare(0, 8, "END     ") == 0) {
            t.dataStart = (at + 80 + 2879) / 2880 * 2880;
            break;
        }
    }
    return t;
}

void putBE32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
    for (int i = 3; i >= 0; --i, v >>= 8) bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v);
}

}  // namespace

TEST(FaultMatrixTiled, EveryRoadOpensAsFunpacksOutput) {
    if (!toolsPresent()) GTEST_SKIP() << "fpack/funpack not installed";
    for (const Road& road : kRoads) {
        for (const char* options : kPackings) {
            // fpack stores 8-bit tiles only compressed.
            if (road.bitpix == 8 && std::string(options) == "-d") continue;
            const auto packed = fpacked(roadFile(road), options);
            ASSERT_TRUE(packed) << road.name << ", fpack " << options;
            const CleanRead reference = cleanRead(packed->unpacked);
            for (bool gzip : {false, true}) {
                for (Length length : kLengths) {
                    SCOPED_TRACE(std::string(road.name) + ", fpack " + options + (gzip ? ", gzip'd, " : ", ") +
                                 nameOf(length));
                    const CleanRead r = cleanRead(gzip ? gzipped(packed->fz) : packed->fz, {}, length);
                    EXPECT_TRUE(r.document.image == reference.document.image);
                }
            }
        }
    }
}

// Each allocation of a tiled read (zlib's for GZIP tiles among them) fails,
// alone and onward: memFullErr, or the very document a clean read gives.
TEST(FaultMatrixTiled, EveryAllocationOfATiledReadFails) {
    if (!toolsPresent()) GTEST_SKIP() << "fpack/funpack not installed";
    for (const Road& road : {kRoads[1], kRoads[7]}) {
        for (const char* options : {"-r", "-g2 -q 0 -t 2,3"}) {
            const auto packed = fpacked(roadFile(road), options);
            ASSERT_TRUE(packed);
            for (Length length : kLengths) {
                const CleanRead clean = cleanRead(packed->fz, {}, length);
                for (const AllocationKind& kind : kAllocationKinds) {
                    for (int64_t k = 0; k < kind.count(clean.outcome.counters); ++k) {
                        for (bool onward : {false, true}) {
                            SCOPED_TRACE(std::string(road.name) + ", " + options + ", " + kind.name + ", " +
                                         nameOf(length) + " #" + std::to_string(k) + (onward ? " onward" : " alone"));
                            Host host(&ENTRYPOINT);
                            kind.fail(host.faults(), onward ? Trigger::from(k) : Trigger::nth(k));
                            std::unique_ptr<DiskCopy> copy;
                            File file = readable(packed->fz, length, copy);
                            Outcome o = host.read(file);
                            if (o.result == noErr)
                                expectImageWithHeaderKeptOrTold(host.document(), clean.document, o);
                            else
                                EXPECT_EQ(o.result, memFullErr) << describe(o);
                            expectNothingLeftBehind(host, o);
                            expectNextOperationsWork(host);
                        }
                    }
                }
            }
        }
    }
}

// Every read of the file fails in turn: readErr, whichever step it falls in
// (the headers, the table's rows, a tile's array).
TEST(FaultMatrixTiled, EveryReadOfATiledFileFails) {
    if (!toolsPresent()) GTEST_SKIP() << "fpack/funpack not installed";
    for (const Road& road : kRoads) {
        const auto packed = fpacked(roadFile(road), "-g -t 5,3");
        ASSERT_TRUE(packed);
        for (Length length : kLengths) {
            Host probe(&ENTRYPOINT);
            std::unique_ptr<DiskCopy> copy;
            File counted = readable(packed->fz, length, copy);
            ASSERT_TRUE(probe.read(counted).ok());
            for (int64_t k = 0; k < counted.readCalls(); ++k) {
                SCOPED_TRACE(std::string(road.name) + ", " + nameOf(length) + " #" + std::to_string(k));
                Host host(&ENTRYPOINT);
                File file = readable(packed->fz, length, copy);
                file.failReadsFrom(k);
                Outcome o = host.read(file);
                EXPECT_EQ(o.result, readErr) << describe(o);
                expectNothingLeftBehind(host, o);
            }
        }
    }
}

// A damaged table: an error (a refusal for what its header gives away),
// never an image and never a crash.
TEST(FaultMatrixTiled, DamagedTables) {
    if (!toolsPresent()) GTEST_SKIP() << "fpack/funpack not installed";
    const auto packed = fpacked(roadFile(kRoads[1]), "-r");
    ASSERT_TRUE(packed);
    const Table table = tableOf(packed->fz);
    ASSERT_GT(table.dataStart, 0u);
    ASSERT_EQ(table.rows, static_cast<size_t>(kRows));
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        OSErr result;
    };
    std::vector<Case> cases;
    {
        // The first tile's descriptor (COMPRESSED_DATA, the first column)
        // points far past the heap.
        auto b = packed->fz;
        putBE32(b, table.dataStart + 4, 0x7FFFFF00u);
        cases.push_back({"descriptor past the heap", b, readErr});
    }
    {
        // The Rice stream of the first tile holds a single byte.
        auto b = packed->fz;
        putBE32(b, table.dataStart, 1);
        cases.push_back({"Rice stream too short", b, readErr});
    }
    {
        auto b = packed->fz;
        const std::string wrong = "NAXIS2  =                    3";
        for (size_t at = 2880; at < table.dataStart; at += 80)
            if (std::equal(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + 8),
                           "NAXIS2  "))
                std::copy(wrong.begin(), wrong.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
        cases.push_back({"wrong NAXIS2", b, userCanceledErr});
    }
    {
        // The file ends inside the heap.
        auto b = packed->fz;
        b.resize(table.dataStart + table.rowBytes * table.rows + 5);
        cases.push_back({"heap cut", b, eofErr});
    }
    for (const Case& c : cases) {
        for (Length length : kLengths) {
            SCOPED_TRACE(std::string(c.name) + ", " + nameOf(length));
            Host host(&ENTRYPOINT);
            std::unique_ptr<DiskCopy> copy;
            File file = readable(c.bytes, length, copy);
            Outcome o = host.read(file);
            EXPECT_EQ(o.result, c.result) << describe(o);
            expectNothingLeftBehind(host, o);
        }
    }
}
