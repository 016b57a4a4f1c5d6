#pragma once

#include "StorageCore/Domain/FileModel.h"

#include <QWidget>

namespace tw {

/// Where a preview is shown: the floating quick-look panel or a full preview window.
enum class PreviewMode { compact, full };

/// A file's type tile (the design system's drawing) at a fixed size.
class FileTypeTile : public QWidget {
    Q_OBJECT
public:
    FileTypeTile(FileKind kind, const QString& fileExtension, int size, QWidget* parent = nullptr);
    FileKind kind() const { return kind_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    FileKind kind_;
    QString extension_;
    int size_;
};

/// The type tile of a listed item: the folder tile for folders.
FileTypeTile* makeTile(const FileItem& item, int size, QWidget* parent = nullptr);

} // namespace tw
