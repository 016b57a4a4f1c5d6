#pragma once

#include "App/Preview/PreviewTarget.h"

#include <QHash>
#include <QObject>
#include <QPointer>

namespace tw {

class AppModel;
class PreviewWindow;

/// The open preview windows, one per target: opening a target equal to that of an open
/// window brings that window forward; otherwise a new window opens (never restored at the
/// next launch). A window leaves the registry when it closes.
class PreviewWindowRegistry : public QObject {
    Q_OBJECT
public:
    explicit PreviewWindowRegistry(AppModel& model, QObject* parent = nullptr);
    ~PreviewWindowRegistry() override;

    void open(const PreviewTarget& target);
    PreviewWindow* window(const PreviewTarget& target) const;
    int count() const;

private:
    AppModel& model_;
    QHash<PreviewTarget, QPointer<PreviewWindow>> windows_;
};

} // namespace tw
