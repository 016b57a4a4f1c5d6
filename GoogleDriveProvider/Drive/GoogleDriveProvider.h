#pragma once

#include "GoogleDriveProvider/HTTP/HTTPClient.h"
#include "GoogleDriveProvider/OAuth/GoogleAuthenticator.h"
#include "GoogleDriveProvider/OAuth/GoogleCredentialManager.h"
#include "GoogleDriveProvider/OAuth/OAuthModels.h"
#include "StorageCore/Domain/Clock.h"
#include "StorageCore/Domain/StorageProvider.h"
#include "StorageCore/Security/SecretStore.h"

#include <QLoggingCategory>

#include <functional>
#include <memory>
#include <optional>

namespace tw {

Q_DECLARE_LOGGING_CATEGORY(driveLog)

/// The Google Drive back end: every operation of the StorageProvider contract over the Drive
/// REST interface. Every authorised request passes through performRaw(), which attaches a
/// fresh bearer token, refreshes it once on 401, maps failures to StorageError, retries
/// temporary failures with exponential back-off and logs statuses, request kinds and error
/// case names only (never a URL, a header or a token). The object holds no mutable state of
/// its own (tokens live in the credential manager), so any number of operations may run at
/// once on worker threads.
class GoogleDriveProvider : public StorageProvider {
public:
    using ConfigurationProvider = GoogleCredentialManager::ConfigurationProvider;
    /// Which answers of a request count as success, by status (and body where it matters).
    using Accept = std::function<bool(int status, const QByteArray& body)>;

    static constexpr qint64 defaultUploadChunkSize = 8 * 1024 * 1024;
    static constexpr int defaultMaxRetries = 3;
    /// Upload chunks must be a positive multiple of this.
    static constexpr qint64 chunkGranularity = 256 * 1024;

    /// Throws std::invalid_argument when uploadChunkSize is not a positive multiple of 256 KiB
    /// or maxRetries is negative.
    GoogleDriveProvider(ConfigurationProvider configuration, std::shared_ptr<SecretStore> secrets,
                        std::shared_ptr<BrowserOpener> browser, std::shared_ptr<HTTPClient> http,
                        qint64 uploadChunkSize, int maxRetries, Clock now, SleepFunction sleep);
    /// The same with a fixed configuration.
    GoogleDriveProvider(std::optional<GoogleOAuthConfiguration> configuration,
                        std::shared_ptr<SecretStore> secrets,
                        std::shared_ptr<BrowserOpener> browser, std::shared_ptr<HTTPClient> http,
                        qint64 uploadChunkSize, int maxRetries, Clock now, SleepFunction sleep);
    ~GoogleDriveProvider() override;

    // ---- StorageProvider ------------------------------------------------------------------
    ProviderConnection connect(const std::optional<QString>& loginHint) override;
    using StorageProvider::connect;
    void storeCredential(const ProviderCredential& credential, const QUuid& accountID) override;
    void removeCredential(const QUuid& accountID, bool revoke) noexcept override;
    StorageQuota quota(const QUuid& accountID) override;
    Page listFolder(const QUuid& accountID, const std::optional<QString>& parentID,
                    const std::optional<QString>& pageToken) override;
    Page search(const QUuid& accountID, const QString& query,
                const std::optional<QString>& pageToken) override;
    Page listCategory(const QUuid& accountID, FileCategory category,
                      const std::optional<QString>& pageToken) override;
    FileItem createFolder(const QUuid& accountID, const QString& name,
                          const std::optional<QString>& parentID) override;
    FileItem rename(const FileRef& ref, const QString& newName) override;
    FileItem move(const FileRef& ref, const std::optional<QString>& from,
                  const QString& to) override;
    void trash(const FileRef& ref) override;
    FileItem upload(const QUuid& accountID, const LocalFile& file,
                    const std::optional<QString>& parentID,
                    const ProgressCallback& progress) override;
    void download(const FileRef& ref, const QUrl& destination,
                  const ProgressCallback& progress) override;
    QByteArray read(const FileRef& ref, ByteRange range) override;
    void exportFile(const FileRef& ref, const QString& mimeType, const QUrl& destination) override;
    std::optional<QByteArray> thumbnail(const FileItem& item, int maxPixelSize) override;

    // ---- Request engine (used by the operations and the resumable upload) -----------------
    qint64 uploadChunkSize() const { return uploadChunkSize_; }
    int maxRetries() const { return maxRetries_; }

    /// Sends one authorised request. With a body it is uploaded (progress reports the body
    /// bytes sent); without one the request's own body is sent. Returns the reply when
    /// `accept` holds; otherwise throws the mapped StorageError (after the single forced
    /// token refresh on 401 and, when `retryable`, up to maxRetries() back-off retries of
    /// network, rateLimited and server failures).
    HTTPReply performRaw(const HTTPRequest& request, const QUuid& accountID, bool retryable,
                         const std::optional<HTTPBody>& body = std::nullopt,
                         const HTTPProgress& progress = {}, const Accept& accept = {});

    /// Waits before retry number `retry` (from 1): 0.5 × 2^(retry−1) s plus up to 0.25 s.
    void backoff(int retry) const;
    /// The wait of backoff() before the random part is added, in milliseconds.
    static qint64 backoffBaseMs(int retry);

    /// A short label of a request for log lines: "files", "about", "upload start",
    /// "upload status", "upload part", or the first path segment of other links.
    static QString kind(const HTTPRequest& request);
    /// A name trimmed at both ends; throws invalidName when nothing is left.
    static QString validName(const QString& name);
    /// Statuses 200–299.
    static bool isSuccess(int status, const QByteArray& body);

    GoogleCredentialManager& credentials() { return *credentials_; }

private:
    /// Runs one client call and converts its failure to a StorageError (logging transport
    /// failures by their code and case only).
    template <typename Call> auto transport(Call&& call) -> decltype(call());
    HTTPRequest authorised(const HTTPRequest& request, const QUuid& accountID, bool forceRefresh);
    /// Downloads the answer of the request into a temporary file and moves it to the
    /// destination (download and export).
    void save(const HTTPRequest& request, const QUuid& accountID, const QUrl& destination,
              const ProgressCallback& progress);
    void logFailure(const HTTPRequest& request, int status, const StorageError& error) const;

    ConfigurationProvider configuration_;
    std::shared_ptr<BrowserOpener> browser_;
    std::shared_ptr<HTTPClient> http_;
    std::unique_ptr<GoogleCredentialManager> credentials_;
    Clock now_;
    SleepFunction sleep_;
    qint64 uploadChunkSize_;
    int maxRetries_;
};

} // namespace tw
