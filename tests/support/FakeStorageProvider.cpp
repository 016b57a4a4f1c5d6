#include "tests/support/FakeStorageProvider.h"

#include <QFile>

#include <algorithm>

namespace tw::test {

using Code = StorageError::Code;

QString FakeStorageProvider::opName(Op op) {
    static const char* const names[] = {
        "connect", "storeCredential", "removeCredential", "quota", "listFolder", "search",
        "listCategory", "createFolder", "rename", "move", "trash", "upload", "download", "read",
        "exportFile", "thumbnail"};
    return QString::fromLatin1(names[int(op)]);
}

// ---- content ------------------------------------------------------------------------------

void FakeStorageProvider::addItem(const FileItem& item, const QByteArray& content) {
    std::lock_guard lock(mutex_);
    entries_.append(Entry{item, content});
}

QList<FileItem> FakeStorageProvider::addFiles(const QUuid& account,
                                              const std::optional<QString>& parent, int n,
                                              const QString& prefix) {
    QList<FileItem> added;
    std::lock_guard lock(mutex_);
    for (int i = 0; i < n; ++i) {
        FileItem item;
        item.ref = FileRef{account, QStringLiteral("%1-%2").arg(prefix).arg(nextId_++)};
        item.name = QStringLiteral("%1%2.txt").arg(prefix).arg(i);
        item.mimeType = QStringLiteral("text/plain");
        item.sizeBytes = 10;
        if (parent)
            item.parentIDs = {*parent};
        entries_.append(Entry{item, QByteArray(10, 'x')});
        added.append(item);
    }
    return added;
}

void FakeStorageProvider::removeItem(const FileRef& ref) {
    std::lock_guard lock(mutex_);
    entries_.removeIf([&](const Entry& e) { return e.item.ref == ref; });
}

void FakeStorageProvider::setPageSize(int size) {
    std::lock_guard lock(mutex_);
    pageSize_ = std::max(1, size);
}

void FakeStorageProvider::setQuota(const QUuid& account, const StorageQuota& quota) {
    std::lock_guard lock(mutex_);
    quotas_.insert(account, quota);
}

void FakeStorageProvider::setConnection(const ProviderConnection& connection) {
    std::lock_guard lock(mutex_);
    connection_ = connection;
}

void FakeStorageProvider::setThumbnail(const FileRef& ref, const QByteArray& data) {
    std::lock_guard lock(mutex_);
    thumbnails_.insert(ref, data);
}

void FakeStorageProvider::setRequireCredentials(bool require) {
    std::lock_guard lock(mutex_);
    requireCredentials_ = require;
}

// ---- scripting ----------------------------------------------------------------------------

void FakeStorageProvider::failNext(Op op, const StorageError& error, int times) {
    std::lock_guard lock(mutex_);
    for (int i = 0; i < times; ++i)
        failNext_[int(op)].push_back(error);
}

void FakeStorageProvider::failAlways(Op op, const std::optional<StorageError>& error) {
    std::lock_guard lock(mutex_);
    if (error)
        failAlways_.insert(int(op), *error);
    else
        failAlways_.remove(int(op));
}

void FakeStorageProvider::setDelay(Op op, std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    delays_.insert(int(op), delay);
}

std::shared_ptr<FakeStorageProvider::Gate> FakeStorageProvider::gateNext(Op op) {
    auto gate = std::make_shared<Gate>();
    std::lock_guard lock(mutex_);
    gates_[int(op)].push_back(gate);
    return gate;
}

QStringList FakeStorageProvider::calls() const {
    std::lock_guard lock(mutex_);
    // Deep copies: a shared one would let a later change on a worker detach-check it without
    // ordering against the caller's reads.
    QStringList copy = calls_;
    copy.detach();
    return copy;
}

int FakeStorageProvider::callCount(Op op) const {
    std::lock_guard lock(mutex_);
    return counts_.value(int(op));
}

QHash<QUuid, ProviderCredential> FakeStorageProvider::storedCredentials() const {
    std::lock_guard lock(mutex_);
    QHash<QUuid, ProviderCredential> copy = credentials_;
    copy.detach();
    return copy;
}

void FakeStorageProvider::clearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
    counts_.clear();
}

void FakeStorageProvider::enter(Op op, const QString& description,
                                const std::optional<QUuid>& account) {
    std::shared_ptr<Gate> gate;
    std::chrono::milliseconds delay{0};
    std::optional<StorageError> failure;
    {
        std::lock_guard lock(mutex_);
        calls_.append(opName(op) + QLatin1Char('(') + description + QLatin1Char(')'));
        counts_[int(op)] += 1;
        auto& queue = gates_[int(op)];
        if (!queue.empty()) {
            gate = queue.front();
            queue.pop_front();
        }
        delay = delays_.value(int(op), std::chrono::milliseconds(0));
        auto& fails = failNext_[int(op)];
        if (!fails.empty()) {
            failure = fails.front();
            fails.pop_front();
        } else if (failAlways_.contains(int(op))) {
            failure = *failAlways_.constFind(int(op));
        } else if (account && requireCredentials_ && !credentials_.contains(*account)) {
            failure = StorageError(Code::reauthRequired);
        }
    }
    if (gate) {
        gate->entered.resolve({});
        gate->released.wait();
    }
    if (delay.count() > 0)
        Cancellation::sleepFor(delay);
    Cancellation::checkpoint();
    if (failure)
        throw *failure;
}

