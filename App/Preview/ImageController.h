#pragma once

#include <QObject>
#include <QPointer>

namespace tw {

class MagnifyingImageView;

/// The image state a preview window keeps while the user steps from file to file: the turn of
/// the image on screen, and the zoom, fit and rotate operations of the toolbar. It reaches the
/// image view on screen through a weak reference that the viewer sets; the zoom operations do
/// nothing while there is none.
class ImageController : public QObject {
    Q_OBJECT
public:
    explicit ImageController(QObject* parent = nullptr);

    MagnifyingImageView* view() const;
    /// Clockwise turn of the image on screen: 0, 90, 180 or 270.
    int rotation() const { return rotation_; }

    /// Links the view of a newly shown image; the new image starts unturned.
    void setView(MagnifyingImageView* view);

    /// A quarter turn clockwise, then fit. Advances the turn even without a view.
    void rotate();
    /// Shows the image turned by rotation().
    void apply();
    void zoomIn();
    void zoomOut();
    void zoomToFit();
    void actualSize();

Q_SIGNALS:
    void rotationChanged();
    /// An image view was linked or let go (none: the image could not be shown).
    void viewChanged();

private:
    QPointer<MagnifyingImageView> view_;
    int rotation_ = 0;
};

} // namespace tw
