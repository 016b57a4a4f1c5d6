#pragma once

#include "StorageCore/Domain/Clock.h"
#include "StorageCore/Domain/StorageAccount.h"
#include "StorageCore/Persistence/KeyValueStore.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <memory>
#include <optional>

namespace tw {

/// One entry of the activity log.
struct ActivityEvent {
    enum class Kind {
        uploaded,
        downloaded,
        createdFolder,
        renamed,
        moved,
        trashed,
        connectedAccount,
        reconnectedAccount,
        disconnectedAccount,
    };

    QUuid id;
    Kind kind = Kind::uploaded;
    std::optional<QUuid> accountID;
    QString accountAlias;
    std::optional<QString> itemName;
    QDateTime date;

    /// One line for the home pane ("Uploaded “a.pdf” to Work").
    QString summary() const;
    /// Icon name drawn beside it (mapped to the icon theme by the views).
    QString symbolName() const;

    bool operator==(const ActivityEvent&) const = default;
    QJsonObject toJson() const;
    /// Throws DecodingError for a record of another shape.
    static ActivityEvent fromJson(const QJsonObject& object);
};
size_t qHash(const ActivityEvent& event, size_t seed = 0) noexcept;

namespace ActivityEventKinds {
const QList<ActivityEvent::Kind>& allCases();
QString rawValue(ActivityEvent::Kind kind);
std::optional<ActivityEvent::Kind> fromRawValue(const QString& raw);
} // namespace ActivityEventKinds

/// The recent things the user did, newest first, capped at a limit and kept in the store
/// under "activity". Lives on the main thread. It never reports an error: an unreadable
/// document is set aside and the log starts empty; a failed save or removal leaves the list
/// in memory authoritative until the next successful save.
class ActivityLog : public QObject {
    Q_OBJECT

public:
    ActivityLog(std::shared_ptr<KeyValueStore> store, int limit, Clock now,
                QObject* parent = nullptr);

    /// Newest first. A loaded list is kept as stored (the next record() cuts it to the limit).
    const QList<ActivityEvent>& events() const { return events_; }
    int limit() const { return limit_; }

    /// Adds an event at the front (alias "Storage" without an account), drops the oldest
    /// beyond the limit and saves.
    void record(ActivityEvent::Kind kind, const std::optional<StorageAccount>& account,
                const std::optional<QString>& itemName);
    /// Empties the log and removes its document.
    void clear();

Q_SIGNALS:
    void eventsChanged();

private:
    void setEvents(QList<ActivityEvent> events);

    std::shared_ptr<KeyValueStore> store_;
    int limit_;
    Clock now_;
    QList<ActivityEvent> events_;
};

} // namespace tw
