#include "cli/arguments.h"

#include <algorithm>

#include "cli/support.h"

namespace nebulite::cli {

bool Parsed::has(std::string_view name) const {
    for (auto& [n, v] : flags)
        if (n == name) return true;
    return false;
}

std::string Parsed::value(std::string_view name) const {
    std::string found;
    for (auto& [n, v] : flags)
        if (n == name) found = v;
    return found;
}

Parsed parse(const Args& args, std::string_view command, std::initializer_list<std::string_view> switches,
             std::initializer_list<std::string_view> valued, std::initializer_list<OptionalValued> optional) {
    return parse(args, command, std::span(switches.begin(), switches.size()), std::span(valued.begin(), valued.size()),
                 std::span(optional.begin(), optional.size()));
}

Parsed parse(const Args& args, std::string_view command, std::span<const std::string_view> switches,
             std::span<const std::string_view> valued, std::span<const OptionalValued> optional) {
    Parsed parsed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 2 || a[0] != '-' || a == "--") {
            parsed.positional.push_back(a);
            continue;
        }
        std::string name = a;
        std::string value;
        bool hasValue = false;
        if (size_t eq = a.find('='); eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            hasValue = true;
        }
        bool isSwitch = std::find(switches.begin(), switches.end(), name) != switches.end();
        bool isValued = std::find(valued.begin(), valued.end(), name) != valued.end();
        const OptionalValued* maybe = nullptr;
        for (const OptionalValued& o : optional)
            if (o.name == name) maybe = &o;
        if (isSwitch && !hasValue) {
            parsed.flags.emplace_back(name, "");
        } else if (isValued) {
            if (!hasValue) {
                if (i + 1 >= args.size()) usageError(name + " needs a value", command);
                value = args[++i];
            }
            parsed.flags.emplace_back(name, value);
        } else if (maybe != nullptr) {
            if (!hasValue) {
                bool next = i + 1 < args.size() &&
                            std::find(maybe->choices.begin(), maybe->choices.end(), args[i + 1]) !=
                                maybe->choices.end();
                value = next ? args[++i] : std::string(maybe->fallback);
            }
            parsed.flags.emplace_back(name, value);
        } else {
            usageError("unknown option " + a, command);
        }
    }
    return parsed;
}

void expectCount(const Parsed& p, size_t min, size_t max, std::string_view command) {
    if (p.positional.size() < min) usageError("missing arguments", command);
    if (p.positional.size() > max) usageError("too many arguments", command);
}

}  // namespace nebulite::cli
