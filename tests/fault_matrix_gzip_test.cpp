// The fault matrix over gzip files: every road opens a gzip file exactly as
// it opens the plain one, and a gzip file that fails in any way (memory,
// reads, a cut, a corrupt byte) ends in an error with nothing left behind,
// never in another image.
#include <zlib.h>

#include "fault_matrix_support.h"

using namespace fault_matrix;

namespace {

// The roads of 64-bit samples, beside those every matrix sweeps.
const Road kWideRoads[] = {{"64-bit grey", 64, 1}, {"double RGB", -64, 3}, {"double grey, header range", -64, 1, true}};

std::vector<Road> everyRoad() {
    std::vector<Road> roads(std::begin(kRoads), std::end(kRoads));
    roads.insert(roads.end(), std::begin(kWideRoads), std::end(kWideRoads));
    return roads;
}

// One gzip member of `bytes`, as gzip(1) writes it but for the file name.
std::vector<uint8_t> gzipMember(const std::vector<uint8_t>& bytes, int level = 6) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
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

struct Packing {
    const char* name;
    std::vector<uint8_t> (*pack)(const std::vector<uint8_t>&);
};

const Packing kPackings[] = {
    {"one member", [](const std::vector<uint8_t>& b) { return gzipMember(b); }},
    {"stored blocks", [](const std::vector<uint8_t>& b) { return gzipMember(b, 0); }},
    {"members split mid-card", [](const std::vector<uint8_t>& b) {
         // As `cat a.gz b.gz c.gz` makes: one stream of several members.
         std::vector<uint8_t> out;
         const size_t cuts[] = {0, 1001, b.size() / 2 + 7, b.size()};
         for (size_t i = 0; i + 1 < std::size(cuts); ++i) {
             auto member = gzipMember({b.begin() + cuts[i], b.begin() + cuts[i + 1]});
             out.insert(out.end(), member.begin(), member.end());
         }
         return out;
     }},
    {"zero padding", [](const std::vector<uint8_t>& b) {
         auto out = gzipMember(b);
         out.resize(out.size() + 700, 0);
         return out;
     }},
};

std::string where(const Road& road, const char* packing, Length length) {
    return std::string(road.name) + ", " + packing + ", " + nameOf(length);
}

}  // namespace

TEST(FaultMatrixGzip, EveryRoadOpensTheGzipFileAsThePlainOne) {
    for (const Road& road : everyRoad()) {
        const std::vector<uint8_t> plain = roadFile(road);
        const CleanRead reference = cleanRead(plain);
        for (const Packing& packing : kPackings) {
            for (Length length : kLengths) {
                SCOPED_TRACE(where(road, packing.name, length));
                const CleanRead r = cleanRead(packing.pack(plain), {}, length);
                EXPECT_TRUE(r.document == reference.document);
                EXPECT_EQ(r.headerLength, reference.headerLength);
            }
        }
    }
}

TEST(FaultMatrixGzip, FilterFileClaimsGzipOnlyWhenItHoldsFits) {
    const std::vector<uint8_t> fits = roadFile(kRoads[0]);
    std::vector<uint8_t> text(4000, 'x');
    std::vector<uint8_t> corrupt = gzipMember(fits);
    corrupt[20] ^= 0xFF;
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool claimed;
    } cases[] = {
        {"gzip FITS", gzipMember(fits), true},
        {"gzip text", gzipMember(text), false},
        {"gzip FITS, corrupt data", corrupt, false},
        {"gzip magic alone", {0x1F, 0x8B}, false},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        Host host(&ENTRYPOINT);
        File file = File::memory(c.bytes);
        Outcome o = host.filterFile(file);
        EXPECT_EQ(o.result == noErr, c.claimed) << describe(o);
        expectNothingLeftBehind(host, o);
    }
}

