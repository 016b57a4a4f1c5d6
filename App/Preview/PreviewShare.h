#pragma once

#include <QUrl>

class QMimeData;

namespace tw::PreviewShare {

/// What the clipboard gets for a file: its URL (a URI list, the desktop file managers' own
/// "copied files" form, and the path as text), so pasting in a file manager copies the file.
QMimeData* fileMimeData(const QUrl& file);
/// Puts the file on the clipboard.
void copyToClipboard(const QUrl& file);
/// Shows the file selected in the desktop's file manager (freedesktop FileManager1 over the
/// session bus); where no file manager answers, opens the folder that holds it.
void showInFolder(const QUrl& file);

} // namespace tw::PreviewShare
