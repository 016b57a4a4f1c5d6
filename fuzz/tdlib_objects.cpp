// TDLib's JSON objects as the client library hands them over (replies and updates): the
// object parser and its accessors, the mapper from messages to file items, the file-id
// grammar and the error mapping, all fed the same bytes.

#include "FuzzCheck.h"

#include "TelegramProvider/TDLib/TDObject.h"
#include "TelegramProvider/TelegramMapper.h"

#include <QJsonArray>

#include <cstdlib>

using namespace tw;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "UTC", 1);
    return 0;
}

namespace {

const QUuid account(QStringLiteral("{6f1c2a52-3d4e-4b8a-9c0d-1e2f3a4b5c6d}"));

/// Every accessor on every member, one level down, as the session's update handler and the
/// browsing code read them. The accessors are total.
void readAll(const TDObject& object, int depth) {
    (void)object.type();
    (void)object.isError();
    (void)object.description();
    const QStringList keys = object.fields().keys();
    for (const QString& key : keys) {
        (void)object.string(key);
        const auto integer = object.integer(key);
        const QJsonValue value = object.value(key);
        if (value.isString())
            FUZZ_CHECK(integer == fuzz::referenceDecimal(value.toString()));
        (void)object.boolean(key);
        (void)object.bytes(key);
        (void)object.integers(key);
        const QList<TDObject> children = object.objects(key);
        if (value.isArray() && !children.isEmpty())
            FUZZ_CHECK(children.size() == value.toArray().size());
        if (depth > 0) {
            if (const auto child = object.object(key))
                readAll(*child, depth - 1);
            for (const TDObject& child : children)
                readAll(child, depth - 1);
        }
    }
}

void checkError(const TDObject& object) {
    const TDError error = TDError::fromObject(object);
    const StorageError mapped = error.storageError();
    FUZZ_CHECK(!mapped.isCancelled());
    if (const auto delay = error.retryAfter())
        FUZZ_CHECK(error.code() == 429 && *delay >= 0);
    FUZZ_CHECK(QByteArray(error.what()).startsWith("TDLib error "));
}

void checkMessage(const TDObject& message) {
    for (const std::optional<QString>& parent : {std::optional<QString>(),
                                                 std::optional<QString>(QStringLiteral("c:5"))}) {
        const auto mapped = TelegramMapper::item(message, account, parent);
        if (!mapped)
            continue;
        const auto& [item, handles] = *mapped;
        FUZZ_CHECK(!item.name.isEmpty() && !item.mimeType.isEmpty());
        FUZZ_CHECK(item.ref.accountID == account);
        // The file id names the message it came from, and reads back to it.
        FUZZ_CHECK(item.ref.providerID == TelegramMapper::fileID(handles.chatID, handles.messageID));
        const auto ref = TelegramMapper::messageRef(item.ref.providerID);
        FUZZ_CHECK(ref && ref->first == handles.chatID && ref->second == handles.messageID);
        FUZZ_CHECK(item.sizeBytes && *item.sizeBytes == handles.size);
        FUZZ_CHECK(item.parentIDs == (parent ? QList<QString>{*parent} : QList<QString>()));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray json = fuzz::bytes(data, size);
    const std::optional<TDObject> object = TDObject::fromJson(json);

    // Ids the model hands back are parsed too: a file id, and chat ids of both prefixes.
    const QString text = QString::fromUtf8(json);
    FUZZ_CHECK(TDObject::parseDecimal(text) == fuzz::referenceDecimal(text));
    if (const auto ref = TelegramMapper::messageRef(text))
        (void)TelegramMapper::fileID(ref->first, ref->second);
    if (const auto chat = TelegramIDs::chatID(text, TelegramIDs::ownedPrefix))
        FUZZ_CHECK(text.startsWith(TelegramIDs::ownedPrefix));

    if (!object)
        return 0;
    const auto again = TDObject::fromJson(object->jsonData());
    FUZZ_CHECK(again && *again == *object);

    readAll(*object, 3);
    checkError(*object);
    checkMessage(*object);
    // Lists of messages ("messages", "foundChatMessages") and an update's "message" and
    // "error" members.
    for (const TDObject& message : object->objects(QStringLiteral("messages")))
        checkMessage(message);
    if (const auto message = object->object(QStringLiteral("message")))
        checkMessage(*message);
    if (const auto error = object->object(QStringLiteral("error")))
        checkError(*error);
    return 0;
}
