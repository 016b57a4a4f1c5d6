#pragma once

#include "StorageCore/Concurrency/TaskRunner.h"

#include <QGraphicsView>
#include <QImage>
#include <QPointer>
#include <QUrl>

#include <optional>
#include <QWidget>

class QProgressBar;
class QTimer;

namespace tw {

class AnimationPlayer;
class ImageController;
class ContentUnavailableView;
struct DecodedImage;

/// A magnifying view of one image: magnification 1.0 shows the image at its own size, limits
/// 0.05 and 16; an image smaller than the view stays centred; the image can be shown turned
/// by quarter turns. Animated images play (AnimationPlayer), their frames at the reduced size.
///
/// The file is decoded by a task, reduced to what the screen can show when fitted. Zooming
/// past that decodes the detail the view needs, at the resolution it is shown at: the whole
/// image when it fits detailByteLimit, otherwise the part in view with a margin around it,
/// decoded again when the user pans or zooms out of it (the reduced picture stands in
/// meanwhile). Zooming back drops the detail. A decode that ends after the view is gone, or
/// after the view moved on, is dropped.
class MagnifyingImageView : public QGraphicsView {
    Q_OBJECT
public:
    static constexpr qreal minimumMagnification = 0.05;
    static constexpr qreal maximumMagnification = 16.0;
    static constexpr qreal zoomStep = 1.25;
    /// The most bytes the detail decoded for a magnified view holds.
    static constexpr qint64 detailByteLimit = 64 * 1024 * 1024;

    explicit MagnifyingImageView(QWidget* parent = nullptr);
    ~MagnifyingImageView() override;

    /// Starts reading the file; loaded() tells how it went.
    void open(const QString& path);
    bool isLoading() const { return loading_; }
    bool hasImage() const;
    /// The image's own size, unturned (EXIF orientation applied).
    QSize imageSize() const { return imageSize_; }
    /// The size of the image as shown (turned), in image pixels.
    QSize shownSize() const;
    /// The pixels held for the image on screen: imageSize() or less.
    QSize decodedSize() const { return picture_.size(); }
    /// True when every pixel of the image is held.
    bool showsFullResolution() const;
    /// The part of the image (unturned) that the detail covers, and the pixels it holds for
    /// it; empty without a detail.
    QRect detailRect() const { return detail_.isNull() ? QRect() : detailRect_; }
    QSize detailSize() const { return detail_.size(); }
    /// True when what is in view is on screen at the resolution it is shown at (the reduced
    /// picture where that suffices, the detail otherwise).
    bool isSharp() const;
    bool isAnimated() const { return player_ != nullptr; }
    /// The animation playing; null for a still image.
    AnimationPlayer* player() const { return player_; }

    qreal magnification() const;
    /// Kept within the limits; the point at the middle of the view stays there. Nothing
    /// without an image.
    void setMagnification(qreal magnification);
    /// The largest magnification at which the whole (turned) image fits the view, within the
    /// limits; nothing without an image.
    void zoomToFit();
    int imageRotation() const { return rotation_; }
    void setImageRotation(int degrees);

Q_SIGNALS:
    /// The first decode ended: true with the image on screen, false when the file is not a
    /// readable image.
    void loaded(bool ok);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    class PictureItem;

    /// The most pixels worth decoding for a fitted view: the screen's.
    QSize fittedBound() const;
    void showFirst(DecodedImage decoded, QSize bound);
    void startAnimation(QSize bound);
    void setPicture(const QImage& picture);
    /// A part of the image at a resolution (a fraction of its own).
    struct Detail {
        QRect rect;
        qreal scale = 0;
    };
    /// Screen pixels per pixel of the reduced picture: above one, it is being enlarged.
    qreal reducedDensity() const;
    /// The part of the image in view (unturned image pixels).
    QRect visibleRect() const;
    /// The detail the view needs now: in view and around it, at the resolution shown, within
    /// detailByteLimit.
    Detail wantedDetail() const;
    /// Whether the detail held shows what is in view at no less than the resolution needed.
    bool detailCovers(const Detail& wanted) const;
    /// What of the wanted detail must be held for the view: the part in view (the whole
    /// image when that is wanted).
    QRect neededRect(const Detail& wanted) const;
    /// Decodes a detail when the magnification enlarges the reduced picture beyond what the
    /// detail held covers (soon, once the zooming or panning rests); drops it when the reduced
    /// one suffices again.
    void updateResolution();
    void decodeDetail();
    void setDetail(const QImage& detail, const QRect& rect);
    void updateSceneRect();
    void updateSmoothing();

    PictureItem* item_;
    QString path_;
    AnimationPlayer* player_ = nullptr;
    QImage reduced_;
    QImage picture_;
    QImage detail_;
    QRect detailRect_;
    qreal detailScale_ = 0;
    QSize imageSize_;
    TaskHandle decode_;
    TaskHandle detailDecode_;
    /// The detail being decoded; its serial drops an answer the view moved on from.
    std::optional<Detail> detailPending_;
    quint64 detailSerial_ = 0;
    QTimer* detailTimer_;
    bool loading_ = false;
    int rotation_ = 0;
    /// Fit again on resizes until the user picks a magnification.
    bool fitting_ = true;
};

/// Shows a local image file fitted to the pane, linked to the window's controller (or one of
/// its own in the quick-look panel), with a busy indicator while the file is decoded. A file
/// that is not a readable image shows the "couldn't be displayed" texts.
class ImageViewer : public QWidget {
    Q_OBJECT
public:
    ImageViewer(const QUrl& url, ImageController* controller, QWidget* parent = nullptr);

    /// The image view; null once the file turned out not to be a readable image.
    MagnifyingImageView* imageView() const { return view_; }
    ContentUnavailableView* unavailableView() const { return unavailable_; }
    ImageController* controller() const { return controller_; }
    /// True until the file has been decoded (or found unreadable).
    bool isLoading() const { return view_ && view_->isLoading(); }
    /// Shown while the file is decoded; null afterwards.
    QWidget* busyIndicator() const { return busy_; }

private:
    void showUnavailable();

    MagnifyingImageView* view_ = nullptr;
    ContentUnavailableView* unavailable_ = nullptr;
    QWidget* busy_ = nullptr;
    QPointer<ImageController> controller_;
};

} // namespace tw
