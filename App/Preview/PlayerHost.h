#pragma once

#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Preview/PreviewLoader.h"

#include <QPointer>
#include <QWidget>

class QAudioOutput;
class QMediaPlayer;

namespace tw {

class AppModel;
class MediaViewer;
class ContentUnavailableView;

/// Owns the player of one audio or video preview: starts it when first shown (playing at
/// once in a window, waiting for the user in the quick-look panel), resumes at the position
/// remembered for the file, and on stop remembers where playback stopped and ends the
/// stream's running reads. A file played to its end starts from the beginning next time.
///
/// The player is made only once the media back end is prepared (MediaBackEnd) and, for a
/// file in cloud storage, once the head of the file is held by its media source, so that
/// neither making the player nor setting its source waits on the GUI thread. Until then the
/// transport bar shows without a player; stopping (closing the preview) cancels the head's
/// read. A file the player cannot play (it reports an error or invalid media) shows the
/// failure in place of the picture and the transport bar: there is nothing left to play.
class PlayerHost : public QWidget {
    Q_OBJECT
public:
    PlayerHost(AppModel& model, const FileItem& item, const PreviewContent& content, bool isAudio,
               bool compact, QWidget* parent = nullptr);
    ~PlayerHost() override;

    void start();
    void stop();

    /// The player, once made (none while the back end or the head is awaited).
    QMediaPlayer* player() const { return player_; }
    MediaViewer* mediaViewer() const { return viewer_; }
    /// The failure shown once the player gave up on the file; null until then.
    ContentUnavailableView* failureView() const { return failure_; }
    bool isAudio() const { return isAudio_; }

protected:
    void showEvent(QShowEvent* event) override;

Q_SIGNALS:
    /// The player was made and given its source.
    void playerReady();

private:
    void applyPendingSeek();
    /// Makes the player once everything it needs is there.
    void openWhenReady();
    /// Ends playback and shows that the file cannot be played.
    void showFailure();

    QPointer<AppModel> model_;
    FileItem item_;
    PreviewContent content_;
    bool isAudio_;
    bool compact_;
    bool started_ = false;
    QMediaPlayer* player_ = nullptr;
    QAudioOutput* output_ = nullptr;
    MediaViewer* viewer_ = nullptr;
    ContentUnavailableView* failure_ = nullptr;
    std::optional<qint64> pendingSeek_;
    QUrl source_;
    bool backEndReady_ = false;
    bool headReady_ = false;
    bool stopped_ = false;
    TaskHandle headFetch_;
};

} // namespace tw
