#pragma once

#include <QList>
#include <QUrl>

class QDropEvent;
class QMimeData;

namespace tw {

/// How every drop target of the application takes local files: only the local files a drag
/// carries count (anything else is not ours to take), and they are always taken as a copy,
/// so the application the drag came from never deletes the user's files as if moved (a drag
/// that offers no copy is refused).
namespace LocalFileDrop {

/// The local files a drag carries.
QList<QUrl> files(const QMimeData* data);
/// Accepts a drag enter, move or drop event as a copy when it carries local files, offers a
/// copy and allowed is true, and returns those files; otherwise ignores it and returns none.
QList<QUrl> accept(QDropEvent* event, bool allowed = true);

} // namespace LocalFileDrop

} // namespace tw
