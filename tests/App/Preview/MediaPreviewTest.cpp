// Media previews through the media source's loopback range server with a slow fake back end:
// playing to the end, resuming at the remembered position, remembering where playback
// stopped, the panel waiting for the user, and the transport bar per place.
#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/Preview/MediaBackEnd.h"
#include "App/Preview/MediaViewer.h"
#include "App/Preview/PlayerHost.h"
#include "App/Preview/PreviewSupport.h"
#include "tests/App/Preview/PreviewFixtures.h"

#include <QMediaPlayer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QToolButton>
#include <QVideoWidget>

using namespace tw;
using namespace tw::test;
using namespace std::chrono_literals;
using Op = FakeStorageProvider::Op;

namespace {

class MediaPreviewTest : public PreviewFixture {
protected:
    void SetUp() override {
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
        GTEST_SKIP() << "real playback is not run under sanitizers";
#endif
        if (QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0")).isEmpty()) {
            if (qEnvironmentVariable("CI") == QStringLiteral("true"))
                FAIL() << "gst-launch-1.0 is needed";
            GTEST_SKIP() << "gst-launch-1.0 is not installed";
        }
        PreviewFixture::SetUp();
        ASSERT_TRUE(media.isValid());
        build();
        // Every ranged read takes a while, as it would from a remote service.
        drive->setDelay(Op::read, 60ms);
    }
    /// A media file made by GStreamer's test sources, added to the back end.
    FileItem makeMedia(const QString& name, const QString& mime, const QStringList& pipeline) {
        const QString path = media.filePath(name);
        QStringList args{QStringLiteral("-q")};
        args += pipeline;
        args +=
            {QStringLiteral("!"), QStringLiteral("filesink"), QStringLiteral("location=") + path};
        EXPECT_EQ(QProcess::execute(QStringLiteral("gst-launch-1.0"), args), 0);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return addFile(name, mime, file.readAll());
    }
    /// About three seconds of tone.
    FileItem wav() {
        return makeMedia(QStringLiteral("tone.wav"), QStringLiteral("audio/wav"),
                         {QStringLiteral("audiotestsrc"), QStringLiteral("num-buffers=130"),
                          QStringLiteral("!"), QStringLiteral("wavenc")});
    }
    std::unique_ptr<PlayerHost> host(const FileItem& item, bool isAudio, bool compact) {
        PreviewLoader* loader = readyLoader(item);
        EXPECT_TRUE(loader->phase().isReady());
        auto h = std::make_unique<PlayerHost>(*model, item, *loader->phase().content(), isAudio,
                                              compact);
        h->resize(640, 400);
        h->show();
        return h;
    }
    /// Waits for the player to reach status; false when it failed. A failed player is taken
    /// down by its host a turn later (the failure shows instead), so its error is kept here.
    bool waitFor(QMediaPlayer* player, QMediaPlayer::MediaStatus status) {
        const QPointer<QMediaPlayer> watched(player);
        const bool reached = QTest::qWaitFor(
            [&] { return !watched || watched->mediaStatus() == status || watched->error(); },
            20000);
        lastError = watched ? watched->errorString() : QStringLiteral("the player failed");
        return reached && watched && !watched->error();
    }
    QTemporaryDir media;
    QString lastError;
};

TEST_F(MediaPreviewTest, AWindowPlaysToTheEndAndForgetsThePosition) {
    const FileItem item = wav();
    model->playbackPositions().insert(item.ref, 2.2);
    auto h = host(item, true, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return h->player() != nullptr; }, 20000));
    QMediaPlayer* player = h->player();
    QList<qint64> positions;
    QObject::connect(player, &QMediaPlayer::positionChanged,
                     [&](qint64 p) { positions.append(p); });
    ASSERT_TRUE(waitFor(player, QMediaPlayer::EndOfMedia)) << lastError.toStdString();
    // It resumed at the remembered place: the reported positions jump there.
    bool jumped = false;
    qint64 last = 0;
    for (qint64 p : positions) {
        if (p >= 2000 && p - last > 900)
            jumped = true;
        last = p;
    }
    EXPECT_TRUE(jumped) << "positions: " << positions.size();
    EXPECT_FALSE(model->playbackPositions().contains(item.ref))
        << "played to the end: next time from the start";
    h.reset();
    EXPECT_FALSE(model->playbackPositions().contains(item.ref));
}

