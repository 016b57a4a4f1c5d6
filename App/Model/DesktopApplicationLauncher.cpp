// GIO stays inside this file: its headers clash with Qt's keywords.
#include "App/Model/ApplicationLauncher.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

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
    gchar* type = g_content_type_from_mime_type(mimeType.toUtf8().constData());
    if (!type)
        return {};
    QList<ApplicationInfo> apps = fromList(g_app_info_get_recommended_for_type(type));
    g_free(type);
    return apps;
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
