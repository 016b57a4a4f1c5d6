#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>

namespace tw {

/// Serves the activation socket of the instance lock on the main thread (QSocketNotifier, no
/// thread, no QtNetwork): each later start of the application connects, sends its message
/// (InstanceLock::activationMessage()) and closes its side; the listener answers "ok" and
/// emits activationRequested with the desktop's start-up tokens. Connections of another user,
/// longer than 4 KiB or silent for 5 s are dropped unanswered.
class ActivationListener : public QObject {
    Q_OBJECT
public:
    /// Serves `listener` (a listening, non-blocking socket it does not own).
    explicit ActivationListener(int listener, QObject* parent = nullptr);
    ~ActivationListener() override;

    /// Parses a message: true when it asks for an activation; tokens receives its
    /// "NAME=value" start-up tokens.
    static bool parse(const QByteArray& message, QHash<QByteArray, QByteArray>* tokens);

Q_SIGNALS:
    /// A later start asked to bring the application forward; tokens maps
    /// "XDG_ACTIVATION_TOKEN" / "DESKTOP_STARTUP_ID" to the values it was given.
    void activationRequested(const QHash<QByteArray, QByteArray>& tokens);

private:
    void acceptPending();
    void readFrom(int fd);
    void drop(int fd);

    struct Connection;
    int listener_;
    QObject* listenerNotifier_ = nullptr;
    QHash<int, Connection*> connections_;
};

} // namespace tw
