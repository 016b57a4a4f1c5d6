#include "StorageCore/Files/FileSearch.h"

#include <QSet>

#include <array>

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
/// folded.
QString foldedSlowly(const QString& text) {
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    QString stripped;
    stripped.reserve(decomposed.size());
    for (QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing)
            stripped.append(c);
    return stripped.toCaseFolded();
}

/// The folded form of each Latin-1 character, by the rule above. Names made only of these
/// characters (nearly all names) are folded character by character with it: decomposition
/// and simple case folding work per character, and the reordering of combining marks does
/// not matter once they are dropped.
const std::array<char16_t, 256>& latin1Folding() {
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> t{};
        for (int c = 0; c < 256; ++c) {
            const QString f = foldedSlowly(QString(QChar(c)));
            t[size_t(c)] = f.size() == 1 ? f[0].unicode() : char16_t(c);
        }
        return t;
    }();
    return table;
}

/// Folds text into `out` (whose storage is reused from call to call).
void foldInto(const QString& text, QString& out) {
    const auto& table = latin1Folding();
    out.resize(text.size());
    QChar* write = out.data();
    for (QChar c : text) {
        if (c.unicode() >= 0x100) {
            out = foldedSlowly(text);
            return;
        }
        *write++ = QChar(table[c.unicode()]);
    }
}

QString folded(const QString& text) {
    QString out;
    foldInto(text, out);
    return out;
}

/// The words of a query, folded once.
struct QueryWords {
    QStringList words;

    explicit QueryWords(const QString& query) {
        QString word;
        const auto flush = [&] {
            if (!word.isEmpty())
                words.append(folded(word));
            word.clear();
        };
        for (QChar c : query) {
            if (c.isSpace())
                flush();
            else
                word.append(c);
        }
        flush();
    }

    /// `scratch` holds the folded name; pass the same string for every name.
    bool matchedBy(const QString& name, QString& scratch) const {
        if (words.isEmpty())
            return false;
        foldInto(name, scratch);
        for (const QString& word : words)
            if (!scratch.contains(word))
                return false;
        return true;
    }
};

} // namespace

FileSearch::FileSearch(std::shared_ptr<StorageProvider> provider, QObject* parent)
    : QObject(parent), provider_(std::move(provider)) {}

FileSearch::~FileSearch() {
    cancelRun();
}

bool FileSearch::matches(const QString& name, const QString& query) {
    QString scratch;
    return QueryWords(query).matchedBy(name, scratch);
}

QList<FileItem> FileSearch::combine(QList<QList<FileItem>> answers, const QString& query,
                                    const NaturalOrder& order) {
    const QueryWords words(query);
    qsizetype total = 0;
    for (const QList<FileItem>& page : answers)
        total += page.size();
    std::vector<FileItem*> kept;
    kept.reserve(size_t(total));
    QSet<FileRef> seen;
    seen.reserve(total);
    QString scratch;
    for (QList<FileItem>& page : answers) {
        for (FileItem& item : page) {
            if (item.isFolder() || !words.matchedBy(item.name, scratch))
                continue;
            const qsizetype before = seen.size();
            seen.insert(item.ref);
            if (seen.size() == before)
                continue; // the same item again: the first one stays
            kept.push_back(&item);
        }
    }
    return takeNewestFirst(kept, order);
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

    QList<QList<FileItem>> pages;
    QHash<QUuid, StorageError> errors;
    for (Answer& a : run->answers) {
        if (a.items)
            pages.append(std::move(*a.items));
        else if (a.error && !a.error->isCancelled())
            errors.insert(a.accountID, *a.error);
    }
    run->answers.clear();
    // Merging and ranking tens of thousands of hits would stall the window: it runs as a task
    // of its own. The run stays current meanwhile, so a newer search or a clear drops it.
    run->tasks = {runTask(
        this,
        [pages = std::move(pages), query = run->query]() mutable {
            const NaturalOrder order; // a collator per thread
            return combine(std::move(pages), query, order);
        },
        [this, run, errors](TaskResult<QList<FileItem>> result) {
            if (run != run_ || run->generation != generation_)
                return;
            run_.reset();
            if (!result.ok() && result.error().isCancelled())
                return;
            setErrors(errors);
            setResults(result.ok() ? result.value() : QList<FileItem>());
            setPhase(Phase::done);
        })};
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
