#include "StorageCore/Preview/PreviewCache.h"

#include "StorageCore/Concurrency/Cancellation.h"
#include "StorageCore/Concurrency/Completion.h"
#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Domain/StorageError.h"
#include "StorageCore/Persistence/PartialFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <mutex>

Q_LOGGING_CATEGORY(lcPreviewCache, "PreviewCache")

namespace tw {

namespace {

const QString kPartSuffix = QStringLiteral(".part");
// Marks the folder as a cache for backup tools (the Cache Directory Tagging convention).
const QString kTagName = QStringLiteral("CACHEDIR.TAG");
const QByteArray kTagContent = "Signature: 8a477f597d28d172789f06886806bc55\n"
                               "# This file marks Kelvanor's preview cache; backups may skip it.\n";

/// Seconds since 1970 in the shortest decimal form that reads back to the same double, with a
/// point and a zero for whole numbers.
QString secondsText(const QDateTime& date) {
    const double seconds = double(date.toMSecsSinceEpoch()) / 1000.0;
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof(buffer), seconds, std::chars_format::fixed);
    QString text = QString::fromLatin1(buffer, result.ptr - buffer);
    if (!text.contains(QLatin1Char('.')))
        text += QStringLiteral(".0");
    return text;
}

std::optional<QDateTime> modificationDate(const QFileInfo& info) {
    if (!info.exists())
        return std::nullopt;
    const QDateTime date = info.lastModified().toUTC();
    if (!date.isValid())
        return std::nullopt;
    return date;
}

} // namespace

struct PreviewCache::Core : std::enable_shared_from_this<PreviewCache::Core> {
    /// The outcome of a fetch. The error is kept as a value, and every waiter throws its own
    /// copy: one exception object is never shared between threads.
    struct Outcome {
        QUrl url;
        std::optional<StorageError> error;
    };

    struct Flight {
        Completion<Outcome> done;
        TaskHandle task; // the fetch job; set under the turn lock when it starts
        int waiters = 0;
    };

    QString directory;
    qint64 maxBytes = 0;
    double maxAge = 0;
    Clock now;
    std::shared_ptr<QTemporaryDir> privateRoot; // only for the temporary fallback

    std::mutex turn; // the cache's serial context: held by one operation at a time
    QHash<QString, std::shared_ptr<Flight>> inFlight;
    QHash<QString, int> held; // file name → holds alive

    QString pathOf(const QString& name) const { return directory + QLatin1Char('/') + name; }

