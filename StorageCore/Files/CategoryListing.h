#pragma once

#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Domain/StorageProvider.h"
#include "StorageCore/Files/NaturalOrder.h"

#include <QHash>
#include <QMap>
#include <QObject>

#include <functional>
#include <memory>

namespace tw {

/// The observable listing of one file category across several accounts: every account's
/// pages merged newest first, one next-page token per account, filled by itself up to
/// fillTarget items. Failures are kept per account; an account that fails does not keep
/// the others from being listed. Main thread only.
class CategoryListing : public QObject {
    Q_OBJECT

public:
    /// State of the first-page load; failures live in errors().
    enum class Phase { idle, loading, loaded };

    static constexpr qsizetype fillTarget = 20;
    static constexpr int maxFillCalls = 5;

    using ErrorHandler = std::function<void(const StorageError&, const QUuid& accountID)>;

    CategoryListing(FileCategory category, std::shared_ptr<StorageProvider> provider,
                    ErrorHandler onError, QObject* parent = nullptr);
    /// Requests still running are cancelled.
    ~CategoryListing() override;

    FileCategory category() const { return category_; }
    const QList<FileItem>& items() const { return items_; }
    Phase phase() const { return phase_; }
    bool isLoadingMore() const { return isLoadingMore_; }
    const QHash<QUuid, StorageError>& errors() const { return errors_; }
    const QList<QUuid>& accountIDs() const { return accountIDs_; }
    /// Next-page token per account that has further pages, in the order pages are asked.
    const QMap<QUuid, QString>& tokens() const { return tokens_; }
    bool hasMore() const { return !tokens_.isEmpty(); }
    qint64 generation() const { return generation_; }

    /// Loads the first page of every account at once, then fills up to fillTarget items
    /// with at most maxFillCalls next-page batches. loadFinished() tells when it has ended.
    void load(const QList<QUuid>& accounts);
    /// Fetches the next page of every account that has one, once. Returns false (and does
    /// nothing) unless the first pages are in, no batch is running and a token remains.
    bool loadMore();
    /// Abandons the requests still running. A first load that had not been answered leaves
    /// the listing in the phase it had before, so the next visit loads it again.
    void cancel();
    /// Drops every item with this ref.
    void remove(const FileRef& ref);

Q_SIGNALS:
    void itemsChanged();
    void phaseChanged();
    void isLoadingMoreChanged();
    void errorsChanged();
    void accountIDsChanged();
    void tokensChanged();
    void generationChanged();
    /// The current load (first pages and filling) has ended, however it ended.
    void loadFinished();

private:
    struct Batch;
    using Kept = QList<QPair<QUuid, QList<FileItem>>>;

    std::shared_ptr<Batch> startBatch(const QList<QPair<QUuid, std::optional<QString>>>& pairs,
                                      std::function<void(Kept)> done);
    /// Asks every request of the batch to stop.
    static void cancelBatch(const std::shared_ptr<Batch>& batch);
    void answerArrived(const std::shared_ptr<Batch>& batch, const QUuid& account,
                       TaskResult<Page> result);
    void firstPagesDone(Kept kept);
    void nextPagesDone(Kept kept);
    void continueFilling();
    void finishLoad();

    void setItemsSorted(QList<FileItem> items);
    void setPhase(Phase phase);
    void setLoadingMore(bool loading);

    const FileCategory category_;
    const std::shared_ptr<StorageProvider> provider_;
    const ErrorHandler onError_;
    NaturalOrder order_;

    QList<FileItem> items_;
    Phase phase_ = Phase::idle;
    bool isLoadingMore_ = false;
    QHash<QUuid, StorageError> errors_;
    QList<QUuid> accountIDs_;
    QMap<QUuid, QString> tokens_;
    qint64 generation_ = 0;

    Phase settledPhase_ = Phase::idle;
    std::shared_ptr<Batch> firstBatch_;
    std::shared_ptr<Batch> nextBatch_;
    bool loadRunning_ = false;
    bool filling_ = false;
    int fillCalls_ = 0;
};

} // namespace tw
