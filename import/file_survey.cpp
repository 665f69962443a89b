#include "import/file_survey.h"

#include "header/card_text.h"
#include "import/extensions.h"
#include "import/hdu_facts.h"
#include "import/pixel_roads.h"

namespace nebulite {

namespace {

SurveyedData dataOf(const HeaderKeywords& keys, int64_t dataStart) {
    SurveyedData d;
    d.dataStart = dataStart;
    d.rules = sampleRulesOf(keys);
    d.headerRange = headerRange(keys, d.rangeLow, d.rangeHigh);
    return d;
}

struct Walk {
    FileSurvey& survey;
    bool roomy = true;

    bool add(const options::HduFacts& facts, const SurveyedData& data, std::string_view compression) {
        if (survey.count == survey.facts.size()) {
            const uint64_t grown = survey.count == 0 ? 8 : uint64_t{survey.count} * 2;
            ModuleArray<options::HduFacts> f;
            ModuleArray<ui::CompressionName> c;
            ModuleArray<SurveyedData> d;
            if (!f.allocate(nebuliteAllocOther, grown) || !c.allocate(nebuliteAllocOther, grown) ||
                !d.allocate(nebuliteAllocOther, grown)) {
                roomy = false;
                return false;
            }
            for (uint32_t i = 0; i < survey.count; ++i) {
                f[i] = survey.facts[i];
                c[i] = survey.compression[i];
                d[i] = survey.data[i];
            }
            survey.facts = std::move(f);
            survey.compression = std::move(c);
            survey.data = std::move(d);
        }
        survey.facts[survey.count] = facts;
        survey.compression[survey.count] = ui::CompressionName(compression);
        survey.data[survey.count] = data;
        ++survey.count;
        return true;
    }

    static bool visit(void* context, const SurveyedHdu& hdu) {
        auto& walk = *static_cast<Walk*>(context);
        const HeaderKeywords& keys = *hdu.keys;
        SurveyedData data = dataOf(keys, hdu.dataStart);
        options::HduFacts facts = hduFactsOf(keys);
        std::string_view compression;
        if (keys.type == HduType::binaryTable && keys.zimage && hdu.cards->count > 0) {
            tiled::TiledImage image;
            if (tiled::parseTiledHeader(hdu.cards->text, hdu.cards->count, image) == tiled::TiledHeaderError::none) {
                facts = compressedHduFacts(keys, image);
                data.tiled = true;
                data.tiledImage = image;
                data.rules.bitpix = image.bitpix;
                for (uint32_t i = 0; i < hdu.cards->count; ++i) {
                    const char* card = hdu.cards->text + size_t{i} * kCardBytes;
                    if (keywordIs(splitCard(card).keyword, "ZCMPTYPE")) compression = stringValue(card);
                }
            }
        }
        return walk.add(facts, data, compression);
    }
};

}  // namespace

bool surveyFile(PluginState& state, ReadOperation& read, int64_t primaryEnd, FileSurvey& survey) {
    survey = FileSurvey{};
    Walk walk{survey};
    options::HduFacts primary = hduFactsOf(read.keys);
    primary.kind = options::HduKind::image;
    if (!walk.add(primary, dataOf(read.keys, primaryEnd), {})) return false;
    // The walk's own failures stay its own: what lies past the image the
    // user may pick does not stop the open.
    PluginState scratch = state;
    scratch.result = noErr;
    if (const auto primaryData = dataUnitBytes(read.keys))
        if (const auto next = nextHeaderOffset(static_cast<uint64_t>(primaryEnd), *primaryData, INT64_MAX))
            surveyExtensions(scratch, read.input, static_cast<int64_t>(*next), &Walk::visit, &walk);
    return walk.roomy;
}

}  // namespace nebulite
