// The image viewer (fit, zoom limits, actual size, centring, rotation, EXIF orientation,
// animation, unreadable files) and the platform preview of other files.
#include "App/DesignSystem/Format.h"
#include "App/Preview/ImageController.h"
#include "App/Preview/ImageViewer.h"
#include "App/Preview/PreviewSupport.h"
#include "App/Preview/QuickLookViewer.h"
#include "tests/App/Preview/PreviewFixtures.h"

#include <QLabel>
#include <QMovie>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

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
        QTest::qWait(10);
        return viewer;
    }
    QTemporaryDir dir;
};

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
    auto viewer =
        shown(write(QStringLiteral("turned.jpg"),
                    makeImage(QSize(300, 200), "jpeg", QImageIOHandler::TransformationRotate90)),
              &controller);
    ASSERT_NE(viewer->imageView(), nullptr);
    EXPECT_EQ(viewer->imageView()->imageSize(), QSize(200, 300));
}

TEST_F(ImageViewerTest, AnimatedImagesPlay) {
    ImageController controller;
    auto viewer = shown(write(QStringLiteral("blink.gif"), animatedGIF()), &controller);
    ASSERT_NE(viewer->imageView(), nullptr);
    ASSERT_TRUE(viewer->imageView()->isAnimated());
    QMovie* movie = viewer->imageView()->movie();
    EXPECT_EQ(movie->state(), QMovie::Running);
    const int first = movie->currentFrameNumber();
    EXPECT_TRUE(QTest::qWaitFor([&] { return movie->currentFrameNumber() != first; }, 3000));
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
