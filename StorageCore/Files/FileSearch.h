#pragma once

#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Domain/StorageProvider.h"
#include "StorageCore/Files/NaturalOrder.h"

#include <QHash>
#include <QObject>

#include <memory>

namespace tw {

/// The observable model behind the search field: searches the file names of several
/// accounts at once and shows one merged list, newest first, keeping the failures of the
/// accounts that did not answer apart. Main thread only.
class FileSearch : public QObject {
    Q_OBJECT

public:
    enum class Phase { idle, searching, done };

    explicit FileSearch(std::shared_ptr<StorageProvider> provider, QObject* parent = nullptr);
    /// Searches still running are cancelled.
    ~FileSearch() override;

    const QString& query() const { return query_; }
    const QList<FileItem>& results() const { return results_; }
    Phase phase() const { return phase_; }
    const QHash<QUuid, StorageError>& errors() const { return errors_; }
    const QList<QUuid>& accountIDs() const { return accountIDs_; }
    qint64 generation() const { return generation_; }

    /// Searches the first page of each account's results for the trimmed text; the previous
    /// results stay until every account has answered and the answers are merged and ranked
    /// (on a worker: the phase stays searching until then). A newer search or clear() makes the
    /// answers of this one go unused.
    void search(const QString& text, const QList<QUuid>& accounts);
    /// Forgets the current search; a search still running drops its answers.
    void clear();
    /// Drops the results with this ref.
    void remove(const FileRef& ref);

    /// True when every white-space separated word of the query occurs in the name, ignoring
    /// case and diacritics. A query without words matches nothing.
    static bool matches(const QString& name, const QString& query);

    /// The merge step: the answered pages in the order they arrived, filtered (no folders,
    /// the word rule), de-duplicated by ref (first wins) and ranked newest first, undated
    /// last, equal dates by name; stable.
    static QList<FileItem> combine(QList<QList<FileItem>> answers, const QString& query,
                                   const NaturalOrder& order);

Q_SIGNALS:
    void queryChanged();
    void resultsChanged();
    void phaseChanged();
    void errorsChanged();
    void accountIDsChanged();
    void generationChanged();

private:
    struct Answer {
        QUuid accountID;
        std::optional<QList<FileItem>> items;
        std::optional<StorageError> error;
    };
    struct Run;

    void childFinished(const std::shared_ptr<Run>& run, Answer answer);
    void cancelRun();

    void setQuery(const QString& query);
    void setResults(const QList<FileItem>& results);
    void setPhase(Phase phase);
    void setErrors(const QHash<QUuid, StorageError>& errors);
    void setAccountIDs(const QList<QUuid>& accountIDs);

    const std::shared_ptr<StorageProvider> provider_;

    QString query_;
    QList<FileItem> results_;
    Phase phase_ = Phase::idle;
    QHash<QUuid, StorageError> errors_;
    QList<QUuid> accountIDs_;
    qint64 generation_ = 0;
    std::shared_ptr<Run> run_;
};

} // namespace tw
