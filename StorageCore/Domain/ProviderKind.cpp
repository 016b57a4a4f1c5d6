#include "StorageCore/Domain/ProviderKind.h"

namespace tw::ProviderKinds {

const QList<ProviderKind>& allCases() {
    static const QList<ProviderKind> all = {ProviderKind::googleDrive, ProviderKind::telegram};
    return all;
}

QString rawValue(ProviderKind kind) {
    return kind == ProviderKind::googleDrive ? QStringLiteral("googleDrive")
                                             : QStringLiteral("telegram");
}

std::optional<ProviderKind> fromRawValue(const QString& raw) {
    if (raw == QLatin1String("googleDrive"))
        return ProviderKind::googleDrive;
    if (raw == QLatin1String("telegram"))
        return ProviderKind::telegram;
    return std::nullopt;
}

QString displayName(ProviderKind kind) {
    return kind == ProviderKind::googleDrive ? QStringLiteral("Google Drive")
                                             : QStringLiteral("Telegram");
}

ProviderCapabilities capabilities(ProviderKind kind) {
    switch (kind) {
    case ProviderKind::googleDrive:
        return ProviderCapabilities{true, true, false, true, std::nullopt, false};
    case ProviderKind::telegram:
        return ProviderCapabilities{false, false, true, false, telegramMaxFileSize, false};
    }
    return {};
}

bool isWritable(ProviderKind kind, const std::optional<QString>& folderID) {
    if (kind != ProviderKind::telegram || !folderID)
        return true;
    return !folderID->startsWith(QLatin1String("r:")) && !folderID->startsWith(QLatin1String("g:"));
}

bool canRename(ProviderKind kind, const QString& folderID) {
    if (kind != ProviderKind::telegram)
        return true;
    return folderID.startsWith(QLatin1String("c:"));
}

} // namespace tw::ProviderKinds
