#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/StorageAccount.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace tw {

/// The one place where the screens turn byte counts, quotas, items and dates into text.
namespace Format {

/// A byte count in powers of 1024, bytes to terabytes: "Zero KB", "512 bytes", "2 KB",
/// "1.5 MB", "1 GB".
QString byteCount(qint64 bytes);
/// "Usage unavailable", "3 GB used" or "3 GB of 15 GB".
QString usage(const std::optional<StorageQuota>& quota);
/// The "Kind" column of an item: "Folder", "Google Document", "PDF document", …
QString kind(const FileItem& item);
/// "Just now" under a minute (and for dates in the future), else "5 min. ago", "2 hr. ago",
/// "3 days ago"…
QString relative(const QDateTime& date, const QDateTime& now);
/// "--", "Today at 9:41 AM", "Yesterday at 9:41 AM", or "Mar 4, 2026 at 9:41 AM".
QString modified(const std::optional<QDateTime>& date);

} // namespace Format

} // namespace tw
