// The image viewer (fit, zoom limits, actual size, centring, rotation, EXIF orientation,
// animation, unreadable files; decoding by tasks, reduced for the screen and again in full
// when zoomed past it) and the platform preview of other files.
#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/DesignSystem/Format.h"
#include "App/Preview/AnimationPlayer.h"
#include "App/Preview/ImageController.h"
#include "App/Preview/ImageDecoder.h"
#include "App/Preview/ImageViewer.h"
#include "App/Preview/PreviewSupport.h"
#include "App/Preview/QuickLookViewer.h"
#include "StorageCore/Concurrency/TaskRunner.h"
#include "tests/App/Preview/PreviewFixtures.h"

#include <QBuffer>
#include <QImageWriter>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tw;
using namespace tw::test;

namespace {

class ImageViewerTest : public ::testing::Test {
protected:
    QUrl write(const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return QUrl::fromLocalFile(dir.filePath(name));
    }
    /// A viewer whose image area is exactly the size, shown and laid out.
    std::unique_ptr<ImageViewer> shown(const QUrl& url, ImageController* controller,
                                       QSize area = QSize(800, 600)) {
        auto viewer = std::make_unique<ImageViewer>(url, controller);
        viewer->resize(area);
        viewer->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(viewer.get()));
        // Decoded and fitted to the laid-out view.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !viewer->isLoading(); }, 10000));
        return viewer;
    }
    /// A named pipe: a decode reading it waits until the test writes the image.
    QString pipe(const QString& name) {
        const QString path = dir.filePath(name);
        EXPECT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        return path;
    }
    /// The pipe's writing end, once a decode has opened it for reading; -1 if none does.
    static int writerOnceRead(const QString& path) {
        int fd = -1;
        (void)QTest::qWaitFor(
            [&] {
                fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
                return fd >= 0;
            },
            5000);
        if (fd >= 0)
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return fd;
    }
    static void writeAndClose(int fd, const QByteArray& bytes) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n <= 0)
                break;
            done += n;
        }
        ::close(fd);
    }
    QTemporaryDir dir;
};

/// A JPEG whose pixels tell where they are: red grows to the right, green downwards, as
/// stored; shown turned by its EXIF orientation (1 to 8) when it has one.
QByteArray gradientJPEG(QSize size, int exifOrientation = 0) {
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = qRgb(x * 255 / (size.width() - 1), y * 255 / (size.height() - 1), 128);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(95);
    writer.write(image);
    if (exifOrientation > 0) {
        // An APP1 segment right after the start marker: "Exif", a little-endian TIFF header
        // and one directory entry, the orientation (tag 0x0112, one SHORT).
        const char exif[] = {'\xFF', '\xE1', 0, 34, 'E', 'x', 'i', 'f', 0, 0,
                             'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0,
                             0x12, 0x01, 3, 0, 1, 0, 0, 0, char(exifOrientation), 0, 0, 0,
                             0, 0, 0, 0};
        bytes.insert(2, exif, sizeof exif);
    }
    return bytes;
}

TEST_F(ImageViewerTest, OpensFittedAndZoomsWithinItsLimits) {
    ImageController controller;
    auto viewer =
        shown(write(QStringLiteral("big.png"), makeImage(QSize(4000, 3000))), &controller);
    MagnifyingImageView* view = viewer->imageView();
    ASSERT_NE(view, nullptr);
    EXPECT_DOUBLE_EQ(view->magnification(), 0.2);
    for (int i = 0; i < 3; ++i)
        controller.zoomIn();
    EXPECT_DOUBLE_EQ(view->magnification(), 0.390625);
    controller.actualSize();
    EXPECT_DOUBLE_EQ(view->magnification(), 1.0);

    struct Bound {
        qreal from;
        bool in;
        qreal expected;
    };
    for (const Bound& b : {Bound{0.06, false, 0.05}, Bound{14, true, 16}, Bound{16, true, 16},
                           Bound{0.05, false, 0.05}}) {
        view->setMagnification(b.from);
        b.in ? controller.zoomIn() : controller.zoomOut();
        EXPECT_DOUBLE_EQ(view->magnification(), b.expected) << b.from;
    }
    controller.zoomToFit();
    EXPECT_DOUBLE_EQ(view->magnification(), 0.2);
}

