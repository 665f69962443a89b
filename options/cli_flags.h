// The command line's face of the options: flags and their values applied to
// the model one at a time (the last of a kind wins), and the flags that
// give a set of options back.
//
//   open:  --image N|EXTNAME[,EXTVER]  --plane K  --planes R,G,B|auto
//          --orientation stored|sky  --stretch range|linear|sqrt|log|asinh|mtf
//          --interval auto|minmax|zscale|P  --black V  --white V  --midtone M
//          --depth auto|8|16|32  --debayer off|auto|RGGB|BGGR|GRBG|GBRG
//          --demosaic bilinear|quality
//   save:  --orientation stored|sky  --bitpix original|-32
//          --compress none|rice|gzip1|gzip2|hcompress  --tile ROWSxCOLS|auto
//          --quantize Q
//
// --black and --white choose explicit points; --midtone is mtf's midtones
// balance over them.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "options/fixed_text.h"
#include "options/open_options.h"
#include "options/option_text.h"
#include "options/save_options.h"

namespace nebulite::options {

struct Flag {
    std::string_view name;  // e.g. "--stretch"
    ArgText value;
};

// At most one flag of each kind.
struct FlagList {
    std::array<Flag, 14> items{};
    std::size_t count = 0;

    std::span<const Flag> view() const& { return {items.data(), count}; }
    // A temporary list's view would outlive it: hold the list first.
    std::span<const Flag> view() const&& = delete;
    void add(std::string_view name, const ArgText& value);
};

bool isOpenFlag(std::string_view name);
bool isSaveFlag(std::string_view name);

// An empty message when `name` is one of the faces' flags and `value` parses;
// the options are unchanged otherwise.
Message applyOpenFlag(OpenOptions& options, std::string_view name, std::string_view value);
Message applySaveFlag(SaveOptions& options, std::string_view name, std::string_view value);

// The flags that, applied in order to default options, give the canonical
// form of `options`; defaults are left out.
FlagList openFlags(const OpenOptions& options);
FlagList saveFlags(const SaveOptions& options);

}  // namespace nebulite::options
