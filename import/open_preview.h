// The open dialog's preview: the image chosen, under the mapping chosen,
// small (every k-th row and column of the file), with the histogram of the
// values it read and the points the mapping runs between. It reads the
// file through a stream of its own, so the read's position and result are
// left alone.
#pragma once

#include "import/file_survey.h"
#include "shell/module_memory.h"
#include "shell/plugin_state.h"
#include "ui/preview.h"

namespace nebulite {

class OpenPreview final : public ui::PreviewProvider {
public:
    OpenPreview(const PluginState& state, const FileSurvey& survey) : state_(state), survey_(survey) {}
    OpenPreview(const OpenPreview&) = delete;
    OpenPreview& operator=(const OpenPreview&) = delete;
    ~OpenPreview() = default;

    ui::Preview render(const options::OpenOptions& options) override;

private:
    PluginState state_;  // a copy: the preview's failures are its own
    const FileSurvey& survey_;
    ModuleArray<uint8_t> pixels_;
    ModuleArray<uint32_t> counts_;
    ModuleArray<double> values_;   // the samples read, plane after plane
    ModuleArray<unsigned char> row_;
    ModuleArray<double> physical_;
};

}  // namespace nebulite
