#include "shell/script_descriptor.h"

#include "shell/host_services.h"

namespace nebulite {

namespace {

using options::DescriptorValue;
using options::FourCharCode;
using options::ValueType;

// A text value: the handle's characters (no terminator), cut to what an
// option holds. The handle is the module's to give back.
DescriptorValue textOf(const FormatRecord& record, Handle handle) {
    DescriptorValue value = DescriptorValue::ofText({});
    if (handle == nullptr) return value;
    const int32_t size = handleSize(record.handleProcs, handle);
    if (Ptr text = handleLock(record.handleProcs, handle); text != nullptr && size > 0) {
        const auto n = static_cast<size_t>(size > 68 ? 68 : size);
        value = DescriptorValue::ofText(std::string_view(text, n));
        handleUnlock(record.handleProcs, handle);
    }
    handleDispose(record.handleProcs, handle);
    return value;
}

// The current key's value through the get routine of its type; false when
// the key is of a type no option takes (skipped) or the routine failed
// (`error` set).
bool readValue(const FormatRecord& record, const ReadDescriptorProcs& read, PIReadDescriptor token,
               DescriptorTypeID type, DescriptorValue& value, OSErr& error) {
    switch (options::valueTypeOfHostType(type)) {
        case ValueType::integer: {
            int32_t v = 0;
            error = read.getIntegerProc(token, &v);
            value = DescriptorValue::ofInteger(v);
            break;
        }
        case ValueType::floating: {
            real64 v = 0.0;
            error = read.getFloatProc(token, &v);
            value = DescriptorValue::ofNumber(v);
            break;
        }
        case ValueType::boolean: {
            Boolean v = 0;
            error = read.getBooleanProc(token, &v);
            value = DescriptorValue::ofBoolean(v != 0);
            break;
        }
        case ValueType::text: {
            Handle h = nullptr;
            error = read.getTextProc(token, &h);
            value = textOf(record, h);
            break;
        }
        case ValueType::enumerated: {
            DescriptorEnumID v = 0;
            error = read.getEnumeratedProc(token, &v);
            value = DescriptorValue::ofEnumerated(type, v);
            break;
        }
    }
    return error == noErr;
}

// The descriptor is the host's handle: only the host's suite can give it
// back. Without that suite the read stops at the services check anyway,
// and the host still holds the handle.
void giveDescriptorBack(FormatRecord& record) {
    PIDescriptorParameters* params = record.descriptorParameters;
    if (params->descriptor == nullptr || !handleSuiteUsable(record.handleProcs)) return;
    handleDispose(record.handleProcs, params->descriptor);
    params->descriptor = nullptr;
}

}  // namespace

void readScriptDescriptor(PluginState& state, const FourCharCode* wanted, ApplyDescriptorKey apply, void* context,
                          options::Message& refusal) {
    FormatRecord& record = *state.formatRecord;
    PIDescriptorParameters* params = record.descriptorParameters;
    if (!descriptorSuitesUsable(params)) return;
    const ReadDescriptorProcs* read = params->readDescriptorProcs;
    // The editor marks each key it finds in the array it is given: it must
    // be writable, so the wanted keys go to the stack first.
    DescriptorKeyID keys[kMaxWantedKeys + 1] = {};
    for (size_t i = 0; i < kMaxWantedKeys && wanted[i] != 0; ++i) keys[i] = wanted[i];
    PIReadDescriptor token = read->openReadDescriptorProc(params->descriptor, keys);
    if (token == nullptr) {
        giveDescriptorBack(record);
        return;
    }
    DescriptorKeyID key = 0;
    DescriptorTypeID type = 0;
    int32_t flags = 0;
    OSErr failure = noErr;
    while (failure == noErr && read->getKeyProc(token, &key, &type, &flags)) {
        DescriptorValue value;
        if (!readValue(record, *read, token, type, value, failure)) break;
        options::Message m = apply(context, key, value);
        if (!m.empty() && refusal.empty()) refusal = m;
    }
    OSErr closed = read->closeReadDescriptorProc(token);
    giveDescriptorBack(record);
    recordError(state, failure);
    if (closed != errMissingParameter) recordError(state, closed);
}

OSErr writeScriptDescriptor(PluginState& state, std::span<const options::DescriptorEntry> entries) {
    FormatRecord& record = *state.formatRecord;
    PIDescriptorParameters* params = record.descriptorParameters;
    if (state.result != noErr || !descriptorSuitesUsable(params)) return noErr;
    const WriteDescriptorProcs* write = params->writeDescriptorProcs;
    // A host that gives no token records nothing; the open itself is done.
    PIWriteDescriptor token = write->openWriteDescriptorProc();
    if (token == nullptr) return noErr;
    OSErr failure = noErr;
    for (const options::DescriptorEntry& e : entries) {
        if (failure != noErr) break;
        const DescriptorValue& v = e.value;
        switch (v.type) {
            case ValueType::integer: failure = write->putIntegerProc(token, e.key, v.integer); break;
            case ValueType::floating: failure = write->putFloatProc(token, e.key, &v.number); break;
            case ValueType::boolean: failure = write->putBooleanProc(token, e.key, v.boolean ? 1 : 0); break;
            case ValueType::enumerated:
                failure = write->putEnumeratedProc(token, e.key, v.enumType, v.enumValue);
                break;
            case ValueType::text: {
                const std::string_view text = v.text.view();
                Handle h = handleNew(record.handleProcs, static_cast<int32_t>(text.size()));
                if (h == nullptr) {
                    failure = memFullErr;
                    break;
                }
                if (Ptr p = handleLock(record.handleProcs, h); p != nullptr) {
                    for (size_t i = 0; i < text.size(); ++i) p[i] = text[i];
                    handleUnlock(record.handleProcs, h);
                }
                failure = write->putTextProc(token, e.key, h);
                handleDispose(record.handleProcs, h);
                break;
            }
        }
    }
    // The token is closed whatever happened, or the host keeps it open.
    PIDescriptorHandle made = nullptr;
    OSErr closed = write->closeWriteDescriptorProc(token, &made);
    if (failure == noErr && closed == noErr) {
        // A descriptor the host offered for this operation was given back
        // when it was read; anything still there is replaced.
        if (params->descriptor != nullptr && handleSuiteUsable(record.handleProcs))
            handleDispose(record.handleProcs, params->descriptor);
        params->descriptor = made;
        return noErr;
    }
    if (made != nullptr && handleSuiteUsable(record.handleProcs)) handleDispose(record.handleProcs, made);
    return failure != noErr ? failure : closed;
}

DialogPolicy dialogPolicy(const PluginState& state, bool reverting) {
    const FormatRecord& record = *state.formatRecord;
    const PIDescriptorParameters* params = record.descriptorParameters;
    if (reverting || record.openForPreview || params == nullptr) return DialogPolicy::never;
    switch (params->playInfo) {
        case plugInDialogDisplay: return DialogPolicy::show;
        case plugInDialogDontDisplay: return DialogPolicy::ifNeeded;
        default: return DialogPolicy::never;
    }
}

}  // namespace nebulite
