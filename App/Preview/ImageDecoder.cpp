#include "App/Preview/ImageDecoder.h"

#include "StorageCore/Concurrency/Cancellation.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

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

DecodedImage ImageDecoder::decode(const QString& path, QSize bound) {
    DecodedImage decoded;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return decoded;
    QByteArray bytes;
    QBuffer buffer;
    QIODevice* device = &file;
    if (file.isSequential()) {
        // Readers look at the first bytes more than once (format, size, frames).
        bytes = file.readAll();
        buffer.setBuffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        device = &buffer;
    }
    Cancellation::checkpoint();
    QImageReader reader(device, QFileInfo(path).suffix().toLatin1());
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return decoded;
    const QSize stored = reader.size();
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    decoded.fullSize = turned ? stored.transposed() : stored;
    decoded.animated = reader.supportsAnimation() && reader.imageCount() > 1;
    const QSize target = boundedSize(decoded.fullSize, bound);
    if (target.isValid() && target != decoded.fullSize)
        reader.setScaledSize(turned ? target.transposed() : target); // before the turn
    Cancellation::checkpoint();
    decoded.image = reader.read();
    if (decoded.image.isNull())
        return decoded;
    // The one format per kind that painting takes without converting on every paint.
    const QImage::Format painted = decoded.image.hasAlphaChannel()
                                       ? QImage::Format_ARGB32_Premultiplied
                                       : QImage::Format_RGB32;
    if (decoded.image.format() != painted)
        decoded.image.convertTo(painted);
    if (!decoded.fullSize.isValid())
        decoded.fullSize = decoded.image.size(); // a reader that cannot tell before reading
    return decoded;
}

} // namespace tw