Page FakeStorageProvider::pageOf(const QList<FileItem>& all,
                                 const std::optional<QString>& token) const {
    qsizetype offset = 0;
    if (token) {
        if (!token->startsWith(QLatin1String("offset:")))
            throw StorageError(Code::invalidResponse);
        offset = token->mid(7).toLongLong();
    }
    Page page;
    page.items = all.mid(offset, pageSize_);
    if (offset + pageSize_ < all.size())
        page.nextPageToken = QStringLiteral("offset:%1").arg(offset + pageSize_);
    return page;
}

QList<FileItem> FakeStorageProvider::children(const QUuid& account,
                                              const std::optional<QString>& parent) const {
    QList<FileItem> result;
    for (const Entry& e : entries_) {
        if (e.item.ref.accountID != account)
            continue;
        const bool atRoot = e.item.parentIDs.isEmpty();
        if (parent ? (!atRoot && e.item.parentIDs.first() == *parent) : atRoot)
            result.append(e.item);
    }
    return result;
}

FakeStorageProvider::Entry& FakeStorageProvider::entryLocked(const FileRef& ref) {
    for (Entry& e : entries_)
        if (e.item.ref == ref)
            return e;
    throw StorageError(Code::notFound);
}

// ---- StorageProvider ----------------------------------------------------------------------

ProviderConnection FakeStorageProvider::connect(const std::optional<QString>& loginHint) {
    enter(Op::connect, loginHint.value_or(QString()));
    std::lock_guard lock(mutex_);
    if (!connection_)
        throw StorageError(Code::authorizationFailed);
    return *connection_;
}

void FakeStorageProvider::storeCredential(const ProviderCredential& credential,
                                          const QUuid& accountID) {
    enter(Op::storeCredential, accountID.toString(QUuid::WithoutBraces));
    std::lock_guard lock(mutex_);
    credentials_.insert(accountID, credential);
}

void FakeStorageProvider::removeCredential(const QUuid& accountID, bool revoke) noexcept {
    try {
        enter(Op::removeCredential, accountID.toString(QUuid::WithoutBraces) +
                                        (revoke ? QStringLiteral(",revoke") : QString()));
    } catch (...) {
        // removeCredential never fails; a scripted failure only shows in the log.
    }
    std::lock_guard lock(mutex_);
    credentials_.remove(accountID);
}

StorageQuota FakeStorageProvider::quota(const QUuid& accountID) {
    enter(Op::quota, accountID.toString(QUuid::WithoutBraces), accountID);
    std::lock_guard lock(mutex_);
    return quotas_.value(accountID, StorageQuota{});
}

Page FakeStorageProvider::listFolder(const QUuid& accountID, const std::optional<QString>& parentID,
                                     const std::optional<QString>& pageToken) {
    enter(Op::listFolder, parentID.value_or(QStringLiteral("root")) + QLatin1Char(',') +
                              pageToken.value_or(QString()),
          accountID);
    std::lock_guard lock(mutex_);
    return pageOf(children(accountID, parentID), pageToken);
}

Page FakeStorageProvider::search(const QUuid& accountID, const QString& query,
                                 const std::optional<QString>& pageToken) {
    enter(Op::search, query + QLatin1Char(',') + pageToken.value_or(QString()), accountID);
    std::lock_guard lock(mutex_);
    QList<FileItem> hits;
    for (const Entry& e : entries_)
        if (e.item.ref.accountID == accountID && e.item.name.contains(query, Qt::CaseInsensitive))
            hits.append(e.item);
    return pageOf(hits, pageToken);
}

Page FakeStorageProvider::listCategory(const QUuid& accountID, FileCategory category,
                                       const std::optional<QString>& pageToken) {
    enter(Op::listCategory,
          FileCategories::rawValue(category) + QLatin1Char(',') + pageToken.value_or(QString()),
          accountID);
    std::lock_guard lock(mutex_);
    QList<FileItem> members;
    for (const Entry& e : entries_)
        if (e.item.ref.accountID == accountID && FileCategories::contains(category, e.item))
            members.append(e.item);
    return pageOf(members, pageToken);
}

FileItem FakeStorageProvider::createFolder(const QUuid& accountID, const QString& name,
                                           const std::optional<QString>& parentID) {
    enter(Op::createFolder, name, accountID);
    if (name.trimmed().isEmpty())
        throw StorageError(Code::invalidName);
    std::lock_guard lock(mutex_);
    FileItem folder;
    folder.ref = FileRef{accountID, QStringLiteral("folder-%1").arg(nextId_++)};
    folder.name = name;
    folder.mimeType = FileItem::folderMimeType;
    if (parentID)
        folder.parentIDs = {*parentID};
    entries_.append(Entry{folder, {}});
    return folder;
}

