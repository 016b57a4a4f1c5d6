#pragma once

#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/StorageProvider.h"

#include <QString>
#include <QUrl>

#include <memory>

namespace tw {

/// Plays an audio or video file that stays in cloud storage, without downloading it first.
///
/// The media player is given a loopback URL
/// `http://127.0.0.1:<port>/tessarow-stream/<token>/<name>` served by the source's own range
/// server: bound to 127.0.0.1 only, GET and HEAD only, answering only the unguessable paths it
/// handed out, and only requests whose Host is its own address and port and that carry no
/// Origin (403 otherwise: a page in a browser never reaches it through a rebound name). The first
/// answer of every request carries the content type, the length and byte-range support; each ranged
/// GET is served by a request task on a worker thread that reads the range through
/// StorageProvider::read in chunks of at most 2 MiB, one after another, handing each chunk to the
/// connection as it arrives. A connection that closes cancels its task (the request-to-task map),
/// so a seek stops the old read after at most the chunk under way. The main thread never waits on a
/// read: the player reads through its own HTTP source.
///
/// One thread ("tw-media-http") serves every connection with non-blocking sockets and poll(),
/// so a connection that sends nothing, or a byte now and then, costs a descriptor and nothing
/// else. At most maxConnections are held; a connection has 5 seconds to send a complete request
/// head (from its accept, or from the end of its previous answer); to admit a new connection
/// beyond the limit, the one that has waited longest for its head is closed (a connection that
/// asked for one of the paths handed out only when no other is left; one being answered never;
/// none before it had 100 ms to send its head). Other local processes can so neither exhaust
/// the process's descriptors nor keep the player out.
///
/// The head of the file (its first headSize bytes) can be read ahead with fetchHead() before
/// the player is given its URL: a ranged GET that starts inside the head is then answered from
/// those bytes at once, without waiting on the provider, and the reads go on from the end of
/// the head. So the player's first read, which Qt's back end waits for when the source is set,
/// never waits on the network.
///
/// Create with create(); the object is shared by the preview content that shows it and the
/// player host. Destroying it stops the server at once (its thread never blocks but in poll());
/// reads already under way are cancelled and end on their own worker threads.
class RemoteMediaSource {
public:
    /// The largest ranged read made at once.
    static constexpr qint64 chunkSize = 0x200000;
    /// The most connections the range server holds at once.
    static constexpr int maxConnections = 32;

    /// A source for the item, or none when its size is unknown or below 1 byte, or its type is
    /// unknown.
    static std::shared_ptr<RemoteMediaSource> create(const FileItem& item,
                                                     std::shared_ptr<StorageProvider> provider);
    ~RemoteMediaSource();
    RemoteMediaSource(const RemoteMediaSource&) = delete;
    RemoteMediaSource& operator=(const RemoteMediaSource&) = delete;

    const FileItem& item() const { return item_; }
    qint64 size() const { return size_; }
    /// The MIME type the server announces.
    const QString& contentType() const { return contentType_; }

    /// A new URL for the player to open, unique per call (a fresh random token). Starts the
    /// range server on first use; an invalid URL when no loopback port can be had.
    QUrl makeAsset();

    /// Cancels every running request task; their connections are closed.
    void cancelAll();

    /// How much of the file's start fetchHead() reads (less for a smaller file).
    static constexpr qint64 headSize = 0x80000;
    /// Reads the head of the file on a worker thread and keeps it for the range server;
    /// `onDone` runs on the receiver's thread (not once the receiver is gone) with true once
    /// the head is held, false when the read failed or was cancelled through the handle. A
    /// head already held is reported at once (in the next turn of the event loop).
    TaskHandle fetchHead(QObject* receiver, std::function<void(bool)> onDone);
    /// Whether the head is held.
    bool hasHead() const;
    /// Whether a read of the head is under way (for tests and diagnostics).
    bool fetchingHead() const;

    /// Number of request tasks that are running (for tests and diagnostics).
    int runningRequests() const;
    /// Number of connections the range server holds (for tests and diagnostics).
    int openConnections() const;

    struct Impl;

private:
    RemoteMediaSource(const FileItem& item, qint64 size, QString contentType,
                      std::shared_ptr<StorageProvider> provider);

    FileItem item_;
    qint64 size_;
    QString contentType_;
    std::shared_ptr<Impl> impl_;
};

} // namespace tw
