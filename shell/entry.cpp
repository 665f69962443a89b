// The one exported function, and the library entry routine.
#include <cstring>

#include "platform/host_sdk.h"
#include "platform/host_sdk_layout.h"
#include "platform/win32.h"
#include "shell/alerts.h"
#include "shell/handlers.h"
#include "shell/host_services.h"

#if defined(_WIN32)
#define NEBULITE_EXPORT __declspec(dllexport)
#else
#define NEBULITE_EXPORT __attribute__((visibility("default")))
#endif

using nebulite::PluginState;

extern "C" BOOL nebuliteDllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) nebulite::moduleInstance = instance;
    return 1;
}

#if defined(_WIN32)
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    return nebuliteDllMain(instance, reason, reserved);
}
#endif

extern "C" NEBULITE_EXPORT void SPAPI ENTRYPOINT(int16_t selector, void* params, intptr_t* data,
                                                 int16_t* resultOut) {
    if (data == nullptr || resultOut == nullptr) return;
    // The state lives in a module handle whose address the host keeps for us.
    if (*data == 0) {
        Handle handle = nebulite::moduleHandleNew(sizeof(PluginState));
        if (handle == nullptr) {
            *resultOut = memFullErr;
            return;
        }
        *data = reinterpret_cast<intptr_t>(handle);
        std::memset(*handle, 0, sizeof(PluginState));
    }
    Handle handle = reinterpret_cast<Handle>(*data);
    PluginState state;
    std::memcpy(&state, *handle, sizeof state);
    state.formatRecord = static_cast<FormatRecord*>(params);
    state.result = noErr;
    nebulite::dispatchSelector(selector, state);
    *resultOut = state.result;
    std::memcpy(*handle, &state, sizeof state);
}
