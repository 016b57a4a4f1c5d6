#include "StorageCore/Transfers/UploadCandidate.h"

namespace tw {

UploadCandidate UploadCandidate::fromAccount(const StorageAccount& account) {
    const ProviderCapabilities capabilities = ProviderKinds::capabilities(account.provider);
    UploadCandidate candidate;
    candidate.accountID = account.id;
    candidate.isConnected = account.status == StorageAccount::Status::connected;
    if (account.quota)
        candidate.availableBytes = account.quota->availableBytes();
    candidate.maxFileSize = capabilities.maxFileSize;
    candidate.hasQuota = capabilities.hasQuota;
    return candidate;
}

bool UploadCandidate::fits(const LocalFile& file) const {
    if (!isConnected)
        return false;
    if (maxFileSize && *maxFileSize < file.sizeBytes)
        return false;
    if (!hasQuota)
        return true;
    if (availableBytes && *availableBytes < file.sizeBytes)
        return false;
    return true;
}

} // namespace tw
