#pragma once

#include <QGraphicsView>
#include <QPointer>
#include <QUrl>
#include <QWidget>

class QGraphicsPixmapItem;
class QMovie;

namespace tw {

class ImageController;
class UnavailableView;

/// A magnifying view of one image: magnification 1.0 shows the image at its own size, limits
/// 0.05 and 16; an image smaller than the view stays centred; the image can be shown turned
/// by quarter turns. Animated images play.
class MagnifyingImageView : public QGraphicsView {
    Q_OBJECT
public:
    static constexpr qreal minimumMagnification = 0.05;
    static constexpr qreal maximumMagnification = 16.0;
    static constexpr qreal zoomStep = 1.25;

    explicit MagnifyingImageView(QWidget* parent = nullptr);

    /// Reads the file (EXIF orientation applied); false when it is not a readable image.
    bool load(const QString& path);
    bool hasImage() const;
    /// The image as read, unturned.
    QSize imageSize() const { return imageSize_; }
    /// The size of the image as shown (turned), in image pixels.
    QSize shownSize() const;
    bool isAnimated() const { return movie_ != nullptr; }
    QMovie* movie() const { return movie_; }

    qreal magnification() const;
    /// Kept within the limits; the point at the middle of the view stays there.
    void setMagnification(qreal magnification);
    /// The largest magnification at which the whole (turned) image fits the view, within the
    /// limits; nothing without an image.
    void zoomToFit();
    int imageRotation() const { return rotation_; }
    void setImageRotation(int degrees);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void updateSceneRect();
    void updateSmoothing();

    QGraphicsPixmapItem* item_;
    QMovie* movie_ = nullptr;
    QSize imageSize_;
    int rotation_ = 0;
    /// Fit again on resizes until the user picks a magnification.
    bool fitting_ = true;
};

/// Shows a local image file fitted to the pane, linked to the window's controller (or one of
/// its own in the quick-look panel). A file that is not a readable image shows the "couldn't
/// be displayed" texts.
class ImageViewer : public QWidget {
    Q_OBJECT
public:
    ImageViewer(const QUrl& url, ImageController* controller, QWidget* parent = nullptr);

    MagnifyingImageView* imageView() const { return view_; }
    UnavailableView* unavailableView() const { return unavailable_; }
    ImageController* controller() const { return controller_; }

private:
    MagnifyingImageView* view_ = nullptr;
    UnavailableView* unavailable_ = nullptr;
    QPointer<ImageController> controller_;
};

} // namespace tw
