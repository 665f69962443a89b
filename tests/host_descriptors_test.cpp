// The reference host's scripting descriptor suites against a stand-in module
// whose every step a test writes: every value kind written at ReadFinish and
// read back at ReadStart, gets of the wrong type, keys that never came,
// protocol violations, each descriptor call failing in turn, the descriptor
// the module leaves recorded, revert information and the preview flag.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/descriptor.h"
#include "host/host.h"
#include "host/result_codes.h"

namespace {

using namespace nebulite::host;

// ---- The stand-in module ----------------------------------------------------------------

// What each selector does; a selector without a step answers noErr. ReadStart
// also describes a 1x1 grey image, so that the read goes on.
std::map<int16_t, std::function<OSErr(FormatRecord&)>> g_steps;

extern "C" void scriptedEntry(int16_t selector, void* params, intptr_t* data, int16_t* result) {
    *result = noErr;
    if (*data == 0) *data = 1;
    if (selector == formatSelectorAbout) return;
    auto& r = *static_cast<FormatRecord*>(params);
    if (selector == formatSelectorReadStart) {
        r.imageSize = {1, 1};
        r.depth = 8;
        r.planes = 1;
        r.imageMode = plugInModeGrayScale;
    }
    if (auto it = g_steps.find(selector); it != g_steps.end()) *result = it->second(r);
}

class HostDescriptors : public ::testing::Test {
protected:
    void SetUp() override { g_steps.clear(); }
    void TearDown() override { g_steps.clear(); }
};

std::vector<uint8_t> fitsStart() {
    std::string card = "SIMPLE  =                    T";
    card.resize(2880, ' ');
    return {card.begin(), card.end()};
}

const ReadDescriptorProcs& readProcs(FormatRecord& r) { return *r.descriptorParameters->readDescriptorProcs; }
const WriteDescriptorProcs& writeProcs(FormatRecord& r) { return *r.descriptorParameters->writeDescriptorProcs; }

constexpr DescriptorKeyID kA = fourCharCode("keyA");
constexpr DescriptorKeyID kB = fourCharCode("keyB");
constexpr DescriptorKeyID kC = fourCharCode("keyC");
constexpr DescriptorTypeID kEnumType = fourCharCode("nbTP");
constexpr DescriptorUnitID kPixels = fourCharCode("#Pxl");

std::string describe(const Outcome& o) {
    std::string text = std::string(resultName(o.result)) + " at " + std::string(selectorName(o.failedSelector));
    for (const std::string& v : o.violations) text += "; " + v;
    for (const Leak& l : o.leaks) text += "; leak of " + std::to_string(l.bytes) + " bytes";
    return text;
}

Handle newHandleWith(FormatRecord& r, const std::string& bytes) {
    Handle h = r.handleProcs->newProc(static_cast<int32_t>(bytes.size()));
    if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
    return h;
}

std::string handleText(FormatRecord& r, Handle h) {
    return std::string(*h, static_cast<size_t>(r.handleProcs->getSizeProc(h)));
}

// ---- Writing and reading every kind ---------------------------------------------------

// Puts `item` with the module's put routine for its kind (objects through a
// descriptor of their own, as a module makes them).
OSErr putItem(FormatRecord& r, PIWriteDescriptor w, const DescriptorItem& item) {
    const WriteDescriptorProcs& p = writeProcs(r);
    switch (item.kind) {
        case ValueKind::integer: return p.putIntegerProc(w, item.key, static_cast<int32_t>(item.integer));
        case ValueKind::floating: return p.putFloatProc(w, item.key, &item.number);
        case ValueKind::unitFloat: return p.putUnitFloatProc(w, item.key, item.unit, &item.number);
        case ValueKind::boolean: return p.putBooleanProc(w, item.key, item.boolean);
        case ValueKind::enumerated: return p.putEnumeratedProc(w, item.key, item.type, item.value);
        case ValueKind::classType: return p.putClassProc(w, item.key, item.type);
        case ValueKind::count: return p.putCountProc(w, item.key, static_cast<uint32_t>(item.integer));
        case ValueKind::text:
        case ValueKind::alias: {
            Handle h = newHandleWith(r, item.bytes);
            OSErr e = item.kind == ValueKind::text ? p.putTextProc(w, item.key, h) : p.putAliasProc(w, item.key, h);
            r.handleProcs->disposeProc(h);
            return e;
        }
        case ValueKind::string: {
            Str255 s{};
            s[0] = static_cast<unsigned char>(item.bytes.size());
            std::memcpy(s + 1, item.bytes.data(), item.bytes.size());
            return p.putStringProc(w, item.key, s);
        }
        case ValueKind::object: {
            PIWriteDescriptor inner = p.openWriteDescriptorProc();
            for (const DescriptorItem& m : item.members)
                if (OSErr e = putItem(r, inner, m); e != noErr) return e;
            PIDescriptorHandle h = nullptr;
            if (OSErr e = p.closeWriteDescriptorProc(inner, &h); e != noErr) return e;
            OSErr e = p.putObjectProc(w, item.key, item.type, h);
            r.handleProcs->disposeProc(h);
            return e;
        }
    }
    return paramErr;
}

// Reads the current item with the get routine getKeyProc's type calls for.
DescriptorItem getItem(FormatRecord& r, PIReadDescriptor t, DescriptorKeyID key, DescriptorTypeID type,
                       int32_t flags);

std::vector<DescriptorItem> readAll(FormatRecord& r, PIDescriptorHandle h) {
    const ReadDescriptorProcs& p = readProcs(r);
    PIReadDescriptor t = p.openReadDescriptorProc(h, nullptr);
    std::vector<DescriptorItem> items;
    DescriptorKeyID key = 0;
    DescriptorTypeID type = 0;
    int32_t flags = 0;
    while (p.getKeyProc(t, &key, &type, &flags)) items.push_back(getItem(r, t, key, type, flags));
    EXPECT_EQ(p.closeReadDescriptorProc(t), noErr);
    return items;
}

DescriptorItem getItem(FormatRecord& r, PIReadDescriptor t, DescriptorKeyID key, DescriptorTypeID type,
                       int32_t flags) {
    const ReadDescriptorProcs& p = readProcs(r);
    DescriptorItem out;
    out.key = key;
    if (flags == actionEnumeratedParameter) {
        DescriptorEnumID v = 0;
        EXPECT_EQ(p.getEnumeratedProc(t, &v), noErr);
        return DescriptorItem::ofEnumerated(key, type, v);
    }
    if (type == descriptorTypes::integer) {
        int32_t v = 0;
        EXPECT_EQ(p.getIntegerProc(t, &v), noErr);
        return DescriptorItem::ofInteger(key, v);
    }
    if (type == descriptorTypes::floating) {
        double v = 0;
        EXPECT_EQ(p.getFloatProc(t, &v), noErr);
        return DescriptorItem::ofFloat(key, v);
    }
    if (type == descriptorTypes::unitFloat) {
        double v = 0;
        DescriptorUnitID unit = 0;
        EXPECT_EQ(p.getUnitFloatProc(t, &unit, &v), noErr);
        return DescriptorItem::ofUnitFloat(key, unit, v);
    }
    if (type == descriptorTypes::boolean) {
        Boolean v = 0;
        EXPECT_EQ(p.getBooleanProc(t, &v), noErr);
        return DescriptorItem::ofBoolean(key, v != 0);
    }
    if (type == descriptorTypes::text) {
        Handle h = nullptr;
        EXPECT_EQ(p.getTextProc(t, &h), noErr);
        std::string bytes = handleText(r, h);
        r.handleProcs->disposeProc(h);
        return DescriptorItem::ofText(key, bytes);
    }
    if (type == descriptorTypes::alias) {
        Handle h = nullptr;
        EXPECT_EQ(p.getAliasProc(t, &h), noErr);
        std::string bytes = handleText(r, h);
        r.handleProcs->disposeProc(h);
        return DescriptorItem::ofAlias(key, bytes);
    }
    if (type == descriptorTypes::classType) {
        DescriptorTypeID v = 0;
        EXPECT_EQ(p.getClassProc(t, &v), noErr);
        return DescriptorItem::ofClass(key, v);
    }
    if (type == descriptorTypes::object) {
        DescriptorTypeID cls = 0;
        PIDescriptorHandle h = nullptr;
        EXPECT_EQ(p.getObjectProc(t, &cls, &h), noErr);
        std::vector<DescriptorItem> members = readAll(r, h);
        r.handleProcs->disposeProc(h);
        return DescriptorItem::ofObject(key, cls, members);
    }
    ADD_FAILURE() << "type " << codeText(type);
    return out;
}

struct KindCase {
    const char* name;
    DescriptorItem item;
    // What reading it back gives: text and strings are one type to the
    // reader, and counts are integers.
    DescriptorItem readBack;
};

std::vector<KindCase> kindCases() {
    const auto inner = std::vector<DescriptorItem>{DescriptorItem::ofInteger(kA, -5), DescriptorItem::ofText(kB, "SCI")};
    return {
        {"integer", DescriptorItem::ofInteger(kA, -2147483647 - 1), DescriptorItem::ofInteger(kA, -2147483647 - 1)},
        {"float", DescriptorItem::ofFloat(kA, 0.1), DescriptorItem::ofFloat(kA, 0.1)},
        {"float NaN", DescriptorItem::ofFloat(kA, std::nan("")), DescriptorItem::ofFloat(kA, std::nan(""))},
        {"float -inf", DescriptorItem::ofFloat(kA, -std::numeric_limits<double>::infinity()),
         DescriptorItem::ofFloat(kA, -std::numeric_limits<double>::infinity())},
        {"unit float", DescriptorItem::ofUnitFloat(kA, kPixels, 12.5), DescriptorItem::ofUnitFloat(kA, kPixels, 12.5)},
        {"boolean", DescriptorItem::ofBoolean(kA, true), DescriptorItem::ofBoolean(kA, true)},
        {"enumerated", DescriptorItem::ofEnumerated(kA, kEnumType, fourCharCode("nbTh")),
         DescriptorItem::ofEnumerated(kA, kEnumType, fourCharCode("nbTh"))},
        {"text", DescriptorItem::ofText(kA, std::string("caf\xE9\0x", 6)), DescriptorItem::ofText(kA, std::string("caf\xE9\0x", 6))},
        {"empty text", DescriptorItem::ofText(kA, ""), DescriptorItem::ofText(kA, "")},
        {"alias", DescriptorItem::ofAlias(kA, "C:\\data\\m51.fits"), DescriptorItem::ofAlias(kA, "C:\\data\\m51.fits")},
        {"class", DescriptorItem::ofClass(kA, fourCharCode("Fmt ")), DescriptorItem::ofClass(kA, fourCharCode("Fmt "))},
        {"object", DescriptorItem::ofObject(kA, fourCharCode("Objc"), inner),
         DescriptorItem::ofObject(kA, fourCharCode("Objc"), inner)},
        {"count", DescriptorItem::ofCount(kA, 3), DescriptorItem::ofInteger(kA, 3)},
        {"string", DescriptorItem::ofString(kA, std::string(255, 'x')), DescriptorItem::ofText(kA, std::string(255, 'x'))},
    };
}

TEST_F(HostDescriptors, EveryKindWrittenAtReadFinishIsRecordedAndReadsBackAtReadStart) {
    for (const KindCase& c : kindCases()) {
        SCOPED_TRACE(c.name);
        // Written: the module's descriptor at ReadFinish is the outcome's.
        g_steps[formatSelectorReadStart] = [](FormatRecord& r) {
            r.handleProcs->disposeProc(r.descriptorParameters->descriptor);
            r.descriptorParameters->descriptor = nullptr;
            return noErr;
        };
        g_steps[formatSelectorReadFinish] = [&](FormatRecord& r) {
            PIWriteDescriptor w = writeProcs(r).openWriteDescriptorProc();
            EXPECT_EQ(putItem(r, w, c.item), noErr);
            EXPECT_EQ(putItem(r, w, DescriptorItem::ofInteger(kB, 9)), noErr);
            return writeProcs(r).closeWriteDescriptorProc(w, &r.descriptorParameters->descriptor);
        };
        Host host(&scriptedEntry);
        File file = File::memory(fitsStart());
        Outcome written = host.read(file);
        ASSERT_TRUE(written.ok()) << describe(written);
        EXPECT_TRUE(written.violations.empty()) << describe(written);
        EXPECT_TRUE(written.leaks.empty()) << describe(written);
        ASSERT_TRUE(written.recorded.has_value());
        EXPECT_EQ(written.recorded->items, (std::vector<DescriptorItem>{c.item, DescriptorItem::ofInteger(kB, 9)}));

        // Played: the module reads each item back with the get its type asks for.
        std::vector<DescriptorItem> seen;
        g_steps.clear();
        g_steps[formatSelectorReadStart] = [&](FormatRecord& r) {
            seen = readAll(r, r.descriptorParameters->descriptor);
            r.handleProcs->disposeProc(r.descriptorParameters->descriptor);
            r.descriptorParameters->descriptor = nullptr;
            return noErr;
        };
        host.setup().script.descriptor = *written.recorded;
        Outcome played = host.read(file);
        ASSERT_TRUE(played.ok()) << describe(played);
        EXPECT_TRUE(played.violations.empty()) << describe(played);
        EXPECT_TRUE(played.leaks.empty()) << describe(played);
        EXPECT_FALSE(played.recorded.has_value());
        EXPECT_EQ(seen, (std::vector<DescriptorItem>{c.readBack, DescriptorItem::ofInteger(kB, 9)}));
    }
}

TEST_F(HostDescriptors, GetKeyReportsTypesAndFlagsAndEndsAfterTheLastItem) {
    Descriptor d;
    d.items = {DescriptorItem::ofEnumerated(kA, kEnumType, 1), DescriptorItem::ofObject(kB, fourCharCode("Objc"), {}),
               DescriptorItem::ofCount(kC, 2)};
    struct Seen {
        DescriptorKeyID key;
        DescriptorTypeID type;
        int32_t flags;
    };
    std::vector<Seen> seen;
    Boolean afterEnd = 1;
    g_steps[formatSelectorReadStart] = [&](FormatRecord& r) {
        const ReadDescriptorProcs& p = readProcs(r);
        PIReadDescriptor t = p.openReadDescriptorProc(r.descriptorParameters->descriptor, nullptr);
        Seen s{};
        while (p.getKeyProc(t, &s.key, &s.type, &s.flags)) seen.push_back(s);
        afterEnd = p.getKeyProc(t, &s.key, nullptr, nullptr);
        p.closeReadDescriptorProc(t);
        r.handleProcs->disposeProc(r.descriptorParameters->descriptor);
        r.descriptorParameters->descriptor = nullptr;
        return noErr;
    };
    Host host(&scriptedEntry);
    host.setup().script.descriptor = d;
    File file = File::memory(fitsStart());
    Outcome o = host.read(file);
    ASSERT_TRUE(o.ok()) << describe(o);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].key, kA);
    EXPECT_EQ(seen[0].type, kEnumType);
    EXPECT_EQ(seen[0].flags, actionEnumeratedParameter);
    EXPECT_EQ(seen[1].type, descriptorTypes::object);
    EXPECT_EQ(seen[1].flags, actionObjectParameter);
    EXPECT_EQ(seen[2].type, descriptorTypes::integer);
    EXPECT_EQ(seen[2].flags, actionSimpleParameter);
    EXPECT_EQ(afterEnd, 0);
    EXPECT_TRUE(o.violations.empty()) << describe(o);
}