TEST_F(ImageViewerTest, ASmallImageIsEnlargedToFitButNeverBeyondTheLimit) {
    ImageController controller;
    auto tiny = shown(write(QStringLiteral("tiny.png"), makeImage(QSize(20, 20))), &controller);
    EXPECT_DOUBLE_EQ(tiny->imageView()->magnification(), 16.0);
    auto small = shown(write(QStringLiteral("small.png"), makeImage(QSize(300, 200))), &controller);
    EXPECT_DOUBLE_EQ(small->imageView()->magnification(), 2.66666666666666667);
}

TEST_F(ImageViewerTest, AtActualSizeASmallImageSitsInTheMiddle) {
    ImageController controller;
    auto viewer =
        shown(write(QStringLiteral("small.png"), makeImage(QSize(300, 200))), &controller);
    controller.actualSize();
    MagnifyingImageView* view = viewer->imageView();
    const QRect onScreen = view->mapFromScene(view->sceneRect()).boundingRect();
    const QRect area = view->viewport()->rect();
    EXPECT_NEAR(onScreen.center().x(), area.center().x(), 1);
    EXPECT_NEAR(onScreen.center().y(), area.center().y(), 1);
    // Overflowing one axis: that axis scrolls, the other stays centred.
    view->setMagnification(2.8);
    QCoreApplication::processEvents();
    const QRect wide = view->mapFromScene(view->sceneRect()).boundingRect();
    EXPECT_GT(view->horizontalScrollBar()->maximum(), 0);
    EXPECT_NEAR(wide.center().y(), view->viewport()->rect().center().y(), 1);
}

TEST_F(ImageViewerTest, RotationTurnsClockwiseRefitsAndStartsAfreshForTheNextImage) {
    ImageController controller;
    auto viewer =
        shown(write(QStringLiteral("photo.png"), makeImage(QSize(300, 200))), &controller);
    MagnifyingImageView* view = viewer->imageView();
    controller.actualSize();
    controller.rotate();
    EXPECT_EQ(controller.rotation(), 90);
    EXPECT_EQ(view->shownSize(), QSize(200, 300));
    EXPECT_DOUBLE_EQ(view->magnification(), 2.0) << "refitted: 600 / 300";
    // Turned clockwise: the red mark of the top-left corner is now top right.
    const QImage shot = view->viewport()->grab().toImage();
    const QRect shownRect = view->mapFromScene(view->sceneRect()).boundingRect();
    const qreal dpr = shot.devicePixelRatio();
    const QColor topRight = shot.pixelColor(
        QPoint(qRound((shownRect.right() - 10) * dpr), qRound((shownRect.top() + 10) * dpr)));
    const QColor topLeft = shot.pixelColor(
        QPoint(qRound((shownRect.left() + 10) * dpr), qRound((shownRect.top() + 10) * dpr)));
    EXPECT_GT(topRight.red(), 200);
    EXPECT_LT(topLeft.red(), 100);
    for (int i = 0; i < 3; ++i)
        controller.rotate();
    EXPECT_EQ(controller.rotation(), 0);
    EXPECT_EQ(view->shownSize(), QSize(300, 200));

    controller.rotate();
    ASSERT_EQ(controller.rotation(), 90);
    auto next = shown(write(QStringLiteral("next.png"), makeImage(QSize(300, 200))), &controller);
    EXPECT_EQ(controller.rotation(), 0);
    EXPECT_EQ(next->imageView()->shownSize(), QSize(300, 200));
}

TEST_F(ImageViewerTest, ExifOrientationIsApplied) {
    ImageController controller;
    // Stored 300 × 200 and tagged "turn a quarter clockwise" (EXIF orientation 6).
    auto viewer = shown(write(QStringLiteral("turned.jpg"), gradientJPEG(QSize(300, 200), 6)),
                        &controller);
    ASSERT_NE(viewer->imageView(), nullptr);
    EXPECT_EQ(viewer->imageView()->imageSize(), QSize(200, 300));
}

