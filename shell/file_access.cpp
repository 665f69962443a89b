#include "shell/file_access.h"

#include "platform/win32.h"

namespace nebulite {

namespace {

HFILE asHfile(intptr_t file) { return static_cast<HFILE>(file); }
HANDLE asHandle(intptr_t file) { return reinterpret_cast<HANDLE>(file); }

}  // namespace

OSErr fileRead(intptr_t file, int32_t* count, void* buffer) {
    auto asked = static_cast<uint16_t>(*count);
    UINT got = _lread(asHfile(file), buffer, asked);
    if (got == static_cast<UINT>(HFILE_ERROR)) {
        *count = 0;
        return readErr;
    }
    *count = static_cast<int32_t>(got);
    return noErr;
}

OSErr fileWrite(intptr_t file, int32_t* count, const void* buffer) {
    int32_t asked = *count;
    if (asked < 0) {
        *count = 0;
        return writErr;
    }
    UINT written = _lwrite(asHfile(file), static_cast<LPCSTR>(buffer),
                           static_cast<UINT>(asked));
    if (written == static_cast<UINT>(HFILE_ERROR)) written = 0;
    *count = static_cast<int32_t>(written);
    return written == static_cast<UINT>(asked) ? noErr : writErr;
}

OSErr fileSeek(intptr_t file, int origin, int32_t offset) {
    _llseek(asHfile(file), offset, origin);
    return noErr;
}

OSErr fileSeekTo(intptr_t file, int64_t offset) {
    if (offset < 0) return readErr;
    LARGE_INTEGER to;
    to.QuadPart = offset;
    LARGE_INTEGER at;
    at.QuadPart = -1;
    if (!SetFilePointerEx(asHandle(file), to, &at, FILE_BEGIN)) return readErr;
    return at.QuadPart == offset ? noErr : readErr;
}

void readExact(PluginState& state, int32_t count, void* buffer) {
    if (state.result != noErr) return;
    int32_t moved = count;
    state.result = fileRead(state.formatRecord->dataFork, &moved, buffer);
    if (state.result == noErr && moved < count) state.result = eofErr;
}

void writeExact(PluginState& state, int32_t count, const void* buffer) {
    if (state.result != noErr) return;
    int32_t moved = count;
    state.result = fileWrite(state.formatRecord->dataFork, &moved, buffer);
}

}  // namespace nebulite
