#include "App/DesignSystem/Format.h"

#include "StorageCore/Domain/StorageError.h"
#include "StorageCore/Preview/PreviewKind.h"

#include <QLocale>
#include <QMimeDatabase>

namespace tw {

QString Format::byteCount(qint64 bytes) { return formatMemoryByteCount(bytes); }

QString Format::usage(const std::optional<StorageQuota>& quota) {
    if (!quota)
        return QStringLiteral("Usage unavailable");
    if (!quota->limitBytes)
        return byteCount(quota->usedBytes) + QStringLiteral(" used");
    return byteCount(quota->usedBytes) + QStringLiteral(" of ") + byteCount(*quota->limitBytes);
}

QString Format::kind(const FileItem& item) {
    if (item.isFolder())
        return QStringLiteral("Folder");
    const FileKind fileKind = FileKinds::classify(item.mimeType, item.name);
    if (item.isProviderNativeDocument())
        return QStringLiteral("Google ") + FileKinds::displayName(fileKind);
    if (const std::optional<QMimeType> type = PreviewKinds::contentType(item.name, item.mimeType);
        type && !type->comment().isEmpty())
        return type->comment();
    return FileKinds::displayName(fileKind);
}

QString Format::relative(const QDateTime& date, const QDateTime& now) {
    const qint64 seconds = date.secsTo(now);
    if (seconds < 60)
        return QStringLiteral("Just now");
    const qint64 minutes = seconds / 60;
    if (minutes < 60)
        return QStringLiteral("%1 min. ago").arg(minutes);
    const qint64 hours = minutes / 60;
    if (hours < 24)
        return QStringLiteral("%1 hr. ago").arg(hours);
    const qint64 days = hours / 24;
    if (days < 7)
        return days == 1 ? QStringLiteral("1 day ago") : QStringLiteral("%1 days ago").arg(days);
    const qint64 weeks = days / 7;
    if (days < 30)
        return weeks == 1 ? QStringLiteral("1 wk. ago") : QStringLiteral("%1 wk. ago").arg(weeks);
    const qint64 months = days / 30;
    if (days < 365)
        return months == 1 ? QStringLiteral("1 mo. ago") : QStringLiteral("%1 mo. ago").arg(months);
    const qint64 years = days / 365;
    return years == 1 ? QStringLiteral("1 yr. ago") : QStringLiteral("%1 yr. ago").arg(years);
}

QString Format::modified(const std::optional<QDateTime>& date) {
    if (!date || !date->isValid())
        return QStringLiteral("--");
    const QDateTime local = date->toLocalTime();
    const QLocale locale;
    const QString time = locale.toString(local.time(), QLocale::ShortFormat);
    const QDate today = QDate::currentDate();
    if (local.date() == today)
        return QStringLiteral("Today at ") + time;
    if (local.date() == today.addDays(-1))
        return QStringLiteral("Yesterday at ") + time;
    return locale.toString(local.date(), QStringLiteral("MMM d, yyyy")) + QStringLiteral(" at ") + time;
}

} // namespace tw
