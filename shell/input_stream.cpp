#include "shell/input_stream.h"

#include <zlib.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "codecs/algorithm.h"
#include "platform/win32.h"
#include "shell/file_access.h"
#include "shell/module_memory.h"
#include "header/fits_units.h"

namespace nebulite {

namespace {

// Compressed bytes are read from the host's file in pieces of this size: the
// largest count its 16-bit read takes, rounded down to an even number.
constexpr uint32_t kRawPiece = 65534;
// Inflated bytes that a forward skip throws away go through this much at a time.
constexpr uint32_t kSkipPiece = 16384;

}  // namespace

struct InputStream::Inflater {
    z_stream z{};
    bool inflating = false;  // inflateInit2 succeeded and inflateEnd is due
    bool rawEnded = false;   // the host's file has no more bytes
    bool ended = false;      // the last member (and any zero padding) is behind
    unsigned char raw[kRawPiece];
    unsigned char skip[kSkipPiece];

    Inflater() = default;
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    ~Inflater() { end(); }

    void end() {
        if (inflating) inflateEnd(&z);
        z = z_stream{};
        inflating = rawEnded = ended = false;
    }
};

namespace {

using Inflater = InputStream::Inflater;

intptr_t hostFile(const PluginState& state) { return state.formatRecord->dataFork; }

// zlib's own memory (the inflate state and its window) comes from the
// module's allocator, where tests can make it fail.
voidpf inflateAllocate(voidpf, uInt items, uInt size) {
    auto bytes = checkedMul(items, size, SIZE_MAX);
    if (!bytes) return nullptr;
    return moduleAllocate(nebuliteAllocOther, static_cast<size_t>(*bytes));
}
void inflateRelease(voidpf, voidpf block) { moduleFree(block); }

// Starts inflating with `have` compressed bytes already in gz.raw.
bool beginInflate(PluginState& state, Inflater& gz, uInt have) {
    gz.end();
    z_stream& z = gz.z;
    z.zalloc = inflateAllocate;
    z.zfree = inflateRelease;
    z.opaque = nullptr;
    z.next_in = gz.raw;
    z.avail_in = have;
    // 16 + 15: a gzip wrapper (its header and trailer checked by zlib, the
    // CRC among them) around deflate data with the largest window.
    int status = inflateInit2(&z, 16 + MAX_WBITS);
    if (status != Z_OK) return recordError(state, status == Z_MEM_ERROR ? memFullErr : readErr);
    gz.inflating = true;
    return true;
}

// More compressed bytes, after any still unused (which move to the front).
bool refill(PluginState& state, Inflater& gz) {
    z_stream& z = gz.z;
    if (z.avail_in > 0 && z.next_in != gz.raw) std::memmove(gz.raw, z.next_in, z.avail_in);
    z.next_in = gz.raw;
    auto room = static_cast<int32_t>(kRawPiece - z.avail_in);
    if (room == 0 || gz.rawEnded) return true;
    int32_t moved = room;
    if (!recordError(state, fileRead(hostFile(state), &moved, gz.raw + z.avail_in))) return false;
    if (moved == 0) gz.rawEnded = true;
    z.avail_in += static_cast<uInt>(moved);
    return true;
}

// After a member's trailer: another member, zeros to the end of the file
// (some tools pad to a record size), or anything else, which gzip itself
// also ignores with a warning. False only when a read failed.
bool afterMember(PluginState& state, Inflater& gz) {
    z_stream& z = gz.z;
    for (;;) {
        while (z.avail_in > 0 && *z.next_in == 0) {
            ++z.next_in;
            --z.avail_in;
        }
        if (z.avail_in < 2 && !gz.rawEnded) {
            if (!refill(state, gz)) return false;
            continue;
        }
        if (z.avail_in >= 2 && isGzipMagic(z.next_in, z.avail_in)) {
            if (inflateReset(&z) != Z_OK) return recordError(state, readErr);
            return true;
        }
        gz.ended = true;
        return true;
    }
}

int64_t inflateInto(PluginState& state, Inflater& gz, unsigned char* out, int64_t count) {
    z_stream& z = gz.z;
    int64_t produced = 0;
    while (state.result == noErr && produced < count && !gz.ended) {
        if (z.avail_in == 0 && !gz.rawEnded && !refill(state, gz)) break;
        int64_t want = count - produced;
        z.next_out = out + produced;
        z.avail_out = static_cast<uInt>(want > UINT_MAX ? UINT_MAX : want);
        const uInt inBefore = z.avail_in;
        const uInt outBefore = z.avail_out;
        int status = inflate(&z, Z_NO_FLUSH);
        produced += outBefore - z.avail_out;
        switch (status) {
            case Z_STREAM_END: afterMember(state, gz); break;
            case Z_OK:
            case Z_BUF_ERROR:
                // No progress with nothing more to read: the data stops
                // inside a member.
                if (z.avail_in == inBefore && z.avail_out == outBefore && gz.rawEnded)
                    recordError(state, eofErr);
                break;
            case Z_MEM_ERROR: recordError(state, memFullErr); break;
            default: recordError(state, readErr); break;  // corrupt data, a bad check value
        }
    }
    return produced;
}

}  // namespace

// Reads through the host's file calls exactly as a direct reader would.
int64_t InputStream::readPlain(PluginState& state, unsigned char* out, int64_t count) {
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
int64_t InputStream::readFirst(PluginState& state, unsigned char* out, int64_t count) {
    int32_t piece = count > int64_t{kRawPiece} ? int32_t{kRawPiece} : static_cast<int32_t>(count);
    int32_t moved = piece;
    if (!recordError(state, fileRead(hostFile(state), &moved, out))) return 0;
    if (!isGzipMagic(out, moved)) {
        kind_ = Kind::plain;
        if (moved < piece) return moved;
        return moved + readPlain(state, out + moved, count - moved);
    }
    // Only a gzip file needs the inflater and its buffers.
    gz_ = moduleNew<Inflater>(nebuliteAllocOther);
    if (gz_ == nullptr) {
        recordError(state, memFullErr);
        return 0;
    }
    kind_ = Kind::gzip;
    std::memcpy(gz_->raw, out, static_cast<size_t>(moved));
    if (!beginInflate(state, *gz_, static_cast<uInt>(moved))) return 0;
    if (moved < piece) gz_->rawEnded = true;
    return inflateInto(state, *gz_, out, count);
}

bool InputStream::restartGzip(PluginState& state) {
    if (!recordError(state, fileSeekTo(hostFile(state), 0))) return false;
    position_ = 0;
    return beginInflate(state, *gz_, 0);
}

namespace {

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

void InputStream::open(PluginState& state) {
    close();
    if (state.result != noErr) return;
    if (!recordError(state, fileSeek(hostFile(state), FILE_BEGIN, 0))) return;
    kind_ = Kind::undecided;
    position_ = 0;
}

void InputStream::close() {
    moduleDelete(gz_);
    gz_ = nullptr;
    kind_ = Kind::closed;
    position_ = 0;
}

int64_t InputStream::read(PluginState& state, void* out, int64_t count) {
    if (state.result != noErr || count <= 0) return 0;
    auto* bytes = static_cast<unsigned char*>(out);
    int64_t moved = 0;
    switch (kind_) {
        case Kind::closed: recordError(state, readErr); return 0;
        case Kind::undecided: moved = readFirst(state, bytes, count); break;
        case Kind::plain: moved = readPlain(state, bytes, count); break;
        case Kind::gzip: moved = inflateInto(state, *gz_, bytes, count); break;
    }
    position_ += moved;
    return moved;
}

void InputStream::readExact(PluginState& state, void* out, int64_t count) {
    int64_t moved = read(state, out, count);
    if (state.result == noErr && moved < count) state.result = eofErr;
}

void InputStream::seek(PluginState& state, int64_t offset) {
    if (state.result != noErr) return;
    if (offset < 0) {
        recordError(state, readErr);
        return;
    }
    // Already there: no file call, so a plain file sees exactly the calls
    // its readers made before there was a stream.
    if (offset == position_ && kind_ != Kind::closed) return;
    switch (kind_) {
        case Kind::closed: recordError(state, readErr); return;
        case Kind::undecided:
            // A seek before any read: the stream cannot have been gzip
            // data read from the start, so the file is taken as it is.
            kind_ = Kind::plain;
            [[fallthrough]];
        case Kind::plain:
            if (recordError(state, fileSeekTo(hostFile(state), offset))) position_ = offset;
            return;
        case Kind::gzip:
            if (offset < position_ && !restartGzip(state)) return;
            while (state.result == noErr && position_ < offset) {
                int64_t left = offset - position_;
                int64_t moved = inflateInto(state, *gz_, gz_->skip, left > kSkipPiece ? kSkipPiece : left);
                position_ += moved;
                if (moved == 0) break;  // the stream ended before the offset
            }
            return;
    }
}

void InputStream::verifyToEnd(PluginState& state) {
    if (state.result != noErr || kind_ != Kind::gzip) return;
    while (state.result == noErr && !gz_->ended) {
        int64_t moved = inflateInto(state, *gz_, gz_->skip, kSkipPiece);
        position_ += moved;
        if (moved == 0 && !gz_->ended) break;  // inflateInto said why in `result`
    }
}

int64_t InputStream::reachableEnd(PluginState& state) const {
    if (kind_ != Kind::gzip) return INT64_MAX;
    char path[256];
    if (!hostFilePath(state, path)) return INT64_MAX;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return INT64_MAX;
    const int64_t raw = rawFileLength(file);
    std::fclose(file);
    if (raw <= 0) return INT64_MAX;
    const auto most = checkedMul(static_cast<uint64_t>(raw), codecs::kMaxDeflateRatio, INT64_MAX);
    return most ? static_cast<int64_t>(*most) : INT64_MAX;
}

int64_t InputStream::length(PluginState& state) const {
    char path[256];
    if (!hostFilePath(state, path)) return -1;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return -1;
    int64_t length = kind_ == Kind::gzip ? gzipTrailerLength(file) : rawFileLength(file);
    std::fclose(file);
    return length;
}

}  // namespace nebulite
