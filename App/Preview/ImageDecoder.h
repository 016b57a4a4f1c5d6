#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>

namespace tw {

/// What reading an image file gave: the picture (EXIF orientation applied), possibly
/// reduced; the picture's own size, turned as shown; whether the file holds an animation
/// (the picture is then its first frame; a file that cannot seek, such as a pipe, is never
/// taken for one: it cannot be read again to play). A null picture means the file is not a
/// readable image.
struct DecodedImage {
    QImage image;
    QSize fullSize;
    bool animated = false;
};

/// Reads image files off the main thread: the work of the image viewer's tasks.
class ImageDecoder {
public:
    /// Decodes the file, reduced to fit `bound` when it is larger (its own size when the bound
    /// is empty). Formats whose reader can decode straight to a smaller size (JPEG) never
    /// hold the whole picture. A file that cannot seek (a pipe) is read whole first. Blocks
    /// for the whole read and decode: for tasks only. Stops with StorageError cancelled at its
    /// checkpoints when the task is cancelled.
    static DecodedImage decode(const QString& path, QSize bound = {});
    /// Decodes the part `region` of the picture (in the picture's coordinates as shown, EXIF
    /// orientation applied) at `scale` of its own size (0 < scale <= 1); the result holds
    /// region.size() * scale pixels, rounded. Readers that can clip (JPEG) never hold more
    /// than the region at the nearest larger scale they decode to; the others read the whole
    /// picture first and keep the part. A null image when the file cannot be read or the
    /// region lies outside the picture. For tasks only, like decode().
    static QImage decodeRegion(const QString& path, const QRect& region, qreal scale);
    /// The size the picture is decoded at for the bound: its own size reduced to fit, keeping
    /// its proportions, never enlarged.
    static QSize boundedSize(QSize fullSize, QSize bound);
    /// Raises Qt's allocation limit for image readers so that large photos can be read (once,
    /// on the main thread, before the first decode task starts).
    static void allowLargeImages();
};

/// One frame of an animation and how long it shows, in milliseconds. A null image marks the
/// end of the frames; it carries the file's loop count (QImageReader::loopCount: the times
/// the animation repeats after its first pass, -1 for ever).
struct AnimationFrame {
    QImage image;
    int delay = 0;
    int loopCount = 0;
};

/// Reads an animation's frames in turn, each reduced to fit `bound` as ImageDecoder::decode
/// reduces the first. Blocks for the read and decode of a frame: for tasks only, one task at a
/// time. Stops with StorageError cancelled at its checkpoints when the task is cancelled.
class FrameReader {
public:
    FrameReader(QString path, QSize bound);
    ~FrameReader();
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    /// The next frame; after the last, the end marker, and then the first frame again.
    AnimationFrame read();
    /// Called on the reading thread before every frame is read (null: nothing is called).
    static void setReadObserver(std::function<void()> observer);

private:
    struct Open;
    QString path_;
    QSize bound_;
    std::unique_ptr<Open> open_;
};

} // namespace tw
