#include "StorageCore/Persistence/JSONDirectoryStore.h"

#include "StorageCore/Domain/StorageError.h"
#include "StorageCore/Persistence/PartialFile.h"
#include "StorageCore/Persistence/PrivateTemporaryFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tw {

Q_LOGGING_CATEGORY(lcStore, "Persistence")

namespace {
std::mutex syncObserverMutex;
std::function<void(const QString&)> syncObserver;
} // namespace

void JSONDirectoryStore::setSyncObserver(std::function<void(const QString& key)> observer) {
    std::lock_guard lock(syncObserverMutex);
    syncObserver = std::move(observer);
}

JSONDirectoryStore::JSONDirectoryStore(QString directory) : directory_(std::move(directory)) {}

JSONDirectoryStore JSONDirectoryStore::applicationSupport() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        throw StoreError(QStringLiteral("the system names no data folder"));
    if (!QDir().mkpath(base))
        throw StoreError(QStringLiteral("the data folder cannot be created"));
    JSONDirectoryStore store(base + QStringLiteral("/Tessarow"));
    store.removeLeftovers();
    return store;
}

JSONDirectoryStore JSONDirectoryStore::temporaryFallback() {
    return JSONDirectoryStore(makePrivateTemporaryFolder(QStringLiteral("Tessarow")));
}

QString JSONDirectoryStore::filePath(const QString& key) const {
    return directory_ + QLatin1Char('/') + key + QStringLiteral(".json");
}

std::optional<QJsonValue> JSONDirectoryStore::load(const QString& key) {
    // Opened first: only "no such file" means missing. (Asking whether it exists first can
    // answer no while another process renames a new version over it.) Never blocking: a FIFO
    // put where the document belongs would otherwise wait for a writer for ever.
    const int fd = ::open(QFile::encodeName(filePath(key)).constData(),
                          O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throw StoreError(
            QStringLiteral("cannot read %1: %2").arg(key, QString::fromLocal8Bit(strerror(errno))));
    }
    // Only a regular file is a document: a directory, FIFO, socket or device (an endless
    // /dev/zero) is unreadable, and its owner sets it aside.
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        throw StoreError(QStringLiteral("cannot read %1: not a regular file").arg(key));
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
    QFile::setPermissions(directory_,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QJsonDocument document;
    if (value.isArray())
        document.setArray(value.toArray());
    else if (value.isObject())
        document.setObject(value.toObject());
    else
        throw StoreError(QStringLiteral("%1: only objects and arrays are stored").arg(key));
    // QJsonObject keeps its members ordered by key, so the indented text is sorted.
    const QByteArray bytes = document.toJson(QJsonDocument::Indented);
    // A partial file of ours beside the document, locked while written and renamed over it
    // when complete: a reader sees the old or the new document, and what a killed save left
    // is recognised by its name and removed at the next start.
    std::optional<PartialFile> file;
    try {
        file.emplace(filePath(key));
    } catch (const StorageError&) {
        throw StoreError(QStringLiteral("cannot write %1: %2")
                             .arg(key, QString::fromLocal8Bit(strerror(errno))));
    }
    file->setFinalMode(0600);
    if (!file->write(bytes.constData(), bytes.size()))
        throw StoreError(QStringLiteral("cannot write %1").arg(key));
    {
        std::function<void(const QString&)> observer;
        {
            std::lock_guard lock(syncObserverMutex);
            observer = syncObserver;
        }
        if (observer)
            observer(key);
    }
    if (::fdatasync(file->handle()) != 0 || !file->commit())
        throw StoreError(QStringLiteral("cannot write %1").arg(key));
}

int JSONDirectoryStore::removeLeftovers() {
    if (directory_.isEmpty())
        return 0;
    // Partial files of our saves, and the named temporaries of saves made by QSaveFile where
    // the file system has no unnamed temporary files.
    int removed = PartialFile::removeLeftoversIn(directory_);
    static const QRegularExpression temporary(QStringLiteral("^.+\\.json\\.[A-Za-z0-9]{6}$"));
    const QStringList names =
        QDir(directory_)
            .entryList({QStringLiteral("*.json.*")},
                       QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString& name : names) {
        if (temporary.match(name).hasMatch() &&
            removeIfUnlocked(directory_ + QLatin1Char('/') + name))
            ++removed;
    }
    if (removed > 0)
        qCInfo(lcStore) << "removed" << removed << "temporary files of interrupted saves";
    return removed;
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
