// The save dialog on Windows: modal, from the template in the module's
// resources, owned by the host's window; its state is the SaveDialogState
// whose address DialogBoxParamA hands to WM_INITDIALOG (kept in
// GWLP_USERDATA). What the controls mean is decided in save_form.h.
#include <windows.h>

#include "dialog_ids.h"
#include "ui/option_labels.h"
#include "ui/save_dialog.h"
#include "ui/save_form.h"
#include "ui/win32/controls.h"

namespace nebulite::ui {

namespace {

namespace id = ids::saveDialog;
using win32::setText;

struct SaveDialogState {
    const SaveDialogRequest* request = nullptr;
    SaveDialogAnswer answer;
    SaveFormReading reading;
    bool filling = false;  // the dialog setting its own controls
};

SaveDialogState* stateOf(HWND dialog) {
    return reinterpret_cast<SaveDialogState*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
}

void writeValues(HWND d, SaveDialogState& s, const SaveFormValues& v) {
    s.filling = true;
    win32::selectCombo(d, id::compression, v.compression);
    setText(d, id::tileRows, v.tileRows.view());
    setText(d, id::tileColumns, v.tileColumns.view());
    setText(d, id::quantize, v.quantize.view());
    win32::selectCombo(d, id::bitpix, v.bitpix);
    win32::selectCombo(d, id::orientation, v.orientation);
    s.filling = false;
}

SaveFormValues readValues(HWND d) {
    SaveFormValues v;
    v.compression = win32::comboSelection(d, id::compression);
    v.tileRows = win32::fieldText(d, id::tileRows);
    v.tileColumns = win32::fieldText(d, id::tileColumns);
    v.quantize = win32::fieldText(d, id::quantize);
    v.bitpix = win32::comboSelection(d, id::bitpix);
    v.orientation = win32::comboSelection(d, id::orientation);
    return v;
}

void refresh(HWND d, SaveDialogState& s) {
    const options::SaveFacts& document = s.request->document;
    SaveFormValues v = readValues(d);
    s.reading = readSaveForm(v, document, s.request->current);
    SaveFormEnables e = saveFormEnables(v, document);
    win32::enable(d, id::tileRows, e.tile);
    win32::enable(d, id::tileColumns, e.tile);
    win32::enable(d, id::quantize, e.quantize);
    win32::enable(d, id::bitpix, e.bitpix);
    win32::enable(d, id::orientation, e.orientation);
    SaveNotes notes = saveNotes(v, document, s.reading.options);
    setText(d, id::tileAuto, notes.tile.view());
    setText(d, id::quantizeNote, notes.quantize.view());
    setText(d, id::bitpixNote, notes.bitpix.view());
    setText(d, id::orientationNote, notes.orientation.view());
    setText(d, id::message, s.reading.message.view());
}

void onInit(HWND d, SaveDialogState& s) {
    SetWindowLongPtrA(d, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&s));
    win32::fillCombo(d, id::compression, kCompressionLabels);
    win32::fillCombo(d, id::bitpix, kFloatBitpixLabels);
    win32::fillCombo(d, id::orientation, kOrientationLabels);
    writeValues(d, s, saveFormFrom(s.request->current));
    refresh(d, s);
}

void onCommand(HWND d, SaveDialogState& s, int32_t control, UINT code) {
    if (control == IDOK && code == BN_CLICKED) {
        refresh(d, s);
        if (!s.reading.ok()) {
            MessageBeep(MB_ICONEXCLAMATION);
            return;
        }
        s.answer = {DialogOutcome::ok, s.reading.options};
        EndDialog(d, IDOK);
        return;
    }
    if (control == IDCANCEL) {
        s.answer = {DialogOutcome::cancel, s.request->current};
        EndDialog(d, IDCANCEL);
        return;
    }
    if (s.filling) return;
    if (code == EN_CHANGE || code == CBN_SELCHANGE) refresh(d, s);
}

INT_PTR CALLBACK saveDialogProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        onInit(d, *reinterpret_cast<SaveDialogState*>(lParam));
        return TRUE;
    }
    SaveDialogState* s = stateOf(d);
    if (s == nullptr || message != WM_COMMAND) return FALSE;
    onCommand(d, *s, static_cast<int32_t>(LOWORD(wParam)), HIWORD(wParam));
    return TRUE;
}

}  // namespace

SaveDialogAnswer showSaveDialog(const SaveDialogRequest& request) {
    SaveDialogState state;
    state.request = &request;
    state.answer = {DialogOutcome::notShown, request.current};
    INT_PTR closed = DialogBoxParamA(static_cast<HINSTANCE>(request.host.moduleInstance), MAKEINTRESOURCEA(id::dialog),
                                     reinterpret_cast<HWND>(request.host.ownerWindow), saveDialogProc,
                                     reinterpret_cast<LPARAM>(&state));
    if (closed != IDOK && closed != IDCANCEL) return {DialogOutcome::notShown, request.current};
    return state.answer;
}

}  // namespace nebulite::ui
