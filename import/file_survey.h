// Every HDU of the file the read has open, as the open dialog lists them and
// its preview reads them: the options' facts of each, the compression of a
// tile-compressed image, and where each image's data lies and how its
// samples are encoded. Read from the headers alone (each data unit skipped
// by its size), only when a dialog is about to show.
#pragma once

#include <cstdint>

#include "header/header_keywords.h"
#include "import/physical_values.h"
#include "import/read_operation.h"
#include "import/tiled/tiled_header.h"
#include "options/file_facts.h"
#include "shell/module_memory.h"
#include "ui/open_dialog.h"

namespace nebulite {

// What the preview needs of one HDU.
struct SurveyedData {
    int64_t dataStart = 0;
    SampleRules rules;
    bool headerRange = false;  // the header's display range, when usable
    double rangeLow = 0.0;
    double rangeHigh = 0.0;
    bool tiled = false;
    tiled::TiledImage tiledImage;  // when tiled
};

struct FileSurvey {
    ModuleArray<options::HduFacts> facts;
    ModuleArray<ui::CompressionName> compression;
    ModuleArray<SurveyedData> data;
    uint32_t count = 0;

    std::span<const options::HduFacts> hdus() const { return {facts.data(), count}; }
    std::span<const ui::CompressionName> compressions() const { return {compression.data(), count}; }
};

// The survey of the read's file: the primary from what the read already
// knows (its keywords, its data after `primaryEnd`), the rest read past it.
// Errors of the walk are the survey's own (a file damaged past the image
// still opens); false only when there was no memory for the lists.
bool surveyFile(PluginState& state, ReadOperation& read, int64_t primaryEnd, FileSurvey& survey);

}  // namespace nebulite
