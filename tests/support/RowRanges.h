#pragma once
// The row ranges an item model announced through a signal spy, for tests of list models that
// must insert, remove and mark changed rows as ranges.

#include <QModelIndex>
#include <QSignalSpy>
#include <QStringList>

namespace tw::test {

/// Each recorded signal's rows as "first-last"; firstArgument is the position of the first row
/// (0 for dataChanged's index, 1 for rowsInserted/rowsRemoved after the parent).
inline QStringList ranges(const QSignalSpy& spy, int firstArgument) {
    QStringList out;
    for (const QList<QVariant>& signal : spy) {
        const QVariant first = signal.at(firstArgument);
        const QVariant last = signal.at(firstArgument + 1);
        const int a =
            first.canConvert<QModelIndex>() ? first.value<QModelIndex>().row() : first.toInt();
        const int b =
            last.canConvert<QModelIndex>() ? last.value<QModelIndex>().row() : last.toInt();
        out.append(QStringLiteral("%1-%2").arg(a).arg(b));
    }
    return out;
}

} // namespace tw::test