    /// Files of the folder (not the tag), with attributes read in the listing.
    QFileInfoList listLocked() const {
        QDir dir(directory);
        QFileInfoList list = dir.entryInfoList(
            QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
        list.removeIf([](const QFileInfo& info) { return info.fileName() == kTagName; });
        return list;
    }

    bool isPart(const QFileInfo& info) const { return info.fileName().endsWith(kPartSuffix); }

    /// A ".part" file whose download still runs: never deleted under its writer.
    bool isRunningPartLocked(const QFileInfo& info) const {
        if (!isPart(info))
            return false;
        return inFlight.contains(info.fileName().chopped(kPartSuffix.size()));
    }

    bool isHeldLocked(const QFileInfo& info) const { return held.contains(info.fileName()); }

    /// Deletes a file of the folder unless it is in use: a running ".part" file, a held file,
    /// or a back end's partial file (".kelvanor-<UUID>.part" beside the ".part" it becomes),
    /// which goes only when no writer holds its lock.
    void removeUnusedLocked(const QFileInfo& info) const {
        if (isRunningPartLocked(info) || isHeldLocked(info))
            return;
        if (PartialFile::isPartialName(info.fileName()))
            removeIfUnlocked(info.absoluteFilePath());
        else
            QFile::remove(info.absoluteFilePath());
    }

    std::shared_ptr<const Hold> holdLocked(const QString& name) {
        held[name] += 1;
        return std::shared_ptr<const Hold>(new Hold(weak_from_this(), name));
    }

    void releaseLocked(const QString& name) {
        auto it = held.find(name);
        if (it != held.end() && --it.value() <= 0)
            held.erase(it);
    }

    bool isFresh(const QString& path) const {
        const auto date = modificationDate(QFileInfo(path));
        if (!date)
            return false;
        return double(date->msecsTo(now())) < maxAge * 1000.0;
    }

    void touch(const QString& path) const {
        const qint64 ms = now().toMSecsSinceEpoch();
        timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT; // access time unchanged
        times[1].tv_sec = time_t(ms / 1000);
        times[1].tv_nsec = long((ms % 1000) * 1000000);
        if (ms < 0 && ms % 1000 != 0) {
            times[1].tv_sec -= 1;
            times[1].tv_nsec += 1000000000L;
        }
        (void)::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
    }

    void prepareDirectoryLocked() {
        QDir dir(directory);
        if (dir.exists())
            return;
        if (!QDir().mkpath(directory))
            throw StorageError(StorageError::Code::localWriteFailed);
        QFile::setPermissions(directory, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile tag(pathOf(kTagName));
        if (tag.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            tag.write(kTagContent);
    }

    void trimLocked(const std::optional<QString>& keep) {
        const QFileInfoList listed = listLocked();
        struct Candidate {
            QString path;
            QDateTime date;
            qint64 size;
        };
        QList<Candidate> candidates;
        qint64 total = 0;
        for (const QFileInfo& info : listed) {
            if (isPart(info))
                continue;
            if (keep && info.absoluteFilePath() == QFileInfo(*keep).absoluteFilePath())
                continue;
            const qint64 size = std::max<qint64>(0, info.size());
            if (isHeldLocked(info)) { // in use: counted, never deleted
                total += size;
                continue;
            }
            candidates.append(
                {info.absoluteFilePath(),
                 modificationDate(info).value_or(QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC)),
                 size});
            total += size;
        }
        if (keep)
            total += std::max<qint64>(0, QFileInfo(*keep).size());
        std::stable_sort(candidates.begin(), candidates.end(),
                         [](const Candidate& a, const Candidate& b) { return a.date < b.date; });
        for (const Candidate& c : candidates) {
            if (total <= maxBytes)
                break;
            QFile::remove(c.path);
            total -= c.size;
        }
    }

    void finishFetchLocked(const QString& key, const std::shared_ptr<Flight>& flight) {
        auto it = inFlight.find(key);
        if (it != inFlight.end() && it.value() == flight)
            inFlight.erase(it);
    }

    void startFetch(const QString& key, const QString& finalPath,
                    const std::shared_ptr<Flight>& flight, const Fetch& fetch) {
        auto self = shared_from_this();
        const QString partPath = finalPath + kPartSuffix;
        // The fetch runs on the transfer pool with its own cancellation, not in the cache's
        // turn: the cache keeps serving other callers meanwhile.
        // Not runDetached: the job must run even when cancelled before it starts, so that its
        // waiters are answered and the key leaves the map.
        flight->task = TaskHandle(std::make_shared<std::stop_source>());
        detail::startOnPool(TaskPool::transfers, [self, key, finalPath, partPath, flight, fetch] {
            Cancellation::Scope scope(flight->task.token());
            std::exception_ptr failure;
            try {
                Cancellation::checkpoint();
                fetch(QUrl::fromLocalFile(partPath));
                Cancellation::checkpoint();
            } catch (...) {
                failure = std::current_exception();
            }
            {
                // Moved into place in the cache's turn, so a purge, clear or trim running
                // meanwhile cannot remove the new copy before it is touched and kept.
                std::lock_guard lock(self->turn);
                if (!failure) {
                    if ((QFileInfo::exists(finalPath) && !QFile::remove(finalPath)) ||
                        !QFile::rename(partPath, finalPath)) {
                        failure = std::make_exception_ptr(
                            StorageError(StorageError::Code::localWriteFailed));
                    } else {
                        self->touch(finalPath);
                        self->trimLocked(finalPath);
                    }
                }
                self->finishFetchLocked(key, flight);
            }
            QFile::remove(partPath); // nothing left after a successful move
            Outcome outcome;
            if (failure)
                outcome.error = StorageError::from(failure);
            else
                outcome.url = QUrl::fromLocalFile(finalPath);
            flight->done.resolve(std::move(outcome));
        });
    }
};

PreviewCache::PreviewCache(const QString& directory, qint64 maxBytes, double maxAgeSeconds,
                           Clock now)
    : core_(std::make_shared<Core>()) {
    core_->directory = QDir::cleanPath(directory);
    core_->maxBytes = maxBytes;
    core_->maxAge = maxAgeSeconds;
    core_->now = std::move(now);
}

PreviewCache::PreviewCache(std::shared_ptr<Core> core) : core_(std::move(core)) {}

PreviewCache::~PreviewCache() = default;

std::unique_ptr<PreviewCache> PreviewCache::standard() {
    const QString caches = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (caches.isEmpty())
        throw StorageError(StorageError::Code::localWriteFailed);
    return std::make_unique<PreviewCache>(caches + QLatin1Char('/') + bundleIdentifier +
                                              QStringLiteral("/Previews"),
                                          standardMaxBytes, standardMaxAge);
}

std::unique_ptr<PreviewCache> PreviewCache::temporaryFallback() {
    // Never a fixed name in the shared temporary folder: a private folder (0700) of our own.
    auto root = std::make_shared<QTemporaryDir>(QDir::tempPath() +
                                                QStringLiteral("/kelvanor-previews-XXXXXX"));
    if (!root->isValid())
        throw StorageError(StorageError::Code::localWriteFailed);
    QFile::setPermissions(root->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    auto cache = std::make_unique<PreviewCache>(root->filePath(QStringLiteral("Previews")),
                                                standardMaxBytes, standardMaxAge);
    cache->core_->privateRoot = std::move(root);
    return cache;
}

const QString& PreviewCache::directory() const {
    return core_->directory;
}
qint64 PreviewCache::maxBytes() const {
    return core_->maxBytes;
}
double PreviewCache::maxAge() const {
    return core_->maxAge;
}

QString PreviewCache::keyText(const FileItem& item, const QString& variant) {
    return item.ref.providerID + QLatin1Char('|') + variant + QLatin1Char('|') +
           (item.modifiedAt ? secondsText(*item.modifiedAt) : QStringLiteral("-"));
}

QString PreviewCache::safeExtension(const QString& extension) {
    if (extension.isEmpty() || extension.size() > 16)
        return QString();
    for (QChar c : extension) {
        const bool plain = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
        if (!plain)
            return QString();
    }
    return extension.toLower();
}

QUrl PreviewCache::location(const FileItem& item, const QString& variant,
                            const std::optional<QString>& fileExtension) const {
    const QByteArray digest =
        QCryptographicHash::hash(keyText(item, variant).toUtf8(), QCryptographicHash::Sha256);
    const QString extension =
        safeExtension(fileExtension ? *fileExtension : FileKinds::pathExtension(item.name));
    QString name = item.ref.accountID.toString(QUuid::WithoutBraces).toUpper() + QLatin1Char('-') +
                   QString::fromLatin1(digest.left(12).toHex());
    if (!extension.isEmpty())
        name += QLatin1Char('.') + extension;
    return QUrl::fromLocalFile(core_->pathOf(name));
}

QUrl PreviewCache::localCopy(const FileItem& item, const QString& variant,
                             const std::optional<QString>& fileExtension, const Fetch& fetch) {
    return heldCopy(item, variant, fileExtension, fetch).url;
}

PreviewCache::HeldCopy PreviewCache::heldCopy(const FileItem& item, const QString& variant,
                                              const std::optional<QString>& fileExtension,
                                              const Fetch& fetch) {
    const QUrl url = location(item, variant, fileExtension);
    const QString path = url.toLocalFile();
    const QString key = QFileInfo(path).fileName();
    Core& core = *core_;
    for (;;) {
        std::shared_ptr<Core::Flight> flight;
        bool doomed = false;
        {
            std::unique_lock lock(core.turn);
            if (core.isFresh(path)) {
                core.touch(path);
                return HeldCopy{url, core.holdLocked(key)};
            }
            auto it = core.inFlight.constFind(key);
            if (it != core.inFlight.constEnd()) {
                flight = it.value();
                // A fetch that every caller gave up is ending: wait for it, then start anew.
                doomed = flight->task.isCancelled();
                if (!doomed)
                    flight->waiters += 1;
            } else {
                core.prepareDirectoryLocked();
                flight = std::make_shared<Core::Flight>();
                flight->waiters = 1;
                core.inFlight.insert(key, flight);
                core.startFetch(key, path, flight, fetch);
            }
        }
        if (doomed) {
            flight->done.wait(); // throws cancelled only when this caller is cancelled
            continue;
        }
        Core::Outcome outcome;
        try {
            outcome = flight->done.wait();
        } catch (const StorageError&) {
            // This caller is cancelled and stops waiting; the last one to go cancels the fetch.
            std::lock_guard lock(core.turn);
            if (--flight->waiters == 0 && !flight->done.isDone())
                flight->task.cancel();
            throw;
        }
        if (outcome.error)
            throw StorageError(*outcome.error);
        {
            // Held only if it is still there: a clean-up may have run since the fetch ended.
            std::lock_guard lock(core.turn);
            if (QFileInfo::exists(path))
                return HeldCopy{outcome.url, core.holdLocked(key)};
        }
        Cancellation::checkpoint();
    }
}

PreviewCache::Hold::Hold(std::weak_ptr<PreviewCache::Core> core, QString name)
    : core_(std::move(core)), name_(std::move(name)) {}

PreviewCache::Hold::~Hold() {
    if (const std::shared_ptr<Core> core = core_.lock()) {
        std::lock_guard lock(core->turn);
        core->releaseLocked(name_);
    }
}

void PreviewCache::remove(const QUuid& accountID) {
    const QString prefix = accountID.toString(QUuid::WithoutBraces).toUpper();
    std::lock_guard lock(core_->turn);
    for (const QFileInfo& info : core_->listLocked())
        if (info.fileName().startsWith(prefix))
            core_->removeUnusedLocked(info);
}

void PreviewCache::clear() {
    std::lock_guard lock(core_->turn);
    QDir dir(core_->directory);
    const QFileInfoList all =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& info : all) {
        if (info.fileName() == kTagName)
            continue;
        if (info.isDir() && !info.isSymLink())
            QDir(info.absoluteFilePath()).removeRecursively();
        else
            core_->removeUnusedLocked(info);
    }
}

void PreviewCache::purgeExpired() {
    std::lock_guard lock(core_->turn);
    const QDateTime now = core_->now();
    for (const QFileInfo& info : core_->listLocked()) {
        bool drop;
        if (core_->isPart(info)) {
            drop = true; // unless in use: removeUnusedLocked decides
        } else {
            const auto date = modificationDate(info);
            drop = !date || double(date->msecsTo(now)) >= core_->maxAge * 1000.0;
        }
        if (drop)
            core_->removeUnusedLocked(info);
    }
    core_->trimLocked(std::nullopt);
}

int PreviewCache::waitingCallers() const {
    std::lock_guard lock(core_->turn);
    int total = 0;
    for (const auto& flight : std::as_const(core_->inFlight))
        total += flight->waiters;
    return total;
}

qint64 PreviewCache::totalBytes() {
    std::lock_guard lock(core_->turn);
    qint64 total = 0;
    for (const QFileInfo& info : core_->listLocked())
        total += std::max<qint64>(0, info.size());
    return total;
}

} // namespace tw
