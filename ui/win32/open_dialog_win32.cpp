// The open dialog on Windows: a modal dialog from the template in the
// module's resources, owned by the host's window. Its state lives in the
// OpenDialogState whose address goes to DialogBoxParamA and is kept in the
// dialog's GWLP_USERDATA; what the controls mean is decided in open_form.h.
#include <windows.h>

#include "dialog_ids.h"
#include "options/option_text.h"
#include "ui/image_list.h"
#include "ui/open_dialog.h"
#include "ui/open_form.h"
#include "ui/open_notes.h"
#include "ui/option_labels.h"
#include "ui/win32/controls.h"
#include "ui/win32/preview_canvas.h"

namespace nebulite::ui {

namespace {

namespace id = ids::openDialog;
using win32::setText;

// The preview is rendered this long after the last change, so that a number
// being typed renders once, not once a keystroke.
constexpr UINT_PTR kPreviewTimer = 1;
constexpr UINT kPreviewDelayMs = 150;

struct OpenDialogState {
    const OpenDialogRequest* request = nullptr;
    OpenDialogAnswer answer;
    OpenFormReading reading;
    // True while the dialog sets its own controls: their notifications are
    // not the user's changes.
    bool filling = false;
    win32::PreviewCanvas canvas;
};

OpenDialogState* stateOf(HWND dialog) {
    return reinterpret_cast<OpenDialogState*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
}

const options::FileFacts& fileOf(const OpenDialogState& s) { return s.request->file; }

void fillLists(HWND d, const OpenDialogRequest& request) {
    win32::fillCombo(d, id::planes, kPlaneLabels);
    win32::fillCombo(d, id::orientation, kOrientationLabels);
    win32::fillCombo(d, id::stretch, kStretchLabels);
    win32::fillCombo(d, id::interval, kIntervalLabels);
    win32::fillCombo(d, id::depth, kDepthLabels);
    win32::fillCombo(d, id::debayer, kDebayerLabels);
    win32::fillCombo(d, id::demosaic, kDemosaicLabels);
    win32::setListTabStops(d, id::images, kImageListTabStops);
    for (std::size_t hdu = 0; hdu < request.file.hdus.size(); ++hdu)
        if (isListedImage(request.file.hdus[hdu]))
            win32::addListRow(d, id::images,
                              imageRowText(request.file, request.compression, static_cast<uint32_t>(hdu)).view());
}

constexpr std::array<int32_t, 3> kPlaneFields = {id::plane1, id::plane2, id::plane3};

void writeValues(HWND d, OpenDialogState& s, const OpenFormValues& v) {
    s.filling = true;
    win32::selectListRow(d, id::images, v.imageRow);
    win32::selectCombo(d, id::planes, v.planes);
    for (std::size_t i = 0; i < 3; ++i) setText(d, kPlaneFields[i], v.plane[i].view());
    win32::selectCombo(d, id::orientation, v.orientation);
    win32::selectCombo(d, id::stretch, v.stretch);
    win32::selectCombo(d, id::interval, v.interval);
    setText(d, id::percent, v.percent.view());
    setText(d, id::black, v.black.view());
    setText(d, id::white, v.white.view());
    setText(d, id::midtone, v.midtone.view());
    win32::selectCombo(d, id::depth, v.depth);
    win32::selectCombo(d, id::debayer, v.debayer);
    win32::selectCombo(d, id::demosaic, v.demosaic);
    s.filling = false;
}

OpenFormValues readValues(HWND d) {
    OpenFormValues v;
    v.imageRow = win32::listSelection(d, id::images);
    v.planes = win32::comboSelection(d, id::planes);
    for (std::size_t i = 0; i < 3; ++i) v.plane[i] = win32::fieldText(d, kPlaneFields[i]);
    v.orientation = win32::comboSelection(d, id::orientation);
    v.stretch = win32::comboSelection(d, id::stretch);
    v.interval = win32::comboSelection(d, id::interval);
    v.percent = win32::fieldText(d, id::percent);
    v.black = win32::fieldText(d, id::black);
    v.white = win32::fieldText(d, id::white);
    v.midtone = win32::fieldText(d, id::midtone);
    v.depth = win32::comboSelection(d, id::depth);
    v.debayer = win32::comboSelection(d, id::debayer);
    v.demosaic = win32::comboSelection(d, id::demosaic);
    return v;
}

void showEnables(HWND d, const OpenFormEnables& e) {
    for (std::size_t i = 0; i < 3; ++i) win32::enable(d, kPlaneFields[i], e.plane[i]);
    win32::enable(d, id::interval, e.interval);
    win32::enable(d, id::percent, e.percent);
    win32::enable(d, id::black, e.points);
    win32::enable(d, id::white, e.points);
    win32::enable(d, id::midtone, e.midtone);
    win32::enable(d, id::debayer, e.debayer);
    win32::enable(d, id::demosaic, e.demosaic);
}

// Fields the automatic planes fill: rewritten only when they differ, so that
// nothing flickers.
void showAutomaticPlanes(HWND d, OpenDialogState& s, const OpenFormValues& v) {
    const options::PlaneSelect* select = valueAt(options::kPlaneSelectWords, v.planes);
    if (select == nullptr || *select != options::PlaneSelect::automatic) return;
    std::array<FieldText, 3> automatic = automaticPlaneTexts(fileOf(s), v.imageRow);
    s.filling = true;
    for (std::size_t i = 0; i < 3; ++i)
        if (!(automatic[i] == v.plane[i])) setText(d, kPlaneFields[i], automatic[i].view());
    s.filling = false;
}

// After every change: what the controls say, whether it holds, which
// controls apply, and a preview a moment later.
void refresh(HWND d, OpenDialogState& s) {
    OpenFormValues v = readValues(d);
    showAutomaticPlanes(d, s, v);
    v = readValues(d);
    s.reading = readOpenForm(v, fileOf(s), s.request->current);
    showEnables(d, openFormEnables(v, fileOf(s)));
    OpenNotes notes = openNotes(v, fileOf(s), s.reading.options);
    setText(d, id::planesAuto, notes.planes.view());
    setText(d, id::depthAuto, notes.depth.view());
    setText(d, id::debayerAuto, notes.debayer.view());
    setText(d, id::message, s.reading.message.view());
    if (s.reading.ok() && s.request->preview != nullptr) SetTimer(d, kPreviewTimer, kPreviewDelayMs, nullptr);
}

// The points the preview measured go into the fields the user cannot edit
// now, so that choosing explicit points starts from them.
void showMeasuredPoints(HWND d, OpenDialogState& s, const PreviewHistogram& h) {
    OpenFormEnables e = openFormEnables(readValues(d), fileOf(s));
    s.filling = true;
    if (!e.points) {
        setText(d, id::black, options::formatNumber(h.black).view());
        setText(d, id::white, options::formatNumber(h.white).view());
    }
    if (!e.midtone) setText(d, id::midtone, options::formatNumber(h.midtone).view());
    s.filling = false;
}

void renderPreview(HWND d, OpenDialogState& s) {
    KillTimer(d, kPreviewTimer);
    if (s.request->preview == nullptr || !s.reading.ok()) return;
    Preview preview = s.request->preview->render(s.reading.options);
    if (preview.message.empty()) {
        win32::takePreview(s.canvas, preview);
        showMeasuredPoints(d, s, preview.histogram);
    } else {
        win32::clearPreview(s.canvas);
        setText(d, id::message, options::compose("preview: ", preview.message).view());
    }
    InvalidateRect(GetDlgItem(d, id::preview), nullptr, FALSE);
    InvalidateRect(GetDlgItem(d, id::histogram), nullptr, FALSE);
}

void onInit(HWND d, OpenDialogState& s) {
    SetWindowLongPtrA(d, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&s));
    // Without the canvas the dialog still works, without a preview.
    win32::createCanvas(s.canvas);
    fillLists(d, *s.request);
    writeValues(d, s, openFormFrom(fileOf(s), s.request->current));
    refresh(d, s);
    renderPreview(d, s);
}

void onCommand(HWND d, OpenDialogState& s, int32_t control, UINT code) {
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
    if (code == EN_CHANGE || code == CBN_SELCHANGE || code == LBN_SELCHANGE) refresh(d, s);
}

void onDrawItem(const OpenDialogState& s, const DRAWITEMSTRUCT& item) {
    if (item.CtlID == static_cast<UINT>(id::preview)) win32::drawPreview(s.canvas, item);
    if (item.CtlID == static_cast<UINT>(id::histogram)) win32::drawHistogram(s.canvas, item);
}

INT_PTR CALLBACK openDialogProc(HWND d, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        onInit(d, *reinterpret_cast<OpenDialogState*>(lParam));
        return TRUE;
    }
    OpenDialogState* s = stateOf(d);
    if (s == nullptr) return FALSE;
    switch (message) {
        case WM_COMMAND:
            onCommand(d, *s, static_cast<int32_t>(LOWORD(wParam)), HIWORD(wParam));
            return TRUE;
        case WM_TIMER:
            if (wParam == kPreviewTimer) renderPreview(d, *s);
            return TRUE;
        case WM_DRAWITEM:
            onDrawItem(*s, *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_DESTROY:
            KillTimer(d, kPreviewTimer);
            win32::destroyCanvas(s->canvas);
            return FALSE;
        default: return FALSE;
    }
}

}  // namespace

bool dialogsAvailable() { return true; }

OpenDialogAnswer showOpenDialog(const OpenDialogRequest& request) {
    OpenDialogState state;
    state.request = &request;
    state.answer = {DialogOutcome::notShown, request.current};
    if (listedImageCount(request.file) == 0) return state.answer;
    INT_PTR closed = DialogBoxParamA(static_cast<HINSTANCE>(request.host.moduleInstance), MAKEINTRESOURCEA(id::dialog),
                                     reinterpret_cast<HWND>(request.host.ownerWindow), openDialogProc,
                                     reinterpret_cast<LPARAM>(&state));
    // -1: no template (or no window); 0: the owner is no window.
    if (closed != IDOK && closed != IDCANCEL) return {DialogOutcome::notShown, request.current};
    return state.answer;
}

}  // namespace nebulite::ui
