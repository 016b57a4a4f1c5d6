#include "App/Preview/PlayerHost.h"

#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/Model/AppModel.h"
#include "App/Preview/MediaBackEnd.h"
#include "App/Preview/MediaViewer.h"
#include "App/Preview/PreviewSupport.h"
#include "StorageCore/Domain/StorageError.h"

#include <QAudioOutput>
#include <QLabel>
#include <QMediaPlayer>
#include <QVBoxLayout>

#include <cmath>

namespace tw {

PlayerHost::PlayerHost(AppModel& model, const FileItem& item, const PreviewContent& content,
                       bool isAudio, bool compact, QWidget* parent)
    : QWidget(parent), model_(&model), item_(item), content_(content), isAudio_(isAudio),
      compact_(compact) {
    setObjectName(QStringLiteral("playerHost"));
    auto* layout = new QVBoxLayout(this);
    if (isAudio) {
        layout->setContentsMargins(12, 12, 12, 12);
        layout->addStretch(1);
        layout->addWidget(makeTile(item, compact ? 64 : 128, this), 0, Qt::AlignHCenter);
        layout->addSpacing(16);
        auto* name = new QLabel(item.name, this);
        name->setObjectName(QStringLiteral("playerTitle"));
        name->setTextFormat(Qt::PlainText);
        name->setAlignment(Qt::AlignCenter);
        name->setWordWrap(true);
        QFont font = name->font();
        font.setBold(true);
        font.setPointSizeF(font.pointSizeF() * (compact ? 1.05 : 1.6));
        name->setFont(font);
        layout->addWidget(name);
        layout->addSpacing(60);
        layout->addStretch(1);
    } else {
        layout->setContentsMargins(0, 0, 0, 0);
        setAutoFillBackground(true);
        QPalette dark = palette();
        dark.setColor(QPalette::Window, Qt::black);
        setPalette(dark);
    }
}

PlayerHost::~PlayerHost() {
    stop();
}

void PlayerHost::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!started_)
        start();
}

void PlayerHost::start() {
    if (started_)
        return;
    if (content_.isLocalFile())
        source_ = content_.localFileURL();
    else if (auto media = content_.mediaSource())
        source_ = media->makeAsset();
    else
        return;
    started_ = true;
    // The transport bar shows at once; the player joins it when made.
    viewer_ = new MediaViewer(nullptr, isAudio_, compact_, this);
    auto* box = static_cast<QVBoxLayout*>(layout());
    if (isAudio_) {
        viewer_->setFixedHeight(std::max(50, viewer_->sizeHint().height()));
        box->addWidget(viewer_);
    } else {
        box->addWidget(viewer_, 1);
    }
    viewer_->setFocus();
    if (auto media = content_.mediaSource()) {
        headFetch_ = media->fetchHead(this, [this](bool) {
            // Without its head (a failed read) the player reads everything itself and
            // reports the failure as it would.
            headReady_ = true;
            openWhenReady();
        });
    } else {
        headReady_ = true;
    }
    MediaBackEnd::whenReady(this, [this] {
        backEndReady_ = true;
        openWhenReady();
    });
}

void PlayerHost::openWhenReady() {
    if (!backEndReady_ || !headReady_ || player_ || stopped_)
        return;
    player_ = new QMediaPlayer(this);
    player_->setObjectName(QStringLiteral("previewPlayer"));
    output_ = new QAudioOutput(this);
    player_->setAudioOutput(output_);
    if (model_) {
        const auto remembered = model_->playbackPositions().constFind(item_.ref);
        if (remembered != model_->playbackPositions().constEnd())
            pendingSeek_ = qint64(std::llround(*remembered * 1000.0));
    }
    connect(player_, &QMediaPlayer::mediaStatusChanged, this,
            [this](QMediaPlayer::MediaStatus status) {
                if (status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia)
                    applyPendingSeek();
                if (status == QMediaPlayer::EndOfMedia && model_)
                    model_->playbackPositions().remove(item_.ref);
            });
    // The player tells from its own thread's answers, inside its signal: the failure is shown
    // a turn later, when taking the player down is safe.
    connect(player_, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error error) {
        if (error != QMediaPlayer::NoError)
            QMetaObject::invokeMethod(this, &PlayerHost::showFailure, Qt::QueuedConnection);
    });
    connect(player_, &QMediaPlayer::mediaStatusChanged, this,
            [this](QMediaPlayer::MediaStatus status) {
                if (status == QMediaPlayer::InvalidMedia)
                    QMetaObject::invokeMethod(this, &PlayerHost::showFailure,
                                              Qt::QueuedConnection);
            });
    connect(player_, &QMediaPlayer::seekableChanged, this, [this](bool seekable) {
        if (seekable)
            applyPendingSeek();
    });
    player_->setSource(source_);
    viewer_->setPlayer(player_);
    if (!compact_)
        player_->play();
    Q_EMIT playerReady();
}

void PlayerHost::applyPendingSeek() {
    if (!pendingSeek_ || !player_ || !player_->isSeekable())
        return;
    player_->setPosition(*pendingSeek_);
    pendingSeek_.reset();
}

void PlayerHost::showFailure() {
    if (failure_)
        return;
    stop();
    // Everything the host showed goes: the picture, the transport bar, an audio file's tile.
    QLayout* box = layout();
    while (QLayoutItem* entry = box->takeAt(0)) {
        delete entry->widget();
        delete entry;
    }
    viewer_ = nullptr;
    // The failure reads in the colours around it, not on the picture's black.
    setAutoFillBackground(false);
    setPalette(QPalette());
    box->setContentsMargins(0, 0, 0, 0);
    const ErrorPresentation shown =
        StorageError(StorageError::Code::previewUnavailable).presentation();
    failure_ = new ContentUnavailableView(QStringLiteral("exclamationmark.triangle"), shown.title,
                                          shown.message, this);
    box->addWidget(failure_);
    failure_->show();
}

void PlayerHost::stop() {
    stopped_ = true;
    headFetch_.cancel();
    if (!player_)
        return;
    const double seconds = player_->position() / 1000.0;
    const bool ended = player_->mediaStatus() == QMediaPlayer::EndOfMedia;
    if (model_ && !ended && std::isfinite(seconds) && seconds > 1.0)
        model_->playbackPositions().insert(item_.ref, seconds);
    player_->pause();
    if (auto media = content_.mediaSource())
        media->cancelAll();
    if (viewer_)
        viewer_->setPlayer(nullptr);
    player_->setSource(QUrl());
    delete player_;
    player_ = nullptr;
    delete output_;
    output_ = nullptr;
}

} // namespace tw
