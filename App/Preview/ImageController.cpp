#include "App/Preview/ImageController.h"

#include "App/Preview/ImageViewer.h"

namespace tw {

ImageController::ImageController(QObject* parent) : QObject(parent) {}

MagnifyingImageView* ImageController::view() const {
    return view_;
}

void ImageController::setView(MagnifyingImageView* view) {
    const bool changed = view_ != view;
    view_ = view;
    if (changed)
        Q_EMIT viewChanged();
    // Every image is first shown unturned, so the turn on record is that of the image shown.
    if (rotation_ != 0) {
        rotation_ = 0;
        Q_EMIT rotationChanged();
    }
    apply();
}

void ImageController::rotate() {
    rotation_ = (rotation_ + 90) % 360;
    Q_EMIT rotationChanged();
    apply();
    if (view_ && view_->hasImage())
        view_->zoomToFit();
}

void ImageController::apply() {
    if (view_ && view_->hasImage())
        view_->setImageRotation(rotation_);
}

void ImageController::zoomIn() {
    if (view_)
        view_->setMagnification(view_->magnification() * MagnifyingImageView::zoomStep);
}

void ImageController::zoomOut() {
    if (view_)
        view_->setMagnification(view_->magnification() / MagnifyingImageView::zoomStep);
}

void ImageController::zoomToFit() {
    if (view_ && view_->hasImage())
        view_->zoomToFit();
}

void ImageController::actualSize() {
    if (view_)
        view_->setMagnification(1.0);
}

} // namespace tw
