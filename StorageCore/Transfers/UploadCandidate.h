#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/StorageAccount.h"

#include <QUuid>

#include <optional>

namespace tw {

/// One account as a possible upload destination, with the limits a suggestion respects.
struct UploadCandidate {
    QUuid accountID;
    bool isConnected = true;
    std::optional<qint64> availableBytes; // free bytes, when known
    std::optional<qint64> maxFileSize;    // largest file the service takes, when limited
    bool hasQuota = true;                 // false: free space is never checked

    static UploadCandidate fromAccount(const StorageAccount& account);
    /// Connected, within the maximum file size, and (with a quota whose free space is known)
    /// within the free space; a file of exactly either limit fits.
    bool fits(const LocalFile& file) const;
};

} // namespace tw
