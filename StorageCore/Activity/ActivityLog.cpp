#include "StorageCore/Activity/ActivityLog.h"

#include "StorageCore/Domain/JsonCoding.h"
#include "StorageCore/Persistence/DocumentLoader.h"

#include <QJsonArray>
#include <QLoggingCategory>

namespace tw {

Q_LOGGING_CATEGORY(lcActivity, "Activity")

namespace {

const QString kActivityKey = QStringLiteral("activity");

struct KindInfo {
    ActivityEvent::Kind kind;
    const char* raw;
    const char* symbol;
};

const KindInfo kKinds[] = {
    {ActivityEvent::Kind::uploaded, "uploaded", "arrow.up.circle"},
    {ActivityEvent::Kind::downloaded, "downloaded", "arrow.down.circle"},
    {ActivityEvent::Kind::createdFolder, "createdFolder", "folder.badge.plus"},
    {ActivityEvent::Kind::renamed, "renamed", "pencil"},
    {ActivityEvent::Kind::moved, "moved", "folder"},
    {ActivityEvent::Kind::trashed, "trashed", "trash"},
    {ActivityEvent::Kind::connectedAccount, "connectedAccount", "link"},
    {ActivityEvent::Kind::reconnectedAccount, "reconnectedAccount", "link"},
    {ActivityEvent::Kind::disconnectedAccount, "disconnectedAccount", "link.badge.minus"},
};

} // namespace

namespace ActivityEventKinds {

const QList<ActivityEvent::Kind>& allCases() {
    static const QList<ActivityEvent::Kind> all = [] {
        QList<ActivityEvent::Kind> list;
        for (const auto& k : kKinds)
            list.append(k.kind);
        return list;
    }();
    return all;
}

QString rawValue(ActivityEvent::Kind kind) {
    return QString::fromLatin1(kKinds[int(kind)].raw);
}

std::optional<ActivityEvent::Kind> fromRawValue(const QString& raw) {
    for (const auto& k : kKinds)
        if (raw == QLatin1String(k.raw))
            return k.kind;
    return std::nullopt;
}

} // namespace ActivityEventKinds

// ---- ActivityEvent ------------------------------------------------------------------------

QString ActivityEvent::summary() const {
    const QString item = itemName ? QStringLiteral("\u201C") + *itemName + QStringLiteral("\u201D")
                                  : QStringLiteral("an item");
    const QString& alias = accountAlias;
    switch (kind) {
    case Kind::uploaded:
        return QStringLiteral("Uploaded ") + item + QStringLiteral(" to ") + alias;
    case Kind::downloaded:
        return QStringLiteral("Downloaded ") + item + QStringLiteral(" from ") + alias;
    case Kind::createdFolder:
        return QStringLiteral("Created folder ") + item + QStringLiteral(" in ") + alias;
    case Kind::renamed:
        return QStringLiteral("Renamed ") + item + QStringLiteral(" in ") + alias;
    case Kind::moved:
        return QStringLiteral("Moved ") + item + QStringLiteral(" in ") + alias;
    case Kind::trashed:
        return QStringLiteral("Moved ") + item + QStringLiteral(" to trash in ") + alias;
    case Kind::connectedAccount:
        return QStringLiteral("Connected ") + alias;
    case Kind::reconnectedAccount:
        return QStringLiteral("Reconnected ") + alias;
    case Kind::disconnectedAccount:
        return QStringLiteral("Disconnected ") + alias;
    }
    return alias;
}

QString ActivityEvent::symbolName() const {
    return QString::fromLatin1(kKinds[int(kind)].symbol);
}

QJsonObject ActivityEvent::toJson() const {
    QJsonObject object{{QStringLiteral("id"), json::encodeUuid(id)},
                       {QStringLiteral("kind"), ActivityEventKinds::rawValue(kind)},
                       {QStringLiteral("accountAlias"), accountAlias},
                       {QStringLiteral("date"), json::encodeDate(date)}};
    if (accountID)
        object.insert(QStringLiteral("accountID"), json::encodeUuid(*accountID));
    if (itemName)
        object.insert(QStringLiteral("itemName"), *itemName);
    return object;
}

ActivityEvent ActivityEvent::fromJson(const QJsonObject& object) {
    ActivityEvent event;
    event.id = json::requireUuid(object, "id");
    const auto kind = ActivityEventKinds::fromRawValue(json::requireString(object, "kind"));
    if (!kind)
        throw DecodingError(QStringLiteral("member \"kind\": unknown kind"));
    event.kind = *kind;
    const QJsonValue account = object.value(QLatin1String("accountID"));
    if (!account.isUndefined() && !account.isNull())
        event.accountID = json::decodeUuid(account, "accountID");
    event.accountAlias = json::requireString(object, "accountAlias");
    event.itemName = json::optionalString(object, "itemName");
    event.date = json::requireDate(object, "date");
    return event;
}

size_t qHash(const ActivityEvent& event, size_t seed) noexcept {
    return qHashMulti(seed, event.id, int(event.kind), event.accountAlias,
                      event.itemName.value_or(QString()));
}

// ---- ActivityLog --------------------------------------------------------------------------

ActivityLog::ActivityLog(std::shared_ptr<KeyValueStore> store, int limit, Clock now,
                         QObject* parent)
    : QObject(parent), store_(std::move(store)), limit_(limit), now_(std::move(now)) {
    auto loaded =
        loadDocument<QList<ActivityEvent>>(*store_, kActivityKey, [](const QJsonValue& v) {
            return decodeObjectArray<ActivityEvent>(v, &ActivityEvent::fromJson);
        });
    if (loaded.value)
        events_ = std::move(*loaded.value);
}

void ActivityLog::setEvents(QList<ActivityEvent> events) {
    if (events == events_)
        return;
    events_ = std::move(events);
    Q_EMIT eventsChanged();
}

void ActivityLog::record(ActivityEvent::Kind kind, const std::optional<StorageAccount>& account,
                         const std::optional<QString>& itemName) {
    ActivityEvent event;
    event.id = QUuid::createUuid();
    event.kind = kind;
    if (account) {
        event.accountID = account->id;
        event.accountAlias = account->alias;
    } else {
        event.accountAlias = QStringLiteral("Storage");
    }
    event.itemName = itemName;
    event.date = now_();

    QList<ActivityEvent> events = events_;
    events.prepend(event);
    const qsizetype keep = std::max(0, limit_);
    if (events.size() > keep)
        events.resize(keep);
    setEvents(std::move(events));

    QJsonArray array;
    for (const ActivityEvent& e : std::as_const(events_))
        array.append(e.toJson());
    try {
        store_->save(array, kActivityKey);
    } catch (const std::exception& error) {
        qCWarning(lcActivity) << "saving the activity log failed:" << error.what();
    }
}

void ActivityLog::clear() {
    setEvents({});
    try {
        store_->remove(kActivityKey);
    } catch (const std::exception& error) {
        qCWarning(lcActivity) << "removing the activity log failed:" << error.what();
    }
}

} // namespace tw