// Each allocation of a gzip read (the inflater's among them) fails, alone
// and onward: memFullErr, or the very document a clean read gives.
TEST(FaultMatrixGzip, EveryAllocationOfAGzipReadFails) {
    for (const Road& road : {kRoads[1], kRoads[3], kWideRoads[0]}) {
        const std::vector<uint8_t> packed = gzipMember(roadFile(road));
        for (Length length : kLengths) {
            const CleanRead clean = cleanRead(packed, {}, length);
            for (const AllocationKind& kind : kAllocationKinds) {
                for (int64_t k = 0; k < kind.count(clean.outcome.counters); ++k) {
                    for (bool onward : {false, true}) {
                        SCOPED_TRACE(where(road, kind.name, length) + " #" + std::to_string(k) +
                                     (onward ? " onward" : " alone"));
                        Host host(&ENTRYPOINT);
                        kind.fail(host.faults(), onward ? Trigger::from(k) : Trigger::nth(k));
                        std::unique_ptr<DiskCopy> copy;
                        File file = readable(packed, length, copy);
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

// Every read of the compressed file fails in turn: readErr, whichever
// step it falls in.
TEST(FaultMatrixGzip, EveryReadOfAGzipFileFails) {
    for (const Road& road : everyRoad()) {
        // Stored blocks make the compressed file as long as the plain one,
        // so that its reads fall in the header and in the rows.
        const std::vector<uint8_t> packed = gzipMember(roadFile(road), 0);
        for (Length length : kLengths) {
            Host probe(&ENTRYPOINT);
            std::unique_ptr<DiskCopy> copy;
            File counted = readable(packed, length, copy);
            ASSERT_TRUE(probe.read(counted).ok());
            for (int64_t k = 0; k < counted.readCalls(); ++k) {
                SCOPED_TRACE(where(road, "read", length) + " #" + std::to_string(k));
                Host host(&ENTRYPOINT);
                File file = readable(packed, length, copy);
                file.failReadsFrom(k);
                Outcome o = host.read(file);
                EXPECT_EQ(o.result, readErr) << describe(o);
                expectNothingLeftBehind(host, o);
            }
        }
    }
}

// The compressed file ends early anywhere, its trailer included: eofErr,
// and never an image, since only the whole stream proves the data intact.
TEST(FaultMatrixGzip, GzipFileCutAnywhere) {
    for (const Road& road : {kRoads[0], kRoads[5], kRoads[7], kWideRoads[1]}) {
        const std::vector<uint8_t> packed = gzipMember(roadFile(road));
        std::vector<size_t> cuts;
        for (size_t at = 2; at < packed.size(); at += 23) cuts.push_back(at);
        for (size_t at = packed.size() - 9; at < packed.size(); ++at) cuts.push_back(at);
        for (Length length : kLengths) {
            for (size_t cut : cuts) {
                SCOPED_TRACE(where(road, "cut", length) + " at " + std::to_string(cut) + " of " +
                             std::to_string(packed.size()));
                Host host(&ENTRYPOINT);
                std::vector<uint8_t> input(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(cut));
                std::unique_ptr<DiskCopy> copy;
                File file = readable(input, length, copy);
                Outcome o = host.read(file);
                EXPECT_EQ(o.result, eofErr) << describe(o);
                expectNothingLeftBehind(host, o);
            }
        }
    }
}

// One byte of the compressed file changed, anywhere: an error, or (where
// the byte is one gzip does not check, such as the header's time stamp)
// exactly the clean document; never another image.
TEST(FaultMatrixGzip, CorruptByteAnywhere) {
    for (const Road& road : {kRoads[1], kRoads[3]}) {
        const std::vector<uint8_t> packed = gzipMember(roadFile(road));
        const CleanRead clean = cleanRead(packed);
        for (size_t at = 0; at < packed.size(); at += (at < 16 || at + 16 > packed.size()) ? 1 : 5) {
            for (uint8_t flip : {uint8_t{0x01}, uint8_t{0x80}}) {
                SCOPED_TRACE(std::string(road.name) + ", byte " + std::to_string(at) + " ^ " + std::to_string(flip));
                std::vector<uint8_t> input = packed;
                input[at] ^= flip;
                Host host(&ENTRYPOINT);
                File file = File::memory(input);
                Outcome o = host.read(file);
                if (o.result == noErr)
                    EXPECT_TRUE(host.document() == clean.document);
                else
                    EXPECT_TRUE(o.result == readErr || o.result == eofErr || o.result == formatCannotRead)
                        << describe(o);
                expectNothingLeftBehind(host, o);
            }
        }
    }
}
