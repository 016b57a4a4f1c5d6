#include "StorageCore/Domain/StorageError.h"

#include "StorageCore/Security/SecretStore.h"

#include <QLocale>

#include <array>
#include <cmath>
#include <string>

namespace tw {

using Code = StorageError::Code;

std::optional<QString> ErrorPresentation::recoveryTitle() const {
    if (!recovery)
        return std::nullopt;
    return *recovery == RecoveryAction::reconnect ? QStringLiteral("Reconnect")
                                                  : QStringLiteral("Try Again");
}

StorageError StorageError::accountMismatch(const QString& expectedEmail) {
    StorageError error(Code::accountMismatch);
    error.expectedEmail_ = expectedEmail;
    return error;
}

StorageError StorageError::fileTooLarge(qint64 limit) {
    StorageError error(Code::fileTooLarge);
    error.limit_ = limit;
    return error;
}

namespace {

/// Bytes below one unit as "n bytes", else the value in the largest unit that keeps it under
/// one step of base (up to units[lastUnit]), with 0, 1 or 2 decimals and no trailing zeros.
QString byteCountText(qint64 bytes, double base, int lastUnit) {
    if (bytes == 0)
        return QStringLiteral("Zero KB");
    const double magnitude = std::fabs(double(bytes));
    if (magnitude < base)
        return QStringLiteral("%1 %2").arg(bytes).arg(magnitude == 1.0 ? QStringLiteral("byte")
                                                                       : QStringLiteral("bytes"));
    static const char* const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    static const int decimals[] = {0, 1, 2, 2, 2, 2};
    double value = double(bytes) / base;
    int unit = 0;
    while (std::fabs(value) >= base - 0.5 && unit < lastUnit) {
        value /= base;
        ++unit;
    }
    QString text = QLocale::c().toString(value, 'f', decimals[unit]);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text + QLatin1Char(' ') + QLatin1String(units[unit]);
}

} // namespace

QString formatFileByteCount(qint64 bytes) { return byteCountText(bytes, 1000.0, 5); }

QString formatMemoryByteCount(qint64 bytes) { return byteCountText(bytes, 1024.0, 3); }

ErrorPresentation StorageError::presentation() const {
    const auto reconnect = RecoveryAction::reconnect;
    const auto retry = RecoveryAction::retry;
    const std::optional<RecoveryAction> none;
    switch (code_) {
    case Code::accountMismatch:
        return {QStringLiteral("That's a different account."),
                QStringLiteral("This storage belongs to ") + expectedEmail_ +
                    QStringLiteral(". Sign in with that account to reconnect it."),
                reconnect};
    case Code::fileTooLarge:
        return {QStringLiteral("This file is too large for this storage."),
                QStringLiteral("Files here can be up to ") + formatFileByteCount(limit_) +
                    QStringLiteral(". Choose a smaller file or another storage."),
                none};
    case Code::notConfigured:
        return {QStringLiteral("Sign-in isn't available in this build."),
                QStringLiteral("This copy of Kelvanor wasn't built with sign-in support for this "
                               "service. Download the latest version and try again."),
                none};
    case Code::authorizationCancelled:
        return {
            QStringLiteral("Sign-in was cancelled."),
            QStringLiteral("No account was connected. You can try again whenever you're ready."),
            retry};
    case Code::authorizationFailed:
        return {QStringLiteral("Sign-in didn't complete."),
                QStringLiteral("The service didn't grant the access Kelvanor needs. Try connecting "
                               "again and allow access to your files."),
                retry};
    case Code::reauthRequired:
        return {QStringLiteral("Kelvanor couldn't access this account."),
                QStringLiteral("The service needs you to sign in again. Reconnect this account to "
                               "continue."),
                reconnect};
    case Code::offline:
        return {QStringLiteral("You're offline."),
                QStringLiteral("Kelvanor can't reach the storage service. Check your internet "
                               "connection and try again."),
                retry};
    case Code::network:
        return {QStringLiteral("The connection was interrupted."),
                QStringLiteral("This is usually temporary. Try again in a moment."), retry};
    case Code::notFound:
        return {QStringLiteral("This item is no longer available."),
                QStringLiteral("It may have been moved or deleted."), retry};
    case Code::permissionDenied:
        return {QStringLiteral("You don't have permission to do that."),
                QStringLiteral("This account doesn't have access to it."), none};
    case Code::storageFull:
        return {QStringLiteral("This storage is full."),
                QStringLiteral("Free up space in this account or choose a different storage."),
                none};
    case Code::rateLimited:
        return {QStringLiteral("The service asked us to slow down."),
                QStringLiteral("Too many requests were sent in a short time. Wait a moment, then "
                               "try again."),
                retry};
    case Code::server:
    case Code::invalidResponse:
        return {QStringLiteral("The storage service is having trouble."),
                QStringLiteral("It returned an unexpected response. Try again in a moment."),
                retry};
    case Code::invalidName:
        return {QStringLiteral("That name can't be used."),
                QStringLiteral("Enter a name that isn't empty."), none};
    case Code::localFileUnreadable:
        return {QStringLiteral("This file couldn't be read."),
                QStringLiteral("It may have been moved, deleted, or Kelvanor may not have "
                               "permission to open it."),
                none};
    case Code::localWriteFailed:
        return {QStringLiteral("The file couldn't be saved."),
                QStringLiteral("Check that the destination has enough free space and that you can "
                               "write to it."),
                retry};
    case Code::folderUploadUnsupported:
        return {QStringLiteral("Folders can't be uploaded yet."),
                QStringLiteral("Select the files inside the folder instead. Folder upload is "
                               "coming soon."),
                none};
    case Code::unsupportedDownload:
        return {QStringLiteral("Google Docs can't be downloaded directly."),
                QStringLiteral("Open it in your browser to export a copy."), none};
    case Code::exportTooLarge:
        return {QStringLiteral("This document is too large to preview."),
                QStringLiteral("Google can only convert documents up to 10 MB for previewing. Open "
                               "it in your browser instead."),
                none};
    case Code::notSupported:
        return {QStringLiteral("This storage can't do that."),
                QStringLiteral("The service behind this storage doesn't support this action."),
                none};
    case Code::sessionInUse:
        return {QStringLiteral("This account is open in another copy of Kelvanor."),
                QStringLiteral("Quit the other copy, then try again."), retry};
    case Code::previewUnavailable:
        return {QStringLiteral("This file couldn't be displayed."),
                QStringLiteral("It may be damaged or in a format this computer can't read. You can "
                               "still download it."),
                none};
    case Code::cancelled:
        return {QStringLiteral("Cancelled."), QStringLiteral("The operation was stopped."), retry};
    case Code::keyringLocked:
        return {QStringLiteral("The keyring is locked."),
                QStringLiteral("Kelvanor keeps sign-ins in your keyring. Unlock it, then try "
                               "again. Nothing was removed."),
                retry};
    case Code::keyringUnavailable:
        return {QStringLiteral("The keyring isn't available."),
                QStringLiteral("Kelvanor keeps sign-ins in your keyring and couldn't use it. "
                               "Check that a keyring service is running, then try again. Nothing "
                               "was removed."),
                retry};
    }
    return {};
}

bool StorageError::isRetryable() const {
    switch (code_) {
    case Code::offline:
    case Code::network:
    case Code::rateLimited:
    case Code::server:
    case Code::cancelled:
        return true;
    default:
        return false;
    }
}

QString StorageError::caseName(Code code) {
    static const char* const names[caseCount] = {"accountMismatch",
                                                 "fileTooLarge",
                                                 "notConfigured",
                                                 "authorizationCancelled",
                                                 "authorizationFailed",
                                                 "reauthRequired",
                                                 "offline",
                                                 "network",
                                                 "notFound",
                                                 "permissionDenied",
                                                 "storageFull",
                                                 "rateLimited",
                                                 "server",
                                                 "invalidResponse",
                                                 "invalidName",
                                                 "localFileUnreadable",
                                                 "localWriteFailed",
                                                 "folderUploadUnsupported",
                                                 "unsupportedDownload",
                                                 "exportTooLarge",
                                                 "notSupported",
                                                 "sessionInUse",
                                                 "previewUnavailable",
                                                 "cancelled",
                                                 "keyringLocked",
                                                 "keyringUnavailable"};
    return QString::fromLatin1(names[int(code)]);
}

QString StorageError::caseName() const {
    return caseName(code_);
}

const char* StorageError::what() const noexcept {
    static const auto texts = [] {
        std::array<std::string, caseCount> list;
        for (int i = 0; i < caseCount; ++i)
            list[i] = "StorageError." + caseName(Code(i)).toStdString();
        return list;
    }();
    return texts[int(code_)].c_str();
}

StorageError StorageError::from(std::exception_ptr error) {
    if (!error)
        return StorageError(Code::network);
    try {
        std::rethrow_exception(error);
    } catch (const StorageError& storageError) {
        return storageError;
    } catch (const SecretStoreError& keyringError) {
        return keyringError.storageError();
    } catch (...) {
        return StorageError(Code::network);
    }
}

StorageError StorageError::current() {
    return from(std::current_exception());
}

} // namespace tw
