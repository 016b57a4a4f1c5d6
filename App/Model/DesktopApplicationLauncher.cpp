// GIO stays inside this file: its headers clash with Qt's keywords. It is opened on first use,
// not linked (a start loads none of it before its window is drawn): only its declarations come
// from the headers, and every GIO and GObject function is called through the table below.
#include "App/Model/ApplicationLauncher.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <QLoggingCategory>
#include <QMimeDatabase>

#include <dlfcn.h>

#include <algorithm>
#include <optional>

namespace tw {

namespace {

Q_LOGGING_CATEGORY(lcLauncher, "Launcher")

#define TW_GIO_FUNCTIONS(X)                                                                    \
    X(g_app_info_get_all)                                                                      \
    X(g_app_info_get_display_name)                                                             \
    X(g_app_info_get_icon)                                                                     \
    X(g_app_info_get_id)                                                                       \
    X(g_app_info_get_supported_types)                                                          \
    X(g_app_info_launch)                                                                       \
    X(g_app_info_should_show)                                                                  \
    X(g_desktop_app_info_new)                                                                  \
    X(g_file_new_for_path)                                                                     \
    X(g_themed_icon_get_names)                                                                 \
    X(g_themed_icon_get_type)                                                                  \
    X(g_type_check_instance_is_a)                                                              \
    X(g_object_ref)                                                                            \
    X(g_object_unref)

struct Gio {
#define TW_GIO_MEMBER(name) decltype(&::name) name = nullptr;
    TW_GIO_FUNCTIONS(TW_GIO_MEMBER)
#undef TW_GIO_MEMBER
};

/// GIO, opened once (never closed); null when it cannot be.
const Gio* gio() {
    static const std::optional<Gio> loaded = []() -> std::optional<Gio> {
        void* handle = dlopen("libgio-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            qCWarning(lcLauncher) << "no GIO:" << dlerror();
            return std::nullopt;
        }
        Gio table;
        // dlsym looks through GIO's own dependencies (GObject) too.
#define TW_GIO_RESOLVE(name)                                                                   \
    table.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name));                   \
    if (!table.name) {                                                                         \
        qCWarning(lcLauncher) << "GIO has no " #name;                                          \
        return std::nullopt;                                                                   \
    }
        TW_GIO_FUNCTIONS(TW_GIO_RESOLVE)
#undef TW_GIO_RESOLVE
        return table;
    }();
    return loaded ? &*loaded : nullptr;
}

QList<ApplicationInfo> fromList(const Gio& g, GList* list) {
    QList<ApplicationInfo> apps;
    for (GList* node = list; node; node = node->next) {
        auto* info = static_cast<GAppInfo*>(node->data);
        if (!g.g_app_info_should_show(info) || !g.g_app_info_get_id(info))
            continue;
        ApplicationInfo app;
        app.id = QString::fromUtf8(g.g_app_info_get_id(info));
        app.name = QString::fromUtf8(g.g_app_info_get_display_name(info));
        GIcon* icon = g.g_app_info_get_icon(info);
        if (icon && g.g_type_check_instance_is_a(reinterpret_cast<GTypeInstance*>(icon),
                                                 g.g_themed_icon_get_type())) {
            const gchar* const* names =
                g.g_themed_icon_get_names(reinterpret_cast<GThemedIcon*>(icon));
            if (names && names[0])
                app.iconName = QString::fromUtf8(names[0]);
        }
        if (!apps.contains(app))
            apps.append(app);
    }
    g_list_free_full(list, g.g_object_unref);
    return apps;
}

} // namespace

QList<ApplicationInfo> DesktopApplicationLauncher::recommended(const QString& mimeType) const {
    const Gio* g = gio();
    if (!g)
        return {};
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
    GList* all = g->g_app_info_get_all();
    for (GList* node = all; node; node = node->next) {
        auto* info = static_cast<GAppInfo*>(node->data);
        const char** types = g->g_app_info_get_supported_types(info);
        int best = -1;
        for (int i = 0; types && types[i]; ++i) {
            const int rank = int(accepted.indexOf(QString::fromUtf8(types[i])));
            if (rank >= 0 && (best < 0 || rank < best))
                best = rank;
        }
        if (best < 0)
            continue;
        GList* one = g_list_append(nullptr, (g->g_object_ref)(info));
        const QList<ApplicationInfo> app = fromList(*g, one);
        (best == 0 ? exact : inherited).append(app);
    }
    g_list_free_full(all, g->g_object_unref);
    return exact + inherited;
}

QList<ApplicationInfo> DesktopApplicationLauncher::all() const {
    const Gio* g = gio();
    if (!g)
        return {};
    QList<ApplicationInfo> apps = fromList(*g, g->g_app_info_get_all());
    std::sort(apps.begin(), apps.end(), [](const ApplicationInfo& a, const ApplicationInfo& b) {
        return a.name.localeAwareCompare(b.name) < 0;
    });
    return apps;
}

void DesktopApplicationLauncher::launch(const QString& applicationID, const QUrl& file) {
    const Gio* g = gio();
    if (!g)
        throw LaunchError("The desktop's application registry (GIO) is not installed.");
    GDesktopAppInfo* info = g->g_desktop_app_info_new(applicationID.toUtf8().constData());
    if (!info)
        throw LaunchError("The application is not installed.");
    GFile* target = g->g_file_new_for_path(file.toLocalFile().toUtf8().constData());
    GList* files = g_list_append(nullptr, target);
    GError* error = nullptr;
    const gboolean launched =
        g->g_app_info_launch(reinterpret_cast<GAppInfo*>(info), files, nullptr, &error);
    g_list_free(files);
    g->g_object_unref(target);
    g->g_object_unref(info);
    if (!launched) {
        const std::string reason = error && error->message ? error->message : "Unknown error.";
        if (error)
            g_error_free(error);
        throw LaunchError(reason);
    }
}

} // namespace tw
