#include "App/Preview/PreviewSupport.h"

#include "App/DesignSystem/FileTypeIcon.h"

#include <QPainter>

namespace tw {

FileTypeTile::FileTypeTile(FileKind kind, const QString& fileExtension, int size, QWidget* parent)
    : QWidget(parent), kind_(kind), extension_(fileExtension), size_(size) {
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QSize FileTypeTile::sizeHint() const {
    return QSize(size_, size_);
}

void FileTypeTile::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    FileTypeIcon::paint(&painter, rect(), kind_, extension_);
}

FileTypeTile* makeTile(const FileItem& item, int size, QWidget* parent) {
    return new FileTypeTile(item.isFolder() ? FileKind::folder : item.kind(),
                            FileKinds::pathExtension(item.name), size, parent);
}

} // namespace tw