// ---- Gets of the wrong type ----------------------------------------------------------------

enum class Get { integer, floating, unitFloat, boolean, text, alias, enumerated, classType, object, count, string,
                 pinnedInteger, pinnedFloat, pinnedUnitFloat, reference };

const char* getName(Get g) {
    static const char* names[] = {"getInteger", "getFloat", "getUnitFloat", "getBoolean", "getText",
                                  "getAlias", "getEnumerated", "getClass", "getObject", "getCount",
                                  "getString", "getPinnedInteger", "getPinnedFloat", "getPinnedUnitFloat",
                                  "getSimpleReference"};
    return names[static_cast<int>(g)];
}

// Calls one get on the current item; handles it hands out are disposed of.
OSErr callGet(FormatRecord& r, PIReadDescriptor t, Get g) {
    const ReadDescriptorProcs& p = readProcs(r);
    int32_t i = 0;
    uint32_t u = 0;
    double f = 0;
    Boolean b = 0;
    Handle h = nullptr;
    DescriptorTypeID type = 0;
    Str255 s{};
    DescriptorUnitID unit = kPixels;
    const double lo = -std::numeric_limits<double>::infinity(), hi = std::numeric_limits<double>::infinity();
    OSErr e = paramErr;
    switch (g) {
        case Get::integer: e = p.getIntegerProc(t, &i); break;
        case Get::floating: e = p.getFloatProc(t, &f); break;
        case Get::unitFloat: e = p.getUnitFloatProc(t, &unit, &f); break;
        case Get::boolean: e = p.getBooleanProc(t, &b); break;
        case Get::text: e = p.getTextProc(t, &h); break;
        case Get::alias: e = p.getAliasProc(t, &h); break;
        case Get::enumerated: e = p.getEnumeratedProc(t, &u); break;
        case Get::classType: e = p.getClassProc(t, &type); break;
        case Get::object: e = p.getObjectProc(t, &type, &h); break;
        case Get::count: e = p.getCountProc(t, &u); break;
        case Get::string: e = p.getStringProc(t, &s); break;
        case Get::pinnedInteger: e = p.getPinnedIntegerProc(t, INT32_MIN, INT32_MAX, &i); break;
        case Get::pinnedFloat: e = p.getPinnedFloatProc(t, &lo, &hi, &f); break;
        case Get::pinnedUnitFloat: e = p.getPinnedUnitFloatProc(t, &lo, &hi, &unit, &f); break;
        case Get::reference: {
            // The SDK's record is opaque to the stand-in: room enough for it.
            alignas(8) unsigned char room[512] = {};
            e = p.getSimpleReferenceProc(t, reinterpret_cast<PIDescriptorSimpleReference*>(room));
            break;
        }
    }
    if (h != nullptr) r.handleProcs->disposeProc(h);
    return e;
}

