#include "StorageCore/Files/FileSearch.h"

#include <QSet>

namespace tw {

struct FileSearch::Run {
    qint64 generation = 0;
    QString query;
    int pending = 0;
    QList<Answer> answers; // in finishing order
    QList<TaskHandle> tasks;
};

namespace {

/// Case- and diacritic-free form of a text: decomposed, combining marks dropped, case
/// folded. Plain ASCII, the common case, only needs its letters lowered.
QString folded(const QString& text) {
    bool ascii = true;
    for (QChar c : text) {
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return text.toLower();
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    QString stripped;
    stripped.reserve(decomposed.size());
    for (QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing)
            stripped.append(c);
    return stripped.toCaseFolded();
}

QStringList foldedWords(const QString& query) {
    QStringList words;
    QString word;
    for (QChar c : query) {
        if (c.isSpace()) {
            if (!word.isEmpty())
                words.append(folded(word));
            word.clear();
        } else {
            word.append(c);
        }
    }
    if (!word.isEmpty())
        words.append(folded(word));
    return words;
}

bool containsAll(const QString& foldedName, const QStringList& words) {
    if (words.isEmpty())
        return false;
    for (const QString& word : words)
        if (!foldedName.contains(word))
            return false;
    return true;
}

} // namespace

FileSearch::FileSearch(std::shared_ptr<StorageProvider> provider, QObject* parent)
    : QObject(parent), provider_(std::move(provider)) {}

FileSearch::~FileSearch() {
    cancelRun();
}

bool FileSearch::matches(const QString& name, const QString& query) {
    return containsAll(folded(name), foldedWords(query));
}

QList<FileItem> FileSearch::combine(const QList<QList<FileItem>>& answers, const QString& query,
                                    const NaturalOrder& order) {
    const QStringList words = foldedWords(query);
    qsizetype total = 0;
    for (const QList<FileItem>& page : answers)
        total += page.size();
    QList<FileItem> kept;
    kept.reserve(total);
    QSet<FileRef> seen;
    seen.reserve(total);
    for (const QList<FileItem>& page : answers) {
        for (const FileItem& item : page) {
            if (item.isFolder() || !containsAll(folded(item.name), words))
                continue;
            if (seen.contains(item.ref))
                continue;
            seen.insert(item.ref);
            kept.append(item);
        }
    }
    sortNewestFirst(kept, order);
    return kept;
}

void FileSearch::search(const QString& text, const QList<QUuid>& accounts) {
    const QString trimmed = text.trimmed();
    ++generation_;
    Q_EMIT generationChanged();
    cancelRun();

    setQuery(trimmed);
    setAccountIDs(accounts);
    setErrors({});
    if (trimmed.isEmpty() || accounts.isEmpty()) {
        setResults({});
        setPhase(Phase::idle);
        return;
    }
    setPhase(Phase::searching);

    auto run = std::make_shared<Run>();
    run->generation = generation_;
    run->query = trimmed;
    run->pending = int(accounts.size());
    run_ = run;
    for (const QUuid& account : accounts) {
        run->tasks.append(runTask(
            this,
            [provider = provider_, account, trimmed] {
                return provider->search(account, trimmed, std::nullopt);
            },
            [this, run, account](TaskResult<Page> result) {
                Answer answer{account, {}, {}};
                if (result.ok())
                    answer.items = std::move(result.value().items);
                else
                    answer.error = result.error();
                childFinished(run, std::move(answer));
            }));
    }
}

void FileSearch::childFinished(const std::shared_ptr<Run>& run, Answer answer) {
    run->answers.append(std::move(answer));
    if (--run->pending > 0)
        return;
    if (run != run_ || run->generation != generation_)
        return; // a newer search or a clear began meanwhile
    run_.reset();

    QList<QList<FileItem>> pages;
    QHash<QUuid, StorageError> errors;
    for (Answer& a : run->answers) {
        if (a.items)
            pages.append(std::move(*a.items));
        else if (a.error && !a.error->isCancelled())
            errors.insert(a.accountID, *a.error);
    }
    setErrors(errors);
    setResults(combine(pages, run->query, order_));
    setPhase(Phase::done);
}

void FileSearch::cancelRun() {
    if (!run_)
        return;
    for (const TaskHandle& task : std::as_const(run_->tasks))
        task.cancel();
    run_.reset();
}

void FileSearch::clear() {
    ++generation_;
    Q_EMIT generationChanged();
    cancelRun();
    setQuery(QString());
    setResults({});
    setErrors({});
    setPhase(Phase::idle);
}

void FileSearch::remove(const FileRef& ref) {
    QList<FileItem> kept = results_;
    if (kept.removeIf([&](const FileItem& item) { return item.ref == ref; }) > 0)
        setResults(kept);
}

void FileSearch::setQuery(const QString& query) {
    if (query_ == query)
        return;
    query_ = query;
    Q_EMIT queryChanged();
}

void FileSearch::setResults(const QList<FileItem>& results) {
    if (results_ == results)
        return;
    results_ = results;
    Q_EMIT resultsChanged();
}

void FileSearch::setPhase(Phase phase) {
    if (phase_ == phase)
        return;
    phase_ = phase;
    Q_EMIT phaseChanged();
}

void FileSearch::setErrors(const QHash<QUuid, StorageError>& errors) {
    if (errors_ == errors)
        return;
    errors_ = errors;
    Q_EMIT errorsChanged();
}

void FileSearch::setAccountIDs(const QList<QUuid>& accountIDs) {
    if (accountIDs_ == accountIDs)
        return;
    accountIDs_ = accountIDs;
    Q_EMIT accountIDsChanged();
}

} // namespace tw
