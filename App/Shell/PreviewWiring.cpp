#include "App/Shell/PreviewWiring.h"

#include "App/Model/AppModel.h"
#include "App/Preview/PreviewWindowRegistry.h"
#include "App/Preview/QuickLookPanel.h"

#include <memory>

namespace tw::PreviewWiring {

QuickLook& quickLook(AppModel& model) { return QuickLookPanel::shared(model.defaults()); }

OpenPreview makeOpener(AppModel& model) {
    // The registry lives as long as the last copy of the opener: the windows and views that
    // hold one go first, the application's own copy before the model.
    auto registry = std::make_shared<PreviewWindowRegistry>(model);
    return [registry](const PreviewTarget& target) { registry->open(target); };
}

} // namespace tw::PreviewWiring
