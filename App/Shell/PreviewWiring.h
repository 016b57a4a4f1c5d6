#pragma once

#include "App/Preview/PreviewTarget.h"

namespace tw {

class AppModel;
class QuickLook;

/// The application's quick-look panel and preview windows, as the shell hands them to the
/// main window. The one place where the preview module is wired into the application.
namespace PreviewWiring {

/// The one quick-look panel of the application, made by the first call: it keeps its frame in
/// the model's settings store.
QuickLook& quickLook(AppModel& model);
/// Opens (or raises) the preview window of a target. The windows live as long as the
/// returned function and its copies.
OpenPreview makeOpener(AppModel& model);

} // namespace PreviewWiring
} // namespace tw
