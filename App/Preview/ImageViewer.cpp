#include "App/Preview/ImageViewer.h"

#include "App/Preview/ImageController.h"
#include "App/Preview/PreviewSupport.h"
#include "StorageCore/Domain/StorageError.h"

#include <QGraphicsPixmapItem>
#include <QImageReader>
#include <QMovie>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace tw {

MagnifyingImageView::MagnifyingImageView(QWidget* parent)
    : QGraphicsView(parent), item_(new QGraphicsPixmapItem) {
    setObjectName(QStringLiteral("imageView"));
    setFrameShape(QFrame::NoFrame);
    setScene(new QGraphicsScene(this));
    scene()->addItem(item_);
    setAlignment(Qt::AlignCenter);
    setTransformationAnchor(QGraphicsView::AnchorViewCenter);
    setResizeAnchor(QGraphicsView::AnchorViewCenter);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setDragMode(QGraphicsView::ScrollHandDrag);
    setBackgroundBrush(Qt::NoBrush);
    setStyleSheet(QStringLiteral("background: transparent"));
    viewport()->setAutoFillBackground(false);
    item_->setTransformationMode(Qt::SmoothTransformation);
}

bool MagnifyingImageView::load(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    // A large photo needs more than the readers' default allocation limit.
    if (QImageReader::allocationLimit() < 1024)
        QImageReader::setAllocationLimit(1024);
    if (reader.supportsAnimation() && reader.imageCount() > 1) {
        movie_ = new QMovie(path, QByteArray(), this);
        if (!movie_->isValid()) {
            delete movie_;
            movie_ = nullptr;
            return false;
        }
        connect(movie_, &QMovie::frameChanged, this,
                [this] { item_->setPixmap(movie_->currentPixmap()); });
        movie_->jumpToFrame(0);
        item_->setPixmap(movie_->currentPixmap());
        imageSize_ = movie_->currentPixmap().size();
        movie_->start();
    } else {
        const QImage image = reader.read();
        if (image.isNull())
            return false;
        imageSize_ = image.size();
        item_->setPixmap(QPixmap::fromImage(image));
    }
    item_->setTransformOriginPoint(QRectF(QPointF(0, 0), imageSize_).center());
    updateSceneRect();
    return !imageSize_.isEmpty();
}

bool MagnifyingImageView::hasImage() const {
    return !imageSize_.isEmpty();
}

QSize MagnifyingImageView::shownSize() const {
    return rotation_ % 180 == 0 ? imageSize_ : imageSize_.transposed();
}

qreal MagnifyingImageView::magnification() const {
    return transform().m11();
}

void MagnifyingImageView::setMagnification(qreal magnification) {
    fitting_ = false;
    magnification = std::clamp(magnification, minimumMagnification, maximumMagnification);
    setTransform(QTransform::fromScale(magnification, magnification));
    updateSmoothing();
}

void MagnifyingImageView::zoomToFit() {
    if (!hasImage())
        return;
    const QSize area = maximumViewportSize();
    const QSize shown = shownSize();
    const qreal fit =
        std::min(qreal(area.width()) / shown.width(), qreal(area.height()) / shown.height());
    setMagnification(fit);
    fitting_ = true;
}

void MagnifyingImageView::setImageRotation(int degrees) {
    rotation_ = ((degrees % 360) + 360) % 360;
    item_->setRotation(rotation_);
    updateSceneRect();
}

void MagnifyingImageView::updateSceneRect() {
    // The turned image is placed at the origin, so the scene is exactly its bounds.
    item_->setPos(0, 0);
    const QRectF bounds = item_->mapRectToScene(item_->boundingRect());
    item_->setPos(-bounds.topLeft());
    setSceneRect(QRectF(QPointF(0, 0), bounds.size()));
}

void MagnifyingImageView::updateSmoothing() {
    // Enlarged pixels stay sharp; reduced images are smoothed.
    item_->setTransformationMode(magnification() > 2.0 ? Qt::FastTransformation
                                                       : Qt::SmoothTransformation);
}

void MagnifyingImageView::resizeEvent(QResizeEvent* event) {
    QGraphicsView::resizeEvent(event);
    if (fitting_)
        zoomToFit();
}

void MagnifyingImageView::showEvent(QShowEvent* event) {
    QGraphicsView::showEvent(event);
    if (fitting_) {
        QPointer<MagnifyingImageView> self(this);
        // After the first layout, when the view has its size.
        QTimer::singleShot(0, this, [self] {
            if (self && self->fitting_)
                self->zoomToFit();
        });
    }
}

ImageViewer::ImageViewer(const QUrl& url, ImageController* controller, QWidget* parent)
    : QWidget(parent), controller_(controller ? controller : new ImageController(this)) {
    setObjectName(QStringLiteral("imageViewer"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new MagnifyingImageView(this);
    if (!url.isLocalFile() || !view->load(url.toLocalFile())) {
        delete view;
        const ErrorPresentation shown =
            StorageError(StorageError::Code::previewUnavailable).presentation();
        unavailable_ = new UnavailableView(QStringLiteral("exclamationmark.triangle"), shown.title,
                                           shown.message, this);
        layout->addWidget(unavailable_);
        controller_->setView(nullptr);
        return;
    }
    view_ = view;
    view_->setAccessibleName(url.fileName());
    layout->addWidget(view_);
    controller_->setView(view_);
}

} // namespace tw
