// The scripting descriptor's two outside forms on arbitrary bytes: the
// reference host's handle bytes (host/descriptor.h) and the CLI's JSON of
// --record and --replay (cli/descriptor_json.h). What parses writes back
// to the same descriptor (the handle form to the very same bytes), and a
// refused JSON text says why in one line.
#include <cmath>
#include <cstddef>
#include <limits>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/descriptor_json.h"
#include "fuzz/cli_support.h"
#include "host/descriptor.h"

namespace {

// JSON writes every NaN as "NaN", which reads back as the quiet NaN: the
// handle form keeps a NaN's payload, JSON only that it is one.
void quietNaNs(std::vector<nebulite::host::DescriptorItem>& items) {
    for (nebulite::host::DescriptorItem& item : items) {
        if (std::isnan(item.number)) item.number = std::numeric_limits<double>::quiet_NaN();
        quietNaNs(item.members);
    }
}

nebulite::host::Descriptor viaJson(nebulite::host::Descriptor d) {
    quietNaNs(d.items);
    return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace nebulite;
    std::string error;
    if (std::optional<host::Descriptor> d = host::parseDescriptor(std::span(data, size))) {
        CLI_CHECK(host::serialize(*d) == std::vector<uint8_t>(data, data + size), "handle bytes do not write back");
        const std::string json = cli::descriptorToJson(*d);
        std::optional<host::Descriptor> back = cli::descriptorFromJson(json, &error);
        CLI_CHECK(back.has_value(), error + "\n" + json);
        CLI_CHECK(*back == viaJson(*d), json);
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    error.clear();
    std::optional<host::Descriptor> d = cli::descriptorFromJson(text, &error);
    if (!d) {
        CLI_CHECK(!error.empty() && error.find('\n') == std::string::npos, error);
        return 0;
    }
    const std::string json = cli::descriptorToJson(*d);
    std::optional<host::Descriptor> back = cli::descriptorFromJson(json, &error);
    CLI_CHECK(back.has_value(), error + "\n" + json);
    CLI_CHECK(*back == *d, json);
    CLI_CHECK(cli::descriptorToJson(*back) == json, json);
    std::optional<host::Descriptor> bytes = host::parseDescriptor(host::serialize(*d));
    CLI_CHECK(bytes.has_value() && *bytes == *d, json);
    return 0;
}
