#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Transfers/UploadTarget.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace tw {

namespace LocalFiles {
/// The listing category of a local file, from its MIME type and name; none for folders and
/// files of no category.
std::optional<FileCategory> category(const LocalFile& file);
/// The file's extension in its canonical form (see UploadRule::Match::normalized).
QString normalizedExtension(const LocalFile& file);
} // namespace LocalFiles

/// A smart-upload rule: files that match go to the target. A disabled rule stays in the
/// list but never applies.
struct UploadRule {
    /// What a rule applies to: an extension, or a category.
    class Match {
    public:
        enum class Kind { fileExtension, category };

        static Match fileExtension(const QString& extension) {
            return Match(Kind::fileExtension, extension, FileCategory::photos);
        }
        static Match category(FileCategory category) {
            return Match(Kind::category, QString(), category);
        }

        Kind kind() const { return kind_; }
        /// The extension text as stored (fileExtension only).
        const QString& extension() const { return extension_; }
        /// The category (category only).
        FileCategory categoryValue() const { return category_; }

        /// Canonical form of an extension text: space separators and tabs trimmed at both
        /// ends (line breaks are kept), then leading and trailing "." removed, then lower
        /// case. " .PDF " gives "pdf", "..Tar.GZ" gives "tar.gz".
        static QString normalized(const QString& text);
        bool matches(const LocalFile& file) const;
        /// The same test for a file whose normalised extension and category are known.
        bool matches(const QString& fileExtension,
                     const std::optional<FileCategory>& fileCategory) const;

        /// Same case and equal payload; extensions compared exactly as stored.
        bool operator==(const Match& other) const {
            return kind_ == other.kind_ &&
                   (kind_ == Kind::fileExtension ? extension_ == other.extension_
                                                 : category_ == other.category_);
        }
        /// {"fileExtension": {"_0": text}} or {"category": {"_0": raw value}}
        QJsonObject toJson() const;
        /// Exactly one of the two members; throws DecodingError otherwise.
        static Match fromJson(const QJsonValue& value);

    private:
        Match(Kind kind, QString extension, FileCategory category)
            : kind_(kind), extension_(std::move(extension)), category_(category) {}
        Kind kind_;
        QString extension_;
        FileCategory category_;
    };

    QUuid id;
    Match match = Match::category(FileCategory::documents);
    UploadTarget target;
    bool isEnabled = true;

    bool operator==(const UploadRule&) const = default;
    /// {"id", "isEnabled", "match", "target"}, all required.
    QJsonObject toJson() const;
    static UploadRule fromJson(const QJsonValue& value);

    /// A rule list document: an array of rules in list order.
    static QJsonArray listToJson(const QList<UploadRule>& rules);
    static QList<UploadRule> listFromJson(const QJsonValue& value);
};
size_t qHash(const UploadRule::Match& match, size_t seed = 0) noexcept;

} // namespace tw
