#include "App/DesignSystem/LocalFileDrop.h"

#include <QDropEvent>
#include <QMimeData>

namespace tw::LocalFileDrop {

QList<QUrl> files(const QMimeData* data) {
    QList<QUrl> files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            files.append(url);
    return files;
}

QList<QUrl> accept(QDropEvent* event, bool allowed) {
    // A drag that can only move its files is refused: taking them as a move would have the
    // source delete the user's originals.
    const bool copies = event->possibleActions().testFlag(Qt::CopyAction);
    QList<QUrl> taken = allowed && copies ? files(event->mimeData()) : QList<QUrl>();
    if (taken.isEmpty()) {
        event->ignore();
        return taken;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return taken;
}

} // namespace tw::LocalFileDrop
