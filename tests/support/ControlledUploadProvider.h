#pragma once

#include "tests/support/FakeStorageProvider.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace tw::test {

/// A FakeStorageProvider whose uploads are driven step by step by the test: every upload()
/// call parks on its worker thread and carries out the commands the test sends it (report
/// progress, succeed, fail), or ends with cancelled when its task is stopped. It counts the
/// uploads running at the same moment, so a test can check a limit was never exceeded.
class ControlledUploadProvider : public FakeStorageProvider {
public:
    /// One upload() call as seen by the test.
    class Call {
    public:
        QString fileName() const { return fileName_; }
        /// Has the provider call returned (with an item or an error)?
        bool hasEnded() const;
        /// Reports the bytes on the worker thread, as a back end does.
        void progress(qint64 bytes);
        void succeed();
        void fail(const StorageError& error);

    private:
        friend class ControlledUploadProvider;
        struct Command {
            enum class Kind { progress, succeed, fail } kind = Kind::progress;
            qint64 bytes = 0;
            std::optional<StorageError> error;
        };
        void push(Command command);

        QString fileName_;
        mutable std::mutex mutex_;
        std::condition_variable_any cv_;
        std::deque<Command> commands_;
        bool ended_ = false;
    };

    FileItem upload(const QUuid& accountID, const LocalFile& file,
                    const std::optional<QString>& parentID,
                    const ProgressCallback& progress) override;

    /// Waits (processing main-thread events) until an upload of this file name has begun
    /// and not yet been handed out; nullptr after the timeout.
    std::shared_ptr<Call> waitForCall(const QString& fileName, int timeoutMs = 5000);
    /// Names of the uploads begun, in the order they began.
    QStringList startedNames() const;
    int runningNow() const;
    int mostRunningAtOnce() const;
    /// Uploads that go on after their task was asked to stop (as a back end in the middle of
    /// a chunk does) until the test ends them.
    void setIgnoreCancellation(bool ignore);

private:
    mutable std::mutex mutex_;
    std::deque<std::shared_ptr<Call>> unclaimed_;
    QStringList started_;
    int running_ = 0;
    int mostRunning_ = 0;
    bool ignoreCancellation_ = false;
};

} // namespace tw::test
