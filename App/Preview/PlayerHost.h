#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Preview/PreviewLoader.h"

#include <QPointer>
#include <QWidget>

class QAudioOutput;
class QMediaPlayer;

namespace tw {

class AppModel;
class MediaViewer;

/// Owns the player of one audio or video preview: starts it when first shown (playing at
/// once in a window, waiting for the user in the quick-look panel), resumes at the position
/// remembered for the file, and on stop remembers where playback stopped and ends the
/// stream's running reads. A file played to its end starts from the beginning next time.
class PlayerHost : public QWidget {
    Q_OBJECT
public:
    PlayerHost(AppModel& model, const FileItem& item, const PreviewContent& content, bool isAudio,
               bool compact, QWidget* parent = nullptr);
    ~PlayerHost() override;

    void start();
    void stop();

    QMediaPlayer* player() const { return player_; }
    MediaViewer* mediaViewer() const { return viewer_; }
    bool isAudio() const { return isAudio_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void applyPendingSeek();

    QPointer<AppModel> model_;
    FileItem item_;
    PreviewContent content_;
    bool isAudio_;
    bool compact_;
    bool started_ = false;
    QMediaPlayer* player_ = nullptr;
    QAudioOutput* output_ = nullptr;
    MediaViewer* viewer_ = nullptr;
    std::optional<qint64> pendingSeek_;
};

} // namespace tw
