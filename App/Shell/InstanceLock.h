#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

namespace tw {

/// One running application per data folder. The holder keeps an exclusive flock() on
/// "instance.lock" in the data folder, which the kernel drops when the process ends in any way
/// (a kill -9 never leaves a lock behind), and listens on a Unix socket keyed by the folder
/// (activationSocketPath()) for the activations of later starts. Plain POSIX calls: nothing
/// here needs an application object, so a second start decides before building one.
class InstanceLock {
public:
    enum class State {
        /// This process holds the data folder.
        held,
        /// Another process holds it.
        heldElsewhere,
        /// No lock could be taken (no data folder, a read-only one): nothing is guarded.
        unavailable,
    };

    /// Tries once, without blocking: creates the folder (mode 0700) when missing, then takes
    /// the lock. When held and `listen` is true, also binds the activation socket (a stale
    /// socket file of a dead holder is replaced).
    static InstanceLock tryAcquire(const QString& dataFolder, bool listen = true);

    InstanceLock() = default;
    InstanceLock(InstanceLock&& other) noexcept;
    InstanceLock& operator=(InstanceLock&& other) noexcept;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    /// Releases the lock and removes the socket file.
    ~InstanceLock();

    State state() const { return state_; }
    /// The listening socket (non-blocking, close-on-exec) while held and listening; -1
    /// otherwise. Served by ActivationListener, which does not take it over.
    int listenerHandle() const { return listener_; }

    /// Where the holder of dataFolder listens: "instance.socket" in the folder, or, when that
    /// path is too long for a socket address, a name keyed by a hash of the folder in
    /// $XDG_RUNTIME_DIR (else the temporary folder).
    static QByteArray activationSocketPath(const QString& dataFolder);

    /// The message a later start sends: "activate" and the start-up token of the desktop
    /// (XDG_ACTIVATION_TOKEN or DESKTOP_STARTUP_ID) when it has one.
    static QByteArray activationMessage();

    /// A later start hands its activation to the holder: connects, sends message and waits
    /// for the holder's acknowledgement, at most `limit`. True once acknowledged.
    static bool handOver(const QString& dataFolder, const QByteArray& message,
                         std::chrono::milliseconds limit);

    enum class Start { primary, handedOver, unguarded, unanswered };
    /// What main() does before anything touches the data folder: take the lock (primary), or
    /// hand the activation to the holder (handedOver). A holder that is still starting (its
    /// socket not there yet) or that just died is tried again until `limit`; unanswered when
    /// a holder kept the lock but never answered.
    static Start claim(const QString& dataFolder, InstanceLock& lock,
                       std::chrono::milliseconds limit = std::chrono::seconds(10));

private:
    void release();

    State state_ = State::unavailable;
    int lockFd_ = -1;
    int listener_ = -1;
    QByteArray socketPath_;
};

} // namespace tw
