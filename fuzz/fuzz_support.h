// What the fuzz targets share: one host for the whole process, and checks
// that stop the run with a message when the module breaks one of its rules.
//
// A failed check calls abort() so that libFuzzer (and the replayer under
// CTest) reports the input; the message says which rule broke.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"
#include "platform/host_sdk.h"

extern "C" void ENTRYPOINT(int16_t selector, void* params, intptr_t* data, int16_t* result);

namespace fuzzing {

using namespace nebulite::host;

[[noreturn]] inline void fail(const char* rule, const std::string& detail) {
    std::fprintf(stderr, "\nnebulite fuzz check failed: %s\n  %s\n", rule, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

#define FUZZ_CHECK(condition, detail)                          \
    do {                                                       \
        if (!(condition)) ::fuzzing::fail(#condition, detail); \
    } while (0)

// Faults already reported can be set aside for a long run, so that the
// fuzzer keeps looking for new ones: NEBULITE_FUZZ_KNOWN lists their names,
// comma-separated. Without it every check is made (replays, reproducers).
inline bool known(const char* name) {
    const char* list = std::getenv("NEBULITE_FUZZ_KNOWN");
    if (list == nullptr) return false;
    const std::string_view wanted(name);
    std::string_view rest(list);
    while (!rest.empty()) {
        size_t comma = rest.find(',');
        if (rest.substr(0, comma) == wanted) return true;
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return false;
}

// One host for the process: a host per input would keep every retired
// state cell alive for the leak checker and grow without bound. The module's
// own state outlives any host anyway, so nothing is lost.
inline Host& sharedHost() {
    static Host* host = new Host(&ENTRYPOINT);
    return *host;
}

// Documents larger than this are refused by the host itself (memFullErr
// before ReadContinue), so a header that claims a huge image costs nothing.
constexpr uint64_t kMaxImageBytes = uint64_t{4} << 20;

inline std::string describe(const Outcome& o) {
    std::string s = "result " + std::to_string(o.result) + " at selector " +
                    std::to_string(o.failedSelector);
    if (!o.hostFailure.empty()) s += " (host: " + o.hostFailure + ")";
    for (const std::string& v : o.violations) s += "\n  violation: " + v;
    for (const Leak& l : o.leaks)
        s += "\n  leak: kind " + std::to_string(static_cast<int>(l.kind)) + ", " +
             std::to_string(l.bytes) + " bytes from selector " + std::to_string(l.selector);
    for (const MessageBox& m : o.messages) s += "\n  message: " + m.text;
    return s;
}

// What every sequence owes the host, whatever the input.
inline void checkClean(const Outcome& o, const char* what) {
    FUZZ_CHECK(o.violations.empty(), std::string(what) + ": " + describe(o));
    FUZZ_CHECK(o.leaks.empty(), std::string(what) + ": " + describe(o));
    FUZZ_CHECK(o.outOfRangeSamples == 0, std::string(what) + ": " + describe(o));
}

// A card as the reader stores it in its 'hist' record: column 1 is the
// length, the record holds the columns after it.
inline ResourceRecord recordFromCard(const std::string& card80) {
    auto length = static_cast<unsigned char>(card80[0]);
    ResourceRecord r(length, 0);
    for (size_t k = 0; k < length && k + 1 < card80.size(); ++k)
        r[k] = static_cast<uint8_t>(card80[k + 1]);
    return r;
}

}  // namespace fuzzing