TEST_F(HostDescriptors, AGetOfAnotherTypeAnswersTheCoercionError) {
    // Which gets read which kind: its own, text and strings alike, counts
    // and integers alike (the case's integer is negative: no count);
    // nothing reads a reference (this host keeps none).
    const std::map<ValueKind, std::vector<Get>> readers = {
        {ValueKind::integer, {Get::integer, Get::pinnedInteger}},
        {ValueKind::floating, {Get::floating, Get::pinnedFloat}},
        {ValueKind::unitFloat, {Get::unitFloat, Get::pinnedUnitFloat}},
        {ValueKind::boolean, {Get::boolean}},
        {ValueKind::enumerated, {Get::enumerated}},
        {ValueKind::text, {Get::text, Get::string}},
        {ValueKind::alias, {Get::alias}},
        {ValueKind::classType, {Get::classType}},
        {ValueKind::object, {Get::object}},
        {ValueKind::count, {Get::count, Get::integer}},
        {ValueKind::string, {Get::string, Get::text}},
    };
    for (const KindCase& c : kindCases()) {
        for (int gi = 0; gi <= static_cast<int>(Get::reference); ++gi) {
            const Get g = static_cast<Get>(gi);
            SCOPED_TRACE(std::string(c.name) + " by " + getName(g));
            const std::vector<Get>& ok = readers.at(c.item.kind);
            const OSErr expected = std::find(ok.begin(), ok.end(), g) != ok.end() ? noErr : errAECoercionFail;
            OSErr got = 1;
            g_steps[formatSelectorReadStart] = [&](FormatRecord& r) {
                const ReadDescriptorProcs& p = readProcs(r);
                PIReadDescriptor t = p.openReadDescriptorProc(r.descriptorParameters->descriptor, nullptr);
                DescriptorKeyID key = 0;
                EXPECT_TRUE(p.getKeyProc(t, &key, nullptr, nullptr));
                got = callGet(r, t, g);
                p.closeReadDescriptorProc(t);
                r.handleProcs->disposeProc(r.descriptorParameters->descriptor);
                r.descriptorParameters->descriptor = nullptr;
                return noErr;
            };
            Host host(&scriptedEntry);
            host.setup().script.descriptor.items = {c.item};
            File file = File::memory(fitsStart());
            Outcome o = host.read(file);
            EXPECT_EQ(got, expected);
            EXPECT_TRUE(o.violations.empty()) << describe(o);
            EXPECT_TRUE(o.leaks.empty()) << describe(o);
        }
    }
}

