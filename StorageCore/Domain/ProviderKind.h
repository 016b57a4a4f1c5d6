#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace tw {

/// The two kinds of storage service, in this order.
enum class ProviderKind { googleDrive, telegram };

/// What one kind of service supports.
struct ProviderCapabilities {
    bool nestedFolders = false;
    bool hasQuota = false;
    bool deleteIsPermanent = false;
    bool canRename = false;
    std::optional<qint64> maxFileSize;
    bool isEndToEndPrivate = false;

    bool operator==(const ProviderCapabilities&) const = default;
};

/// Telegram's file-size limit: its capabilities' maxFileSize, and what its back end refuses.
inline constexpr qint64 telegramMaxFileSize = 2'000'000'000;

namespace ProviderKinds {
const QList<ProviderKind>& allCases();
QString rawValue(ProviderKind kind);
std::optional<ProviderKind> fromRawValue(const QString& raw);
QString displayName(ProviderKind kind);
ProviderCapabilities capabilities(ProviderKind kind);
/// May the user create, upload or move items into this folder (none = the root)?
bool isWritable(ProviderKind kind, const std::optional<QString>& folderID);
/// May this folder be given a new name?
bool canRename(ProviderKind kind, const QString& folderID);
} // namespace ProviderKinds

inline size_t qHash(ProviderKind kind, size_t seed = 0) noexcept {
    return ::qHash(int(kind), seed);
}

} // namespace tw
