#pragma once

#include "App/Preview/ImageDecoder.h"
#include "StorageCore/Concurrency/TaskRunner.h"

#include <QList>
#include <QObject>

#include <memory>
#include <optional>

class QTimer;

namespace tw {

/// Plays an animated image file, its frames decoded by tasks and reduced to fit a bound, the
/// main thread only showing them. One frame is decoded ahead of the one on screen, the next
/// as soon as that one shows. Frames of the first pass are kept while they fit
/// cacheByteLimit (or the limit given); when all of them do, later passes play from memory and read
/// nothing more. Loops as QMovie does: after the first pass, loopCount() more times, or for ever
/// when that is -1; at the end the last frame stays. A frame decoded after the player is gone is
/// dropped, and no decode follows it.
class AnimationPlayer : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 cacheByteLimit = 64 * 1024 * 1024;
    /// A frame asking for this or less is shown for shortDelayShown, as browsers do.
    static constexpr int shortDelayFloor = 10;
    static constexpr int shortDelayShown = 100;

    AnimationPlayer(const QString& path, QSize bound, QObject* parent = nullptr,
                    qint64 cacheLimit = cacheByteLimit);
    ~AnimationPlayer() override;

    /// Starts decoding; frameChanged() tells of every frame shown.
    void start();
    bool isRunning() const { return running_; }
    /// The frame on screen: numbered from 0 in each pass, -1 before the first.
    int currentFrameNumber() const { return frameNumber_; }
    QImage currentImage() const { return current_; }
    /// The passes played through to their end so far.
    int completedPasses() const { return passes_; }
    /// True once every frame is held and the passes play from memory.
    bool playsFromMemory() const { return cacheComplete_; }

Q_SIGNALS:
    void frameChanged(int frameNumber);
    /// The last pass ended (or the file could not be read on); the last frame stays.
    void finished();

private:
    void requestNext();
    void take(AnimationFrame frame);
    void endPass(int loopCount);
    void showPending();
    void finish();

    std::shared_ptr<FrameReader> reader_;
    TaskHandle decode_;
    QTimer* timer_;
    QImage current_;
    std::optional<AnimationFrame> pending_;
    QList<AnimationFrame> cache_;
    qint64 cacheLimit_;
    qint64 cacheBytes_ = 0;
    qsizetype cacheIndex_ = 0;
    /// Repeats still to play after this pass; known once the first pass ends.
    std::optional<int> repeatsLeft_;
    int frameNumber_ = -1;
    int nextNumber_ = 0;
    int passes_ = 0;
    bool running_ = false;
    bool caching_ = true;
    bool cacheComplete_ = false;
    /// The frame on screen has shown its time: the next one shows as soon as it is there.
    bool due_ = true;
};

} // namespace tw
