#include "App/Shell/PreviewWiring.h"

#include "App/Preview/QuickLook.h"

namespace tw::PreviewWiring {
namespace {

// Stand-ins until the quick-look panel and the preview-window registry are part of the
// application: swap them for QuickLookPanel::shared() and a PreviewWindowRegistry here.
class NoQuickLook final : public QuickLook {
public:
    bool isPanelVisible() const override { return false; }
    void show(const FileItem&, AppModel&, OpenFull) override {}
    void follow(const std::optional<FileItem>&, AppModel&, OpenFull) override {}
    void close() override {}
};

} // namespace

QuickLook& quickLook() {
    static NoQuickLook panel;
    return panel;
}

OpenPreview makeOpener(AppModel&) {
    return [](const PreviewTarget&) {};
}

} // namespace tw::PreviewWiring
