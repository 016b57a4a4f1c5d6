#pragma once

#include <QString>

#include <exception>
#include <optional>
#include <string>

namespace tw {

enum class RecoveryAction { reconnect, retry };

/// How a failure is shown: heading, body and an optional recovery button.
struct ErrorPresentation {
    QString title;
    QString message;
    std::optional<RecoveryAction> recovery;

    std::optional<QString> recoveryTitle() const;
    bool operator==(const ErrorPresentation&) const = default;
};

/// The one error type that crosses module borders. Every back end maps its own failures into
/// one of these cases; the views show it only through presentation().
class StorageError : public std::exception {
public:
    enum class Code {
        accountMismatch,
        fileTooLarge,
        notConfigured,
        authorizationCancelled,
        authorizationFailed,
        reauthRequired,
        offline,
        network,
        notFound,
        permissionDenied,
        storageFull,
        rateLimited,
        server,
        invalidResponse,
        invalidName,
        localFileUnreadable,
        localWriteFailed,
        folderUploadUnsupported,
        unsupportedDownload,
        exportTooLarge,
        notSupported,
        sessionInUse,
        previewUnavailable,
        cancelled,
        keyringLocked,
        keyringUnavailable,
    };
    static constexpr int caseCount = 26;

    StorageError(Code code)
        : code_(code) {} // NOLINT: implicit by design, `throw StorageError(Code::x)`
    static StorageError accountMismatch(const QString& expectedEmail);
    static StorageError fileTooLarge(qint64 limit);

    Code code() const { return code_; }
    /// Payload of accountMismatch (empty otherwise).
    const QString& expectedEmail() const { return expectedEmail_; }
    /// Payload of fileTooLarge (0 otherwise).
    qint64 limit() const { return limit_; }

    ErrorPresentation presentation() const;
    bool isRetryable() const;
    bool isCancelled() const { return code_ == Code::cancelled; }
    /// The case name, for logs ("reauthRequired"); never a payload.
    QString caseName() const;
    static QString caseName(Code code);

    /// "StorageError.<case>". A constant per case: one failure object may be rethrown to
    /// several waiting threads at once, so what() must not write into it.
    const char* what() const noexcept override;

    /// Converts any failure into a StorageError: a StorageError unchanged, a keyring failure
    /// (SecretStoreError) keyringLocked or keyringUnavailable, anything else network. Use inside a
    /// catch block: `catch (...) { auto e = StorageError::current(); }`.
    static StorageError current();
    static StorageError from(std::exception_ptr error);

    bool operator==(const StorageError& other) const {
        return code_ == other.code_ && expectedEmail_ == other.expectedEmail_ &&
               limit_ == other.limit_;
    }

private:
    Code code_;
    QString expectedEmail_;
    qint64 limit_ = 0;
};

/// Decimal byte count in the file style (powers of 1000): 2,000,000,000 reads as "2 GB".
QString formatFileByteCount(qint64 bytes);
/// The same in powers of 1024, bytes to terabytes ("1 GB" for 1,073,741,824 bytes).
QString formatMemoryByteCount(qint64 bytes);

} // namespace tw
