// The option model's options as the scripting descriptor a host plays: the
// items of options::openEntries and saveEntries, in their order, as an
// action recorded them. Header-only, so that the host library needs no
// options library: whoever includes it links that (the CLI, the tests, the
// fuzz targets).
#pragma once

#include "host/descriptor.h"
#include "options/descriptor_apply.h"

namespace nebulite::host {

inline DescriptorItem descriptorItemOf(const options::DescriptorEntry& entry) {
    const options::DescriptorValue& v = entry.value;
    switch (v.type) {
        case options::ValueType::integer: return DescriptorItem::ofInteger(entry.key, v.integer);
        case options::ValueType::floating: return DescriptorItem::ofFloat(entry.key, v.number);
        case options::ValueType::boolean: return DescriptorItem::ofBoolean(entry.key, v.boolean);
        case options::ValueType::enumerated: return DescriptorItem::ofEnumerated(entry.key, v.enumType, v.enumValue);
        case options::ValueType::text: return DescriptorItem::ofText(entry.key, v.text.view());
    }
    return DescriptorItem::ofInteger(entry.key, 0);
}

inline Descriptor descriptorOf(const options::DescriptorEntries& entries) {
    Descriptor d;
    for (const options::DescriptorEntry& e : entries.view()) d.items.push_back(descriptorItemOf(e));
    return d;
}

inline Descriptor openDescriptorOf(const options::OpenOptions& o) { return descriptorOf(options::openEntries(o)); }
inline Descriptor saveDescriptorOf(const options::SaveOptions& o) { return descriptorOf(options::saveEntries(o)); }

}  // namespace nebulite::host
