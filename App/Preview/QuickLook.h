#pragma once

#include "StorageCore/Domain/FileModel.h"

#include <functional>
#include <optional>

namespace tw {

class AppModel;

/// The one floating quick-look panel of the application, as the file tables use it: Space
/// shows or hides it, a change of selection makes an open panel follow, and its button for the
/// full preview calls openFull with the shown item. The application builds one and hands it to
/// every table; tests hand a fake.
class QuickLook {
public:
    using OpenFull = std::function<void(const FileItem&)>;

    virtual ~QuickLook() = default;
    virtual bool isPanelVisible() const = 0;
    /// Shows the item (creating the panel on first use) and brings the panel to the front.
    virtual void show(const FileItem& item, AppModel& model, OpenFull openFull) = 0;
    /// Only while the panel is visible: shows item instead when it is present, not a folder and
    /// not the item already shown.
    virtual void follow(const std::optional<FileItem>& item, AppModel& model, OpenFull openFull) = 0;
    /// Hides and empties the panel; harmless when it is hidden or was never created.
    virtual void close() = 0;
};

} // namespace tw
