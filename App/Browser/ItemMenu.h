#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/ProviderKind.h"

#include <QList>

#include <functional>

class QMenu;
class QWidget;

namespace tw {

/// What the file tables offer for one item (the folder table by the account's service and the
/// shown folder's writability, the search results by the item alone), the one way their
/// context menus are built, and the texts of the rename and trash flows.
namespace ItemMenu {

enum class Entry {
    open,
    quickLook,
    openPreview,
    download,
    openWith,
    openInBrowser,
    separator,
    rename,
    trash,
};

/// The context menu of one item of the folder table, top to bottom (separators included).
QList<Entry> entries(const FileItem& item, ProviderKind provider, bool shownFolderWritable);
/// The context menu of one search result: it stands in no shown folder, so it offers neither
/// "Open", "Rename…" nor the trash; folders are neither downloaded nor opened elsewhere.
QList<Entry> resultEntries(const FileItem& item);
/// The menu of the entries (none when there are none), its actions named prefix + the entry
/// ("itemRename", "searchDownload"); choosing one calls run with its entry. The caller owns it.
QMenu* build(const QList<Entry>& entries, ProviderKind provider, const QString& namePrefix,
             const std::function<void(Entry)>& run, QWidget* parent);
/// The menu title of an entry ("Move to Trash" on Google Drive, "Delete…" on Telegram).
QString title(Entry entry, ProviderKind provider);
/// The item's web page when it is an http or https link (any other link is never opened).
std::optional<QUrl> webLink(const FileItem& item);
/// Google Drive renames every item; Telegram only the user's own channels ("c:" folders).
bool canRename(const FileItem& item, ProviderKind provider);
/// Files, or anything on Google Drive, and only inside a folder the user may change.
bool canTrash(const FileItem& item, ProviderKind provider, bool shownFolderWritable);

/// The rename prompt's message: "Enter a new name for “<name>”."
QString renameMessage(const FileItem& item);
/// The confirmation's title, destructive button and message.
struct TrashTexts {
    QString title;
    QString button;
    QString message;
};
TrashTexts trashTexts(const FileItem& item, ProviderKind provider, const QString& alias);

} // namespace ItemMenu

} // namespace tw
