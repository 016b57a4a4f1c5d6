#include "App/Preview/ImageViewer.h"

#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/Preview/AnimationPlayer.h"
#include "App/Preview/ImageController.h"
#include "App/Preview/ImageDecoder.h"
#include "StorageCore/Domain/StorageError.h"

#include <QGraphicsItem>
#include <QGridLayout>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace tw {

/// Draws the picture held (reduced or whole) over the image's own size, and the detail, when
/// there is one, over its part.
class MagnifyingImageView::PictureItem : public QGraphicsItem {
public:
    void setPicture(const QImage& picture, QSize size) {
        if (QSizeF(size) != size_)
            prepareGeometryChange();
        picture_ = picture;
        size_ = QSizeF(size);
        update();
    }
    void setDetail(const QImage& detail, const QRect& rect) {
        detail_ = detail;
        detailRect_ = QRectF(rect);
        update();
    }
    void setSmooth(bool smooth) {
        if (smooth == smooth_)
            return;
        smooth_ = smooth;
        update();
    }
    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        if (picture_.isNull())
            return;
        painter->setRenderHint(QPainter::SmoothPixmapTransform, smooth_);
        painter->drawImage(boundingRect(), picture_);
        if (!detail_.isNull())
            painter->drawImage(detailRect_, detail_);
    }

private:
    QImage picture_;
    QImage detail_;
    QRectF detailRect_;
    QSizeF size_;
    bool smooth_ = true;
};

MagnifyingImageView::MagnifyingImageView(QWidget* parent)
    : QGraphicsView(parent), item_(new PictureItem), detailTimer_(new QTimer(this)) {
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
    // A detail is decoded once zooming or panning rests for a moment.
    detailTimer_->setSingleShot(true);
    detailTimer_->setInterval(40);
    connect(detailTimer_, &QTimer::timeout, this, &MagnifyingImageView::decodeDetail);
    for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()})
        connect(bar, &QScrollBar::valueChanged, this, [this] { updateResolution(); });
}

MagnifyingImageView::~MagnifyingImageView() {
    // A decode still to start is skipped; one under way ends unheard.
    decode_.cancel();
    detailDecode_.cancel();
}

QSize MagnifyingImageView::fittedBound() const {
    const QScreen* shownOn = screen();
    if (!shownOn)
        return {};
    return (QSizeF(shownOn->availableSize()) * shownOn->devicePixelRatio()).toSize();
}

void MagnifyingImageView::open(const QString& path) {
    path_ = path;
    loading_ = true;
    ImageDecoder::allowLargeImages();
    const QSize bound = fittedBound();
    decode_ = runTask(
        this, [path, bound] { return ImageDecoder::decode(path, bound); },
        [this, bound](TaskResult<DecodedImage> result) {
            loading_ = false;
            if (!result.ok() || result.value().image.isNull() ||
                result.value().fullSize.isEmpty()) {
                Q_EMIT loaded(false);
                return;
            }
            showFirst(std::move(result.value()), bound);
            Q_EMIT loaded(true);
        });
}

void MagnifyingImageView::showFirst(DecodedImage decoded, QSize bound) {
    imageSize_ = decoded.fullSize;
    reduced_ = std::move(decoded.image);
    setPicture(reduced_);
    if (decoded.animated)
        startAnimation(bound);
    item_->setTransformOriginPoint(QRectF(QPointF(0, 0), imageSize_).center());
    item_->setRotation(rotation_);
    updateSceneRect();
    if (fitting_)
        zoomToFit();
}

void MagnifyingImageView::startAnimation(QSize bound) {
    // Frames at the reduced picture's size; it is on screen until the first one comes.
    player_ = new AnimationPlayer(path_, bound, this);
    connect(player_, &AnimationPlayer::frameChanged, this,
            [this] { setPicture(player_->currentImage()); });
    player_->start();
}

