#include "App/Preview/PreviewWindowRegistry.h"

#include "App/Preview/PreviewWindow.h"

namespace tw {

PreviewWindowRegistry::PreviewWindowRegistry(AppModel& model, QObject* parent)
    : QObject(parent), model_(model) {}

PreviewWindowRegistry::~PreviewWindowRegistry() {
    for (const QPointer<PreviewWindow>& window : std::as_const(windows_))
        delete window.data();
}

void PreviewWindowRegistry::open(const PreviewTarget& target) {
    if (PreviewWindow* open = window(target)) {
        if (open->isMinimized())
            open->showNormal();
        open->show();
        open->raise();
        open->activateWindow();
        return;
    }
    auto* created = new PreviewWindow(model_, target);
    created->setAttribute(Qt::WA_DeleteOnClose);
    windows_.insert(target, created);
    connect(created, &QObject::destroyed, this, [this, target] {
        const auto found = windows_.constFind(target);
        if (found != windows_.constEnd() && found->isNull())
            windows_.remove(target);
    });
    created->resize(PreviewWindow::defaultSize);
    created->show();
    created->raise();
    created->activateWindow();
}

PreviewWindow* PreviewWindowRegistry::window(const PreviewTarget& target) const {
    return windows_.value(target).data();
}

int PreviewWindowRegistry::count() const {
    int open = 0;
    for (const QPointer<PreviewWindow>& window : windows_) {
        if (window)
            ++open;
    }
    return open;
}

} // namespace tw