// (A pinned get that pinned also makes close answer coercedParamErr: the
// first answer other than noErr sticks.)
TEST_F(HostDescriptors, PinnedGetsPinAndSaySo) {
    struct Case {
        DescriptorItem item;
        double lo, hi;
        OSErr expected;
        double value;
    } cases[] = {
        {DescriptorItem::ofInteger(kA, 50), 0, 100, noErr, 50},
        {DescriptorItem::ofInteger(kA, 500), 0, 100, coercedParamErr, 100},
        {DescriptorItem::ofInteger(kA, -5), 0, 100, coercedParamErr, 0},
        {DescriptorItem::ofFloat(kA, 0.75), 0, 1, noErr, 0.75},
        {DescriptorItem::ofFloat(kA, 1.5), 0, 1, coercedParamErr, 1},
        {DescriptorItem::ofUnitFloat(kA, kPixels, -3), 0, 1, coercedParamErr, 0},
    };
    for (const Case& c : cases) {
        OSErr got = 1;
        double value = -99;
        g_steps[formatSelectorReadStart] = [&](FormatRecord& r) {
            const ReadDescriptorProcs& p = readProcs(r);
            PIReadDescriptor t = p.openReadDescriptorProc(r.descriptorParameters->descriptor, nullptr);
            DescriptorKeyID key = 0;
            p.getKeyProc(t, &key, nullptr, nullptr);
            if (c.item.kind == ValueKind::integer) {
                int32_t v = 0;
                got = p.getPinnedIntegerProc(t, static_cast<int32_t>(c.lo), static_cast<int32_t>(c.hi), &v);
                value = v;
            } else if (c.item.kind == ValueKind::floating) {
                got = p.getPinnedFloatProc(t, &c.lo, &c.hi, &value);
            } else {
                DescriptorUnitID unit = kPixels;
                got = p.getPinnedUnitFloatProc(t, &c.lo, &c.hi, &unit, &value);
                DescriptorUnitID other = fourCharCode("#Ang");
                EXPECT_EQ(p.getPinnedUnitFloatProc(t, &c.lo, &c.hi, &other, &value), errAECoercionFail);
            }
            p.closeReadDescriptorProc(t);
            r.handleProcs->disposeProc(r.descriptorParameters->descriptor);
            r.descriptorParameters->descriptor = nullptr;
            return noErr;
        };
        Host host(&scriptedEntry);
        host.setup().script.descriptor.items = {c.item};
        File file = File::memory(fitsStart());
        Outcome o = host.read(file);
        EXPECT_EQ(got, c.expected);
        EXPECT_EQ(value, c.value);
        EXPECT_TRUE(o.violations.empty()) << describe(o);
    }
}

// ---- Keys that never came -------------------------------------------------------------------

