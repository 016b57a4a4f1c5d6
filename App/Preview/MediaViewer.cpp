#include "App/Preview/MediaViewer.h"

#include "App/DesignSystem/SymbolIcons.h"
#include "App/Preview/PreviewSupport.h"

#include <QAudioOutput>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMediaPlayer>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVideoWidget>

namespace tw {

namespace {

QToolButton* transportButton(const QString& symbol, const QString& name, const QString& label,
                             QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setIcon(SymbolIcons::icon(symbol));
    button->setToolTip(label);
    button->setAccessibleName(label);
    button->setAutoRaise(true);
    button->setIconSize(QSize(18, 18));
    return button;
}

} // namespace

QString MediaViewer::timeText(qint64 milliseconds) {
    const qint64 seconds = std::max<qint64>(0, milliseconds / 1000);
    const qint64 h = seconds / 3600, m = (seconds / 60) % 60, s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

MediaViewer::MediaViewer(QMediaPlayer* player, bool isAudio, bool compact, QWidget* parent)
    : QWidget(parent), isAudio_(isAudio) {
    setObjectName(QStringLiteral("mediaViewer"));
    setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (!isAudio) {
        video_ = new QVideoWidget(this);
        video_->setObjectName(QStringLiteral("mediaVideo"));
        video_->setAspectRatioMode(Qt::KeepAspectRatio);
        video_->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(video_, 1);
    }
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("mediaTransport"));
    bar->setAutoFillBackground(true);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(8, 4, 8, 4);
    row->setSpacing(6);
    play_ = transportButton(QStringLiteral("play.fill"), QStringLiteral("mediaPlayPause"),
                            QStringLiteral("Play"), bar);
    connect(play_, &QToolButton::clicked, this, &MediaViewer::togglePlayback);
    row->addWidget(play_);
    position_ = new QSlider(Qt::Horizontal, bar);
    position_->setObjectName(QStringLiteral("mediaPosition"));
    position_->setAccessibleName(QStringLiteral("Position"));
    position_->setFocusPolicy(Qt::NoFocus);
    connect(position_, &QSlider::sliderMoved, this, [this](int value) {
        if (player_)
            player_->setPosition(value);
    });
    row->addWidget(position_, 1);
    time_ = new QLabel(timeText(0) + QStringLiteral(" / ") + timeText(0), bar);
    time_->setObjectName(QStringLiteral("mediaTime"));
    time_->setTextFormat(Qt::PlainText);
    time_->setForegroundRole(QPalette::PlaceholderText);
    row->addWidget(time_);
    mute_ = transportButton(QStringLiteral("speaker.wave.2"), QStringLiteral("mediaMute"),
                            QStringLiteral("Mute"), bar);
    connect(mute_, &QToolButton::clicked, this, [this] {
        if (player_ && player_->audioOutput())
            player_->audioOutput()->setMuted(!player_->audioOutput()->isMuted());
    });
    row->addWidget(mute_);
    volume_ = new QSlider(Qt::Horizontal, bar);
    volume_->setObjectName(QStringLiteral("mediaVolume"));
    volume_->setAccessibleName(QStringLiteral("Volume"));
    volume_->setFocusPolicy(Qt::NoFocus);
    volume_->setRange(0, 100);
    volume_->setFixedWidth(compact ? 60 : 90);
    connect(volume_, &QSlider::valueChanged, this, [this](int value) {
        if (player_ && player_->audioOutput())
            player_->audioOutput()->setVolume(value / 100.0f);
    });
    row->addWidget(volume_);
    if (!compact) {
        fullScreen_ =
            transportButton(QStringLiteral("arrow.up.left.and.arrow.down.right"),
                            QStringLiteral("mediaFullScreen"), QStringLiteral("Full Screen"), bar);
        connect(fullScreen_, &QToolButton::clicked, this, &MediaViewer::toggleFullScreen);
        row->addWidget(fullScreen_);
    }
    layout->addWidget(bar);
    setPlayer(player);
}

QMediaPlayer* MediaViewer::player() const {
    return player_;
}

void MediaViewer::setPlayer(QMediaPlayer* player) {
    if (player_ == player)
        return;
    if (player_)
        player_->disconnect(this);
    player_ = player;
    if (!player_)
        return;
    if (video_)
        player_->setVideoOutput(video_);
    connect(player_, &QMediaPlayer::playbackStateChanged, this, &MediaViewer::updatePlayState);
    connect(player_, &QMediaPlayer::positionChanged, this, &MediaViewer::updatePosition);
    connect(player_, &QMediaPlayer::durationChanged, this, &MediaViewer::updatePosition);
    if (QAudioOutput* output = player_->audioOutput()) {
        volume_->setValue(qRound(output->volume() * 100));
        connect(output, &QAudioOutput::mutedChanged, this, [this](bool muted) {
            mute_->setIcon(SymbolIcons::icon(muted ? QStringLiteral("speaker.slash")
                                                    : QStringLiteral("speaker.wave.2")));
            mute_->setToolTip(muted ? QStringLiteral("Unmute") : QStringLiteral("Mute"));
            mute_->setAccessibleName(mute_->toolTip());
        });
    }
    updatePlayState();
    updatePosition();
}

void MediaViewer::togglePlayback() {
    if (!player_)
        return;
    if (player_->playbackState() == QMediaPlayer::PlayingState)
        player_->pause();
    else
        player_->play();
}

void MediaViewer::updatePlayState() {
    const bool playing = player_ && player_->playbackState() == QMediaPlayer::PlayingState;
    play_->setIcon(
        SymbolIcons::icon(playing ? QStringLiteral("pause.fill") : QStringLiteral("play.fill")));
    play_->setToolTip(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
    play_->setAccessibleName(play_->toolTip());
}

void MediaViewer::updatePosition() {
    if (!player_)
        return;
    const qint64 duration = player_->duration();
    const qint64 position = player_->position();
    position_->setRange(0, int(std::min<qint64>(duration, INT_MAX)));
    if (!position_->isSliderDown())
        position_->setValue(int(std::min<qint64>(position, INT_MAX)));
    time_->setText(timeText(position) + QStringLiteral(" / ") + timeText(duration));
}

void MediaViewer::toggleFullScreen() {
    QWidget* top = window();
    if (top->isFullScreen())
        top->showNormal();
    else
        top->showFullScreen();
}

void MediaViewer::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && !(event->modifiers() & ~Qt::KeypadModifier)) {
        if (!event->isAutoRepeat())
            togglePlayback();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace tw
