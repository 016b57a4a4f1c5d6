#pragma once

#include "App/Model/Panels.h"

#include <memory>

namespace tw {

class ApplicationLauncher;

/// The panels of the desktop: Qt's file dialogs, window-modal over the active window, and an
/// application chooser over the launcher (recommended applications first, all on request).
class QtPanels : public Panels {
public:
    explicit QtPanels(std::shared_ptr<ApplicationLauncher> launcher = nullptr);

    void chooseFiles(const QString& prompt, const QString& message,
                     std::function<void(const QList<QUrl>&)> onChosen) override;
    void chooseSaveLocation(const QString& proposedName,
                            std::function<void(const QUrl&)> onChosen) override;
    void chooseApplication(const FileItem& item, const QString& message,
                           std::function<void(const QString&)> onChosen) override;

private:
    std::shared_ptr<ApplicationLauncher> launcher_;
};

} // namespace tw
