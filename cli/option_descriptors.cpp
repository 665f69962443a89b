#include "cli/option_descriptors.h"

#include "options/descriptor_apply.h"

namespace nebulite::cli {

namespace {

host::DescriptorItem itemOf(const options::DescriptorEntry& entry) {
    const options::DescriptorValue& v = entry.value;
    switch (v.type) {
        case options::ValueType::integer: return host::DescriptorItem::ofInteger(entry.key, v.integer);
        case options::ValueType::floating: return host::DescriptorItem::ofFloat(entry.key, v.number);
        case options::ValueType::boolean: return host::DescriptorItem::ofBoolean(entry.key, v.boolean);
        case options::ValueType::enumerated:
            return host::DescriptorItem::ofEnumerated(entry.key, v.enumType, v.enumValue);
        case options::ValueType::text: return host::DescriptorItem::ofText(entry.key, v.text.view());
    }
    return host::DescriptorItem::ofInteger(entry.key, 0);
}

host::Descriptor descriptorOf(const options::DescriptorEntries& entries) {
    host::Descriptor d;
    for (const options::DescriptorEntry& e : entries.view()) d.items.push_back(itemOf(e));
    return d;
}

}  // namespace

host::Descriptor openDescriptor(const options::OpenOptions& options) { return descriptorOf(options::openEntries(options)); }

host::Descriptor saveDescriptor(const options::SaveOptions& options) { return descriptorOf(options::saveEntries(options)); }

}  // namespace nebulite::cli
