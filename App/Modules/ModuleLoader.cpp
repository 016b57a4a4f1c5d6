#include "App/Modules/ModuleLoader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QStringList>

#include <dlfcn.h>
#include <mutex>

Q_LOGGING_CATEGORY(lcModules, "Modules")

namespace tw {

QStringList ModuleLoader::searchFolders() {
    const QString here = QCoreApplication::applicationDirPath();
    return {here,
            QDir::cleanPath(here + QStringLiteral("/") + QStringLiteral(TW_MODULES_BESIDE_APP))};
}

void* ModuleLoader::entry(const char* fileName, const char* entry, QString* error) {
    static std::mutex mutex;
    static QHash<QByteArray, void*> handles; // never closed
    const std::lock_guard lock(mutex);
    const QByteArray name(fileName);
    void* handle = handles.value(name);
    QStringList reasons;
    if (!handle) {
        for (const QString& folder : searchFolders()) {
            const QString path = QDir(folder).filePath(QString::fromUtf8(name));
            if (!QFileInfo::exists(path))
                continue;
            handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
            if (handle)
                break;
            reasons.append(QString::fromLocal8Bit(dlerror()));
        }
        if (handle) {
            handles.insert(name, handle);
        } else {
            if (reasons.isEmpty())
                reasons.append(
                    QStringLiteral("%1 not found in %2")
                        .arg(QString::fromUtf8(name), searchFolders().join(QStringLiteral(", "))));
            const QString reason = reasons.join(QStringLiteral("; "));
            qCWarning(lcModules).noquote() << "cannot load" << name << ":" << reason;
            if (error)
                *error = reason;
            return nullptr;
        }
    }
    void* address = dlsym(handle, entry);
    if (!address) {
        const QString reason =
            QStringLiteral("%1 has no %2").arg(QString::fromUtf8(name), QString::fromUtf8(entry));
        qCWarning(lcModules).noquote() << reason;
        if (error)
            *error = reason;
    }
    return address;
}

} // namespace tw
