#pragma once

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

namespace tw {

/// Turns Unix signals (SIGTERM, SIGINT) into a Qt signal on the main thread: the handler only
/// writes the signal's number into a pipe (the one thing a handler may safely do), and a
/// QSocketNotifier on the other end emits received(). One watcher per process; its handlers
/// are restored to the defaults when it is destroyed.
class UnixSignalWatcher : public QObject {
    Q_OBJECT
public:
    explicit UnixSignalWatcher(std::initializer_list<int> numbers, QObject* parent = nullptr);
    ~UnixSignalWatcher() override;

    /// False when the pipe or a handler could not be set up (the signals keep their defaults).
    bool isActive() const { return notifier_ != nullptr; }

Q_SIGNALS:
    void received(int signal);

private:
    void drain();

    QList<int> signals_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace tw