TEST_F(HostDescriptors, CloseAnswersMissingParameterWhenAnExpectedKeyNeverCame) {
    struct Case {
        const char* name;
        std::vector<DescriptorKeyID> items;
        std::vector<DescriptorKeyID> expected;  // the key array, without its zero
        bool walk;                              // the module calls getKeyProc to the end
        std::optional<OSErr> closeCode;
        OSErr close;
    } cases[] = {
        {"all came", {kA, kB, kC}, {kA, kC}, true, std::nullopt, noErr},
        {"one missing", {kA, kC}, {kA, kB, kC}, true, std::nullopt, errMissingParameter},
        {"empty descriptor", {}, {kA}, true, std::nullopt, errMissingParameter},
        {"not walked", {kA, kB}, {kA, kB}, false, std::nullopt, errMissingParameter},
        {"no key array", {kA}, {}, true, std::nullopt, noErr},
        {"unexpected keys only", {kC}, {}, true, std::nullopt, noErr},
        {"configured code", {kA}, {kA}, true, userCanceledErr, userCanceledErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OSErr closed = 1;
        g_steps[formatSelectorReadStart] = [&](FormatRecord& r) {
            std::vector<DescriptorKeyID> keys = c.expected;
            keys.push_back(0);
            const ReadDescriptorProcs& p = readProcs(r);
            PIReadDescriptor t = p.openReadDescriptorProc(r.descriptorParameters->descriptor, keys.data());
            DescriptorKeyID key = 0;
            if (c.walk)
                while (p.getKeyProc(t, &key, nullptr, nullptr)) {
                }
            closed = p.closeReadDescriptorProc(t);
            // The key array is the module's: the host never writes to it.
            keys.pop_back();
            EXPECT_EQ(keys, c.expected);
            r.handleProcs->disposeProc(r.descriptorParameters->descriptor);
            r.descriptorParameters->descriptor = nullptr;
            return noErr;
        };
        Host host(&scriptedEntry);
        for (DescriptorKeyID k : c.items) host.setup().script.descriptor.items.push_back(DescriptorItem::ofInteger(k, 1));
        host.setup().script.closeCode = c.closeCode;
        File file = File::memory(fitsStart());
        Outcome o = host.read(file);
        EXPECT_EQ(closed, c.close);
        EXPECT_TRUE(o.violations.empty()) << describe(o);
    }
}

TEST_F(HostDescriptors, CloseReportsTheFirstGetThatFailed) {
    struct Case {
        const char* name;
        std::vector<Get> gets;                 // on the one item, an integer
        std::vector<DescriptorKeyID> expected;  // the key array
        OSErr close;
    } cases[] = {
        {"a wrong type", {Get::floating}, {}, errAECoercionFail},
        {"the first of two", {Get::text, Get::floating}, {}, errAECoercionFail},
        {"a good get after a bad one", {Get::boolean, Get::integer}, {}, errAECoercionFail},
        {"before a missing key", {Get::floating}, {kA, kB}, errAECoercionFail},
        {"good gets, a missing key", {Get::integer, Get::count}, {kA, kB}, errMissingParameter},
        {"good gets", {Get::integer}, {kA}, noErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OSErr closed = 1;
        g_steps[formatSelectorReadStart] = [&](FormatRecord& r) {
            std::vector<DescriptorKeyID> keys = c.expected;
            keys.push_back(0);
            const ReadDescriptorProcs& p = readProcs(r);
            PIReadDescriptor t = p.openReadDescriptorProc(r.descriptorParameters->descriptor, keys.data());
            DescriptorKeyID key = 0;
            EXPECT_TRUE(p.getKeyProc(t, &key, nullptr, nullptr));
            for (Get g : c.gets) callGet(r, t, g);
            closed = p.closeReadDescriptorProc(t);
            r.handleProcs->disposeProc(r.descriptorParameters->descriptor);
            r.descriptorParameters->descriptor = nullptr;
            return noErr;
        };
        Host host(&scriptedEntry);
        host.setup().script.descriptor.items = {DescriptorItem::ofInteger(kA, 5)};
        File file = File::memory(fitsStart());
        Outcome o = host.read(file);
        EXPECT_EQ(closed, c.close);
        EXPECT_TRUE(o.violations.empty()) << describe(o);
    }
}

// ---- Protocol violations ---------------------------------------------------------------------

TEST_F(HostDescriptors, MisuseIsRecordedNotTrusted) {
    struct Case {
        const char* name;
        std::function<void(FormatRecord&)> misuse;
        std::string violation;  // a part of the one violation expected
    };
    const auto fake = reinterpret_cast<PIReadDescriptor>(0x1234);
    const auto fakeWrite = reinterpret_cast<PIWriteDescriptor>(0x1234);
    const std::vector<Case> cases = {
        {"getKey on an unknown token",
         [&](FormatRecord& r) {
             DescriptorKeyID k = 0;
             EXPECT_FALSE(readProcs(r).getKeyProc(fake, &k, nullptr, nullptr));
         },
         "getKeyProc: unknown read descriptor"},
        {"get on an unknown token",
         [&](FormatRecord& r) {
             int32_t v = 0;
             EXPECT_EQ(readProcs(r).getIntegerProc(fake, &v), paramErr);
         },
         "getIntegerProc: unknown read descriptor"},
        {"close twice",
         [](FormatRecord& r) {
             PIReadDescriptor t = readProcs(r).openReadDescriptorProc(r.descriptorParameters->descriptor, nullptr);
             readProcs(r).closeReadDescriptorProc(t);
             EXPECT_EQ(readProcs(r).closeReadDescriptorProc(t), paramErr);
         },
         "closeReadDescriptorProc: read descriptor used after closeReadDescriptorProc"},
        {"getKey after close",
         [](FormatRecord& r) {
             PIReadDescriptor t = readProcs(r).openReadDescriptorProc(r.descriptorParameters->descriptor, nullptr);
             readProcs(r).closeReadDescriptorProc(t);
             DescriptorKeyID k = 0;
             EXPECT_FALSE(readProcs(r).getKeyProc(t, &k, nullptr, nullptr));
         },
         "getKeyProc: read descriptor used after closeReadDescriptorProc"},
        {"get before any key",
         [](FormatRecord& r) {
             PIReadDescriptor t = readProcs(r).openReadDescriptorProc(r.descriptorParameters->descriptor, nullptr);
             int32_t v = 0;
             EXPECT_EQ(readProcs(r).getIntegerProc(t, &v), paramErr);
             readProcs(r).closeReadDescriptorProc(t);
         },
         "getIntegerProc: no current key"},
        {"get after the last key",
         [](FormatRecord& r) {
             PIReadDescriptor t = readProcs(r).openReadDescriptorProc(r.descriptorParameters->descriptor, nullptr);
             DescriptorKeyID k = 0;
             while (readProcs(r).getKeyProc(t, &k, nullptr, nullptr)) {
             }
             int32_t v = 0;
             EXPECT_EQ(readProcs(r).getIntegerProc(t, &v), paramErr);
             readProcs(r).closeReadDescriptorProc(t);
         },
         "getIntegerProc: no current key"},
        {"get into null",
         [](FormatRecord& r) {
             PIReadDescriptor t = readProcs(r).openReadDescriptorProc(r.descriptorParameters->descriptor, nullptr);
             DescriptorKeyID k = 0;
             readProcs(r).getKeyProc(t, &k, nullptr, nullptr);
             EXPECT_EQ(readProcs(r).getIntegerProc(t, nullptr), paramErr);
             readProcs(r).closeReadDescriptorProc(t);
         },
         "getIntegerProc: null value pointer"},
        {"getKey into null",
         [](FormatRecord& r) {
             PIReadDescriptor t = readProcs(r).openReadDescriptorProc(r.descriptorParameters->descriptor, nullptr);
             EXPECT_FALSE(readProcs(r).getKeyProc(t, nullptr, nullptr, nullptr));
             readProcs(r).closeReadDescriptorProc(t);
         },
         "getKeyProc: null key pointer"},
        {"open on a pointer that is no handle",
         [](FormatRecord& r) {
             static char* notAHandle = nullptr;
             EXPECT_EQ(readProcs(r).openReadDescriptorProc(&notAHandle, nullptr), nullptr);
         },
         "openReadDescriptorProc: not a handle of the host's"},
        {"open on a handle that holds no descriptor",
         [](FormatRecord& r) {
             Handle h = newHandleWith(r, "NbDs but no more");
             EXPECT_EQ(readProcs(r).openReadDescriptorProc(h, nullptr), nullptr);
             r.handleProcs->disposeProc(h);
         },
         "openReadDescriptorProc: the handle holds no descriptor"},
        {"read descriptor left open",
         [](FormatRecord& r) { readProcs(r).openReadDescriptorProc(r.descriptorParameters->descriptor, nullptr); },
         "read descriptor left open at the end"},
        {"put on an unknown token",
         [&](FormatRecord& r) { EXPECT_EQ(writeProcs(r).putIntegerProc(fakeWrite, kA, 1), paramErr); },
         "putIntegerProc: unknown write descriptor"},
        {"put after close",
         [](FormatRecord& r) {
             PIWriteDescriptor w = writeProcs(r).openWriteDescriptorProc();
             PIDescriptorHandle h = nullptr;
             writeProcs(r).closeWriteDescriptorProc(w, &h);
             r.handleProcs->disposeProc(h);
             EXPECT_EQ(writeProcs(r).putBooleanProc(w, kA, 1), paramErr);
         },
         "putBooleanProc: write descriptor used after closeWriteDescriptorProc"},
        {"close write into null",
         [](FormatRecord& r) {
             PIWriteDescriptor w = writeProcs(r).openWriteDescriptorProc();
             EXPECT_EQ(writeProcs(r).closeWriteDescriptorProc(w, nullptr), paramErr);
         },
         "closeWriteDescriptorProc: null descriptor pointer"},
        {"put a float from null",
         [](FormatRecord& r) {
             PIWriteDescriptor w = writeProcs(r).openWriteDescriptorProc();
             EXPECT_EQ(writeProcs(r).putFloatProc(w, kA, nullptr), paramErr);
             PIDescriptorHandle h = nullptr;
             writeProcs(r).closeWriteDescriptorProc(w, &h);
             r.handleProcs->disposeProc(h);
         },
         "putFloatProc: null value pointer"},
        {"put text of a pointer that is no handle",
         [](FormatRecord& r) {
             static char* notAHandle = nullptr;
             PIWriteDescriptor w = writeProcs(r).openWriteDescriptorProc();
             EXPECT_EQ(writeProcs(r).putTextProc(w, kA, &notAHandle), paramErr);
             PIDescriptorHandle h = nullptr;
             writeProcs(r).closeWriteDescriptorProc(w, &h);
             r.handleProcs->disposeProc(h);
         },
         "putTextProc: not a handle of the host's"},
        {"put an object of a handle that holds no descriptor",
         [](FormatRecord& r) {
             Handle junk = newHandleWith(r, "junk");
             PIWriteDescriptor w = writeProcs(r).openWriteDescriptorProc();
             EXPECT_EQ(writeProcs(r).putObjectProc(w, kA, descriptorTypes::object, junk), paramErr);
             PIDescriptorHandle h = nullptr;
             writeProcs(r).closeWriteDescriptorProc(w, &h);
             r.handleProcs->disposeProc(h);
             r.handleProcs->disposeProc(junk);
         },
         "putObjectProc: the handle holds no descriptor"},
        {"put a reference",
         [](FormatRecord& r) {
             PIWriteDescriptor w = writeProcs(r).openWriteDescriptorProc();
             EXPECT_EQ(writeProcs(r).putSimpleReferenceProc(w, kA, nullptr), paramErr);
             PIDescriptorHandle h = nullptr;
             writeProcs(r).closeWriteDescriptorProc(w, &h);
             r.handleProcs->disposeProc(h);
         },
         "putSimpleReferenceProc: a reference; this host keeps none"},
        {"write descriptor left open",
         [](FormatRecord& r) { writeProcs(r).openWriteDescriptorProc(); },
         "write descriptor left open at the end"},
        {"a recorded handle that is no descriptor",
         [](FormatRecord& r) {
             r.handleProcs->disposeProc(r.descriptorParameters->descriptor);
             r.descriptorParameters->descriptor = newHandleWith(r, "not a descriptor");
         },
         "descriptorParameters->descriptor: the handle holds no descriptor"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_steps[formatSelectorReadFinish] = [&](FormatRecord& r) {
            c.misuse(r);
            if (r.descriptorParameters->descriptor != nullptr &&
                c.name != std::string("a recorded handle that is no descriptor")) {
                r.handleProcs->disposeProc(r.descriptorParameters->descriptor);
                r.descriptorParameters->descriptor = nullptr;
            }
            return noErr;
        };
        Host host(&scriptedEntry);
        host.setup().script.descriptor.items = {DescriptorItem::ofInteger(kA, 1)};
        File file = File::memory(fitsStart());
        Outcome o = host.read(file);
        ASSERT_EQ(o.violations.size(), 1u) << describe(o);
        EXPECT_NE(o.violations[0].find(c.violation), std::string::npos) << o.violations[0];
        EXPECT_TRUE(o.leaks.empty()) << describe(o);
        EXPECT_FALSE(o.recorded.has_value());
    }
}

// ---- Faults -----------------------------------------------------------------------------------

// A module's whole scripting round: read every item at ReadStart, write a
// descriptor with an object at ReadFinish. Each descriptor call fails in
// turn; the module gives up on its descriptor where a call fails, as a
// module should, and nothing is left behind.
TEST_F(HostDescriptors, EachDescriptorCallFailsInTurn) {
    const Descriptor played{{DescriptorItem::ofInteger(kA, 1), DescriptorItem::ofText(kB, "SCI"),
                             DescriptorItem::ofEnumerated(kC, kEnumType, 2)}};
    std::vector<OSErr> failures;  // what the failing call answered, per run
    bool failed = false;
    auto note = [&](bool ok, OSErr answer) {
        if (!ok) {
            failed = true;
            failures.push_back(answer);
        }
        return ok;
    };
    g_steps[formatSelectorReadStart] = [&](FormatRecord& r) {
        const ReadDescriptorProcs& p = readProcs(r);
        PIReadDescriptor t = p.openReadDescriptorProc(r.descriptorParameters->descriptor, nullptr);
        if (note(t != nullptr, 0)) {
            DescriptorKeyID key = 0;
            DescriptorTypeID type = 0;
            int got = 0;
            while (p.getKeyProc(t, &key, &type, nullptr)) {
                ++got;
                OSErr e = noErr;
                if (key == kA) {
                    int32_t v = 0;
                    e = p.getIntegerProc(t, &v);
                } else if (key == kB) {
                    Handle h = nullptr;
                    e = p.getTextProc(t, &h);
                    if (e == noErr) r.handleProcs->disposeProc(h);
                } else {
                    DescriptorEnumID v = 0;
                    e = p.getEnumeratedProc(t, &v);
                }
                if (!note(e == noErr, e)) break;
            }
            if (got < 3 && !failed) note(false, 1);  // getKeyProc ended the walk early
            OSErr closed = p.closeReadDescriptorProc(t);
            if (!failed) note(closed == noErr, closed);
        }
        r.handleProcs->disposeProc(r.descriptorParameters->descriptor);
        r.descriptorParameters->descriptor = nullptr;
        return noErr;
    };
    g_steps[formatSelectorReadFinish] = [&](FormatRecord& r) {
        const WriteDescriptorProcs& p = writeProcs(r);
        PIWriteDescriptor inner = p.openWriteDescriptorProc();
        if (!note(inner != nullptr, 0)) return noErr;
        OSErr e = p.putIntegerProc(inner, kA, 5);
        note(e == noErr, e);
        PIDescriptorHandle object = nullptr;
        OSErr closed = p.closeWriteDescriptorProc(inner, &object);
        if (!note(closed == noErr, closed)) return noErr;
        PIWriteDescriptor w = p.openWriteDescriptorProc();
        if (note(w != nullptr, 0)) {
            e = p.putObjectProc(w, kB, descriptorTypes::object, object);
            note(e == noErr, e);
            const double v = 2.5;
            e = p.putFloatProc(w, kC, &v);
            note(e == noErr, e);
            PIDescriptorHandle out = nullptr;
            closed = p.closeWriteDescriptorProc(w, &out);
            if (note(closed == noErr, closed)) r.descriptorParameters->descriptor = out;
        }
        r.handleProcs->disposeProc(object);
        return noErr;
    };

    Host host(&scriptedEntry);
    host.setup().script.descriptor = played;
    File file = File::memory(fitsStart());
    Outcome clean = host.read(file);
    ASSERT_TRUE(clean.ok()) << describe(clean);
    ASSERT_FALSE(failed);
    ASSERT_TRUE(clean.recorded.has_value());
    const int64_t calls = clean.counters.descriptorCalls;
    // open, 3 x (key, get), the key that ends, close; open, put, close, open, put, put, close
    EXPECT_EQ(calls, 1 + 6 + 1 + 1 + 7);
    for (int64_t k = 0; k < calls; ++k) {
        SCOPED_TRACE("call " + std::to_string(k));
        failed = false;
        failures.clear();
        host.faults().descriptor = Trigger::nth(k);
        host.faults().descriptorCode = memFullErr;
        Outcome o = host.read(file);
        // The getKeyProc that ends the walk failing ends it all the same.
        EXPECT_EQ(failed, k != 7);
        ASSERT_EQ(failures.size(), k != 7 ? 1u : 0u);
        if (k == 7) continue;
        // Opens answer null, the last getKeyProc nothing: those are noted
        // as 0 and 1; every other routine answers the fault's code.
        EXPECT_TRUE(failures[0] == memFullErr || failures[0] == 0 || failures[0] == 1) << failures[0];
        EXPECT_TRUE(o.violations.empty()) << describe(o);
        EXPECT_TRUE(o.leaks.empty()) << describe(o);
        EXPECT_EQ(o.counters.descriptorCalls <= calls, true);
        EXPECT_EQ(host.liveHandles(), 0u);
    }
}

// ---- What the module leaves -------------------------------------------------------------------

TEST_F(HostDescriptors, ThePlayedDescriptorLeftInPlaceIsALeakNotARecording) {
    g_steps[formatSelectorReadStart] = [](FormatRecord&) { return noErr; };
    Host host(&scriptedEntry);
    host.setup().script.descriptor.items = {DescriptorItem::ofInteger(kA, 1)};
    File file = File::memory(fitsStart());
    Outcome o = host.read(file);
    EXPECT_FALSE(o.recorded.has_value());
    ASSERT_EQ(o.leaks.size(), 1u);
    EXPECT_EQ(o.leaks[0].kind, Leak::Kind::descriptor);
}

TEST_F(HostDescriptors, PlayInfoAndRecordInfoReachTheModuleWithTheDescriptor) {
    int16_t play = -1, record = -1;
    bool hadDescriptor = false;
    g_steps[formatSelectorReadStart] = [&](FormatRecord& r) {
        play = r.descriptorParameters->playInfo;
        record = r.descriptorParameters->recordInfo;
        hadDescriptor = r.descriptorParameters->descriptor != nullptr;
        if (hadDescriptor) r.handleProcs->disposeProc(r.descriptorParameters->descriptor);
        r.descriptorParameters->descriptor = nullptr;
        return noErr;
    };
    Host host(&scriptedEntry);
    host.setup().script.playInfo = plugInDialogSilent;
    host.setup().script.recordInfo = plugInDialogRequired;
    File file = File::memory(fitsStart());
    Outcome o = host.read(file);
    EXPECT_EQ(play, plugInDialogSilent);
    EXPECT_EQ(record, plugInDialogRequired);
    EXPECT_TRUE(hadDescriptor);
    EXPECT_TRUE(o.leaks.empty());
}

TEST_F(HostDescriptors, ASaveOffersItsScriptAtOptionsStartAndWhatTheOptionsLeftAtWriteStart) {
    std::vector<std::pair<int16_t, std::vector<DescriptorItem>>> offered;
    auto readOffered = [&](int16_t selector) {
        return [&, selector](FormatRecord& r) {
            PIDescriptorHandle h = r.descriptorParameters->descriptor;
            offered.emplace_back(selector, h == nullptr ? std::vector<DescriptorItem>{} : readAll(r, h));
            if (h != nullptr) r.handleProcs->disposeProc(h);
            r.descriptorParameters->descriptor = nullptr;
            return noErr;
        };
    };
    g_steps[formatSelectorOptionsStart] = readOffered(formatSelectorOptionsStart);
    g_steps[formatSelectorWriteStart] = readOffered(formatSelectorWriteStart);
    g_steps[formatSelectorOptionsFinish] = [](FormatRecord& r) {
        PIWriteDescriptor w = writeProcs(r).openWriteDescriptorProc();
        writeProcs(r).putIntegerProc(w, kB, 2);
        return writeProcs(r).closeWriteDescriptorProc(w, &r.descriptorParameters->descriptor);
    };
    g_steps[formatSelectorWriteFinish] = [](FormatRecord& r) {
        PIWriteDescriptor w = writeProcs(r).openWriteDescriptorProc();
        writeProcs(r).putIntegerProc(w, kC, 3);
        return writeProcs(r).closeWriteDescriptorProc(w, &r.descriptorParameters->descriptor);
    };
    Host host(&scriptedEntry);
    host.setup().saveScript.present = true;
    host.setup().saveScript.descriptor.items = {DescriptorItem::ofInteger(kA, 1)};
    Document document;
    document.image.rows = document.image.columns = 1;
    document.image.planes = 1;
    document.image.allocate();
    File out = File::memory();
    Outcome o = host.save(document, out);
    ASSERT_TRUE(o.ok()) << describe(o);
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[0].second, std::vector<DescriptorItem>{DescriptorItem::ofInteger(kA, 1)});
    EXPECT_EQ(offered[1].second, std::vector<DescriptorItem>{DescriptorItem::ofInteger(kB, 2)});
    ASSERT_TRUE(o.recorded.has_value());
    EXPECT_EQ(o.recorded->items, std::vector<DescriptorItem>{DescriptorItem::ofInteger(kC, 3)});
    EXPECT_TRUE(o.leaks.empty()) << describe(o);
    EXPECT_TRUE(o.violations.empty()) << describe(o);
}

TEST_F(HostDescriptors, RevertInfoIsKeptAndHandedBackOnARevert) {
    std::optional<std::string> seenAtStart;
    bool descriptorOffered = true;
    g_steps[formatSelectorReadStart] = [&](FormatRecord& r) {
        seenAtStart.reset();
        if (r.revertInfo != nullptr) seenAtStart = handleText(r, r.revertInfo);
        descriptorOffered = r.descriptorParameters->descriptor != nullptr;
        if (descriptorOffered) r.handleProcs->disposeProc(r.descriptorParameters->descriptor);
        r.descriptorParameters->descriptor = nullptr;
        return noErr;
    };
    g_steps[formatSelectorReadFinish] = [](FormatRecord& r) {
        if (r.revertInfo == nullptr) r.revertInfo = newHandleWith(r, "HDU 2, planes 1");
        return noErr;
    };
    Host host(&scriptedEntry);
    File file = File::memory(fitsStart());
    Outcome opened = host.read(file);
    ASSERT_TRUE(opened.ok()) << describe(opened);
    EXPECT_FALSE(seenAtStart.has_value());
    ASSERT_TRUE(opened.revertInfo.has_value());
    EXPECT_EQ(std::string(opened.revertInfo->begin(), opened.revertInfo->end()), "HDU 2, planes 1");
    EXPECT_TRUE(opened.leaks.empty()) << describe(opened);

    Outcome reverted = host.revert(file, *opened.revertInfo);
    ASSERT_TRUE(reverted.ok()) << describe(reverted);
    EXPECT_EQ(seenAtStart, std::optional<std::string>("HDU 2, planes 1"));
    EXPECT_FALSE(descriptorOffered);
    EXPECT_EQ(reverted.revertInfo, opened.revertInfo);
    EXPECT_TRUE(reverted.leaks.empty()) << describe(reverted);
    EXPECT_TRUE(reverted.violations.empty()) << describe(reverted);
    EXPECT_FALSE(host.setup().revertInfo.has_value());  // the setup is as it was

    // The host keeps it: a module may not dispose of it.
    g_steps[formatSelectorReadStart] = [](FormatRecord& r) {
        r.handleProcs->disposeProc(r.revertInfo);
        r.revertInfo = nullptr;
        return noErr;
    };
    g_steps.erase(formatSelectorReadFinish);
    Outcome disposed = host.revert(file, *opened.revertInfo);
    ASSERT_EQ(disposed.violations.size(), 1u);
    EXPECT_NE(disposed.violations[0].find("disposed a handle the host owns"), std::string::npos);
}

TEST_F(HostDescriptors, APreviewSaysSoAndOffersNoDescriptor) {
    Boolean preview = 0;
    bool descriptorOffered = true;
    g_steps[formatSelectorReadStart] = [&](FormatRecord& r) {
        preview = r.openForPreview;
        descriptorOffered = r.descriptorParameters->descriptor != nullptr;
        return noErr;
    };
    Host host(&scriptedEntry);
    File file = File::memory(fitsStart());
    Outcome o = host.preview(file);
    EXPECT_TRUE(o.ok()) << describe(o);
    EXPECT_EQ(preview, 1);
    EXPECT_FALSE(descriptorOffered);
    host.read(file);
    EXPECT_EQ(preview, 0);
    EXPECT_TRUE(descriptorOffered);
}

// ---- The handle's bytes -----------------------------------------------------------------------

TEST(HostDescriptorBytes, EveryKindSerializesAndParsesBack) {
    Descriptor d;
    for (const KindCase& c : kindCases()) {
        DescriptorItem item = c.item;
        item.key = fourCharCode("k000") + static_cast<uint32_t>(d.items.size());
        d.items.push_back(item);
    }
    d.items.push_back(DescriptorItem::ofObject(kC, fourCharCode("Objc"), {DescriptorItem::ofObject(kA, 1, d.items)}));
    std::vector<uint8_t> bytes = serialize(d);
    std::optional<Descriptor> back = parseDescriptor(bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, d);
    // Every shorter prefix and every longer one is refused.
    for (size_t n = 0; n < bytes.size(); ++n)
        EXPECT_FALSE(parseDescriptor(std::span(bytes.data(), n)).has_value()) << n;
    bytes.push_back(0);
    EXPECT_FALSE(parseDescriptor(bytes).has_value());
}

TEST(HostDescriptorBytes, DamagedBytesAreRefused) {
    std::vector<uint8_t> good = serialize(Descriptor{{DescriptorItem::ofBoolean(kA, true)}});
    auto damaged = [&](size_t at, uint8_t value) {
        std::vector<uint8_t> b = good;
        b[at] = value;
        return parseDescriptor(b).has_value();
    };
    EXPECT_FALSE(damaged(0, 'X'));    // magic
    EXPECT_FALSE(damaged(5, 2));      // version
    EXPECT_FALSE(damaged(9, 2));      // item count
    EXPECT_FALSE(damaged(6, 0xFF));   // a count far past the bytes
    EXPECT_FALSE(damaged(14, 99));    // kind
    EXPECT_FALSE(damaged(15, 2));     // a boolean of 2
    // Objects nest 32 deep at most.
    DescriptorItem deep = DescriptorItem::ofInteger(kA, 1);
    for (int i = 0; i < 40; ++i) deep = DescriptorItem::ofObject(kA, 1, {deep});
    EXPECT_FALSE(parseDescriptor(serialize(Descriptor{{deep}})).has_value());
}

TEST(HostDescriptorBytes, PutReplacesAKeyInItsPlace) {
    Descriptor d;
    d.put(DescriptorItem::ofInteger(kA, 1));
    d.put(DescriptorItem::ofInteger(kB, 2));
    d.put(DescriptorItem::ofFloat(kA, 3));
    ASSERT_EQ(d.items.size(), 2u);
    EXPECT_EQ(d.items[0], DescriptorItem::ofFloat(kA, 3));
    EXPECT_EQ(d.find(kB)->integer, 2);
    EXPECT_EQ(d.find(kC), nullptr);
    EXPECT_EQ(codeText(kA), "'keyA'");
    EXPECT_EQ(codeText(1), "0x00000001");
}

}  // namespace
