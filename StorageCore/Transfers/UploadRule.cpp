#include "StorageCore/Transfers/UploadRule.h"

#include "StorageCore/Domain/JsonCoding.h"

namespace tw {

namespace {

bool isTrimmedSpace(QChar c) {
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

bool isAscii(const QString& text) {
    for (QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

/// Unicode strings compare equal when canonically equivalent.
bool canonicallyEqual(const QString& a, const QString& b) {
    if (a == b)
        return true;
    if (isAscii(a) && isAscii(b))
        return false;
    return a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

const QString kFileExtension = QStringLiteral("fileExtension");
const QString kCategory = QStringLiteral("category");
const QString kPayload = QStringLiteral("_0");

} // namespace

namespace LocalFiles {

std::optional<FileCategory> category(const LocalFile& file) {
    return FileKinds::category(FileKinds::classify(file.mimeType, file.name));
}

QString normalizedExtension(const LocalFile& file) {
    return UploadRule::Match::normalized(FileKinds::pathExtension(file.name));
}

} // namespace LocalFiles

QString UploadRule::Match::normalized(const QString& text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && isTrimmedSpace(text[begin]))
        ++begin;
    while (end > begin && isTrimmedSpace(text[end - 1]))
        --end;
    while (begin < end && text[begin] == QLatin1Char('.'))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char('.'))
        --end;
    return text.mid(begin, end - begin).toLower();
}

bool UploadRule::Match::matches(const LocalFile& file) const {
    if (kind_ == Kind::category)
        return matches(QString(), LocalFiles::category(file));
    return matches(LocalFiles::normalizedExtension(file), std::nullopt);
}

bool UploadRule::Match::matches(const QString& fileExtension,
                                const std::optional<FileCategory>& fileCategory) const {
    if (kind_ == Kind::category)
        return fileCategory && *fileCategory == category_;
    return canonicallyEqual(fileExtension, normalized(extension_));
}

QJsonObject UploadRule::Match::toJson() const {
    QJsonObject payload;
    if (kind_ == Kind::fileExtension) {
        payload.insert(kPayload, extension_);
        return QJsonObject{{kFileExtension, payload}};
    }
    payload.insert(kPayload, FileCategories::rawValue(category_));
    return QJsonObject{{kCategory, payload}};
}

UploadRule::Match UploadRule::Match::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        throw DecodingError(QStringLiteral("rule match: not an object"));
    const QJsonObject object = value.toObject();
    const bool hasExtension = object.contains(kFileExtension);
    const bool hasCategory = object.contains(kCategory);
    if (hasExtension == hasCategory)
        throw DecodingError(QStringLiteral("rule match: needs exactly one case"));
    if (hasExtension) {
        const QJsonValue payload = object.value(kFileExtension);
        if (!payload.isObject())
            throw DecodingError(QStringLiteral("rule match: payload is not an object"));
        return fileExtension(json::requireString(payload.toObject(), "_0"));
    }
    const QJsonValue payload = object.value(kCategory);
    if (!payload.isObject())
        throw DecodingError(QStringLiteral("rule match: payload is not an object"));
    const QString raw = json::requireString(payload.toObject(), "_0");
    const auto parsed = FileCategories::fromRawValue(raw);
    if (!parsed)
        throw DecodingError(QStringLiteral("rule match: unknown category"));
    return category(*parsed);
}

QJsonObject UploadRule::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("id"), json::encodeUuid(id));
    object.insert(QStringLiteral("isEnabled"), isEnabled);
    object.insert(QStringLiteral("match"), match.toJson());
    object.insert(QStringLiteral("target"), target.toJson());
    return object;
}

UploadRule UploadRule::fromJson(const QJsonValue& value) {
    if (!value.isObject())
        throw DecodingError(QStringLiteral("rule: not an object"));
    const QJsonObject object = value.toObject();
    UploadRule rule;
    rule.id = json::requireUuid(object, "id");
    rule.isEnabled = json::requireBool(object, "isEnabled");
    if (!object.contains(QStringLiteral("match")))
        throw DecodingError(QStringLiteral("rule: missing match"));
    rule.match = Match::fromJson(object.value(QStringLiteral("match")));
    if (!object.contains(QStringLiteral("target")))
        throw DecodingError(QStringLiteral("rule: missing target"));
    rule.target = UploadTarget::fromJson(object.value(QStringLiteral("target")));
    return rule;
}

QJsonArray UploadRule::listToJson(const QList<UploadRule>& rules) {
    QJsonArray array;
    for (const UploadRule& rule : rules)
        array.append(rule.toJson());
    return array;
}

QList<UploadRule> UploadRule::listFromJson(const QJsonValue& value) {
    if (!value.isArray())
        throw DecodingError(QStringLiteral("rules: not an array"));
    QList<UploadRule> rules;
    for (const QJsonValue& element : value.toArray())
        rules.append(fromJson(element));
    return rules;
}

size_t qHash(const UploadRule::Match& match, size_t seed) noexcept {
    if (match.kind() == UploadRule::Match::Kind::fileExtension)
        return qHashMulti(seed, 0, match.extension());
    return qHashMulti(seed, 1, int(match.categoryValue()));
}

} // namespace tw
