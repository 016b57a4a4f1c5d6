#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/StorageError.h"
#include "StorageCore/Transfers/UploadTarget.h"

#include <QDateTime>
#include <QStringList>
#include <QUuid>

#include <optional>

namespace tw {

/// One queued upload. A value: copies are snapshots of the queue's entry.
struct UploadJob {
    struct State {
        enum class Kind { queued, uploading, completed, cancelled, failed };
        Kind kind = Kind::queued;
        std::optional<StorageError> error; // failed only: the error of the failed attempt

        static State queued() { return {Kind::queued, {}}; }
        static State uploading() { return {Kind::uploading, {}}; }
        static State completed() { return {Kind::completed, {}}; }
        static State cancelled() { return {Kind::cancelled, {}}; }
        static State failed(const StorageError& error) { return {Kind::failed, error}; }
        bool operator==(const State&) const = default;
    };

    QUuid id;
    LocalFile file;
    QUuid accountID;
    std::optional<QString> parentID; // none = the account's root
    /// The destination as shown to the user; stored and handed back, never parsed.
    QString destinationName;
    /// Names of the folders from the account's root down to the destination, as data, so
    /// the destination can be recorded without taking the shown text apart.
    QStringList folderPath;
    State state;
    qint64 bytesSent = 0;
    qint64 retryCount = 0;
    std::optional<FileItem> result;
    QDateTime createdAt;

    /// The destination: account, folder and folder path.
    UploadTarget target() const { return UploadTarget{accountID, parentID, folderPath}; }
    /// 1 when completed; else bytesSent ÷ size, at most 1 (0 for an empty file).
    double progress() const;
    bool isActive() const { return state.kind == State::Kind::queued || isUploading(); }
    bool isUploading() const { return state.kind == State::Kind::uploading; }
    bool isFinished() const { return !isActive(); }

    bool operator==(const UploadJob&) const = default;
};

} // namespace tw
