#pragma once

#include "StorageCore/Domain/Clock.h"
#include "StorageCore/Domain/FileModel.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace tw {

/// Local copies of remote files, so that a file previewed once opens again without a new
/// download and several views asking for one file at once share one download.
///
/// A folder of plain files, one per (file, version, variant), named from the account and a
/// digest of the item id, variant and modification date. Bounded in total size (trimmed,
/// oldest use first, after every fetch) and expiring after a period of disuse (every hit
/// restarts a file's age). A fetch writes to "<name>.part" beside the final name and is moved
/// into place when complete; a ".part" file is never served.
///
/// A file in use is never deleted: neither the ".part" file of a fetch under way (nor the
/// partial file a back end writes beside it, which its writer holds locked), nor a cached file
/// someone holds (heldCopy(): an open preview shows it).
///
/// Every operation blocks (never call it on the main thread) and the cache serialises them:
/// one runs at a time, and one waiting for a fetch gives up its turn meanwhile. Each cache file
/// is fetched by at most one task at a time (an in-flight map of Completions): later callers
/// join it. A caller whose task is cancelled stops waiting at once; the fetch is cancelled
/// when no caller waits for it any more.
class PreviewCache {
public:
    struct Core;

    /// Writes the whole file to the given local URL; runs on a worker thread with its own
    /// cancellation. Throws StorageError.
    using Fetch = std::function<void(const QUrl& temporaryURL)>;

    /// Keeps one cache file from clear(), remove(), purgeExpired() and trims while it lives.
    /// It may outlive the cache, and be released on any thread.
    class Hold {
    public:
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        friend class PreviewCache;
        friend struct PreviewCache::Core;
        Hold(std::weak_ptr<PreviewCache::Core> core, QString name);
        std::weak_ptr<PreviewCache::Core> core_;
        QString name_;
    };

    /// A complete local copy and the hold that keeps it.
    struct HeldCopy {
        QUrl url;
        std::shared_ptr<const Hold> hold;
    };

    static constexpr qint64 standardMaxBytes = 1073741824; // 1 GiB
    static constexpr double standardMaxAge = 86400;        // one day, in seconds
    static inline const QString bundleIdentifier = QStringLiteral("org.tessarow.Kelvanor");

    PreviewCache(const QString& directory, qint64 maxBytes, double maxAgeSeconds,
                 Clock now = systemClock());
    ~PreviewCache();
    PreviewCache(const PreviewCache&) = delete;
    PreviewCache& operator=(const PreviewCache&) = delete;

    /// The user's cache folder + "org.tessarow.Kelvanor" + "Previews", 1 GiB, one day.
    /// Throws StorageError localWriteFailed when the system has no cache folder. Creates
    /// nothing.
    static std::unique_ptr<PreviewCache> standard();
    /// The fallback when standard() fails: a "Previews" folder inside a private (0700)
    /// temporary folder made for this process, removed with the cache. Same limits.
    static std::unique_ptr<PreviewCache> temporaryFallback();

    const QString& directory() const;
    qint64 maxBytes() const;
    double maxAge() const;

    /// The URL of a complete local copy: a fresh cached file (touched), the result of a fetch
    /// already under way for it, or of a new fetch. Throws the fetch's error (every waiter of
    /// one fetch gets the same), StorageError localWriteFailed when the folder cannot be made
    /// or the file cannot be moved into place, cancelled when the caller's task stops.
    QUrl localCopy(const FileItem& item, const QString& variant,
                   const std::optional<QString>& fileExtension, const Fetch& fetch);
    /// localCopy() whose file is held from the moment it is found complete in the cache's
    /// turn: no clean-up can delete it before the caller has it.
    HeldCopy heldCopy(const FileItem& item, const QString& variant,
                      const std::optional<QString>& fileExtension, const Fetch& fetch);

    /// Deletes every file of one account, except downloads still running and held files.
    /// Never fails.
    void remove(const QUuid& accountID);
    /// Deletes every file, except downloads still running and held files. Never fails.
    void clear();
    /// Deletes left-over ".part" files (and partial files no writer holds), files of unknown
    /// age and stale files that nobody holds, then trims.
    void purgeExpired();
    /// Sum of the sizes of the files in the folder, ".part" files included; 0 when it
    /// cannot be listed.
    qint64 totalBytes();

    /// Number of callers waiting for fetches under way (diagnostics and tests).
    int waitingCallers() const;

    /// Where the copy of an item lives (no file system access).
    QUrl location(const FileItem& item, const QString& variant,
                  const std::optional<QString>& fileExtension) const;
    /// The text hashed into a cache file name: "<item id>|<variant>|<seconds since 1970>".
    static QString keyText(const FileItem& item, const QString& variant);
    /// A file extension fit for a local name: 1 to 16 ASCII letters and digits, lower-cased;
    /// anything else gives none.
    static QString safeExtension(const QString& extension);

private:
    PreviewCache(std::shared_ptr<Core> core);
    // Fetch jobs hold the core, so a cache dropped during a fetch stays sound.
    std::shared_ptr<Core> core_;
};

} // namespace tw
