// Platforms without the module's dialogs (the POSIX build): every dialog
// answers that it could not be shown, and the module carries on as it does
// without one.
#include "ui/open_dialog.h"
#include "ui/save_dialog.h"

namespace nebulite::ui {

bool dialogsAvailable() { return false; }

OpenDialogAnswer showOpenDialog(const OpenDialogRequest& request) {
    return {DialogOutcome::notShown, request.current};
}

SaveDialogAnswer showSaveDialog(const SaveDialogRequest& request) {
    return {DialogOutcome::notShown, request.current};
}

}  // namespace nebulite::ui
