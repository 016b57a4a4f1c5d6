#pragma once

#include "StorageCore/Domain/StorageError.h"

#include <QByteArray>

namespace tw {

/// The one table that turns an unsuccessful Drive answer into a StorageError.
namespace DriveErrorMapper {
/// Never fails: an unreadable body counts as one without reasons.
StorageError map(int status, const QByteArray& data);
} // namespace DriveErrorMapper

} // namespace tw
