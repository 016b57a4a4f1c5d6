#include "GoogleDriveProvider/Drive/DriveModels.h"

#include "StorageCore/Domain/JsonCoding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimeZone>

#include <charconv>

namespace tw {

namespace {

std::optional<QJsonObject> parseObject(const QByteArray& data) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

std::optional<QList<QString>> optionalStringList(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isArray())
        throw DecodingError(QStringLiteral("%1 is not an array").arg(QLatin1String(key)));
    QList<QString> list;
    for (const QJsonValue& entry : value.toArray()) {
        if (!entry.isString())
            throw DecodingError(QStringLiteral("%1 holds a non-string").arg(QLatin1String(key)));
        list.append(entry.toString());
    }
    return list;
}

std::optional<QJsonObject> optionalObject(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isObject())
        throw DecodingError(QStringLiteral("%1 is not an object").arg(QLatin1String(key)));
    return value.toObject();
}

std::optional<QJsonArray> optionalArray(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isArray())
        throw DecodingError(QStringLiteral("%1 is not an array").arg(QLatin1String(key)));
    return value.toArray();
}

void insertIf(QJsonObject& object, const char* key, const std::optional<QString>& value) {
    if (value)
        object.insert(QLatin1String(key), *value);
}

DriveFile decodeFile(const QJsonObject& object) {
    DriveFile file;
    file.id = json::requireString(object, "id");
    file.name = json::requireString(object, "name");
    file.mimeType = json::requireString(object, "mimeType");
    file.size = json::optionalString(object, "size");
    file.modifiedTime = json::optionalString(object, "modifiedTime");
    file.parents = optionalStringList(object, "parents");
    file.webViewLink = json::optionalString(object, "webViewLink");
    file.thumbnailLink = json::optionalString(object, "thumbnailLink");
    return file;
}

std::optional<WebLink> parseLink(const std::optional<QString>& text) {
    if (!text || text->isEmpty())
        return std::nullopt;
    return WebLink::parse(*text);
}

std::optional<qint64> parseSize(const std::optional<QString>& text) {
    if (!text)
        return std::nullopt;
    return parseDecimalInt64(*text);
}

} // namespace

std::optional<qint64> parseDecimalInt64(QStringView text) {
    if (text.isEmpty())
        return std::nullopt;
    QByteArray latin = text.toLatin1();
    const char* begin = latin.constData();
    const char* end = begin + latin.size();
    // One sign at most: from_chars reads a "-" itself, so a "+" must be followed by a digit
    // ("+-5" is not a number).
    if (*begin == '+') {
        ++begin;
        if (begin == end || *begin < '0' || *begin > '9')
            return std::nullopt;
    }
    qint64 value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    // toLatin1() turns characters outside Latin-1 into '?', which from_chars refuses.
    return value;
}

// ---- DriveFile ----------------------------------------------------------------------------

FileItem DriveFile::item(const QUuid& accountID) const {
    FileItem item;
    item.ref = FileRef{accountID, id};
    item.name = name;
    item.mimeType = mimeType;
    item.sizeBytes = parseSize(size);
    item.modifiedAt = modifiedTime ? DriveDate::parse(*modifiedTime) : std::nullopt;
    item.parentIDs = parents.value_or(QList<QString>());
    item.webViewURL = parseLink(webViewLink);
    item.thumbnailURL = parseLink(thumbnailLink);
    return item;
}

