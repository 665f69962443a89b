#include "shell/alerts.h"

#include <cmath>
#include <cstring>

#include "platform/host_sdk.h"

namespace nebulite {

HINSTANCE moduleInstance = nullptr;

void showAbout(const void* aboutRecord, HINSTANCE instance, unsigned stringId) {
    HWND owner = nullptr;
    if (const auto* about = static_cast<const AboutRecord*>(aboutRecord);
        about != nullptr && about->platformData != nullptr)
        owner = reinterpret_cast<HWND>(static_cast<const PlatformData*>(about->platformData)->hwnd);
    char text[255] = {};
    char caption[60] = {};
    LoadStringA(instance, stringId, text, static_cast<int>(sizeof text));
    LoadStringA(instance, stringId + 1, caption, static_cast<int>(sizeof caption));
    MessageBoxA(owner, text, caption, MB_OK | MB_ICONINFORMATION);
}

int showAlert(HINSTANCE instance, HWND owner, int alertId, unsigned stringId,
              const PascalString* arg0, const PascalString* arg1, const PascalString* arg2) {
    (void)arg0;  // the alerts this module shows never fill ^0
    PascalString message;
    clearPString(message);
    if (alertId == 0) return 0;
    if (stringId > 0) {
        char loaded[PascalString::kMaxLength + 1] = {};
        int length = LoadStringA(instance, stringId, loaded, static_cast<int>(sizeof loaded));
        if (length > 0) appendPString(message, loaded, static_cast<size_t>(length));
    }
    substitutePlaceholders(message, nullptr, arg1, arg2);
    char text[PascalString::kMaxLength + 1];
    std::memcpy(text, message.text(), message.length());
    text[message.length()] = '\0';
    return MessageBoxA(owner, text, nullptr, MB_OK | MB_ICONEXCLAMATION);
}

void substitutePlaceholders(PascalString& text, const PascalString* arg0,
                            const PascalString* arg1, const PascalString* arg2) {
    const PascalString* args[3] = {arg0, arg1, arg2};
    bool pending = false;
    // i indexes characters from 0; the length is re-read as the text changes.
    for (size_t i = 0; i < text.length(); ++i) {
        char c = text.text()[i];
        if (c == '^') {
            pending = true;
            continue;
        }
        if (pending && c >= '0' && c <= '2') {
            pending = false;
            const PascalString* arg = args[c - '0'];
            size_t caret = i - 1;
            PascalString rebuilt;
            clearPString(rebuilt);
            appendPString(rebuilt, text.text(), caret);
            if (arg != nullptr) appendPString(rebuilt, arg->text(), arg->length());
            appendPString(rebuilt, text.text() + i + 1, text.length() - (i + 1));
            text = rebuilt;
            // Resume one position after where the caret stood.
            i = caret;
            continue;
        }
        pending = false;
    }
}

void formatInteger(int32_t value, PascalString& out) {
    clearPString(out);
    char digits[12];
    size_t n = 0;
    int64_t v = value;
    bool negative = v < 0;
    if (negative) v = -v;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (negative) appendPString(out, "-", 1);
    while (n > 0) appendPString(out, &digits[--n], 1);
}

double powerOfTen(uint16_t k) {
    double result = 1.0;
    for (uint16_t i = 0; i < k; ++i) result *= 10.0;
    return result;
}

void formatDecimal(double x, int decimals, PascalString& out) {
    clearPString(out);
    if (!(x >= 0.0)) x = 0.0;  // negative numbers (and NaN) are never formatted
    int n = decimals < 0 ? 0 : decimals > 9 ? 9 : decimals;
    double scale = powerOfTen(static_cast<uint16_t>(n));
    if (x > 2147483647.0) x = 2147483647.0;
    // Rounded half up at n decimals in one step, as an integer: producing
    // the digits by repeated multiplication would print 1.2 as 1.1.
    auto scaled = static_cast<int64_t>(std::floor(x * scale + 0.5));
    auto unit = static_cast<int64_t>(scale);
    formatInteger(static_cast<int32_t>(scaled / unit), out);
    appendPString(out, ".", 1);
    char digits[10];
    int64_t fraction = scaled % unit;
    for (int k = n - 1; k >= 0; --k) {
        digits[k] = static_cast<char>('0' + fraction % 10);
        fraction /= 10;
    }
    // Trailing zeros are not shown, but one digit always is.
    int shown = n;
    while (shown > 1 && digits[shown - 1] == '0') --shown;
    if (shown == 0) appendPString(out, "0", 1);
    else appendPString(out, digits, static_cast<size_t>(shown));
}

}  // namespace nebulite