/// Counts the frames read by FrameReader and the threads they are read on, while alive; can
/// hold every read until released, and tells which went on cancelled.
class FrameReads {
public:
    FrameReads() {
        FrameReader::setReadObserver([state = state_] {
            std::unique_lock lock(state->mutex);
            ++state->count;
            state->threads.insert(QThread::currentThread());
            state->changed.wait_for(lock, std::chrono::seconds(10), [&] { return !state->held; });
            if (Cancellation::isCancelled())
                ++state->cancelled;
        });
    }
    ~FrameReads() {
        FrameReader::setReadObserver(nullptr);
        release();
    }
    int count() const {
        std::lock_guard lock(state_->mutex);
        return state_->count;
    }
    /// Reads whose task was cancelled by the time they went on.
    int cancelled() const {
        std::lock_guard lock(state_->mutex);
        return state_->cancelled;
    }
    bool anyOnTheMainThread() const {
        std::lock_guard lock(state_->mutex);
        return state_->threads.contains(qApp->thread());
    }
    void hold() {
        std::lock_guard lock(state_->mutex);
        state_->held = true;
    }
    void release() {
        std::lock_guard lock(state_->mutex);
        state_->held = false;
        state_->changed.notify_all();
    }

private:
    struct State {
        mutable std::mutex mutex;
        std::condition_variable changed;
        int count = 0;
        int cancelled = 0;
        QSet<QThread*> threads;
        bool held = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

bool near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) < 8 && std::abs(a.green() - b.green()) < 8 &&
           std::abs(a.blue() - b.blue()) < 8;
}

/// Whether the middle of the view shows each colour, one after the other.
bool showsInTurn(MagnifyingImageView* view, const QList<QColor>& colours) {
    for (const QColor& colour : colours) {
        const bool seen = QTest::qWaitFor(
            [&] {
                const QImage shot = view->viewport()->grab().toImage();
                return near(shot.pixelColor(shot.width() / 2, shot.height() / 2), colour);
            },
            5000);
        if (!seen)
            return false;
    }
    return true;
}

