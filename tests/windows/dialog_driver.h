// Driving a modal dialog of this process from a second thread, as a user
// would: find its window, set its controls and send the notification each
// control sends its dialog when a user changes it, press its buttons, read
// what it shows. Every wait has a timeout. Used by dialog_check.cpp against
// the dialogs alone, and meant for tests that drive the module's dialogs
// through a host (the dialog opens inside a selector call on the host's
// thread; the test's second thread drives it).
//
// The control ids are the generated ones (dialog_ids.h, from
// resources/definition.py): nebulite::ui::ids::openDialog::stretch, ...
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace nebulite::dialog_driver {

// Calls `done` every 20 ms until it answers true (then true) or `timeoutMs`
// has passed (then false).
template <typename Predicate>
bool waitUntil(Predicate done, DWORD timeoutMs) {
    ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done()) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(20);
    }
}

namespace detail {
template <typename Steps>
DWORD WINAPI runSteps(void* steps) {
    (*static_cast<Steps*>(steps))();
    return 0;
}
}  // namespace detail

// A second thread that drives a dialog while this one shows it (a modal
// dialog runs its own loop on the thread that called DialogBoxParam, e.g.
// inside the host's selector call):
//
//   auto steps = [&] { HWND d = waitForDialog("Nebulite: open FITS", 10000); ... clickButton(d, IDOK); };
//   DriverThread driver(steps);
//   host.open(...);           // shows the dialog; returns once OK closes it
//   bool ended = driver.join(30000);
//
// `steps` must outlive the thread. (std::thread is not in every mingw-w64
// runtime.)
class DriverThread {
public:
    template <typename Steps>
    explicit DriverThread(Steps& steps) : thread_(CreateThread(nullptr, 0, detail::runSteps<Steps>, &steps, 0, nullptr)) {}
    // A thread still running after a minute is left to the process's end:
    // its test has failed already (join answered false).
    ~DriverThread() {
        if (!join(60000)) CloseHandle(thread_);
    }
    DriverThread(const DriverThread&) = delete;
    DriverThread& operator=(const DriverThread&) = delete;

    bool started() const { return thread_ != nullptr; }
    // True once the steps have ended, false if they are still running after
    // `timeoutMs`.
    bool join(DWORD timeoutMs) {
        if (thread_ == nullptr) return true;
        if (WaitForSingleObject(thread_, timeoutMs) != WAIT_OBJECT_0) return false;
        CloseHandle(thread_);
        thread_ = nullptr;
        return true;
    }

private:
    HANDLE thread_;
};

namespace detail {
struct Search {
    const char* caption;
    HWND found;
};

inline BOOL CALLBACK visit(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::string(name) != "#32770") return TRUE;
    if (search->caption != nullptr) {
        char caption[256] = {};
        GetWindowTextA(window, caption, sizeof caption);
        if (std::string(caption) != search->caption) return TRUE;
    }
    search->found = window;
    return FALSE;
}
}  // namespace detail

// A visible dialog window (class #32770) of this process, with this caption
// when one is given; null when there is none. Message boxes are dialogs too:
// give the caption to tell them apart.
inline HWND findDialog(const char* caption) {
    detail::Search search{caption, nullptr};
    EnumWindows(detail::visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

inline HWND waitForDialog(const char* caption, DWORD timeoutMs) {
    HWND found = nullptr;
    waitUntil([&] { return (found = findDialog(caption)) != nullptr; }, timeoutMs);
    return found;
}

// True once the window is gone (the modal loop returned).
inline bool waitForClose(HWND dialog, DWORD timeoutMs) {
    return waitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, timeoutMs);
}

// The notification a control sends its dialog, sent as the control would
// (SendMessage: the dialog has acted on it when this returns).
inline void notify(HWND dialog, int id, UINT code) {
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), static_cast<WORD>(code)),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Selects a list box row, as a click on it does.
inline bool selectListRow(HWND dialog, int id, int row) {
    LRESULT r = SendDlgItemMessageA(dialog, id, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
    if (r == LB_ERR) return false;
    notify(dialog, id, LBN_SELCHANGE);
    return true;
}

// Selects the drop-down list entry whose text is exactly `text`, as picking
// it does; false when there is no such entry.
inline bool selectComboText(HWND dialog, int id, const char* text) {
    LRESULT at = SendDlgItemMessageA(dialog, id, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(text));
    if (at == CB_ERR) return false;
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(at), 0);
    notify(dialog, id, CBN_SELCHANGE);
    return true;
}

// Replaces an edit field's text, as typing does.
inline void typeText(HWND dialog, int id, const char* text) {
    SendDlgItemMessageA(dialog, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    notify(dialog, id, EN_CHANGE);
}

// Presses a push button (IDOK, IDCANCEL, ...). Posted, not sent: what the
// press starts (closing the dialog, a message box) must not hold up the
// driving thread.
inline void clickButton(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

inline std::string controlText(HWND dialog, int id) {
    char text[512] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

inline int listCount(HWND dialog, int id) {
    return static_cast<int>(SendDlgItemMessageA(dialog, id, LB_GETCOUNT, 0, 0));
}

inline int listSelection(HWND dialog, int id) {
    return static_cast<int>(SendDlgItemMessageA(dialog, id, LB_GETCURSEL, 0, 0));
}

inline std::string listRowText(HWND dialog, int id, int row) {
    char text[512] = {};
    LRESULT n = SendDlgItemMessageA(dialog, id, LB_GETTEXTLEN, static_cast<WPARAM>(row), 0);
    if (n == LB_ERR || n >= static_cast<LRESULT>(sizeof text)) return {};
    SendDlgItemMessageA(dialog, id, LB_GETTEXT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text));
    return text;
}

// The text of the selected drop-down entry.
inline std::string comboText(HWND dialog, int id) { return controlText(dialog, id); }

inline bool isEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

// Holds a driven dialog still for a screenshot taken from outside: its
// client area on the screen ("x y width height") goes to PREFIX.ready, and
// the wait ends once PREFIX.done exists (true) or after a minute (false).
// Only the client area: without a window manager there is no title bar to
// show, only the strip where it would be.
inline bool waitForScreenshot(HWND dialog, const char* prefix) {
    RECT r{};
    GetClientRect(dialog, &r);
    MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&r), 2);
    const std::string ready = std::string(prefix) + ".ready", done = std::string(prefix) + ".done";
    if (FILE* f = std::fopen(ready.c_str(), "w")) {
        std::fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        std::fclose(f);
    }
    return waitUntil([&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, 60000);
}

}  // namespace nebulite::dialog_driver
