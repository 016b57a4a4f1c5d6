#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace tw {

/// The one-shot HTTP server that receives the browser's redirect at the end of a Google
/// sign-in. It listens on 127.0.0.1 only, on a port the system chooses, on its own thread
/// ("OAuthLoopback"); every socket is close-on-exec, so the browser it launches inherits
/// none. Each connection gets one HTTP/1.1 response and is closed. The first request that
/// is a GET of "/?…" (or "?…") carrying a "code" or an "error" item, and the state the server
/// was started with, is the callback: it is answered with the confirmation page and handed to
/// the waiter; later ones are answered the same way and ignored. A callback with another state
/// (another local process, an old tab) gets "400 Bad Request" and is ignored: the waiter keeps
/// waiting. Anything else gets "404 Not Found"; these answers have an empty body.
///
/// A request is read until the end of its request line (CR LF), so a line that arrives in
/// several pieces still counts; at most 16384 bytes are read per connection and at most
/// 8192 looked at. A connection that sends no complete request line within the connection
/// time limit gets the 404 answer; several connections are served side by side, so an idle
/// one never holds up the browser's. At most maxConnections are held: to admit another, the
/// oldest that has not sent its request line is closed (none before it had 100 ms), else the
/// oldest already answered; so connections that other processes open and reopen as soon as
/// they are cut never keep the browser's request out.
class LoopbackRedirectServer {
public:
    struct Limits {
        /// How long one connection may take to send its request line.
        std::chrono::milliseconds connectionTimeout = std::chrono::seconds(5);
        /// Connections held at once; to admit another, the longest waiting one is closed.
        int maxConnections = 32;
    };

    LoopbackRedirectServer();
    explicit LoopbackRedirectServer(Limits limits);
    /// Stops the server and waits for its thread.
    ~LoopbackRedirectServer();

    LoopbackRedirectServer(const LoopbackRedirectServer&) = delete;
    LoopbackRedirectServer& operator=(const LoopbackRedirectServer&) = delete;

    /// Starts listening and returns the redirect URI, "http://127.0.0.1:" and the port.
    /// With `expectedState`, only a callback whose first "state" item equals it is delivered.
    /// Throws StorageError authorizationFailed when the listener cannot be set up. Call once.
    QString start(std::optional<QString> expectedState = std::nullopt);

    /// The first callback URL. Returns at once when one has arrived already (even after
    /// stop()); nullopt when `deadline` passes first; throws StorageError cancelled when
    /// the server is stopped or the current task is cancelled first. One waiter at a time.
    std::optional<QUrl>
    waitForCallback(std::optional<std::chrono::steady_clock::time_point> deadline = {});

    /// Closes the listener and every connection, and ends a pending wait with cancelled.
    /// Returns without waiting for the thread; may be called any number of times.
    void stop();

    /// The redirect URI once started, else empty.
    QString redirectURI() const;
    /// The listening socket (for checks); -1 before start() and after the thread ended.
    int listeningSocket() const;

    /// The callback URL of a request: redirectURI followed by the request target, when the
    /// request is a GET of "/?…" or "?…" that carries a "code" or an "error" item.
    static std::optional<QUrl> callbackURL(const QByteArray& request, const QString& redirectURI);
    /// One complete HTTP/1.1 response with an HTML body.
    static QByteArray response(const QByteArray& status, const QByteArray& html);
    /// The page shown in the browser for a callback.
    static QByteArray confirmationPage();

private:
    void run(int listener, int wakeFd);
    void deliver(const QUrl& url);

    Limits limits_;
    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    std::optional<QUrl> result_;
    std::optional<QString> expectedState_;
    bool stopped_ = false;
    bool started_ = false;
    QString redirectURI_;
    int listener_ = -1;
    int wakeFd_ = -1;
    std::thread thread_;
};

} // namespace tw