TEST_F(ImageViewerTest, AnimatedImagesPlayWithTheirFramesDecodedOffTheMainThread) {
    struct Case {
        const char* name;
        QByteArray bytes;
        QList<QColor> frames;
    };
    const QList<Case> cases{
        {"blink.gif", animatedGIF(), {Qt::black, Qt::white}},
        // Frames of 2.08 megapixels, larger than the main thread could decode in time.
        {"large.gif", makeGIF(QSize(1600, 1300), {Qt::red, Qt::blue}, 100, 0), {Qt::red, Qt::blue}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameReads reads;
        ImageController controller;
        auto viewer = shown(write(QString::fromLatin1(c.name), c.bytes), &controller);
        MagnifyingImageView* view = viewer->imageView();
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(view->isAnimated());
        ASSERT_NE(view->player(), nullptr);
        EXPECT_TRUE(view->player()->isRunning());
        // The second frame, then the first again: the frames change on screen and loop.
        EXPECT_TRUE(showsInTurn(view, {c.frames[1], c.frames[0], c.frames[1]}));
        EXPECT_EQ(view->player()->currentImage().size(), view->decodedSize())
            << "frames at the reduced picture's size";
        EXPECT_GT(reads.count(), 0);
        EXPECT_FALSE(reads.anyOnTheMainThread());
        viewer.reset();
        threadPool(TaskPool::general)->waitForDone();
    }
}

TEST_F(ImageViewerTest, AnAnimationLoopsAsItsFileSaysFromMemoryOrDecodingAgain) {
    const QList<QColor> colours{Qt::red, Qt::green};
    struct Case {
        std::optional<int> loops; // as written in the file
        qint64 cacheLimit;
        QList<int> shown; // frame numbers, in order, until finished; empty: for ever
    };
    const QList<Case> cases{
        {std::nullopt, AnimationPlayer::cacheByteLimit, {0, 1}},
        {2, AnimationPlayer::cacheByteLimit, {0, 1, 0, 1, 0, 1}},
        {2, 0, {0, 1, 0, 1, 0, 1}},
        {0, AnimationPlayer::cacheByteLimit, {}},
        {0, 0, {}},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("loops %1, cache limit %2")
                         .arg(c.loops ? QString::number(*c.loops) : QStringLiteral("none"))
                         .arg(c.cacheLimit)
                         .toStdString());
        const QString path = write(QStringLiteral("loop%1.gif").arg(index++),
                                   makeGIF(QSize(40, 20), colours, 20, c.loops))
                                 .toLocalFile();
        FrameReads reads;
        AnimationPlayer player(path, QSize(10, 10), nullptr, c.cacheLimit);
        QList<int> shown;
        QObject::connect(&player, &AnimationPlayer::frameChanged, &player, [&](int number) {
            shown.append(number);
            EXPECT_EQ(player.currentImage().size(), QSize(10, 5)) << "reduced to the bound";
            EXPECT_TRUE(near(player.currentImage().pixelColor(5, 2), colours.at(number)));
        });
        QSignalSpy finished(&player, &AnimationPlayer::finished);
        player.start();
        const bool fromMemory = c.cacheLimit > 0;
        // Two frames and the end of them are read in every pass, or in the first only.
        if (c.shown.isEmpty()) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return player.completedPasses() >= 4; }, 5000));
            EXPECT_TRUE(player.isRunning());
            EXPECT_TRUE(finished.isEmpty());
            EXPECT_EQ(shown.mid(0, 8), QList<int>({0, 1, 0, 1, 0, 1, 0, 1}));
            EXPECT_TRUE(fromMemory ? reads.count() == 3 : reads.count() >= 3 * 4)
                << reads.count() << " reads";
        } else {
            ASSERT_TRUE(finished.wait(5000));
            EXPECT_FALSE(player.isRunning());
            EXPECT_EQ(shown, c.shown);
            EXPECT_EQ(player.currentFrameNumber(), 1) << "the last frame stays";
            const int passes = int(c.shown.size()) / 2;
            EXPECT_EQ(player.completedPasses(), passes);
            EXPECT_EQ(reads.count(), fromMemory ? 3 : 3 * passes);
        }
        EXPECT_EQ(player.playsFromMemory(), fromMemory);
        EXPECT_FALSE(reads.anyOnTheMainThread());
    }
    threadPool(TaskPool::general)->waitForDone();
}

TEST_F(ImageViewerTest, AnAnimationWhoseFileGoesBadStopsOnTheFrameShown) {
    const QString path =
        write(QStringLiteral("spoilt.gif"), makeGIF(QSize(4, 4), {Qt::red, Qt::green}, 20, 0))
            .toLocalFile();
    FrameReads reads;
    AnimationPlayer player(path, QSize(), nullptr, 0); // every pass reads the file
    QSignalSpy finished(&player, &AnimationPlayer::finished);
    player.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return player.completedPasses() >= 1; }, 5000));
    write(QStringLiteral("spoilt.gif"), "junk");
    ASSERT_TRUE(finished.wait(5000)) << "no pass of no frames over and over";
    EXPECT_FALSE(player.isRunning());
    EXPECT_FALSE(player.currentImage().isNull());
    threadPool(TaskPool::general)->waitForDone();
    const int count = reads.count();
    QTest::qWait(200);
    EXPECT_EQ(reads.count(), count);
}

TEST_F(ImageViewerTest, AViewGoneWhileAFrameIsDecodedGetsNothingAndLeavesNoTask) {
    FrameReads reads;
    reads.hold();
    ImageController controller;
    auto viewer = shown(write(QStringLiteral("blink.gif"), animatedGIF()), &controller);
    ASSERT_NE(viewer->imageView(), nullptr);
    QPointer<AnimationPlayer> player = viewer->imageView()->player();
    ASSERT_FALSE(player.isNull());
    ASSERT_TRUE(QTest::qWaitFor([&] { return reads.count() == 1; }, 5000))
        << "the first frame's read is under way";
    viewer.reset();
    EXPECT_TRUE(player.isNull()) << "the player goes with its view";
    reads.release();
    // The read ends cancelled; nothing follows it, on a worker or on the main thread.
    EXPECT_TRUE(threadPool(TaskPool::general)->waitForDone(5000));
    QTest::qWait(300);
    EXPECT_EQ(reads.count(), 1);
    EXPECT_EQ(reads.cancelled(), 1) << "the read stopped, not decoded for no one";
    EXPECT_EQ(threadPool(TaskPool::general)->activeThreadCount(), 0);
}

