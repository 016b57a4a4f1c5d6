#include "App/Preview/MediaBackEnd.h"

#include "StorageCore/Concurrency/TaskRunner.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <dlfcn.h>

#include <vector>

Q_LOGGING_CATEGORY(lcMediaBackEnd, "MediaBackEnd")

namespace tw {

namespace {

enum class State { idle, preparing, ready };

struct Waiter {
    QPointer<QObject> receiver;
    std::function<void()> onReady;
};

State& state() {
    static State s = State::idle;
    return s;
}

std::vector<Waiter>& waiters() {
    static std::vector<Waiter> w;
    return w;
}

/// Starts GStreamer and loads the plug-ins; the library is found at run time (Qt's back end
/// links it; nothing here does).
void loadGStreamer() {
    void* library = ::dlopen("libgstreamer-1.0.so.0", RTLD_NOW | RTLD_GLOBAL);
    if (!library) {
        qCInfo(lcMediaBackEnd) << "GStreamer not loaded:" << ::dlerror();
        return;
    }
    using InitCheck = int (*)(int*, char***, void**);
    using LoadByName = void* (*)(const char*);
    using Unref = void (*)(void*);
    auto initCheck = reinterpret_cast<InitCheck>(::dlsym(library, "gst_init_check"));
    auto loadByName = reinterpret_cast<LoadByName>(::dlsym(library, "gst_plugin_load_by_name"));
    auto unref = reinterpret_cast<Unref>(::dlsym(library, "gst_object_unref"));
    // The library stays loaded: Qt's back end uses it for the rest of the process.
    if (!initCheck || !loadByName || !unref || !initCheck(nullptr, nullptr, nullptr)) {
        qCInfo(lcMediaBackEnd) << "GStreamer did not start";
        return;
    }
    for (const QString& name : MediaBackEnd::plugins()) {
        Cancellation::checkpoint();
        if (void* plugin = loadByName(name.toLatin1().constData()))
            unref(plugin);
    }
}

void finish() {
    state() = State::ready;
    std::vector<Waiter> ready;
    ready.swap(waiters());
    for (Waiter& waiter : ready)
        if (waiter.receiver)
            waiter.onReady();
}

} // namespace

const QStringList& MediaBackEnd::plugins() {
    // What a player's pipeline, its audio output (the automatic sink tries each audio system)
    // and Qt's device monitor create on the thread that makes them or sets their state:
    // the playback bins, the HTTP source, converters, sinks and device providers. Decoders
    // are loaded by GStreamer's streaming threads anyway. Names missing here are skipped.
    static const QStringList names{
        QStringLiteral("coreelements"),
        QStringLiteral("playback"),
        QStringLiteral("typefindfunctions"),
        QStringLiteral("soup"),
        QStringLiteral("app"),
        QStringLiteral("audioconvert"),
        QStringLiteral("audioresample"),
        QStringLiteral("volume"),
        QStringLiteral("autodetect"),
        QStringLiteral("pulseaudio"),
        QStringLiteral("alsa"),
        QStringLiteral("jack"),
        QStringLiteral("oss4"),
        QStringLiteral("ossaudio"),
        QStringLiteral("videoconvertscale"),
        QStringLiteral("videoconvert"),
        QStringLiteral("videoscale"),
        QStringLiteral("video4linux2"),
    };
    return names;
}

void MediaBackEnd::prepare() {
    if (state() != State::idle)
        return;
    state() = State::preparing;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // Sanitizer builds start no media ahead of need (their tests leave real playback out): a
    // player sets up what it needs itself, as without this preparation.
    QTimer::singleShot(0, QCoreApplication::instance(), [] { finish(); });
    return;
#endif
    // GStreamer on a worker; then, on the GUI thread, one turn each: Qt's media integration with
    // its device list, and a first player, made and dropped (the first of a process costs most: the
    // back end sets up its own element types and pipeline parts).
    runTask(
        QCoreApplication::instance(), [] { loadGStreamer(); },
        [](TaskResult<std::monostate>) {
            QObject* app = QCoreApplication::instance();
            QTimer::singleShot(0, app, [app] {
                (void)QMediaDevices::defaultAudioOutput();
                QTimer::singleShot(0, app, [app] {
                    delete new QMediaPlayer;
                    QTimer::singleShot(0, app, [] { finish(); });
                });
            });
        });
}

void MediaBackEnd::whenReady(QObject* receiver, std::function<void()> onReady) {
    if (state() == State::ready) {
        QMetaObject::invokeMethod(
            receiver, [onReady = std::move(onReady)] { onReady(); }, Qt::QueuedConnection);
        return;
    }
    waiters().push_back({receiver, std::move(onReady)});
    prepare();
}

bool MediaBackEnd::isReady() {
    return state() == State::ready;
}

} // namespace tw
