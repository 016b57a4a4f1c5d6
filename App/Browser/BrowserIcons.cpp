#include "App/Browser/BrowserIcons.h"

#include "App/DesignSystem/SymbolIcons.h"

#include <QHash>
#include <QStringList>

namespace tw::BrowserIcons {

namespace {

const QHash<QString, QStringList>& themeNames() {
    static const QHash<QString, QStringList> names{
        {QStringLiteral("house"), {QStringLiteral("go-home"), QStringLiteral("user-home")}},
        {QStringLiteral("folder.badge.plus"), {QStringLiteral("folder-new")}},
        {QStringLiteral("icloud.and.arrow.up"),
         {QStringLiteral("document-send"), QStringLiteral("go-up")}},
        {QStringLiteral("photo.on.rectangle"), {QStringLiteral("image-x-generic")}},
        {QStringLiteral("film.stack"), {QStringLiteral("video-x-generic")}},
        {QStringLiteral("music.note.list"), {QStringLiteral("audio-x-generic")}},
        {QStringLiteral("doc.on.doc"), {QStringLiteral("x-office-document")}},
        {QStringLiteral("archivebox"), {QStringLiteral("package-x-generic")}},
        {QStringLiteral("wifi.slash"), {QStringLiteral("network-offline")}},
        {QStringLiteral("exclamationmark.triangle.fill"), {QStringLiteral("dialog-warning")}},
        {QStringLiteral("folder"), {QStringLiteral("folder")}},
        {QStringLiteral("chevron.left"), {QStringLiteral("go-previous")}},
        {QStringLiteral("plus"), {QStringLiteral("list-add")}},
        {QStringLiteral("arrow.up.circle"), {QStringLiteral("go-up")}},
    };
    return names;
}

} // namespace

QIcon icon(const QString& symbol) {
    if (!SymbolIcons::themeName(symbol).isEmpty())
        return SymbolIcons::icon(symbol);
    for (const QString& name : themeNames().value(symbol)) {
        const QIcon themed = QIcon::fromTheme(name);
        if (!themed.isNull())
            return themed;
    }
    return SymbolIcons::icon(symbol);
}

} // namespace tw::BrowserIcons
