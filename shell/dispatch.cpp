#include <cstring>

#include "header/card_text.h"
#include "header/fits_units.h"
#include "shell/alerts.h"
#include "shell/geometry.h"
#include "shell/handlers.h"
#include "shell/host_services.h"
#include "shell/input_stream.h"
#include "shell/operation.h"

namespace nebulite {

namespace {

void doNothing(PluginState&) {}

using Handler = void (*)(PluginState&);

// Indexed by selector number, 0 to 17.
constexpr Handler kHandlers[] = {
    doAbout,          // formatSelectorAbout
    doReadPrepare,    // formatSelectorReadPrepare
    doReadStart,      // formatSelectorReadStart
    doReadContinue,   // formatSelectorReadContinue
    doReadFinish,     // formatSelectorReadFinish
    doOptionsPrepare, // formatSelectorOptionsPrepare
    doOptionsStart,   // formatSelectorOptionsStart
    doNothing,        // formatSelectorOptionsContinue
    doNothing,        // formatSelectorOptionsFinish
    doNothing,        // formatSelectorEstimatePrepare
    doEstimateStart,  // formatSelectorEstimateStart
    doNothing,        // formatSelectorEstimateContinue
    doNothing,        // formatSelectorEstimateFinish
    doWritePrepare,   // formatSelectorWritePrepare
    doWriteStart,     // formatSelectorWriteStart
    doNothing,        // formatSelectorWriteContinue
    doWriteFinish,    // formatSelectorWriteFinish
    doFilterFile,     // formatSelectorFilterFile
};
static_assert(std::size(kHandlers) == formatSelectorFilterFile + 1);

// The steps of a read or a write, after whose failure the host goes no
// further with that operation: its state goes at once rather than wait for
// a Finish the host may not send.
constexpr bool stepOfOperation(int16_t selector) {
    return (selector >= formatSelectorReadPrepare && selector <= formatSelectorReadFinish) ||
           (selector >= formatSelectorWritePrepare && selector <= formatSelectorWriteFinish);
}

}  // namespace

void dispatchSelector(int16_t selector, PluginState& state) {
    if (selector < 0 || selector > formatSelectorFilterFile) {
        state.result = formatBadParameters;
        return;
    }
    // The about box can do without its record; every other step needs the
    // host's parameter block.
    if (state.formatRecord == nullptr && selector != formatSelectorAbout) {
        state.result = formatBadParameters;
        return;
    }
    if (selector != formatSelectorAbout) agreeOnCoordinates(*state.formatRecord);
    kHandlers[selector](state);
    if (state.result != noErr && stepOfOperation(selector)) endOperation(state);
}

void doAbout(PluginState& state) {
    showAbout(state.formatRecord, moduleInstance, kStringAbout);
}

void doOptionsPrepare(PluginState& state) { state.formatRecord->maxData = 0; }

void doWriteFinish(PluginState& state) {
    if (state.operation != nullptr && state.operation->kind() == Operation::Kind::write) endOperation(state);
    // The next save starts from the defaults, or from its own options.
    state.saveOptions = options::SaveOptions{};
}

void doFilterFile(PluginState& state) {
    if (state.result != noErr) return;
    // A gzip file is claimed when what it inflates to starts as FITS does.
    // The check is an operation of its own, one call long: it leaves any
    // read or write in flight in this cell alone.
    InputStream input;
    input.open(state);
    char card[kCardBytes];
    input.readExact(state, card, kCardBytes);
    if (state.result != noErr) return;
    if (!isSimpleCard(card)) state.result = formatCannotRead;
}

}  // namespace nebulite
