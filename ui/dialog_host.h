// What every dialog of the module needs from the host and answers to it,
// without a Windows type: the owner window and the module's instance travel
// as plain values, so that the module's read and write code can hand them on
// knowing nothing of Win32.
#pragma once

#include <cstdint>

namespace nebulite::ui {

struct DialogHost {
    // The host's window that owns the dialog: the `hwnd` of the PlatformData
    // in the parameter block's `platformData`. 0 shows an unowned dialog.
    intptr_t ownerWindow = 0;
    // The instance handle of the library whose resources hold the dialog
    // templates: the module's own (moduleInstance).
    void* moduleInstance = nullptr;
};

enum class DialogOutcome : uint8_t {
    ok,        // the options the user chose come back with it
    cancel,    // the user cancelled: the module ends with userCanceledErr
    notShown,  // no dialog could be shown (no dialogs on this platform, no
               // template, no image to choose): carry on as without one
};

}  // namespace nebulite::ui
