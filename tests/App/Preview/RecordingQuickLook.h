// The quick-look panel as the file tables and the window drive it, for tests: records every
// call; the panel is "visible" between show and close.
#pragma once

#include "App/Preview/QuickLook.h"

#include <QStringList>

namespace tw::test {

class RecordingQuickLook : public QuickLook {
public:
    bool visible = false;
    std::optional<FileItem> shown;
    QStringList calls;
    OpenFull lastOpenFull;

    bool isPanelVisible() const override { return visible; }
    void show(const FileItem& item, AppModel&, OpenFull openFull) override {
        calls.append(QStringLiteral("show ") + item.name);
        visible = true;
        shown = item;
        lastOpenFull = std::move(openFull);
    }
    void follow(const std::optional<FileItem>& item, AppModel&, OpenFull) override {
        calls.append(QStringLiteral("follow ") + (item ? item->name : QStringLiteral("-")));
        if (visible && item && !item->isFolder())
            shown = item;
    }
    void close() override {
        calls.append(QStringLiteral("close"));
        visible = false;
        shown.reset();
    }
};

} // namespace tw::test
