#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QMediaPlayer;
class QSlider;
class QToolButton;
class QVideoWidget;

namespace tw {

/// A player's picture (video only) over its transport bar: play/pause, position, time,
/// volume and, in a preview window, full screen. It only shows the player; the player host
/// owns it and starts and stops it. Space toggles playback while the viewer has the focus.
class MediaViewer : public QWidget {
    Q_OBJECT
public:
    MediaViewer(QMediaPlayer* player, bool isAudio, bool compact, QWidget* parent = nullptr);

    QMediaPlayer* player() const;
    /// Shows another player in the same view.
    void setPlayer(QMediaPlayer* player);

    QVideoWidget* videoWidget() const { return video_; }
    QToolButton* fullScreenButton() const { return fullScreen_; }
    QToolButton* playButton() const { return play_; }
    QSlider* positionSlider() const { return position_; }
    QLabel* timeLabel() const { return time_; }

    /// "m:ss" (or "h:mm:ss") of a time in milliseconds.
    static QString timeText(qint64 milliseconds);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void togglePlayback();
    void updatePlayState();
    void updatePosition();
    void toggleFullScreen();

    QPointer<QMediaPlayer> player_;
    bool isAudio_;
    QVideoWidget* video_ = nullptr;
    QToolButton* play_;
    QSlider* position_;
    QLabel* time_;
    QToolButton* mute_;
    QSlider* volume_;
    QToolButton* fullScreen_ = nullptr;
};

} // namespace tw
