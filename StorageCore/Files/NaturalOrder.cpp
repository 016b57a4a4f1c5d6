#include "StorageCore/Files/NaturalOrder.h"

#include <algorithm>
#include <vector>

namespace tw {

QLocale NaturalOrder::effectiveLocale() {
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    return locale;
}

NaturalOrder::NaturalOrder() : collator_(effectiveLocale()) {
    collator_.setNumericMode(true);
    collator_.setCaseSensitivity(Qt::CaseInsensitive);
}

namespace {

/// Runs of equal dates at least this long are ordered by precomputed collation keys.
constexpr size_t kKeyedRun = 128;

/// Indices of the items in display order. Dates are compared as numbers; the collator is
/// only asked within runs of equal dates.
template <typename At>
std::vector<size_t> newestFirstOrder(size_t count, At at, const NaturalOrder& order) {
    struct Slot {
        qint64 date;
        size_t index;
    };
    std::vector<Slot> slots;
    slots.reserve(count);
    for (size_t i = 0; i < count; ++i)
        slots.push_back({modificationKey(at(i)), i});
    std::stable_sort(slots.begin(), slots.end(),
                     [](const Slot& a, const Slot& b) { return a.date > b.date; });

    std::vector<size_t> indices;
    indices.reserve(count);
    size_t runStart = 0;
    while (runStart < slots.size()) {
        size_t runEnd = runStart + 1;
        while (runEnd < slots.size() && slots[runEnd].date == slots[runStart].date)
            ++runEnd;
        const size_t length = runEnd - runStart;
        if (length >= kKeyedRun) {
            // A long run (undated items, a batch with one date): one collation key per item
            // costs less than a collator call per comparison.
            struct Keyed {
                QCollatorSortKey key;
                size_t index;
            };
            std::vector<Keyed> run;
            run.reserve(length);
            for (size_t i = runStart; i < runEnd; ++i)
                run.push_back({order.sortKey(at(slots[i].index).name), slots[i].index});
            std::stable_sort(run.begin(), run.end(), [](const Keyed& a, const Keyed& b) {
                return a.key.compare(b.key) < 0;
            });
            for (const Keyed& k : run)
                indices.push_back(k.index);
        } else {
            if (length > 1)
                std::stable_sort(slots.begin() + qsizetype(runStart),
                                 slots.begin() + qsizetype(runEnd),
                                 [&](const Slot& a, const Slot& b) {
                                     return order.less(at(a.index).name, at(b.index).name);
                                 });
            for (size_t i = runStart; i < runEnd; ++i)
                indices.push_back(slots[i].index);
        }
        runStart = runEnd;
    }
    return indices;
}

} // namespace

void sortNewestFirst(QList<FileItem>& items, const NaturalOrder& order) {
    const auto indices = newestFirstOrder(
        size_t(items.size()), [&](size_t i) -> const FileItem& { return items.at(qsizetype(i)); },
        order);
    QList<FileItem> sorted;
    sorted.reserve(items.size());
    for (size_t i : indices)
        sorted.append(std::move(items[qsizetype(i)]));
    items = std::move(sorted);
}

QList<FileItem> takeNewestFirst(const std::vector<FileItem*>& items, const NaturalOrder& order) {
    const auto indices = newestFirstOrder(
        items.size(), [&](size_t i) -> const FileItem& { return *items[i]; }, order);
    QList<FileItem> sorted;
    sorted.reserve(qsizetype(items.size()));
    for (size_t i : indices)
        sorted.append(std::move(*items[i]));
    return sorted;
}

} // namespace tw
