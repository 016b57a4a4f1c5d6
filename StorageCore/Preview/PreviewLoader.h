#pragma once

#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/StorageError.h"
#include "StorageCore/Domain/StorageProvider.h"
#include "StorageCore/Preview/PreviewCache.h"
#include "StorageCore/Preview/PreviewKind.h"
#include "StorageCore/Preview/RemoteMediaSource.h"
#include "StorageCore/Preview/ZipArchive.h"

#include <QObject>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace tw {

/// The members of a ZIP archive in storage, listed without downloading it.
struct ArchiveListing {
    ZipEntries entries; ///< in central-directory order
    qint64 archiveSize = 0;

    /// Entries that are not directories.
    int fileCount() const;
    /// Sum of all entries' uncompressed sizes, directories included.
    qint64 uncompressedSize() const;
    bool operator==(const ArchiveListing&) const = default;
};

/// What a ready preview shows: a complete local file (a download or an exported PDF), a media
/// stream, or an archive listing. A local file from the preview cache carries the cache's hold
/// on it, so that clearing the cache never deletes it while the content is in use.
class PreviewContent {
public:
    static PreviewContent localFile(const QUrl& url,
                                    std::shared_ptr<const PreviewCache::Hold> hold = nullptr) {
        PreviewContent c(Form::localFile);
        c.url_ = url;
        c.hold_ = std::move(hold);
        return c;
    }
    static PreviewContent stream(std::shared_ptr<RemoteMediaSource> source) {
        PreviewContent c(Form::stream);
        c.source_ = std::move(source);
        return c;
    }
    static PreviewContent archive(ArchiveListing listing) {
        PreviewContent c(Form::archive);
        c.listing_ = std::move(listing);
        return c;
    }

    bool isLocalFile() const { return form_ == Form::localFile; }
    bool isStream() const { return form_ == Form::stream; }
    bool isArchive() const { return form_ == Form::archive; }
    /// The file URL of localFile content; empty otherwise.
    QUrl localFileURL() const { return isLocalFile() ? url_ : QUrl(); }
    /// The media source of stream content; null otherwise.
    std::shared_ptr<RemoteMediaSource> mediaSource() const {
        return isStream() ? source_ : nullptr;
    }
    /// The listing of archive content; null otherwise.
    const ArchiveListing* archiveListing() const { return isArchive() ? &listing_ : nullptr; }

    bool operator==(const PreviewContent&) const = default;

private:
    enum class Form { localFile, stream, archive };
    explicit PreviewContent(Form form) : form_(form) {}
    Form form_;
    QUrl url_;
    std::shared_ptr<RemoteMediaSource> source_;
    ArchiveListing listing_;
    std::shared_ptr<const PreviewCache::Hold> hold_;
};

/// Prepares the preview of one listed file and publishes its progress as an observable phase.
///
/// Lives on the main thread. The kind decides how the content is had: media are streamed by
/// byte ranges through a RemoteMediaSource, ZIP archives are listed from their central
/// directory by ranged reads, provider-native documents are exported as PDF, and everything
/// else is downloaded; downloads and exports go through the PreviewCache. All work runs as
/// tasks; results are applied on the main thread.
///
/// Views share a loader (std::shared_ptr): it lives while anyone holds it, so a preview on
/// screen never loses its content because a cache of loaders let go of it.
class PreviewLoader : public QObject {
    Q_OBJECT
public:
    class Phase {
    public:
        enum class Kind { idle, loading, ready, unsupported, failed };

        static Phase idle() { return Phase(Kind::idle); }
        static Phase loading() { return Phase(Kind::loading); }
        static Phase ready(PreviewContent content);
        static Phase unsupported() { return Phase(Kind::unsupported); }
        static Phase failed(StorageError error);

        Kind kind() const { return kind_; }
        bool isReady() const { return kind_ == Kind::ready; }
        /// The content of the ready phase.
        const std::optional<PreviewContent>& content() const { return content_; }
        /// The error of the failed phase.
        const std::optional<StorageError>& error() const { return error_; }
        bool operator==(const Phase&) const = default;

    private:
        explicit Phase(Kind kind) : kind_(kind) {}
        Kind kind_;
        std::optional<PreviewContent> content_;
        std::optional<StorageError> error_;
    };

    using ErrorCallback = std::function<void(const StorageError&)>;

    /// Starts nothing.
    PreviewLoader(const FileItem& item, std::shared_ptr<StorageProvider> provider,
                  std::shared_ptr<PreviewCache> cache, ErrorCallback onError,
                  QObject* parent = nullptr);
    ~PreviewLoader() override;

    const FileItem& item() const { return item_; }
    PreviewKind kind() const { return kind_; }
    const Phase& phase() const { return phase_; }

    /// Loads the preview and sets the phase: loading, then ready, unsupported or failed (and
    /// onError once); a cancelled load goes back to idle silently. Does nothing when ready.
    /// A second load while one runs starts a second resolution; a ready phase is final: a
    /// later answer never replaces it. The handle cancels this load.
    TaskHandle load();

    /// A complete local copy of the file (the ready local file when it still exists, else the
    /// exported PDF or the download through the cache); onDone on the main thread unless
    /// `receiver` (this loader when null) is gone by then: a caller that must hear the answer
    /// whatever becomes of the loader passes itself. Does not change the phase.
    TaskHandle localCopy(std::function<void(TaskResult<QUrl>)> onDone, QObject* receiver = nullptr);

    /// Extracts one member of this archive to a local file, atomically (the whole member or
    /// nothing); onDone on the main thread unless `receiver` (this loader when null) is gone.
    /// A malformed or unsupported member fails with previewUnavailable, a failed write with
    /// localWriteFailed. Does not change the phase.
    TaskHandle extract(const ZipEntry& entry, const QUrl& destination,
                       std::function<void(TaskResult<std::monostate>)> onDone,
                       QObject* receiver = nullptr);

    // ---- blocking steps (worker threads only) ---------------------------------------------
    /// The content for the kind; none for unsupported kinds.
    static std::optional<PreviewContent> resolve(const FileItem& item, PreviewKind kind,
                                                 const std::shared_ptr<StorageProvider>& provider,
                                                 PreviewCache& cache);
    static PreviewCache::HeldCopy original(const FileItem& item,
                                           const std::shared_ptr<StorageProvider>& provider,
                                           PreviewCache& cache);
    static PreviewCache::HeldCopy exportedPDF(const FileItem& item,
                                              const std::shared_ptr<StorageProvider>& provider,
                                              PreviewCache& cache);
    static ArchiveListing archiveListing(const FileItem& item,
                                         const std::shared_ptr<StorageProvider>& provider);
    static void extractTo(const FileItem& item, const ZipEntry& entry, const QUrl& destination,
                          const std::shared_ptr<StorageProvider>& provider);

Q_SIGNALS:
    void phaseChanged();

private:
    void setPhase(Phase phase);

    FileItem item_;
    PreviewKind kind_;
    Phase phase_ = Phase::idle();
    std::shared_ptr<StorageProvider> provider_;
    std::shared_ptr<PreviewCache> cache_;
    ErrorCallback onError_;
};

} // namespace tw
