#include "shell/input_stream.h"

#include <zlib.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/win32.h"
#include "shell/file_access.h"
#include "shell/module_memory.h"
#include "header/fits_units.h"

namespace nebulite {

namespace {

enum class InputKind : uint8_t {
    closed,     // not opened, or closed since
    undecided,  // opened, nothing read yet: the first bytes tell plain from gzip
    plain,
    gzip,
};

// Compressed bytes are read from the host's file in pieces of this size: the
// largest count its 16-bit read takes, rounded down to an even number.
constexpr uint32_t kRawPiece = 65534;
// Inflated bytes that a forward skip throws away go through this much at a time.
constexpr uint32_t kSkipPiece = 16384;

struct GzipState {
    z_stream z{};
    bool inflating = false;  // inflateInit2 succeeded and inflateEnd is due
    bool rawEnded = false;   // the host's file has no more bytes
    bool ended = false;      // the last member (and any zero padding) is behind
};

struct InputStream {
    InputKind kind = InputKind::closed;
    int64_t position = 0;
    GzipState gz;
};

InputStream input;
// Static, not on the stack and not from the heap: the stream's only buffers.
unsigned char rawBuffer[kRawPiece];
unsigned char skipBuffer[kSkipPiece];

intptr_t hostFile(const PluginState& state) { return state.formatRecord->dataFork; }

// zlib's own memory (the inflate state and its window) comes from the
// module's allocator, where tests can make it fail.
voidpf inflateAllocate(voidpf, uInt items, uInt size) {
    auto bytes = checkedMul(items, size, SIZE_MAX);
    if (!bytes) return nullptr;
    return moduleAllocate(nebuliteAllocOther, static_cast<size_t>(*bytes));
}
void inflateRelease(voidpf, voidpf block) { moduleFree(block); }

void endInflate() {
    if (input.gz.inflating) inflateEnd(&input.gz.z);
    input.gz = GzipState{};
}

// Starts inflating with `have` compressed bytes already in rawBuffer.
bool beginInflate(PluginState& state, uInt have) {
    endInflate();
    z_stream& z = input.gz.z;
    z.zalloc = inflateAllocate;
    z.zfree = inflateRelease;
    z.opaque = nullptr;
    z.next_in = rawBuffer;
    z.avail_in = have;
    // 16 + 15: a gzip wrapper (its header and trailer checked by zlib, the
    // CRC among them) around deflate data with the largest window.
    int status = inflateInit2(&z, 16 + MAX_WBITS);
    if (status != Z_OK) return recordError(state, status == Z_MEM_ERROR ? memFullErr : readErr);
    input.gz.inflating = true;
    return true;
}

// More compressed bytes, after any still unused (which move to the front).
bool refill(PluginState& state) {
    z_stream& z = input.gz.z;
    if (z.avail_in > 0 && z.next_in != rawBuffer) std::memmove(rawBuffer, z.next_in, z.avail_in);
    z.next_in = rawBuffer;
    auto room = static_cast<int32_t>(kRawPiece - z.avail_in);
    if (room == 0 || input.gz.rawEnded) return true;
    int32_t moved = room;
    if (!recordError(state, fileRead(hostFile(state), &moved, rawBuffer + z.avail_in))) return false;
    if (moved == 0) input.gz.rawEnded = true;
    z.avail_in += static_cast<uInt>(moved);
    return true;
}

// After a member's trailer: another member, zeros to the end of the file
// (some tools pad to a record size), or anything else, which gzip itself
// also ignores with a warning. False only when a read failed.
bool afterMember(PluginState& state) {
    z_stream& z = input.gz.z;
    for (;;) {
        while (z.avail_in > 0 && *z.next_in == 0) {
            ++z.next_in;
            --z.avail_in;
        }
        if (z.avail_in < 2 && !input.gz.rawEnded) {
            if (!refill(state)) return false;
            continue;
        }
        if (z.avail_in >= 2 && isGzipMagic(z.next_in, z.avail_in)) {
            if (inflateReset(&z) != Z_OK) return recordError(state, readErr);
            return true;
        }
        input.gz.ended = true;
        return true;
    }
}

int64_t inflateInto(PluginState& state, unsigned char* out, int64_t count) {
    z_stream& z = input.gz.z;
    int64_t produced = 0;
    while (state.result == noErr && produced < count && !input.gz.ended) {
        if (z.avail_in == 0 && !input.gz.rawEnded && !refill(state)) break;
        int64_t want = count - produced;
        z.next_out = out + produced;
        z.avail_out = static_cast<uInt>(want > UINT_MAX ? UINT_MAX : want);
        const uInt inBefore = z.avail_in;
        const uInt outBefore = z.avail_out;
        int status = inflate(&z, Z_NO_FLUSH);
        produced += outBefore - z.avail_out;
        switch (status) {
            case Z_STREAM_END: afterMember(state); break;
            case Z_OK:
            case Z_BUF_ERROR:
                // No progress with nothing more to read: the data stops
                // inside a member.
                if (z.avail_in == inBefore && z.avail_out == outBefore && input.gz.rawEnded)
                    recordError(state, eofErr);
                break;
            case Z_MEM_ERROR: recordError(state, memFullErr); break;
            default: recordError(state, readErr); break;  // corrupt data, a bad check value
        }
    }
    return produced;
}

// Reads through the host's file calls exactly as a direct reader would.
int64_t readPlain(PluginState& state, unsigned char* out, int64_t count) {
    int64_t done = 0;
    while (state.result == noErr && done < count) {
        int64_t left = count - done;
        int32_t piece = left > int64_t{kRawPiece} ? int32_t{kRawPiece} : static_cast<int32_t>(left);
        int32_t moved = piece;
        if (!recordError(state, fileRead(hostFile(state), &moved, out + done))) break;
        done += moved;
        if (moved < piece) break;
    }
    return done;
}

// The first read decides: the bytes it brings are either the first FITS
// bytes or the start of the gzip data.
int64_t readFirst(PluginState& state, unsigned char* out, int64_t count) {
    int32_t piece = count > int64_t{kRawPiece} ? int32_t{kRawPiece} : static_cast<int32_t>(count);
    int32_t moved = piece;
    if (!recordError(state, fileRead(hostFile(state), &moved, out))) return 0;
    if (!isGzipMagic(out, moved)) {
        input.kind = InputKind::plain;
        if (moved < piece) return moved;
        return moved + readPlain(state, out + moved, count - moved);
    }
    input.kind = InputKind::gzip;
    std::memcpy(rawBuffer, out, static_cast<size_t>(moved));
    if (!beginInflate(state, static_cast<uInt>(moved))) return 0;
    if (moved < piece) input.gz.rawEnded = true;
    return inflateInto(state, out, count);
}

bool restartGzip(PluginState& state) {
    if (!recordError(state, fileSeekTo(hostFile(state), 0))) return false;
    input.position = 0;
    return beginInflate(state, 0);
}

// The file's path from the host's FSSpec: its characters start 9 bytes into
// the record and end at a NUL. False when the host gave none.
bool hostFilePath(const PluginState& state, char (&path)[256]) {
    const FSSpec* location = state.formatRecord->fileSpec;
    if (location == nullptr) return false;
    const char* text = reinterpret_cast<const char*>(location) + 9;
    size_t n = 0;
    while (n < 255 && text[n] != '\0') {
        path[n] = text[n];
        ++n;
    }
    path[n] = '\0';
    return n > 0;
}

// 64-bit seeks and positions: files past 2 GiB report their true length.
int seekStdio(std::FILE* file, int64_t offset, int origin) {
#if defined(_WIN32)
    return _fseeki64(file, offset, origin);
#else
    return fseeko(file, static_cast<off_t>(offset), origin);
#endif
}

int64_t rawFileLength(std::FILE* file) {
    if (seekStdio(file, 0, SEEK_END) != 0) return -1;
#if defined(_WIN32)
    int64_t length = _ftelli64(file);
#else
    int64_t length = ftello(file);
#endif
    return length > 0 ? length : -1;
}

// gzip's trailer ends with the inflated size of its member modulo 2^32,
// little-endian. It is the stream's length when the file is one member
// (what gzip, astropy and the archives write) and under 4 GiB inflated;
// the caller treats a length that contradicts the data as no length at all.
int64_t gzipTrailerLength(std::FILE* file) {
    constexpr long kSmallestGzip = 18;  // a 10-byte header, empty data, the 8-byte trailer
    int64_t raw = rawFileLength(file);
    if (raw < kSmallestGzip) return -1;
    unsigned char size[4];
    if (seekStdio(file, -4, SEEK_END) != 0 || std::fread(size, 1, 4, file) != 4) return -1;
    return int64_t{size[0]} | int64_t{size[1]} << 8 | int64_t{size[2]} << 16 | int64_t{size[3]} << 24;
}

}  // namespace

bool isGzipMagic(const unsigned char* bytes, int64_t count) {
    return count >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B;
}

void inputOpen(PluginState& state) {
    inputClose();
    if (state.result != noErr) return;
    if (!recordError(state, fileSeek(hostFile(state), FILE_BEGIN, 0))) return;
    input.kind = InputKind::undecided;
    input.position = 0;
}

void inputClose() {
    endInflate();
    input.kind = InputKind::closed;
    input.position = 0;
}

int64_t inputRead(PluginState& state, void* out, int64_t count) {
    if (state.result != noErr || count <= 0) return 0;
    auto* bytes = static_cast<unsigned char*>(out);
    int64_t moved = 0;
    switch (input.kind) {
        case InputKind::closed: recordError(state, readErr); return 0;
        case InputKind::undecided: moved = readFirst(state, bytes, count); break;
        case InputKind::plain: moved = readPlain(state, bytes, count); break;
        case InputKind::gzip: moved = inflateInto(state, bytes, count); break;
    }
    input.position += moved;
    return moved;
}

void inputReadExact(PluginState& state, void* out, int64_t count) {
    int64_t moved = inputRead(state, out, count);
    if (state.result == noErr && moved < count) state.result = eofErr;
}

void inputSeek(PluginState& state, int64_t offset) {
    if (state.result != noErr) return;
    if (offset < 0) {
        recordError(state, readErr);
        return;
    }
    // Already there: no file call, so a plain file sees exactly the calls
    // its readers made before there was a stream.
    if (offset == input.position && input.kind != InputKind::closed) return;
    switch (input.kind) {
        case InputKind::closed: recordError(state, readErr); return;
        case InputKind::undecided:
            // A seek before any read: the stream cannot have been gzip
            // data read from the start, so the file is taken as it is.
            input.kind = InputKind::plain;
            [[fallthrough]];
        case InputKind::plain:
            if (recordError(state, fileSeekTo(hostFile(state), offset))) input.position = offset;
            return;
        case InputKind::gzip:
            if (offset < input.position && !restartGzip(state)) return;
            while (state.result == noErr && input.position < offset) {
                int64_t left = offset - input.position;
                int64_t moved = inflateInto(state, skipBuffer, left > kSkipPiece ? kSkipPiece : left);
                input.position += moved;
                if (moved == 0) break;  // the stream ended before the offset
            }
            return;
    }
}

void inputVerifyToEnd(PluginState& state) {
    if (state.result != noErr || input.kind != InputKind::gzip) return;
    while (state.result == noErr && !input.gz.ended) {
        int64_t moved = inflateInto(state, skipBuffer, kSkipPiece);
        input.position += moved;
        if (moved == 0 && !input.gz.ended) break;  // inflateInto said why in `result`
    }
}

int64_t inputPosition() { return input.position; }

bool inputIsGzip() { return input.kind == InputKind::gzip; }

int64_t inputMaxOffset() { return INT64_MAX; }

int64_t inputLength(PluginState& state) {
    char path[256];
    if (!hostFilePath(state, path)) return -1;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return -1;
    int64_t length = input.kind == InputKind::gzip ? gzipTrailerLength(file) : rawFileLength(file);
    std::fclose(file);
    return length;
}

}  // namespace nebulite
