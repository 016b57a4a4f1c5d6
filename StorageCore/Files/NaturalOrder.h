#pragma once

#include "StorageCore/Domain/FileModel.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QList>
#include <QString>

#include <limits>
#include <vector>

namespace tw {

/// The name order of a file browser: case-insensitive, runs of digits compared by their
/// numeric value, following the user's locale. Under the C locale (where the collator's
/// numeric mode does nothing) English rules are used instead. Not thread-safe: each model
/// keeps its own.
class NaturalOrder {
public:
    NaturalOrder();

    /// Negative, zero or positive as a sorts before, with or after b.
    int compare(const QString& a, const QString& b) const { return collator_.compare(a, b); }
    bool less(const QString& a, const QString& b) const { return compare(a, b) < 0; }
    /// A precomputed key whose compare() agrees with compare() on the names.
    QCollatorSortKey sortKey(const QString& name) const { return collator_.sortKey(name); }

    /// The locale whose rules are used.
    static QLocale effectiveLocale();

private:
    QCollator collator_;
};

/// Milliseconds of an item's modification date; an undated item counts as the distant past.
inline qint64 modificationKey(const FileItem& item) {
    return item.modifiedAt ? item.modifiedAt->toMSecsSinceEpoch()
                           : std::numeric_limits<qint64>::min();
}

/// Sorts newest first, undated items last, equal dates by name; stable.
void sortNewestFirst(QList<FileItem>& items, const NaturalOrder& order);
/// The same order for items held elsewhere: moves them out, sorted.
QList<FileItem> takeNewestFirst(const std::vector<FileItem*>& items, const NaturalOrder& order);

} // namespace tw
