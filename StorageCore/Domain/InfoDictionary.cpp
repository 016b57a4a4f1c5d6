#include "StorageCore/Domain/InfoDictionary.h"

#include <QFile>
#include <QJsonDocument>

namespace tw {

JsonInfoDictionary JsonInfoDictionary::fromFirstReadable(const QStringList& paths) {
    for (const QString& path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
        if (document.isObject())
            return JsonInfoDictionary(document.object());
    }
    return JsonInfoDictionary(QJsonObject());
}

std::optional<QString> JsonInfoDictionary::string(const QString& key) const {
    const QJsonValue value = values_.value(key);
    if (!value.isString())
        return std::nullopt;
    const QString text = value.toString().trimmed();
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

} // namespace tw
