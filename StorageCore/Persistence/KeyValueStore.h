#pragma once

#include <QJsonValue>
#include <QString>

#include <optional>
#include <stdexcept>

namespace tw {

/// A failure of a store (file system, read, write or decoding). It stays inside StorageCore:
/// the owners of the documents decide what a failure means.
class StoreError : public std::runtime_error {
public:
    explicit StoreError(const QString& what) : std::runtime_error(what.toStdString()) {}
};

/// Small JSON documents saved and loaded by string key. The owners encode their values with
/// their toJson/fromJson functions and load through loadDocument() (DocumentLoader.h), which
/// sets an unreadable document aside instead of letting the next save overwrite it.
class KeyValueStore {
public:
    virtual ~KeyValueStore() = default;
    /// nullopt when nothing is stored under the key; throws StoreError for anything unreadable.
    virtual std::optional<QJsonValue> load(const QString& key) = 0;
    virtual void save(const QJsonValue& value, const QString& key) = 0;
    /// A key without a document is no error.
    virtual void remove(const QString& key) = 0;
    /// Keeps the document under key out of the way of later saves: moves it, unchanged, to a
    /// name of its own beside the others and returns that name (for the log). nullopt when
    /// there was nothing to move; throws StoreError when it could not be moved.
    virtual std::optional<QString> setAside(const QString& key) = 0;
};

} // namespace tw
