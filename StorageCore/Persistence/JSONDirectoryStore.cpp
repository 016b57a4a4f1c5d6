#include "StorageCore/Persistence/JSONDirectoryStore.h"

#include "StorageCore/Persistence/PrivateTemporaryFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tw {

Q_LOGGING_CATEGORY(lcStore, "Persistence")

JSONDirectoryStore::JSONDirectoryStore(QString directory) : directory_(std::move(directory)) {}

JSONDirectoryStore JSONDirectoryStore::applicationSupport() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        throw StoreError(QStringLiteral("the system names no data folder"));
    if (!QDir().mkpath(base))
        throw StoreError(QStringLiteral("the data folder cannot be created"));
    return JSONDirectoryStore(base + QStringLiteral("/Tessarow"));
}

JSONDirectoryStore JSONDirectoryStore::temporaryFallback() {
    return JSONDirectoryStore(makePrivateTemporaryFolder(QStringLiteral("Tessarow")));
}

QString JSONDirectoryStore::filePath(const QString& key) const {
    return directory_ + QLatin1Char('/') + key + QStringLiteral(".json");
}

std::optional<QJsonValue> JSONDirectoryStore::load(const QString& key) {
    // Opened first: only "no such file" means missing. (Asking whether it exists first can
    // answer no while another process renames a new version over it.)
    const int fd = ::open(QFile::encodeName(filePath(key)).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throw StoreError(QStringLiteral("cannot read %1: %2").arg(key, QString::fromLocal8Bit(strerror(errno))));
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw StoreError(QStringLiteral("cannot read %1: %2").arg(key, file.errorString()));
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw StoreError(QStringLiteral("cannot read %1: %2").arg(key, file.errorString()));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw StoreError(QStringLiteral("%1 is not JSON: %2 at offset %3")
                             .arg(key, parseError.errorString())
                             .arg(parseError.offset));
    if (document.isArray())
        return QJsonValue(document.array());
    return QJsonValue(document.object());
}

void JSONDirectoryStore::save(const QJsonValue& value, const QString& key) {
    if (!QDir().mkpath(directory_))
        throw StoreError(QStringLiteral("cannot create the folder for %1").arg(key));
    // The documents hold e-mail addresses, aliases and file names: the owner's eyes only.
    QFile::setPermissions(directory_, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
    QJsonDocument document;
    if (value.isArray())
        document.setArray(value.toArray());
    else if (value.isObject())
        document.setObject(value.toObject());
    else
        throw StoreError(QStringLiteral("%1: only objects and arrays are stored").arg(key));
    // QJsonObject keeps its members ordered by key, so the indented text is sorted.
    const QByteArray bytes = document.toJson(QJsonDocument::Indented);
    QSaveFile file(filePath(key));
    if (!file.open(QIODevice::WriteOnly))
        throw StoreError(QStringLiteral("cannot write %1: %2").arg(key, file.errorString()));
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw StoreError(QStringLiteral("cannot write %1: %2").arg(key, file.errorString()));
}

void JSONDirectoryStore::remove(const QString& key) {
    QFile file(filePath(key));
    if (!file.exists())
        return;
    if (!file.remove())
        throw StoreError(QStringLiteral("cannot remove %1: %2").arg(key, file.errorString()));
}

std::optional<QString> JSONDirectoryStore::setAside(const QString& key) {
    const QString path = filePath(key);
    if (!QFileInfo::exists(path))
        return std::nullopt;
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString target = path + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target =
            path + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(path, target))
        throw StoreError(QStringLiteral("cannot set %1 aside").arg(key));
    const QString name = QFileInfo(target).fileName();
    qCWarning(lcStore) << "set aside the unreadable document" << key << "as" << name;
    return name;
}

} // namespace tw
