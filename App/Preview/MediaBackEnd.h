#pragma once

#include <QObject>

#include <functional>

namespace tw {

/// Qt's media back end made ready once per process, off the GUI thread: GStreamer is started
/// (its plug-in registry read) and the plug-ins a player, its audio output and its device
/// monitor build their pipelines from are loaded on a worker, so that the first player
/// created on the GUI thread finds them loaded. GStreamer allows both from any thread; Qt's
/// own objects (the media integration, players, outputs) stay on the GUI thread.
///
/// prepare() starts this; the application calls it once its window is up and idle.
/// whenReady() defers the creation of a player until it is done (and starts it when nobody
/// did). Where GStreamer cannot be loaded, preparing ends at once and Qt reports the problem
/// when the player is made, as before.
class MediaBackEnd {
public:
    /// How long after the window shows the application starts preparing.
    static constexpr int startDelayMs = 1000;
    /// Starts preparing on a worker unless it is under way or done (GUI thread only).
    static void prepare();
    /// Runs `onReady` on the GUI thread once the back end is prepared: in a later turn of the
    /// event loop, also when it is prepared already; never once `receiver` is gone.
    static void whenReady(QObject* receiver, std::function<void()> onReady);
    static bool isReady();

    /// The GStreamer plug-ins loaded ahead.
    static const QStringList& plugins();
};

} // namespace tw
