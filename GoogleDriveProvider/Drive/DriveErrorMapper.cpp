#include "GoogleDriveProvider/Drive/DriveErrorMapper.h"

#include "GoogleDriveProvider/Drive/DriveModels.h"

#include <QSet>

namespace tw {

StorageError DriveErrorMapper::map(int status, const QByteArray& data) {
    using Code = StorageError::Code;
    if (status == 403) {
        QSet<QString> reasons;
        if (const auto envelope = DriveErrorEnvelope::decode(data)) {
            for (const QString& reason : envelope->reasons())
                reasons.insert(reason);
        }
        const auto has = [&](const char* reason) {
            return reasons.contains(QLatin1String(reason));
        };
        if (has("storageQuotaExceeded") || has("quotaExceeded"))
            return Code::storageFull;
        if (has("rateLimitExceeded") || has("userRateLimitExceeded"))
            return Code::rateLimited;
        if (has("fileNotDownloadable"))
            return Code::unsupportedDownload;
        if (has("exportSizeLimitExceeded"))
            return Code::exportTooLarge;
        return Code::permissionDenied;
    }
    if (status == 401)
        return Code::reauthRequired;
    if (status == 404)
        return Code::notFound;
    if (status == 429)
        return Code::rateLimited;
    if (status >= 500 && status <= 599)
        return Code::server;
    return Code::invalidResponse;
}

} // namespace tw
