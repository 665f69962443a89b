#include "cli/script_options.h"

#include <algorithm>
#include <cctype>

#include "cli/support.h"
#include "host/option_descriptors.h"
#include "options/cli_flags.h"
#include "options/descriptor_apply.h"

namespace nebulite::cli {

namespace {

bool listed(const std::vector<std::string_view>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

const std::vector<std::string_view>& openOptionFlags() {
    static const std::vector<std::string_view> flags = {
        "--image", "--plane", "--planes", "--orientation", "--interval", "--black",
        "--white", "--midtone", "--depth", "--debayer", "--demosaic",
    };
    return flags;
}

const std::vector<std::string_view>& saveOptionFlags() {
    static const std::vector<std::string_view> flags = {"--orientation", "--bitpix", "--compress", "--tile",
                                                        "--quantize"};
    return flags;
}

options::OpenOptions openOptionsFrom(const std::vector<std::pair<std::string, std::string>>& flags,
                                     std::string_view command) {
    options::OpenOptions o;
    for (const auto& [name, value] : flags) {
        if (!listed(openOptionFlags(), name)) continue;
        options::Message m = options::applyOpenFlag(o, name, value);
        if (!m.empty()) usageError(std::string(m.view()), command);
    }
    return o;
}

options::SaveOptions saveOptionsFrom(const std::vector<std::pair<std::string, std::string>>& flags,
                                     std::string_view command) {
    options::SaveOptions o;
    for (const auto& [name, value] : flags) {
        if (!listed(saveOptionFlags(), name)) continue;
        options::Message m = options::applySaveFlag(o, name, value);
        if (!m.empty()) usageError(std::string(m.view()), command);
    }
    return o;
}

host::Descriptor openDescriptor(const options::OpenOptions& options) { return host::openDescriptorOf(options); }

host::Descriptor saveDescriptor(const options::SaveOptions& options) { return host::saveDescriptorOf(options); }

std::optional<options::Compression> compressionForName(const std::string& path, bool floatingPoint) {
    if (path.size() < 3) return std::nullopt;
    std::string tail = path.substr(path.size() - 3);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    if (tail != ".fz") return std::nullopt;
    return floatingPoint ? options::Compression::gzip2 : options::Compression::rice;
}

}  // namespace nebulite::cli
