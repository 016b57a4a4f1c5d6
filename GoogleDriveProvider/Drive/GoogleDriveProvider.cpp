#include "GoogleDriveProvider/Drive/GoogleDriveProvider.h"

#include "GoogleDriveProvider/Drive/DriveAPI.h"
#include "GoogleDriveProvider/Drive/DriveErrorMapper.h"
#include "GoogleDriveProvider/Drive/DriveModels.h"
#include "GoogleDriveProvider/Drive/ResumableUpload.h"
#include "StorageCore/Concurrency/Cancellation.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace tw {

Q_LOGGING_CATEGORY(driveLog, "GoogleDrive")

namespace {

using Code = StorageError::Code;

/// At most this much of a failed download is read as its error body.
constexpr qint64 kErrorBodyLimit = 64 * 1024;

/// A "Content-Range: bytes first-last/total" value ("*" for an unknown total).
struct ContentRange {
    qint64 first = 0;
    qint64 last = 0;
    std::optional<qint64> total;
};

std::optional<qint64> decimal(QByteArrayView text) {
    qint64 value = 0;
    if (text.isEmpty())
        return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

std::optional<ContentRange> parseContentRange(const std::optional<QByteArray>& header) {
    if (!header)
        return std::nullopt;
    const QByteArray value = header->trimmed();
    if (!value.startsWith("bytes "))
        return std::nullopt;
    const QByteArray spec = value.mid(6).trimmed();
    const qsizetype dash = spec.indexOf('-');
    const qsizetype slash = spec.indexOf('/');
    if (dash <= 0 || slash <= dash)
        return std::nullopt;
    const auto first = decimal(QByteArrayView(spec).first(dash));
    const auto last = decimal(QByteArrayView(spec).sliced(dash + 1, slash - dash - 1));
    const QByteArrayView totalText = QByteArrayView(spec).sliced(slash + 1);
    const auto total = totalText == "*" ? std::optional<qint64>() : decimal(totalText);
    if (!first || !last || *last < *first || (totalText != "*" && (!total || *total <= *last)))
        return std::nullopt;
    return ContentRange{*first, *last, total};
}

QByteArray readErrorBody(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(kErrorBodyLimit);
}

Page pageOf(const QByteArray& body, const QUuid& accountID) {
    const auto list = DriveFileList::decode(body);
    if (!list)
        throw StorageError(Code::invalidResponse);
    Page page;
    if (list->files) {
        page.items.reserve(list->files->size());
        for (const DriveFile& file : *list->files)
            page.items.append(file.item(accountID));
    }
    page.nextPageToken = list->nextPageToken;
    return page;
}

FileItem itemOf(const QByteArray& body, const QUuid& accountID) {
    const auto file = DriveFile::decode(body);
    if (!file)
        throw StorageError(Code::invalidResponse);
    return file->item(accountID);
}

} // namespace

GoogleDriveProvider::GoogleDriveProvider(ConfigurationProvider configuration,
                                         std::shared_ptr<SecretStore> secrets,
                                         std::shared_ptr<BrowserOpener> browser,
                                         std::shared_ptr<HTTPClient> http, qint64 uploadChunkSize,
                                         int maxRetries, Clock now, SleepFunction sleep)
    : configuration_(std::move(configuration)), browser_(std::move(browser)),
      http_(std::move(http)), now_(std::move(now)), sleep_(std::move(sleep)),
      uploadChunkSize_(uploadChunkSize), maxRetries_(maxRetries) {
    if (uploadChunkSize_ <= 0 || uploadChunkSize_ % chunkGranularity != 0)
        throw std::invalid_argument("upload chunk size must be a positive multiple of 256 KiB");
    if (maxRetries_ < 0)
        throw std::invalid_argument("maxRetries must not be negative");
    if (!configuration_)
        configuration_ = [] { return std::optional<GoogleOAuthConfiguration>(); };
    if (!sleep_)
        sleep_ = cancellableSleep();
    credentials_ =
        std::make_unique<GoogleCredentialManager>(std::move(secrets), configuration_, http_, now_);
}

GoogleDriveProvider::GoogleDriveProvider(std::optional<GoogleOAuthConfiguration> configuration,
                                         std::shared_ptr<SecretStore> secrets,
                                         std::shared_ptr<BrowserOpener> browser,
                                         std::shared_ptr<HTTPClient> http, qint64 uploadChunkSize,
                                         int maxRetries, Clock now, SleepFunction sleep)
    : GoogleDriveProvider(ConfigurationProvider([configuration] { return configuration; }),
                          std::move(secrets), std::move(browser), std::move(http), uploadChunkSize,
                          maxRetries, std::move(now), std::move(sleep)) {}

GoogleDriveProvider::~GoogleDriveProvider() = default;

// ---- Request engine -----------------------------------------------------------------------

bool GoogleDriveProvider::isSuccess(int status, const QByteArray&) {
    return status >= 200 && status <= 299;
}

template <typename Call> auto GoogleDriveProvider::transport(Call&& call) -> decltype(call()) {
    try {
        return call();
    } catch (const StorageError&) {
        throw;
    } catch (const HTTPTransportError& error) {
        const StorageError converted = error.toStorageError();
        qCCritical(driveLog).noquote()
            << QStringLiteral("Drive request failed: transport error %1 → %2")
                   .arg(error.code())
                   .arg(converted.caseName());
        throw converted;
    } catch (...) {
        throw toStorageError(std::current_exception());
    }
}

HTTPRequest GoogleDriveProvider::authorised(const HTTPRequest& request, const QUuid& accountID,
                                            bool forceRefresh) {
    HTTPRequest copy = request;
    const QString token = credentials_->accessToken(accountID, forceRefresh);
    copy.headers.set("Authorization", "Bearer " + token.toUtf8());
    return copy;
}

void GoogleDriveProvider::logFailure(const HTTPRequest& request, int status,
                                     const StorageError& error) const {
    qCCritical(driveLog).noquote()
        << QStringLiteral("Drive %1 %2 returned HTTP %3 → %4")
               .arg(QString::fromLatin1(request.method.isEmpty() ? QByteArray("GET")
                                                                 : request.method),
                    kind(request), QString::number(status), error.caseName());
}

HTTPReply GoogleDriveProvider::performRaw(const HTTPRequest& request, const QUuid& accountID,
                                          bool retryable, const std::optional<HTTPBody>& body,
                                          const HTTPProgress& progress, const Accept& accept) {
    Cancellation::checkpoint();
    const Accept& isAccepted = accept ? accept : Accept(&GoogleDriveProvider::isSuccess);
    int attempt = 0;
    bool forcedRefresh = false;
    while (true) {
        const HTTPRequest sent = authorised(request, accountID, forcedRefresh);
        HTTPReply reply;
        try {
            reply = transport(
                [&] { return body ? http_->upload(sent, *body, progress) : http_->send(sent); });
        } catch (const StorageError& error) {
            if (retryable && error.code() == Code::network && attempt < maxRetries_) {
                backoff(attempt + 1);
                Cancellation::checkpoint();
                ++attempt;
                continue;
            }
            throw;
        }
        const int status = reply.response.statusCode;
        if (isAccepted(status, reply.body))
            return reply;
        if (status == 401 && !forcedRefresh) {
            Cancellation::checkpoint();
            forcedRefresh = true;
            continue;
        }
        const StorageError error = DriveErrorMapper::map(status, reply.body);
        logFailure(request, status, error);
        if (retryable && (error.code() == Code::rateLimited || error.code() == Code::server) &&
            attempt < maxRetries_) {
            backoff(attempt + 1);
            Cancellation::checkpoint();
            ++attempt;
            continue;
        }
        throw error;
    }
}

qint64 GoogleDriveProvider::backoffBaseMs(int retry) {
    return qint64(500.0 * std::pow(2.0, retry - 1));
}

void GoogleDriveProvider::backoff(int retry) const {
    const double seconds =
        0.5 * std::pow(2.0, retry - 1) + QRandomGenerator::global()->bounded(0.25);
    sleep_(std::chrono::milliseconds(qint64(seconds * 1000.0)));
}

QString GoogleDriveProvider::kind(const HTTPRequest& request) {
    const QString path = request.url.path();
    if (path.contains(QLatin1String("/upload/"))) {
        if (request.method == "POST")
            return QStringLiteral("upload start");
        if (request.headers.value("Content-Range").value_or(QByteArray()).startsWith("bytes */"))
            return QStringLiteral("upload status");
        return QStringLiteral("upload part");
    }
    const QString tail = path.section(QStringLiteral("/v3/"), -1);
    return tail.section(QLatin1Char('/'), 0, 0);
}

QString GoogleDriveProvider::validName(const QString& name) {
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        throw StorageError(Code::invalidName);
    return trimmed;
}

// ---- Operations ---------------------------------------------------------------------------

ProviderConnection GoogleDriveProvider::connect(const std::optional<QString>& loginHint) {
    const std::optional<GoogleOAuthConfiguration> configuration = configuration_();
    if (!configuration)
        throw StorageError(Code::notConfigured);
    OAuthTokens tokens;
    try {
        GoogleAuthenticator authenticator(*configuration, http_, browser_, now_,
                                          std::chrono::seconds(600));
        tokens = authenticator.authorize(loginHint);
    } catch (...) {
        throw toStorageError(std::current_exception());
    }

    HTTPRequest request = DriveAPI::about();
    request.headers.set("Authorization", "Bearer " + tokens.accessToken.toUtf8());
    const HTTPReply reply = transport([&] { return http_->send(request); });
    if (!reply.response.isSuccess()) {
        const StorageError error = DriveErrorMapper::map(reply.response.statusCode, reply.body);
        logFailure(request, reply.response.statusCode, error);
        throw error;
    }
    const auto about = DriveAbout::decode(reply.body);
    if (!about || !about->user || !about->user->emailAddress || !about->user->permissionId)
        throw StorageError(Code::invalidResponse);

    ProviderConnection connection;
    connection.providerAccountID = *about->user->permissionId;
    connection.email = *about->user->emailAddress;
    connection.displayName = about->user->displayName;
    connection.quota = about->quota();
    connection.credential = ProviderCredential{tokens.encoded(), ProviderKind::googleDrive};
    return connection;
}

void GoogleDriveProvider::storeCredential(const ProviderCredential& credential,
                                          const QUuid& accountID) {
    const auto tokens = OAuthTokens::decode(credential.payload);
    if (!tokens)
        throw StorageError(Code::invalidResponse);
    try {
        credentials_->store(*tokens, accountID);
    } catch (...) {
        throw toStorageError(std::current_exception());
    }
}

void GoogleDriveProvider::removeCredential(const QUuid& accountID, bool revoke) noexcept {
    credentials_->remove(accountID, revoke);
}

StorageQuota GoogleDriveProvider::quota(const QUuid& accountID) {
    const HTTPReply reply = performRaw(DriveAPI::about(), accountID, true);
    const auto about = DriveAbout::decode(reply.body);
    if (!about)
        throw StorageError(Code::invalidResponse);
    const auto quota = about->quota();
    if (!quota)
        throw StorageError(Code::invalidResponse);
    return *quota;
}

Page GoogleDriveProvider::listFolder(const QUuid& accountID, const std::optional<QString>& parentID,
                                     const std::optional<QString>& pageToken) {
    return pageOf(performRaw(DriveAPI::list(parentID, pageToken), accountID, true).body, accountID);
}

Page GoogleDriveProvider::search(const QUuid& accountID, const QString& query,
                                 const std::optional<QString>& pageToken) {
    return pageOf(performRaw(DriveAPI::search(query, pageToken), accountID, true).body, accountID);
}

Page GoogleDriveProvider::listCategory(const QUuid& accountID, FileCategory category,
                                       const std::optional<QString>& pageToken) {
    return pageOf(performRaw(DriveAPI::category(category, pageToken), accountID, true).body,
                  accountID);
}

FileItem GoogleDriveProvider::createFolder(const QUuid& accountID, const QString& name,
                                           const std::optional<QString>& parentID) {
    const QString trimmed = validName(name);
    // Never retried: a retry after a lost answer could create the folder twice.
    return itemOf(performRaw(DriveAPI::createFolder(trimmed, parentID), accountID, false).body,
                  accountID);
}

FileItem GoogleDriveProvider::rename(const FileRef& ref, const QString& newName) {
    const QString trimmed = validName(newName);
    return itemOf(performRaw(DriveAPI::rename(ref.providerID, trimmed), ref.accountID, true).body,
                  ref.accountID);
}

FileItem GoogleDriveProvider::move(const FileRef& ref, const std::optional<QString>& from,
                                   const QString& to) {
    return itemOf(performRaw(DriveAPI::move(ref.providerID, from, to), ref.accountID, true).body,
                  ref.accountID);
}

void GoogleDriveProvider::trash(const FileRef& ref) {
    performRaw(DriveAPI::trash(ref.providerID), ref.accountID, true);
}

FileItem GoogleDriveProvider::upload(const QUuid& accountID, const LocalFile& file,
                                     const std::optional<QString>& parentID,
                                     const ProgressCallback& progress) {
    ResumableUpload upload(*this, accountID, file, parentID, progress);
    return upload.run();
}

void GoogleDriveProvider::download(const FileRef& ref, const QUrl& destination,
                                   const ProgressCallback& progress) {
    save(DriveAPI::download(ref.providerID), ref.accountID, destination, progress);
}

void GoogleDriveProvider::exportFile(const FileRef& ref, const QString& mimeType,
                                     const QUrl& destination) {
    save(DriveAPI::exportFile(ref.providerID, mimeType), ref.accountID, destination, {});
}

QByteArray GoogleDriveProvider::read(const FileRef& ref, ByteRange range) {
    if (range.upper <= range.lower)
        return {};
    HTTPReply reply = performRaw(DriveAPI::range(ref.providerID, range), ref.accountID, true);
    if (reply.response.statusCode == 200) {
        // The service ignored the range and sent the file from its start: always cut the asked
        // bytes out of it, never hand back bytes from offset 0.
        const qint64 length = reply.body.size();
        const qint64 lower = std::min(range.lower, length);
        const qint64 upper = std::min(range.upper, length);
        return reply.body.mid(lower, upper - lower);
    }
    if (reply.response.statusCode == 206) {
        // Exactly the asked bytes, or fewer only where the file ends: an answer for other bytes,
        // or longer than asked, is not passed on as if it were the range.
        const auto answered = parseContentRange(reply.response.headers.value("Content-Range"));
        const qint64 length = reply.body.size();
        const bool matches =
            answered && answered->first == range.lower && answered->last < range.upper &&
            answered->last - answered->first + 1 == length &&
            (answered->last + 1 == range.upper || answered->total == answered->last + 1);
        if (!matches)
            throw StorageError(Code::invalidResponse);
        return std::move(reply.body);
    }
    return std::move(reply.body);
}

std::optional<QByteArray> GoogleDriveProvider::thumbnail(const FileItem& item, int maxPixelSize) {
    if (!item.thumbnailURL)
        return std::nullopt;
    // The request carries the account's bearer token: it goes only over https to the service's
    // own hosts, whatever a listing put into the link. Any other link gives no thumbnail.
    const QUrl link = item.thumbnailURL->url();
    const QString host = link.host().toLower();
    const auto isUnder = [&host](const QString& domain) {
        return host == domain || host.endsWith(QLatin1Char('.') + domain);
    };
    if (link.scheme().toLower() != QLatin1String("https") || !link.userInfo().isEmpty() ||
        !(isUnder(QStringLiteral("googleusercontent.com")) ||
          isUnder(QStringLiteral("googleapis.com")) || isUnder(QStringLiteral("google.com")))) {
        qCWarning(driveLog) << "thumbnail link to a host outside the service ignored";
        return std::nullopt;
    }
    // Client errors end quietly with no thumbnail; 401 still gets its one token refresh, and
    // rate limits (429, or 403 with a rate-limit reason) are retried and reported like on
    // every other request.
    const Accept accept = [](int status, const QByteArray& body) {
        if (status < 200 || status > 499 || status == 401 || status == 429)
            return false;
        if (status == 403 && DriveErrorMapper::map(status, body).code() == Code::rateLimited)
            return false;
        return true;
    };
    const HTTPReply reply = performRaw(DriveAPI::thumbnail(link, maxPixelSize), item.ref.accountID,
                                       true, std::nullopt, {}, accept);
    if (reply.response.isSuccess() && !reply.body.isEmpty())
        return reply.body;
    return std::nullopt;
}

void GoogleDriveProvider::save(const HTTPRequest& request, const QUuid& accountID,
                               const QUrl& destination, const ProgressCallback& progress) {
    if (!destination.isLocalFile())
        throw StorageError(Code::localWriteFailed);
    const QString destinationPath = destination.toLocalFile();
    Cancellation::checkpoint();
    bool forcedRefresh = false;
    while (true) {
        const HTTPRequest sent = authorised(request, accountID, forcedRefresh);
        // The body is staged in the destination's own folder and renamed over it when
        // complete (with the user's usual mode): never in /tmp, never copied.
        HTTPDownload result = transport([&] { return http_->download(sent, destinationPath); });
        const int status = result.response.statusCode;
        if (status == 401 && !forcedRefresh) {
            result.file->discard();
            Cancellation::checkpoint();
            forcedRefresh = true;
            continue;
        }
        if (status < 200 || status > 299) {
            const QByteArray errorBody = readErrorBody(result.filePath);
            result.file->discard();
            const StorageError error = DriveErrorMapper::map(status, errorBody);
            logFailure(request, status, error);
            throw error;
        }
        if (!result.file->commit())
            throw StorageError(Code::localWriteFailed);
        const QFileInfo written(destinationPath);
        if (progress)
            progress(written.exists() ? written.size() : 0);
        return;
    }
}

} // namespace tw