TEST_F(MediaPreviewTest, StoppingRemembersWherePlaybackWasAndEndsTheReads) {
    const FileItem item = wav();
    auto h = host(item, true, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return h->player() != nullptr; }, 20000));
    const QPointer<QMediaPlayer> player = h->player();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !player || player->position() >= 1200 || player->error(); }, 20000));
    ASSERT_TRUE(player && !player->error()) << "the player failed";
    const auto source = model->previewLoader(item)->phase().content()->mediaSource();
    h.reset();
    ASSERT_TRUE(model->playbackPositions().contains(item.ref));
    EXPECT_GT(model->playbackPositions().value(item.ref), 1.0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return source->runningRequests() == 0; }, 3000));
}

TEST_F(MediaPreviewTest, AStopBeforeOneSecondKeepsTheEarlierPosition) {
    const FileItem item = wav();
    model->playbackPositions().insert(item.ref, 42.5);
    auto h = host(item, true, false);
    h.reset();
    EXPECT_EQ(model->playbackPositions().value(item.ref), 42.5);
}

TEST_F(MediaPreviewTest, ThePanelWaitsForTheUser) {
    const FileItem item = wav();
    auto h = host(item, true, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return h->player() != nullptr; }, 20000));
    QMediaPlayer* player = h->player();
    QSignalSpy states(player, &QMediaPlayer::playbackStateChanged);
    // Loaded and ready to play: a player told to play would be playing by now.
    ASSERT_TRUE(waitFor(player, QMediaPlayer::LoadedMedia) ||
                (h->player() && player->mediaStatus() == QMediaPlayer::BufferedMedia));
    EXPECT_EQ(player->playbackState(), QMediaPlayer::StoppedState);
    EXPECT_TRUE(states.isEmpty());
    EXPECT_EQ(h->findChild<FileTypeTile*>()->width(), 64);
    EXPECT_EQ(h->mediaViewer()->fullScreenButton(), nullptr);
    h->mediaViewer()->playButton()->click();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return player->playbackState() == QMediaPlayer::PlayingState; }, 3000));
}

TEST_F(MediaPreviewTest, VideoInAWindowHasAPictureAndFullScreen) {
    const FileItem item = makeMedia(
        QStringLiteral("clip.ogv"), QStringLiteral("video/ogg"),
        {QStringLiteral("videotestsrc"), QStringLiteral("num-buffers=20"), QStringLiteral("!"),
         QStringLiteral("theoraenc"), QStringLiteral("!"), QStringLiteral("oggmux")});
    auto h = host(item, false, false);
    MediaViewer* viewer = h->mediaViewer();
    ASSERT_NE(viewer, nullptr);
    ASSERT_NE(viewer->videoWidget(), nullptr);
    EXPECT_EQ(viewer->videoWidget()->aspectRatioMode(), Qt::KeepAspectRatio);
    ASSERT_NE(viewer->fullScreenButton(), nullptr);
    EXPECT_EQ(h->findChild<FileTypeTile*>(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return h->player() != nullptr; }, 20000));
    ASSERT_TRUE(waitFor(h->player(), QMediaPlayer::EndOfMedia)) << lastError.toStdString();
    // Another player shows in the same view (swapped once playback is over: GStreamer may fail
    // a pipeline whose video sink is taken away while it prerolls).
    QMediaPlayer replacement;
    viewer->setPlayer(&replacement);
    EXPECT_EQ(viewer->player(), &replacement);
    EXPECT_EQ(replacement.videoOutput(), viewer->videoWidget());
    viewer->setPlayer(h->player());
    EXPECT_EQ(viewer->player(), h->player());
    EXPECT_EQ(h->player()->videoOutput(), viewer->videoWidget());
}

