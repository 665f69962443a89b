// The few things the dialogs do to their controls, by control id: texts in
// and out through fixed buffers, drop-down lists filled from label tables,
// selections, and greying out. Nothing here keeps state.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string_view>

#include "options/fixed_text.h"
#include "ui/open_form.h"

namespace nebulite::ui::win32 {

void setText(HWND dialog, int32_t id, std::string_view text);
FieldText fieldText(HWND dialog, int32_t id);

// A drop-down list's entries, replacing what it held.
void fillCombo(HWND dialog, int32_t id, std::span<const std::string_view> labels);
int32_t comboSelection(HWND dialog, int32_t id);
void selectCombo(HWND dialog, int32_t id, int32_t index);

void addListRow(HWND dialog, int32_t id, std::string_view text);
int32_t listSelection(HWND dialog, int32_t id);
void selectListRow(HWND dialog, int32_t id, int32_t row);
void setListTabStops(HWND dialog, int32_t id, std::span<const int32_t> stops);

void enable(HWND dialog, int32_t id, bool on);

}  // namespace nebulite::ui::win32
