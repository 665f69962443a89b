#include "shell/alerts.h"

#include <cstring>

#include "platform/host_sdk.h"

namespace nebulite {

HINSTANCE moduleInstance = nullptr;

void showAbout(const void* aboutRecord, HINSTANCE instance, unsigned stringId) {
    HWND owner = nullptr;
    if (const auto* about = static_cast<const AboutRecord*>(aboutRecord);
        about != nullptr && about->platformData != nullptr)
        owner = reinterpret_cast<HWND>(about->platformData->hwnd);
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
    if (x > 2147483647.0) x = 2147483647.0;
    int n = decimals < 0 ? 0 : decimals;
    auto fraction = [](double v) { return v - static_cast<double>(static_cast<int64_t>(v)); };
    // Round half up at n decimals.
    if (fraction(x * powerOfTen(static_cast<uint16_t>(n))) >= 0.5)
        x += 5.0 / powerOfTen(static_cast<uint16_t>(n + 1));
    // A trailing zero at the last decimal is not shown (once).
    if (n > 1 && fraction(x * powerOfTen(static_cast<uint16_t>(n - 1))) * 10.0 < 1.0) --n;
    int64_t whole = static_cast<int64_t>(x);
    formatInteger(static_cast<int32_t>(whole), out);
    appendPString(out, ".", 1);
    double f = x - static_cast<double>(whole);
    int written = 0;
    do {
        f *= 10.0;
        int digit = static_cast<int>(f);
        if (digit > 9) digit = 9;
        char c = static_cast<char>('0' + digit);
        appendPString(out, &c, 1);
        f -= digit;
        ++written;
    } while (f != 0.0 && written < n);
}

}  // namespace nebulite