TEST_F(ImageViewerTest, TheBusyIndicatorShowsUntilTheImageIsDecoded) {
    ImageController controller;
    const QString gated = pipe(QStringLiteral("gated.png"));
    ImageViewer viewer(QUrl::fromLocalFile(gated), &controller);
    viewer.resize(800, 600);
    viewer.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&viewer));
    // The window is up and serving events while the decode waits for its bytes.
    EXPECT_TRUE(viewer.isLoading());
    ASSERT_NE(viewer.busyIndicator(), nullptr);
    EXPECT_TRUE(viewer.busyIndicator()->isVisible());
    ASSERT_NE(viewer.imageView(), nullptr);
    EXPECT_FALSE(viewer.imageView()->hasImage());
    controller.zoomIn();
    EXPECT_DOUBLE_EQ(viewer.imageView()->magnification(), 1.0) << "nothing to zoom yet";

    const int fd = writerOnceRead(gated);
    ASSERT_GE(fd, 0);
    writeAndClose(fd, makeImage(QSize(300, 200)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !viewer.isLoading(); }, 10000));
    EXPECT_EQ(viewer.busyIndicator(), nullptr);
    ASSERT_NE(viewer.imageView(), nullptr);
    EXPECT_EQ(viewer.imageView()->imageSize(), QSize(300, 200));
    EXPECT_DOUBLE_EQ(viewer.imageView()->magnification(), 2.66666666666666667) << "fitted";
}

TEST_F(ImageViewerTest, ADecodeThatEndsAfterItsViewerIsGoneIsDropped) {
    ImageController controller;
    const QString gated = pipe(QStringLiteral("late.png"));
    auto viewer = std::make_unique<ImageViewer>(QUrl::fromLocalFile(gated), &controller);
    const int fd = writerOnceRead(gated);
    ASSERT_GE(fd, 0) << "the decode is under way";
    viewer.reset();
    EXPECT_EQ(controller.view(), nullptr);
    writeAndClose(fd, makeImage(QSize(300, 200)));
    // The decode ends and its result reaches the main thread, where no viewer takes it.
    threadPool(TaskPool::general)->waitForDone();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(controller.view(), nullptr);
    EXPECT_EQ(controller.rotation(), 0);
}

TEST_F(ImageViewerTest, ALargeImageIsDecodedForTheScreenAndInFullOnlyWhenZoomedPastThat) {
    ImageController controller;
    auto viewer =
        shown(write(QStringLiteral("large.png"), makeImage(QSize(4000, 3000))), &controller);
    MagnifyingImageView* view = viewer->imageView();
    ASSERT_NE(view, nullptr);
    const QScreen* screen = view->screen();
    const QSize bound = (QSizeF(screen->availableSize()) * screen->devicePixelRatio()).toSize();
    EXPECT_EQ(view->imageSize(), QSize(4000, 3000));
    EXPECT_EQ(view->decodedSize(), ImageDecoder::boundedSize(QSize(4000, 3000), bound));
    ASSERT_LT(view->decodedSize().width(), 4000);
    EXPECT_FALSE(view->showsFullResolution());
    controller.actualSize();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->showsFullResolution(); }, 10000))
        << "decoded again in full";
    // Every pixel is there: the red mark ends exactly at 1000 image pixels.
    view->centerOn(1000, 300);
    const QImage shot = view->viewport()->grab().toImage();
    const QPoint edge = view->mapFromScene(QPointF(1000, 300));
    const qreal dpr = shot.devicePixelRatio();
    EXPECT_GT(shot.pixelColor(QPointF((edge.x() - 1) * dpr, edge.y() * dpr).toPoint()).red(), 200);
    EXPECT_LT(shot.pixelColor(QPointF((edge.x() + 1) * dpr, edge.y() * dpr).toPoint()).red(), 100);
    controller.zoomToFit();
    EXPECT_EQ(view->decodedSize(), ImageDecoder::boundedSize(QSize(4000, 3000), bound));
    EXPECT_FALSE(view->showsFullResolution()) << "fitted again, the full picture is let go";
    EXPECT_TRUE(view->detailSize().isEmpty());
}

