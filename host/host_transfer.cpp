// What moves between the module and the document: one row per advanceState,
// checked against the rectangle and planes the record describes, and the
// document a read makes from what ReadStart told the host.
#include <algorithm>
#include <cstring>
#include <new>

#include "host/host_impl.h"

#if !defined(_WIN32)
#include <sys/mman.h>
#endif

namespace nebulite::host {

// ---- advanceState -------------------------------------------------------------

OSErr Host::Impl::moveRow() {
    bool reading = selector == formatSelectorReadStart || selector == formatSelectorReadContinue ||
                   selector == formatSelectorReadFinish;
    bool writing = selector == formatSelectorWriteStart || selector == formatSelectorWriteContinue ||
                   selector == formatSelectorWriteFinish;
    if (!reading && !writing) {
        violation("advanceState", "called outside a read or a write");
        return noErr;
    }
    const FormatRecord& r = host.record_;
    Image& image = host.document_->image;
    const VRect rect = rowRectIn(r);
    size_t before = log.violations.size();
    auto bad = [&](const std::string& what) { violation("advanceState", what); };

    if (image.empty()) bad("no document image");
    if (r.data == nullptr) bad("data is null");
    if (rect.top < 0 || rect.bottom > image.rows || rect.top >= rect.bottom)
        bad("rows " + std::to_string(rect.top) + ".." + std::to_string(rect.bottom) +
            " not within 0.." + std::to_string(image.rows));
    else if (rect.bottom - rect.top != 1)
        bad("moves " + std::to_string(rect.bottom - rect.top) + " rows, not one");
    if (rect.left < 0 || rect.right > image.columns || rect.left >= rect.right)
        bad("columns " + std::to_string(rect.left) + ".." + std::to_string(rect.right) +
            " not within 0.." + std::to_string(image.columns));
    if (r.loPlane < 0 || r.hiPlane >= image.planes || r.loPlane > r.hiPlane)
        bad("planes " + std::to_string(r.loPlane) + ".." + std::to_string(r.hiPlane) +
            " not within 0.." + std::to_string(image.planes - 1));
    else if (r.loPlane != r.hiPlane)
        bad("moves planes " + std::to_string(r.loPlane) + ".." + std::to_string(r.hiPlane) +
            ", not one");
    int sampleBytes = image.depth / 8;
    if (r.colBytes < sampleBytes)
        bad("colBytes " + std::to_string(r.colBytes) + " below " + std::to_string(sampleBytes));
    int64_t width = int64_t{rect.right} - rect.left;
    if (r.rowBytes < width * r.colBytes)
        bad("rowBytes " + std::to_string(r.rowBytes) + " below " + std::to_string(width * r.colBytes));
    if (log.violations.size() != before) return noErr;

    auto* data = static_cast<uint8_t*>(r.data);
    auto columns = static_cast<size_t>(width);
    size_t first = image.index(r.loPlane, rect.top, rect.left);
    auto stride = static_cast<size_t>(r.colBytes);
    if (image.depth == 8) {
        uint8_t* row = image.narrow.data() + first;
        if (stride == 1) {
            if (reading)
                std::memcpy(row, data, columns);
            else
                std::memcpy(data, row, columns);
        } else {
            for (size_t c = 0; c < columns; ++c) {
                if (reading)
                    row[c] = data[c * stride];
                else
                    data[c * stride] = row[c];
            }
        }
    } else if (image.depth == 32) {
        float* row = image.real.data() + first;
        for (size_t c = 0; c < columns; ++c) {
            if (reading)
                std::memcpy(&row[c], data + c * stride, 4);
            else
                std::memcpy(data + c * stride, &row[c], 4);
        }
    } else {
        uint16_t* row = image.wide.data() + first;
        if (reading) {
            if (stride == 2)
                std::memcpy(row, data, columns * 2);
            else
                for (size_t c = 0; c < columns; ++c) std::memcpy(&row[c], data + c * stride, 2);
            // Nearly every row is within range: a max over the row (which
            // the compiler vectorises) finds that, and only a row with a
            // sample above the range is counted sample by sample.
            uint16_t top = 0;
            for (size_t c = 0; c < columns; ++c) top = std::max(top, row[c]);
            if (top > kHostMax16)
                for (size_t c = 0; c < columns; ++c)
                    if (row[c] > kHostMax16) ++log.outOfRangeSamples;
        } else {
            if (stride == 2)
                std::memcpy(data, row, columns * 2);
            else
                for (size_t c = 0; c < columns; ++c) std::memcpy(data + c * stride, &row[c], 2);
        }
    }
    ++log.rowsMoved;
    return noErr;
}

// ---- The document a read makes ----------------------------------------------------

void Host::Impl::makeDocumentImage() {
    const FormatRecord& r = host.record_;
    const VPoint size = imageSizeIn(r);
    log.told = {r.imageMode, size.v, size.h, r.depth, r.planes};
    Image& image = host.document_->image;
    image = Image{};
    std::string what;
    if (size.v < 1 || size.h < 1)
        what = "image size " + std::to_string(size.h) + "x" + std::to_string(size.v);
    else if (r.depth != 8 && r.depth != 16 && r.depth != 32)
        what = "depth " + std::to_string(r.depth);
    else if (r.planes < 1)
        what = "planes " + std::to_string(r.planes);
    else if (r.imageMode < 0 || r.imageMode > plugInModeGray16)
        what = "image mode " + std::to_string(r.imageMode);
    if (!what.empty()) {
        violation("ReadStart", "the host cannot make a document with " + what);
        documentError = formatBadParameters;
        return;
    }
    uint64_t bytes = uint64_t(size.v) * uint64_t(size.h) * uint64_t(r.planes) * uint64_t(r.depth / 8);
    if (bytes > host.setup_.maxImageBytes) {
        documentError = memFullErr;
        return;
    }
    image.rows = size.v;
    image.columns = size.h;
    image.planes = r.planes;
    image.depth = r.depth;
    image.mode = r.imageMode;
    try {
        image.allocate();
    } catch (const std::bad_alloc&) {
        image = Image{};
        documentError = memFullErr;
    }
}

// ---- Image ------------------------------------------------------------------------

void adviseHugePages(const void* data, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    if (data == nullptr || bytes < 2 * kHugePage) return;
    auto start = reinterpret_cast<uintptr_t>(data);
    uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    uintptr_t last = (start + bytes) & ~(kHugePage - 1);
    // Advice only; a system without transparent huge pages refuses it and
    // the block works as before.
    if (first < last) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

namespace {

// A store large enough for the image is reused as it is; a new one is
// advised for huge pages before the zero fill first touches it.
template <typename T>
void sizeStore(std::vector<T>& store, size_t count) {
    if (store.capacity() < count) {
        std::vector<T>().swap(store);
        store.reserve(count);
        adviseHugePages(store.data(), count * sizeof(T));
    }
    store.assign(count, 0);
}

}  // namespace

void Image::allocate() {
    if (depth != 8) std::vector<uint8_t>().swap(narrow);
    if (depth != 16) std::vector<uint16_t>().swap(wide);
    if (depth != 32) std::vector<float>().swap(real);
    if (depth == 32)
        sizeStore(real, sampleCount());
    else if (depth == 16)
        sizeStore(wide, sampleCount());
    else
        sizeStore(narrow, sampleCount());
}

}  // namespace nebulite::host