TEST_F(MediaPreviewTest, ThePlayerGetsItsSourceOnlyOnceTheHeadIsHeld) {
    const FileItem item = wav();
    PreviewLoader* loader = readyLoader(item);
    const auto source = loader->phase().content()->mediaSource();
    ASSERT_TRUE(source);
    auto gate = drive->gateNext(Op::read);
    PlayerHost h(*model, item, *loader->phase().content(), true, false);
    QSignalSpy ready(&h, &PlayerHost::playerReady);
    h.show();
    ASSERT_TRUE(gate->waitEntered());
    EXPECT_TRUE(source->fetchingHead());
    // The back end is prepared meanwhile; the player still waits for the head.
    ASSERT_TRUE(QTest::qWaitFor([] { return MediaBackEnd::isReady(); }, 20000));
    QCoreApplication::processEvents();
    EXPECT_EQ(h.player(), nullptr);
    EXPECT_TRUE(ready.isEmpty());
    gate->release();
    ASSERT_TRUE(ready.wait(20000));
    EXPECT_TRUE(source->hasHead());
    ASSERT_NE(h.player(), nullptr);
    EXPECT_EQ(h.mediaViewer()->player(), h.player());
    EXPECT_FALSE(h.player()->source().isEmpty());
    ASSERT_TRUE(waitFor(h.player(), QMediaPlayer::EndOfMedia)) << lastError.toStdString();
}

TEST_F(MediaPreviewTest, ClosingThePreviewWhileTheHeadIsReadCancelsTheRead) {
    const FileItem item = wav();
    PreviewLoader* loader = readyLoader(item);
    const auto source = loader->phase().content()->mediaSource();
    ASSERT_TRUE(source);
    // The head's read would take far longer than the test waits.
    drive->setDelay(Op::read, 60s);
    auto h = host(item, true, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return source->fetchingHead(); }, 5000));
    h.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !source->fetchingHead(); }, 5000));
    EXPECT_FALSE(source->hasHead());
}

TEST_F(MediaPreviewTest, AFileThePlayerCannotPlayShowsItsFailureInsteadOfTheTransport) {
    struct Case {
        QString name;
        QString mime;
        bool isAudio;
    };
    const Case cases[] = {
        {QStringLiteral("broken.mp4"), QStringLiteral("video/mp4"), false},
        {QStringLiteral("broken.mp3"), QStringLiteral("audio/mpeg"), true},
    };
    for (const Case& c : cases) {
        const FileItem item = addFile(c.name, c.mime, QByteArray("not media, a few bytes"));
        auto h = host(item, c.isAudio, false);
        ASSERT_TRUE(QTest::qWaitFor([&] { return h->failureView() != nullptr; }, 20000))
            << c.name.toStdString();
        EXPECT_EQ(h->failureView()->title(), QStringLiteral("This file couldn't be displayed."));
        EXPECT_TRUE(h->failureView()->isVisible());
        // No black picture, no Play or Pause: nothing is left that could play.
        EXPECT_EQ(h->findChild<MediaViewer*>(), nullptr);
        EXPECT_EQ(h->findChild<QVideoWidget*>(), nullptr);
        EXPECT_EQ(h->mediaViewer(), nullptr);
        EXPECT_EQ(h->player(), nullptr);
        EXPECT_FALSE(h->autoFillBackground());
        EXPECT_FALSE(model->playbackPositions().contains(item.ref));
    }
}

TEST_F(MediaPreviewTest, TimesReadAsMinutesAndSeconds) {
    EXPECT_EQ(MediaViewer::timeText(0), QStringLiteral("0:00"));
    EXPECT_EQ(MediaViewer::timeText(42'500), QStringLiteral("0:42"));
    EXPECT_EQ(MediaViewer::timeText(61'000), QStringLiteral("1:01"));
    EXPECT_EQ(MediaViewer::timeText(3'723'000), QStringLiteral("1:02:03"));
}

} // namespace