TEST_F(ImageViewerTest, TheDecoderReducesToTheBoundKeepingTheTurn) {
    struct Case {
        const char* name;
        QByteArray bytes;
        QSize full;
        QSize decoded;
    };
    const QList<Case> cases{
        {"wide.png", makeImage(QSize(4000, 3000)), QSize(4000, 3000), QSize(800, 600)},
        {"photo.jpg", makeImage(QSize(1600, 1200), "jpeg"), QSize(1600, 1200), QSize(800, 600)},
        {"turned.jpg",
         makeImage(QSize(1600, 1200), "jpeg", QImageIOHandler::TransformationRotate90),
         QSize(1200, 1600), QSize(450, 600)},
        {"small.png", makeImage(QSize(300, 200)), QSize(300, 200), QSize(300, 200)},
    };
    for (const Case& c : cases) {
        const DecodedImage decoded = ImageDecoder::decode(
            write(QString::fromLatin1(c.name), c.bytes).toLocalFile(), QSize(800, 600));
        EXPECT_EQ(decoded.fullSize, c.full) << c.name;
        EXPECT_EQ(decoded.image.size(), c.decoded) << c.name;
        EXPECT_FALSE(decoded.animated) << c.name;
    }
    // The turned photo's mark (top left as stored) is top right as shown.
    const DecodedImage turned =
        ImageDecoder::decode(dir.filePath(QStringLiteral("turned.jpg")), QSize(800, 600));
    EXPECT_GT(turned.image.pixelColor(440, 10).red(), 200);
    EXPECT_LT(turned.image.pixelColor(10, 10).red(), 100);
    const DecodedImage blink =
        ImageDecoder::decode(write(QStringLiteral("blink.gif"), animatedGIF()).toLocalFile());
    EXPECT_TRUE(blink.animated);
    EXPECT_EQ(blink.fullSize, QSize(2, 2));
    EXPECT_TRUE(ImageDecoder::decode(write(QStringLiteral("junk.png"), "junk").toLocalFile())
                    .image.isNull());
}

TEST_F(ImageViewerTest, ARegionIsDecodedAsTheSamePartOfTheWholeImageForEveryTurn) {
    const QRect region(150, 100, 300, 200);
    // Every EXIF orientation (0: none written), each shown differently.
    for (int orientation = 0; orientation <= 8; ++orientation) {
        const QString path = write(QStringLiteral("turn%1.jpg").arg(orientation),
                                   gradientJPEG(QSize(1200, 800), orientation))
                                 .toLocalFile();
        const DecodedImage decoded = ImageDecoder::decode(path);
        const QImage& whole = decoded.image;
        ASSERT_FALSE(whole.isNull()) << orientation;
        EXPECT_EQ(whole.size(), orientation >= 5 ? QSize(800, 1200) : QSize(1200, 800))
            << orientation << ": the orientation is read";
        const int c = orientation;
        for (const qreal scale : {1.0, 0.5}) {
            const QImage part = ImageDecoder::decodeRegion(path, region, scale);
            ASSERT_EQ(part.size(), (QSizeF(region.size()) * scale).toSize())
                << c << " at " << scale;
            // Corners and middle of the part match the same places of the whole image.
            for (const QPoint at : {QPoint(2, 2), QPoint(297, 2), QPoint(2, 197),
                                    QPoint(297, 197), QPoint(150, 100)}) {
                const QColor expected = whole.pixelColor(region.topLeft() + at);
                const QColor got = part.pixelColor((QPointF(at) * scale).toPoint());
                EXPECT_NEAR(got.red(), expected.red(), 8) << c << " " << scale << " " << at.x();
                EXPECT_NEAR(got.green(), expected.green(), 8) << c << " " << scale << " " << at.y();
            }
        }
    }
    const QString plain = dir.filePath(QStringLiteral("turn0.jpg"));
    EXPECT_TRUE(ImageDecoder::decodeRegion(plain, QRect(1300, 0, 50, 50), 1.0).isNull())
        << "outside the picture";
    EXPECT_EQ(ImageDecoder::decodeRegion(plain, QRect(1100, 700, 300, 300), 1.0).size(),
              QSize(100, 100))
        << "kept within the picture";
    EXPECT_TRUE(ImageDecoder::decodeRegion(write(QStringLiteral("junk.jpg"), "junk").toLocalFile(),
                                           region, 1.0)
                    .isNull());
}

