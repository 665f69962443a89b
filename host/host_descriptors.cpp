// The scripting descriptor's suites as the editor serves them: a read
// descriptor walks the items of the handle it was opened on, the get
// routines read the item getKeyProc yielded last (a get of another type
// answers errAECoercionFail), and closeReadDescriptorProc reports what
// went wrong while reading: the first get that did not answer noErr (its
// error "sticks", as the SDK's samples say), else errMissingParameter when
// a key of the module's key array never came; a
// write descriptor collects items (a key put twice keeps its place and
// takes the new value) and closeWriteDescriptorProc makes a new descriptor
// handle of them. What a module does wrong (unknown or closed tokens, null
// pointers, a get before any key) is recorded, never trusted; every call
// is counted, and the descriptor fault fails the one asked for.
#include <algorithm>
#include <climits>
#include <cstring>

#include "host/host_impl.h"

namespace nebulite::host {

namespace {

using Impl = Host::Impl;
using Item = DescriptorItem;

// The Pascal string `value` points to, as bytes.
std::string pascalBytes(ConstStr255Param value) {
    return std::string(reinterpret_cast<const char*>(value + 1), value[0]);
}

// Runs `read` on the current item of an open read token: the shared checks
// of every get routine, in the order the editor would meet them.
template <typename Out, typename Read>
OSErr getValue(const char* routine, PIReadDescriptor token, Out* out, Read read) {
    Impl* self = Impl::current();
    if (self == nullptr) return paramErr;
    const bool fault = self->descriptorFault();
    Impl::ReadToken* t = self->findReadToken(token, routine);
    if (t == nullptr) return paramErr;
    auto answer = [t](OSErr e) {
        if (e != noErr && t->sticky == noErr) t->sticky = e;
        return e;
    };
    if (out == nullptr) {
        self->violation(routine, "null value pointer");
        return answer(paramErr);
    }
    if (!t->current) {
        self->violation(routine, "no current key (getKeyProc has not yielded one)");
        return answer(paramErr);
    }
    if (fault) return answer(self->host.faults().descriptorCode);
    return answer(read(t->descriptor.items[*t->current], *out));
}

// The shared checks of every put routine; `make` gives the item, or an
// error it has answered.
template <typename Make>
OSErr putValue(const char* routine, PIWriteDescriptor token, Make make) {
    Impl* self = Impl::current();
    if (self == nullptr) return paramErr;
    const bool fault = self->descriptorFault();
    Impl::WriteToken* t = self->findWriteToken(token, routine);
    if (t == nullptr) return paramErr;
    std::optional<Item> item = make(*self);
    if (!item) return paramErr;
    if (fault) return self->host.faults().descriptorCode;
    t->descriptor.put(std::move(*item));
    return noErr;
}

// A handle of the host's holding `bytes`, for the module to dispose of.
OSErr bytesHandle(Impl& self, std::string_view bytes, Leak::Kind kind, Handle* out) {
    Handle h = self.makeHandle(bytes.size(), kind, false);
    if (h == nullptr) return memFullErr;
    if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
    *out = h;
    return noErr;
}

std::optional<std::string> handleBytes(Impl& self, Handle h, const char* routine) {
    Impl::HandleRecord* record = h == nullptr ? nullptr : self.findHandle(h);
    if (record == nullptr) {
        self.violation(routine, h == nullptr ? "null handle" : "not a handle of the host's");
        return std::nullopt;
    }
    return std::string(record->data, record->size);
}

}  // namespace

// ---- Bookkeeping -------------------------------------------------------------------

bool Host::Impl::descriptorFault() {
    int64_t k = log.counters.descriptorCalls++;
    return host.faults_.descriptor.fires(k);
}

Host::Impl::ReadToken* Host::Impl::findReadToken(PIReadDescriptor token, std::string_view routine) {
    for (auto& t : readTokens) {
        if (reinterpret_cast<PIReadDescriptor>(t.get()) != token) continue;
        if (!t->open) {
            violation(routine, "read descriptor used after closeReadDescriptorProc");
            return nullptr;
        }
        return t.get();
    }
    violation(routine, token == nullptr ? "null read descriptor" : "unknown read descriptor");
    return nullptr;
}

Host::Impl::WriteToken* Host::Impl::findWriteToken(PIWriteDescriptor token, std::string_view routine) {
    for (auto& t : writeTokens) {
        if (reinterpret_cast<PIWriteDescriptor>(t.get()) != token) continue;
        if (!t->open) {
            violation(routine, "write descriptor used after closeWriteDescriptorProc");
            return nullptr;
        }
        return t.get();
    }
    violation(routine, token == nullptr ? "null write descriptor" : "unknown write descriptor");
    return nullptr;
}

Handle Host::Impl::descriptorHandle(const Descriptor& descriptor) {
    std::vector<uint8_t> bytes = serialize(descriptor);
    Handle h = makeHandle(bytes.size(), Leak::Kind::descriptor, false);
    if (h != nullptr && !bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
    return h;
}

std::optional<Descriptor> Host::Impl::descriptorIn(Handle h, std::string_view routine) {
    HandleRecord* record = findHandle(h);
    if (record == nullptr) {
        violation(routine, "not a handle of the host's");
        return std::nullopt;
    }
    std::optional<Descriptor> d =
        parseDescriptor({reinterpret_cast<const uint8_t*>(record->data), record->size});
    if (!d) violation(routine, "the handle holds no descriptor (only closeWriteDescriptorProc makes one)");
    return d;
}

// ---- Read suite ------------------------------------------------------------------------

PIReadDescriptor SPAPI Host::Impl::openReadDescriptor(PIDescriptorHandle descriptor, const DescriptorKeyID* keys) {
    Impl* self = current();
    if (self == nullptr) return nullptr;
    const bool fault = self->descriptorFault();
    // No descriptor, nothing to read: the editor answers null.
    if (descriptor == nullptr) return nullptr;
    std::optional<Descriptor> d = self->descriptorIn(descriptor, "openReadDescriptorProc");
    if (!d || fault) return nullptr;
    auto token = std::make_unique<ReadToken>();
    token->descriptor = std::move(*d);
    if (keys != nullptr)
        for (const DescriptorKeyID* k = keys; *k != 0; ++k) token->expected.push_back(*k);
    token->arrived.assign(token->expected.size(), false);
    auto* id = reinterpret_cast<PIReadDescriptor>(token.get());
    self->readTokens.push_back(std::move(token));
    return id;
}

Boolean SPAPI Host::Impl::getKey(PIReadDescriptor token, DescriptorKeyID* key, DescriptorTypeID* type,
                                int32_t* flags) {
    Impl* self = current();
    if (self == nullptr) return false;
    const bool fault = self->descriptorFault();
    ReadToken* t = self->findReadToken(token, "getKeyProc");
    if (t == nullptr) return false;
    if (key == nullptr) {
        self->violation("getKeyProc", "null key pointer");
        return false;
    }
    if (fault) return false;
    if (t->next >= t->descriptor.items.size()) {
        t->current.reset();
        return false;
    }
    const Item& item = t->descriptor.items[t->next];
    for (size_t i = 0; i < t->expected.size(); ++i)
        if (t->expected[i] == item.key) t->arrived[i] = true;
    *key = item.key;
    if (type != nullptr) *type = item.typeCode();
    if (flags != nullptr) *flags = item.flags();
    t->current = t->next++;
    return true;
}

OSErr SPAPI Host::Impl::closeReadDescriptor(PIReadDescriptor token) {
    Impl* self = current();
    if (self == nullptr) return paramErr;
    const bool fault = self->descriptorFault();
    ReadToken* t = self->findReadToken(token, "closeReadDescriptorProc");
    if (t == nullptr) return paramErr;
    t->open = false;
    if (fault) return self->host.faults_.descriptorCode;
    const ScriptDescriptor& script = self->saving ? self->host.setup_.saveScript : self->host.setup_.script;
    if (script.closeCode) return *script.closeCode;
    if (t->sticky != noErr) return t->sticky;
    bool missing = std::find(t->arrived.begin(), t->arrived.end(), false) != t->arrived.end();
    return missing ? errMissingParameter : noErr;
}

OSErr SPAPI Host::Impl::getInteger(PIReadDescriptor token, int32_t* value) {
    return getValue("getIntegerProc", token, value, [](const Item& item, int32_t& out) -> OSErr {
        if (item.kind == ValueKind::integer || (item.kind == ValueKind::count && item.integer <= INT32_MAX)) {
            out = static_cast<int32_t>(item.integer);
            return noErr;
        }
        return errAECoercionFail;
    });
}

OSErr SPAPI Host::Impl::getFloat(PIReadDescriptor token, real64* value) {
    return getValue("getFloatProc", token, value, [](const Item& item, real64& out) -> OSErr {
        if (item.kind != ValueKind::floating) return errAECoercionFail;
        out = item.number;
        return noErr;
    });
}

OSErr SPAPI Host::Impl::getUnitFloat(PIReadDescriptor token, DescriptorUnitID* unit, real64* value) {
    return getValue("getUnitFloatProc", token, value, [unit](const Item& item, real64& out) -> OSErr {
        if (item.kind != ValueKind::unitFloat) return errAECoercionFail;
        if (unit != nullptr) *unit = item.unit;
        out = item.number;
        return noErr;
    });
}

OSErr SPAPI Host::Impl::getBoolean(PIReadDescriptor token, Boolean* value) {
    return getValue("getBooleanProc", token, value, [](const Item& item, Boolean& out) -> OSErr {
        if (item.kind != ValueKind::boolean) return errAECoercionFail;
        out = item.boolean ? 1 : 0;
        return noErr;
    });
}

OSErr SPAPI Host::Impl::getText(PIReadDescriptor token, Handle* value) {
    return getValue("getTextProc", token, value, [](const Item& item, Handle& out) -> OSErr {
        if (item.kind != ValueKind::text && item.kind != ValueKind::string) return errAECoercionFail;
        return bytesHandle(*current(), item.bytes, Leak::Kind::handle, &out);
    });
}

OSErr SPAPI Host::Impl::getAlias(PIReadDescriptor token, Handle* value) {
    return getValue("getAliasProc", token, value, [](const Item& item, Handle& out) -> OSErr {
        if (item.kind != ValueKind::alias) return errAECoercionFail;
        return bytesHandle(*current(), item.bytes, Leak::Kind::handle, &out);
    });
}

OSErr SPAPI Host::Impl::getEnumerated(PIReadDescriptor token, DescriptorEnumID* value) {
    return getValue("getEnumeratedProc", token, value, [](const Item& item, DescriptorEnumID& out) -> OSErr {
        if (item.kind != ValueKind::enumerated) return errAECoercionFail;
        out = item.value;
        return noErr;
    });
}

OSErr SPAPI Host::Impl::getClass(PIReadDescriptor token, DescriptorTypeID* value) {
    return getValue("getClassProc", token, value, [](const Item& item, DescriptorTypeID& out) -> OSErr {
        if (item.kind != ValueKind::classType) return errAECoercionFail;
        out = item.type;
        return noErr;
    });
}

// This host's descriptors hold no references: whatever the current item
// is, it is not one.
OSErr SPAPI Host::Impl::getSimpleReference(PIReadDescriptor token, PIDescriptorSimpleReference* value) {
    return getValue("getSimpleReferenceProc", token, value,
                    [](const Item&, PIDescriptorSimpleReference&) -> OSErr { return errAECoercionFail; });
}

OSErr SPAPI Host::Impl::getObject(PIReadDescriptor token, DescriptorTypeID* type, PIDescriptorHandle* value) {
    return getValue("getObjectProc", token, value, [type](const Item& item, PIDescriptorHandle& out) -> OSErr {
        if (item.kind != ValueKind::object) return errAECoercionFail;
        Handle h = current()->descriptorHandle(Descriptor{item.members});
        if (h == nullptr) return memFullErr;
        if (type != nullptr) *type = item.type;
        out = h;
        return noErr;
    });
}

OSErr SPAPI Host::Impl::getCount(PIReadDescriptor token, uint32_t* value) {
    return getValue("getCountProc", token, value, [](const Item& item, uint32_t& out) -> OSErr {
        if (item.kind == ValueKind::count || (item.kind == ValueKind::integer && item.integer >= 0)) {
            out = static_cast<uint32_t>(item.integer);
            return noErr;
        }
        return errAECoercionFail;
    });
}

OSErr SPAPI Host::Impl::getString(PIReadDescriptor token, Str255* value) {
    return getValue("getStringProc", token, value, [](const Item& item, Str255& out) -> OSErr {
        if (item.kind != ValueKind::text && item.kind != ValueKind::string) return errAECoercionFail;
        size_t n = std::min<size_t>(item.bytes.size(), 255);
        out[0] = static_cast<unsigned char>(n);
        if (n > 0) std::memcpy(out + 1, item.bytes.data(), n);
        return noErr;
    });
}

OSErr SPAPI Host::Impl::getPinnedInteger(PIReadDescriptor token, int32_t min, int32_t max, int32_t* value) {
    return getValue("getPinnedIntegerProc", token, value, [min, max](const Item& item, int32_t& out) -> OSErr {
        if (item.kind != ValueKind::integer) return errAECoercionFail;
        if (min > max) {
            current()->violation("getPinnedIntegerProc", "min above max");
            return paramErr;
        }
        int64_t pinned = std::clamp<int64_t>(item.integer, min, max);
        out = static_cast<int32_t>(pinned);
        return pinned == item.integer ? noErr : coercedParamErr;
    });
}

namespace {

// Pins `v` into [*min, *max]; coercedParamErr when it moved.
OSErr pinFloat(const char* routine, const real64* min, const real64* max, double v, real64& out) {
    if (min == nullptr || max == nullptr) {
        Impl::current()->violation(routine, "null min or max");
        return paramErr;
    }
    if (*min > *max) {
        Impl::current()->violation(routine, "min above max");
        return paramErr;
    }
    const bool moved = v < *min || v > *max;
    out = v < *min ? *min : v > *max ? *max : v;
    return moved ? coercedParamErr : noErr;
}

}  // namespace

OSErr SPAPI Host::Impl::getPinnedFloat(PIReadDescriptor token, const real64* min, const real64* max,
                                       real64* value) {
    return getValue("getPinnedFloatProc", token, value, [min, max](const Item& item, real64& out) -> OSErr {
        if (item.kind != ValueKind::floating) return errAECoercionFail;
        return pinFloat("getPinnedFloatProc", min, max, item.number, out);
    });
}

// The unit asked for must be the item's: this host converts no units.
OSErr SPAPI Host::Impl::getPinnedUnitFloat(PIReadDescriptor token, const real64* min, const real64* max,
                                           DescriptorUnitID* unit, real64* value) {
    return getValue("getPinnedUnitFloatProc", token, value, [min, max, unit](const Item& item, real64& out) -> OSErr {
        if (item.kind != ValueKind::unitFloat) return errAECoercionFail;
        if (unit == nullptr) {
            current()->violation("getPinnedUnitFloatProc", "null unit pointer");
            return paramErr;
        }
        if (*unit != item.unit) return errAECoercionFail;
        return pinFloat("getPinnedUnitFloatProc", min, max, item.number, out);
    });
}

// ---- Write suite -----------------------------------------------------------------------

PIWriteDescriptor SPAPI Host::Impl::openWriteDescriptor() {
    Impl* self = current();
    if (self == nullptr) return nullptr;
    if (self->descriptorFault()) return nullptr;
    auto token = std::make_unique<WriteToken>();
    auto* id = reinterpret_cast<PIWriteDescriptor>(token.get());
    self->writeTokens.push_back(std::move(token));
    return id;
}

OSErr SPAPI Host::Impl::closeWriteDescriptor(PIWriteDescriptor token, PIDescriptorHandle* descriptor) {
    Impl* self = current();
    if (self == nullptr) return paramErr;
    const bool fault = self->descriptorFault();
    WriteToken* t = self->findWriteToken(token, "closeWriteDescriptorProc");
    if (t == nullptr) return paramErr;
    t->open = false;
    if (descriptor == nullptr) {
        self->violation("closeWriteDescriptorProc", "null descriptor pointer");
        return paramErr;
    }
    *descriptor = nullptr;
    if (fault) return self->host.faults_.descriptorCode;
    Handle h = self->descriptorHandle(t->descriptor);
    if (h == nullptr) return memFullErr;
    *descriptor = h;
    return noErr;
}

OSErr SPAPI Host::Impl::putInteger(PIWriteDescriptor token, DescriptorKeyID key, int32_t value) {
    return putValue("putIntegerProc", token, [&](Impl&) { return std::optional(Item::ofInteger(key, value)); });
}

OSErr SPAPI Host::Impl::putFloat(PIWriteDescriptor token, DescriptorKeyID key, const real64* value) {
    return putValue("putFloatProc", token, [&](Impl& self) -> std::optional<Item> {
        if (value == nullptr) {
            self.violation("putFloatProc", "null value pointer");
            return std::nullopt;
        }
        return Item::ofFloat(key, *value);
    });
}

OSErr SPAPI Host::Impl::putUnitFloat(PIWriteDescriptor token, DescriptorKeyID key, DescriptorUnitID unit,
                                     const real64* value) {
    return putValue("putUnitFloatProc", token, [&](Impl& self) -> std::optional<Item> {
        if (value == nullptr) {
            self.violation("putUnitFloatProc", "null value pointer");
            return std::nullopt;
        }
        return Item::ofUnitFloat(key, unit, *value);
    });
}

OSErr SPAPI Host::Impl::putBoolean(PIWriteDescriptor token, DescriptorKeyID key, Boolean value) {
    return putValue("putBooleanProc", token, [&](Impl&) { return std::optional(Item::ofBoolean(key, value != 0)); });
}

// The text's handle stays the module's: it disposes of it after the put.
OSErr SPAPI Host::Impl::putText(PIWriteDescriptor token, DescriptorKeyID key, Handle value) {
    return putValue("putTextProc", token, [&](Impl& self) -> std::optional<Item> {
        std::optional<std::string> bytes = handleBytes(self, value, "putTextProc");
        if (!bytes) return std::nullopt;
        return Item::ofText(key, *bytes);
    });
}

OSErr SPAPI Host::Impl::putAlias(PIWriteDescriptor token, DescriptorKeyID key, Handle value) {
    return putValue("putAliasProc", token, [&](Impl& self) -> std::optional<Item> {
        std::optional<std::string> bytes = handleBytes(self, value, "putAliasProc");
        if (!bytes) return std::nullopt;
        return Item::ofAlias(key, *bytes);
    });
}

OSErr SPAPI Host::Impl::putEnumerated(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                                      DescriptorEnumID value) {
    return putValue("putEnumeratedProc", token,
                    [&](Impl&) { return std::optional(Item::ofEnumerated(key, type, value)); });
}

OSErr SPAPI Host::Impl::putClass(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type) {
    return putValue("putClassProc", token, [&](Impl&) { return std::optional(Item::ofClass(key, type)); });
}

// References name the editor's own objects (layers, documents): a format
// module has none to name, and this host keeps none.
OSErr SPAPI Host::Impl::putSimpleReference(PIWriteDescriptor token, DescriptorKeyID,
                                           const PIDescriptorSimpleReference*) {
    return putValue("putSimpleReferenceProc", token, [](Impl& self) -> std::optional<Item> {
        self.violation("putSimpleReferenceProc", "a reference; this host keeps none");
        return std::nullopt;
    });
}

// The object's descriptor handle (from closeWriteDescriptorProc) stays the
// module's: it disposes of it after the put.
OSErr SPAPI Host::Impl::putObject(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                                  PIDescriptorHandle value) {
    return putValue("putObjectProc", token, [&](Impl& self) -> std::optional<Item> {
        std::optional<Descriptor> d = self.descriptorIn(value, "putObjectProc");
        if (!d) return std::nullopt;
        return Item::ofObject(key, type, std::move(d->items));
    });
}

OSErr SPAPI Host::Impl::putCount(PIWriteDescriptor token, DescriptorKeyID key, uint32_t value) {
    return putValue("putCountProc", token, [&](Impl&) { return std::optional(Item::ofCount(key, value)); });
}

OSErr SPAPI Host::Impl::putString(PIWriteDescriptor token, DescriptorKeyID key, ConstStr255Param value) {
    return putValue("putStringProc", token, [&](Impl& self) -> std::optional<Item> {
        if (value == nullptr) {
            self.violation("putStringProc", "null string");
            return std::nullopt;
        }
        return Item::ofString(key, pascalBytes(value));
    });
}

OSErr SPAPI Host::Impl::putScopedClass(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type) {
    return putValue("putScopedClassProc", token, [&](Impl&) { return std::optional(Item::ofClass(key, type)); });
}

OSErr SPAPI Host::Impl::putScopedObject(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                                        PIDescriptorHandle value) {
    return putValue("putScopedObjectProc", token, [&](Impl& self) -> std::optional<Item> {
        std::optional<Descriptor> d = self.descriptorIn(value, "putScopedObjectProc");
        if (!d) return std::nullopt;
        return Item::ofObject(key, type, std::move(d->items));
    });
}

// ---- The host's side: offering and taking back -----------------------------------------

void Host::offerDescriptor(const Descriptor& descriptor, bool forSave) {
    if (record_.descriptorParameters == nullptr) return;
    const ScriptDescriptor& script = forSave ? setup_.saveScript : setup_.script;
    Handle h = impl_->descriptorHandle(descriptor);
    impl_->offeredDescriptor = impl_->serialOf(h);
    record_.descriptorParameters->descriptor = h;
    record_.descriptorParameters->playInfo = script.playInfo;
    record_.descriptorParameters->recordInfo = script.recordInfo;
}

void Host::offerScriptDescriptor(bool forSave) {
    const ScriptDescriptor& script = forSave ? setup_.saveScript : setup_.script;
    if (record_.descriptorParameters != nullptr) {
        record_.descriptorParameters->playInfo = script.playInfo;
        record_.descriptorParameters->recordInfo = script.recordInfo;
    }
    if (!script.present) return;
    offerDescriptor(script.descriptor, forSave);
}

void Host::takeRecordedDescriptor() { impl_->takeRecorded(impl_->log.calls.empty() ? -1 : impl_->log.calls.back().selector); }

// The editor keeps what the module left after a Finish for the action. The
// very handle it offered, still there, is the module's failure to dispose
// of it: it stays, and the leak check reports it.
void Host::Impl::takeRecorded(int16_t after) {
    PIDescriptorParameters* params = host.record_.descriptorParameters;
    if (params == nullptr || params->descriptor == nullptr) return;
    Handle h = params->descriptor;
    params->descriptor = nullptr;
    if (offeredDescriptor != 0 && serialOf(h) == offeredDescriptor) return;
    int16_t saved = selector;
    selector = after;
    if (std::optional<Descriptor> d = descriptorIn(h, "descriptorParameters->descriptor")) log.recorded = std::move(d);
    selector = saved;
    freeHandle(h);
}

// Revert information is the host's: the module reads it, and may put a
// handle of its own in its place, which the host then keeps instead.
void Host::Impl::offerRevertInfo() {
    offeredRevert = 0;
    const std::optional<std::vector<uint8_t>>& info = host.setup_.revertInfo;
    if (!info) return;
    Handle h = makeHandle(info->size(), Leak::Kind::handle, true);
    if (h != nullptr && !info->empty()) std::memcpy(*h, info->data(), info->size());
    offeredRevert = serialOf(h);
    host.record_.revertInfo = h;
}

void Host::Impl::takeRevertInfo() {
    Handle h = host.record_.revertInfo;
    host.record_.revertInfo = nullptr;
    if (h == nullptr) return;
    HandleRecord* record = findHandle(h);
    if (record == nullptr) {
        int16_t saved = selector;
        selector = formatSelectorReadFinish;
        violation("revertInfo", "not a handle of the host's");
        selector = saved;
        return;
    }
    log.revertInfo.emplace(record->data, record->data + record->size);
    if (record->serial != offeredRevert) freeHandle(h);
}

}  // namespace nebulite::host
