#include "StorageCore/Persistence/PrivateTemporaryFolder.h"

#include "StorageCore/Persistence/KeyValueStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <mutex>
#include <vector>

namespace tw {

namespace {

// The folders are owned here for the life of the process, so they disappear at exit.
std::mutex& foldersMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<std::unique_ptr<QTemporaryDir>>& folders() {
    static std::vector<std::unique_ptr<QTemporaryDir>> list;
    return list;
}

} // namespace

QString makePrivateTemporaryFolder(const QString& prefix) {
    auto folder = std::make_unique<QTemporaryDir>(QDir::tempPath() + QLatin1Char('/') + prefix +
                                                  QStringLiteral("-XXXXXX"));
    if (!folder->isValid())
        throw StoreError(
            QStringLiteral("no private temporary folder: %1").arg(folder->errorString()));
    // QTemporaryDir creates the folder 0700 already; say so explicitly rather than rely on it.
    const QString path = folder->path();
    if (!QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                         QFileDevice::ExeOwner))
        throw StoreError(QStringLiteral("cannot restrict the temporary folder"));
    std::lock_guard lock(foldersMutex());
    folders().push_back(std::move(folder));
    return path;
}

} // namespace tw
