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

void sortNewestFirst(QList<FileItem>& items, const NaturalOrder& order) {
    // Sort indices by a precomputed date and only consult the collator for equal dates.
    struct Slot {
        qint64 date;
        qsizetype index;
    };
    std::vector<Slot> slots;
    slots.reserve(size_t(items.size()));
    for (qsizetype i = 0; i < items.size(); ++i)
        slots.push_back({modificationKey(items[i]), i});
    std::stable_sort(slots.begin(), slots.end(), [&](const Slot& a, const Slot& b) {
        if (a.date != b.date)
            return a.date > b.date;
        return order.less(items[a.index].name, items[b.index].name);
    });
    QList<FileItem> sorted;
    sorted.reserve(items.size());
    for (const Slot& s : slots)
        sorted.append(std::move(items[s.index]));
    items = std::move(sorted);
}

} // namespace tw