TEST_F(ImageViewerTest, ZoomedPastTheScreenAHugeImageHoldsOnlyTheDetailInViewWithinItsBound) {
    // 72 MiB in full: more than the view holds for its detail.
    const QSize size(6000, 3200);
    ASSERT_GT(qint64(size.width()) * size.height() * 4, MagnifyingImageView::detailByteLimit);
    ImageController controller;
    auto viewer = shown(write(QStringLiteral("huge.jpg"), gradientJPEG(size)), &controller);
    MagnifyingImageView* view = viewer->imageView();
    ASSERT_NE(view, nullptr);
    ASSERT_LT(view->decodedSize().width(), size.width());
    EXPECT_TRUE(view->isSharp()) << "fitted, the reduced picture suffices";
    EXPECT_TRUE(view->detailRect().isEmpty());

    const auto checkDetail = [&](const char* where) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return view->isSharp(); }, 10000)) << where;
        const QRect detail = view->detailRect();
        const QRect visible =
            view->mapToScene(view->viewport()->rect()).boundingRect().toAlignedRect();
        EXPECT_TRUE(detail.contains(visible.intersected(QRect(QPoint(0, 0), size)))) << where;
        EXPECT_LT(detail.width(), size.width()) << where << ": a part, not the whole";
        EXPECT_EQ(view->detailSize(), detail.size()) << where << ": at the image's own size";
        EXPECT_LE(qint64(view->detailSize().width()) * view->detailSize().height() * 4,
                  MagnifyingImageView::detailByteLimit)
            << where;
        EXPECT_FALSE(view->showsFullResolution()) << where;
        // The pixel in the middle of the view is the image's own there.
        const QPoint middle = view->viewport()->rect().center();
        const QPointF inImage = view->mapToScene(middle);
        const QImage shot = view->viewport()->grab().toImage();
        const QColor seen =
            shot.pixelColor((QPointF(middle) * shot.devicePixelRatio()).toPoint());
        EXPECT_NEAR(seen.red(), inImage.x() * 255 / (size.width() - 1), 8) << where;
        EXPECT_NEAR(seen.green(), inImage.y() * 255 / (size.height() - 1), 8) << where;
    };
    controller.actualSize();
    checkDetail("actual size");
    const QRect first = view->detailRect();
    view->centerOn(5900, 3100); // far from the first detail
    checkDetail("panned");
    EXPECT_FALSE(view->detailRect().intersects(first));

    controller.zoomToFit();
    EXPECT_TRUE(view->detailRect().isEmpty()) << "fitted again, the detail is let go";
    EXPECT_TRUE(view->isSharp());
}

TEST_F(ImageViewerTest, AnUnreadableImageSaysSoAndTheControlsDoNothing) {
    ImageController controller;
    controller.rotate();
    auto viewer =
        shown(write(QStringLiteral("broken.png"), QByteArray("\x89PNG not really")), &controller);
    EXPECT_EQ(viewer->imageView(), nullptr);
    ASSERT_NE(viewer->unavailableView(), nullptr);
    EXPECT_EQ(viewer->unavailableView()->title(),
              QStringLiteral("This file couldn't be displayed."));
    EXPECT_EQ(controller.rotation(), 0);
    controller.zoomIn();
    controller.zoomToFit();
    controller.actualSize();
    controller.rotate();
    EXPECT_EQ(controller.rotation(), 90) << "rotate() always advances";
}

// ---- platform preview ----------------------------------------------------------------------

class QuickLookViewerTest : public ImageViewerTest {
protected:
    FileItem item(const QString& name, const QString& mime, qint64 size) {
        FileItem i;
        i.ref = FileRef{QUuid::createUuid(), name};
        i.name = name;
        i.mimeType = mime;
        i.sizeBytes = size;
        return i;
    }
};

