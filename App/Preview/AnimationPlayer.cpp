#include "App/Preview/AnimationPlayer.h"

#include <QTimer>

namespace tw {

AnimationPlayer::AnimationPlayer(const QString& path, QSize bound, QObject* parent,
                                 qint64 cacheLimit)
    : QObject(parent), reader_(std::make_shared<FrameReader>(path, bound)),
      timer_(new QTimer(this)), cacheLimit_(cacheLimit) {
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, [this] {
        due_ = true;
        if (pending_)
            showPending();
    });
}

AnimationPlayer::~AnimationPlayer() {
    // A decode under way stops at its next checkpoint; its frame reaches no one.
    decode_.cancel();
}

void AnimationPlayer::start() {
    if (running_ || passes_ > 0)
        return;
    running_ = true;
    requestNext();
}

void AnimationPlayer::requestNext() {
    if (cacheComplete_) {
        if (cacheIndex_ < cache_.size())
            take(cache_.at(cacheIndex_++));
        else
            take({});
        return;
    }
    decode_ = runTask(
        this, [reader = reader_] { return reader->read(); },
        [this](TaskResult<AnimationFrame> result) {
            if (result.isCancelled())
                return;
            if (!result.ok()) {
                finish(); // the frame on screen stays
                return;
            }
            take(std::move(result.value()));
        });
}

void AnimationPlayer::take(AnimationFrame frame) {
    if (!running_)
        return;
    if (frame.image.isNull()) {
        endPass(frame.loopCount);
        return;
    }
    if (passes_ == 0 && caching_) {
        cacheBytes_ += frame.image.sizeInBytes();
        if (cacheBytes_ <= cacheLimit_) {
            cache_.append(frame);
        } else {
            caching_ = false; // too large to hold: every pass decodes as it plays
            cache_.clear();
        }
    }
    pending_ = std::move(frame);
    if (due_)
        showPending();
}

void AnimationPlayer::endPass(int loopCount) {
    if (nextNumber_ == 0) {
        finish(); // not a single frame this pass (the file went bad): the last one stays
        return;
    }
    if (passes_ == 0) {
        repeatsLeft_ = loopCount;
        if (caching_) {
            cacheComplete_ = true;
            reader_.reset(); // nothing more to read
        }
    }
    ++passes_;
    if (*repeatsLeft_ == 0) {
        finish();
        return;
    }
    if (*repeatsLeft_ > 0)
        --*repeatsLeft_;
    cacheIndex_ = 0;
    nextNumber_ = 0;
    requestNext();
}

void AnimationPlayer::showPending() {
    current_ = std::move(pending_->image);
    const int delay = pending_->delay <= shortDelayFloor ? shortDelayShown : pending_->delay;
    pending_.reset();
    frameNumber_ = nextNumber_++;
    due_ = false;
    timer_->start(delay);
    Q_EMIT frameChanged(frameNumber_);
    requestNext();
}

void AnimationPlayer::finish() {
    running_ = false;
    timer_->stop();
    pending_.reset();
    Q_EMIT finished();
}

} // namespace tw
