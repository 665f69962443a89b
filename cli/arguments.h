// A command's own arguments split into options and positional arguments.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nebulite::cli {

using Args = std::vector<std::string>;  // the command's own arguments, --module removed

struct Parsed {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> flags;

    bool has(std::string_view name) const;
    // The last value given for `name`, or "".
    std::string value(std::string_view name) const;
};

// An option whose value may be left out: `--name=VALUE`, `--name VALUE`
// when VALUE is one of `choices`, or `--name` alone for `fallback`.
struct OptionalValued {
    std::string_view name;
    std::span<const std::string_view> choices;
    std::string_view fallback;
};

// Switches take no value, valued options one (`--name VALUE` or
// `--name=VALUE`); anything else that starts with '-' is a usage error.
Parsed parse(const Args& args, std::string_view command, std::initializer_list<std::string_view> switches,
             std::initializer_list<std::string_view> valued, std::initializer_list<OptionalValued> optional = {});
Parsed parse(const Args& args, std::string_view command, std::span<const std::string_view> switches,
             std::span<const std::string_view> valued, std::span<const OptionalValued> optional);

void expectCount(const Parsed& p, size_t min, size_t max, std::string_view command);

}  // namespace nebulite::cli
