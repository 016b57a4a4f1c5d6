#include "StorageCore/Preview/PreviewLoader.h"

#include <QFileInfo>
#include <QSaveFile>

namespace tw {

namespace {

const QString kGoogleAppsPrefix = QStringLiteral("application/vnd.google-apps.");

bool isProviderNative(const FileItem& item) {
    return item.mimeType.startsWith(kGoogleAppsPrefix) && item.mimeType != FileItem::folderMimeType;
}

/// The cached file as content, kept from the cache's clean-ups while the content lives.
PreviewContent held(PreviewCache::HeldCopy copy) {
    return PreviewContent::localFile(copy.url, std::move(copy.hold));
}

ZipReadFunction rangedReads(const FileItem& item,
                            const std::shared_ptr<StorageProvider>& provider) {
    return [provider, ref = item.ref](ByteRange range) { return provider->read(ref, range); };
}

} // namespace

// ---- ArchiveListing ---------------------------------------------------------------------

int ArchiveListing::fileCount() const {
    int count = 0;
    for (const ZipEntry& entry : entries)
        count += entry.isDirectory() ? 0 : 1;
    return count;
}

qint64 ArchiveListing::uncompressedSize() const {
    qint64 total = 0;
    for (const ZipEntry& entry : entries)
        total += entry.uncompressedSize;
    return total;
}

// ---- Phase --------------------------------------------------------------------------------

PreviewLoader::Phase PreviewLoader::Phase::ready(PreviewContent content) {
    Phase phase(Kind::ready);
    phase.content_ = std::move(content);
    return phase;
}

PreviewLoader::Phase PreviewLoader::Phase::failed(StorageError error) {
    Phase phase(Kind::failed);
    phase.error_ = std::move(error);
    return phase;
}

// ---- PreviewLoader ------------------------------------------------------------------------

PreviewLoader::PreviewLoader(const FileItem& item, std::shared_ptr<StorageProvider> provider,
                             std::shared_ptr<PreviewCache> cache, ErrorCallback onError,
                             QObject* parent)
    : QObject(parent), item_(item), kind_(PreviewKinds::of(item)), provider_(std::move(provider)),
      cache_(std::move(cache)), onError_(std::move(onError)) {}

PreviewLoader::~PreviewLoader() = default;

void PreviewLoader::setPhase(Phase phase) {
    if (phase == phase_)
        return;
    phase_ = std::move(phase);
    Q_EMIT phaseChanged();
}

TaskHandle PreviewLoader::load() {
    if (phase_.isReady())
        return TaskHandle();
    setPhase(Phase::loading());
    auto handle = std::make_shared<TaskHandle>();
    *handle = runTask(
        this,
        [item = item_, kind = kind_, provider = provider_, cache = cache_] {
            return resolve(item, kind, provider, *cache);
        },
        [this, handle](TaskResult<std::optional<PreviewContent>> result) {
            // Ready is final: an answer that arrives after another load made the preview
            // ready (success, failure or cancellation alike) changes nothing.
            if (phase_.isReady())
                return;
            const bool cancelled = result.isCancelled() || handle->isCancelled();
            if (cancelled) {
                setPhase(Phase::idle());
                return;
            }
            if (!result.ok()) {
                const StorageError error = result.error();
                // A copy: whoever watches the phase may let go of this loader meanwhile.
                const ErrorCallback onError = onError_;
                setPhase(Phase::failed(error));
                if (onError)
                    onError(error);
                return;
            }
            if (!result.value())
                setPhase(Phase::unsupported());
            else
                setPhase(Phase::ready(std::move(*result.value())));
        });
    return *handle;
}

TaskHandle PreviewLoader::localCopy(std::function<void(TaskResult<QUrl>)> onDone,
                                    QObject* receiver) {
    QUrl ready;
    if (phase_.isReady() && phase_.content()->isLocalFile())
        ready = phase_.content()->localFileURL();
    // The work holds nothing of this object: the answer reaches the receiver even when the
    // loader is gone by then.
    return runTask(
        receiver ? receiver : this,
        [ready, item = item_, provider = provider_, cache = cache_] {
            if (!ready.isEmpty() && QFileInfo::exists(ready.toLocalFile()))
                return ready;
            if (isProviderNative(item))
                return exportedPDF(item, provider, *cache).url;
            return original(item, provider, *cache).url;
        },
        std::move(onDone));
}

TaskHandle PreviewLoader::extract(const ZipEntry& entry, const QUrl& destination,
                                  std::function<void(TaskResult<std::monostate>)> onDone,
                                  QObject* receiver) {
    return runTask(
        receiver ? receiver : this,
        [entry, destination, item = item_, provider = provider_] {
            extractTo(item, entry, destination, provider);
        },
        std::move(onDone), TaskPool::transfers);
}

// ---- blocking steps -----------------------------------------------------------------------

std::optional<PreviewContent>
PreviewLoader::resolve(const FileItem& item, PreviewKind kind,
                       const std::shared_ptr<StorageProvider>& provider, PreviewCache& cache) {
    switch (kind) {
    case PreviewKind::pdf:
        return held(isProviderNative(item) ? exportedPDF(item, provider, cache)
                                           : original(item, provider, cache));
    case PreviewKind::image:
    case PreviewKind::document:
        return held(original(item, provider, cache));
    case PreviewKind::video:
    case PreviewKind::audio:
        if (auto source = RemoteMediaSource::create(item, provider))
            return PreviewContent::stream(std::move(source));
        return held(original(item, provider, cache));
    case PreviewKind::archive:
        return PreviewContent::archive(archiveListing(item, provider));
    case PreviewKind::unsupported:
        return std::nullopt;
    }
    return std::nullopt;
}

PreviewCache::HeldCopy PreviewLoader::original(const FileItem& item,
                                               const std::shared_ptr<StorageProvider>& provider,
                                               PreviewCache& cache) {
    return cache.heldCopy(
        item, QStringLiteral("original"), std::nullopt,
        [provider, ref = item.ref](const QUrl& to) { provider->download(ref, to, {}); });
}

PreviewCache::HeldCopy PreviewLoader::exportedPDF(const FileItem& item,
                                                  const std::shared_ptr<StorageProvider>& provider,
                                                  PreviewCache& cache) {
    return cache.heldCopy(item, QStringLiteral("pdf"), QStringLiteral("pdf"),
                          [provider, ref = item.ref](const QUrl& to) {
                              provider->exportFile(ref, QStringLiteral("application/pdf"), to);
                          });
}

ArchiveListing PreviewLoader::archiveListing(const FileItem& item,
                                             const std::shared_ptr<StorageProvider>& provider) {
    if (!item.sizeBytes)
        throw StorageError(StorageError::Code::previewUnavailable);
    try {
        return ArchiveListing{
            ZipArchiveReader::entries(*item.sizeBytes, rangedReads(item, provider)),
            *item.sizeBytes};
    } catch (const ZipError&) {
        throw StorageError(StorageError::Code::previewUnavailable);
    }
}

void PreviewLoader::extractTo(const FileItem& item, const ZipEntry& entry, const QUrl& destination,
                              const std::shared_ptr<StorageProvider>& provider) {
    // The member is inflated straight into a save file: the destination gets the whole
    // member or is left as it was.
    QSaveFile out(destination.toLocalFile());
    if (!destination.isLocalFile() || !out.open(QIODevice::WriteOnly))
        throw StorageError(StorageError::Code::localWriteFailed);
    try {
        ZipArchiveReader::extractTo(entry, rangedReads(item, provider), out);
    } catch (const ZipError&) {
        throw StorageError(StorageError::Code::previewUnavailable);
    }
    Cancellation::checkpoint();
    if (!out.commit())
        throw StorageError(StorageError::Code::localWriteFailed);
}

} // namespace tw
