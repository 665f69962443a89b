// The scripting descriptor's face of the options: one (key, typed value)
// applied to the model at a time, in whatever order the host hands them, and
// every (key, value) of a set of options, for the module to write back. The
// module's reader and writer are then a loop over the host's get and put
// procedures around these.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "options/descriptor_keys.h"
#include "options/fixed_text.h"
#include "options/open_options.h"
#include "options/resolve_open.h"
#include "options/resolve_save.h"
#include "options/save_options.h"

namespace nebulite::options {

struct DescriptorValue {
    ValueType type = ValueType::integer;
    int32_t integer = 0;
    double number = 0.0;
    bool boolean = false;
    FourCharCode enumType = 0;
    FourCharCode enumValue = 0;
    ExtName text;  // more than 68 characters shows as truncated

    static DescriptorValue ofInteger(int32_t v);
    static DescriptorValue ofNumber(double v);
    static DescriptorValue ofBoolean(bool v);
    static DescriptorValue ofEnumerated(FourCharCode type, FourCharCode value);
    static DescriptorValue ofText(std::string_view v);

    friend bool operator==(const DescriptorValue&, const DescriptorValue&) = default;
};

struct DescriptorEntry {
    FourCharCode key = 0;
    DescriptorValue value;
};

struct DescriptorEntries {
    std::array<DescriptorEntry, 16> items{};
    std::size_t count = 0;

    std::span<const DescriptorEntry> view() const& { return {items.data(), count}; }
    // A temporary list's view would outlive it: hold the list first.
    std::span<const DescriptorEntry> view() const&& = delete;
    void add(FourCharCode key, const DescriptorValue& value);
};

// An empty message when the value was applied, or when the key is not one
// of the face's (another version's key, a retired one): those are read as
// nothing. A value of the wrong type or out of range is refused with a
// message and leaves the options unchanged. The result never depends on
// the order keys come in: a name chooses the image over a number, however
// they arrive.
Message applyOpenKey(OpenOptions& options, FourCharCode key, const DescriptorValue& value);
Message applySaveKey(SaveOptions& options, FourCharCode key, const DescriptorValue& value);

// Every key of the canonical options, each once; applied to default options
// they give that canonical form back. For resolved options nothing is left
// automatic, so a replay opens or saves the same way without asking.
DescriptorEntries openEntries(const OpenOptions& options);
DescriptorEntries openEntries(const ResolvedOpen& resolved);
DescriptorEntries saveEntries(const SaveOptions& options);
DescriptorEntries saveEntries(const ResolvedSave& resolved);

}  // namespace nebulite::options
