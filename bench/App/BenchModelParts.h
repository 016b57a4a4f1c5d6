#pragma once
// The model's parts for the widget benchmarks: the given back ends behind the router, the
// given document store, settings and a small preview cache in folder, no start-up tasks; and a
// quick-look panel that shows nothing.

#include "App/Model/AppModel.h"
#include "App/Preview/QuickLook.h"
#include "StorageCore/Preview/PreviewCache.h"
#include "StorageCore/Domain/ProviderRouter.h"
#include "StorageCore/Persistence/SettingsStore.h"

#include <QTemporaryDir>

#include <memory>

namespace tw::bench {

class NoQuickLook : public QuickLook {
public:
    bool isPanelVisible() const override { return false; }
    void show(const FileItem&, AppModel&, OpenFull) override {}
    void follow(const std::optional<FileItem>&, AppModel&, OpenFull) override {}
    void close() override {}
};


inline AppModel::Parts modelParts(std::shared_ptr<StorageProvider> drive,
                                  std::shared_ptr<StorageProvider> telegram,
                                  std::shared_ptr<KeyValueStore> store,
                                  const QTemporaryDir& folder) {
    AppModel::Parts parts;
    parts.provider = std::make_shared<ProviderRouter>(ProviderRouter::Providers{
        {ProviderKind::googleDrive, std::move(drive)}, {ProviderKind::telegram, std::move(telegram)}});
    parts.store = std::move(store);
    parts.defaults = std::make_shared<SettingsStore>(folder.filePath(QStringLiteral("d.ini")),
                                                     QSettings::IniFormat);
    parts.previewCache =
        std::make_shared<PreviewCache>(folder.filePath(QStringLiteral("p")), 1 << 20, 60);
    parts.runStartupTasks = false;
    return parts;
}

} // namespace tw::bench
