// The about box and the version alert, their string table entries, and the
// small text helpers they need.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "shell/pascal_string.h"

namespace nebulite {

constexpr unsigned kStringAbout = 16000;
constexpr unsigned kStringAboutCaption = 16001;
constexpr unsigned kStringRequiresVersion = 16992;
constexpr unsigned kStringIncompatibleHost = 16993;
constexpr int kAlertId = 16990;

// The library's instance handle, recorded by the library entry routine.
extern HINSTANCE moduleInstance;

void showAbout(const void* aboutRecord, HINSTANCE instance, unsigned stringId);

// Shows string `stringId` with ^0, ^1, ^2 replaced by the arguments (each
// may be null). Answers the message box's answer, or 0 when alertId is 0.
int showAlert(HINSTANCE instance, HWND owner, int alertId, unsigned stringId,
              const PascalString* arg0, const PascalString* arg1, const PascalString* arg2);

void substitutePlaceholders(PascalString& text, const PascalString* arg0,
                            const PascalString* arg1, const PascalString* arg2);

// The text of x >= 0 with up to `decimals` digits after the point.
void formatDecimal(double x, int decimals, PascalString& out);
void formatInteger(int32_t value, PascalString& out);
double powerOfTen(uint16_t k);

}  // namespace nebulite
