#include "header/header_reader.h"

namespace nebulite {

int64_t MemorySource::read(void* out, int64_t count) {
    if (count <= 0 || position_ >= bytes_.size()) return 0;
    const uint64_t left = bytes_.size() - position_;
    const uint64_t n = static_cast<uint64_t>(count) < left ? static_cast<uint64_t>(count) : left;
    std::memcpy(out, bytes_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return static_cast<int64_t>(n);
}

}  // namespace nebulite
