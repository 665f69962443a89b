// The fault matrix over tile-compressed saves: every allocation, every write
// to the file, a disk that fills at any byte and a host that stops at any
// row end a compressed save with memFullErr, writErr or the host's own code,
// nothing left behind and no file that claims to be whole (the headers go in
// last, the primary's first byte the very last of all); a save the writer,
// its memory budget or the module's reader would refuse is refused before
// anything is written.
#include <cstring>

#include "fault_matrix_support.h"
#include "host/option_descriptors.h"

using namespace fault_matrix;

namespace {

using nebulite::options::Compression;
using nebulite::options::SaveOptions;
using nebulite::options::TileSize;

SaveOptions compressed(Compression c, std::optional<TileSize> tile = {}, double quantize = 0.0) {
    SaveOptions o;
    o.compression = c;
    o.tile = tile;
    o.quantize = quantize;
    return o;
}

// A file's road opened as a 32-bit document, as the editor holds it.
Document openedAt32(const Road& road) {
    Host host(&ENTRYPOINT);
    nebulite::options::OpenOptions o;
    o.depth = nebulite::options::Depth::bits32;
    host.setup().script.descriptor = nebulite::host::openDescriptorOf(o);
    File file = File::memory(roadFile(road));
    const Outcome read = host.read(file);
    EXPECT_TRUE(read.ok()) << describe(read);
    return host.takeDocument();
}

struct CompressedCase {
    const char* name;
    std::function<Document()> make;
    SaveOptions options;
    bool lossless;
};

const std::vector<CompressedCase>& compressedCases() {
    static const std::vector<CompressedCase> cases = {
        {"8-bit grey, synthesised header, RICE_1 by rows", saveCases()[0].make, compressed(Compression::rice), true},
        {"16-bit RGB, kept header, GZIP_2 in 3x2 tiles", saveCases()[1].make,
         compressed(Compression::gzip2, TileSize{3, 2}), true},
        {"8-bit CMYK, kept two-block header, HCOMPRESS_1", saveCases()[2].make, compressed(Compression::hcompress),
         true},
        {"floats opened at 32 bits, quantized under RICE_1", [] { return openedAt32(kRoads[3]); },
         compressed(Compression::rice, {}, 4.0), false},
        {"float RGB opened at 32 bits, GZIP_1 exactly", [] { return openedAt32(kRoads[7]); },
         compressed(Compression::gzip1, TileSize{2, 5}), true},
        {"32-bit integers opened at 32 bits, RICE_1", [] { return openedAt32(kRoads[2]); },
         compressed(Compression::rice), true},
    };
    return cases;
}

// The save's options as the action's descriptor the host plays.
void playOptions(Host& host, const SaveOptions& options) {
    host.setup().saveScript.present = true;
    host.setup().saveScript.descriptor = nebulite::host::saveDescriptorOf(options);
}

// What a reader takes for a FITS file: one that starts as FITS does.
bool claimsWhole(const std::vector<uint8_t>& bytes) {
    return bytes.size() >= 9 && std::memcmp(bytes.data(), "SIMPLE  =", 9) == 0;
}

CleanSave cleanCompressedSave(const CompressedCase& c) {
    Host host(&ENTRYPOINT);
    playOptions(host, c.options);
    Document d = c.make();
    File file = File::memory();
    CleanSave s;
    s.outcome = host.save(d, file);
    EXPECT_TRUE(s.outcome.ok()) << c.name << ": " << describe(s.outcome);
    s.bytes = file.contents();
    EXPECT_TRUE(claimsWhole(s.bytes)) << c.name;
    return s;
}

// A failed save: its code, the document untouched, no whole file, nothing
// held, and the same host saving and reading as a fresh one after it.
void expectFailedSave(Host& host, const Outcome& o, OSErr code, const Document& d, const Document& before,
                      const File& out) {
    EXPECT_EQ(o.result, code) << describe(o);
    EXPECT_TRUE(d == before) << "the save changed the document";
    EXPECT_FALSE(claimsWhole(out.contents())) << "a failed save left a file that starts as FITS";
    expectNothingLeftBehind(host, o);
    expectNextOperationsWork(host);
}

}  // namespace

