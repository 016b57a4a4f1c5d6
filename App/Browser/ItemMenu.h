#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/ProviderKind.h"

#include <QList>

namespace tw {

/// What the folder table offers for one item, by the account's service and the shown
/// folder's writability, and the texts of its rename and trash flows.
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

/// The context menu of one item, top to bottom (separators included).
QList<Entry> entries(const FileItem& item, ProviderKind provider, bool shownFolderWritable);
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
