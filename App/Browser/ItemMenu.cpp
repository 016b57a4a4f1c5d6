#include "App/Browser/ItemMenu.h"

#include <QAction>
#include <QMenu>

#include <iterator>

namespace tw::ItemMenu {

namespace {

/// The part of an action's object name after its prefix, in the order of Entry.
QString nameOf(Entry entry) {
    static const char* const names[] = {"Open",     "QuickLook", "OpenPreview",
                                        "Download", "OpenWith",  "OpenInBrowser",
                                        "",         "Rename",    "Trash"};
    static_assert(std::size(names) == size_t(Entry::trash) + 1);
    return QString::fromLatin1(names[size_t(entry)]);
}

} // namespace

std::optional<QUrl> webLink(const FileItem& item) {
    if (!item.webViewURL)
        return std::nullopt;
    const QUrl url = item.webViewURL->url();
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("https") && scheme != QLatin1String("http"))
        return std::nullopt;
    return url;
}

bool canRename(const FileItem& item, ProviderKind provider) {
    if (provider == ProviderKind::googleDrive)
        return true;
    return item.isFolder() && ProviderKinds::canRename(provider, item.ref.providerID);
}

bool canTrash(const FileItem& item, ProviderKind provider, bool shownFolderWritable) {
    return (!item.isFolder() || provider == ProviderKind::googleDrive) && shownFolderWritable;
}

QList<Entry> entries(const FileItem& item, ProviderKind provider, bool shownFolderWritable) {
    QList<Entry> list;
    if (item.isFolder()) {
        list.append(Entry::open);
    } else {
        list.append({Entry::quickLook, Entry::openPreview, Entry::download, Entry::openWith});
        if (webLink(item))
            list.append(Entry::openInBrowser);
    }
    if (canRename(item, provider))
        list.append({Entry::separator, Entry::rename});
    if (canTrash(item, provider, shownFolderWritable))
        list.append({Entry::separator, Entry::trash});
    return list;
}

QList<Entry> resultEntries(const FileItem& item) {
    QList<Entry> list{Entry::quickLook, Entry::openPreview};
    if (!item.isFolder())
        list.append({Entry::download, Entry::openWith});
    if (webLink(item))
        list.append(Entry::openInBrowser);
    return list;
}

QMenu* build(const QList<Entry>& entries, ProviderKind provider, const QString& namePrefix,
             const std::function<void(Entry)>& run, QWidget* parent) {
    if (entries.isEmpty())
        return nullptr;
    auto* menu = new QMenu(parent);
    menu->setObjectName(namePrefix + QStringLiteral("Menu"));
    for (Entry entry : entries) {
        if (entry == Entry::separator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(title(entry, provider));
        action->setObjectName(namePrefix + nameOf(entry));
        QObject::connect(action, &QAction::triggered, menu, [run, entry] { run(entry); });
    }
    return menu;
}

QString title(Entry entry, ProviderKind provider) {
    switch (entry) {
    case Entry::open:
        return QStringLiteral("Open");
    case Entry::quickLook:
        return QStringLiteral("Quick Look");
    case Entry::openPreview:
        return QStringLiteral("Open Preview");
    case Entry::download:
        return QStringLiteral("Download\u2026");
    case Entry::openWith:
        return QStringLiteral("Open With\u2026");
    case Entry::openInBrowser:
        return QStringLiteral("Open in Browser");
    case Entry::separator:
        return {};
    case Entry::rename:
        return QStringLiteral("Rename\u2026");
    case Entry::trash:
        return provider == ProviderKind::googleDrive ? QStringLiteral("Move to Trash")
                                                     : QStringLiteral("Delete\u2026");
    }
    return {};
}

QString renameMessage(const FileItem& item) {
    return QStringLiteral("Enter a new name for \u201c") + item.name + QStringLiteral("\u201d.");
}

TrashTexts trashTexts(const FileItem& item, ProviderKind provider, const QString& alias) {
    if (provider == ProviderKind::googleDrive)
        return {QStringLiteral("Move \u201c") + item.name + QStringLiteral("\u201d to the Trash?"),
                QStringLiteral("Move to Trash"),
                QStringLiteral("The item moves to the Google Drive trash of ") + alias +
                    QStringLiteral(". You can restore it from Google Drive for 30 days.")};
    return {QStringLiteral("Delete \u201c") + item.name + QStringLiteral("\u201d permanently?"),
            QStringLiteral("Delete"),
            ProviderKinds::displayName(ProviderKind::telegram) +
                QStringLiteral(" has no trash. The file is deleted from ") + alias +
                QStringLiteral(" for good and can't be recovered.")};
}

} // namespace tw::ItemMenu
