#include "StorageCore/Persistence/DocumentLoader.h"

#include "StorageCore/Domain/JsonCoding.h"

#include <QLoggingCategory>

namespace tw {

Q_DECLARE_LOGGING_CATEGORY(lcStore)

namespace detail {

std::optional<QString> setAsideUnreadable(KeyValueStore& store, const QString& key,
                                          const char* reason) {
    // The reason names members and offsets, never document contents.
    qCWarning(lcStore) << "the document" << key << "cannot be read:" << reason;
    try {
        return store.setAside(key);
    } catch (const std::exception& error) {
        // Setting aside needs the same folder rights as a save, so the next save fails too
        // and cannot overwrite the document.
        qCCritical(lcStore) << "the unreadable document" << key
                            << "could not be set aside:" << error.what();
        return std::nullopt;
    }
}

void throwNotArrayOfObjects() {
    throw DecodingError(QStringLiteral("not an array of objects"));
}

} // namespace detail
} // namespace tw
