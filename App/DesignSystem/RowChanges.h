#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QSet>

#include <functional>
#include <type_traits>

namespace tw {

/// What a list model announces while its rows change; each model fills it with its own
/// protected begin…/end… calls and its dataChanged.
struct RowSignals {
    std::function<void(int first, int last)> beginRemove;
    std::function<void()> endRemove;
    std::function<void(int first, int last)> beginInsert;
    std::function<void()> endInsert;
    std::function<void()> beginReset;
    std::function<void()> endReset;
    std::function<void(int first, int last)> changed;
};

/// Brings `rows` to `next` the way views keep their state: rows whose key is gone are removed
/// and new keys inserted, each contiguous run as one range, and only rows whose value changed
/// are marked changed. Rows that change their order among themselves reset the list.
template <typename Row, typename KeyOf>
void applyRowChanges(QList<Row>& rows, QList<Row> next, KeyOf keyOf, const RowSignals& out) {
    using Key = std::decay_t<decltype(keyOf(next.first()))>;
    QSet<Key> nextKeys;
    for (const Row& row : next)
        nextKeys.insert(keyOf(row));

    // Removals, from the end so that the rows before keep their numbers.
    for (int last = int(rows.size()) - 1; last >= 0;) {
        if (nextKeys.contains(keyOf(rows.at(last)))) {
            --last;
            continue;
        }
        int first = last;
        while (first > 0 && !nextKeys.contains(keyOf(rows.at(first - 1))))
            --first;
        out.beginRemove(first, last);
        rows.remove(first, last - first + 1);
        out.endRemove();
        last = first - 1;
    }

    // What is left must keep its order in the new list.
    QSet<Key> kept;
    for (const Row& row : rows)
        kept.insert(keyOf(row));
    qsizetype at = 0;
    for (const Row& row : next) {
        if (!kept.contains(keyOf(row)))
            continue;
        if (keyOf(rows.at(at)) != keyOf(row)) {
            out.beginReset();
            rows = std::move(next);
            out.endReset();
            return;
        }
        ++at;
    }

    // Insertions: after the removals the old rows are the new list without its new keys.
    for (int first = 0; first < next.size();) {
        if (kept.contains(keyOf(next.at(first)))) {
            ++first;
            continue;
        }
        int last = first;
        while (last + 1 < next.size() && !kept.contains(keyOf(next.at(last + 1))))
            ++last;
        out.beginInsert(first, last);
        for (int i = first; i <= last; ++i)
            rows.insert(i, next.at(i));
        out.endInsert();
        first = last + 1;
    }

    // Changes, one range per run of changed rows.
    for (int first = 0; first < next.size();) {
        if (rows.at(first) == next.at(first)) {
            ++first;
            continue;
        }
        int last = first;
        while (last + 1 < next.size() && !(rows.at(last + 1) == next.at(last + 1)))
            ++last;
        for (int i = first; i <= last; ++i)
            rows[i] = next.at(i);
        out.changed(first, last);
        first = last + 1;
    }
}

/// A list model whose rows follow applyRowChanges(), announced with its own begin…/end… calls.
class RowChangingListModel : public QAbstractListModel {
protected:
    using QAbstractListModel::QAbstractListModel;

    template <typename Row, typename KeyOf>
    void applyRows(QList<Row>& rows, QList<Row> next, KeyOf keyOf) {
        applyRowChanges(
            rows, std::move(next), keyOf,
            RowSignals{
                [this](int first, int last) { beginRemoveRows({}, first, last); },
                [this] { endRemoveRows(); },
                [this](int first, int last) { beginInsertRows({}, first, last); },
                [this] { endInsertRows(); },
                [this] { beginResetModel(); },
                [this] { endResetModel(); },
                [this](int first, int last) { Q_EMIT dataChanged(index(first), index(last)); },
            });
    }
};

} // namespace tw