void MagnifyingImageView::setPicture(const QImage& picture) {
    picture_ = picture;
    item_->setPicture(picture_, imageSize_);
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
    if (!hasImage())
        return;
    fitting_ = false;
    magnification = std::clamp(magnification, minimumMagnification, maximumMagnification);
    setTransform(QTransform::fromScale(magnification, magnification));
    updateSmoothing();
    updateResolution();
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

bool MagnifyingImageView::showsFullResolution() const {
    return hasImage() &&
           (picture_.size() == imageSize_ ||
            (detailRect() == QRect(QPoint(0, 0), imageSize_) && detail_.size() == imageSize_));
}

qreal MagnifyingImageView::reducedDensity() const {
    return magnification() * devicePixelRatioF() * imageSize_.width() / qreal(reduced_.width());
}

QRect MagnifyingImageView::visibleRect() const {
    const QPolygonF inScene = mapToScene(viewport()->rect());
    return item_->mapFromScene(inScene)
        .boundingRect()
        .toAlignedRect()
        .intersected(QRect(QPoint(0, 0), imageSize_));
}

MagnifyingImageView::Detail MagnifyingImageView::wantedDetail() const {
    const QRect whole(QPoint(0, 0), imageSize_);
    if (qint64(imageSize_.width()) * imageSize_.height() * 4 <= detailByteLimit)
        return {whole, 1.0}; // held whole: panning needs nothing more
    qreal scale = std::min<qreal>(1.0, magnification() * devicePixelRatioF());
    const QRect visible = visibleRect();
    if (visible.isEmpty())
        return {};
    // Half a view's margin on every side, so that panning a little needs no new decode.
    QRect rect = visible.adjusted(-visible.width() / 2, -visible.height() / 2,
                                  visible.width() / 2, visible.height() / 2);
    const auto bytes = [&scale](QSizeF size) {
        return size.width() * scale * size.height() * scale * 4;
    };
    if (bytes(QSizeF(visible.size())) > qreal(detailByteLimit)) {
        // A view larger than the bound even without a margin: a coarser detail.
        scale *= std::sqrt(qreal(detailByteLimit) / bytes(QSizeF(visible.size())));
        rect = visible;
    } else if (bytes(QSizeF(rect.size())) > qreal(detailByteLimit)) {
        const qreal shrink = std::sqrt(qreal(detailByteLimit) / bytes(QSizeF(rect.size())));
        const QSize size = (QSizeF(rect.size()) * shrink).toSize().expandedTo(visible.size());
        rect = QRect(QPoint(0, 0), size);
        rect.moveCenter(visible.center());
    }
    return {rect.intersected(whole), scale};
}

bool MagnifyingImageView::detailCovers(const Detail& wanted) const {
    if (detail_.isNull() || wanted.rect.isEmpty())
        return false;
    return detailRect_.contains(neededRect(wanted)) && detailScale_ >= wanted.scale * 0.999;
}

QRect MagnifyingImageView::neededRect(const Detail& wanted) const {
    return wanted.rect == QRect(QPoint(0, 0), imageSize_) ? wanted.rect : visibleRect();
}

bool MagnifyingImageView::isSharp() const {
    if (!hasImage() || reduced_.size() == imageSize_ || reducedDensity() <= 1.01)
        return hasImage();
    // Animations play at the reduced size only.
    return !player_ && detailCovers(wantedDetail());
}

void MagnifyingImageView::updateResolution() {
    if (player_ || reduced_.isNull() || reduced_.size() == imageSize_)
        return;
    if (reducedDensity() <= 1.01) {
        // The reduced picture suffices: the detail goes, and any on its way.
        detailTimer_->stop();
        detailDecode_.cancel();
        detailPending_.reset();
        ++detailSerial_;
        setDetail({}, {});
        return;
    }
    const Detail wanted = wantedDetail();
    if (detailCovers(wanted)) {
        detailTimer_->stop();
        return;
    }
    if (detailPending_ && detailPending_->rect.contains(neededRect(wanted)) &&
        detailPending_->scale >= wanted.scale * 0.999)
        return; // on its way
    detailTimer_->start();
}

void MagnifyingImageView::decodeDetail() {
    if (reduced_.isNull() || reducedDensity() <= 1.01)
        return;
    const Detail wanted = wantedDetail();
    if (wanted.rect.isEmpty() || detailCovers(wanted))
        return;
    detailDecode_.cancel();
    detailPending_ = wanted;
    const quint64 serial = ++detailSerial_;
    const QString path = path_;
    detailDecode_ = runTask(
        this,
        [path, wanted] { return ImageDecoder::decodeRegion(path, wanted.rect, wanted.scale); },
        [this, serial, wanted](TaskResult<QImage> result) {
            if (serial != detailSerial_)
                return; // the view moved on
            detailPending_.reset();
            if (!result.ok() || result.value().isNull())
                return; // the reduced picture stays
            detailScale_ = wanted.scale;
            setDetail(result.value(), wanted.rect);
            updateResolution(); // panned on meanwhile
        });
}

void MagnifyingImageView::setDetail(const QImage& detail, const QRect& rect) {
    detail_ = detail;
    detailRect_ = rect;
    if (detail.isNull())
        detailScale_ = 0;
    item_->setDetail(detail_, detailRect_);
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
    item_->setSmooth(magnification() <= 2.0);
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
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (!url.isLocalFile()) {
        controller_->setView(nullptr);
        showUnavailable();
        return;
    }
    view_ = new MagnifyingImageView(this);
    view_->setAccessibleName(url.fileName());
    layout->addWidget(view_, 0, 0);
    auto* busy = new QProgressBar(this);
    busy->setObjectName(QStringLiteral("imageLoading"));
    busy->setAccessibleName(QStringLiteral("Loading"));
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedWidth(160);
    layout->addWidget(busy, 0, 0, Qt::AlignCenter);
    busy_ = busy;
    // The new image starts unturned; the controls wait for its pixels.
    controller_->setView(view_);
    connect(view_, &MagnifyingImageView::loaded, this, [this](bool ok) {
        delete busy_;
        busy_ = nullptr;
        if (!ok) {
            showUnavailable();
            return;
        }
        // A turn asked for while the file was read.
        if (controller_ && controller_->view() == view_ && controller_->rotation() != 0) {
            controller_->apply();
            view_->zoomToFit();
        }
    });
    view_->open(url.toLocalFile());
}

void ImageViewer::showUnavailable() {
    if (view_) {
        if (controller_ && controller_->view() == view_)
            controller_->setView(nullptr);
        view_->hide();
        view_->deleteLater(); // it may be the one telling
        view_ = nullptr;
    }
    const ErrorPresentation shown =
        StorageError(StorageError::Code::previewUnavailable).presentation();
    unavailable_ = new ContentUnavailableView(QStringLiteral("exclamationmark.triangle"),
                                              shown.title, shown.message, this);
    static_cast<QGridLayout*>(layout())->addWidget(unavailable_, 0, 0);
}

} // namespace tw
