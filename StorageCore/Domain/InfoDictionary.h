#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

namespace tw {

/// The application's information dictionary: service credentials by key ("TWGoogleClientID",
/// "TWGoogleClientSecret", "TWTelegramAPIID", "TWTelegramAPIHash"). A missing or empty value
/// turns the service off.
class InfoDictionary {
public:
    virtual ~InfoDictionary() = default;
    /// The non-empty string under key, or nullopt.
    virtual std::optional<QString> string(const QString& key) const = 0;
};

/// An information dictionary read from Info.json: a JSON object of strings.
class JsonInfoDictionary : public InfoDictionary {
public:
    explicit JsonInfoDictionary(QJsonObject values) : values_(std::move(values)) {}
    /// Reads the first of the paths that holds a JSON object (a Qt resource path works too);
    /// an empty dictionary when none does.
    static JsonInfoDictionary fromFirstReadable(const QStringList& paths);

    std::optional<QString> string(const QString& key) const override;

private:
    QJsonObject values_;
};

} // namespace tw
