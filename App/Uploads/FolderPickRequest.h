#pragma once

#include "StorageCore/Domain/StorageAccount.h"
#include "StorageCore/Transfers/UploadTarget.h"

#include <QUuid>

#include <functional>
#include <optional>

namespace tw {

/// A request to choose one folder of one account as an upload destination: the chosen
/// folder becomes the destination of the batch item itemID, and/or is handed to onPick.
struct FolderPickRequest {
    QUuid id;
    StorageAccount account;
    std::optional<QUuid> itemID;
    std::function<void(const UploadTarget&)> onPick;
};

} // namespace tw
