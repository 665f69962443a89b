#include "import/open_dialog_step.h"

#include "import/file_survey.h"
#include "import/open_preview.h"
#include "shell/alerts.h"
#include "ui/dialog_policy.h"
#include "ui/open_dialog.h"

namespace nebulite {

bool askOpenChoices(PluginState& state, ReadOperation& read, int64_t primaryEnd) {
    FormatRecord& record = *state.formatRecord;
    if (!ui::dialogsAvailable() || state.result != noErr) return true;
    const PIDescriptorParameters* params = record.descriptorParameters;
    // A host without scripting parameters is asking the user directly.
    const ui::DialogWish wish = ui::dialogWishOf(params != nullptr ? params->playInfo : plugInDialogDisplay);
    if (wish == ui::DialogWish::silent || record.openForPreview || read.reverting) return true;

    FileSurvey survey;
    if (!surveyFile(state, read, primaryEnd, survey)) return recordError(state, memFullErr);
    // The choices of the last open, unless the host's script gave its own.
    options::OpenOptions current = read.optionsGiven || !state.lastOpenKept ? read.asked : state.lastOpen;
    const options::FileFacts facts{survey.hdus()};
    bool proceed = true;
    if (ui::showOpenDialogFor(wish, false, facts, current)) {
        OpenPreview preview(state, survey);
        ui::OpenDialogRequest request;
        const auto* platform = static_cast<const PlatformData*>(record.platformData);
        request.host = {platform != nullptr ? platform->hwnd : 0, moduleInstance};
        request.file = facts;
        request.compression = survey.compressions();
        request.current = current;
        request.preview = &preview;
        const ui::OpenDialogAnswer answer = ui::showOpenDialog(request);
        if (answer.outcome == ui::DialogOutcome::cancel) proceed = recordCancel(state, true);
        if (answer.outcome == ui::DialogOutcome::ok) {
            read.asked = answer.options;
            // Offered again at the next open in this cell.
            state.lastOpen = answer.options;
            state.lastOpenKept = true;
        }
    }
    // The survey read past the primary: the image is found from its end.
    read.input.seek(state, primaryEnd);
    return proceed && state.result == noErr;
}

}  // namespace nebulite