// The clean saves themselves: whole, and (lossless) reopening to the very
// document saved.
TEST(FaultMatrixCompressed, CleanSavesReopenToTheirDocument) {
    for (const CompressedCase& c : compressedCases()) {
        SCOPED_TRACE(c.name);
        const CleanSave clean = cleanCompressedSave(c);
        EXPECT_EQ(clean.bytes.size() % 2880, 0u);
        const Document saved = c.make();
        // A 32-bit document comes back as one only when the open asks for it.
        Host host(&ENTRYPOINT);
        if (saved.image.depth == 32) {
            nebulite::options::OpenOptions o;
            o.depth = nebulite::options::Depth::bits32;
            host.setup().script.descriptor = nebulite::host::openDescriptorOf(o);
        }
        File again = File::memory(clean.bytes);
        const Outcome read = host.read(again);
        ASSERT_TRUE(read.ok()) << describe(read);
        const int planes = saved.image.planes == 4 && saved.image.mode == plugInModeCMYKColor ? 4 : saved.image.planes;
        if (c.lossless && planes != 4) {
            EXPECT_TRUE(host.document().image == saved.image) << "reopened to other samples";
        }
        // The same document saved again compressed gives the same bytes.
        EXPECT_TRUE(cleanCompressedSave(c).bytes == clean.bytes);
    }
}

TEST(FaultMatrixCompressed, EveryAllocationFails) {
    size_t cases = 0;
    for (const CompressedCase& c : compressedCases()) {
        const CleanSave clean = cleanCompressedSave(c);
        for (const AllocationKind& kind : kAllocationKinds) {
            const int64_t count = kind.count(clean.outcome.counters);
            for (int64_t k = 0; k < count; ++k) {
                for (bool onward : {false, true}) {
                    SCOPED_TRACE(std::string(c.name) + ", " + kind.name + " #" + std::to_string(k) +
                                 (onward ? " onward" : " alone"));
                    ++cases;
                    Host host(&ENTRYPOINT);
                    playOptions(host, c.options);
                    kind.fail(host.faults(), onward ? Trigger::from(k) : Trigger::nth(k));
                    Document d = c.make();
                    const Document before = d;
                    File out = File::memory();
                    const Outcome o = host.save(d, out);
                    if (o.result == noErr) {
                        EXPECT_TRUE(out.contents() == clean.bytes) << "a save that lost memory wrote another file";
                        EXPECT_TRUE(d == before);
                        expectNothingLeftBehind(host, o);
                        continue;
                    }
                    expectFailedSave(host, o, memFullErr, d, before, out);
                }
            }
        }
    }
    EXPECT_GT(cases, 50u);
}

TEST(FaultMatrixCompressed, EveryWriteFails) {
    for (const CompressedCase& c : compressedCases()) {
        int64_t writes = 0;
        {
            Host host(&ENTRYPOINT);
            playOptions(host, c.options);
            Document d = c.make();
            File out = File::memory();
            ASSERT_TRUE(host.save(d, out).ok());
            writes = out.writeCalls();
        }
        ASSERT_GT(writes, 3) << c.name;
        for (int64_t k = 0; k < writes; ++k) {
            for (bool onward : {false, true}) {
                SCOPED_TRACE(std::string(c.name) + ", write #" + std::to_string(k) + " of " + std::to_string(writes) +
                             (onward ? " onward" : " alone"));
                Host host(&ENTRYPOINT);
            playOptions(host, c.options);
                Document d = c.make();
                const Document before = d;
                File out = File::memory();
                out.failWriteAt(k, onward);
                const Outcome o = host.save(d, out);
                EXPECT_EQ(o.failedSelector, formatSelectorWriteStart);
                EXPECT_EQ(out.writeCalls(), k + 1) << "writes went on after one failed";
                expectFailedSave(host, o, writErr, d, before, out);
            }
        }
    }
}

