#pragma once

#include "StorageCore/Persistence/KeyValueStore.h"
#include "StorageCore/Transfers/UploadRouter.h"

#include <QObject>

#include <functional>
#include <memory>

namespace tw {

/// Owns the user's smart-upload rules and the upload history for the whole process, keeps
/// them in the documents "upload-rules" and "upload-history", and answers destination
/// questions with them. Every change is made in memory first and then written whole; a
/// failed write is dropped (the change stays for this run). Main thread only.
class SmartUploadStore : public QObject {
    Q_OBJECT

public:
    static inline const QString rulesKey = QStringLiteral("upload-rules");
    static inline const QString historyKey = QStringLiteral("upload-history");

    /// Loads both documents; a document that is missing or cannot be read starts empty.
    explicit SmartUploadStore(std::shared_ptr<KeyValueStore> store, QObject* parent = nullptr);

    const QList<UploadRule>& rules() const { return rules_; }
    const UploadHistory& history() const { return history_; }

    UploadSuggestion suggest(const LocalFile& file, const QList<UploadCandidate>& storages) const;

    /// Replaces every rule with an equal match (callers pass normalised extensions) by a new
    /// enabled rule at the end of the list; returns it.
    UploadRule addRule(const UploadRule::Match& match, const UploadTarget& target);
    /// Removes the rule; the list is written even when no rule had the id.
    void removeRule(const QUuid& id);
    /// Enables or disables the rule; an unknown id changes and writes nothing.
    void setRule(const QUuid& id, bool enabled);
    /// Counts a completed upload of the file to the target.
    void recordUpload(const LocalFile& file, const UploadTarget& target);
    /// Drops the rules and history entries of an account that is gone; writes both.
    void forget(const QUuid& accountID);
    /// Forgets everything and removes both documents.
    void reset();

Q_SIGNALS:
    void rulesChanged();
    void historyChanged();

private:
    // Every read and write of the two documents goes through these.
    // A document that cannot be read or decoded counts as absent; the store keeps the
    // unreadable file aside, so the next save does not overwrite it.
    void loadDocument(const QString& key, const std::function<void(const QJsonValue&)>& decode);
    void saveDocument(const QString& key, const QJsonValue& value);
    void removeDocument(const QString& key);

    void saveRules();
    void saveHistory();

    const std::shared_ptr<KeyValueStore> store_;
    QList<UploadRule> rules_;
    UploadHistory history_;
};

} // namespace tw
