// GIO stays inside this file: its headers clash with Qt's keywords.
#include "App/Model/ApplicationLauncher.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <QMimeDatabase>

namespace tw {

namespace {

QList<ApplicationInfo> fromList(GList* list) {
    QList<ApplicationInfo> apps;
    for (GList* node = list; node; node = node->next) {
        auto* info = G_APP_INFO(node->data);
        if (!g_app_info_should_show(info) || !g_app_info_get_id(info))
            continue;
        ApplicationInfo app;
        app.id = QString::fromUtf8(g_app_info_get_id(info));
        app.name = QString::fromUtf8(g_app_info_get_display_name(info));
        if (GIcon* icon = g_app_info_get_icon(info); icon && G_IS_THEMED_ICON(icon)) {
            const gchar* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon));
            if (names && names[0])
                app.iconName = QString::fromUtf8(names[0]);
        }
        if (!apps.contains(app))
            apps.append(app);
    }
    g_list_free_full(list, g_object_unref);
    return apps;
}

} // namespace

QList<ApplicationInfo> DesktopApplicationLauncher::recommended(const QString& mimeType) const {
    // The applications whose entries name the type or one it inherits from (a Markdown file
    // is also plain text), read from the entries themselves; GIO's own type index is not
    // relied on, as it misses entries outside the system's usual folders.
    QStringList accepted{mimeType};
    const QMimeType type = QMimeDatabase().mimeTypeForName(mimeType);
    if (type.isValid()) {
        accepted.append(type.aliases());
        accepted.append(type.allAncestors());
    }
    QList<ApplicationInfo> exact;
    QList<ApplicationInfo> inherited;
    GList* all = g_app_info_get_all();
    for (GList* node = all; node; node = node->next) {
        auto* info = G_APP_INFO(node->data);
        const char** types = g_app_info_get_supported_types(info);
        int best = -1;
        for (int i = 0; types && types[i]; ++i) {
            const int rank = int(accepted.indexOf(QString::fromUtf8(types[i])));
            if (rank >= 0 && (best < 0 || rank < best))
                best = rank;
        }
        if (best < 0)
            continue;
        GList* one = g_list_append(nullptr, g_object_ref(info));
        const QList<ApplicationInfo> app = fromList(one);
        (best == 0 ? exact : inherited).append(app);
    }
    g_list_free_full(all, g_object_unref);
    return exact + inherited;
}

QList<ApplicationInfo> DesktopApplicationLauncher::all() const {
    QList<ApplicationInfo> apps = fromList(g_app_info_get_all());
    std::sort(apps.begin(), apps.end(), [](const ApplicationInfo& a, const ApplicationInfo& b) {
        return a.name.localeAwareCompare(b.name) < 0;
    });
    return apps;
}

void DesktopApplicationLauncher::launch(const QString& applicationID, const QUrl& file) {
    GDesktopAppInfo* info = g_desktop_app_info_new(applicationID.toUtf8().constData());
    if (!info)
        throw LaunchError("The application is not installed.");
    GFile* target = g_file_new_for_path(file.toLocalFile().toUtf8().constData());
    GList* files = g_list_append(nullptr, target);
    GError* error = nullptr;
    const gboolean launched = g_app_info_launch(G_APP_INFO(info), files, nullptr, &error);
    g_list_free(files);
    g_object_unref(target);
    g_object_unref(info);
    if (!launched) {
        const std::string reason = error && error->message ? error->message : "Unknown error.";
        if (error)
            g_error_free(error);
        throw LaunchError(reason);
    }
}

} // namespace tw