// Room for every byte count up to the file's size, card by card: writErr
// below it, and every byte that fitted is the clean file's but the first.
TEST(FaultMatrixCompressed, DiskFillsAtEveryCard) {
    for (const CompressedCase& c : compressedCases()) {
        const CleanSave clean = cleanCompressedSave(c);
        const size_t size = clean.bytes.size();
        std::vector<size_t> capacities = {0, 1, 2, size - 1, size};
        for (size_t at = 80; at < size; at += 80) capacities.push_back(at);
        for (size_t capacity : capacities) {
            SCOPED_TRACE(std::string(c.name) + ", room for " + std::to_string(capacity) + " of " +
                         std::to_string(size) + " bytes");
            Host host(&ENTRYPOINT);
            playOptions(host, c.options);
            Document d = c.make();
            const Document before = d;
            File out = File::memory();
            out.capacity(capacity);
            const Outcome o = host.save(d, out);
            if (capacity >= size) {
                EXPECT_TRUE(o.ok()) << describe(o);
                EXPECT_TRUE(out.contents() == clean.bytes);
                continue;
            }
            EXPECT_EQ(o.failedSelector, formatSelectorWriteStart);
            EXPECT_LE(out.contents().size(), capacity);
            expectFailedSave(host, o, writErr, d, before, out);
        }
    }
}

TEST(FaultMatrixCompressed, HostStopsAtEveryRow) {
    for (const CompressedCase& c : compressedCases()) {
        const Document probe = c.make();
        const int planes = probe.image.planes == 4 && probe.image.mode == plugInModeRGBColor ? 3 : probe.image.planes;
        for (int k = 0; k < probe.image.rows * planes; ++k) {
            SCOPED_TRACE(std::string(c.name) + ", row " + std::to_string(k));
            Host host(&ENTRYPOINT);
            playOptions(host, c.options);
            host.faults().advanceState = Trigger::nth(k);
            host.faults().advanceStateCode = userCanceledErr;
            Document d = c.make();
            const Document before = d;
            File out = File::memory();
            const Outcome o = host.save(d, out);
            EXPECT_EQ(o.failedSelector, formatSelectorWriteStart);
            EXPECT_EQ(o.counters.advanceStateCalls, k + 1);
            expectFailedSave(host, o, userCanceledErr, d, before, out);
        }
    }
}

// Saves the writer, the save's memory or the module's reader would refuse:
// told through the host's error string before anything is written, at
// OptionsStart, or at WriteStart for a host that runs no options step.
TEST(FaultMatrixCompressed, RefusedBeforeAnythingIsWritten) {
    struct Refusal {
        const char* name;
        std::function<Document()> make;
        SaveOptions options;
        const char* says;
        bool byHeader = false;  // found in the header made at WriteStart
    };
    const Refusal refusals[] = {
        {"a whole-image HCOMPRESS tile past the memory budget",
         [] { return patternDocument(1500, 1500, 1, 16, plugInModeGray16); },
         compressed(Compression::hcompress, TileSize{1500, 1500}),
         "HCOMPRESS_1 tiles of 1500x1500 need "},
        {"64-bit integers under RICE_1", [] { return openedAt32(Road{"64-bit grey", 64, 1}); },
         compressed(Compression::rice), "64-bit integers are compressed by GZIP_1 or GZIP_2 only, not RICE_1"},
        // Readers put the size cards back at the head of the header: a
        // second NAXIS3 would not come back where it stood.
        {"a kept header with NAXIS3 twice",
         [] {
             return saveDocument(3, 16, plugInModeRGBColor,
                                 {"SIMPLE  =                    T", "BITPIX  =                   16",
                                  "NAXIS   =                    3", "NAXIS1  =                    5",
                                  "NAXIS2  =                    4", "NAXIS3  =                    3",
                                  "OBJECT  = 'x'", "NAXIS3  =                    3"},
                                 false);
         },
         compressed(Compression::gzip2), "NAXIS and NAXISn, first and once each, do not describe the image", true},
    };
    for (const Refusal& r : refusals) {
        for (bool withOptions : {true, false}) {
            SCOPED_TRACE(std::string(r.name) + (withOptions ? ", save" : ", write steps alone"));
            Host host(&ENTRYPOINT);
            playOptions(host, r.options);
            Document d = r.make();
            File out = File::memory();
            const Outcome o = withOptions ? host.save(d, out) : host.write(d, out);
            EXPECT_EQ(o.result, errReportString) << describe(o);
            EXPECT_EQ(o.failedSelector,
                      withOptions && !r.byHeader ? formatSelectorOptionsStart : formatSelectorWriteStart);
            EXPECT_NE(o.reported.find("this image cannot be saved as asked: "), std::string::npos) << o.reported;
            EXPECT_NE(o.reported.find(r.says), std::string::npos) << o.reported;
            EXPECT_TRUE(out.contents().empty());
            expectNothingLeftBehind(host, o);
        }
    }
}