std::optional<DriveFile> DriveFile::fromJson(const QJsonObject& object) {
    try {
        return decodeFile(object);
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

std::optional<DriveFile> DriveFile::decode(const QByteArray& data) {
    const auto object = parseObject(data);
    if (!object)
        return std::nullopt;
    return fromJson(*object);
}

QJsonObject DriveFile::toJson() const {
    QJsonObject object{{QStringLiteral("id"), id},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("mimeType"), mimeType}};
    insertIf(object, "size", size);
    insertIf(object, "modifiedTime", modifiedTime);
    if (parents)
        object.insert(QStringLiteral("parents"), QJsonArray::fromStringList(*parents));
    insertIf(object, "webViewLink", webViewLink);
    insertIf(object, "thumbnailLink", thumbnailLink);
    return object;
}

// ---- DriveFileList ------------------------------------------------------------------------

std::optional<DriveFileList> DriveFileList::decode(const QByteArray& data) {
    const auto object = parseObject(data);
    if (!object)
        return std::nullopt;
    try {
        DriveFileList list;
        if (const auto files = optionalArray(*object, "files")) {
            QList<DriveFile> decoded;
            decoded.reserve(files->size());
            for (const QJsonValue& entry : *files) {
                if (!entry.isObject())
                    return std::nullopt;
                decoded.append(decodeFile(entry.toObject()));
            }
            list.files = std::move(decoded);
        }
        list.nextPageToken = json::optionalString(*object, "nextPageToken");
        return list;
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

QJsonObject DriveFileList::toJson() const {
    QJsonObject object;
    if (files) {
        QJsonArray array;
        for (const DriveFile& file : *files)
            array.append(file.toJson());
        object.insert(QStringLiteral("files"), array);
    }
    insertIf(object, "nextPageToken", nextPageToken);
    return object;
}

// ---- DriveAbout ---------------------------------------------------------------------------

std::optional<StorageQuota> DriveAbout::quota() const {
    if (!storageQuota)
        return std::nullopt;
    StorageQuota quota;
    quota.usedBytes = parseSize(storageQuota->usage).value_or(0);
    quota.limitBytes = parseSize(storageQuota->limit);
    quota.usedInDriveBytes = parseSize(storageQuota->usageInDrive);
    quota.trashBytes = parseSize(storageQuota->usageInDriveTrash);
    return quota;
}

std::optional<DriveAbout> DriveAbout::decode(const QByteArray& data) {
    const auto object = parseObject(data);
    if (!object)
        return std::nullopt;
    try {
        DriveAbout about;
        if (const auto user = optionalObject(*object, "user")) {
            about.user = User{json::optionalString(*user, "displayName"),
                              json::optionalString(*user, "emailAddress"),
                              json::optionalString(*user, "permissionId")};
        }
        if (const auto quota = optionalObject(*object, "storageQuota")) {
            about.storageQuota =
                Quota{json::optionalString(*quota, "limit"), json::optionalString(*quota, "usage"),
                      json::optionalString(*quota, "usageInDrive"),
                      json::optionalString(*quota, "usageInDriveTrash")};
        }
        return about;
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

QJsonObject DriveAbout::toJson() const {
    QJsonObject object;
    if (user) {
        QJsonObject userObject;
        insertIf(userObject, "displayName", user->displayName);
        insertIf(userObject, "emailAddress", user->emailAddress);
        insertIf(userObject, "permissionId", user->permissionId);
        object.insert(QStringLiteral("user"), userObject);
    }
    if (storageQuota) {
        QJsonObject quotaObject;
        insertIf(quotaObject, "limit", storageQuota->limit);
        insertIf(quotaObject, "usage", storageQuota->usage);
        insertIf(quotaObject, "usageInDrive", storageQuota->usageInDrive);
        insertIf(quotaObject, "usageInDriveTrash", storageQuota->usageInDriveTrash);
        object.insert(QStringLiteral("storageQuota"), quotaObject);
    }
    return object;
}

// ---- DriveErrorEnvelope -------------------------------------------------------------------

QList<QString> DriveErrorEnvelope::reasons() const {
    QList<QString> reasons;
    if (!error || !error->errors)
        return reasons;
    for (const Detail& detail : *error->errors) {
        if (detail.reason)
            reasons.append(*detail.reason);
    }
    return reasons;
}

std::optional<DriveErrorEnvelope> DriveErrorEnvelope::decode(const QByteArray& data) {
    const auto object = parseObject(data);
    if (!object)
        return std::nullopt;
    try {
        DriveErrorEnvelope envelope;
        if (const auto body = optionalObject(*object, "error")) {
            Body decoded;
            decoded.code = json::optionalInt64(*body, "code");
            if (const auto errors = optionalArray(*body, "errors")) {
                QList<Detail> details;
                for (const QJsonValue& entry : *errors) {
                    if (!entry.isObject())
                        return std::nullopt;
                    details.append(Detail{json::optionalString(entry.toObject(), "reason")});
                }
                decoded.errors = std::move(details);
            }
            envelope.error = std::move(decoded);
        }
        return envelope;
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

QJsonObject DriveErrorEnvelope::toJson() const {
    QJsonObject object;
    if (error) {
        QJsonObject body;
        if (error->code)
            body.insert(QStringLiteral("code"), *error->code);
        if (error->errors) {
            QJsonArray details;
            for (const Detail& detail : *error->errors) {
                QJsonObject entry;
                insertIf(entry, "reason", detail.reason);
                details.append(entry);
            }
            body.insert(QStringLiteral("errors"), details);
        }
        object.insert(QStringLiteral("error"), body);
    }
    return object;
}

// ---- DriveDate ----------------------------------------------------------------------------

namespace {

/// `count` ASCII digits at `at` as a number; -1 when any is not a digit.
int digits(QStringView text, qsizetype at, qsizetype count) {
    int value = 0;
    for (qsizetype i = at; i < at + count; ++i) {
        const char16_t ch = text[i].unicode();
        if (ch < u'0' || ch > u'9')
            return -1;
        value = value * 10 + (ch - u'0');
    }
    return value;
}

} // namespace

// Hand-written rather than a regular expression: listings parse one date per item.
std::optional<QDateTime> DriveDate::parse(const QString& text) {
    const QStringView view(text);
    // yyyy-MM-ddTHH:mm:ss
    if (view.size() < 20 || view[4] != u'-' || view[7] != u'-' || view[10] != u'T' ||
        view[13] != u':' || view[16] != u':')
        return std::nullopt;
    const int year = digits(view, 0, 4), month = digits(view, 5, 2), day = digits(view, 8, 2);
    const int hour = digits(view, 11, 2), minute = digits(view, 14, 2),
              second = digits(view, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    qsizetype at = 19;
    int milliseconds = 0;
    if (view[at] == u'.') {
        const qsizetype start = ++at;
        while (at < view.size() && view[at] >= u'0' && view[at] <= u'9')
            ++at;
        if (at == start)
            return std::nullopt;
        const QString fraction =
            (view.mid(start, at - start).toString() + QStringLiteral("00")).left(3);
        milliseconds = digits(fraction, 0, 3);
    }
    int offsetSeconds = 0;
    const QStringView zone = view.mid(at);
    if (zone == u"Z") {
        offsetSeconds = 0;
    } else if (!zone.isEmpty() && (zone[0] == u'+' || zone[0] == u'-')) {
        int hours = -1, minutes = 0;
        if (zone.size() == 3) {
            hours = digits(zone, 1, 2);
        } else if (zone.size() == 5) {
            hours = digits(zone, 1, 2);
            minutes = digits(zone, 3, 2);
        } else if (zone.size() == 6 && zone[3] == u':') {
            hours = digits(zone, 1, 2);
            minutes = digits(zone, 4, 2);
        }
        if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (zone[0] == u'-' ? -1 : 1) * (hours * 3600 + minutes * 60);
    } else {
        return std::nullopt;
    }
    const QDate date(year, month, day);
    const QTime time(hour, minute, second, milliseconds);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, QTimeZone::utc()).addSecs(-offsetSeconds);
}

} // namespace tw
