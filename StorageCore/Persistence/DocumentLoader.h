#pragma once

#include "StorageCore/Persistence/KeyValueStore.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <exception>
#include <optional>
#include <utility>

namespace tw {

/// The outcome of loadDocument(): the decoded value, or why there is none.
template <typename T> struct DocumentLoad {
    /// The decoded document; nullopt when nothing was stored or it could not be read.
    std::optional<T> value;
    /// A document existed but could not be read or decoded.
    bool failed = false;
    /// Where the unreadable document was moved (nullopt when it could not be moved).
    std::optional<QString> setAsideAs;
};

namespace detail {
/// Logs the failure and moves the document aside; returns the new name, if any.
std::optional<QString> setAsideUnreadable(KeyValueStore& store, const QString& key,
                                          const char* reason);
} // namespace detail

/// Loads the document under key and decodes it with `decode` (QJsonValue → T; throws on a
/// shape it does not accept). Never throws. A missing document gives an empty result. A
/// document that cannot be read or decoded is logged and set aside by the store (kept beside
/// the others under a dated name), so that the owner can start empty and its next save
/// does not overwrite what it could not read.
template <typename T, typename Decode>
DocumentLoad<T> loadDocument(KeyValueStore& store, const QString& key, Decode&& decode) {
    DocumentLoad<T> result;
    std::optional<QJsonValue> stored;
    try {
        stored = store.load(key);
    } catch (const std::exception& error) {
        result.failed = true;
        result.setAsideAs = detail::setAsideUnreadable(store, key, error.what());
        return result;
    }
    if (!stored)
        return result;
    try {
        result.value.emplace(std::forward<Decode>(decode)(*stored));
    } catch (const std::exception& error) {
        result.failed = true;
        result.setAsideAs = detail::setAsideUnreadable(store, key, error.what());
    }
    return result;
}

/// Decodes a JSON array of objects with T::fromJson-like `decodeItem` (QJsonObject → T).
/// Throws DecodingError for a value that is not an array or holds a non-object.
template <typename T, typename DecodeItem>
QList<T> decodeObjectArray(const QJsonValue& value, DecodeItem&& decodeItem);

namespace detail {
[[noreturn]] void throwNotArrayOfObjects();
} // namespace detail

template <typename T, typename DecodeItem>
QList<T> decodeObjectArray(const QJsonValue& value, DecodeItem&& decodeItem) {
    if (!value.isArray())
        detail::throwNotArrayOfObjects();
    QList<T> items;
    const QJsonArray array = value.toArray();
    items.reserve(array.size());
    for (const QJsonValue& element : array) {
        if (!element.isObject())
            detail::throwNotArrayOfObjects();
        items.append(decodeItem(element.toObject()));
    }
    return items;
}

} // namespace tw
