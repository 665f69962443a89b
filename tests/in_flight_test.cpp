// Two documents in flight at once: an open while another document is saved,
// two opens, two saves, each on its own host (record, cell and document
// apart, as the editor keeps them) against the one loaded module. Every
// document and every file must come out exactly as the same operation done
// alone, whatever way the two selector sequences interleave, on two threads
// at once too, and a failure in one must leave the other untouched.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "fits_fixture.h"
#include "host/in_flight.h"
#include "module_host.h"

using namespace testing_host;

namespace {

namespace fs = std::filesystem;

// A 16-bit image with a long header (three blocks), so that a read or a save
// that took the other operation's header would show it.
std::vector<uint8_t> longHeaderFile(int rows, int columns, int seed) {
    fixture::Fits f = fixture::image(16, {columns, rows});
    f.add(fixture::valueCard("BZERO", "32768.0").substr(0, 80));
    f.add("OBJECT  = 'field " + std::to_string(seed) + "'");
    for (int i = 0; i < 90; ++i) f.add("HISTORY card " + std::to_string(i) + " of file " + std::to_string(seed));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) fixture::put16(f.data, (r * 131 + c * 17 + seed * 7919) % 65536 - 32768);
    return f.bytes();
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

// fpack's Rice tiles of `plain`, when fpack is installed.
std::optional<std::vector<uint8_t>> fpacked(const std::vector<uint8_t>& plain) {
    if (std::system("command -v fpack >/dev/null 2>&1") != 0) return std::nullopt;
    std::string dir = (fs::temp_directory_path() / "nebulite-inflight-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) return std::nullopt;
    {
        std::ofstream out(fs::path(dir) / "plain.fits", std::ios::binary);
        out.write(reinterpret_cast<const char*>(plain.data()), static_cast<std::streamsize>(plain.size()));
    }
    std::optional<std::vector<uint8_t>> packed;
    if (std::system(("cd " + dir + " && fpack -r -O packed.fz plain.fits >/dev/null 2>&1").c_str()) == 0) {
        std::ifstream in(fs::path(dir) / "packed.fz", std::ios::binary);
        packed = std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return packed;
}

enum class Kind { open, save };

// One operation of the pair: what it works on and how it is run.
struct Operation {
    std::string name;
    Kind kind = Kind::open;
    std::vector<uint8_t> input;  // the file opened
    Document document;           // the document saved
    Faults faults;               // what goes wrong in it
};

struct Result {
    Outcome outcome;
    Document document;             // what an open made
    std::vector<uint8_t> written;  // what a save wrote
};

// The operation on a fresh file; `host` runs it, alone or beside another.
struct Running {
    const Operation& op;
    File file = File::memory();
    Document document;

    explicit Running(const Operation& o) : op(o), document(o.document) {
        if (o.kind == Kind::open) file = File::memory(o.input);
    }
    Job job() {
        return [this](Host& host) {
            host.faults() = op.faults;
            return op.kind == Kind::open ? host.read(file) : host.save(document, file);
        };
    }
    Result result(Host& host, Outcome outcome) {
        Result r{std::move(outcome), {}, {}};
        if (op.kind == Kind::open)
            r.document = host.takeDocument();
        else
            r.written = file.contents();
        return r;
    }
};

Result alone(const Operation& op) {
    Host host(&ENTRYPOINT);
    Running run(op);
    Outcome o = run.job()(host);
    return run.result(host, std::move(o));
}

void expectSame(const Result& got, const Result& want, const std::string& what) {
    EXPECT_EQ(got.outcome.result, want.outcome.result) << what;
    EXPECT_EQ(got.outcome.failedSelector, want.outcome.failedSelector) << what;
    EXPECT_EQ(got.outcome.selectors(), want.outcome.selectors()) << what;
    EXPECT_EQ(got.outcome.rowsMoved, want.outcome.rowsMoved) << what;
    EXPECT_TRUE(got.outcome.leaks.empty()) << what;
    EXPECT_TRUE(got.outcome.violations.empty()) << what;
    EXPECT_TRUE(got.document == want.document) << what << ": the document differs from the one made alone";
    EXPECT_TRUE(got.written == want.written) << what << ": the file differs from the one written alone";
}

// A document as the editor holds one opened from `file`: its image and the
// header records, ready to be saved back.
Document openedDocument(const std::vector<uint8_t>& file) {
    Host host(&ENTRYPOINT);
    File in = File::memory(file);
    EXPECT_TRUE(host.read(in).ok());
    return host.takeDocument();
}

std::vector<Operation> operations() {
    std::vector<Operation> ops;
    const std::vector<uint8_t> a = longHeaderFile(40, 33, 1);
    const std::vector<uint8_t> b = longHeaderFile(27, 51, 2);
    ops.push_back({"open plain A", Kind::open, a, {}, {}});
    ops.push_back({"open gzip B", Kind::open, gzipped(b), {}, {}});
    if (auto packed = fpacked(longHeaderFile(30, 45, 3)))
        ops.push_back({"open tiled C", Kind::open, *packed, {}, {}});
    ops.push_back({"save A's document", Kind::save, {}, openedDocument(a), {}});
    ops.push_back({"save a new RGB document", Kind::save, {}, patternDocument(21, 17, 3, 8, plugInModeRGBColor), {}});
    return ops;
}

// The orders worth trying for a pair: turn about from either side, and one
// host making its first k calls before the other's first, for every k up to
// the longest sequence, so the other's calls land between each pair of
// this one's selectors.
std::vector<std::string> orders(size_t callsA, size_t callsB) {
    std::vector<std::string> out = {"", "b"};
    for (size_t k = 1; k <= callsA; ++k) out.push_back(std::string(k, 'a') + "b");
    for (size_t k = 1; k <= callsB; ++k) out.push_back(std::string(k, 'b') + "a");
    return out;
}

}  // namespace

TEST(InFlight, InterleavedCallByCallAsIfAlone) {
    const std::vector<Operation> ops = operations();
    for (size_t i = 0; i < ops.size(); ++i) {
        for (size_t j = i; j < ops.size(); ++j) {
            const Result wantA = alone(ops[i]);
            const Result wantB = alone(ops[j]);
            ASSERT_TRUE(wantA.outcome.ok() && wantB.outcome.ok()) << ops[i].name << ", " << ops[j].name;
            for (const std::string& order : orders(wantA.outcome.calls.size(), wantB.outcome.calls.size())) {
                const std::string what = ops[i].name + " beside " + ops[j].name + ", order '" + order + "'";
                Host hostA(&ENTRYPOINT);
                Host hostB(&ENTRYPOINT);
                Running runA(ops[i]);
                Running runB(ops[j]);
                Together t = runInterleaved(hostA, runA.job(), hostB, runB.job(), order);
                expectSame(runA.result(hostA, std::move(t.a)), wantA, what + " (a)");
                expectSame(runB.result(hostB, std::move(t.b)), wantB, what + " (b)");
            }
        }
    }
}

TEST(InFlight, OnTwoThreadsAtOnce) {
    const std::vector<Operation> ops = operations();
    for (size_t i = 0; i < ops.size(); ++i) {
        for (size_t j = 0; j < ops.size(); ++j) {
            const Result wantA = alone(ops[i]);
            const Result wantB = alone(ops[j]);
            for (int round = 0; round < 8; ++round) {
                const std::string what = ops[i].name + " with " + ops[j].name + ", round " + std::to_string(round);
                Host hostA(&ENTRYPOINT);
                Host hostB(&ENTRYPOINT);
                Running runA(ops[i]);
                Running runB(ops[j]);
                Together t = runConcurrently(hostA, runA.job(), hostB, runB.job());
                expectSame(runA.result(hostA, std::move(t.a)), wantA, what + " (a)");
                expectSame(runB.result(hostB, std::move(t.b)), wantB, what + " (b)");
            }
        }
    }
}

// Every allocation, host buffer and handle of one operation failing in turn,
// beside a clean one of the other kind: the failing one ends as it does
// alone, and the clean one is not touched by it.
TEST(InFlight, AFailureInOneLeavesTheOtherWhole) {
    const std::vector<Operation> ops = operations();
    const Operation& open = ops[0];
    const Operation& save = ops[ops.size() - 2];
    struct Kinds {
        const char* name;
        void (*fail)(Faults&, Trigger);
        int64_t (*count)(const Counters&);
    } kinds[] = {
        {"card buffer", [](Faults& f, Trigger t) { f.moduleAllocation[nebuliteAllocCardBuffer] = t; },
         [](const Counters& c) { return c.moduleAllocations[nebuliteAllocCardBuffer]; }},
        {"operation", [](Faults& f, Trigger t) { f.moduleAllocation[nebuliteAllocOperation] = t; },
         [](const Counters& c) { return c.moduleAllocations[nebuliteAllocOperation]; }},
        {"other module memory", [](Faults& f, Trigger t) { f.moduleAllocation[nebuliteAllocOther] = t; },
         [](const Counters& c) { return c.moduleAllocations[nebuliteAllocOther]; }},
        {"row block", [](Faults& f, Trigger t) { f.moduleAllocation[nebuliteAllocRowBlock] = t; },
         [](const Counters& c) { return c.moduleAllocations[nebuliteAllocRowBlock]; }},
        {"host buffer", [](Faults& f, Trigger t) { f.bufferAllocate = t; },
         [](const Counters& c) { return c.bufferAllocations; }},
        {"resource add", [](Faults& f, Trigger t) { f.resourceAdd = t; },
         [](const Counters& c) { return c.resourceAdds; }},
    };
    for (const Operation* failing : {&open, &save}) {
        const Operation& clean = failing == &open ? save : open;
        const Result wantClean = alone(clean);
        const Result probe = alone(*failing);
        for (const Kinds& kind : kinds) {
            for (int64_t k = 0; k < kind.count(probe.outcome.counters); ++k) {
                Operation broken = *failing;
                kind.fail(broken.faults, Trigger::nth(k));
                // Not every fault fails the operation: a header the document
                // has no room for is left out, and the image still opens.
                const Result wantBroken = alone(broken);
                for (const std::string order : {"", "b", "aab", "bba"}) {
                    const std::string what = std::string(kind.name) + " #" + std::to_string(k) + " failing in " +
                                             broken.name + ", order '" + order + "'";
                    Host hostA(&ENTRYPOINT);
                    Host hostB(&ENTRYPOINT);
                    Running runA(broken);
                    Running runB(clean);
                    Together t = runInterleaved(hostA, runA.job(), hostB, runB.job(), order);
                    expectSame(runA.result(hostA, std::move(t.a)), wantBroken, what + " (the failing one)");
                    expectSame(runB.result(hostB, std::move(t.b)), wantClean, what + " (the clean one)");
                }
            }
        }
    }
}