TEST_F(QuickLookViewerTest, TextFilesShowAsReadOnlyTextWithBadBytesReplaced) {
    const QByteArray text = QByteArray("caf\xc3\xa9 \xff\xfe done\n");
    const QUrl url = write(QStringLiteral("notes.txt"), text);
    QuickLookViewer viewer(
        url, item(QStringLiteral("notes.txt"), QStringLiteral("text/plain"), text.size()), false);
    ASSERT_TRUE(viewer.showsText());
    EXPECT_TRUE(viewer.textView()->isReadOnly());
    const QString shown = viewer.textView()->toPlainText();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("caf\u00e9 ")));
    EXPECT_TRUE(shown.contains(QChar(0xFFFD)));
    EXPECT_TRUE(shown.contains(QStringLiteral("done")));
}

TEST_F(QuickLookViewerTest, OnlyTheFirstMebibyteOfALongTextIsShown) {
    // Multi-byte characters across the cut: none is broken into a replacement character.
    const QByteArray line = QByteArray("\xc3\xa9").repeated(40) + "\n";
    QByteArray big;
    while (big.size() < QuickLookViewer::textLimit + 5000)
        big += line;
    big.prepend("x"); // shifts the two-byte characters so that the cut falls inside one
    const QUrl url = write(QStringLiteral("long.log"), big);
    QuickLookViewer viewer(
        url, item(QStringLiteral("long.log"), QStringLiteral("text/plain"), big.size()), true);
    ASSERT_TRUE(viewer.showsText());
    const QString shown = viewer.textView()->toPlainText();
    EXPECT_LE(shown.toUtf8().size(), QuickLookViewer::textLimit);
    EXPECT_GT(shown.toUtf8().size(), QuickLookViewer::textLimit - 4);
    EXPECT_FALSE(shown.contains(QChar(0xFFFD)));
}

TEST_F(QuickLookViewerTest, OtherFilesShowTheirTileNameKindAndSize) {
    const QByteArray bytes(3000, '\0');
    const FileItem sheet =
        item(QStringLiteral("budget.xlsx"),
             QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"),
             bytes.size());
    QuickLookViewer viewer(write(QStringLiteral("budget.xlsx"), bytes), sheet, false);
    EXPECT_FALSE(viewer.showsText());
    auto* name = viewer.findChild<QLabel*>(QStringLiteral("quickLookName"));
    auto* detail = viewer.findChild<QLabel*>(QStringLiteral("quickLookDetail"));
    ASSERT_TRUE(name && detail);
    EXPECT_EQ(name->text(), QStringLiteral("budget.xlsx"));
    EXPECT_EQ(name->textFormat(), Qt::PlainText);
    EXPECT_EQ(detail->text(),
              Format::kind(sheet) + QStringLiteral(" \u00b7 ") + Format::byteCount(3000));
    auto* tile = viewer.findChild<FileTypeTile*>();
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->kind(), FileKind::spreadsheet);
    EXPECT_EQ(tile->width(), 128);
    QuickLookViewer compact(write(QStringLiteral("budget2.xlsx"), bytes), sheet, true);
    EXPECT_EQ(compact.findChild<FileTypeTile*>()->width(), 64);
}

TEST_F(QuickLookViewerTest, TextIsToldApartByTypeAndContent) {
    struct Case {
        const char* name;
        QByteArray content;
        bool text;
    };
    const QList<Case> cases{{"a.txt", "hello", true},
                            {"data.json", "{\"a\": 1}", true},
                            {"script.sh", "#!/bin/sh\necho hi\n", true},
                            {"README", "Plain words without an extension.\n", true},
                            {"blob", QByteArray("\x00\x01\x02\x03binary", 10), false},
                            {"photo.png", makeImage(QSize(4, 4)), false}};
    for (const Case& c : cases)
        EXPECT_EQ(QuickLookViewer::isTextLike(
                      write(QString::fromLatin1(c.name), c.content).toLocalFile()),
                  c.text)
            << c.name;
}

} // namespace
