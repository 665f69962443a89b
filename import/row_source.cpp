#include "import/row_source.h"

namespace nebulite {

DataExtent dataExtent(int64_t fileLength, int64_t dataStart, int64_t dataBytes) {
    if (fileLength <= 0 || dataStart < 0 || dataBytes < 0) return DataExtent::unknown;
    // Subtracting keeps clear of overflow whatever the header claimed.
    return dataBytes <= fileLength - dataStart ? DataExtent::whole : DataExtent::cutShort;
}

DataExtent PlainRows::extent(int64_t fileLength) const { return dataExtent(fileLength, dataStart_, dataBytes_); }

// ReadStart left the stream at the data start; this only moves when the
// host asks for the rows a second time.
void PlainRows::begin(PluginState& state, bool) { input_.seek(state, dataStart_); }

void PlainRows::read(PluginState& state, unsigned char* out, int64_t count) { input_.readExact(state, out, count); }

void PlainRows::restart(PluginState& state) { input_.seek(state, dataStart_); }

void PlainRows::seekPlane(PluginState& state, uint32_t plane) {
    input_.seek(state, dataStart_ + static_cast<int64_t>(plane) * planeBytes_);
}

DataExtent gzipExtent(DataExtent plain, int64_t dataStart, int64_t dataBytes, int64_t reachableEnd) {
    if (dataStart < 0 || dataBytes < 0 || dataBytes > reachableEnd || dataStart > reachableEnd - dataBytes)
        return DataExtent::cutShort;
    return plain == DataExtent::cutShort ? DataExtent::unknown : plain;
}

DataExtent GzipRows::extent(int64_t fileLength) const {
    return gzipExtent(PlainRows::extent(fileLength), dataStart_, dataBytes_, reachableEnd_);
}

}  // namespace nebulite
