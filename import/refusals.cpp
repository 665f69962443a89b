#include "import/refusals.h"

#include <algorithm>
#include <cstdio>

#include "header/fits_units.h"
#include "platform/win32.h"
#include "shell/host_report.h"

namespace nebulite {

const char* notSupported(ReadOperation& read, const char* what) {
    std::snprintf(read.refusal, sizeof read.refusal, "Fits Files %s are not supported", what);
    return read.refusal;
}

const char* notSupported(ReadOperation& read, const char* what, int64_t value) {
    std::snprintf(read.refusal, sizeof read.refusal, "Fits Files %s %lld are not supported", what,
                  static_cast<long long>(value));
    return read.refusal;
}

const char* headerTooLong(ReadOperation& read) {
    std::snprintf(read.refusal, sizeof read.refusal,
                  "Fits Files with a header longer than %u blocks are not supported",
                  static_cast<unsigned>(kMaxHeaderBlocks));
    return read.refusal;
}

const char* unusableTable(ReadOperation& read, const char* why) {
    std::snprintf(read.refusal, sizeof read.refusal,
                  "Fits Files with a compressed image whose table is unusable (%s) are not supported", why);
    return read.refusal;
}

void refuse(PluginState& state, ReadOperation& read, const char* message) {
    read.input.verifyToEnd(state);
    if (state.result != noErr) return;
    MessageBoxA(nullptr, message, "Nebulite", MB_OK);
    recordCancel(state, true);
}

void refuseAsAsked(PluginState& state, ReadOperation& read, std::string_view why) {
    read.input.verifyToEnd(state);
    const int length = std::snprintf(read.refusal, sizeof read.refusal,
                                     "this Fits File cannot be opened as asked: %.*s",
                                     static_cast<int>(why.size()), why.data());
    const size_t kept = length < 0 ? 0 : std::min(static_cast<size_t>(length), sizeof read.refusal - 1);
    refuseThroughHost(state, std::string_view(read.refusal, kept));
}

}  // namespace nebulite
