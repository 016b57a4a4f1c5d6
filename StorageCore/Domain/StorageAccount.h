#pragma once

#include "StorageCore/Domain/ProviderKind.h"

#include <QByteArray>
#include <QDateTime>
#include <QDebug>
#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace tw {

/// Usage of one account.
struct StorageQuota {
    /// The three optional fields default to absent.
    StorageQuota(qint64 used = 0, std::optional<qint64> limit = std::nullopt,
                 std::optional<qint64> usedInDrive = std::nullopt,
                 std::optional<qint64> trash = std::nullopt)
        : usedBytes(used), limitBytes(limit), usedInDriveBytes(usedInDrive), trashBytes(trash) {}

    qint64 usedBytes = 0;
    std::optional<qint64> limitBytes;
    std::optional<qint64> usedInDriveBytes;
    std::optional<qint64> trashBytes;

    /// limit − used, never negative; absent without a limit. Saturating on absurd values.
    std::optional<qint64> availableBytes() const;
    /// used ÷ limit capped at 1.0; absent without a positive limit.
    std::optional<double> fractionUsed() const;
    bool isNearlyFull() const;

    bool operator==(const StorageQuota&) const = default;
    QJsonObject toJson() const;
    static StorageQuota fromJson(const QJsonObject& object);
};

/// The sign-in secret of one account, opaque to everything but the back end that made it.
/// Its text form never shows the payload.
struct ProviderCredential {
    QByteArray payload;
    ProviderKind kind = ProviderKind::googleDrive;

    QString description() const { return QStringLiteral("ProviderCredential(<redacted>)"); }
};

/// Logging a credential shows only "ProviderCredential(<redacted>)".
QDebug operator<<(QDebug debug, const ProviderCredential& credential);

/// What a successful sign-in returns.
struct ProviderConnection {
    QString providerAccountID;
    QString email;
    std::optional<QString> displayName;
    std::optional<StorageQuota> quota;
    ProviderCredential credential;

    ProviderKind kind() const { return credential.kind; }
};

/// One connected account.
struct StorageAccount {
    enum class Status { connected, reauthRequired };

    QUuid id;
    ProviderKind provider = ProviderKind::googleDrive;
    QString providerAccountID;
    QString email;
    std::optional<QString> displayName;
    QString alias;
    int colorIndex = 0;
    Status status = Status::connected;
    std::optional<StorageQuota> quota;
    std::optional<QDateTime> quotaUpdatedAt;
    QDateTime createdAt;
    QDateTime updatedAt;

    /// Palette position of colorIndex, always within 0…7 whatever was decoded.
    int paletteIndex() const { return ((colorIndex % 8) + 8) % 8; }

    bool operator==(const StorageAccount&) const = default;
    QJsonObject toJson() const;
    static StorageAccount fromJson(const QJsonObject& object);
};

QString statusRawValue(StorageAccount::Status status);
std::optional<StorageAccount::Status> statusFromRawValue(const QString& raw);

/// Saturating addition for byte sums decoded from outside.
qint64 saturatingAdd(qint64 a, qint64 b);

} // namespace tw
