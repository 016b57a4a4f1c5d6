#include "App/Preview/ImageDecoder.h"

#include "StorageCore/Concurrency/Cancellation.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace tw {

QSize ImageDecoder::boundedSize(QSize fullSize, QSize bound) {
    if (bound.isEmpty() || fullSize.isEmpty() ||
        (fullSize.width() <= bound.width() && fullSize.height() <= bound.height()))
        return fullSize;
    return fullSize.scaled(bound, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

void ImageDecoder::allowLargeImages() {
    // A 1 GiB decode holds a 16000×16000 picture.
    if (QImageReader::allocationLimit() < 1024)
        QImageReader::setAllocationLimit(1024);
}

namespace {

/// The file to read, whole in memory when it cannot seek (a pipe): readers look at its first
/// bytes more than once (format, size, frames).
class ImageSource {
public:
    explicit ImageSource(const QString& path) : file_(path) {
        if (!file_.open(QIODevice::ReadOnly))
            return;
        device_ = &file_;
        if (file_.isSequential()) {
            bytes_ = file_.readAll();
            buffer_.setBuffer(&bytes_);
            buffer_.open(QIODevice::ReadOnly);
            device_ = &buffer_;
        }
    }
    QIODevice* device() const { return device_; }
    bool isSequential() const { return file_.isSequential(); }

private:
    QFile file_;
    QByteArray bytes_;
    QBuffer buffer_;
    QIODevice* device_ = nullptr;
};

/// Maps the stored picture (of size `stored`) onto the picture as shown: the reader mirrors
/// and flips first, then turns a quarter clockwise.
QTransform shownFromStored(QImageIOHandler::Transformations turn, QSize stored) {
    const qreal w = stored.width(), h = stored.height();
    QTransform t;
    if (turn & QImageIOHandler::TransformationMirror)
        t *= QTransform(-1, 0, 0, 1, w, 0);
    if (turn & QImageIOHandler::TransformationFlip)
        t *= QTransform(1, 0, 0, -1, 0, h);
    if (turn & QImageIOHandler::TransformationRotate90)
        t *= QTransform(0, 1, -1, 0, h, 0); // (x, y) -> (h - y, x)
    return t;
}

/// The one format per kind that painting takes without converting on every paint.
void convertForPainting(QImage& image) {
    const QImage::Format painted =
        image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    if (image.format() != painted)
        image.convertTo(painted);
}

/// Sets the reader (turning by the file's orientation) to decode straight to the size that fits
/// `bound`; returns the picture's full size as shown. Where the format cannot decode to a size,
/// QImageReader scales each picture it reads.
QSize fitToBound(QImageReader& reader, QSize bound) {
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    const QSize full = turned ? stored.transposed() : stored;
    const QSize target = ImageDecoder::boundedSize(full, bound);
    if (target.isValid() && target != full)
        reader.setScaledSize(turned ? target.transposed() : target); // before the turn
    return full;
}

} // namespace

QImage ImageDecoder::decodeRegion(const QString& path, const QRect& region, qreal scale) {
    const ImageSource source(path);
    if (!source.device() || !(scale > 0))
        return {};
    Cancellation::checkpoint();
    QImageReader reader(source.device(), QFileInfo(path).suffix().toLatin1());
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return {};
    const QSize stored = reader.size();
    if (stored.isEmpty())
        return {};
    const QImageIOHandler::Transformations turn = reader.transformation();
    const QRect storedRegion = shownFromStored(turn, stored)
                                   .inverted()
                                   .mapRect(QRectF(region))
                                   .toAlignedRect()
                                   .intersected(QRect(QPoint(0, 0), stored));
    if (storedRegion.isEmpty())
        return {};
    scale = std::min(scale, 1.0);
    const QSize target(std::max(1, int(std::lround(storedRegion.width() * scale))),
                       std::max(1, int(std::lround(storedRegion.height() * scale))));
    reader.setClipRect(storedRegion);
    if (target != storedRegion.size())
        reader.setScaledSize(target);
    Cancellation::checkpoint();
    QImage image = reader.read();
    if (!image.isNull())
        convertForPainting(image);
    return image;
}

DecodedImage ImageDecoder::decode(const QString& path, QSize bound) {
    DecodedImage decoded;
    const ImageSource source(path);
    if (!source.device())
        return decoded;
    Cancellation::checkpoint();
    QImageReader reader(source.device(), QFileInfo(path).suffix().toLatin1());
    if (!reader.canRead())
        return decoded;
    decoded.fullSize = fitToBound(reader, bound);
    decoded.animated =
        !source.isSequential() && reader.supportsAnimation() && reader.imageCount() > 1;
    Cancellation::checkpoint();
    decoded.image = reader.read();
    if (decoded.image.isNull())
        return decoded;
    convertForPainting(decoded.image);
    if (!decoded.fullSize.isValid())
        decoded.fullSize = decoded.image.size(); // a reader that cannot tell before reading
    return decoded;
}

namespace {

std::mutex readObserverMutex;
std::function<void()> readObserver;

void observeRead() {
    std::function<void()> observer;
    {
        std::lock_guard lock(readObserverMutex);
        observer = readObserver;
    }
    if (observer)
        observer();
}

} // namespace

void FrameReader::setReadObserver(std::function<void()> observer) {
    std::lock_guard lock(readObserverMutex);
    readObserver = std::move(observer);
}

/// The file open for one pass over its frames.
struct FrameReader::Open {
    explicit Open(const QString& path)
        : source(path), reader(source.device(), QFileInfo(path).suffix().toLatin1()) {}
    ImageSource source;
    QImageReader reader;
    bool ended = false;
};

FrameReader::FrameReader(QString path, QSize bound) : path_(std::move(path)), bound_(bound) {}

FrameReader::~FrameReader() = default;

AnimationFrame FrameReader::read() {
    Cancellation::checkpoint();
    if (!open_ || open_->ended) {
        open_ = std::make_unique<Open>(path_);
        fitToBound(open_->reader, bound_);
    }
    QImageReader& reader = open_->reader;
    AnimationFrame frame;
    observeRead();
    Cancellation::checkpoint();
    if (open_->source.device() && reader.canRead())
        frame.image = reader.read();
    if (frame.image.isNull()) {
        open_->ended = true;
        frame.loopCount = reader.loopCount();
        return frame;
    }
    frame.delay = reader.nextImageDelay();
    convertForPainting(frame.image);
    return frame;
}

} // namespace tw
