#include "ui/win32/controls.h"

#include <array>
#include <cstring>

namespace nebulite::ui::win32 {

namespace {

// Texts the dialogs show are one line of at most a few hundred characters;
// a longer one is cut rather than overrun.
using TextBuffer = std::array<char, 256>;

TextBuffer terminated(std::string_view text) {
    TextBuffer buffer{};
    std::size_t n = text.size() < buffer.size() - 1 ? text.size() : buffer.size() - 1;
    std::memcpy(buffer.data(), text.data(), n);
    buffer[n] = '\0';
    return buffer;
}

LRESULT send(HWND dialog, int32_t id, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendDlgItemMessageA(dialog, id, message, wParam, lParam);
}

}  // namespace

void setText(HWND dialog, int32_t id, std::string_view text) {
    TextBuffer buffer = terminated(text);
    SetDlgItemTextA(dialog, id, buffer.data());
}

FieldText fieldText(HWND dialog, int32_t id) {
    TextBuffer buffer{};
    UINT n = GetDlgItemTextA(dialog, id, buffer.data(), static_cast<int>(buffer.size()));
    return FieldText(std::string_view(buffer.data(), n < buffer.size() ? n : 0));
}

void fillCombo(HWND dialog, int32_t id, std::span<const std::string_view> labels) {
    send(dialog, id, CB_RESETCONTENT, 0, 0);
    for (std::string_view label : labels) {
        TextBuffer buffer = terminated(label);
        send(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(buffer.data()));
    }
}

int32_t comboSelection(HWND dialog, int32_t id) {
    return static_cast<int32_t>(send(dialog, id, CB_GETCURSEL, 0, 0));
}

void selectCombo(HWND dialog, int32_t id, int32_t index) {
    send(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void addListRow(HWND dialog, int32_t id, std::string_view text) {
    TextBuffer buffer = terminated(text);
    send(dialog, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(buffer.data()));
}

int32_t listSelection(HWND dialog, int32_t id) {
    return static_cast<int32_t>(send(dialog, id, LB_GETCURSEL, 0, 0));
}

void selectListRow(HWND dialog, int32_t id, int32_t row) {
    send(dialog, id, LB_SETCURSEL, static_cast<WPARAM>(row), 0);
}

void setListTabStops(HWND dialog, int32_t id, std::span<const int32_t> stops) {
    std::array<INT, 8> units{};
    std::size_t n = stops.size() < units.size() ? stops.size() : units.size();
    for (std::size_t i = 0; i < n; ++i) units[i] = stops[i];
    send(dialog, id, LB_SETTABSTOPS, n, reinterpret_cast<LPARAM>(units.data()));
}

void enable(HWND dialog, int32_t id, bool on) { EnableWindow(GetDlgItem(dialog, id), on ? TRUE : FALSE); }

}  // namespace nebulite::ui::win32