FileItem FakeStorageProvider::rename(const FileRef& ref, const QString& newName) {
    enter(Op::rename, ref.providerID + QLatin1Char(',') + newName, ref.accountID);
    if (newName.trimmed().isEmpty())
        throw StorageError(Code::invalidName);
    std::lock_guard lock(mutex_);
    Entry& e = entryLocked(ref);
    e.item.name = newName;
    return e.item;
}

FileItem FakeStorageProvider::move(const FileRef& ref, const std::optional<QString>& from,
                                   const QString& to) {
    enter(Op::move, ref.providerID + QLatin1Char(',') + from.value_or(QStringLiteral("root")) +
                        QLatin1Char(',') + to,
          ref.accountID);
    std::lock_guard lock(mutex_);
    Entry& e = entryLocked(ref);
    e.item.parentIDs = {to};
    return e.item;
}

void FakeStorageProvider::trash(const FileRef& ref) {
    enter(Op::trash, ref.providerID, ref.accountID);
    std::lock_guard lock(mutex_);
    entryLocked(ref);
    entries_.removeIf([&](const Entry& e) { return e.item.ref == ref; });
}

FileItem FakeStorageProvider::upload(const QUuid& accountID, const LocalFile& file,
                                     const std::optional<QString>& parentID,
                                     const ProgressCallback& progress) {
    enter(Op::upload, file.name + QLatin1Char(',') + parentID.value_or(QStringLiteral("root")),
          accountID);
    QFile local(file.url.toLocalFile());
    if (!local.open(QIODevice::ReadOnly))
        throw StorageError(Code::localFileUnreadable);
    QByteArray content;
    qint64 sent = 0;
    while (!local.atEnd()) {
        Cancellation::checkpoint();
        const QByteArray chunk = local.read(64 * 1024);
        if (chunk.isEmpty())
            break;
        content += chunk;
        sent += chunk.size();
        if (progress)
            progress(sent);
    }
    std::lock_guard lock(mutex_);
    FileItem item;
    item.ref = FileRef{accountID, QStringLiteral("upload-%1").arg(nextId_++)};
    item.name = file.name;
    item.mimeType = file.mimeType;
    item.sizeBytes = content.size();
    if (parentID)
        item.parentIDs = {*parentID};
    entries_.append(Entry{item, content});
    return item;
}

void FakeStorageProvider::download(const FileRef& ref, const QUrl& destination,
                                   const ProgressCallback& progress) {
    enter(Op::download, ref.providerID, ref.accountID);
    QByteArray content;
    {
        std::lock_guard lock(mutex_);
        Entry& e = entryLocked(ref);
        if (e.item.isProviderNativeDocument())
            throw StorageError(Code::unsupportedDownload);
        content = e.content;
    }
    QFile out(destination.toLocalFile());
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw StorageError(Code::localWriteFailed);
    qint64 written = 0;
    while (written < content.size()) {
        Cancellation::checkpoint();
        const qint64 n = std::min<qint64>(64 * 1024, content.size() - written);
        if (out.write(content.constData() + written, n) != n)
            throw StorageError(Code::localWriteFailed);
        written += n;
        if (progress)
            progress(written);
    }
}

QByteArray FakeStorageProvider::read(const FileRef& ref, ByteRange range) {
    enter(Op::read,
          ref.providerID + QStringLiteral(",%1-%2").arg(range.lower).arg(range.upper),
          ref.accountID);
    std::lock_guard lock(mutex_);
    const QByteArray& content = entryLocked(ref).content;
    if (range.lower < 0 || range.upper < range.lower)
        throw StorageError(Code::invalidResponse);
    return content.mid(range.lower, range.upper - range.lower);
}

void FakeStorageProvider::exportFile(const FileRef& ref, const QString& mimeType,
                                     const QUrl& destination) {
    enter(Op::exportFile, ref.providerID + QLatin1Char(',') + mimeType, ref.accountID);
    QByteArray content;
    {
        std::lock_guard lock(mutex_);
        content = entryLocked(ref).content;
    }
    QFile out(destination.toLocalFile());
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(content) != content.size())
        throw StorageError(Code::localWriteFailed);
}

std::optional<QByteArray> FakeStorageProvider::thumbnail(const FileItem& item, int maxPixelSize) {
    enter(Op::thumbnail, item.ref.providerID + QStringLiteral(",%1").arg(maxPixelSize),
          item.ref.accountID);
    std::lock_guard lock(mutex_);
    const auto it = thumbnails_.constFind(item.ref);
    if (it == thumbnails_.constEnd())
        return std::nullopt;
    return *it;
}

} // namespace tw::test
