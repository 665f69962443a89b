#include "shell/host_report.h"

#include <algorithm>
#include <cstring>

#include "platform/host_sdk.h"
#include "platform/win32.h"

namespace nebulite {

void refuseThroughHost(PluginState& state, std::string_view text) {
    if (state.result != noErr) return;
    FormatRecord& record = *state.formatRecord;
    if (Str255* slot = record.errorString; slot != nullptr) {
        const size_t length = std::min<size_t>(text.size(), 255);
        (*slot)[0] = static_cast<unsigned char>(length);
        std::memcpy(*slot + 1, text.data(), length);
        recordError(state, errReportString);
        return;
    }
    char shown[256];
    const size_t length = std::min(text.size(), sizeof shown - 1);
    std::memcpy(shown, text.data(), length);
    shown[length] = '\0';
    // The host's words lead into the text ("... because this file ..."); a
    // message box of its own starts a sentence.
    if (shown[0] >= 'a' && shown[0] <= 'z') shown[0] = static_cast<char>(shown[0] - 'a' + 'A');
    MessageBoxA(nullptr, shown, "Nebulite", MB_OK);
    recordCancel(state, true);
}

}  // namespace nebulite
